// The supervision loop: each tick gathers what the check reads, hands it to the decision with
// what the last check left, and carries out the decision's effects in order; then it pauses.
#pragma once

#include <cstdint>

#include "base/world.h"
#include "bin/config.h"
#include "bin/tick.h"
#include "process/child.h"
#include "state/log.h"

namespace wd {

// Lives from tick to tick.
struct SupervisorState {
    Log log;
    PlayerChild child;  // the player this watchdog started, while it is held
    TickMemory memory;
};

// Messages go to `log`, or to the log alone.
SupervisorState initial_state(World& world, Log log);
SupervisorState initial_state(World& world);

// What this check reads, in order: the clocks, the operator's close, a restart request (and
// with a daily restart the local time) and, unless the close stands,
// the own child, the liveness record, who the player is (and with the opt-in checks its
// memory and windows), the update sentinel, and what a launch needs when one may follow.
TickFacts gather_facts(World& world, const WatchdogConfig& config, SupervisorState& state);

// Carries out the effects in order.
void carry_out(World& world, const WatchdogConfig& config, SupervisorState& state,
               const std::vector<Effect>& effects);

// Runs one tick (gather, decide, carry out) and returns the pause that must follow it.
Pause run_tick(World& world, const WatchdogConfig& config, SupervisorState& state);

// The pause after a tick. A pause the tick lets the wake end ends as soon as the own child
// ends; any other pause, and one whose wait fails, is slept in full.
void pause_after_tick(World& world, SupervisorState& state, Pause pause);

// Ticks and pauses for ever.
[[noreturn]] void supervise(World& world, const WatchdogConfig& config, Log log);

}  // namespace wd
