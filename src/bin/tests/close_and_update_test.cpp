// The operator's close and the updater's sentinel, as the supervision loop honours them.
#include <gtest/gtest.h>

#include "bin/supervisor.h"
#include "record_texts.h"
#include "sim_loop.h"

namespace wd {
namespace {

using fakes::DIR;
using fakes::Loop;
using fakes::PLAYER;
using fakes::SimProcess;
using fakes::SimWorld;
using fakes::spawned;

using fakes::CLOSED;
using fakes::SENTINEL;
const std::string STAND_DOWN = "player closed by the operator - standing down until the next logon";
const std::string CLEARED = "close from an earlier session cleared - supervising again";
const std::string ENDING = "closed player did not exit - ending it";
const std::string VERIFY = "verify-pending: launched player after update grace";
constexpr std::int64_t HOUR_MS = 3'600'000;

void put_closed(SimWorld& world, std::uint64_t closed_at, std::optional<std::int64_t> logon) {
    fakes::put(world, CLOSED, fakes::closed_json(closed_at, logon));
}

void put_sentinel(SimWorld& world, std::uint64_t started_at) {
    fakes::put(world, SENTINEL, fakes::updating_json(started_at, "2.4.0"));
}

bool recorded(const SimWorld& world) {
    return world.files.count(DIR + u"\\recoveries.txt") > 0;
}

// Whose close it is: the logon times when both are known, otherwise the close's age.
TEST(CloseCheck, SameLogonStandsDownForEverOtherwiseTwelveHoursDecide) {
    constexpr std::int64_t NOW_LOGON = 133'000'000'000'000'000;
    const struct {
        const char* name;
        std::optional<std::int64_t> flag_logon;
        std::optional<std::int64_t> session_logon;
        std::int64_t age_ms;  // negative: closedAt in the future
        bool cleared;
    } cases[] = {
        {"same logon, days old", NOW_LOGON, NOW_LOGON, 72 * HOUR_MS, false},
        {"other logon, just now", NOW_LOGON - 1, NOW_LOGON, 0, true},
        {"no flag logon, 11:59", std::nullopt, NOW_LOGON, 12 * HOUR_MS - 60'000, false},
        {"no flag logon, 12:00", std::nullopt, NOW_LOGON, 12 * HOUR_MS, true},
        {"no session logon, 11:59", NOW_LOGON, std::nullopt, 12 * HOUR_MS - 60'000, false},
        {"no session logon, 12:00", NOW_LOGON, std::nullopt, 12 * HOUR_MS, true},
        {"session logon 0 is none", 0, 0, 12 * HOUR_MS, true},
        {"closed in the future", std::nullopt, std::nullopt, -5 * HOUR_MS, false},
    };
    for (const auto& c : cases) {
        SimWorld world;
        world.logon_time = c.session_logon;
        put_closed(world, world.wall_ms - c.age_ms, c.flag_logon);
        Loop loop(world);
        loop.tick();
        const bool cleared = c.cleared;
        EXPECT_EQ(world.files.count(CLOSED), cleared ? 0u : 1u) << c.name;
        EXPECT_EQ(world.stderr_text.find(cleared ? CLEARED : STAND_DOWN) != std::string::npos, true)
            << c.name;
        EXPECT_EQ(world.taskbar_shows, cleared ? 0 : 1) << c.name;
    }
}

TEST(CloseCheck, AnInvalidFlagIsIgnoredEveryTickAndNeverDeleted) {
    const std::string flags[] = {"{}", "{\"closedAt\":", "{\"closedAt\":\"\xff\"}",
                                 "{\"closedAt\":1,\"logonTime\":\"x\"}", "{\"closedAt\":-1}"};
    for (const auto& flag : flags) {
        SimWorld world;
        world.create_dirs(DIR);
        world.files[CLOSED] = flag;
        Loop loop(world);
        loop.ticks(5);
        EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)}) << flag;
        EXPECT_EQ(world.files[CLOSED], flag);
        EXPECT_EQ(world.taskbar_shows, 0);
    }
}

// The player writes the flag and exits, as a close by the operator does.
TEST(StandDown, OneLineAndOneTaskbarShowNoExitLineNoRecordNoLaunchUntilTheFlagGoes) {
    SimWorld world;
    Loop loop(world);
    loop.tick();
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
    put_closed(world, world.wall_ms, world.logon_time);
    world.kill(1000, 1);

    loop.ticks(25);  // past the startup grace of the last launch
    EXPECT_EQ(loop.messages(), std::vector<std::string>{STAND_DOWN});
    EXPECT_EQ(world.taskbar_shows, 1);
    EXPECT_EQ(world.spawned.size(), 1u);
    EXPECT_FALSE(loop.state().child) << "the ended child is let go";
    EXPECT_FALSE(recorded(world));

    // Another program removes the flag: supervision resumes without a line of its own.
    world.files.erase(CLOSED);
    loop.tick();
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1001)});

    // A later close is announced again.
    put_closed(world, world.wall_ms, world.logon_time);
    world.kill(1001, 0);
    loop.ticks(3);
    EXPECT_EQ(loop.messages(), std::vector<std::string>{STAND_DOWN});
    EXPECT_EQ(world.taskbar_shows, 2);
}

TEST(StandDown, TheOwnChildGetsFifteenSecondsAfterTheCloseToExit) {
    const struct {
        std::int64_t since_close_ms;  // negative: closedAt in the future
        bool ended;
    } cases[] = {{15'000, false}, {15'001, true}, {-60'000, false}, {HOUR_MS, true}};
    for (const auto& c : cases) {
        SimWorld world;
        world.logon_time = std::nullopt;
        SupervisorState state = initial_state(world);
        const WatchdogConfig config;
        run_tick(world, config, state);
        ASSERT_TRUE(state.child);
        put_closed(world, world.wall_ms - c.since_close_ms, std::nullopt);

        run_tick(world, config, state);
        EXPECT_NE(world.stderr_text.find(STAND_DOWN), std::string::npos);
        EXPECT_EQ(static_cast<bool>(state.child), !c.ended) << c.since_close_ms;
        EXPECT_EQ(world.processes.at(1000).alive, !c.ended) << c.since_close_ms;
        EXPECT_EQ(world.stderr_text.find(ENDING) != std::string::npos, c.ended);
        EXPECT_FALSE(recorded(world));
    }
}

TEST(StandDown, APlayerTheWatchdogDidNotLaunchIsNeverEnded) {
    SimWorld world;
    SimProcess& adopted = world.add_process({});
    adopted.heartbeat = true;
    world.write_liveness(adopted);
    Loop loop(world);
    loop.tick();
    EXPECT_TRUE(loop.messages().empty()) << "adopted through its liveness pid";
    put_closed(world, world.wall_ms - HOUR_MS, world.logon_time);
    loop.ticks(10);
    EXPECT_EQ(loop.messages(), std::vector<std::string>{STAND_DOWN});
    EXPECT_TRUE(world.processes.at(1000).alive);
    for (const auto& call : world.tool_calls) EXPECT_NE(call.name, u"taskkill");
}

TEST(StandDown, AnEarlierLogonsCloseIsClearedAndTheSameTickLaunches) {
    SimWorld world;
    put_closed(world, world.wall_ms - 60'000, *world.logon_time - 1);
    Loop loop(world);
    loop.tick();
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{CLEARED, spawned(1000)}));
    EXPECT_EQ(world.files.count(CLOSED), 0u);
    loop.ticks(5);
    EXPECT_TRUE(loop.messages().empty());

    // A flag that cannot be deleted is cleared (and logged) at every tick; supervision goes on.
    SimWorld stuck;
    put_closed(stuck, stuck.wall_ms, *stuck.logon_time + 1);
    stuck.undeletable.insert(CLOSED);
    Loop stuck_loop(stuck);
    stuck_loop.ticks(3);
    EXPECT_EQ(stuck_loop.messages(),
              (std::vector<std::string>{CLEARED, spawned(1000), CLEARED, CLEARED}));
    EXPECT_EQ(stuck.taskbar_shows, 0);
}

TEST(UpdateState, GraceFirstThenTheHangCapThenIgnored) {
    const struct {
        const char* name;
        std::uint64_t grace_ms, cap_ms;
        std::int64_t age_ms;  // negative: startedAtMs in the future
        UpdateKind want;
    } cases[] = {
        {"fresh", 120'000, 360'000, 0, UpdateKind::WithinGrace},
        {"119.999 s", 120'000, 360'000, 119'999, UpdateKind::WithinGrace},
        {"120 s", 120'000, 360'000, 120'000, UpdateKind::PastGrace},
        {"359.999 s", 120'000, 360'000, 359'999, UpdateKind::PastGrace},
        {"360 s", 120'000, 360'000, 360'000, UpdateKind::NoUpdate},
        {"in the future", 120'000, 360'000, -HOUR_MS, UpdateKind::WithinGrace},
        {"grace 0", 0, 360'000, 0, UpdateKind::PastGrace},
        {"grace 0, future", 0, 360'000, -HOUR_MS, UpdateKind::PastGrace},
        {"cap below grace, young", 120'000, 60'000, 90'000, UpdateKind::WithinGrace},
        {"cap below grace, past", 120'000, 60'000, 120'000, UpdateKind::NoUpdate},
    };
    constexpr std::uint64_t NOW = 1'765'000'000'000;
    for (const auto& c : cases) {
        const UpdatingSentinel sentinel{NOW - static_cast<std::uint64_t>(c.age_ms), "2.4.0"};
        WatchdogConfig config;
        config.update_grace_ms = c.grace_ms;
        config.update_hang_cap_ms = c.cap_ms;
        const UpdateState got = classify_update(sentinel, config, NOW);
        EXPECT_EQ(got.kind, c.want) << c.name;
        if (got.kind == UpdateKind::PastGrace) {
            EXPECT_EQ(got.started_at_ms, NOW - c.age_ms) << c.name;
        }
    }
}

TEST(UpdateState, OnlyAWholeSentinelInTheUpdatesFolderCounts) {
    const struct {
        Path path;
        std::string text;
    } cases[] = {
        {SENTINEL, "{\"startedAtMs\":1765000000000}"},
        {SENTINEL, "{\"startedAtMs\":-1,\"version\":\"2.4.0\"}"},
        {SENTINEL, "{\"startedAtMs\":1765000000000,\"version\":2}"},
        {SENTINEL, "{\"startedAtMs\":1765000000000,\"version\":\"2.4.0\""},
        {DIR + u"\\updating.json", "{\"startedAtMs\":1765000000000,\"version\":\"2.4.0\"}"},
    };
    for (const auto& c : cases) {
        SimWorld world;
        world.create_dirs(*parent_folder(c.path));
        world.files[c.path] = c.text;
        EXPECT_FALSE(read_updating_sentinel(world, updating_path(world)).value) << c.text;
    }
}

TEST(Update, NoLaunchWithinTheGraceThenOneVerifyPendingLaunch) {
    SimWorld world;
    put_sentinel(world, world.wall_ms - 119'000);
    WatchdogConfig config;
    config.check_interval_secs = 1;
    Loop loop(world, config);
    loop.tick();  // 119 s
    EXPECT_TRUE(loop.messages().empty());
    loop.tick();  // 120 s
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{spawned(1000), VERIFY}));
    EXPECT_TRUE(loop.state().memory.verify_launch_for_ms);
    loop.ticks(20);
    EXPECT_TRUE(loop.messages().empty());
}

TEST(Update, NoVerifyPendingLaunchEverWithGraceZeroOrACapBelowTheGrace) {
    const struct {
        std::uint64_t grace_ms, cap_ms;
        std::vector<std::string> first_tick;
    } cases[] = {
        {0, 360'000, {spawned(1000), VERIFY}},
        {120'000, 60'000, {}},
    };
    for (const auto& c : cases) {
        SimWorld world;
        put_sentinel(world, world.wall_ms);
        WatchdogConfig config;
        config.update_grace_ms = c.grace_ms;
        config.update_hang_cap_ms = c.cap_ms;
        Loop loop(world, config);
        loop.tick();
        EXPECT_EQ(loop.messages(), c.first_tick);
        if (c.first_tick.empty()) {
            loop.ticks(40);  // 120 s: the sentinel is stale at once, a plain launch
            EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
        }
    }
}

TEST(Update, AStaleLivenessRecordIsNotAHangUntilTheSentinelReachesTheCap) {
    SimWorld world;
    world.create_dirs(DIR);
    SimProcess& silent = world.add_process({});
    world.files[DIR + u"\\player.json"] = fakes::player_json(1000, 1);
    world.write_liveness(silent, world.wall_ms - 300'000);
    put_sentinel(world, world.wall_ms - 200'000);
    Loop loop(world);
    int ticks = 0;
    while (ticks < 100 && loop.messages().empty()) {
        loop.tick();
        ++ticks;
    }
    // Ticks at sentinel ages 200, 203, ... s: the first at 360 s or more is the 55th (362 s).
    EXPECT_EQ(ticks, 55);
    EXPECT_FALSE(world.processes.at(1000).alive);
    EXPECT_EQ(world.spawned, std::vector<std::uint32_t>{1001});
}

TEST(Update, AVerifyPendingPlayerThatExitsIsLaunchedAgainWithTheLine) {
    SimWorld world;
    world.behaviour = [&](SimProcess& p) { p.exits_at_ms = world.wall_ms + 2'000; };
    put_sentinel(world, world.wall_ms - 150'000);
    Loop loop(world);
    loop.tick();
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{spawned(1000), VERIFY}));
    loop.tick();
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{"player exited (code 0)",
                                                         "rapid restart #1; backing off 6s",
                                                         spawned(1001), VERIFY}));
}

// Only the exit check clears the verify-pending mark, and a child it cannot poll counts as
// gone: its player, found again through its liveness pid, is then adopted and left alone.
TEST(Update, AVerifyPendingChildThatCannotBePolledClearsTheMark) {
    SimWorld world;
    put_sentinel(world, world.wall_ms - 150'000);
    Loop loop(world);
    loop.tick();
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{spawned(1000), VERIFY}));
    ASSERT_TRUE(loop.state().memory.verify_launch_for_ms);
    world.processes.at(1000).poll_fails = true;
    loop.tick();
    EXPECT_FALSE(loop.state().memory.verify_launch_for_ms);
    EXPECT_FALSE(loop.state().child);
    EXPECT_TRUE(loop.messages().empty());
    EXPECT_EQ(loop.state().memory.adopted_pid, 1000u);
}

TEST(Update, AFailedVerifyPendingSpawnIsNotRetriedForTheSameSentinel) {
    SimWorld world;
    world.spawner = [](const Path&) {
        return SpawnResult(std::string("Access is denied. (os error 5)"));
    };
    put_sentinel(world, world.wall_ms - 150'000);
    Loop loop(world);
    loop.tick();
    const std::string failed = "spawn failed (" + PLAYER + "): Access is denied. (os error 5)";
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{failed, VERIFY}));
    loop.ticks(20);  // 60 s: still within the cap
    EXPECT_TRUE(loop.messages().empty());

    // A new update allows one more verify-pending launch.
    put_sentinel(world, world.wall_ms - 130'000);
    loop.tick();
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{failed, VERIFY}));

    // Once it is stale, launching is normal again.
    loop.ticks(80);
    const auto later = loop.messages();
    ASSERT_FALSE(later.empty());
    EXPECT_EQ(later.front(), failed);
    EXPECT_EQ(std::count(later.begin(), later.end(), VERIFY), 0);
}

}  // namespace
}  // namespace wd
