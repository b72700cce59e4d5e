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

// A player over the memory ceiling did not hang: nothing in a dump would say why.
constexpr EndReason END_REASONS[] = {
    {TickReason::LivenessStale, hung_line, "player hung - ended and started again", true},
    {TickReason::MemoryOverLimit, over_memory_line,
     "player over memory limit - ended and started again", false},
};

}  // namespace

const EndReason* end_reason(TickReason reason) {
    for (const EndReason& row : END_REASONS) {
        if (row.reason == reason) return &row;
    }
    return nullptr;
}

}  // namespace wd
