// The settings, read once at start-up from the environment: five numbers, and the features
// that are off unless asked for: the wake on the player's exit, the hang dumps, the memory
// ceiling, the check that the player's windows respond, the event log and the daily restart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/world.h"

namespace wd {

inline constexpr std::uint64_t DEFAULT_CHECK_INTERVAL_SECS = 3;
inline constexpr std::uint64_t DEFAULT_HANG_TIMEOUT_SECS = 30;
inline constexpr std::uint64_t DEFAULT_STARTUP_GRACE_SECS = 60;
inline constexpr std::uint64_t DEFAULT_UPDATE_GRACE_SECS = 120;
inline constexpr std::uint64_t DEFAULT_UPDATE_HANG_CAP_SECS = 360;
// More hang dumps than this are not kept, whatever the setting asks.
inline constexpr std::uint64_t MAX_HANG_DUMPS = 100;
// How long ending a hung player waits for its dump, unless the owner sets it.
inline constexpr std::uint64_t DEFAULT_HANG_DUMP_TIMEOUT_SECS = 10;

// The settings as the loop uses them: the interval in seconds, the limits in milliseconds.
struct WatchdogConfig {
    std::uint64_t check_interval_secs = DEFAULT_CHECK_INTERVAL_SECS;
    std::uint64_t hang_timeout_ms = DEFAULT_HANG_TIMEOUT_SECS * 1000;
    std::uint64_t startup_grace_ms = DEFAULT_STARTUP_GRACE_SECS * 1000;
    std::uint64_t update_grace_ms = DEFAULT_UPDATE_GRACE_SECS * 1000;
    std::uint64_t update_hang_cap_ms = DEFAULT_UPDATE_HANG_CAP_SECS * 1000;
    // A plain pause after a tick with the own child running ends when that child ends.
    bool wake_on_exit = false;
    // How many minidumps of hung players to keep; 0 writes none.
    std::uint64_t hang_dumps = 0;
    // How long a dump may take before its player is ended anyway.
    std::uint64_t hang_dump_timeout_ms = DEFAULT_HANG_DUMP_TIMEOUT_SECS * 1000;
    // The ceiling on the player's private memory in MiB; 0 sets none.
    std::uint64_t memory_limit_mb = 0;
    // How long no visible window of the player may answer before it is ended; 0 asks none.
    std::uint64_t not_responding_ms = 0;
    // Every logged line is also written to the Application event log.
    bool event_log = false;
    // The local time of day, in minutes after midnight, at which the player is restarted every
    // day; none restarts nothing.
    std::optional<std::uint32_t> daily_restart_minute;
};

inline constexpr std::u16string_view CHECK_INTERVAL_VAR =
    u"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS";
inline constexpr std::u16string_view HANG_TIMEOUT_VAR = u"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS";
inline constexpr std::u16string_view STARTUP_GRACE_VAR =
    u"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS";
inline constexpr std::u16string_view UPDATE_GRACE_VAR = u"VELLUMBEACON_WATCHDOG_UPDATE_GRACE_SECS";
inline constexpr std::u16string_view UPDATE_HANG_CAP_VAR =
    u"VELLUMBEACON_WATCHDOG_UPDATE_HANG_CAP_SECS";
// 1 turns the wake on; anything else, or nothing, leaves it off.
inline constexpr std::u16string_view WAKE_ON_EXIT_VAR = u"VELLUMBEACON_WATCHDOG_WAKE_ON_EXIT";
// A count of dumps to keep, at most MAX_HANG_DUMPS; unset, 0 or malformed writes none.
inline constexpr std::u16string_view HANG_DUMPS_VAR = u"VELLUMBEACON_WATCHDOG_HANG_DUMPS";
// Seconds; read only when dumps are kept; unset or malformed takes the default.
inline constexpr std::u16string_view HANG_DUMP_TIMEOUT_VAR =
    u"VELLUMBEACON_WATCHDOG_HANG_DUMP_TIMEOUT_SECS";
// MiB; unset, 0 or malformed sets no ceiling.
inline constexpr std::u16string_view MEMORY_LIMIT_VAR = u"VELLUMBEACON_WATCHDOG_MEMORY_LIMIT_MB";
// 1 writes every line to the event log too, as the wake is turned on; anything else does not.
inline constexpr std::u16string_view EVENT_LOG_VAR = u"VELLUMBEACON_WATCHDOG_EVENT_LOG";
// Seconds; unset, 0 or malformed asks no window anything.
inline constexpr std::u16string_view NOT_RESPONDING_VAR =
    u"VELLUMBEACON_WATCHDOG_NOT_RESPONDING_SECS";

// HH:MM, 24-hour local time (00:00 to 23:59, exactly that form); anything else is off.
inline constexpr std::u16string_view DAILY_RESTART_AT_VAR =
    u"VELLUMBEACON_WATCHDOG_DAILY_RESTART_AT";

// "HH:MM" (00:00 to 23:59, two digits each) as minutes after midnight; none for anything else.
std::optional<std::uint32_t> parse_time_of_day(std::u16string_view text);

// Minutes after midnight as "HH:MM".
std::string time_of_day_text(std::uint32_t minute);

// The variable read as a strict unsigned 64-bit decimal (optional '+', digits only, no
// blanks), or `fallback` when it is unset, not valid Unicode or malformed.
std::uint64_t read_u64_setting(World& world, std::u16string_view name, std::uint64_t fallback);

// Seconds to milliseconds, saturating at the 64-bit maximum.
std::uint64_t secs_to_ms(std::uint64_t secs);

// All the settings in their order, with the four limits converted to milliseconds.
WatchdogConfig read_config(World& world);

}  // namespace wd
