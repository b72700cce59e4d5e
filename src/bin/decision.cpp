#include "bin/decision.h"

#include <algorithm>

#include "base/saturating.h"

namespace wd {

std::uint64_t elapsed_ms(std::uint64_t from_ns, std::uint64_t to_ns) {
    return to_ns >= from_ns ? (to_ns - from_ns) / 1'000'000 : 0;
}

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

LaunchPlan plan_launch(std::optional<std::uint64_t> since_last_launch_ms,
                       std::uint32_t rapid_restarts, const WatchdogConfig& config) {
    if (!is_rapid_restart(since_last_launch_ms, config)) {
        return {false, rapid_restarts, {config.check_interval_secs, true}};
    }
    const std::uint32_t count = saturating_increment(rapid_restarts);
    return {true, count, {backoff_secs(config.check_interval_secs, count), false}};
}

}  // namespace wd
