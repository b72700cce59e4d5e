#include "bin/end_reasons.h"

namespace wd {
namespace {

Message hung_message(const TickMemory&, const WatchdogConfig&) {
    return msg::hung();
}

Message over_memory_message(const TickMemory& after, const WatchdogConfig& config) {
    return msg::over_memory(whole_mib_up(after.over_memory.bytes), config.memory_limit_mb);
}

Message requested_message(const TickMemory&, const WatchdogConfig&) {
    return msg::restart_requested();
}

Message daily_message(const TickMemory&, const WatchdogConfig& config) {
    return msg::daily_restart(config.daily_restart_minute.value_or(0));
}

Message not_responding_message(const TickMemory& after, const WatchdogConfig&) {
    return msg::not_responding(after.not_responding.for_ms / 1000);
}

// A player over the memory ceiling did not hang: nothing in a dump would say why.
constexpr EndReason END_REASONS[] = {
    {TickReason::LivenessStale, hung_message, true, "player hung - ended and started again", true},
    {TickReason::MemoryOverLimit, over_memory_message, true,
     "player over memory limit - ended and started again", false},
    // A frozen screen is a hang seen from the screen's side: its dump shows where it hangs.
    {TickReason::NotResponding, not_responding_message, true,
     "player not responding - ended and started again", true},
    // Planned: not recoveries, so not recorded; nothing hung.
    {TickReason::RestartRequested, requested_message, false, "", false},
    {TickReason::DailyRestart, daily_message, false, "", false},
};

}  // namespace

const EndReason* end_reason(TickReason reason) {
    for (const EndReason& row : END_REASONS) {
        if (row.reason == reason) return &row;
    }
    return nullptr;
}

}  // namespace wd
