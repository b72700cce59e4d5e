// What watchdog-status.exe reports: the facts about this user's watchdog and player, read
// through the same seam and readers as the watchdog and changing nothing (no file written, no
// process ended, no lock taken), the verdict drawn from them, and the two ways of printing
// them. Portable.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/world.h"
#include "bin/config.h"
#include "bin/decision.h"
#include "bin/hang_dump.h"
#include "bin/product.h"
#include "state/records.h"

namespace wd {

struct StatusFacts {
    std::uint64_t now_ms = 0;
    WatchdogConfig config;
    // The settings the report judged by that are set in its environment (the others took their
    // defaults), by their variables' names.
    std::vector<std::string> settings_set;
    bool as_system = false;      // the report runs as the LocalSystem account
    bool folder_named = false;   // the folder was named on the command line
    std::optional<Path> folder;  // the watchdog folder, when the roaming folder could be had
    bool folder_exists = false;
    // Where the hang dumps are: under the same profile's local folder; none when that cannot
    // be told (the local folder cannot be had, or a named folder is in no profile).
    std::optional<Path> dumps_folder;

    FileRead<std::uint32_t> lock;  // the pid in watchdog.lock
    bool watchdog_running = false;

    FileRead<PlayerInfo> player_info;
    FileRead<LivenessRecord> liveness;
    bool player_alive = false;
    // The player was not found, but tasklist gave no answer (why): whether it runs is unknown.
    std::optional<std::string> player_unknown;
    std::optional<std::uint32_t> player_pid;
    std::string player_image;                           // the image the player was looked for under
    std::optional<std::uint64_t> player_private_bytes;  // none when it could not be read
    std::optional<WindowsAnswer> player_windows;        // none when no player was asked
    bool liveness_fresh = false;

    FileRead<ClosedFlag> close;
    bool close_in_force = false;
    FileRead<UpdatingSentinel> update_file;
    UpdateState update;  // NoUpdate also for a missing, invalid or stale sentinel

    FileRead<std::uint64_t> recoveries;
    FileRead<LastCrashRecord> last_recovery;
    FileRead<std::vector<std::string>> log_tail;  // the last lines, oldest first
    std::optional<NewestDump> newest_dump;
    // With a daily restart set: the next time the local clock reaches it.
    std::optional<std::uint64_t> next_daily_restart_ms;
};

// The first wall-clock time after `now_ms` at which the local clock shows `minute` (minutes
// after midnight); none when the local time cannot be had.
std::optional<std::uint64_t> next_local_minute(Clocks& clocks, std::uint64_t now_ms,
                                               std::uint32_t minute);

// Reads everything the report needs, with the settings as the watchdog reads them, about
// this user's watchdog or the one whose folder is `folder`.
StatusFacts gather_status(World& world, std::size_t log_lines,
                          const std::optional<Path>& folder = std::nullopt);

// For a folder <profile>\AppData\Roaming\com.vellumbeacon.player\watchdog (in any ASCII
// case), <profile>\AppData\Local\com.vellumbeacon.player\watchdog\dumps; none for any other.
std::optional<Path> dumps_folder_beside(std::u16string_view watchdog_folder);

enum class Verdict : int { Healthy = 0, NeedsLook = 1, NoWatchdog = 2 };

struct Judgement {
    Verdict verdict = Verdict::Healthy;
    std::vector<std::string> reasons;  // what needs a look, or why no watchdog runs
};

// Healthy when a watchdog runs and the player is alive with a fresh liveness record. No
// watchdog folder yet needs a look (and, for SYSTEM, says to name one); otherwise no running
// watchdog is NoWatchdog; a player that is not alive, a stale or missing liveness record, a close
// or an update in force need a look.
Judgement judge_status(const StatusFacts& facts);

// Renders wall-clock milliseconds as a local date and time ("2026-12-09 05:31:00").
using LocalTime = std::function<std::string(std::uint64_t ms)>;

std::string format_status_text(const StatusFacts& facts, const Judgement& judgement,
                               const LocalTime& local_time);
// One line of JSON. With `max_chars`, the oldest log lines are left out until it fits (the
// count left out is "omitted").
std::string format_status_json(const StatusFacts& facts, const Judgement& judgement,
                               const LocalTime& local_time,
                               std::optional<std::size_t> max_chars = std::nullopt);

}  // namespace wd
