#include "state/paths.h"

namespace wd {

std::optional<Path> app_dir(World& world) {
    const auto roaming = world.known_folder(KnownFolder::RoamingAppData);
    if (!roaming) return std::nullopt;
    return join(*roaming, APP_FOLDER_NAME);
}

std::optional<Path> watchdog_dir(World& world) {
    const auto app = app_dir(world);
    if (!app) return std::nullopt;
    return join(*app, WATCHDOG_FOLDER_NAME);
}

std::optional<Path> player_info_path(World& world) {
    return watchdog_file(world, PLAYER_FILE);
}

std::optional<Path> watchdog_file(World& world, std::u16string_view name) {
    const auto dir = watchdog_dir(world);
    if (!dir) return std::nullopt;
    return join(*dir, name);
}

std::optional<Path> updating_path(World& world) {
    const auto app = app_dir(world);
    if (!app) return std::nullopt;
    return join(join(*app, UPDATES_FOLDER_NAME), UPDATING_FILE);
}

std::optional<Path> local_watchdog_file(World& world, std::u16string_view name) {
    const auto local = world.known_folder(KnownFolder::LocalAppData);
    if (!local) return std::nullopt;
    return join(join(join(*local, APP_FOLDER_NAME), WATCHDOG_FOLDER_NAME), name);
}

}  // namespace wd
