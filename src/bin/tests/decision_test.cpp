// The tick's rules as tables: each row is a situation (what the check read, and what the last
// check left) and what the tick does about it.
#include "bin/tick.h"

#include <gtest/gtest.h>

namespace wd {
namespace {

constexpr std::uint64_t NOW = 1'765'000'000'000;
constexpr std::uint64_t NOW_NS = 9'000'000'000'000;
constexpr std::int64_t LOGON = 133'000'000'000'000'000;
constexpr std::uint64_t MS = 1'000'000;  // ns
constexpr std::uint64_t ONE_HOUR_MS = 3'600'000;
const Path EXE = u"C:\\Signage\\player.exe";

// The own child (pid 1000) runs and has been silent past its hang timeout, launched an hour
// ago; the last check was 5 s ago on both clocks.
struct Check {
    TickFacts facts;
    TickMemory memory;
    WatchdogConfig config;
    Check() {
        facts.now_ms = NOW;
        facts.now_ns = NOW_NS;
        facts.child = ChildRunning{};
        facts.child_pid = 1000;
        facts.found.player_alive = true;
        facts.liveness = LivenessRecord{1000, NOW - 61'000};
        facts.launch = LaunchFacts{EXE, std::nullopt, NOW_NS};
        memory = first_memory(NOW - 5'000, NOW_NS - 5'000 * MS);
        memory.started_at_ns = NOW_NS - 2 * ONE_HOUR_MS * MS;
        memory.launched_at_ns = NOW_NS - ONE_HOUR_MS * MS;
        config.memory_limit_mb = 100;
        config.not_responding_ms = 20'000;
    }
    void fresh() { facts.liveness->ts = NOW - 1'000; }
    // The own child was seen to end (or could not be polled): no player runs.
    void child_seen(ChildPoll poll) {
        facts.child = poll;
        facts.found = {};
    }
    void no_player() {
        facts.child.reset();
        facts.found = {};
    }
    // Adopted (not the own child), started by itself this long ago.
    void adopted(std::uint64_t started_ms_ago) {
        facts.child.reset();
        facts.found = {true, 1000, NOW - started_ms_ago, "player.exe", std::nullopt, true};
    }
    // Before the first launch, this long after the watchdog's start.
    void first_launch_at(std::uint64_t ms) {
        memory.launched_at_ns.reset();
        memory.started_at_ns = NOW_NS - ms * MS;
    }
    void closed(std::uint64_t ms_ago, std::optional<std::int64_t> flag_logon,
                std::optional<std::int64_t> session = LOGON) {
        facts.closed = ClosedFlag{NOW - ms_ago, flag_logon};
        facts.session_logon = session;
    }
    void update(std::uint64_t started_ms_ago) {
        facts.update = UpdatingSentinel{NOW - started_ms_ago, "2.4.0"};
    }
    // restart.json asks for a restart made this long ago.
    void request(std::uint64_t ms_ago) {
        facts.restart_state = FileState::Ok;
        facts.restart = RestartRequest{NOW - ms_ago};
    }
    // A daily restart at 03:00; the last check was at `before`, this one at `now` (minutes
    // after local midnight of day 20'000).
    void daily(std::uint32_t before, std::uint32_t now) {
        config.daily_restart_minute = 180;
        memory.prev_local = LocalClock{20'000, before};
        facts.local = LocalClock{20'000, now};
    }
    // Over a ceiling of 100 MB at this check, and at the one before for the same player.
    void over_ceiling_twice() {
        facts.memory = MemoryReading{1000, 150 * BYTES_PER_MIB};
        memory.over_memory = {1000, 1, 150 * BYTES_PER_MIB};
    }
    // No visible window of the player has answered for `ms`, up to this check.
    void frozen_for(std::uint64_t ms) {
        facts.windows = WindowsReading{1000, WindowsAnswer::NoneAnswered};
        memory.not_responding = {1000, NOW_NS - ms * MS, 0};
    }
    TickResult decide() const { return decide_tick(facts, memory, config); }
};

TEST(DecideTick, EachSituationAndWhatTheTickDoes) {
    using enum TickAction;
    using enum TickReason;
    const struct {
        const char* rule;
        void (*situation)(Check&);
        TickAction action;
        TickReason reason;
        bool resets;  // the crash loop is over
    } rows[] = {
        {"a close of this logon stands down before anything else",
         [](Check& c) { c.closed(1'000, LOGON); }, StandDown, Closed, false},
        {"a close of another logon is cleared, and the check goes on",
         [](Check& c) { c.closed(1'000, LOGON - 1); }, EndAndRelaunch, LivenessStale, false},
        {"no player: launch", [](Check& c) { c.no_player(); }, Launch, NoPlayer, false},
        {"alive and fresh: idle, and a crash loop is over", [](Check& c) { c.fresh(); }, Idle,
         Healthy, true},
        {"alive and silent past every grace: hung", [](Check&) {}, EndAndRelaunch, LivenessStale,
         false},
        {"the child ended: no player", [](Check& c) { c.child_seen(ChildEnded{1}); }, Launch,
         NoPlayer, false},
        {"silent, but the clock was set forward",
         [](Check& c) { c.memory.prev_wall_ms = NOW - 15'001; }, Idle, ClockJumped, false},
        {"silent, the clock set forward by no more than the slack",
         [](Check& c) { c.memory.prev_wall_ms = NOW - 15'000; }, EndAndRelaunch, LivenessStale,
         false},
        {"silent within the startup grace",
         [](Check& c) { c.memory.launched_at_ns = NOW_NS - 59'999 * MS; }, Idle, StartupGrace,
         false},
        {"silent at exactly the startup grace",
         [](Check& c) { c.memory.launched_at_ns = NOW_NS - 60'000 * MS; }, EndAndRelaunch,
         LivenessStale, false},
        {"a record stamped in the future is fresh",
         [](Check& c) { c.facts.liveness->ts = NOW + ONE_HOUR_MS; }, Idle, Healthy, true},
        {"adopted, started 59.999 s ago", [](Check& c) { c.adopted(59'999); }, Idle, AdoptedGrace,
         false},
        {"adopted, started 60 s ago", [](Check& c) { c.adopted(60'000); }, EndAndRelaunch,
         LivenessStale, false},
        {"adopted, started in the future: its window has not opened",
         [](Check& c) {
             c.adopted(0);
             c.facts.found.adopted_started_at_ms = NOW + 1;
         },
         EndAndRelaunch, LivenessStale, false},
        {"an update within its grace: never hung", [](Check& c) { c.update(1'000); }, Idle,
         UpdateYoung, false},
        {"an update within its grace: no launch either",
         [](Check& c) {
             c.update(1'000);
             c.no_player();
         },
         Idle, UpdateYoung, false},
        {"an update within its grace, alive and fresh: still a healthy player",
         [](Check& c) {
             c.update(1'000);
             c.fresh();
         },
         Idle, UpdateYoung, true},
        {"an overdue update and a player: idle, even when silent",
         [](Check& c) { c.update(200'000); }, Idle, UpdateOverdueAlive, false},
        {"an overdue update and no player: its one launch",
         [](Check& c) {
             c.update(200'000);
             c.no_player();
         },
         Launch, UpdateOverdue, false},
        {"an overdue update whose launch was made: idle",
         [](Check& c) {
             c.update(200'000);
             c.no_player();
             c.memory.verify_launch_for_ms = NOW - 200'000;
         },
         Idle, UpdateLaunchMade, false},
        {"a launch made for another update does not count",
         [](Check& c) {
             c.update(200'000);
             c.no_player();
             c.memory.verify_launch_for_ms = NOW - 200'001;
         },
         Launch, UpdateOverdue, false},
        {"the update's launched child ended: the update's launch again",
         [](Check& c) {
             c.update(200'000);
             c.child_seen(ChildEnded{0});
             c.memory.verify_launch_for_ms = NOW - 200'000;
         },
         Launch, UpdateOverdue, false},
        {"an update at its hang cap is no update", [](Check& c) { c.update(360'000); },
         EndAndRelaunch, LivenessStale, false},
        {"fresh, over the memory ceiling at two checks: ended",
         [](Check& c) {
             c.fresh();
             c.over_ceiling_twice();
         },
         EndAndRelaunch, MemoryOverLimit, false},
        {"over the ceiling once, right after one reading over it of another player",
         [](Check& c) {
             c.fresh();
             c.over_ceiling_twice();
             c.memory.over_memory.pid = 999;
         },
         Idle, Healthy, true},
        {"over the memory ceiling within the startup grace",
         [](Check& c) {
             c.fresh();
             c.over_ceiling_twice();
             c.memory.launched_at_ns = NOW_NS - 59'999 * MS;
         },
         Idle, Healthy, true},
        {"over the memory ceiling, adopted within its grace",
         [](Check& c) {
             c.adopted(59'999);
             c.fresh();
             c.over_ceiling_twice();
         },
         Idle, Healthy, true},
        {"silent and over the memory ceiling: hung, as it would be anyway",
         [](Check& c) { c.over_ceiling_twice(); }, EndAndRelaunch, LivenessStale, false},
        {"fresh, but no window has answered for the setting's 20 s: ended",
         [](Check& c) {
             c.fresh();
             c.frozen_for(20'000);
         },
         EndAndRelaunch, NotResponding, false},
        {"no window has answered for 19.999 s",
         [](Check& c) {
             c.fresh();
             c.frozen_for(19'999);
         },
         Idle, Healthy, true},
        {"no window answers, but within the startup grace",
         [](Check& c) {
             c.fresh();
             c.frozen_for(20'000);
             c.memory.launched_at_ns = NOW_NS - 59'999 * MS;
         },
         Idle, Healthy, true},
        {"no window answers, adopted within the grace from its own start",
         [](Check& c) {
             c.adopted(59'999);
             c.fresh();
             c.frozen_for(20'000);
         },
         Idle, Healthy, true},
        {"the run was another player's: this one's starts now",
         [](Check& c) {
             c.fresh();
             c.frozen_for(20'000);
             c.facts.windows->pid = 1001;
         },
         Idle, Healthy, true},
        {"silent and frozen: hung, one recovery", [](Check& c) { c.frozen_for(20'000); },
         EndAndRelaunch, LivenessStale, false},
        {"nothing of ours runs, but a player started itself before the first launch: await it",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(59'999);
             c.facts.launch->look = SelfStartedLook{true, std::vector<std::uint32_t>{7}, ""};
         },
         AwaitPlayer, SelfStarted, false},
        {"before the first launch, the look finds nobody: launch",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(59'999);
             c.facts.launch->look = SelfStartedLook{true, std::vector<std::uint32_t>{}, ""};
         },
         Launch, NoPlayer, false},
        {"nothing seen, but tasklist gave no answer, before the first launch: wait",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(59'999);
             c.facts.found.unknown = "exit status 1";
         },
         Idle, PlayerUnseen, false},
        {"the look itself gave no answer: wait",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(59'999);
             c.facts.launch->look = SelfStartedLook{true, std::nullopt, "exit status 1"};
         },
         Idle, PlayerUnseen, false},
        {"the same once a launch was made: launch, as for no player",
         [](Check& c) {
             c.no_player();
             c.memory.launched_at_ns = NOW_NS - 10'000 * MS;
             c.facts.found.unknown = "exit status 1";
         },
         Launch, NoPlayer, false},
        {"an adopted player that tasklist cannot see now stays the player within the grace",
         [](Check& c) {
             c.no_player();
             c.fresh();
             c.facts.found.unknown = "exit status 1";
             c.memory.tool_failures.adopted_seen =
                 Identification{true, 1000, std::nullopt, "player.exe", std::nullopt, true};
         },
         Idle, Healthy, true},
        {"tasklist has failed for the whole grace: a player that cannot be seen is not running",
         [](Check& c) {
             c.no_player();
             c.facts.found.unknown = "exit status 1";
             c.memory.tool_failures.since_ns = NOW_NS - 60'000 * MS;
             c.memory.tool_failures.adopted_seen =
                 Identification{true, 1000, std::nullopt, "player.exe", std::nullopt, true};
         },
         Launch, NoPlayer, false},
    };
    for (const auto& row : rows) {
        Check check;
        row.situation(check);
        check.memory.rapid_restarts = 3;
        const TickResult got = check.decide();
        EXPECT_EQ(got.action, row.action) << row.rule;
        EXPECT_EQ(got.reason, row.reason) << row.rule;
        EXPECT_EQ(got.memory.rapid_restarts == 0, row.resets) << row.rule;
    }
}

std::vector<std::string> shown(const std::vector<Effect>& effects) {
    std::vector<std::string> out;
    for (const Effect& effect : effects) {
        if (const auto* e = std::get_if<LogMessage>(&effect)) {
            out.push_back("log: " + message_text(e->message));
        } else if (const auto* r = std::get_if<RecordRecovery>(&effect)) {
            out.push_back("record: " + r->what);
        } else if (std::holds_alternative<ReleaseChild>(effect)) {
            out.emplace_back("release child");
        } else if (std::holds_alternative<EndChild>(effect)) {
            out.emplace_back("end child");
        } else if (std::holds_alternative<DeleteClosedFlag>(effect)) {
            out.emplace_back("delete closed.json");
        } else if (std::holds_alternative<DeleteRestartRequest>(effect)) {
            out.emplace_back("delete restart.json");
        } else if (std::holds_alternative<ShowTaskbar>(effect)) {
            out.emplace_back("show taskbar");
        } else if (const auto* end = std::get_if<EndPlayer>(&effect)) {
            out.push_back("end pid=" + std::to_string(end->pid.value_or(0)) +
                          (end->own_child ? " own" : " by " + end->image_name) +
                          (end->dump ? " dump" : ""));
        } else if (const auto* launch = std::get_if<LaunchPlayer>(&effect)) {
            out.push_back("launch " + path_display(launch->exe));
        }
    }
    return out;
}

// What the tick does, effect by effect, in order: the close, the child's exit, the update's
// launch, the ends and launches, and the lines said once.
TEST(DecideTick, TheEffectsOfEachSituationInOrder) {
    const std::string launch = "launch C:\\Signage\\player.exe";
    const std::string stand_down =
        "log: player closed by the operator - standing down until the next logon";
    const std::string hung = "log: player hung (process alive, liveness stale) - killing";
    const struct {
        const char* rule;
        void (*situation)(Check&);
        std::vector<std::string> effects;
    } rows[] = {
        {"the first check of a close: its line and the taskbar; the child has 15 s to exit",
         [](Check& c) { c.closed(15'000, LOGON); },
         {stand_down, "show taskbar"}},
        {"a later check of the same close: nothing again",
         [](Check& c) {
             c.closed(1'000, LOGON);
             c.memory.standing_down = true;
         },
         {}},
        {"the own child outlives the close by more than 15 s: ended, not recorded",
         [](Check& c) {
             c.closed(15'001, LOGON);
             c.memory.standing_down = true;
         },
         {"log: closed player did not exit - ending it", "end child"}},
        {"a close stamped in the future gives the child its 15 s from then",
         [](Check& c) {
             c.closed(0, std::nullopt, std::nullopt);
             c.facts.closed->closed_at = NOW + 60'000;
             c.memory.standing_down = true;
         },
         {}},
        {"the closed child's exit is let go silently: no line, no record",
         [](Check& c) {
             c.closed(1'000, LOGON);
             c.memory.standing_down = true;
             c.child_seen(ChildEnded{1});
         },
         {"release child"}},
        {"a player the watchdog did not launch is never ended by a close",
         [](Check& c) {
             c.adopted(ONE_HOUR_MS);
             c.closed(ONE_HOUR_MS, LOGON);
             c.memory.standing_down = true;
         },
         {}},
        {"a close of an earlier logon: deleted and said, then the check goes on",
         [](Check& c) {
             c.closed(60'000, LOGON - 1);
             c.fresh();
         },
         {"delete closed.json", "log: close from an earlier session cleared - supervising again"}},
        {"an exit with 0: said, not recorded, let go, launched again",
         [](Check& c) { c.child_seen(ChildEnded{0}); },
         {"log: player exited (code 0)", "release child", launch}},
        {"an exit with 3: the same",
         [](Check& c) { c.child_seen(ChildEnded{3}); },
         {"log: player exited (code 3)", "release child", launch}},
        {"a crash: said and recorded with its line",
         [](Check& c) { c.child_seen(ChildEnded{0xC0000005}); },
         {"log: player exited (code 0xc0000005)", "record: player exited (code 0xc0000005)",
          "release child", launch}},
        {"a child that cannot be polled is let go silently",
         [](Check& c) { c.child_seen(ChildPollFailed{}); },
         {"release child", launch}},
        {"a crash within the startup grace: a rapid restart, backed off",
         [](Check& c) {
             c.child_seen(ChildEnded{1});
             c.memory.launched_at_ns = NOW_NS - 10'000 * MS;
         },
         {"log: player exited (code 1)", "record: player exited (code 1)", "release child",
          "log: rapid restart #1; backing off 6s", launch}},
        {"an overdue update's one launch is marked",
         [](Check& c) {
             c.no_player();
             c.update(200'000);
         },
         {launch, "log: verify-pending: launched player after update grace"}},
        {"hung, with dumps on: said, recorded, dumped and ended, launched",
         [](Check& c) { c.config.hang_dumps = 5; },
         {hung, "record: player hung - ended and started again", "end pid=1000 own dump", launch}},
        {"an adopted player is ended by its pid, or else its image name",
         [](Check& c) {
             c.adopted(ONE_HOUR_MS);
             c.memory.adopted_pid = 1000;
         },
         {hung, "record: player hung - ended and started again", "end pid=1000 by player.exe",
          launch}},
        {"over the memory ceiling: never dumped",
         [](Check& c) {
             c.config.hang_dumps = 5;
             c.fresh();
             c.over_ceiling_twice();
         },
         {"log: player over memory limit (150 MB private, limit 100 MB) - killing",
          "record: player over memory limit - ended and started again", "end pid=1000 own",
          launch}},
        {"not responding: dumped as a hang is",
         [](Check& c) {
             c.config.hang_dumps = 5;
             c.fresh();
             c.frozen_for(31'500);
         },
         {"log: player not responding (no window answered for 31s) - killing",
          "record: player not responding - ended and started again", "end pid=1000 own dump",
          launch}},
        {"nothing to launch: said at every check",
         [](Check& c) {
             c.no_player();
             c.facts.launch->exe.reset();
         },
         {"log: cannot resolve player exe (no player.json / override / sibling)"}},
        {"a self-started player's wait is said once",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(1'000);
             c.facts.launch->look = SelfStartedLook{true, std::vector<std::uint32_t>{7}, ""};
         },
         {"log: player already running (pid=7) - waiting for its record"}},
        {"and not again",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(2'000);
             c.facts.launch->look = SelfStartedLook{true, std::vector<std::uint32_t>{7}, ""};
             c.memory.waiting_for_self_started = true;
         },
         {}},
        {"the first check of a run of tasklist failures says why",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(1'000);
             c.facts.found.unknown = "exit status 1";
         },
         {"log: tasklist gave no answer (exit status 1) - asking again at the next check"}},
        {"the checks after it say nothing",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(1'000);
             c.facts.found.unknown = "exit status 1";
             c.memory.tool_failures.since_ns = NOW_NS - 500 * MS;
         },
         {}},
    };
    for (const auto& row : rows) {
        Check check;
        row.situation(check);
        EXPECT_EQ(shown(check.decide().effects), row.effects) << row.rule;
    }
}

// Planned restarts, on request and every day: ended without a recovery, a dump or a back-off,
// and relaunched in the same check; otherwise the reason they are not made.
TEST(DecideTick, PlannedRestartsAndWhyOneIsNotMade) {
    const std::string launch = "launch C:\\Signage\\player.exe";
    const std::string requested = "log: player restart requested - ending it";
    const std::string taken = "delete restart.json";
    const std::string daily = "log: daily restart (03:00) - ending the player";
    const struct {
        const char* rule;
        void (*situation)(Check&);
        std::vector<std::string> effects;
    } rows[] = {
        {"a request and a running player: ended and relaunched, not recorded, not dumped",
         [](Check& c) {
             c.fresh();
             c.config.hang_dumps = 5;
             c.request(1'000);
         },
         {taken, requested, "end pid=1000 own", launch}},
        {"an adopted player is ended as a hung one is",
         [](Check& c) {
             c.adopted(ONE_HOUR_MS);
             c.fresh();
             c.memory.adopted_pid = 1000;
             c.request(1'000);
         },
         {taken, requested, "end pid=1000 by player.exe", launch}},
        {"a hung player asked to restart is not counted as a hang",
         [](Check& c) { c.request(1'000); },
         {taken, requested, "end pid=1000 own", launch}},
        {"within the startup grace of a launch: no rapid restart, no back-off",
         [](Check& c) {
             c.fresh();
             c.memory.launched_at_ns = NOW_NS - 1'000 * MS;
             c.request(1'000);
         },
         {taken, requested, "end pid=1000 own", launch}},
        {"no player: said, and the usual rules launch one",
         [](Check& c) {
             c.no_player();
             c.request(1'000);
         },
         {taken, "log: player restart requested - no player running", launch}},
        {"a close stands: ignored, nothing launched",
         [](Check& c) {
             c.closed(1'000, LOGON);
             c.memory.standing_down = true;
             c.request(1'000);
         },
         {taken,
          "log: player restart request ignored - closed by the operator until the next logon"}},
        {"an update within its grace: the request waits, untouched",
         [](Check& c) {
             c.fresh();
             c.update(1'000);
             c.request(1'000);
         },
         {}},
        {"an update past its grace: the same",
         [](Check& c) {
             c.fresh();
             c.update(200'000);
             c.request(1'000);
         },
         {}},
        {"a request of exactly 10 minutes ago is carried out",
         [](Check& c) {
             c.fresh();
             c.request(600'000);
         },
         {taken, requested, "end pid=1000 own", launch}},
        {"one older than 10 minutes is not",
         [](Check& c) {
             c.fresh();
             c.request(600'001);
         },
         {taken, "log: player restart request ignored - older than 10 minutes"}},
        {"a request that is not one",
         [](Check& c) {
             c.fresh();
             c.facts.restart_state = FileState::Corrupt;
         },
         {taken, "log: player restart request ignored - restart.json is not a valid request"}},
        {"a request that cannot be read",
         [](Check& c) {
             c.fresh();
             c.facts.restart_state = FileState::Unreadable;
         },
         {taken, "log: player restart request ignored - restart.json cannot be read"}},
        {"the daily time is crossed: ended and relaunched",
         [](Check& c) {
             c.fresh();
             c.daily(179, 180);
         },
         {daily, "end pid=1000 own", launch}},
        {"crossed while the machine slept, the same date",
         [](Check& c) {
             c.fresh();
             c.daily(60, 600);
         },
         {daily, "end pid=1000 own", launch}},
        {"asleep over it into the next date: nothing",
         [](Check& c) {
             c.fresh();
             c.daily(60, 600);
             c.facts.local->day += 1;
         },
         {}},
        {"already past it: nothing",
         [](Check& c) {
             c.fresh();
             c.daily(180, 181);
         },
         {}},
        {"a clock set back over it does not give a second one that date",
         [](Check& c) {
             c.fresh();
             c.daily(170, 190);
             c.memory.daily_done_day = 20'000;
         },
         {}},
        {"a close stands: skipped, said",
         [](Check& c) {
             c.closed(1'000, LOGON);
             c.memory.standing_down = true;
             c.daily(179, 180);
         },
         {"log: daily restart (03:00) skipped - closed by the operator"}},
        {"an update: skipped, said",
         [](Check& c) {
             c.fresh();
             c.update(1'000);
             c.daily(179, 180);
         },
         {"log: daily restart (03:00) skipped - update in progress"}},
        {"no player: nothing of its own",
         [](Check& c) {
             c.no_player();
             c.daily(179, 180);
         },
         {launch}},
        {"a request and the daily time at one check: one restart",
         [](Check& c) {
             c.fresh();
             c.request(1'000);
             c.daily(179, 180);
         },
         {taken, requested, "end pid=1000 own", launch}},
    };
    for (const auto& row : rows) {
        Check check;
        row.situation(check);
        check.memory.rapid_restarts = 2;
        const TickResult got = check.decide();
        EXPECT_EQ(shown(got.effects), row.effects) << row.rule;
        const bool restarted =
            got.reason == TickReason::RestartRequested || got.reason == TickReason::DailyRestart;
        if (restarted) {
            EXPECT_EQ(got.memory.rapid_restarts, 2u) << row.rule;
            EXPECT_EQ(got.pause, (Pause{check.config.check_interval_secs, false})) << row.rule;
        }
        EXPECT_EQ(got.memory.prev_local, check.facts.local) << row.rule;
    }
}

// Whose close it is: the logon times when both are known, otherwise the close's age.
TEST(DecideTick, ACloseOfThisLogonStandsForEverOtherwiseTwelveHoursDecide) {
    const struct {
        const char* name;
        std::optional<std::int64_t> flag_logon;
        std::optional<std::int64_t> session_logon;
        std::uint64_t age_ms;
        bool stands;
    } rows[] = {
        {"same logon, days old", LOGON, LOGON, 72 * ONE_HOUR_MS, true},
        {"other logon, just now", LOGON - 1, LOGON, 0, false},
        {"no flag logon, 11:59", std::nullopt, LOGON, 12 * ONE_HOUR_MS - 60'000, true},
        {"no flag logon, 12:00", std::nullopt, LOGON, 12 * ONE_HOUR_MS, false},
        {"no session logon, 11:59", LOGON, std::nullopt, 12 * ONE_HOUR_MS - 60'000, true},
        {"no session logon, 12:00", LOGON, std::nullopt, 12 * ONE_HOUR_MS, false},
        {"session logon 0 is none", 0, 0, 12 * ONE_HOUR_MS, false},
    };
    for (const auto& row : rows) {
        Check check;
        check.closed(row.age_ms, row.flag_logon, row.session_logon);
        EXPECT_EQ(close_stands(check.facts), row.stands) << row.name;
        const TickResult got = check.decide();
        EXPECT_EQ(got.action == TickAction::StandDown, row.stands) << row.name;
        ASSERT_FALSE(got.effects.empty()) << row.name;
        EXPECT_EQ(std::holds_alternative<DeleteClosedFlag>(got.effects.front()), !row.stands)
            << row.name;
    }
}

// What a check leaves for the next one.
TEST(DecideTick, WhatACheckLeavesForTheNext) {
    // A stand-down breaks a not-responding run (the windows were not asked), so a player still
    // frozen once the close ends gets the whole setting again; a reading over the memory
    // ceiling waits for the next check that reads one.
    Check standing;
    standing.closed(1'000, LOGON);
    standing.over_ceiling_twice();
    standing.frozen_for(10'000);
    const TickMemory after = standing.decide().memory;
    EXPECT_EQ(after.not_responding, NotRespondingRun{});
    EXPECT_EQ(after.over_memory, (OverMemoryRun{1000, 1, 150 * BYTES_PER_MIB}));
    EXPECT_TRUE(after.standing_down);

    // An update's launch is marked with the sentinel's time; the own child's end unmarks it.
    Check update;
    update.no_player();
    update.update(200'000);
    EXPECT_EQ(update.decide().memory.verify_launch_for_ms, NOW - 200'000);
    Check ended;
    ended.child_seen(ChildEnded{0});
    ended.memory.verify_launch_for_ms = NOW - 200'000;
    ended.update(10'000);
    EXPECT_EQ(ended.decide().memory.verify_launch_for_ms, std::nullopt);

    // The daily check is made once a date, whatever it did: a skipped one too.
    Check skipped;
    skipped.closed(1'000, LOGON);
    skipped.daily(179, 180);
    EXPECT_EQ(skipped.decide().memory.daily_done_day, 20'000u);
    Check restarted;
    restarted.fresh();
    restarted.daily(179, 180);
    EXPECT_EQ(restarted.decide().memory.daily_done_day, 20'000u);

    // Both clocks of this check, for the next one's clock-jump test.
    const TickMemory next = Check().decide().memory;
    EXPECT_EQ(next.prev_wall_ms, NOW);
    EXPECT_EQ(next.prev_ns, NOW_NS);
}

// The costly reads a launch needs are made only at checks that may launch: the executable
// when a player would be ended or launched, the look for a self-started player (a tasklist
// run by image name) only before the first launch within the grace from the start.
TEST(WantedForLaunch, OnlyAtChecksThatMayLaunch) {
    const struct {
        const char* rule;
        void (*situation)(Check&);
        bool exe;
        bool look;
    } rows[] = {
        {"a healthy player", [](Check& c) { c.fresh(); }, false, false},
        {"a healthy adopted player before the first launch",
         [](Check& c) {
             c.adopted(ONE_HOUR_MS);
             c.fresh();
             c.first_launch_at(1'000);
         },
         false, false},
        {"a hung player", [](Check&) {}, true, false},
        {"no player, after a launch", [](Check& c) { c.no_player(); }, true, false},
        {"no player before the first launch, within the grace",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(59'999);
         },
         true, true},
        {"no player before the first launch, past the grace",
         [](Check& c) {
             c.no_player();
             c.first_launch_at(60'000);
         },
         true, false},
        {"an update within its grace",
         [](Check& c) {
             c.no_player();
             c.update(1'000);
         },
         false, false},
        {"a close that stands", [](Check& c) { c.closed(1'000, LOGON); }, false, false},
    };
    for (const auto& row : rows) {
        Check check;
        row.situation(check);
        const LaunchWants wants = wanted_for_launch(check.facts, check.memory, check.config);
        EXPECT_EQ(wants.exe, row.exe) << row.rule;
        EXPECT_EQ(wants.look, row.look) << row.rule;
    }
}

TEST(ClockJumped, MoreThanTenSecondsAheadOfTheMonotonicClock) {
    EXPECT_FALSE(clock_jumped(NOW, NOW + 13'000, 3'000));
    EXPECT_TRUE(clock_jumped(NOW, NOW + 13'001, 3'000));
    EXPECT_FALSE(clock_jumped(NOW, NOW - 3'600'000, 3'000));  // set back
    EXPECT_FALSE(clock_jumped(0, UINT64_MAX, UINT64_MAX));    // the sum saturates
}

TEST(Backoff, IntervalTimesAPowerOfTwoCappedAtAMinuteButNeverBelowTheInterval) {
    const struct {
        std::uint64_t interval;
        std::uint32_t k;
        std::uint64_t want;
    } cases[] = {
        {3, 1, 6},   {3, 5, 60},
        {3, 6, 60},  {3, 4000000000u, 60},
        {40, 1, 60}, {90, 1, 90},
        {0, 3, 0},   {1, 6, 60},
        {1, 5, 32},  {18446744073709551615u, 6, 18446744073709551615u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(backoff_secs(c.interval, c.k), c.want) << c.interval << " " << c.k;
    }
}

}  // namespace
}  // namespace wd
