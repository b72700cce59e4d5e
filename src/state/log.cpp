#include "state/log.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "base/text.h"
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

namespace {

void append_line(World& world, const std::string& line) {
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

}  // namespace

void write_log_text(World& world, std::string_view text) {
    const std::string line = format_log_line(world.wall_clock_ms(), text);
    world.echo_stderr(line);
    append_line(world, line);
}

void Log::operator()(const Message& message) {
    const std::string text = message_text(message);
    write_log_text(*world_, text);
    if (also_) also_(message, text);
}

FileRead<std::vector<std::string>> read_log_tail(World& world, const std::optional<Path>& path,
                                                 std::size_t count) {
    constexpr std::uint64_t TAIL_BYTES = std::uint64_t{64} * 1024;
    if (!path || world.path_kind(*path) == PathKind::Missing) return {};
    const auto size = world.file_size(*path);
    if (!size) return {FileState::Unreadable, std::nullopt};
    const std::uint64_t from = *size > TAIL_BYTES ? *size - TAIL_BYTES : 0;
    const auto tail = world.read_range(*path, from, static_cast<std::size_t>(*size - from));
    if (!tail) return {FileState::Unreadable, std::nullopt};
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < tail->size()) {
        const std::size_t end = std::min(tail->find('\n', start), tail->size());
        lines.push_back(utf8_lossy(std::string_view(*tail).substr(start, end - start)));
        start = end + 1;
    }
    if (from > 0 && !lines.empty()) lines.erase(lines.begin());  // cut part way
    for (auto& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    if (lines.size() > count) {
        lines.erase(lines.begin(),
                    lines.begin() + static_cast<std::ptrdiff_t>(lines.size() - count));
    }
    return {FileState::Ok, std::move(lines)};
}

}  // namespace wd
