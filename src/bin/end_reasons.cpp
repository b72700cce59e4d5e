#include "bin/end_reasons.h"

namespace wd {
namespace {

std::string hung_line(const TickDecision&, const WatchdogConfig&) {
    return "player hung (process alive, liveness stale) - killing";
}

std::string over_memory_line(const TickDecision& decision, const WatchdogConfig& config) {
    return "player over memory limit (" + std::to_string(whole_mib_up(decision.over_memory.bytes)) +
           " MB private, limit " + std::to_string(config.memory_limit_mb) + " MB) - killing";
}

std::string not_responding_line(const TickDecision& decision, const WatchdogConfig&) {
    return "player not responding (no window answered for " +
           std::to_string(decision.not_responding.for_ms / 1000) + "s) - killing";
}

// A player over the memory ceiling did not hang: nothing in a dump would say why.
constexpr EndReason END_REASONS[] = {
    {TickReason::LivenessStale,
     hung_line,
     "player hung (process alive, liveness stale) - killing",
     "player hung - ended and started again",
     true,
     {1005, EventLevel::Warning}},
    {TickReason::MemoryOverLimit,
     over_memory_line,
     "player over memory limit (",
     "player over memory limit - ended and started again",
     false,
     {1006, EventLevel::Warning}},
    // A frozen screen is a hang seen from the screen's side: its dump shows where it hangs.
    {TickReason::NotResponding,
     not_responding_line,
     "player not responding (",
     "player not responding - ended and started again",
     true,
     {1007, EventLevel::Warning}},
};

}  // namespace

const EndReason* end_reason(TickReason reason) {
    for (const EndReason& row : END_REASONS) {
        if (row.reason == reason) return &row;
    }
    return nullptr;
}

const EndReason* end_reason_of_line(std::string_view message) {
    for (const EndReason& row : END_REASONS) {
        if (message.starts_with(row.line_start)) return &row;
    }
    return nullptr;
}

}  // namespace wd
