// Where the watchdog and the player keep their files. Every path is rebuilt on every use,
// so a change of the user's roaming folder takes effect at once.
#pragma once

#include <optional>
#include <string_view>

#include "base/path.h"
#include "base/world.h"

namespace wd {

inline constexpr std::u16string_view APP_FOLDER_NAME = u"com.vellumbeacon.player";
inline constexpr std::u16string_view WATCHDOG_FOLDER_NAME = u"watchdog";
inline constexpr std::u16string_view UPDATES_FOLDER_NAME = u"updates";

inline constexpr std::u16string_view LIVENESS_FILE = u"liveness.json";
inline constexpr std::u16string_view CLOSED_FILE = u"closed.json";
inline constexpr std::u16string_view PLAYER_FILE = u"player.json";
inline constexpr std::u16string_view UPDATING_FILE = u"updating.json";
inline constexpr std::u16string_view LOCK_FILE = u"watchdog.lock";
inline constexpr std::u16string_view LOG_FILE = u"watchdog.log";
inline constexpr std::u16string_view LAST_CRASH_FILE = u"last-crash.json";
inline constexpr std::u16string_view RECOVERIES_FILE = u"recoveries.txt";
inline constexpr std::u16string_view RESTART_FILE = u"restart.json";

// The roaming folder followed by com.vellumbeacon.player; none when the lookup fails.
std::optional<Path> app_dir(World& world);

// app_dir followed by watchdog.
std::optional<Path> watchdog_dir(World& world);

// watchdog_dir followed by player.json.
std::optional<Path> player_info_path(World& world);

// watchdog_dir followed by `name`.
std::optional<Path> watchdog_file(World& world, std::u16string_view name);

// app_dir followed by updates and updating.json.
std::optional<Path> updating_path(World& world);

// The local folder followed by com.vellumbeacon.player, watchdog and `name`: what is too big to
// travel with a roaming profile. None when the local folder cannot be had.
std::optional<Path> local_watchdog_file(World& world, std::u16string_view name);

}  // namespace wd
