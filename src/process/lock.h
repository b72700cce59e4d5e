// The single-instance lock: watchdog.lock names the live watchdog by its pid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/world.h"
#include "state/log.h"

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

// How long a watchdog that finds the claim taken waits for its holder to name itself in the
// lock: the holder claims first and writes the lock a moment later.
inline constexpr std::uint64_t CLAIM_HOLDER_WAIT_SECS = 5;

// The name of the system-wide claim of the watchdog whose folder this is:
// "Global\vellumbeacon-watchdog-" and a hash of the path, ASCII letters folded to lower case
// and "/" read as "\", in 16 hexadecimal digits. One user's folder, one claim, in every
// session the user is signed in to.
std::u16string instance_claim_name(std::u16string_view watchdog_folder);

// True when this watchdog may run (its pid is then in watchdog.lock, if it could be written).
// First the claim: when another watchdog of this folder holds it, logs "another watchdog is
// live (pid=<pid>); exiting", naming the pid the holder writes into the lock (0 when it has
// not within CLAIM_HOLDER_WAIT_SECS), and returns false. A claim that cannot be had is no
// rival. Then the lock, for a watchdog that takes no claim: when it names another live
// process of this program's image name, the same line and false. Either way the lock is left
// as it was, and the caller ends the process with status 0.
bool claim_instance_lock(World& world, Log& log);

}  // namespace wd
