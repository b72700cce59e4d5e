// The player started as the watchdog's own child (Win32World::spawn_process), watched and
// ended through its handle.
#pragma once

#include <cstdint>

#include "base/win32_world.h"

namespace wd::win32 {

// How long a force-ended child is waited for before it is released anyway.
inline constexpr std::uint32_t END_CHILD_WAIT_MS = 10'000;

}  // namespace wd::win32
