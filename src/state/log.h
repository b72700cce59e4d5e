// The watchdog log: one "[ms] message" line per event, appended to watchdog.log in the
// watchdog folder and echoed to the standard error stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock_units.h"
#include "base/world.h"
#include "state/files.h"

namespace wd {

// "[" + ms in decimal + "] " + message + line feed.
std::string format_log_line(std::uint64_t wall_ms, std::string_view message);

// Writes one line: echo, create the folder, trim the log when due, append. Never fails
// towards the caller.
void log_line(World& world, std::string_view message);

// A second destination for every line logged from now on: called with the line's message
// once it has been written. Set once at start-up; empty (the default) turns it off again.
using LogSink = std::function<void(std::string_view message)>;
void set_log_sink(LogSink sink);

// The last `count` lines of the log at `path`, oldest first, without their line ends. Only
// its end is read, so a log of any size will do; a line cut by that is left out.
FileRead<std::vector<std::string>> read_log_tail(World& world, const std::optional<Path>& path,
                                                 std::size_t count);

}  // namespace wd
