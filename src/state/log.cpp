#include "state/log.h"

#include "state/log_trim.h"
#include "state/paths.h"

namespace wd {

std::string format_log_line(std::uint64_t wall_ms, std::string_view message) {
    std::string line;
    line.reserve(message.size() + 24);
    line += '[';
    line += std::to_string(wall_ms);
    line += "] ";
    line += message;
    line.push_back('\n');
    return line;
}

void log_line(World& world, std::string_view message) {
    const std::string line = format_log_line(world.wall_clock_ms(), message);
    world.echo_stderr(line);
    const auto dir = watchdog_dir(world);
    if (!dir) return;
    world.create_dirs(*dir);
    const Path log = join(*dir, LOG_FILE);
    auto before = trim_log(world, log);
    if (!before) before = world.file_size(log);  // cut, or not there yet
    // A write that falls short (a full disk) is taken back, so that the next line that fits
    // starts on a line of its own instead of being glued to a fragment.
    if (world.append(log, line) != 0) world.truncate_file(log, before.value_or(0));
}

}  // namespace wd
