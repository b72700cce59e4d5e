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

TEST(DecideTick, EachSituationAndWhatTheTickDoes) {
    using enum TickAction;
    using enum TickReason;
    const UpdateState young{UpdateKind::WithinGrace, NOW - 1'000};
    const UpdateState overdue{UpdateKind::PastGrace, NOW - 200'000};
    const struct {
        const char* rule;
        void (*situation)(TickFacts&, const UpdateState&, const UpdateState&);
        TickDecision want;
        bool resets;
    } rows[] = {
        {"a close of this logon stands down before anything else",
         [](TickFacts& f, auto&, auto&) { f.close = CloseDecision::StandDown; },
         {StandDown, Closed},
         false},
        {"a cleared close goes on as if there were none",
         [](TickFacts& f, auto&, auto&) { f.close = CloseDecision::Cleared; },
         {Hung, LivenessStale},
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
         {Hung, LivenessStale},
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
         {Hung, LivenessStale},
         false},
        {"adopted, started 59.999 s ago",
         [](TickFacts& f, auto&, auto&) { f.adopted_started_at_ms = NOW - 59'999; },
         {Idle, AdoptedGrace},
         false},
        {"adopted, started 60 s ago",
         [](TickFacts& f, auto&, auto&) { f.adopted_started_at_ms = NOW - 60'000; },
         {Hung, LivenessStale},
         false},
        {"adopted, started in the future: its window has not opened",
         [](TickFacts& f, auto&, auto&) { f.adopted_started_at_ms = NOW + 1; },
         {Hung, LivenessStale},
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
    };
    for (const auto& row : rows) {
        TickFacts facts = alive_and_silent();
        row.situation(facts, young, overdue);
        const TickDecision got = decide_tick(facts, WatchdogConfig{});
        EXPECT_TRUE(got == row.want) << row.rule;
        EXPECT_EQ(resets_rapid_restarts(facts, got), row.resets) << row.rule;
    }
}

// The rules a tick applies on the way: which exits are recoveries, which launch is a rapid
// restart, and when a closed own child has had its time to exit.
TEST(TickRules, ExitsLaunchesAndClosedChildren) {
    const struct {
        std::uint32_t code;
        bool recovery;
    } exits[] = {{0, false}, {3, false},          {1, true},
                 {2, true},  {3221225477u, true}, {UINT32_MAX, true}};
    for (const auto& e : exits) EXPECT_EQ(exit_is_recovery(e.code), e.recovery) << e.code;

    const struct {
        std::optional<std::uint64_t> since_ms;
        bool rapid;
    } launches[] = {{std::nullopt, false}, {0, true}, {59'999, true}, {60'000, false}};
    for (const auto& l : launches) {
        EXPECT_EQ(is_rapid_restart(l.since_ms, WatchdogConfig{}), l.rapid)
            << l.since_ms.value_or(UINT64_MAX);
    }

    const struct {
        std::uint64_t closed_at;
        bool overdue;
    } closes[] = {{NOW - 15'000, false}, {NOW - 15'001, true}, {NOW + 60'000, false}};
    for (const auto& c : closes) {
        EXPECT_EQ(closed_child_overdue(NOW, c.closed_at), c.overdue) << c.closed_at;
    }
}

TEST(SelfStartedPlayer, OnlyTheFirstLaunchWithinTheGraceFromTheStartWaits) {
    const TickDecision launch{TickAction::Launch, TickReason::NoPlayer};
    const TickDecision overdue{TickAction::Launch, TickReason::UpdateOverdue};
    const TickDecision hung{TickAction::Hung, TickReason::LivenessStale};
    const struct {
        const char* name;
        TickDecision decision;
        bool launched_before;
        std::uint64_t since_ms;
        bool waits;
    } rows[] = {
        {"first launch, just started", launch, false, 0, true},
        {"first launch for an overdue update", overdue, false, 59'999, true},
        {"first launch at the end of the grace", launch, false, 60'000, false},
        {"a relaunch", launch, true, 1'000, false},
        {"a hung player is relaunched", hung, false, 0, false},
    };
    for (const auto& row : rows) {
        TickFacts facts;
        facts.launched_before = row.launched_before;
        facts.since_launch_ms = row.since_ms;
        EXPECT_EQ(may_wait_for_self_started_player(facts, row.decision, WatchdogConfig{}),
                  row.waits)
            << row.name;
    }
}

TEST(LivenessIsFresh, YoungerThanTheHangTimeout) {
    const auto fresh = [](std::optional<std::uint64_t> ts) {
        return liveness_is_fresh(ts ? std::optional<LivenessRecord>({1, *ts}) : std::nullopt, NOW,
                                 30'000);
    };
    EXPECT_TRUE(fresh(NOW - 29'999));
    EXPECT_FALSE(fresh(NOW - 30'000));
    EXPECT_TRUE(fresh(NOW + 60'000));  // stamped ahead of the clock
    EXPECT_FALSE(fresh(std::nullopt));
}

TEST(ClockJumped, MoreThanTenSecondsAheadOfTheMonotonicClock) {
    EXPECT_FALSE(clock_jumped(NOW, NOW + 13'000, 3'000));
    EXPECT_TRUE(clock_jumped(NOW, NOW + 13'001, 3'000));
    EXPECT_FALSE(clock_jumped(NOW, NOW - 3'600'000, 3'000));  // set back
    EXPECT_FALSE(clock_jumped(0, UINT64_MAX, UINT64_MAX));    // the sum saturates
}

}  // namespace
}  // namespace wd
