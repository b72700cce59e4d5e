// The single-instance lock: watchdog.lock names the live watchdog by its pid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/world.h"

namespace wd {

// The pid in the lock file's text: Unicode white space trimmed at both ends, an optional '+'
// and decimal digits up to 4294967295. None for anything else.
std::optional<std::uint32_t> parse_lock_pid(std::string_view text);

// The file name of this program's executable, as the process list shows it; empty when the
// path cannot be had.
std::string own_image_name(World& world);

// Whether the pid a lock names is a live watchdog: not this process, and running under the
// watchdog's image name. Process ids are reused, so after a reboot the old pid may belong to
// anything; without an image name none can be told, and none is live.
bool lock_holder_is_live(World& world, std::uint32_t pid, std::string_view watchdog_image);

// True when this watchdog may run (its pid is then in watchdog.lock, if it could be written).
// When the lock names another live process of this program's image name, logs
// "another watchdog is live (pid=<pid>); exiting" and returns false, leaving the lock as it
// was; the caller then ends the process with status 0.
bool claim_instance_lock(World& world);

}  // namespace wd
