// watchdog-status.exe's command line: what it accepts, and what --help prints. Portable.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/path.h"

namespace wd {

inline constexpr std::size_t DEFAULT_STATUS_LOG_LINES = 10;
inline constexpr std::size_t MAX_STATUS_LOG_LINES = 1000;
// Intune keeps this much of a script's output: --json without --lines stays within it.
inline constexpr std::size_t STATUS_JSON_MAX_CHARS = 2048;

struct StatusOptions {
    bool json = false;
    bool help = false;
    bool version = false;
    bool restart_player = false;  // ask the watchdog to restart the player instead
    std::size_t lines = DEFAULT_STATUS_LOG_LINES;
    bool lines_given = false;
    std::optional<Path> folder;  // a watchdog folder named on the command line
};

// The command line after the program name: --json, --lines N (0 to 1000), --folder PATH,
// --version, --help, --restart-player (with --folder and --json only). None, with a one-line
// error, for anything else.
std::optional<StatusOptions> parse_status_args(const std::vector<std::string>& args,
                                               std::string& error);

// What --help prints.
std::string status_usage();

}  // namespace wd
