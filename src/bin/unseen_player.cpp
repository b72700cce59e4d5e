#include "bin/unseen_player.h"

namespace wd {
namespace {

// A check at which tasklist gave no answer: the first of a run says why and starts the run.
void note_failure(Unseen& unseen, const std::string& why, std::uint64_t now_ns) {
    if (unseen.failures.since_ns) return;
    unseen.failures.since_ns = now_ns;
    unseen.message = msg::tool_no_answer(why);
}

}  // namespace

Unseen judge_unseen(const TickFacts& facts, const TickMemory& memory,
                    const WatchdogConfig& config) {
    Unseen unseen{facts.found, false, memory.tool_failures, std::nullopt};
    if (facts.found.unknown) {
        note_failure(unseen, *facts.found.unknown, facts.now_ns);
        if (elapsed_ms(*unseen.failures.since_ns, facts.now_ns) < config.startup_grace_ms) {
            if (memory.tool_failures.adopted_seen) {
                unseen.found = *memory.tool_failures.adopted_seen;
            } else {
                unseen.player_unseen = true;
            }
        }
    } else if (facts.found.answered) {
        unseen.failures.since_ns.reset();
    }
    if (unseen.found.player_alive && unseen.found.adopted_pid) {
        unseen.failures.adopted_seen = unseen.found;
    } else {
        unseen.failures.adopted_seen.reset();
    }
    return unseen;
}

std::optional<std::uint32_t> take_look(Unseen& unseen, const TickFacts& facts) {
    if (!facts.launch || !facts.launch->look) return std::nullopt;
    const SelfStartedLook& look = *facts.launch->look;
    if (!look.pids) {
        note_failure(unseen, look.why, facts.now_ns);
        unseen.player_unseen = true;
        return std::nullopt;
    }
    if (look.asked) unseen.failures.since_ns.reset();
    if (look.pids->empty()) return std::nullopt;
    return look.pids->front();
}

}  // namespace wd
