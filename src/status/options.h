// watchdog-status.exe's command line: what it accepts, and what --help prints. Portable.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace wd {

inline constexpr std::size_t DEFAULT_STATUS_LOG_LINES = 10;
inline constexpr std::size_t MAX_STATUS_LOG_LINES = 1000;

struct StatusOptions {
    bool json = false;
    bool help = false;
    std::size_t lines = DEFAULT_STATUS_LOG_LINES;
};

// The command line after the program name: --json, --lines N (0 to 1000), --help. None, with
// a one-line error, for anything else.
std::optional<StatusOptions> parse_status_args(const std::vector<std::string>& args,
                                               std::string& error);

// What --help prints.
std::string status_usage();

}  // namespace wd
