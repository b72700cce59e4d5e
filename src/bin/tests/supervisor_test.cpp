#include "bin/supervisor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>

#include "bin/hang_dump.h"
#include "record_texts.h"
#include "sim_loop.h"

namespace wd {
namespace {

using fakes::DIR;
using fakes::HUNG;
using fakes::Loop;
using fakes::SimProcess;
using fakes::SimWorld;
using fakes::spawned;

using fakes::SENTINEL;

TEST(Supervise, FirstTickLaunchesAtOnceWithThePlainPause) {
    SimWorld world;
    Loop loop(world);
    EXPECT_EQ(loop.tick(), 3u);
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
    loop.ticks(30);  // a healthy player: nothing more happens
    EXPECT_TRUE(loop.messages().empty());
    EXPECT_EQ(world.alive_count(), 1u);
}

TEST(Supervise, ExitsAreLoggedRelaunchedInTheSameTickAndRecordedUnlessNormal) {
    const struct {
        std::uint32_t code;
        std::string status;
        bool recorded;
    } cases[] = {
        {0, "code 0", false},
        {3, "code 3", false},
        {1, "code 1", true},
        {3221225477u, "code 0xc0000005", true},
    };
    for (const auto& c : cases) {
        SimWorld world;
        world.behaviour = [&](SimProcess& p) {
            p.heartbeat = true;
            if (p.pid == 1000) {
                p.exits_at_ms = 1'765'000'100'000;  // 100 s after the start
                p.exits_with = c.code;
            }
        };
        Loop loop(world);
        loop.ticks(35);  // the 35th tick, at t = 102 s, finds the exit
        const std::string exited = "player exited (" + c.status + ")";
        EXPECT_EQ(loop.messages(), (std::vector<std::string>{spawned(1000), exited, spawned(1001)}))
            << c.code;
        EXPECT_EQ(world.files.count(DIR + u"\\recoveries.txt") == 1, c.recorded) << c.code;
        if (c.recorded) {
            EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "1");
            EXPECT_EQ(world.files[DIR + u"\\last-crash.json"],
                      "{\"what\":\"" + exited + "\",\"at\":1765000102000}");
        }
    }
}

TEST(Supervise, APlayerThatDiesAtOnceBacksOffByDoublingUpToAMinute) {
    for (const bool wake : {false, true}) {
        SimWorld world;
        world.behaviour = [&](SimProcess& p) {
            p.exits_at_ms = world.wall_ms;
            p.exits_with = 1;
        };
        WatchdogConfig config;
        config.wake_on_exit = wake;
        Loop loop(world, config);
        std::vector<std::string> rapid;
        std::vector<std::uint64_t> pauses;
        std::vector<std::uint64_t> slept_ms;
        for (int i = 0; i < 9; ++i) {
            const std::uint64_t before = world.wall_ms;
            pauses.push_back(loop.tick());
            slept_ms.push_back(world.wall_ms - before);
            for (const auto& m : loop.messages()) {
                if (m.rfind("rapid restart", 0) == 0) rapid.push_back(m);
            }
        }
        EXPECT_EQ(rapid,
                  (std::vector<std::string>{
                      "rapid restart #1; backing off 6s", "rapid restart #2; backing off 12s",
                      "rapid restart #3; backing off 24s", "rapid restart #4; backing off 48s",
                      "rapid restart #5; backing off 60s", "rapid restart #6; backing off 60s"}))
            << wake;
        // After 60 s the grace has passed: a plain relaunch that leaves the count, then #6,
        // then (60 s later again) another plain one.
        EXPECT_EQ(pauses, (std::vector<std::uint64_t>{3, 6, 12, 24, 48, 60, 3, 60, 3})) << wake;
        // Back-offs are slept in full either way; the wake cuts only the plain pauses short,
        // at the exit of the player that died as it started.
        const std::vector<std::uint64_t> full{3000,  6000, 12000, 24000, 48000,
                                              60000, 3000, 60000, 3000};
        const std::vector<std::uint64_t> woken{0, 6000, 12000, 24000, 48000, 60000, 0, 60000, 0};
        EXPECT_EQ(slept_ms, wake ? woken : full);
        EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "8") << wake;
        EXPECT_LE(world.alive_count(), 1u);
    }
}

// With the wake on, only the pause after a tick with the own child running ends early, and
// only at that child's end; the next tick then handles the exit as any tick would.
TEST(Supervise, TheWakeOnExitEndsOnlyAPlainPauseOverTheOwnChild) {
    const std::uint64_t START = 1'765'000'000'000;
    enum Player { Own, Adopted, Hangs, WaitsFail, Closed };
    const struct {
        const char* name;
        bool wake;
        Player player;
        std::uint64_t interval;
        const char* event;    // the line whose time is measured
        std::uint64_t at_ms;  // after the start
    } cases[] = {
        {"off: the next tick", false, Own, 3, "player exited (code 1)", 102'000},
        {"on: at the exit", true, Own, 3, "player exited (code 1)", 100'500},
        {"on: an adopted player is no child", true, Adopted, 3, "spawned player", 102'000},
        {"off: a hang by its liveness", false, Hangs, 3, "player hung", 129'000},
        {"on: a hang by its liveness too", true, Hangs, 3, "player hung", 129'000},
        // A wait that fails takes its slice of a day; the rest of the pause is slept.
        {"on: waits that fail", true, WaitsFail, 90'000, "player exited (code 1)", 90'000'000},
        // Closed at 99 s: the own child's exit at 100.5 s wakes no stand-down pause.
        {"on: standing down", true, Closed, 3, "player closed by the operator", 99'000},
    };
    for (const auto& c : cases) {
        SimWorld world;
        world.behaviour = [&](SimProcess& p) {
            p.heartbeat = true;
            if (p.pid != 1000) return;
            if (c.player != Hangs) p.exits_at_ms = START + 100'500;
            p.exits_with = 1;
            p.wait_fails = c.player == WaitsFail;
        };
        if (c.player == Adopted) {
            SimProcess& other = world.add_process(SimProcess{});
            world.write_liveness(other);
            other.heartbeat = true;
            other.exits_at_ms = START + 100'500;
        }
        WatchdogConfig config;
        config.wake_on_exit = c.wake;
        config.check_interval_secs = c.interval;
        Loop loop(world, config);
        std::vector<std::uint64_t> slept_ms;
        while (world.wall_ms < START + std::max<std::uint64_t>(200'000, 2 * c.interval * 1000)) {
            if (c.player == Hangs && world.wall_ms >= START + 99'000) {
                world.processes.at(1000).heartbeat = false;  // silent from 99 s on
            }
            if (c.player == Closed && world.wall_ms == START + 99'000) {
                world.files[DIR + u"\\closed.json"] =
                    fakes::closed_json(world.wall_ms, world.logon_time);
            }
            const std::uint64_t before = world.wall_ms;
            loop.tick();
            slept_ms.push_back(world.wall_ms - before);
        }
        const std::string& log = world.stderr_text;
        const std::size_t at = log.find(c.event);
        ASSERT_NE(at, std::string::npos) << c.name << "\n" << log;
        const std::size_t open = log.rfind('[', at);
        EXPECT_EQ(std::stoull(log.substr(open + 1, 13)), START + c.at_ms) << c.name << "\n" << log;
        // Every pause but the one the exit ended is slept in full.
        const auto short_pauses = std::count_if(slept_ms.begin(), slept_ms.end(),
                                                [&](auto ms) { return ms != c.interval * 1000; });
        EXPECT_EQ(short_pauses, c.wake && c.player == Own ? 1 : 0) << c.name;
        // The tick the wake starts does not ask tasklist about the child that just ended.
        const auto probes_of_1000 = std::count_if(
            world.tool_calls.begin(), world.tool_calls.end(),
            [](const auto& call) { return call.args == tasklist_args(1000, "player.exe"); });
        if (c.player == Own) {
            EXPECT_EQ(probes_of_1000, c.wake ? 0 : 1) << c.name;
        }
    }
}

TEST(Supervise, LongIntervalsAgainstTheGrace) {
    const struct {
        std::uint64_t interval;
        std::uint64_t grace_ms;
        std::vector<std::uint64_t> pauses;
    } cases[] = {
        {40, 60'000, {40, 60, 40, 60}},  // 40 s after a launch is rapid; 60 s is not
        {90, 300'000, {90, 90, 90, 90}},
        {90, 60'000, {90, 90, 90, 90}},  // never rapid: a tick is always 90 s after
    };
    for (const auto& c : cases) {
        SimWorld world;
        world.behaviour = [&](SimProcess& p) { p.exits_at_ms = world.wall_ms; };
        WatchdogConfig config;
        config.check_interval_secs = c.interval;
        config.startup_grace_ms = c.grace_ms;
        Loop loop(world, config);
        std::vector<std::uint64_t> pauses(4);
        for (auto& pause : pauses) pause = loop.tick();
        EXPECT_EQ(pauses, c.pauses) << c.interval << "/" << c.grace_ms;
    }
}

TEST(Supervise, ASilentPlayerIsExcusedForTheGraceThenEndedRecordedAndRelaunched) {
    SimWorld world;
    world.behaviour = [](SimProcess&) {};  // runs, never writes liveness.json
    Loop loop(world);
    loop.ticks(20);  // t = 0 .. 57 s
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
    loop.tick();  // t = 60 s
    EXPECT_EQ(loop.messages(),
              (std::vector<std::string>{"player hung (process alive, liveness stale) - killing",
                                        spawned(1001)}));
    EXPECT_FALSE(world.processes[1000].alive);
    EXPECT_EQ(world.processes[1000].exit_code, 1u);
    EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "1");
    EXPECT_EQ(world.files[DIR + u"\\last-crash.json"],
              R"({"what":"player hung - ended and started again","at":1765000060000})");
}

// After a reboot the machine may have been up for a long time before the watchdog starts; a
// player it finds running silent gets the whole grace from the watchdog's own start.
TEST(Supervise, ASilentPlayerFoundAtStartUpGetsTheWholeGraceFromTheWatchdogsStart) {
    SimWorld world;
    world.mono_ns = 3'000'000'000'000;  // fifty minutes since the machine booted
    SimProcess& loading = world.add_process({});
    world.write_liveness(loading, world.wall_ms - 3'600'000);  // its last run's record
    Loop loop(world);
    loop.ticks(20);  // t = 0 .. 57 s
    EXPECT_TRUE(loop.messages().empty());
    loop.tick();  // t = 60 s
    EXPECT_EQ(loop.messages(),
              (std::vector<std::string>{"player hung (process alive, liveness stale) - killing",
                                        spawned(1001)}));
}

TEST(Supervise, LivenessAgeAgainstTheHangTimeout) {
    const struct {
        std::int64_t age_ms;
        bool hung;
    } cases[] = {{30'000, true}, {29'999, false}, {-5'000, false}, {600'000, true}};
    for (const auto& c : cases) {
        SimWorld world;
        world.behaviour = [](SimProcess&) {};
        Loop loop(world);
        loop.ticks(20);
        loop.messages();
        world.create_dirs(DIR);
        world.files[DIR + u"\\liveness.json"] = fakes::liveness_json(
            1000, static_cast<std::uint64_t>(static_cast<std::int64_t>(world.wall_ms) - c.age_ms));
        loop.tick();
        const auto m = loop.messages();
        EXPECT_EQ(!m.empty() && m[0].rfind("player hung", 0) == 0, c.hung) << c.age_ms;
    }
}

// One tick with the watchdog's own startup grace long past and a player someone else started
// (pid 1000, silent unless a test writes its liveness record).
struct PastTheGrace {
    SimWorld world;
    WatchdogConfig config;
    SupervisorState state;
    PastTheGrace() : state(initial_state(world)) {
        world.advance_ms(600'000);
        state.memory.prev_wall_ms = world.wall_ms;
        state.memory.prev_ns = world.mono_ns;
        world.add_process(1000, "player.exe");
        world.create_dirs(DIR);
    }
    void player_json(std::string text) { world.files[DIR + u"\\player.json"] = std::move(text); }
    void liveness(std::int64_t age_ms) {
        world.write_liveness(
            world.processes.at(1000),
            static_cast<std::uint64_t>(static_cast<std::int64_t>(world.wall_ms) - age_ms));
    }
    bool hung_at_next_tick() {
        run_tick(world, config, state);
        return world.stderr_text.find("player hung") != std::string::npos;
    }
};

// An adopted player is excused for the startup grace from its own startedAt, up to and not
// including startedAt plus the grace, however long the watchdog has been running.
TEST(Supervise, AnAdoptedPlayerIsExcusedForTheGraceFromItsOwnStart) {
    const struct {
        const char* name;
        std::string record;
        bool hung;
    } cases[] = {
        {"started 59.999 s ago", fakes::player_json(1000, 1765000540001), false},
        {"started 60 s ago", fakes::player_json(1000, 1765000540000), true},
        {"no startedAt", fakes::player_json(1000), true},
        {"found through liveness only: its startedAt is not its own",
         fakes::player_json(7, 1765000590000), true},
    };
    for (const auto& c : cases) {
        PastTheGrace t;
        t.player_json(c.record);
        t.liveness(40'000);
        EXPECT_EQ(t.hung_at_next_tick(), c.hung) << c.name;
    }
}

// The wall clock may run ahead of the monotonic clock by up to 10 s between two ticks before
// the tick counts as a clock jump (which excuses a stale liveness record).
TEST(Supervise, AClockJumpIsMoreThanTenSecondsOfSlack) {
    const struct {
        std::uint64_t extra_wall_ms;
        bool hung;
    } cases[] = {{10'000, true}, {10'001, false}};
    for (const auto& c : cases) {
        PastTheGrace t;
        t.config.hang_timeout_ms = 5'000;
        t.liveness(0);
        EXPECT_FALSE(t.hung_at_next_tick());
        t.world.advance_ms(3'000);  // the pause: both clocks
        t.world.wall_ms += c.extra_wall_ms;
        EXPECT_EQ(t.hung_at_next_tick(), c.hung) << c.extra_wall_ms;
    }
}

// Stand-down ticks keep the clock readings current, so the first tick after a long stand-down
// judges the player normally instead of taking the stand-down for a clock jump.
TEST(Supervise, TheFirstTickAfterALongStandDownIsNotAClockJump) {
    PastTheGrace t;
    t.liveness(0);
    t.world.files[DIR + u"\\closed.json"] = fakes::closed_json(t.world.wall_ms);
    for (int i = 0; i < 200; ++i) {  // ten minutes standing down
        t.world.sleep_secs(run_tick(t.world, t.config, t.state).secs);
    }
    t.world.files.erase(DIR + u"\\closed.json");
    EXPECT_TRUE(t.hung_at_next_tick());
}

// The count of rapid restarts goes back to 0 only at a tick that sees the player alive with a
// fresh liveness record; at its maximum it stays there.
TEST(Supervise, RapidRestartCountResetsOnlyWhenAliveAndFresh) {
    const struct {
        const char* name;
        bool alive;
        std::int64_t liveness_age_ms;
        bool updating;  // a young update keeps the tick idle whether or not a player runs
        std::uint32_t after;
    } cases[] = {
        {"alive and fresh", true, 1'000, false, 0},
        {"alive, silent, within the update's grace", true, 40'000, true, 4},
        {"fresh record, nobody alive, within the update's grace", false, 1'000, true, 4},
    };
    for (const auto& c : cases) {
        PastTheGrace t;
        t.state.memory.rapid_restarts = 4;
        t.liveness(c.liveness_age_ms);
        t.world.processes.at(1000).alive = c.alive;
        if (c.updating) {
            fakes::put(t.world, SENTINEL, fakes::updating_json(t.world.wall_ms));
        }
        EXPECT_FALSE(t.hung_at_next_tick()) << c.name;
        EXPECT_EQ(t.state.memory.rapid_restarts, c.after) << c.name;
    }

    PastTheGrace top;
    top.world.processes.at(1000).alive = false;
    top.state.memory.rapid_restarts = std::numeric_limits<std::uint32_t>::max();
    // A launch just now: the next one is rapid.
    top.state.memory.launched_at_ns = top.world.mono_ns;
    run_tick(top.world, top.config, top.state);
    EXPECT_EQ(top.state.memory.rapid_restarts, std::numeric_limits<std::uint32_t>::max());
    EXPECT_NE(top.world.stderr_text.find("rapid restart #4294967295; backing off 60s"),
              std::string::npos);
}

TEST(Supervise, AWallClockSetForwardExcusesOneTickOnly) {
    SimWorld world;
    world.behaviour = [](SimProcess&) {};
    Loop loop(world);
    loop.ticks(19);  // t = 54 s
    loop.messages();
    world.create_dirs(DIR);
    world.files[DIR + u"\\liveness.json"] = fakes::liveness_json(1000, world.wall_ms);
    loop.ticks(2);  // t = 57, 60 s: fresh
    world.wall_ms += 3'600'000;
    loop.tick();  // the jump: stale, but excused
    EXPECT_TRUE(loop.messages().empty());
    loop.tick();
    const auto m = loop.messages();
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m[0], "player hung (process alive, liveness stale) - killing");
}

// As installed from the package: the watchdog alone with its status program, until the
// player's record names the player.
TEST(Supervise, NoExecutableIsReportedEveryTickWithThePlainPause) {
    SimWorld world;
    world.files.erase(world.player_exe);
    world.files[u"C:\\Program Files\\Vellum\\watchdog-status.exe"] = "MZ";
    Loop loop(world);
    std::vector<std::uint64_t> pauses(3);
    for (auto& pause : pauses) pause = loop.tick();
    EXPECT_EQ(pauses, (std::vector<std::uint64_t>{3, 3, 3}));
    EXPECT_EQ(loop.messages(),
              std::vector<std::string>(
                  3, "cannot resolve player exe (no player.json / override / sibling)"));
    EXPECT_FALSE(loop.state().memory.launched_at_ns);

    world.create_dirs(u"C:\\Signage");
    world.files[u"C:\\Signage\\player.exe"] = "MZ";
    world.files[DIR + u"\\player.json"] =
        fakes::player_json(std::nullopt, std::nullopt, "C:\\Signage\\player.exe");
    loop.tick();
    EXPECT_EQ(loop.messages(),
              std::vector<std::string>{"spawned player pid=1000 (C:\\Signage\\player.exe)"});
}

// A player that starts itself at logon races the watchdog. Before its first launch the
// watchdog looks for one under the player's image name, and waits up to the startup grace from
// its own start for that player's record; relaunches never look.
TEST(Supervise, APlayerThatStartedItselfAtLogonIsAwaitedNotLaunchedTwice) {
    enum Then { WritesItsRecord, StaysSilent, Exits, NoneRuns };
    const std::string WAITING = "player already running (pid=7) - waiting for its record";
    const struct {
        const char* name;
        Then then;
        std::vector<std::string> lines;  // over the first 80 s
    } cases[] = {
        {"adopted once it writes its record at 20 s", WritesItsRecord, {WAITING}},
        {"launched at the end of the grace", StaysSilent, {WAITING, spawned(1000)}},
        {"launched at the tick after it exits at 10 s", Exits, {WAITING, spawned(1000)}},
        {"none runs: launched at once", NoneRuns, {spawned(1000)}},
    };
    for (const auto& c : cases) {
        SimWorld world;
        world.mono_ns = 3'000'000'000'000;  // the machine has been up for a while
        if (c.then != NoneRuns) {
            SimProcess& own = world.add_process(7, "Player.exe");
            if (c.then == Exits) own.exits_at_ms = world.wall_ms + 10'000;
        }
        Loop loop(world);
        std::vector<std::uint64_t> launched_at;
        for (int tick = 0; tick < 27; ++tick) {
            if (c.then == WritesItsRecord && tick == 7) {
                world.create_dirs(DIR);
                world.files[DIR + u"\\player.json"] = fakes::player_json(7, 1765000000000);
                world.processes.at(7).heartbeat = true;
            }
            const std::size_t before = world.spawned.size();
            loop.tick();
            if (world.spawned.size() > before) launched_at.push_back(world.wall_ms / 1000 % 1000);
        }
        EXPECT_EQ(loop.messages(), c.lines) << c.name;
        const std::map<Then, std::vector<std::uint64_t>> at{
            {WritesItsRecord, {}}, {StaysSilent, {60 + 3}}, {Exits, {12 + 3}}, {NoneRuns, {3}}};
        EXPECT_EQ(launched_at, at.at(c.then)) << c.name << " (second after the pause)";

        // Once a launch was made, a relaunch after a crash looks for nothing by image name.
        if (world.spawned.empty()) continue;
        const auto by_image = [&] {
            return std::count_if(
                world.tool_calls.begin(), world.tool_calls.end(), [](const auto& call) {
                    return call.args.size() == 5 && call.args[1].starts_with(u"IMAGENAME");
                });
        };
        const auto probes = by_image();
        world.kill(world.spawned.back(), 1);
        loop.ticks(3);
        EXPECT_EQ(world.spawned.size(), 2u) << c.name;
        EXPECT_EQ(by_image(), probes) << c.name;
    }
}

TEST(Supervise, AFailedStartCountsAsALaunchForTheNextRapidRestart) {
    SimWorld world;
    world.create_dirs(u"C:\\players");
    world.environment[u"VELLUMBEACON_WATCHDOG_PLAYER_EXE"] = u"C:\\players";
    Loop loop(world);
    EXPECT_EQ(loop.tick(), 3u);
    EXPECT_EQ(loop.tick(), 6u);
    const std::string failed =
        "spawn failed (C:\\players): The system cannot find the file specified. (os error 2)";
    EXPECT_EQ(loop.messages(),
              (std::vector<std::string>{failed, "rapid restart #1; backing off 6s", failed}));
}

// Ended by pid; when that is refused, by the image name it was found under.
TEST(Supervise, AnAdoptedPlayerIsNotLaunchedTwiceAndIsEndedThroughTheToolsWhenItGoesSilent) {
    for (const bool refused : {false, true}) {
        SimWorld world;
        SimProcess& adopted = world.add_process({});
        adopted.heartbeat = true;
        adopted.refuses_kill_by_pid = refused;
        world.create_dirs(DIR);
        world.files[DIR + u"\\player.json"] = fakes::player_json(1000, world.wall_ms);
        world.write_liveness(adopted);
        Loop loop(world);
        loop.ticks(30);
        EXPECT_TRUE(loop.messages().empty());
        EXPECT_TRUE(world.spawned.empty());

        world.processes[1000].heartbeat = false;  // goes silent at t = 90 s
        loop.ticks(11);                           // stale from t = 120 s
        EXPECT_EQ(loop.messages(),
                  (std::vector<std::string>{"player hung (process alive, liveness stale) - killing",
                                            spawned(1001)}));
        EXPECT_FALSE(world.processes[1000].alive);
        std::vector<std::vector<std::u16string>> kills;
        for (const auto& call : world.tool_calls) {
            if (call.name == u"taskkill") kills.push_back(call.args);
        }
        std::vector<std::vector<std::u16string>> want{{u"/F", u"/PID", u"1000"}};
        if (refused) want.push_back({u"/F", u"/IM", u"player.exe"});
        EXPECT_EQ(kills, want) << refused;
    }
}

// A tasklist that gives no answer says nothing about the player: the adopted player the last
// check found stays the player (and is still judged by its record) for the startup grace from
// the first failure; before the first launch, the watchdog waits as long; after that, a player
// that cannot be seen is taken as gone. One line when a run of failures begins.
TEST(Supervise, ATasklistWithoutAnAnswerKeepsWhatTheLastCheckSawForTheGrace) {
    const std::string NO_ANSWER =
        "tasklist gave no answer (exit status 1) - asking again at the next check";
    const struct {
        const char* name;
        int fails_from, fails_to;  // the ticks (from 0) at which tasklist fails
        int silent_from;           // the tick from which the adopted player writes nothing
        std::vector<std::string> lines;
        std::size_t alive;   // players running at the end
        bool again = false;  // tasklist fails for two more checks after two good ones
    } cases[] = {
        {"two checks without an answer: no second player", 10, 12, 99, {NO_ANSWER}, 1},
        {"two runs of failures: a line for each", 10, 12, 99, {NO_ANSWER, NO_ANSWER}, 1, true},
        {"the kept player goes silent: the hang rule ends it",
         10,
         99,
         10,
         {NO_ANSWER, HUNG, spawned(1001)},
         1},
        {"failures that last the grace: taken as gone, a player of its own",
         10,
         99,
         99,
         {NO_ANSWER, spawned(1001)},
         2},
        {"no answer from the start: the first launch waits out the grace",
         0,
         99,
         99,
         {NO_ANSWER, spawned(1001)},
         2},
    };
    for (const auto& c : cases) {
        SimWorld world;
        SimProcess& adopted = world.add_process({});
        adopted.heartbeat = true;
        world.create_dirs(DIR);
        world.files[DIR + u"\\player.json"] = fakes::player_json(1000, world.wall_ms);
        world.write_liveness(adopted);
        const auto answers = world.tool_output;
        int tick = 0;
        world.tool_output = [&](const fakes::ToolCall& call) {
            const bool failing = (tick >= c.fails_from && tick < c.fails_to) ||
                                 (c.again && tick >= c.fails_to + 2 && tick < c.fails_to + 4);
            if (call.name == u"tasklist" && failing) return fakes::tool_printed("", 1);
            return answers(call);
        };
        Loop loop(world);
        for (; tick < 40; ++tick) {
            if (tick == c.silent_from) world.processes.at(1000).heartbeat = false;
            loop.tick();
        }
        EXPECT_EQ(loop.messages(), c.lines) << c.name;
        EXPECT_EQ(world.alive_count(), c.alive) << c.name;
    }
}

// After a reboot the pids in old records may belong to anything: only a process under the
// player's image name (player.json's, else the launch's file name) is adopted, and only such
// a process is ever ended through the tools.
TEST(Supervise, OnlyAProcessUnderThePlayersImageIsAdoptedOrEndedThroughTheTools) {
    const std::string named = fakes::player_json(1000);
    const std::string unnamed = fakes::player_json(1000, std::nullopt, fakes::PLAYER_EXE_PATH, "");
    const struct {
        const char* name;
        std::optional<std::string> record;
        std::string image;  // of the silent process under pid 1000
        bool adopted;
    } cases[] = {
        {"record with imageName, the player", named, "player.exe", true},
        {"record with imageName, a stranger", named, "explorer.exe", false},
        {"empty imageName, the player", unnamed, "Player.exe", true},
        {"empty imageName, a stranger", unnamed, "svchost.exe", false},
        {"no record, the liveness pid is the player", std::nullopt, "player.exe", true},
        {"no record, the liveness pid is a stranger", std::nullopt, "chrome.exe", false},
    };
    for (const auto& c : cases) {
        SimWorld world;
        SimProcess& old = world.add_process(1000, c.image);
        world.write_liveness(old, world.wall_ms - 3'600'000);  // an hour old
        if (c.record) world.files[DIR + u"\\player.json"] = *c.record;
        Loop loop(world);
        loop.tick();
        EXPECT_EQ(world.spawned.empty(), c.adopted) << c.name;
        loop.ticks(25);  // past the startup grace: an adopted silent player is hung
        EXPECT_EQ(world.processes.at(1000).alive, !c.adopted) << c.name;
        for (const auto& call : world.tool_calls) {
            if (call.name != u"taskkill") continue;
            EXPECT_TRUE(c.adopted) << c.name;
            EXPECT_EQ(call.args, (std::vector<std::u16string>{u"/F", u"/PID", u"1000"})) << c.name;
        }
    }
}

TEST(Supervise, AChildThatCannotBePolledIsLetGoSilentlyAndFoundAgainByItsLivenessPid) {
    SimWorld world;
    Loop loop(world);
    loop.tick();
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
    world.processes.at(1000).poll_fails = true;
    loop.ticks(25);  // past the startup grace
    EXPECT_TRUE(loop.messages().empty()) << "released without a line, then adopted";
    EXPECT_FALSE(loop.state().child);
    EXPECT_EQ(loop.state().memory.adopted_pid, 1000u);
    EXPECT_EQ(world.spawned.size(), 1u);

    // Once it is gone nothing is found: a new player is launched and the old adoption kept.
    world.kill(1000, 1);
    loop.tick();
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1001)});
    EXPECT_EQ(loop.state().memory.adopted_pid, 1000u);
    EXPECT_EQ(world.files.count(DIR + u"\\recoveries.txt"), 0u) << "an unseen exit is not recorded";
}

// A ceiling of 100 MB over a healthy, reporting player (its own child, or one it adopted): each
// row sets the player's private memory before each check once the startup grace has passed.
// Only a player over the ceiling at two checks in a row is ended, recorded and relaunched.
TEST(Supervise, AMemoryCeilingEndsAPlayerOverItAtTwoChecksInARow) {
    constexpr std::uint64_t MIB = BYTES_PER_MIB;
    const std::optional<std::uint64_t> fails;
    const std::string over_150 =
        "player over memory limit (150 MB private, limit 100 MB) - killing";
    const struct {
        const char* name;
        std::uint64_t limit_mb;
        bool adopted;
        std::vector<std::optional<std::uint64_t>> reads;
        std::string ended;  // the line, when the player is ended at the last check
    } cases[] = {
        {"over at two checks", 100, false, {150 * MIB, 150 * MIB}, over_150},
        {"a byte over is over, and shown rounded up",
         100,
         false,
         {100 * MIB + 1, 100 * MIB + 1},
         "player over memory limit (101 MB private, limit 100 MB) - killing"},
        {"at the ceiling is not over", 100, false, {100 * MIB, 100 * MIB}, ""},
        {"over, under, over", 100, false, {150 * MIB, 100 * MIB, 150 * MIB}, ""},
        {"a failed read is no excess and breaks the run",
         100,
         false,
         {150 * MIB, fails, 150 * MIB},
         ""},
        {"adopted, over at two checks: ended by its pid",
         100,
         true,
         {150 * MIB, 150 * MIB},
         over_150},
        {"no ceiling: nothing is read", 0, false, {150 * MIB, 150 * MIB, 150 * MIB}, ""},
    };
    for (const auto& c : cases) {
        SimWorld world;
        WatchdogConfig config;
        config.memory_limit_mb = c.limit_mb;
        config.hang_dumps = 1;  // a player over the ceiling did not hang: it is not dumped
        if (c.adopted) {
            SimProcess& p = world.add_process({});
            p.heartbeat = true;
            world.write_liveness(p);
            world.files[DIR + u"\\player.json"] = fakes::player_json(1000, world.wall_ms - 60'000);
        }
        Loop loop(world, config);
        loop.ticks(21);  // past the grace
        loop.messages();
        for (const auto& bytes : c.reads) {
            world.processes.at(1000).private_bytes = bytes;
            loop.tick();
        }
        const auto said = loop.messages();
        if (c.ended.empty()) {
            EXPECT_TRUE(said.empty()) << c.name << ": " << testing::PrintToString(said);
            EXPECT_TRUE(world.processes.at(1000).alive) << c.name;
        } else {
            EXPECT_EQ(said, (std::vector<std::string>{c.ended, spawned(1001)})) << c.name;
            EXPECT_FALSE(world.processes.at(1000).alive) << c.name;
            EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "1") << c.name;
            EXPECT_NE(world.files[DIR + u"\\last-crash.json"].find(
                          "{\"what\":\"player over memory limit - ended and started again\""),
                      std::string::npos)
                << c.name;
        }
        if (c.limit_mb == 0) {
            EXPECT_EQ(world.memory_reads, 0u);
        }
    }
}

// The windows check over a player that keeps its liveness record fresh (interval 3 s, grace
// 60 s): each row says what its windows answer at the checks from 72 s on. Only a run of
// checks at which none answered, lasting the setting, ends it, once, as a hang is ended.
TEST(Supervise, AFrozenScreenWithAFreshRecordIsEndedOnceNoWindowHasAnsweredLongEnough) {
    using enum WindowsAnswer;
    const std::string dumped = "hang dump written to " + utf16_to_utf8_lossy(fakes::DUMPS) + "\\" +
                               utf16_to_utf8_lossy(hang_dump_name(1'765'000'084'000, 1000));
    const struct {
        const char* name;
        std::uint64_t setting_secs;
        std::uint64_t hang_dumps;
        std::vector<WindowsAnswer> answers;
        std::vector<std::string> said;
        // Its windows one by one: a visible one that answers or not, or, once Windows has
        // put a ghost in its place, a hidden one that Windows reports hung.
        bool ghosted = false;
    } cases[] = {
        {"frozen for four intervals",
         10,
         0,
         {NoneAnswered, NoneAnswered, NoneAnswered, NoneAnswered, NoneAnswered},
         {"player not responding (no window answered for 12s) - killing", spawned(1001)}},
        {"frozen, and hidden by Windows behind its ghost window: still not responding",
         10,
         0,
         {Answered, NoneAnswered, NoneAnswered, NoneAnswered, NoneAnswered, NoneAnswered},
         {"player not responding (no window answered for 12s) - killing", spawned(1001)},
         true},
        {"with hang dumps on, dumped first",
         10,
         1,
         {NoneAnswered, NoneAnswered, NoneAnswered, NoneAnswered, NoneAnswered},
         {"player not responding (no window answered for 12s) - killing", dumped, spawned(1001)}},
        {"frozen for under the setting", 10, 0, {NoneAnswered, NoneAnswered, NoneAnswered}, {}},
        {"an answer starts the count again",
         10,
         0,
         {NoneAnswered, NoneAnswered, NoneAnswered, Answered, NoneAnswered, NoneAnswered,
          NoneAnswered, NoneAnswered},
         {}},
        {"a check with no visible window starts it again too",
         10,
         0,
         {NoneAnswered, NoneAnswered, NoneAnswered, NoVisibleWindow, NoneAnswered, NoneAnswered,
          NoneAnswered, NoneAnswered},
         {}},
        {"off: no window is asked", 0, 0, std::vector<WindowsAnswer>(8, NoneAnswered), {}},
    };
    for (const auto& c : cases) {
        SimWorld world;
        WatchdogConfig config;
        config.not_responding_ms = c.setting_secs * 1000;
        config.hang_dumps = c.hang_dumps;
        Loop loop(world, config);
        loop.ticks(24);  // past the grace
        EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)}) << c.name;
        for (const WindowsAnswer answer : c.answers) {
            auto& player = world.processes.at(1000);
            player.windows = answer;
            if (c.ghosted) {
                // A window hidden by the ghost of a hung one, and a hidden one of its own.
                const WindowSeen shown{true, false, answer == Answered};
                const WindowSeen ghosted{false, true, false};
                player.window_list = {answer == Answered ? shown : ghosted, WindowSeen{}};
            }
            loop.tick();
        }
        EXPECT_EQ(loop.messages(), c.said) << c.name;
        EXPECT_EQ(world.processes.at(1000).alive, c.said.empty()) << c.name;
        if (!c.said.empty()) {
            EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "1") << c.name;
            EXPECT_NE(world.files[DIR + u"\\last-crash.json"].find(
                          "{\"what\":\"player not responding - ended and started again\""),
                      std::string::npos)
                << c.name;
        }
        if (c.setting_secs == 0) {
            EXPECT_EQ(world.window_asks, 0u) << c.name;
        }
    }
}

// A day of a healthy player: one launch, nothing logged after it, and each check reads only
// its few small records. How long the day takes to simulate is for the bench, not a test.
TEST(Supervise, ASimulatedDayOfAHealthyPlayerLaunchesOnceAndReadsLittle) {
    SimWorld world;
    Loop loop(world);
    const auto before = std::chrono::steady_clock::now();
    loop.ticks(86'400 / 3);
    const auto took = std::chrono::steady_clock::now() - before;
    std::printf("a simulated day of healthy supervision: %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_EQ(world.spawned.size(), 1u);
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
    EXPECT_LT(world.bytes_read / (86'400 / 3), 200u) << "bytes read per check";
}

// Planned restarts in a running loop: the daily time restarts the player once each local date,
// a request restarts it at once, and neither is a recovery or a rapid restart. Without the
// setting the local time is never asked for.
TEST(Supervise, PlannedRestartsAreNoRecoveriesAndTheDailyOneComesOnceADate) {
    const Path request = DIR + u"\\restart.json";
    SimWorld world;  // 05:46:40 UTC, the local time here
    WatchdogConfig config;
    config.check_interval_secs = 60;
    config.daily_restart_minute = 5 * 60 + 50;
    Loop loop(world, config);
    loop.tick();
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
    loop.ticks(2 * 24 * 60);
    const std::string daily = "daily restart (05:50) - ending the player";
    EXPECT_EQ(loop.messages(),
              (std::vector<std::string>{daily, spawned(1001), daily, spawned(1002)}));
    fakes::put(world, request, restart_request_json(world.wall_ms));
    loop.tick();
    EXPECT_EQ(loop.messages(),
              (std::vector<std::string>{"player restart requested - ending it", spawned(1003)}));
    EXPECT_EQ(world.files.count(request), 0u);
    EXPECT_EQ(world.files.count(DIR + u"\\recoveries.txt"), 0u);
    EXPECT_EQ(world.files.count(DIR + u"\\last-crash.json"), 0u);

    SimWorld unset;
    Loop plain(unset);
    plain.ticks(100);
    EXPECT_EQ(plain.messages(), std::vector<std::string>{spawned(1000)});
    EXPECT_TRUE(unset.local_clock_reads.empty());
}

}  // namespace
}  // namespace wd
