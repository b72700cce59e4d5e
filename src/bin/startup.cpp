#include "bin/startup.h"

#include "bin/events.h"
#include "process/lock.h"
#include "state/log.h"

namespace wd {

std::optional<WatchdogConfig> start_up(World& world) {
    const WatchdogConfig config = read_config(world);
    // Before the first line, which may be the rival's.
    if (config.event_log) set_log_sink(EventLogWriter(world));
    if (!claim_instance_lock(world)) return std::nullopt;
    log_line(world, "vellumbeacon-watchdog started");
    return config;
}

}  // namespace wd
