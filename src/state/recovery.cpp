#include "state/recovery.h"

#include <limits>

#include "base/saturating.h"
#include "base/text.h"
#include "state/files.h"
#include "state/paths.h"

namespace wd {

std::string format_last_crash_record(std::string_view what, std::uint64_t at) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out = "{\"what\":\"";
    out.reserve(what.size() + 40);
    for (const char ch : what) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case 0x08:
                out += "\\b";
                break;
            case 0x09:
                out += "\\t";
                break;
            case 0x0A:
                out += "\\n";
                break;
            case 0x0C:
                out += "\\f";
                break;
            case 0x0D:
                out += "\\r";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += HEX[c >> 4];
                    out += HEX[c & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    out += "\",\"at\":";
    out += std::to_string(at);
    out += '}';
    return out;
}

std::optional<std::uint64_t> parse_recovery_count(std::string_view counter_text) {
    return parse_unsigned_decimal(trim_unicode_whitespace(counter_text),
                                  std::numeric_limits<std::uint64_t>::max());
}

std::uint64_t next_recovery_count(const std::optional<std::string>& counter_text) {
    if (!counter_text) return 1;
    return saturating_increment(parse_recovery_count(*counter_text).value_or(0));
}

namespace {

// A counter file that is there but cannot be read just now, typically because another
// program holds it open without sharing. One that is too large to be a count is not.
bool counter_held_by_another(World& world, const Path& counter) {
    if (world.path_kind(counter) != PathKind::File) return false;
    const auto size = world.file_size(counter);
    return !size || *size <= MAX_READ_BYTES;
}

}  // namespace

void record_recovery(World& world, std::string_view what) {
    if (const auto dir = watchdog_dir(world)) {
        const Path counter = join(*dir, RECOVERIES_FILE);
        world.create_dirs(*dir);
        auto text = read_file_bytes(world, counter);
        // Counting from 1 over a counter that only could not be read would lose the count
        // for good once the file is free again: this one recovery goes uncounted instead.
        if (text || !counter_held_by_another(world, counter)) {
            if (text && !is_valid_utf8(*text)) text.reset();
            world.write_atomic(counter, std::to_string(next_recovery_count(text)));
        }
    }
    // A fresh lookup: the counter's failures must not keep the crash record from being written.
    const auto dir = watchdog_dir(world);
    if (!dir) return;
    const std::uint64_t at = world.wall_clock_ms();
    world.write_atomic(join(*dir, LAST_CRASH_FILE), format_last_crash_record(what, at));
}

}  // namespace wd
