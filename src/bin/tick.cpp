#include "bin/tick.h"

#include <utility>

#include "bin/end_reasons.h"
#include "bin/planned_restart.h"
#include "bin/unseen_player.h"

namespace wd {
namespace {

bool child_running(const TickFacts& facts) {
    return facts.child && std::holds_alternative<ChildRunning>(*facts.child);
}

// Everything the choice of action depends on, judged from the facts and the memory.
struct Situation {
    UpdateState update;
    bool player_alive = false;
    bool liveness_fresh = false;
    bool clock_jumped = false;
    std::uint64_t since_launch_ms = 0;  // since the last launch attempt, or since the start
    bool launched_before = false;
    std::optional<std::uint64_t> adopted_started_at_ms;
    std::optional<std::uint64_t> verify_launch_for_ms;
    bool player_unseen = false;
    std::optional<std::uint32_t> self_started_pid;
    OverMemoryRun over_memory;
    NotRespondingRun not_responding;
};

Situation judge(const TickFacts& facts, const TickMemory& memory, const WatchdogConfig& config,
                const Unseen& unseen) {
    Situation s;
    s.update = classify_update(facts.update, config, facts.now_ms);
    s.player_alive = unseen.found.player_alive;
    s.liveness_fresh = liveness_is_fresh(facts.liveness, facts.now_ms, config.hang_timeout_ms);
    s.clock_jumped =
        clock_jumped(memory.prev_wall_ms, facts.now_ms, elapsed_ms(memory.prev_ns, facts.now_ns));
    s.since_launch_ms =
        elapsed_ms(memory.launched_at_ns.value_or(memory.started_at_ns), facts.now_ns);
    s.launched_before = memory.launched_at_ns.has_value();
    s.adopted_started_at_ms = unseen.found.adopted_started_at_ms;
    // The own child's end is the end of the player an update's one launch started.
    s.verify_launch_for_ms =
        facts.child && !child_running(facts) ? std::nullopt : memory.verify_launch_for_ms;
    s.player_unseen = unseen.player_unseen;
    s.over_memory = count_over_memory(memory.over_memory, facts.memory, config.memory_limit_mb);
    s.not_responding = track_not_responding(memory.not_responding, facts.windows, facts.now_ns);
    return s;
}

// The first launch, within the startup grace from the watchdog's own start.
bool in_first_launch_window(const Situation& s, const WatchdogConfig& config) {
    return !s.launched_before && s.since_launch_ms < config.startup_grace_ms;
}

struct Choice {
    TickAction action;
    TickReason reason;
};

Choice choose(const Situation& s, const TickFacts& facts, const WatchdogConfig& config) {
    using enum TickAction;
    using enum TickReason;
    const auto launch = [&](TickReason reason) -> Choice {
        if (in_first_launch_window(s, config)) {
            if (s.self_started_pid) return {AwaitPlayer, SelfStarted};
            if (s.player_unseen) return {Idle, PlayerUnseen};
        }
        return {Launch, reason};
    };
    switch (s.update.kind) {
        case UpdateKind::WithinGrace:
            return {Idle, UpdateYoung};
        case UpdateKind::PastGrace:
            if (s.player_alive) return {Idle, UpdateOverdueAlive};
            if (s.verify_launch_for_ms == s.update.started_at_ms) return {Idle, UpdateLaunchMade};
            return launch(UpdateOverdue);
        case UpdateKind::NoUpdate:
            break;
    }
    if (!s.player_alive) return launch(NoPlayer);
    // The startup grace spares a player that is silent, frozen or over the memory ceiling alike.
    const bool starting = s.since_launch_ms < config.startup_grace_ms;
    const bool adopted_starting =
        s.adopted_started_at_ms &&
        within_window(facts.now_ms, *s.adopted_started_at_ms, config.startup_grace_ms);
    if (s.liveness_fresh) {
        const bool past_graces = !starting && !adopted_starting;
        if (config.not_responding_ms != 0 && s.not_responding.since_ns &&
            s.not_responding.for_ms >= config.not_responding_ms && past_graces) {
            return {EndAndRelaunch, NotResponding};
        }
        if (s.over_memory.checks >= OVER_MEMORY_CHECKS_TO_END && past_graces) {
            return {EndAndRelaunch, MemoryOverLimit};
        }
        return {Idle, Healthy};
    }
    if (s.clock_jumped) return {Idle, ClockJumped};
    if (starting) return {Idle, StartupGrace};
    if (adopted_starting) return {Idle, AdoptedGrace};
    return {EndAndRelaunch, LivenessStale};
}

PlannedRestarts planned_for(const TickFacts& facts, const TickMemory& memory,
                            const WatchdogConfig& config, const Situation& s) {
    return plan_restarts(facts, memory, config,
                         {false, s.update.kind != UpdateKind::NoUpdate, s.player_alive});
}

// The decision at work: the result it builds, effect by effect.
class Tick {
  public:
    Tick(const TickFacts& facts, const TickMemory& memory, const WatchdogConfig& config)
        : facts_(facts), config_(config) {
        result_.memory = memory;
    }

    TickResult finish(Choice choice, Pause pause) {
        result_.action = choice.action;
        result_.reason = choice.reason;
        result_.pause = {pause.secs, pause.wake_may_end && config_.wake_on_exit};
        memory().standing_down = choice.action == TickAction::StandDown;
        memory().prev_wall_ms = facts_.now_ms;
        memory().prev_ns = facts_.now_ns;
        memory().prev_local = facts_.local;
        return std::move(result_);
    }

    TickMemory& memory() { return result_.memory; }
    void log(Message message) { then(LogMessage{std::move(message)}); }
    void then(Effect effect) { result_.effects.push_back(std::move(effect)); }

    // The close of this logon stands: the first such check says so and shows the taskbar,
    // and the own child is let go when it has exited, or ended once it outlives the close by
    // 15 s. Its exit is not a crash. The check looks at nothing else: the over-ceiling run
    // waits for the next check, and a not-responding run is broken.
    TickResult stand_down(const PlannedRestarts& planned) {
        if (!memory().standing_down) {
            log(msg::standing_down());
            then(ShowTaskbar{});
        }
        if (facts_.child) {
            if (!child_running(facts_)) {
                then(ReleaseChild{});
            } else if (closed_child_overdue(facts_.now_ms, facts_.closed->closed_at)) {
                log(msg::closed_not_exited());
                then(EndChild{});
            }
        }
        memory().not_responding = {};
        take(planned);
        // The wake never cuts short the pause of a stand-down.
        return finish({TickAction::StandDown, TickReason::Closed}, {config_.check_interval_secs});
    }

    // The own child's end: logged (and recorded unless an ordinary end) and let go; one that
    // cannot be polled is let go silently. Either way a pending update launch is over.
    void see_child_end() {
        if (!facts_.child || child_running(facts_)) return;
        if (const auto* ended = std::get_if<ChildEnded>(&*facts_.child)) {
            const bool recovery = exit_is_recovery(ended->exit_code);
            const Message exited = msg::exited(ended->exit_code, recovery);
            log(exited);
            if (recovery) then(RecordRecovery{message_text(exited)});
        }
        then(ReleaseChild{});
        memory().verify_launch_for_ms.reset();
    }

    // The planned restarts' lines and the request's deletion; the check of the day's daily
    // restart is made.
    void take(const PlannedRestarts& planned) {
        for (const Effect& effect : planned.effects) then(effect);
        if (planned.daily_check) memory().daily_done_day = facts_.local->day;
    }

    // Ends the player for the reason, recorded first when it is a recovery (so that a player
    // that cannot be ended is still counted), then launches another.
    Pause end_and_relaunch(TickReason reason, const Situation& s, const Unseen& unseen) {
        const EndReason& why = *end_reason(reason);
        log(why.message(memory(), config_));
        if (why.recovery) then(RecordRecovery{std::string(why.recorded)});
        const bool own = child_running(facts_);
        const auto pid = own ? std::optional(facts_.child_pid) : memory().adopted_pid;
        then(EndPlayer{own, pid, unseen.found.image_name,
                       why.dumped && config_.hang_dumps != 0 && pid.has_value()});
        return launch(reason, s, why.recovery);
    }

    // A launch: with nothing to launch, said so; else a rapid restart counted and said (not
    // after a planned restart, which is no recovery), the launch, and the mark of the one
    // launch an overdue update allows.
    Pause launch(TickReason reason, const Situation& s, bool may_be_rapid = true) {
        if (!facts_.launch || !facts_.launch->exe) {
            log(msg::nothing_to_launch());
            return plain();
        }
        if (!may_be_rapid) {
            then(LaunchPlayer{*facts_.launch->exe});
            return plain();
        }
        const auto since_last =
            memory().launched_at_ns
                ? std::optional(elapsed_ms(*memory().launched_at_ns, facts_.launch->now_ns))
                : std::nullopt;
        const LaunchPlan plan = plan_launch(since_last, memory().rapid_restarts, config_);
        memory().rapid_restarts = plan.rapid_restarts;
        if (plan.rapid) log(msg::rapid_restart(plan.rapid_restarts, plan.pause.secs));
        then(LaunchPlayer{*facts_.launch->exe});
        if (reason == TickReason::UpdateOverdue) {
            log(msg::verify_pending());
            memory().verify_launch_for_ms = s.update.started_at_ms;
        }
        return plan.pause;
    }

    Pause plain() const { return {config_.check_interval_secs, true}; }

  private:
    const TickFacts& facts_;
    const WatchdogConfig& config_;
    TickResult result_;
};

}  // namespace

TickMemory first_memory(std::uint64_t now_ms, std::uint64_t now_ns) {
    TickMemory memory;
    memory.started_at_ns = now_ns;
    memory.prev_ns = now_ns;
    memory.prev_wall_ms = now_ms;
    return memory;
}

bool close_stands(const TickFacts& facts) {
    return facts.closed && close_is_current(*facts.closed, facts.session_logon, facts.now_ms);
}

Identification judged_player(const TickFacts& facts, const TickMemory& memory,
                             const WatchdogConfig& config) {
    return judge_unseen(facts, memory, config).found;
}

std::optional<std::uint32_t> identified_pid(const TickFacts& facts, const TickMemory& memory,
                                            const WatchdogConfig& config) {
    if (child_running(facts)) return facts.child_pid;
    const Identification found = judged_player(facts, memory, config);
    if (found.player_alive && found.adopted_pid) return found.adopted_pid;
    return std::nullopt;
}

LaunchWants wanted_for_launch(const TickFacts& facts, const TickMemory& memory,
                              const WatchdogConfig& config) {
    if (close_stands(facts)) return {};
    const Situation s = judge(facts, memory, config, judge_unseen(facts, memory, config));
    if (planned_for(facts, memory, config, s).restart) return {true, false};
    const Choice choice = choose(s, facts, config);
    const bool launch = choice.action == TickAction::Launch;
    return {launch || choice.action == TickAction::EndAndRelaunch,
            launch && in_first_launch_window(s, config)};
}

TickResult decide_tick(const TickFacts& facts, const TickMemory& memory,
                       const WatchdogConfig& config) {
    Tick tick(facts, memory, config);
    if (facts.closed && !close_stands(facts)) {
        tick.then(DeleteClosedFlag{});  // when it fails, the flag is cleared again next check
        tick.log(msg::close_cleared());
    }
    if (close_stands(facts)) return tick.stand_down(plan_restarts(facts, memory, config, {true}));

    tick.see_child_end();
    Unseen unseen = judge_unseen(facts, memory, config);
    if (unseen.message) tick.log(*unseen.message);
    Situation s = judge(facts, memory, config, unseen);
    unseen.message.reset();
    s.self_started_pid = take_look(unseen, facts);
    s.player_unseen = unseen.player_unseen;
    if (unseen.message) tick.log(*unseen.message);
    TickMemory& next = tick.memory();
    next.tool_failures = unseen.failures;
    if (unseen.found.adopted_pid) next.adopted_pid = unseen.found.adopted_pid;
    next.over_memory = s.over_memory;
    next.not_responding = s.not_responding;

    const PlannedRestarts planned = planned_for(facts, memory, config, s);
    tick.take(planned);
    const Choice choice = planned.restart ? Choice{TickAction::EndAndRelaunch, *planned.restart}
                                          : choose(s, facts, config);
    Pause pause = tick.plain();
    switch (choice.action) {
        case TickAction::StandDown:
            break;
        case TickAction::Idle:
            // A healthy player ends a crash loop.
            if (s.player_alive && s.liveness_fresh) next.rapid_restarts = 0;
            break;
        case TickAction::AwaitPlayer:
            if (!std::exchange(next.waiting_for_self_started, true)) {
                tick.log(msg::self_started(*s.self_started_pid));
            }
            break;
        case TickAction::EndAndRelaunch:
            pause = tick.end_and_relaunch(choice.reason, s, unseen);
            break;
        case TickAction::Launch:
            pause = tick.launch(choice.reason, s);
            break;
    }
    return tick.finish(choice, pause);
}

}  // namespace wd
