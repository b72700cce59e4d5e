// The single-instance lock: watchdog.lock names the live watchdog by its pid.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/world.h"

namespace wd {

// The pid in the lock file's text: Unicode white space trimmed at both ends, an optional '+'
// and decimal digits up to 4294967295. None for anything else.
std::optional<std::uint32_t> parse_lock_pid(std::string_view text);

// Returns when this watchdog may run (its pid is then in watchdog.lock, if it could be
// written). When the lock names another live process, logs
// "another watchdog is live (pid=<pid>); exiting" and ends this process with status 0,
// leaving the lock as it was.
void claim_instance_lock(World& world);

}  // namespace wd
