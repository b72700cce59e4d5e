// watchdog-status --restart-player against a simulated watchdog that checks once a second
// while the command waits.
#include "status/restart.h"

#include <gtest/gtest.h>

#include "record_texts.h"
#include "sim_loop.h"

namespace wd {
namespace {

using fakes::DIR;
using fakes::SimWorld;

const Path REQUEST = DIR + u"\\restart.json";

// A watchdog (pid 4242) that started and launched the player; the command runs as pid 5555.
struct Running {
    SimWorld world;
    SupervisorState watchdog;
    WatchdogConfig config;
    bool checks = true;
    Running() : watchdog(initial_state(world)) {
        world.create_dirs(DIR);
        world.files[fakes::LOCK] = "4242";
        world.add_process(4242, "watchdog.exe");
        run_tick(world, config, watchdog);
        world.own_pid = 5555;
        world.after_sleep = [this] {
            if (checks) run_tick(world, config, watchdog);
        };
    }
};

TEST(RestartPlayer, EachOutcomeItsLineAndStatus) {
    const struct {
        const char* name;
        void (*situation)(Running&);
        RestartOutcome outcome;
        std::string message;
        int status;
    } rows[] = {
        {"a running player is restarted", [](Running&) {}, RestartOutcome::Restarted,
         "player restarted (pid=1001)", 0},
        {"a close stands: the watchdog's reason",
         [](Running& r) {
             fakes::put(r.world, fakes::CLOSED, fakes::closed_json(r.world.wall_ms, std::nullopt));
         },
         RestartOutcome::Declined,
         "player restart request ignored - closed by the operator until the next logon", 1},
        {"nothing to relaunch", [](Running& r) { r.world.files.erase(r.world.player_exe); },
         RestartOutcome::Declined,
         "cannot resolve player exe (no player.json / override / sibling)", 1},
        {"no check in 30 s: withdrawn", [](Running& r) { r.checks = false; },
         RestartOutcome::NotTaken,
         "the watchdog did not take the request within 30 s; it was withdrawn", 1},
        {"no watchdog runs: nothing written",
         [](Running& r) { r.world.processes.at(4242).alive = false; }, RestartOutcome::NoWatchdog,
         "no watchdog is running for "
         "C:\\Users\\kiosk\\AppData\\Roaming\\com.vellumbeacon.player\\watchdog; nothing was "
         "requested",
         2},
    };
    for (const auto& row : rows) {
        Running r;
        row.situation(r);
        const RestartResult got = request_player_restart(r.world, std::nullopt);
        EXPECT_EQ(got.outcome, row.outcome) << row.name;
        EXPECT_EQ(got.message, row.message) << row.name;
        EXPECT_EQ(restart_exit_status(got), row.status) << row.name;
        EXPECT_EQ(r.world.files.count(REQUEST), 0u) << row.name;
        EXPECT_EQ(r.world.files.count(DIR + u"\\recoveries.txt"), 0u) << row.name;
        EXPECT_LE(r.world.sleeps.size(), 2 * RESTART_WAIT_SECS) << row.name;
    }
}

TEST(RestartPlayer, TheOutcomeAsOneJsonObject) {
    EXPECT_EQ(format_restart_json({RestartOutcome::Restarted, 4120, "player restarted (pid=4120)"}),
              "{\"outcome\":\"restarted\",\"pid\":4120,\"message\":\"player restarted "
              "(pid=4120)\"}\n");
    EXPECT_EQ(format_restart_json({RestartOutcome::NotTaken, std::nullopt, "x"}),
              "{\"outcome\":\"not-taken\",\"pid\":null,\"message\":\"x\"}\n");
    EXPECT_EQ(format_restart_text({RestartOutcome::Declined, std::nullopt, "a\x1b[2Jb"}),
              "a\\u001b[2Jb\n");
}

}  // namespace
}  // namespace wd
