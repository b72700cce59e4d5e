// watchdog-status.exe --restart-player: asks the live watchdog of a folder to restart the
// player (restart.json, which the watchdog takes at its next check) and reports how it came
// out from the watchdog's own log. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/world.h"

namespace wd {

// How long the watchdog is given to take the request, and then to relaunch the player.
inline constexpr std::uint64_t RESTART_WAIT_SECS = 30;

enum class RestartOutcome {
    Restarted,   // the player was relaunched (pid)
    Declined,    // the watchdog said why not, or the relaunch failed (message: its line)
    NotTaken,    // no watchdog took the request in time; it was withdrawn
    NoWatchdog,  // no live watchdog for the folder: nothing was written
};

struct RestartResult {
    RestartOutcome outcome = RestartOutcome::NoWatchdog;
    std::optional<std::uint32_t> pid;  // the relaunched player's
    std::string message;               // what is printed
};

// Writes the request into the watchdog folder (`folder`, or this user's) when its watchdog is
// live, and waits for the outcome, polling once a second.
RestartResult request_player_restart(World& world, const std::optional<Path>& folder);

// The exit status: 0 restarted, 1 declined or not taken, 2 no watchdog.
int restart_exit_status(const RestartResult& result);

// The message on a line, or with --json one object on one line:
// {"outcome":"restarted","pid":4120,"message":"player restarted (pid=4120)"}.
std::string format_restart_text(const RestartResult& result);
std::string format_restart_json(const RestartResult& result);

}  // namespace wd
