// The five numeric settings, read once at start-up from the environment.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/world.h"

namespace wd {

struct WatchdogConfig {
    std::uint64_t check_interval_secs = 3;
    std::uint64_t hang_timeout_ms = 30'000;
    std::uint64_t startup_grace_ms = 60'000;
    std::uint64_t update_grace_ms = 120'000;
    std::uint64_t update_hang_cap_ms = 360'000;
};

inline constexpr std::u16string_view CHECK_INTERVAL_VAR =
    u"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS";
inline constexpr std::u16string_view HANG_TIMEOUT_VAR = u"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS";
inline constexpr std::u16string_view STARTUP_GRACE_VAR =
    u"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS";
inline constexpr std::u16string_view UPDATE_GRACE_VAR = u"VELLUMBEACON_WATCHDOG_UPDATE_GRACE_SECS";
inline constexpr std::u16string_view UPDATE_HANG_CAP_VAR =
    u"VELLUMBEACON_WATCHDOG_UPDATE_HANG_CAP_SECS";

// The variable read as a strict unsigned 64-bit decimal (optional '+', digits only, no
// blanks), or `fallback` when it is unset, not valid Unicode or malformed.
std::uint64_t read_u64_setting(World& world, std::u16string_view name, std::uint64_t fallback);

// Seconds to milliseconds, saturating at the 64-bit maximum.
std::uint64_t secs_to_ms(std::uint64_t secs);

// All five settings in their order, with the four limits converted to milliseconds.
WatchdogConfig read_config(World& world);

}  // namespace wd
