#include "status/status.h"

#include <string_view>

#include "base/text.h"
#include "bin/player_resolution.h"
#include "process/lock.h"
#include "process/probes.h"
#include "state/files.h"
#include "state/log.h"
#include "state/paths.h"
#include "state/recovery.h"

namespace wd {
namespace {

// The settings the report judges by: the hang timeout, the update's grace and cap, and the
// memory ceiling it shows.
constexpr std::u16string_view JUDGED_BY[] = {HANG_TIMEOUT_VAR, UPDATE_GRACE_VAR,
                                             UPDATE_HANG_CAP_VAR, MEMORY_LIMIT_VAR};

std::optional<Path> in(const std::optional<Path>& folder, std::u16string_view name) {
    if (!folder) return std::nullopt;
    return join(*folder, name);
}

}  // namespace

std::optional<Path> dumps_folder_beside(std::u16string_view watchdog_folder) {
    const auto named = [](const Path& path, std::u16string_view name) {
        const auto last = final_component(path);
        return last && equals_ascii_nocase(utf16_to_utf8_lossy(*last), utf16_to_utf8_lossy(name));
    };
    Path folder(watchdog_folder);
    constexpr std::u16string_view UP[] = {WATCHDOG_FOLDER_NAME, APP_FOLDER_NAME, u"Roaming"};
    for (const std::u16string_view name : UP) {
        if (!named(folder, name)) return std::nullopt;
        folder = parent_folder(folder).value_or(Path());
    }
    if (!named(folder, u"AppData")) return std::nullopt;
    return join(join(join(join(folder, u"Local"), APP_FOLDER_NAME), WATCHDOG_FOLDER_NAME),
                DUMPS_FOLDER_NAME);
}

std::optional<std::uint64_t> next_local_minute(Clocks& clocks, std::uint64_t now_ms,
                                               std::uint32_t minute) {
    constexpr std::uint64_t MINUTE_MS = 60'000;
    const auto now = clocks.local_clock(now_ms);
    if (!now) return std::nullopt;
    const std::uint32_t ahead =
        now->minute < minute ? minute - now->minute : 24 * 60 - now->minute + minute;
    std::uint64_t at = now_ms - now_ms % MINUTE_MS + std::uint64_t{ahead} * MINUTE_MS;
    // A change of daylight saving time on the way moves the local clock against the wall
    // clock: once more by the difference it makes.
    if (const auto then = clocks.local_clock(at); then && then->minute != minute) {
        const auto off =
            static_cast<std::int64_t>(minute) - static_cast<std::int64_t>(then->minute);
        const auto moved = static_cast<std::uint64_t>(static_cast<std::int64_t>(at) + off * 60'000);
        const auto there = clocks.local_clock(moved);
        // A time the change skips is reached at the first minute past it, as the watchdog does.
        if (there && there->minute == minute && moved > now_ms) at = moved;
    }
    return at;
}

StatusFacts gather_status(World& world, std::size_t log_lines, const std::optional<Path>& folder) {
    StatusFacts f;
    f.config = read_config(world);
    for (const std::u16string_view name : JUDGED_BY) {
        if (world.env(name)) f.settings_set.push_back(utf16_to_utf8_lossy(name));
    }
    f.now_ms = world.wall_clock_ms();
    f.folder_named = folder.has_value();
    f.folder = folder ? folder : watchdog_dir(world);
    f.folder_exists = f.folder && world.path_kind(*f.folder) == PathKind::Folder;
    f.dumps_folder = folder ? dumps_folder_beside(*folder) : dumps_dir(world);
    // A named folder's updates are beside it, as this user's are beside this user's.
    const auto app = folder ? parent_folder(*folder) : app_dir(world);
    const auto updating = in(in(app, UPDATES_FOLDER_NAME), UPDATING_FILE);

    constexpr auto ASK = FailureReasons::Ask;
    f.lock = parse_file(read_text_file(world, in(f.folder, LOCK_FILE), ASK), parse_lock_pid);
    f.watchdog_running =
        f.lock.value && lock_holder_is_live(world, *f.lock.value, WATCHDOG_IMAGE_NAME);

    f.player_info = read_player_info(world, in(f.folder, PLAYER_FILE), ASK);
    f.liveness = read_liveness_record(world, in(f.folder, LIVENESS_FILE), ASK);
    Identification found = identify_player(world, false, f.player_info.value, f.liveness.value);
    f.player_alive = found.player_alive;
    f.player_unknown = std::move(found.unknown);
    f.player_pid = found.adopted_pid;
    f.player_image = std::move(found.image_name);
    if (f.player_pid) {
        f.player_private_bytes = world.process_private_bytes(*f.player_pid);
        f.player_windows = world.ask_windows(*f.player_pid);
    }
    f.liveness_fresh = liveness_is_fresh(f.liveness.value, f.now_ms, f.config.hang_timeout_ms);

    f.close = read_closed_flag(world, in(f.folder, CLOSED_FILE), ASK);
    // This session's logon is not the one a named folder's user closed the player in: such a
    // close is judged by its age alone, as when no logon time can be had.
    const auto logon = folder ? std::nullopt : world.session_logon_time();
    f.close_in_force = f.close.value && close_is_current(*f.close.value, logon, f.now_ms);
    f.update_file = read_updating_sentinel(world, updating, ASK);
    f.update = classify_update(f.update_file.value, f.config, f.now_ms);

    f.recoveries =
        parse_file(read_text_file(world, in(f.folder, RECOVERIES_FILE), ASK), parse_recovery_count);
    f.last_recovery = read_last_crash_record(world, in(f.folder, LAST_CRASH_FILE), ASK);
    f.log_tail = read_log_tail(world, in(f.folder, LOG_FILE), log_lines);
    if (f.dumps_folder) f.newest_dump = newest_hang_dump(world, *f.dumps_folder);
    if (f.config.daily_restart_minute) {
        f.next_daily_restart_ms =
            next_local_minute(world, f.now_ms, *f.config.daily_restart_minute);
    }
    return f;
}

Judgement judge_status(const StatusFacts& f) {
    if (!f.folder_exists) {
        std::string reason = "no watchdog folder yet";
        // A fleet tool's default account, which has no watchdog of its own.
        if (f.as_system && !f.folder_named) {
            reason +=
                "; this runs as SYSTEM, which has none: name the signage user's with "
                "--folder <profile>\\AppData\\Roaming\\com.vellumbeacon.player\\watchdog";
        }
        return {Verdict::NeedsLook, {reason}};
    }
    if (!f.watchdog_running) {
        return {
            Verdict::NoWatchdog,
            {f.lock.value ? "the pid in watchdog.lock is no watchdog" : "no valid watchdog.lock"}};
    }
    Judgement j;
    if (f.player_unknown) {
        j.reasons.push_back("whether the player runs is unknown (tasklist: " + *f.player_unknown +
                            ")");
    } else if (!f.player_alive) {
        j.reasons.push_back("the player is not running");
    }
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
