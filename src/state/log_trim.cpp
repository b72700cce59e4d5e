#include "state/log_trim.h"

#include <string>

namespace wd {
namespace {

constexpr std::size_t SCAN_CHUNK_BYTES = 1u << 20;

// Index just past the first line feed at or after `from`, or `from` itself when there is none;
// none when the file cannot be read.
std::optional<std::uint64_t> line_start_after(World& world, const Path& log, std::uint64_t from) {
    std::uint64_t offset = from;
    for (;;) {
        const auto chunk = world.read_range(log, offset, SCAN_CHUNK_BYTES);
        if (!chunk) return std::nullopt;
        const auto lf = chunk->find('\n');
        if (lf != std::string::npos) return offset + lf + 1;
        if (chunk->size() < SCAN_CHUNK_BYTES) return from;
        offset += chunk->size();
    }
}

}  // namespace

std::optional<std::uint64_t> trim_log(World& world, const Path& log) {
    const auto size = world.file_size(log);
    if (!size || *size <= LOG_TRIM_THRESHOLD_BYTES) return size;
    const auto cut = line_start_after(world, log, *size / 2);
    if (!cut) return size;
    // Another process (a second watchdog logging its one line) may trim the log between the
    // size query and the copy; the cut is only valid for the file that was measured.
    world.replace_with_tail(log, *cut, *size);
    return std::nullopt;
}

}  // namespace wd
