// What watchdog.exe does before it supervises: read the settings, make sure it is the only
// watchdog of this user, and say that it started.
#pragma once

#include <optional>

#include "base/world.h"
#include "bin/config.h"
#include "state/log.h"

namespace wd {

// The settings and where messages go (the event log too when the settings say so).
struct Started {
    WatchdogConfig config;
    Log log;
};

// Once the single-instance check has passed and the start is logged: what the loop needs;
// none when another watchdog is live (the process then ends with status 0).
std::optional<Started> start_up(World& world);

}  // namespace wd
