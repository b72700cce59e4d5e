#include "bin/end_reasons.h"

#include <gtest/gtest.h>

namespace wd {
namespace {

// Each reason a player is ended for: the line logged, the recovery recorded, and whether a
// hang dump is taken first. Any other reason ends nothing.
TEST(EndReasons, EachReasonsLineRecordAndDump) {
    WatchdogConfig config;
    config.memory_limit_mb = 100;
    TickDecision decision;
    decision.over_memory = {1000, 2, 150 * BYTES_PER_MIB + 1};
    decision.not_responding = {1000, 5, 21'999};
    const struct {
        TickReason reason;
        std::string line;
        std::string recorded;
        bool dumped;
        std::uint16_t event;
    } rows[] = {
        {TickReason::LivenessStale, "player hung (process alive, liveness stale) - killing",
         "player hung - ended and started again", true, 1005},
        {TickReason::MemoryOverLimit,
         "player over memory limit (151 MB private, limit 100 MB) - killing",
         "player over memory limit - ended and started again", false, 1006},
        {TickReason::NotResponding, "player not responding (no window answered for 21s) - killing",
         "player not responding - ended and started again", true, 1007},
    };
    for (const auto& row : rows) {
        const EndReason* why = end_reason(row.reason);
        ASSERT_NE(why, nullptr) << row.line;
        EXPECT_EQ(why->log_line(decision, config), row.line);
        EXPECT_EQ(why->recorded, row.recorded);
        EXPECT_EQ(why->dumped, row.dumped) << row.line;
        EXPECT_EQ(end_reason_of_line(row.line), why);
        EXPECT_EQ(why->event, (LogEvent{row.event, EventLevel::Warning}));
    }
    for (const TickReason other : {TickReason::Healthy, TickReason::NoPlayer, TickReason::Closed}) {
        EXPECT_EQ(end_reason(other), nullptr);
    }
}

}  // namespace
}  // namespace wd
