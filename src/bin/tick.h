// A tick as one pure decision: what the tick remembers from one check to the next, what it
// read at this check, and what it does about it, as effects for the loop to carry out in order.
// Portable; no system is reached here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/path.h"
#include "base/world.h"
#include "bin/config.h"
#include "bin/decision.h"
#include "bin/player_resolution.h"
#include "state/files.h"
#include "state/messages.h"
#include "state/records.h"

namespace wd {

// The run of checks at which tasklist gave no answer, and the adopted player the last check
// found.
struct ToolFailures {
    std::optional<std::uint64_t> since_ns;       // the first check of the current run
    std::optional<Identification> adopted_seen;  // the adopted player the last check found
};

// What the tick remembers from one check to the next: it goes into the decision with the
// facts and comes back with the result.
struct TickMemory {
    std::uint64_t started_at_ns = 0;              // the watchdog's start, monotonic
    std::optional<std::uint64_t> launched_at_ns;  // the last launch attempt, monotonic
    std::uint32_t rapid_restarts = 0;
    std::uint64_t prev_wall_ms = 0;  // both clocks at the previous check
    std::uint64_t prev_ns = 0;
    bool standing_down = false;             // its line and the taskbar are done
    bool waiting_for_self_started = false;  // that wait's line is done
    // The update (its startedAtMs) whose one launch after the grace was made, until the
    // player of that launch is seen to end.
    std::optional<std::uint64_t> verify_launch_for_ms;
    std::optional<std::uint32_t> adopted_pid;  // the player last found running, not the child
    ToolFailures tool_failures;
    OverMemoryRun over_memory;        // with a memory ceiling
    NotRespondingRun not_responding;  // with the windows check
    // With a daily restart: the last check's local time, and the local day whose daily
    // restart check has been made.
    std::optional<LocalClock> prev_local;
    std::optional<std::uint64_t> daily_done_day;
};

// The look for a process under the player's image name that this watchdog did not start.
struct SelfStartedLook {
    bool asked = false;  // tasklist was run (an empty image name asks nothing)
    std::optional<std::vector<std::uint32_t>> pids;  // none: tasklist gave no answer
    std::string why;                                 // why it gave none
};

// What a launch needs, read only when the check may launch (see wanted_for_launch).
struct LaunchFacts {
    std::optional<Path> exe;              // none: nothing to launch
    std::optional<SelfStartedLook> look;  // made only before the first launch, in its grace
    std::uint64_t now_ns = 0;             // the monotonic clock once these were read
};

// What a check read, in the order it reads it. A check that finds the operator's close
// standing reads nothing after the own child's state.
struct TickFacts {
    std::uint64_t now_ms = 0;          // wall clock
    std::uint64_t now_ns = 0;          // monotonic clock
    std::optional<ClosedFlag> closed;  // a valid close flag
    std::optional<std::int64_t> session_logon;
    FileState restart_state = FileState::Missing;  // restart.json
    std::optional<RestartRequest> restart;
    std::optional<LocalClock> local;  // with a daily restart
    std::optional<ChildPoll> child;   // none: no own child
    std::uint32_t child_pid = 0;
    std::optional<LivenessRecord> liveness;
    Identification found;  // who the player is, as the probes answered
    std::optional<UpdatingSentinel> update;
    std::optional<MemoryReading> memory;    // with a memory ceiling, of the identified player
    std::optional<WindowsReading> windows;  // with the windows check, of the identified player
    std::optional<LaunchFacts> launch;
};

enum class TickAction {
    Idle,            // nothing; pause
    StandDown,       // an operator's close stands
    EndAndRelaunch,  // end the player for the decision's reason, then launch
    Launch,          // start the player
    AwaitPlayer,     // a player that started itself runs: wait for its record
};

enum class TickReason {
    Closed,              // a close of this logon stands
    NoPlayer,            // nothing runs
    UpdateOverdue,       // the update's grace passed with no player: its one launch
    SelfStarted,         // nothing of ours runs, but a player started itself at this logon
    PlayerUnseen,        // before the first launch, tasklist cannot tell whether a player runs
    LivenessStale,       // alive, silent, and nothing excuses it
    MemoryOverLimit,     // alive and reporting, but over the memory ceiling at two checks
    NotResponding,       // alive and reporting, but no window has answered for too long
    Healthy,             // alive with a fresh liveness record
    ClockJumped,         // silent, but the wall clock was set forward since the last tick
    StartupGrace,        // silent, but within the startup grace of the last launch (or start)
    AdoptedGrace,        // silent, but an adopted player within the grace from its own start
    UpdateYoung,         // an update within its grace: nothing is launched or ended
    UpdateOverdueAlive,  // an overdue update, and a player runs
    UpdateLaunchMade,    // an overdue update whose launch has been made and not yet seen to end
    RestartRequested,    // an operator asked for a restart, and a player runs
    DailyRestart,        // the daily restart's time came, and a player runs
};

// What the loop does, in order.
struct LogMessage {
    Message message;
};
struct RecordRecovery {
    std::string what;  // last-crash.json's text
};
struct ReleaseChild {};  // let go of the own child's handles; the process is left alone
struct EndChild {};      // end the own child by force, then let go of it
struct DeleteClosedFlag {};
struct DeleteRestartRequest {};
struct ShowTaskbar {};
// End the player: the own child, else the adopted `pid` (by the image name if that fails),
// after a hang dump of `pid` when `dump`.
struct EndPlayer {
    bool own_child = false;
    std::optional<std::uint32_t> pid;
    std::string image_name;
    bool dump = false;
};
struct LaunchPlayer {
    Path exe;
};
using Effect = std::variant<LogMessage, RecordRecovery, ReleaseChild, EndChild, DeleteClosedFlag,
                            DeleteRestartRequest, ShowTaskbar, EndPlayer, LaunchPlayer>;

struct TickResult {
    TickAction action = TickAction::Idle;
    TickReason reason = TickReason::Healthy;
    std::vector<Effect> effects;
    Pause pause;
    TickMemory memory;  // what the next check starts from
};

// The memory of a watchdog started at these clock readings.
TickMemory first_memory(std::uint64_t now_ms, std::uint64_t now_ns);

// Whether the operator's close stands at this check; such a check reads nothing more.
bool close_stands(const TickFacts& facts);

// Who the player is at this check, once a failed tasklist run is taken into account: the
// adopted player the last check found stays the player for the startup grace from the first
// failure of a run.
Identification judged_player(const TickFacts& facts, const TickMemory& memory,
                             const WatchdogConfig& config);

// The pid of the player identified at this check: the own child, or an adopted one. None when
// no player runs.
std::optional<std::uint32_t> identified_pid(const TickFacts& facts, const TickMemory& memory,
                                            const WatchdogConfig& config);

// What a launch needs to be read: the executable when the check would end or launch a player,
// and the look for a self-started player when it would make its first launch within the
// startup grace from the watchdog's own start (relaunches never look).
struct LaunchWants {
    bool exe = false;
    bool look = false;
};
LaunchWants wanted_for_launch(const TickFacts& facts, const TickMemory& memory,
                              const WatchdogConfig& config);

// What the tick does, and why.
TickResult decide_tick(const TickFacts& facts, const TickMemory& memory,
                       const WatchdogConfig& config);

}  // namespace wd
