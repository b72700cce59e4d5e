// Who the player is when tasklist gives no answer, as part of the tick's decision. Portable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bin/config.h"
#include "bin/tick.h"
#include "state/messages.h"

namespace wd {

// This check's identification with a failed tasklist run taken into account, and the run of
// failures after it. A failed run says nothing about the player: for the startup grace from
// the first check of a run of failures, the adopted player the last check found stays the
// player, and with none the player is unseen; after that, as for a tool that never answers,
// a player that cannot be seen is not running.
struct Unseen {
    Identification found;
    bool player_unseen = false;
    ToolFailures failures;
    std::optional<Message> message;  // a run of failures begins
};

// The judgement of this check's identification, given the run the last check left.
Unseen judge_unseen(const TickFacts& facts, const TickMemory& memory, const WatchdogConfig& config);

// The look for a self-started player, when it was made: its pid, or with no answer the
// player is unseen (and a run of failures may begin); an answer ends a run.
std::optional<std::uint32_t> take_look(Unseen& unseen, const TickFacts& facts);

}  // namespace wd
