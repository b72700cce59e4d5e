// The supervision loop: ticks that look at the player's situation and do at most one thing
// (nothing, launch it, or end a hung player and launch it again), then pause.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/clock_units.h"
#include "base/world.h"
#include "bin/config.h"
#include "bin/decision.h"
#include "bin/unseen_player.h"
#include "process/child.h"

namespace wd {

// Lives from tick to tick.
struct SupervisorState {
    PlayerChild child;
    std::uint64_t started_at_ns = 0;
    std::optional<std::uint64_t> launched_at_ns;
    std::uint32_t rapid_restarts = 0;
    bool standing_down = false;  // the last tick stood down: its line and the taskbar are done
    std::optional<std::uint32_t> adopted_pid;  // the player last found running, not the child
    std::uint64_t prev_wall_ms = 0;
    std::uint64_t prev_instant_ns = 0;
    // The update (its startedAtMs) whose one launch after the grace was made, until the
    // player of that launch is seen to end.
    std::optional<std::uint64_t> verify_launch_for_ms;
    bool waiting_for_self_started = false;  // a self-started player's wait has been logged
    // The run of checks at which tasklist gave no answer, and what the last check found.
    ToolFailures tool_failures;
    // With a memory ceiling: the checks in a row at which the player was over it.
    OverMemoryRun over_memory;
    // With the windows check: the run of checks at which none of the player's windows answered.
    NotRespondingRun not_responding;
};

// Whole milliseconds from `from` to `to` on the monotonic clock; 0 when it went backwards.
std::uint64_t elapsed_ms(std::uint64_t from_ns, std::uint64_t to_ns);

SupervisorState initial_state(World& world);

// The close check that opens every tick. A close from this logon (or, with no logon time to
// compare, one less than 12 hours old) stands down: the first such tick logs and shows the
// taskbar, and the own child is let go when it has exited or ended once it outlives the close
// by 15 s. Any other valid close is deleted and logged as cleared.
CloseDecision check_closed_flag(World& world, SupervisorState& state, std::uint64_t now_ms);

// The update sentinel's class at `now_ms`: within the update grace, past it but below the hang
// cap, or no update (none, invalid or stale).
UpdateState read_update_state(World& world, const WatchdogConfig& config, std::uint64_t now_ms);

// Runs one tick and returns the pause that must follow it.
Pause run_tick(World& world, const WatchdogConfig& config, SupervisorState& state);

// The pause after a tick. With the wake on, a pause the tick lets the wake end ends as soon as
// the own child ends; any other pause, and one whose wait fails, is slept in full.
void pause_after_tick(World& world, const WatchdogConfig& config, SupervisorState& state,
                      Pause pause);

// Ticks and pauses for ever.
[[noreturn]] void supervise(World& world, const WatchdogConfig& config);

}  // namespace wd
