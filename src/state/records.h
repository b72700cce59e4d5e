// The records that the player and its updater write, read strictly and all or nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/path.h"
#include "base/world.h"
#include "state/files.h"

namespace wd {

// closed.json: the operator closed the player.
struct ClosedFlag {
    std::uint64_t closed_at = 0;             // "closedAt", ms since 1970
    std::optional<std::int64_t> logon_time;  // "logonTime", the raw session logon time
};

// player.json: the player about itself.
struct PlayerInfo {
    std::string exe_path;                     // "exePath"
    std::string image_name;                   // "imageName", may be empty
    std::optional<std::uint32_t> pid;         // "pid"
    std::optional<std::uint64_t> started_at;  // "startedAt", ms since 1970
};

// liveness.json: the player's heartbeat.
struct LivenessRecord {
    std::uint32_t pid = 0;  // "pid"
    std::uint64_t ts = 0;   // "ts", ms since 1970
};

// updating.json: an update is being installed.
struct UpdatingSentinel {
    std::uint64_t started_at_ms = 0;  // "startedAtMs", ms since 1970
    std::string version;              // "version", required but otherwise unused
};

// last-crash.json: the last recovery, as the watchdog wrote it.
struct LastCrashRecord {
    std::string what;      // "what", the log line
    std::uint64_t at = 0;  // "at", ms since 1970
};

// restart.json: a restart of the player asked for by an operator's command.
struct RestartRequest {
    std::uint64_t requested_at = 0;  // "requestedAt", ms since 1970
};

// Parsers: one strict JSON document, an object (unknown keys skipped, a known key twice is
// invalid) or an array of the fields in order; integer kinds and ranges enforced; null only
// in optional fields. Anything else, a byte-order mark or a NUL byte gives none.
std::optional<ClosedFlag> parse_closed_flag(std::string_view text);
std::optional<PlayerInfo> parse_player_info(std::string_view text);
std::optional<LivenessRecord> parse_liveness_record(std::string_view text);
std::optional<UpdatingSentinel> parse_updating_sentinel(std::string_view text);
std::optional<LastCrashRecord> parse_last_crash_record(std::string_view text);
std::optional<RestartRequest> parse_restart_request(std::string_view text);

// The file read as UTF-8 and parsed, and how it was found: the one reader of every record,
// for the watchdog (which takes `.value`, absent on any failure) and the status report (which
// asks why a read failed) alike.
FileRead<ClosedFlag> read_closed_flag(World& world, const std::optional<Path>& path,
                                      FailureReasons reasons = FailureReasons::Skip);
FileRead<PlayerInfo> read_player_info(World& world, const std::optional<Path>& path,
                                      FailureReasons reasons = FailureReasons::Skip);
FileRead<LivenessRecord> read_liveness_record(World& world, const std::optional<Path>& path,
                                              FailureReasons reasons = FailureReasons::Skip);
FileRead<UpdatingSentinel> read_updating_sentinel(World& world, const std::optional<Path>& path,
                                                  FailureReasons reasons = FailureReasons::Skip);
FileRead<LastCrashRecord> read_last_crash_record(World& world, const std::optional<Path>& path,
                                                 FailureReasons reasons = FailureReasons::Skip);
FileRead<RestartRequest> read_restart_request(World& world, const std::optional<Path>& path,
                                              FailureReasons reasons = FailureReasons::Skip);

// restart.json's text for a request made at `requested_at`.
std::string restart_request_json(std::uint64_t requested_at);

}  // namespace wd
