#include "status/status.h"

#include "bin/player_resolution.h"
#include "process/lock.h"
#include "process/probes.h"
#include "state/files.h"
#include "state/log.h"
#include "state/paths.h"
#include "state/recovery.h"

namespace wd {

StatusFacts gather_status(World& world, std::size_t log_lines) {
    StatusFacts f;
    f.config = read_config(world);
    f.now_ms = world.wall_clock_ms();
    f.folder = watchdog_dir(world);
    f.folder_exists = f.folder && world.path_kind(*f.folder) == PathKind::Folder;

    constexpr auto ASK = FailureReasons::Ask;
    f.lock =
        parse_file(read_text_file(world, watchdog_file(world, LOCK_FILE), ASK), parse_lock_pid);
    f.watchdog_running =
        f.lock.value && lock_holder_is_live(world, *f.lock.value, WATCHDOG_IMAGE_NAME);

    f.player_info = read_player_info(world, player_info_path(world), ASK);
    f.liveness = read_liveness_record(world, watchdog_file(world, LIVENESS_FILE), ASK);
    Identification found = identify_player(world, false, f.player_info.value, f.liveness.value);
    f.player_alive = found.player_alive;
    f.player_pid = found.adopted_pid;
    f.player_image = std::move(found.image_name);
    if (f.player_pid) {
        f.player_private_bytes = world.process_private_bytes(*f.player_pid);
        f.player_windows = world.ask_windows(*f.player_pid);
    }
    f.liveness_fresh = liveness_is_fresh(f.liveness.value, f.now_ms, f.config.hang_timeout_ms);

    f.close = read_closed_flag(world, watchdog_file(world, CLOSED_FILE), ASK);
    f.close_in_force =
        f.close.value && close_is_current(*f.close.value, world.session_logon_time(), f.now_ms);
    f.update_file = read_updating_sentinel(world, updating_path(world), ASK);
    f.update = classify_update(f.update_file.value, f.config, f.now_ms);

    f.recoveries = parse_file(read_text_file(world, watchdog_file(world, RECOVERIES_FILE), ASK),
                              parse_recovery_count);
    f.last_recovery = read_last_crash_record(world, watchdog_file(world, LAST_CRASH_FILE), ASK);
    f.log_tail = read_log_tail(world, watchdog_file(world, LOG_FILE), log_lines);
    f.newest_dump = newest_hang_dump(world);
    return f;
}

Judgement judge_status(const StatusFacts& f) {
    if (!f.folder_exists) return {Verdict::NeedsLook, {"no watchdog folder yet"}};
    if (!f.watchdog_running) {
        return {
            Verdict::NoWatchdog,
            {f.lock.value ? "the pid in watchdog.lock is no watchdog" : "no valid watchdog.lock"}};
    }
    Judgement j;
    if (!f.player_alive) j.reasons.push_back("the player is not running");
    if (!f.liveness.value) {
        j.reasons.push_back(std::string("liveness.json is ") + file_state_name(f.liveness.state));
    } else if (!f.liveness_fresh) {
        j.reasons.push_back("the liveness record is stale");
    }
    if (f.close_in_force) j.reasons.push_back("an operator close is in force");
    if (f.update.kind != UpdateKind::NoUpdate) j.reasons.push_back("an update is under way");
    if (!j.reasons.empty()) j.verdict = Verdict::NeedsLook;
    return j;
}

}  // namespace wd
