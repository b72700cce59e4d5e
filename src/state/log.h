// The watchdog log: one "[ms] message" line per event, appended to watchdog.log in the
// watchdog folder and echoed to the standard error stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/world.h"

namespace wd {

inline constexpr std::int64_t UNIX_EPOCH_AS_FILETIME = 116'444'736'000'000'000;

// A system time in 100 ns units since 1601 as milliseconds since 1970; 0 before 1970.
std::uint64_t wall_clock_ms_from_filetime(std::int64_t ticks);

// "[" + ms in decimal + "] " + message + line feed.
std::string format_log_line(std::uint64_t wall_ms, std::string_view message);

// Writes one line: echo, create the folder, trim the log when due, append. Never fails
// towards the caller.
void log_line(World& world, std::string_view message);

}  // namespace wd
