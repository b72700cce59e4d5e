// The tick's rules as a table: each row is a situation and what the tick does about it.
#include "bin/decision.h"

#include <gtest/gtest.h>

namespace wd {
namespace {

constexpr std::uint64_t NOW = 1'765'000'000'000;

TickFacts alive_and_silent() {
    TickFacts f;
    f.now_ms = NOW;
    f.player_alive = true;
    f.since_launch_ms = 3'600'000;
    return f;
}

// Over a ceiling of 100 MB at this check, and at the one before for the same player.
void over_ceiling_twice(TickFacts& f) {
    f.memory = MemoryReading{1000, 150 * BYTES_PER_MIB};
    f.over_memory_before = {1000, 1, 150 * BYTES_PER_MIB};
}

constexpr std::uint64_t NOW_NS = 9'000'000'000'000;

// No visible window of the player has answered for `ms`, up to this check.
void frozen_for(TickFacts& f, std::uint64_t ms) {
    f.now_ns = NOW_NS;
    f.windows = WindowsReading{1000, WindowsAnswer::NoneAnswered};
    f.not_responding_before = {1000, NOW_NS - ms * 1'000'000, 0};
}

TEST(DecideTick, EachSituationAndWhatTheTickDoes) {
    using enum TickAction;
    using enum TickReason;
    const UpdateState young{UpdateKind::WithinGrace, NOW - 1'000};
    const UpdateState overdue{UpdateKind::PastGrace, NOW - 200'000};
    const struct {
        const char* rule;
        void (*situation)(TickFacts&, const UpdateState&, const UpdateState&);
        struct {
            TickAction action;
            TickReason reason;
        } want;
        bool resets;
    } rows[] = {
        {"a close of this logon stands down before anything else",
         [](TickFacts& f, auto&, auto&) { f.close = CloseDecision::StandDown; },
         {StandDown, Closed},
         false},
        {"a cleared close goes on as if there were none",
         [](TickFacts& f, auto&, auto&) { f.close = CloseDecision::Cleared; },
         {EndAndRelaunch, LivenessStale},
         false},
        {"no player: launch",
         [](TickFacts& f, auto&, auto&) { f.player_alive = false; },
         {Launch, NoPlayer},
         false},
        {"alive and fresh: idle, and a crash loop is over",
         [](TickFacts& f, auto&, auto&) { f.liveness_fresh = true; },
         {Idle, Healthy},
         true},
        {"alive and silent past every grace: hung",
         [](TickFacts&, auto&, auto&) {},
         {EndAndRelaunch, LivenessStale},
         false},
        {"silent, but the clock was set forward",
         [](TickFacts& f, auto&, auto&) { f.clock_jumped = true; },
         {Idle, ClockJumped},
         false},
        {"silent within the startup grace",
         [](TickFacts& f, auto&, auto&) { f.since_launch_ms = 59'999; },
         {Idle, StartupGrace},
         false},
        {"silent at exactly the startup grace",
         [](TickFacts& f, auto&, auto&) { f.since_launch_ms = 60'000; },
         {EndAndRelaunch, LivenessStale},
         false},
        {"adopted, started 59.999 s ago",
         [](TickFacts& f, auto&, auto&) { f.adopted_started_at_ms = NOW - 59'999; },
         {Idle, AdoptedGrace},
         false},
        {"adopted, started 60 s ago",
         [](TickFacts& f, auto&, auto&) { f.adopted_started_at_ms = NOW - 60'000; },
         {EndAndRelaunch, LivenessStale},
         false},
        {"adopted, started in the future: its window has not opened",
         [](TickFacts& f, auto&, auto&) { f.adopted_started_at_ms = NOW + 1; },
         {EndAndRelaunch, LivenessStale},
         false},
        {"an update within its grace: never hung",
         [](TickFacts& f, auto& y, auto&) { f.update = y; },
         {Idle, UpdateYoung},
         false},
        {"an update within its grace: no launch either",
         [](TickFacts& f, auto& y, auto&) {
             f.update = y;
             f.player_alive = false;
         },
         {Idle, UpdateYoung},
         false},
        {"an update within its grace, alive and fresh: still a healthy player",
         [](TickFacts& f, auto& y, auto&) {
             f.update = y;
             f.liveness_fresh = true;
         },
         {Idle, UpdateYoung},
         true},
        {"an overdue update and a player: idle, even when silent",
         [](TickFacts& f, auto&, auto& o) { f.update = o; },
         {Idle, UpdateOverdueAlive},
         false},
        {"an overdue update and no player: its one launch",
         [](TickFacts& f, auto&, auto& o) {
             f.update = o;
             f.player_alive = false;
         },
         {Launch, UpdateOverdue},
         false},
        {"an overdue update whose launch was made: idle",
         [](TickFacts& f, auto&, auto& o) {
             f.update = o;
             f.player_alive = false;
             f.verify_launch_for_ms = o.started_at_ms;
         },
         {Idle, UpdateLaunchMade},
         false},
        {"a launch made for another update does not count",
         [](TickFacts& f, auto&, auto& o) {
             f.update = o;
             f.player_alive = false;
             f.verify_launch_for_ms = o.started_at_ms - 1;
         },
         {Launch, UpdateOverdue},
         false},
        {"fresh, over the memory ceiling at two checks: ended",
         [](TickFacts& f, auto&, auto&) {
             f.liveness_fresh = true;
             over_ceiling_twice(f);
         },
         {EndAndRelaunch, MemoryOverLimit},
         false},
        {"over the ceiling once, right after one reading over it of another player",
         [](TickFacts& f, auto&, auto&) {
             f.liveness_fresh = true;
             over_ceiling_twice(f);
             f.over_memory_before.pid = 999;
         },
         {Idle, Healthy},
         true},
        {"over the memory ceiling within the startup grace",
         [](TickFacts& f, auto&, auto&) {
             f.liveness_fresh = true;
             over_ceiling_twice(f);
             f.since_launch_ms = 59'999;
         },
         {Idle, Healthy},
         true},
        {"over the memory ceiling, adopted within its grace",
         [](TickFacts& f, auto&, auto&) {
             f.liveness_fresh = true;
             over_ceiling_twice(f);
             f.adopted_started_at_ms = NOW - 59'999;
         },
         {Idle, Healthy},
         true},
        {"silent and over the memory ceiling: hung, as it would be anyway",
         [](TickFacts& f, auto&, auto&) { over_ceiling_twice(f); },
         {EndAndRelaunch, LivenessStale},
         false},
        {"fresh, but no window has answered for the setting's 20 s: ended",
         [](TickFacts& f, auto&, auto&) {
             f.liveness_fresh = true;
             frozen_for(f, 20'000);
         },
         {EndAndRelaunch, NotResponding},
         false},
        {"no window answers, but within the startup grace",
         [](TickFacts& f, auto&, auto&) {
             f.liveness_fresh = true;
             frozen_for(f, 20'000);
             f.since_launch_ms = 59'999;
         },
         {Idle, Healthy},
         true},
        {"the run was another player's: this one's starts now",
         [](TickFacts& f, auto&, auto&) {
             f.liveness_fresh = true;
             frozen_for(f, 20'000);
             f.windows->pid = 1001;
         },
         {Idle, Healthy},
         true},
        {"silent and frozen: hung, one recovery",
         [](TickFacts& f, auto&, auto&) { frozen_for(f, 20'000); },
         {EndAndRelaunch, LivenessStale},
         false},
        {"nothing of ours runs, but a player started itself before the first launch: await it",
         [](TickFacts& f, auto&, auto&) {
             f.player_alive = false;
             f.since_launch_ms = 59'999;
             f.self_started_pid = 7;
         },
         {AwaitPlayer, SelfStarted},
         false},
        {"nothing seen, but tasklist gave no answer, before the first launch: wait",
         [](TickFacts& f, auto&, auto&) {
             f.player_alive = false;
             f.since_launch_ms = 59'999;
             f.player_unseen = true;
         },
         {Idle, PlayerUnseen},
         false},
        {"the same once a launch was made: launch, as for no player",
         [](TickFacts& f, auto&, auto&) {
             f.player_alive = false;
             f.launched_before = true;
             f.since_launch_ms = 10'000;
             f.player_unseen = true;
         },
         {Launch, NoPlayer},
         false},
    };
    for (const auto& row : rows) {
        TickFacts facts = alive_and_silent();
        row.situation(facts, young, overdue);
        WatchdogConfig config;
        config.memory_limit_mb = 100;
        config.not_responding_ms = 20'000;
        const TickDecision got = decide_tick(facts, config);
        EXPECT_EQ(got.action, row.want.action) << row.rule;
        EXPECT_EQ(got.reason, row.want.reason) << row.rule;
        EXPECT_EQ(resets_rapid_restarts(facts, got), row.resets) << row.rule;
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
