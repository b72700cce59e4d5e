#include "bin/unseen_player.h"

#include <string>

#include "process/probes.h"
#include "state/log.h"
#include "state/paths.h"
#include "state/records.h"

namespace wd {
namespace {

// A check at which tasklist gave no answer: the first of a run logs why and starts the run.
void note_failure(World& world, ToolFailures& failures, const std::string& why,
                  std::uint64_t now_ns) {
    if (failures.since_ns) return;
    failures.since_ns = now_ns;
    log_line(world, "tasklist gave no answer (" + why + ") - asking again at the next check");
}

}  // namespace

void judge_unseen_player(World& world, const WatchdogConfig& config, ToolFailures& failures,
                         Identification& found, TickFacts& facts) {
    if (found.unknown) {
        note_failure(world, failures, *found.unknown, facts.now_ns);
        const std::uint64_t since = *failures.since_ns;
        const std::uint64_t failing_ms =
            facts.now_ns >= since ? (facts.now_ns - since) / 1'000'000 : 0;
        if (failing_ms < config.startup_grace_ms) {
            if (failures.adopted_seen) {
                found = *failures.adopted_seen;
            } else {
                facts.player_unseen = true;
            }
        }
    } else if (found.answered) {
        failures.since_ns.reset();
    }
    if (found.player_alive && found.adopted_pid) {
        failures.adopted_seen = found;
    } else {
        failures.adopted_seen.reset();
    }
}

void look_for_self_started_player(World& world, ToolFailures& failures, TickFacts& facts) {
    const std::string image =
        player_image_name(world, read_player_info(world, player_info_path(world)).value);
    const PidsAnswer found = pids_running_as(world, image);
    if (!found.pids) {
        note_failure(world, failures, found.why, facts.now_ns);
        facts.player_unseen = true;
        return;
    }
    if (!image.empty()) failures.since_ns.reset();
    for (const std::uint32_t pid : *found.pids) {
        if (pid != world.current_pid()) {
            facts.self_started_pid = pid;
            return;
        }
    }
}

}  // namespace wd
