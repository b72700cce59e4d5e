// The programs this product ships, by the file names the package installs them under. The
// system lists each running copy under this image name, and none of them is ever the player.
#pragma once

#include <array>
#include <string_view>

namespace wd {

inline constexpr std::string_view WATCHDOG_IMAGE_NAME = "watchdog.exe";
inline constexpr std::string_view STATUS_IMAGE_NAME = "watchdog-status.exe";

// Every program of the product; a companion program added later belongs here too, so that
// the search beside the watchdog can never take it for the player.
inline constexpr std::array<std::string_view, 2> PRODUCT_PROGRAMS{WATCHDOG_IMAGE_NAME,
                                                                  STATUS_IMAGE_NAME};

}  // namespace wd
