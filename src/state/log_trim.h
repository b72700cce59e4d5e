// Keeps watchdog.log small in place: past the threshold it is cut to its newer half.
#pragma once

#include <cstdint>
#include <optional>

#include "base/path.h"
#include "base/world.h"

namespace wd {

inline constexpr std::uint64_t LOG_TRIM_THRESHOLD_BYTES = 262'144;

// When the file is larger than LOG_TRIM_THRESHOLD_BYTES, replaces it with the bytes after the
// first line feed at or after its midpoint (from the midpoint itself when there is none).
// Only the part from the midpoint on is ever read. Never fails towards the caller. Returns
// the size it found when it left the file as it was; none when it cut it or had no size.
std::optional<std::uint64_t> trim_log(World& world, const Path& log);

}  // namespace wd
