#include "bin/decision.h"

#include <algorithm>

#include "base/saturating.h"

namespace wd {

std::uint64_t age_ms(std::uint64_t now_ms, std::uint64_t then_ms) {
    return now_ms >= then_ms ? now_ms - then_ms : 0;
}

bool within_window(std::uint64_t now_ms, std::uint64_t start_ms, std::uint64_t length_ms) {
    return now_ms >= start_ms && now_ms - start_ms < length_ms;
}

bool exit_is_recovery(std::uint32_t exit_code) {
    return exit_code != EXIT_CODE_DONE && exit_code != EXIT_CODE_ENDED_ON_PURPOSE;
}

bool is_rapid_restart(std::optional<std::uint64_t> since_last_launch_ms,
                      const WatchdogConfig& config) {
    return since_last_launch_ms && *since_last_launch_ms < config.startup_grace_ms;
}

std::uint64_t backoff_secs(std::uint64_t interval_secs, std::uint32_t rapid_restarts) {
    const std::uint32_t k = std::min(rapid_restarts, MAX_BACKOFF_DOUBLINGS);
    const std::uint64_t factor = std::uint64_t{1} << k;
    const std::uint64_t doubled = saturating_mul(interval_secs, factor);
    return std::max(interval_secs, std::min(MAX_BACKOFF_SECS, doubled));
}

bool closed_child_overdue(std::uint64_t now_ms, std::uint64_t closed_at_ms) {
    return age_ms(now_ms, closed_at_ms) > CLOSED_EXIT_WAIT_MS;
}

bool liveness_is_fresh(const std::optional<LivenessRecord>& record, std::uint64_t now_ms,
                       std::uint64_t hang_timeout_ms) {
    return record && age_ms(now_ms, record->ts) < hang_timeout_ms;
}

bool close_is_current(const ClosedFlag& flag, std::optional<std::int64_t> session_logon,
                      std::uint64_t now_ms) {
    if (session_logon && *session_logon != 0 && flag.logon_time) {
        return *session_logon == *flag.logon_time;
    }
    return age_ms(now_ms, flag.closed_at) < CLOSED_FLAG_MAX_AGE_MS;
}

UpdateState classify_update(const std::optional<UpdatingSentinel>& sentinel,
                            const WatchdogConfig& config, std::uint64_t now_ms) {
    if (!sentinel) return {};
    const std::uint64_t age = age_ms(now_ms, sentinel->started_at_ms);
    if (age < config.update_grace_ms) return {UpdateKind::WithinGrace, sentinel->started_at_ms};
    if (age < config.update_hang_cap_ms) return {UpdateKind::PastGrace, sentinel->started_at_ms};
    return {};
}

bool clock_jumped(std::uint64_t prev_wall_ms, std::uint64_t now_ms, std::uint64_t mono_advance_ms) {
    return age_ms(now_ms, prev_wall_ms) > saturating_add(mono_advance_ms, CLOCK_JUMP_SLACK_MS);
}

bool exceeds_memory_limit(std::uint64_t bytes, std::uint64_t limit_mb) {
    return limit_mb != 0 && bytes > saturating_mul(limit_mb, BYTES_PER_MIB);
}

std::uint64_t whole_mib_up(std::uint64_t bytes) {
    return bytes / BYTES_PER_MIB + (bytes % BYTES_PER_MIB != 0 ? 1 : 0);
}

OverMemoryRun count_over_memory(const OverMemoryRun& before,
                                const std::optional<MemoryReading>& reading,
                                std::uint64_t limit_mb) {
    if (!reading || !exceeds_memory_limit(reading->bytes, limit_mb)) return {};
    const std::uint32_t checks = reading->pid == before.pid ? before.checks : 0;
    return {reading->pid, saturating_increment(checks), reading->bytes};
}

NotRespondingRun track_not_responding(const NotRespondingRun& before,
                                      const std::optional<WindowsReading>& reading,
                                      std::uint64_t now_ns) {
    if (!reading || reading->answer != WindowsAnswer::NoneAnswered) return {};
    const std::uint64_t since =
        before.since_ns && before.pid == reading->pid ? *before.since_ns : now_ns;
    return {reading->pid, since, now_ns >= since ? (now_ns - since) / 1'000'000 : 0};
}

namespace {

// The first launch, within the startup grace from the watchdog's own start.
bool in_first_launch_window(const TickFacts& facts, const WatchdogConfig& config) {
    return !facts.launched_before && facts.since_launch_ms < config.startup_grace_ms;
}

struct Choice {
    TickAction action;
    TickReason reason;
};

Choice decide_action(const TickFacts& facts, const WatchdogConfig& config,
                     const OverMemoryRun& over_memory, const NotRespondingRun& not_responding) {
    using enum TickAction;
    using enum TickReason;
    const auto launch = [&](TickReason reason) -> Choice {
        if (in_first_launch_window(facts, config)) {
            if (facts.self_started_pid) return {AwaitPlayer, SelfStarted};
            if (facts.player_unseen) return {Idle, PlayerUnseen};
        }
        return {Launch, reason};
    };
    switch (facts.update.kind) {
        case UpdateKind::WithinGrace:
            return {Idle, UpdateYoung};
        case UpdateKind::PastGrace:
            if (facts.player_alive) return {Idle, UpdateOverdueAlive};
            if (facts.verify_launch_for_ms == facts.update.started_at_ms) {
                return {Idle, UpdateLaunchMade};
            }
            return launch(UpdateOverdue);
        case UpdateKind::NoUpdate:
            break;
    }
    if (!facts.player_alive) return launch(NoPlayer);
    // The startup grace spares a player that is silent, frozen or over the memory ceiling alike.
    const bool starting = facts.since_launch_ms < config.startup_grace_ms;
    const bool adopted_starting =
        facts.adopted_started_at_ms &&
        within_window(facts.now_ms, *facts.adopted_started_at_ms, config.startup_grace_ms);
    if (facts.liveness_fresh) {
        const bool past_graces = !starting && !adopted_starting;
        if (config.not_responding_ms != 0 && not_responding.since_ns &&
            not_responding.for_ms >= config.not_responding_ms && past_graces) {
            return {EndAndRelaunch, NotResponding};
        }
        if (over_memory.checks >= OVER_MEMORY_CHECKS_TO_END && past_graces) {
            return {EndAndRelaunch, MemoryOverLimit};
        }
        return {Idle, Healthy};
    }
    if (facts.clock_jumped) return {Idle, ClockJumped};
    if (starting) return {Idle, StartupGrace};
    if (adopted_starting) return {Idle, AdoptedGrace};
    return {EndAndRelaunch, LivenessStale};
}

}  // namespace

TickDecision decide_tick(const TickFacts& facts, const WatchdogConfig& config) {
    // A stand-down looks at nothing: the over-ceiling run waits for the next check, and a
    // not-responding run is broken (its windows were not asked).
    if (facts.close == CloseDecision::StandDown) {
        return {TickAction::StandDown, TickReason::Closed, facts.over_memory_before, {}};
    }
    const OverMemoryRun over_memory =
        count_over_memory(facts.over_memory_before, facts.memory, config.memory_limit_mb);
    const NotRespondingRun not_responding =
        track_not_responding(facts.not_responding_before, facts.windows, facts.now_ns);
    const Choice choice = decide_action(facts, config, over_memory, not_responding);
    return {choice.action, choice.reason, over_memory, not_responding};
}

bool wants_self_started_look(const TickFacts& facts, const TickDecision& decision,
                             const WatchdogConfig& config) {
    return decision.action == TickAction::Launch && in_first_launch_window(facts, config);
}

bool resets_rapid_restarts(const TickFacts& facts, const TickDecision& decision) {
    return decision.action == TickAction::Idle && facts.player_alive && facts.liveness_fresh;
}

Pause plain_pause(const TickDecision& decision, const WatchdogConfig& config) {
    return {config.check_interval_secs, decision.action != TickAction::StandDown};
}

LaunchPlan plan_launch(std::optional<std::uint64_t> since_last_launch_ms,
                       std::uint32_t rapid_restarts, const WatchdogConfig& config) {
    if (!is_rapid_restart(since_last_launch_ms, config)) {
        return {false, rapid_restarts, {config.check_interval_secs, true}};
    }
    const std::uint32_t count = saturating_increment(rapid_restarts);
    return {true, count, {backoff_secs(config.check_interval_secs, count), false}};
}

}  // namespace wd
