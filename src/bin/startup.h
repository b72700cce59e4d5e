// What watchdog.exe does before it supervises: read the settings, make sure it is the only
// watchdog of this user, and say that it started.
#pragma once

#include <optional>

#include "base/world.h"
#include "bin/config.h"

namespace wd {

// The settings, once the single-instance check has passed and "vellumbeacon-watchdog started"
// is logged; none when another watchdog is live (the process then ends with status 0).
std::optional<WatchdogConfig> start_up(World& world);

}  // namespace wd
