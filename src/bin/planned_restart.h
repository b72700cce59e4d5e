// Restarts of the player that are planned, not recoveries: one an operator asks for through
// restart.json, and one every day at a set local time. Part of the tick's decision. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "bin/config.h"
#include "bin/tick.h"

namespace wd {

// A request made longer ago than this was made while no watchdog ran: it is not carried out.
inline constexpr std::uint64_t RESTART_REQUEST_MAX_AGE_MS = 600'000;

// Where this check stands towards the planned restarts.
struct RestartContext {
    bool standing_down = false;    // the operator's close stands
    bool update_in_force = false;  // within the update's grace or past it, below its cap
    bool player_alive = false;
};

// What this check does about them: the lines and the request's deletion, in order, and the
// restart to make, if any (a reason whose end is no recovery).
struct PlannedRestarts {
    std::vector<Effect> effects;
    std::optional<TickReason> restart;
    bool daily_check = false;  // this check is the day's daily restart check
};

// A request is taken when it can be: an unreadable or malformed one, one older than
// RESTART_REQUEST_MAX_AGE_MS, and one made while a close stands are deleted with their line;
// during an update it waits untouched; otherwise it restarts a running player, or says that
// none runs. The daily check is the first whose local time is at or past the setting while
// the last check's was before it on the same local date, at most one a date: it restarts a
// running player, or says why not when a close or an update is in force.
PlannedRestarts plan_restarts(const TickFacts& facts, const TickMemory& memory,
                              const WatchdogConfig& config, const RestartContext& context);

}  // namespace wd
