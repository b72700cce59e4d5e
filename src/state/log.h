// The watchdog log: one "[ms] message" line per event, appended to watchdog.log in the
// watchdog folder and echoed to the standard error stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/clock_units.h"
#include "base/world.h"

namespace wd {

// "[" + ms in decimal + "] " + message + line feed.
std::string format_log_line(std::uint64_t wall_ms, std::string_view message);

// Writes one line: echo, create the folder, trim the log when due, append. Never fails
// towards the caller.
void log_line(World& world, std::string_view message);

}  // namespace wd
