#include "bin/planned_restart.h"

namespace wd {
namespace {

bool is_daily_check(const TickFacts& facts, const TickMemory& memory,
                    const WatchdogConfig& config) {
    if (!config.daily_restart_minute || !facts.local || !memory.prev_local) return false;
    const std::uint32_t at = *config.daily_restart_minute;
    return facts.local->day == memory.prev_local->day && memory.prev_local->minute < at &&
           facts.local->minute >= at && memory.daily_done_day != facts.local->day;
}

}  // namespace

PlannedRestarts plan_restarts(const TickFacts& facts, const TickMemory& memory,
                              const WatchdogConfig& config, const RestartContext& context) {
    PlannedRestarts planned;
    const auto take = [&](Message line) {
        planned.effects.emplace_back(DeleteRestartRequest{});
        planned.effects.emplace_back(LogMessage{std::move(line)});
    };
    if (facts.restart_state != FileState::Missing) {
        if (!facts.restart) {
            take(msg::restart_invalid(facts.restart_state == FileState::Corrupt
                                          ? "is not a valid request"
                                          : "cannot be read"));
        } else if (context.standing_down) {
            take(age_ms(facts.now_ms, facts.restart->requested_at) > RESTART_REQUEST_MAX_AGE_MS
                     ? msg::restart_too_old()
                     : msg::restart_closed());
        } else if (context.update_in_force) {
            // Waits, untouched, for the update to end.
        } else if (age_ms(facts.now_ms, facts.restart->requested_at) > RESTART_REQUEST_MAX_AGE_MS) {
            take(msg::restart_too_old());
        } else if (context.player_alive) {
            planned.effects.emplace_back(DeleteRestartRequest{});
            planned.restart = TickReason::RestartRequested;
        } else {
            take(msg::restart_no_player());
        }
    }
    planned.daily_check = is_daily_check(facts, memory, config);
    if (planned.daily_check) {
        const std::uint32_t at = *config.daily_restart_minute;
        if (context.standing_down) {
            planned.effects.emplace_back(LogMessage{msg::daily_closed(at)});
        } else if (context.update_in_force) {
            planned.effects.emplace_back(LogMessage{msg::daily_updating(at)});
        } else if (context.player_alive && !planned.restart) {
            planned.restart = TickReason::DailyRestart;
        }
    }
    return planned;
}

}  // namespace wd
