#include "state/recovery.h"

#include <limits>

#include "base/text.h"
#include "state/files.h"
#include "state/paths.h"
#include "state/records.h"

namespace wd {

std::uint64_t next_recovery_count(const std::optional<std::string>& counter_text) {
    constexpr auto MAX = std::numeric_limits<std::uint64_t>::max();
    if (!counter_text) return 1;
    const auto old =
        parse_unsigned_decimal(trim_unicode_whitespace(*counter_text), MAX).value_or(0);
    return old == MAX ? MAX : old + 1;
}

void record_recovery(World& world, std::string_view what) {
    if (const auto dir = watchdog_dir(world)) {
        const Path counter = join(*dir, RECOVERIES_FILE);
        world.create_dirs(*dir);
        const std::uint64_t count = next_recovery_count(read_text(world, counter));
        world.write_atomic(counter, std::to_string(count));
    }
    // A fresh lookup: the counter's failures must not keep the crash record from being written.
    const auto dir = watchdog_dir(world);
    if (!dir) return;
    const std::uint64_t at = world.wall_clock_ms();
    world.write_atomic(join(*dir, LAST_CRASH_FILE), format_last_crash_record(what, at));
}

}  // namespace wd
