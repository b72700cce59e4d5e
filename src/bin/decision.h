// The rules a tick's decision is made of, as pure functions of readings: whose close it is,
// the update's class, the clock-jump test, the runs of checks, the back-off. Portable; no
// system is reached here.
#pragma once

#include <cstdint>
#include <optional>

#include "bin/config.h"
#include "state/records.h"

namespace wd {

inline constexpr std::uint64_t CLOCK_JUMP_SLACK_MS = 10'000;
inline constexpr std::uint64_t MAX_BACKOFF_SECS = 60;
inline constexpr std::uint32_t MAX_BACKOFF_DOUBLINGS = 6;
// The exit codes the player's contract calls ordinary ends: 0, and 3, which a player returns
// when it ends on purpose and expects to be started again. Neither is a recovery.
inline constexpr std::uint32_t EXIT_CODE_DONE = 0;
inline constexpr std::uint32_t EXIT_CODE_ENDED_ON_PURPOSE = 3;
// A close without a comparable logon time holds for this long.
inline constexpr std::uint64_t CLOSED_FLAG_MAX_AGE_MS = 43'200'000;
// How long after the close the player the watchdog launched may take to exit by itself.
inline constexpr std::uint64_t CLOSED_EXIT_WAIT_MS = 15'000;

// Whole milliseconds from `from_ns` to `to_ns` on the monotonic clock; 0 when it went backwards.
std::uint64_t elapsed_ms(std::uint64_t from_ns, std::uint64_t to_ns);

// The age of a stored time (one the player, its updater or the operator's close wrote): 0
// when it lies in the future, so a time ahead of the clock is as young as can be.
std::uint64_t age_ms(std::uint64_t now_ms, std::uint64_t then_ms);

// True while `now_ms` lies in the window of `length_ms` that opens at `start_ms`: a window
// that opens at a stored time in the future has not opened yet.
bool within_window(std::uint64_t now_ms, std::uint64_t start_ms, std::uint64_t length_ms);

// Whether the own child's exit with this code counts as a recovery.
bool exit_is_recovery(std::uint32_t exit_code);

// A launch attempt within the startup grace of the previous one (none: the first launch).
bool is_rapid_restart(std::optional<std::uint64_t> since_last_launch_ms,
                      const WatchdogConfig& config);

// The pause after the n-th rapid restart: max(interval, min(60, interval * 2^min(n, 6))),
// saturating.
std::uint64_t backoff_secs(std::uint64_t interval_secs, std::uint32_t rapid_restarts);

// The own child still runs longer after the operator's close than a player may take to exit.
bool closed_child_overdue(std::uint64_t now_ms, std::uint64_t closed_at_ms);

// A liveness record younger than the hang timeout: one exactly that old is stale, one stamped
// in the future is fresh, and no record is never fresh.
bool liveness_is_fresh(const std::optional<LivenessRecord>& record, std::uint64_t now_ms,
                       std::uint64_t hang_timeout_ms);

// Whether a valid close is the current logon's: the logon times decide when both are known
// (0 counts as unknown), otherwise a close younger than 12 hours is.
bool close_is_current(const ClosedFlag& flag, std::optional<std::int64_t> session_logon,
                      std::uint64_t now_ms);

enum class UpdateKind { NoUpdate, WithinGrace, PastGrace };
struct UpdateState {
    UpdateKind kind = UpdateKind::NoUpdate;
    std::uint64_t started_at_ms = 0;  // the sentinel's startedAtMs, for PastGrace
    bool operator==(const UpdateState&) const = default;
};

// The sentinel's class at `now_ms`: within the update grace, past it but below the hang cap,
// or no update (none, or at the cap or older). The grace is tested first.
UpdateState classify_update(const std::optional<UpdatingSentinel>& sentinel,
                            const WatchdogConfig& config, std::uint64_t now_ms);

// The wall clock ran ahead of the monotonic clock by more than CLOCK_JUMP_SLACK_MS since the
// previous tick (set forward); set back never counts.
bool clock_jumped(std::uint64_t prev_wall_ms, std::uint64_t now_ms, std::uint64_t mono_advance_ms);

inline constexpr std::uint64_t BYTES_PER_MIB = std::uint64_t{1} << 20;
// A player over the memory ceiling at this many checks in a row is ended.
inline constexpr std::uint32_t OVER_MEMORY_CHECKS_TO_END = 2;

// Private memory over a ceiling of `limit_mb` MiB (0: no ceiling, never over).
bool exceeds_memory_limit(std::uint64_t bytes, std::uint64_t limit_mb);

// Bytes as whole MiB, rounded up so that a figure over a ceiling never reads as equal to it.
std::uint64_t whole_mib_up(std::uint64_t bytes);

// The private memory of the player a check identified, read at that check.
struct MemoryReading {
    std::uint32_t pid = 0;
    std::uint64_t bytes = 0;
};

// The checks in a row at which one player was over the memory ceiling, and what it held at
// the last of them.
struct OverMemoryRun {
    std::uint32_t pid = 0;
    std::uint32_t checks = 0;
    std::uint64_t bytes = 0;
    bool operator==(const OverMemoryRun&) const = default;
};

// The run after this check's reading: one more check for the same player over the ceiling, a
// first check for another, none after a reading within it or one that failed (none).
OverMemoryRun count_over_memory(const OverMemoryRun& before,
                                const std::optional<MemoryReading>& reading,
                                std::uint64_t limit_mb);

// What the identified player's windows said at a check.
struct WindowsReading {
    std::uint32_t pid = 0;
    WindowsAnswer answer = WindowsAnswer::NoVisibleWindow;
};

// An unbroken run of checks at which one player had visible windows and none of them answered:
// since the first of them on the monotonic clock, and how long that is at this check.
struct NotRespondingRun {
    std::uint32_t pid = 0;
    std::optional<std::uint64_t> since_ns;  // none: no run
    std::uint64_t for_ms = 0;
    bool operator==(const NotRespondingRun&) const = default;
};

// The run after this check's reading: it goes on for the same player while none of its windows
// answers, starts for another, and ends at an answer, at a check with no visible window, or
// when the windows were not asked (none).
NotRespondingRun track_not_responding(const NotRespondingRun& before,
                                      const std::optional<WindowsReading>& reading,
                                      std::uint64_t now_ns);

// The pause a tick asks for: its length, and whether the own child's end may cut it short
// (not after a stand-down or a rapid-restart back-off).
struct Pause {
    std::uint64_t secs = 0;
    bool wake_may_end = false;
    bool operator==(const Pause&) const = default;
};

// A launch attempt, given how long ago the previous one was (none: the first launch) and the
// rapid restarts so far: whether it is a rapid restart, the count after it, and the pause that
// follows it (the back-off after a rapid restart, else the check interval).
struct LaunchPlan {
    bool rapid = false;
    std::uint32_t rapid_restarts = 0;
    Pause pause;
};
LaunchPlan plan_launch(std::optional<std::uint64_t> since_last_launch_ms,
                       std::uint32_t rapid_restarts, const WatchdogConfig& config);

}  // namespace wd
