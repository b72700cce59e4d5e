// Who the player is when tasklist gives no answer. A failed run says nothing about the player:
// for the startup grace from the first check of a run of such failures, the adopted player
// the last check found stays the player, and before the first launch nothing is launched;
// after that, as for a tool that never answers, a player that cannot be seen is not running.
#pragma once

#include <cstdint>
#include <optional>

#include "base/world.h"
#include "bin/config.h"
#include "bin/decision.h"
#include "bin/player_resolution.h"

namespace wd {

// Lives from check to check.
struct ToolFailures {
    std::optional<std::uint64_t> since_ns;       // the first check of the current run
    std::optional<Identification> adopted_seen;  // the adopted player the last check found
};

// Takes this check's identification of the player (from identify_player) into account: a run
// of failures begins (one line), goes on or ends; while it lasts less than the startup grace,
// an unknown player is the last check's adopted one, or with none `facts.player_unseen`.
void judge_unseen_player(World& world, const WatchdogConfig& config, ToolFailures& failures,
                         Identification& found, TickFacts& facts);

// The look for a player that started itself, racing the watchdog before its first launch: a
// process under the player's image name that this watchdog did not start
// (`facts.self_started_pid`), or, when tasklist gave no answer, `facts.player_unseen`.
void look_for_self_started_player(World& world, ToolFailures& failures, TickFacts& facts);

}  // namespace wd
