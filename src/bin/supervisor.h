// The supervision loop: ticks that look at the player's situation and do at most one thing
// (nothing, launch it, or end a hung player and launch it again), then pause.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/world.h"
#include "bin/config.h"
#include "bin/decision.h"
#include "process/child.h"

namespace wd {

inline constexpr std::uint64_t MAX_BACKOFF_SECS = 60;
inline constexpr std::uint32_t MAX_BACKOFF_DOUBLINGS = 6;

// Lives from tick to tick.
struct SupervisorState {
    PlayerChild child;
    std::uint64_t started_at_ns = 0;
    std::optional<std::uint64_t> launched_at_ns;
    std::uint32_t rapid_restarts = 0;
    bool standing_down = false;
    std::uint32_t adopted_pid = 0;
    std::uint64_t prev_wall_ms = 0;
    std::uint64_t prev_instant_ns = 0;
    bool verify_pending = false;
    std::uint64_t verify_started_at_ms = 0;
    bool backing_off = false;               // the last tick's pause is a rapid-restart back-off
    bool waiting_for_self_started = false;  // a self-started player's wait has been logged
};

// "code <n>" for a player's exit: decimal when the code read as signed 32 bits is not negative,
// otherwise "0x" and lower-case hexadecimal.
std::string exit_description(std::uint32_t exit_code);

// Whole milliseconds from `from` to `to` on the monotonic clock; 0 when it went backwards.
std::uint64_t elapsed_ms(std::uint64_t from_ns, std::uint64_t to_ns);

// max(interval, min(60, interval * 2^min(k, 6))), saturating.
std::uint64_t backoff_secs(std::uint64_t interval_secs, std::uint32_t rapid_restarts);

SupervisorState initial_state(World& world);

// The close check that opens every tick. A close from this logon (or, with no logon time to
// compare, one less than 12 hours old) stands down: the first such tick logs and shows the
// taskbar, and the own child is let go when it has exited or ended once it outlives the close
// by 15 s. Any other valid close is deleted and logged as cleared.
CloseDecision check_closed_flag(World& world, SupervisorState& state, std::uint64_t now_ms);

// The update sentinel's class at `now_ms`: within the update grace, past it but below the hang
// cap, or no update (none, invalid or stale).
UpdateState read_update_state(World& world, const WatchdogConfig& config, std::uint64_t now_ms);

// Runs one tick and returns the pause in seconds that must follow it.
std::uint64_t run_tick(World& world, const WatchdogConfig& config, SupervisorState& state);

// The next piece of a long sleep, taken off `remaining_secs`: at most a day, so that an
// interval of any size stays that long instead of wrapping into a short sleep.
inline constexpr std::uint64_t SLEEP_SLICE_SECS = 86'400;
std::uint32_t take_sleep_slice_ms(std::uint64_t& remaining_secs);

// The pause after a tick, `secs` long. With the wake on, a pause that follows a tick with the
// own child running ends as soon as that child ends, unless the tick stood down or backed off;
// any other pause, and one whose wait fails, is slept in full.
void pause_after_tick(World& world, const WatchdogConfig& config, SupervisorState& state,
                      std::uint64_t secs);

// Ticks and pauses for ever.
[[noreturn]] void supervise(World& world, const WatchdogConfig& config);

}  // namespace wd
