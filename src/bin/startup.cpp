#include "bin/startup.h"

#include "bin/events.h"
#include "process/lock.h"

namespace wd {

std::optional<Started> start_up(World& world) {
    const WatchdogConfig config = read_config(world);
    // Before the first line, which may be the rival's.
    Log log(world, config.event_log ? Log::Also(EventLogWriter(world)) : Log::Also());
    if (!claim_instance_lock(world, log)) return std::nullopt;
    log(msg::started());
    return Started{config, std::move(log)};
}

}  // namespace wd
