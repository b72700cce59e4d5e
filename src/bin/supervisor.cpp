#include "bin/supervisor.h"

#include <algorithm>
#include <limits>

#include "bin/player_resolution.h"
#include "process/probes.h"
#include "state/log.h"
#include "state/paths.h"
#include "state/recovery.h"

namespace wd {
namespace {

constexpr auto U64_MAX = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > U64_MAX - b ? U64_MAX : a + b;
}

// Age of a time that the player wrote; 0 when it lies in the future.
std::uint64_t age_ms(std::uint64_t now_ms, std::uint64_t then_ms) {
    return now_ms >= then_ms ? now_ms - then_ms : 0;
}

bool recorded_exit(std::uint32_t code) {
    return code != 0 && code != 3;
}

// Step 4: a child found ended is logged (and recorded unless it ended normally) and let go.
void detect_exit(World& world, SupervisorState& state, TickView& view) {
    if (!state.child) return;
    const ChildPoll poll = poll_exit(*state.child);
    if (std::holds_alternative<ChildRunning>(poll)) {
        view.child_running = true;
        return;
    }
    if (const auto* ended = std::get_if<ChildEnded>(&poll)) {
        const std::string text = "player exited (" + exit_description(ended->exit_code) + ")";
        log_line(world, text);
        if (recorded_exit(ended->exit_code)) record_recovery(world, text);
    }
    release_child(std::move(state.child));
    state.verify_pending = false;
}

enum class Action { Idle, Hung, Launch };

Action decide(const TickView& view, const SupervisorState& state, bool hang_excused) {
    switch (view.update.kind) {
        case UpdateKind::NoUpdate:
            if (!view.player_alive) return Action::Launch;
            return hang_excused ? Action::Idle : Action::Hung;
        case UpdateKind::WithinGrace:
            return Action::Idle;
        case UpdateKind::PastGrace:
            if (view.player_alive) return Action::Idle;
            if (state.verify_pending && state.verify_started_at_ms == view.update.started_at_ms) {
                return Action::Idle;
            }
            return Action::Launch;
    }
    return Action::Idle;
}

// Step 12; returns the pause.
std::uint64_t launch(World& world, const WatchdogConfig& config, SupervisorState& state,
                     const TickView& view) {
    const auto exe = resolve_player_exe(world);
    if (!exe) {
        log_line(world, "cannot resolve player exe (no player.json / override / sibling)");
        return config.check_interval_secs;
    }
    std::uint64_t pause = config.check_interval_secs;
    if (state.launched_at_ns &&
        elapsed_ms(*state.launched_at_ns, world.monotonic_ns()) < config.startup_grace_ms) {
        if (state.rapid_restarts < std::numeric_limits<std::uint32_t>::max())
            ++state.rapid_restarts;
        pause = backoff_secs(config.check_interval_secs, state.rapid_restarts);
        log_line(world, "rapid restart #" + std::to_string(state.rapid_restarts) +
                            "; backing off " + std::to_string(pause) + "s");
    }
    // Storing a new child lets go of any old one without ending it.
    state.child = spawn_player(world, *exe);
    state.launched_at_ns = world.monotonic_ns();
    if (view.update.kind == UpdateKind::PastGrace) {
        log_line(world, "verify-pending: launched player after update grace");
        state.verify_started_at_ms = view.update.started_at_ms;
        state.verify_pending = true;
    }
    return pause;
}

}  // namespace

std::uint64_t elapsed_ms(std::uint64_t from_ns, std::uint64_t to_ns) {
    return to_ns >= from_ns ? (to_ns - from_ns) / 1'000'000 : 0;
}

std::uint64_t backoff_secs(std::uint64_t interval_secs, std::uint32_t rapid_restarts) {
    const std::uint32_t k = std::min(rapid_restarts, MAX_BACKOFF_DOUBLINGS);
    const std::uint64_t factor = std::uint64_t{1} << k;
    const std::uint64_t doubled =
        interval_secs > U64_MAX / factor ? U64_MAX : interval_secs * factor;
    return std::max(interval_secs, std::min(MAX_BACKOFF_SECS, doubled));
}

std::uint32_t take_sleep_slice_ms(std::uint64_t& remaining_secs) {
    const std::uint64_t slice = std::min(remaining_secs, SLEEP_SLICE_SECS);
    remaining_secs -= slice;
    return static_cast<std::uint32_t>(slice * 1000);
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
    const auto flag = read_closed_flag(world, path);
    if (!flag) return CloseDecision::NotClosed;

    const std::uint64_t close_age = age_ms(now_ms, flag->closed_at);
    const auto logon = world.session_logon_time();
    const bool same_logon = logon && *logon != 0 && flag->logon_time
                                ? *logon == *flag->logon_time
                                : close_age < CLOSED_FLAG_MAX_AGE_MS;
    if (!same_logon) {
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
        if (!std::holds_alternative<ChildRunning>(poll_exit(*state.child))) {
            release_child(std::move(state.child));
        } else if (close_age > CLOSED_EXIT_WAIT_MS) {
            log_line(world, "closed player did not exit - ending it");
            end_child(std::move(state.child));
        }
    }
    return CloseDecision::StandDown;
}

UpdateState read_update_state(World& world, const WatchdogConfig& config, std::uint64_t now_ms) {
    const auto sentinel = read_updating_sentinel(world, updating_path(world));
    if (!sentinel) return {};
    const std::uint64_t age = age_ms(now_ms, sentinel->started_at_ms);
    if (age < config.update_grace_ms) return {UpdateKind::WithinGrace, sentinel->started_at_ms};
    if (age < config.update_hang_cap_ms) return {UpdateKind::PastGrace, sentinel->started_at_ms};
    return {};
}

std::uint64_t run_tick(World& world, const WatchdogConfig& config, SupervisorState& state) {
    TickView view;
    view.now_instant_ns = world.monotonic_ns();
    view.now_ms = world.wall_clock_ms();

    if (check_closed_flag(world, state, view.now_ms) == CloseDecision::StandDown) {
        state.standing_down = true;
        state.prev_wall_ms = view.now_ms;
        state.prev_instant_ns = view.now_instant_ns;
        return config.check_interval_secs;
    }

    // A wall clock that ran ahead of the monotonic one (set forward) excuses this tick.
    const std::uint64_t wall_advance = age_ms(view.now_ms, state.prev_wall_ms);
    const std::uint64_t mono_advance = elapsed_ms(state.prev_instant_ns, view.now_instant_ns);
    view.clock_jumped = wall_advance > saturating_add(mono_advance, CLOCK_JUMP_SLACK_MS);

    detect_exit(world, state, view);

    view.liveness = read_liveness_record(world, watchdog_file(world, LIVENESS_FILE));
    view.liveness_fresh =
        view.liveness && age_ms(view.now_ms, view.liveness->ts) < config.hang_timeout_ms;

    const auto player = read_player_info(world, player_info_path(world));
    Identification found = identify_player(world, view.child_running, player, view.liveness);
    view.image_name = std::move(found.image_name);
    view.player_alive = found.player_alive;
    if (found.adopted_pid) state.adopted_pid = *found.adopted_pid;
    view.adopted_started_at_ms = found.adopted_started_at_ms;

    view.update = read_update_state(world, config, view.now_ms);

    const std::uint64_t since_launch =
        elapsed_ms(state.launched_at_ns.value_or(state.started_at_ns), view.now_instant_ns);
    const bool adopted_young = view.adopted_started_at_ms &&
                               view.now_ms >= *view.adopted_started_at_ms &&
                               view.now_ms - *view.adopted_started_at_ms < config.startup_grace_ms;
    const bool hang_excused = view.clock_jumped || since_launch < config.startup_grace_ms ||
                              view.liveness_fresh || adopted_young;

    std::uint64_t pause = config.check_interval_secs;
    switch (decide(view, state, hang_excused)) {
        case Action::Idle:
            if (view.liveness_fresh && view.player_alive) state.rapid_restarts = 0;
            break;
        case Action::Hung:
            log_line(world, "player hung (process alive, liveness stale) - killing");
            record_recovery(world, "player hung - ended and started again");
            if (state.child) {
                end_child(std::move(state.child));
            } else {
                force_end_process(world, state.adopted_pid, view.image_name);
            }
            pause = launch(world, config, state, view);
            break;
        case Action::Launch:
            pause = launch(world, config, state, view);
            break;
    }

    state.standing_down = false;
    state.prev_wall_ms = view.now_ms;
    state.prev_instant_ns = view.now_instant_ns;
    return pause;
}

void supervise(World& world, const WatchdogConfig& config) {
    SupervisorState state = initial_state(world);
    for (;;) world.sleep_secs(run_tick(world, config, state));
}

}  // namespace wd
