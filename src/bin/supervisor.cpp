#include "bin/supervisor.h"

#include <algorithm>
#include <utility>

#include "bin/end_reasons.h"
#include "bin/hang_dump.h"
#include "bin/player_resolution.h"
#include "bin/unseen_player.h"
#include "process/probes.h"
#include "state/log.h"
#include "state/paths.h"
#include "state/recovery.h"

namespace wd {

namespace {

// The own child's exit: one that ended is logged (and recorded unless it ended with 0 or 3)
// and let go; one that cannot be polled is let go silently. Either way a pending
// verify-pending launch is over.
struct ChildSeen {
    bool running = false;
    std::uint32_t ended_pid = 0;  // the own child, seen to end in this tick
};
ChildSeen detect_exit(World& world, SupervisorState& state) {
    if (!state.child) return {};
    const ChildPoll poll = state.child->poll();
    if (std::holds_alternative<ChildRunning>(poll)) return {true, 0};
    ChildSeen seen;
    if (const auto* ended = std::get_if<ChildEnded>(&poll)) {
        seen.ended_pid = state.child->pid();
        const std::string text = "player exited (" + exit_description(ended->exit_code) + ")";
        log_line(world, text);
        if (exit_is_recovery(ended->exit_code)) record_recovery(world, text);
    }
    state.child.reset();  // lets go of the handles
    state.verify_launch_for_ms.reset();
    return seen;
}

// The launch: resolve, count a rapid restart, start, and mark the one launch an overdue
// update allows. Returns the pause that follows.
Pause launch(World& world, const WatchdogConfig& config, SupervisorState& state,
             const TickFacts& facts, const TickDecision& decision) {
    const auto exe = resolve_player_exe(world);
    if (!exe) {
        log_line(world, "cannot resolve player exe (no player.json / override / sibling)");
        return plain_pause(decision, config);
    }
    // Measured again now: ending a player before this launch may have taken a while.
    const auto since_last =
        state.launched_at_ns
            ? std::optional(elapsed_ms(*state.launched_at_ns, world.monotonic_ns()))
            : std::nullopt;
    const LaunchPlan plan = plan_launch(since_last, state.rapid_restarts, config);
    state.rapid_restarts = plan.rapid_restarts;
    if (plan.rapid) {
        log_line(world, "rapid restart #" + std::to_string(plan.rapid_restarts) + "; backing off " +
                            std::to_string(plan.pause.secs) + "s");
    }
    // Storing a new child lets go of any old one without ending it.
    state.child = spawn_player(world, *exe);
    state.launched_at_ns = world.monotonic_ns();
    if (decision.reason == TickReason::UpdateOverdue) {
        log_line(world, "verify-pending: launched player after update grace");
        state.verify_launch_for_ms = facts.update.started_at_ms;
    }
    return plan.pause;
}

// The pid of the player identified in this tick: the own child, or an adopted one that passed
// the image-name check. None when no player runs.
std::optional<std::uint32_t> identified_pid(const SupervisorState& state, bool child_running,
                                            const Identification& found) {
    if (child_running) return state.child->pid();
    if (found.player_alive && found.adopted_pid) return found.adopted_pid;
    return std::nullopt;
}

// With a memory ceiling, the private memory of the player identified in this tick: the own
// child through its handle, an adopted one by its pid. None when it cannot be read.
std::optional<MemoryReading> read_player_memory(World& world, const SupervisorState& state,
                                                bool child_running, const Identification& found) {
    const auto pid = identified_pid(state, child_running, found);
    if (!pid) return std::nullopt;
    const auto bytes =
        child_running ? state.child->private_bytes() : world.process_private_bytes(*pid);
    if (!bytes) return std::nullopt;
    return MemoryReading{*pid, *bytes};
}

// Ends the player the tick found: the own child through its handle, an adopted one by its pid
// and, if that is refused, by the image name it was found under.
void end_player(World& world, SupervisorState& state, const std::string& image_name) {
    if (state.child) {
        end_child(std::move(state.child));
    } else if (state.adopted_pid) {
        force_end_process(world, *state.adopted_pid, image_name);
    }
}

// Ends the player for the decision's reason and launches another: the reason's line, its
// recovery (recorded before the end, so that a player that cannot be ended is still counted),
// its dump when it takes one, the end, the launch.
Pause end_and_relaunch(World& world, const WatchdogConfig& config, SupervisorState& state,
                       const TickFacts& facts, const TickDecision& decision,
                       const std::string& image_name) {
    const EndReason& why = *end_reason(decision.reason);
    log_line(world, why.log_line(decision, config));
    record_recovery(world, std::string(why.recorded));
    dump_and_end(world, why.dumped ? config.hang_dumps : 0, config.hang_dump_timeout_ms,
                 state.child ? std::optional(state.child->pid()) : state.adopted_pid,
                 [&] { end_player(world, state, image_name); });
    return launch(world, config, state, facts, decision);
}

// Everything a tick that is not a stand-down looks at, in order: the clock-jump test, the
// own child's exit (logged and recorded here), liveness, who the player is and (with a memory
// ceiling) its memory, the update. Fills the facts beside the close already in them, and
// returns the image name the player was probed under, which ending an adopted player needs.
std::string observe(World& world, const WatchdogConfig& config, SupervisorState& state,
                    std::uint64_t now_instant_ns, TickFacts& facts) {
    const std::uint64_t mono_advance = elapsed_ms(state.prev_instant_ns, now_instant_ns);
    facts.clock_jumped = clock_jumped(state.prev_wall_ms, facts.now_ms, mono_advance);

    const ChildSeen child = detect_exit(world, state);

    const auto liveness = read_liveness_record(world, watchdog_file(world, LIVENESS_FILE)).value;
    facts.liveness_fresh = liveness_is_fresh(liveness, facts.now_ms, config.hang_timeout_ms);

    const auto player = read_player_info(world, player_info_path(world)).value;
    // With the wake on, the tick after an exit is the one that relaunches at the speed of
    // process creation: the pid that just ended is not asked about again.
    Identification found = identify_player(world, child.running, player, liveness,
                                           config.wake_on_exit ? child.ended_pid : 0);
    judge_unseen_player(world, config, state.tool_failures, found, facts);
    facts.player_alive = found.player_alive;
    if (found.adopted_pid) state.adopted_pid = found.adopted_pid;
    facts.adopted_started_at_ms = found.adopted_started_at_ms;
    if (config.memory_limit_mb != 0) {
        facts.memory = read_player_memory(world, state, child.running, found);
    }
    if (config.not_responding_ms != 0) {
        if (const auto pid = identified_pid(state, child.running, found)) {
            facts.windows = WindowsReading{*pid, world.ask_windows(*pid)};
        }
    }

    facts.update = read_update_state(world, config, facts.now_ms);
    facts.since_launch_ms =
        elapsed_ms(state.launched_at_ns.value_or(state.started_at_ns), now_instant_ns);
    facts.launched_before = state.launched_at_ns.has_value();
    facts.verify_launch_for_ms = state.verify_launch_for_ms;
    return std::move(found.image_name);
}

}  // namespace

std::uint64_t elapsed_ms(std::uint64_t from_ns, std::uint64_t to_ns) {
    return to_ns >= from_ns ? (to_ns - from_ns) / 1'000'000 : 0;
}

SupervisorState initial_state(World& world) {
    SupervisorState state;
    state.started_at_ns = world.monotonic_ns();
    state.prev_instant_ns = state.started_at_ns;
    state.prev_wall_ms = world.wall_clock_ms();
    return state;
}

CloseDecision check_closed_flag(World& world, SupervisorState& state, std::uint64_t now_ms) {
    const auto path = watchdog_file(world, CLOSED_FILE);
    if (!path) return CloseDecision::NotClosed;
    const auto flag = read_closed_flag(world, path).value;
    if (!flag) return CloseDecision::NotClosed;

    if (!close_is_current(*flag, world.session_logon_time(), now_ms)) {
        world.delete_file(*path);  // when it fails, the flag is cleared again next tick
        log_line(world, "close from an earlier session cleared - supervising again");
        return CloseDecision::Cleared;
    }

    if (!state.standing_down) {
        log_line(world, "player closed by the operator - standing down until the next logon");
        world.show_taskbar();
    }
    // Only the player this watchdog launched is ever ended here, and its exit is not a crash.
    if (state.child) {
        if (!std::holds_alternative<ChildRunning>(state.child->poll())) {
            state.child.reset();
        } else if (closed_child_overdue(now_ms, flag->closed_at)) {
            log_line(world, "closed player did not exit - ending it");
            end_child(std::move(state.child));
        }
    }
    return CloseDecision::StandDown;
}

UpdateState read_update_state(World& world, const WatchdogConfig& config, std::uint64_t now_ms) {
    return classify_update(read_updating_sentinel(world, updating_path(world)).value, config,
                           now_ms);
}

Pause run_tick(World& world, const WatchdogConfig& config, SupervisorState& state) {
    const std::uint64_t now_instant_ns = world.monotonic_ns();
    TickFacts facts;
    facts.now_ms = world.wall_clock_ms();
    facts.now_ns = now_instant_ns;
    facts.close = check_closed_flag(world, state, facts.now_ms);
    // A stand-down tick looks at nothing else.
    std::string image_name;
    if (facts.close != CloseDecision::StandDown) {
        image_name = observe(world, config, state, now_instant_ns, facts);
    }
    facts.over_memory_before = state.over_memory;
    facts.not_responding_before = state.not_responding;
    TickDecision decision = decide_tick(facts, config);
    // The one fact that costs a tasklist run is asked for only when the decision can use it.
    if (wants_self_started_look(facts, decision, config)) {
        look_for_self_started_player(world, state.tool_failures, facts);
        decision = decide_tick(facts, config);
    }
    state.over_memory = decision.over_memory;
    state.not_responding = decision.not_responding;

    Pause pause = plain_pause(decision, config);
    switch (decision.action) {
        case TickAction::StandDown:
            break;
        case TickAction::Idle:
            if (resets_rapid_restarts(facts, decision)) state.rapid_restarts = 0;
            break;
        case TickAction::AwaitPlayer:
            if (!std::exchange(state.waiting_for_self_started, true)) {
                log_line(world,
                         "player already running (pid=" + std::to_string(*facts.self_started_pid) +
                             ") - waiting for its record");
            }
            break;
        case TickAction::EndAndRelaunch:
            pause = end_and_relaunch(world, config, state, facts, decision, image_name);
            break;
        case TickAction::Launch:
            pause = launch(world, config, state, facts, decision);
            break;
    }

    state.standing_down = decision.action == TickAction::StandDown;
    state.prev_wall_ms = facts.now_ms;
    state.prev_instant_ns = now_instant_ns;
    return pause;
}

void pause_after_tick(World& world, const WatchdogConfig& config, SupervisorState& state,
                      Pause pause) {
    std::uint64_t secs = pause.secs;
    if (!config.wake_on_exit || !state.child || !pause.wake_may_end || secs == 0) {
        world.sleep_secs(secs);
        return;
    }
    while (secs > 0) {
        const std::uint32_t slice_ms = take_sleep_slice_ms(secs);
        switch (state.child->wait_for_exit(slice_ms)) {
            case ChildWait::Ended:
                return;
            case ChildWait::Failed:  // the failed wait took its slice; the rest is slept
                if (secs > 0) world.sleep_secs(secs);
                return;
            case ChildWait::TimedOut:
                break;
        }
    }
}

void supervise(World& world, const WatchdogConfig& config) {
    SupervisorState state = initial_state(world);
    for (;;) pause_after_tick(world, config, state, run_tick(world, config, state));
}

}  // namespace wd
