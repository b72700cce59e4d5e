#include "bin/supervisor.h"

#include <utility>

#include "base/clock_units.h"
#include "bin/hang_dump.h"
#include "bin/player_resolution.h"
#include "process/probes.h"
#include "state/paths.h"
#include "state/recovery.h"

namespace wd {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The private memory of the identified player, none when it cannot be read.
std::optional<MemoryReading> read_player_memory(World& world, std::uint32_t pid) {
    const auto bytes = world.process_private_bytes(pid);
    if (!bytes) return std::nullopt;
    return MemoryReading{pid, *bytes};
}

// A process under the player's image name that this watchdog did not start.
SelfStartedLook look_for_self_started(World& world) {
    const std::string image =
        player_image_name(world, read_player_info(world, player_info_path(world)).value);
    PidsAnswer found = pids_running_as(world, image);
    SelfStartedLook look{!image.empty(), std::nullopt, std::move(found.why)};
    if (found.pids) {
        look.pids.emplace();
        for (const std::uint32_t pid : *found.pids) {
            if (pid != world.current_pid()) look.pids->push_back(pid);
        }
    }
    return look;
}

}  // namespace

SupervisorState initial_state(World& world, Log log) {
    const std::uint64_t now_ns = world.monotonic_ns();
    return {std::move(log), nullptr, first_memory(world.wall_clock_ms(), now_ns)};
}

SupervisorState initial_state(World& world) {
    return initial_state(world, Log(world));
}

TickFacts gather_facts(World& world, const WatchdogConfig& config, SupervisorState& state) {
    TickFacts facts;
    facts.now_ns = world.monotonic_ns();
    facts.now_ms = world.wall_clock_ms();
    // The user's folder is asked for once a check: under Wine each ask is a registry read.
    const auto app = app_dir(world);
    const auto in_app = [&](std::u16string_view folder, std::u16string_view name) {
        return app ? std::optional(join(join(*app, folder), name)) : std::nullopt;
    };
    const auto watchdog_file = [&](std::u16string_view name) {
        return in_app(WATCHDOG_FOLDER_NAME, name);
    };
    if (const auto closed = watchdog_file(CLOSED_FILE)) {
        facts.closed = read_closed_flag(world, closed).value;
        if (facts.closed) facts.session_logon = world.session_logon_time();
    }
    // A missing request is the usual case; it costs one look at the file's metadata.
    const auto restart = watchdog_file(RESTART_FILE);
    if (restart && world.path_kind(*restart) != PathKind::Missing) {
        auto request = read_restart_request(world, restart, FailureReasons::Ask);
        facts.restart_state = request.state;
        facts.restart = request.value;
    }
    if (config.daily_restart_minute) facts.local = world.local_clock(facts.now_ms);
    if (state.child) {
        facts.child = state.child->wait_for_exit(0);
        facts.child_pid = state.child->pid();
    }
    if (close_stands(facts)) return facts;

    facts.liveness = read_liveness_record(world, watchdog_file(LIVENESS_FILE)).value;
    const auto player = read_player_info(world, watchdog_file(PLAYER_FILE)).value;
    const bool own_running = facts.child && std::holds_alternative<ChildRunning>(*facts.child);
    const bool own_ended = facts.child && std::holds_alternative<ChildEnded>(*facts.child);
    // With the wake on, the tick after an exit is the one that relaunches at the speed of
    // process creation: the pid that just ended is not asked about again.
    facts.found = identify_player(world, own_running, player, facts.liveness,
                                  config.wake_on_exit && own_ended ? facts.child_pid : 0);
    if (config.memory_limit_mb != 0 || config.not_responding_ms != 0) {
        if (const auto pid = identified_pid(facts, state.memory, config)) {
            if (config.memory_limit_mb != 0) {
                facts.memory = read_player_memory(world, *pid);
            }
            if (config.not_responding_ms != 0) {
                facts.windows = WindowsReading{*pid, world.ask_windows(*pid)};
            }
        }
    }
    facts.update = read_updating_sentinel(world, in_app(UPDATES_FOLDER_NAME, UPDATING_FILE)).value;

    // What costs a tasklist run, or a search for the executable, is read only when used.
    const LaunchWants wants = wanted_for_launch(facts, state.memory, config);
    if (wants.exe || wants.look) {
        LaunchFacts launch;
        if (wants.look) launch.look = look_for_self_started(world);
        if (wants.exe) launch.exe = resolve_player_exe(world);
        launch.now_ns = world.monotonic_ns();
        facts.launch = std::move(launch);
    }
    return facts;
}

void carry_out(World& world, const WatchdogConfig& config, SupervisorState& state,
               const std::vector<Effect>& effects) {
    for (const Effect& effect : effects) {
        std::visit(Overloaded{
                       [&](const LogMessage& e) { state.log(e.message); },
                       [&](const RecordRecovery& e) { record_recovery(world, e.what); },
                       // Storing nothing lets go of the handles without ending the process.
                       [&](const ReleaseChild&) { state.child.reset(); },
                       [&](const EndChild&) { end_child(std::move(state.child)); },
                       [&](const DeleteClosedFlag&) {
                           if (const auto closed = watchdog_file(world, CLOSED_FILE)) {
                               world.delete_file(*closed);
                           }
                       },
                       [&](const DeleteRestartRequest&) {
                           if (const auto request = watchdog_file(world, RESTART_FILE)) {
                               world.delete_file(*request);
                           }
                       },
                       [&](const ShowTaskbar&) { world.show_taskbar(); },
                       [&](const EndPlayer& e) {
                           dump_and_end(world, state.log, e.dump ? config.hang_dumps : 0,
                                        config.hang_dump_timeout_ms, e.pid, [&] {
                                            if (e.own_child) {
                                                end_child(std::move(state.child));
                                            } else if (e.pid) {
                                                force_end_process(world, *e.pid, e.image_name);
                                            }
                                        });
                       },
                       [&](const LaunchPlayer& e) {
                           state.child = spawn_player(world, state.log, e.exe);
                           // The launch's time is read as it is made: ending a player before it may
                           // have taken a while.
                           state.memory.launched_at_ns = world.monotonic_ns();
                       },
                   },
                   effect);
    }
}

Pause run_tick(World& world, const WatchdogConfig& config, SupervisorState& state) {
    const TickFacts facts = gather_facts(world, config, state);
    TickResult result = decide_tick(facts, state.memory, config);
    state.memory = std::move(result.memory);
    carry_out(world, config, state, result.effects);
    return result.pause;
}

void pause_after_tick(World& world, SupervisorState& state, Pause pause) {
    std::uint64_t secs = pause.secs;
    if (!pause.wake_may_end || !state.child || secs == 0) {
        world.sleep_secs(secs);
        return;
    }
    while (secs > 0) {
        const std::uint32_t slice_ms = take_sleep_slice_ms(secs);
        const ChildPoll seen = state.child->wait_for_exit(slice_ms);
        if (std::holds_alternative<ChildEnded>(seen)) return;
        if (std::holds_alternative<ChildPollFailed>(seen)) {
            // The failed wait took its slice; the rest is slept.
            if (secs > 0) world.sleep_secs(secs);
            return;
        }
    }
}

void supervise(World& world, const WatchdogConfig& config, Log log) {
    SupervisorState state = initial_state(world, std::move(log));
    for (;;) pause_after_tick(world, state, run_tick(world, config, state));
}

}  // namespace wd
