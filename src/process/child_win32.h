// The player started as the watchdog's own child, watched and ended through its handle.
#pragma once

#include <cstdint>

#include "base/path.h"
#include "base/world.h"

namespace wd::win32 {

// How long a force-ended child is waited for before it is released anyway.
inline constexpr std::uint32_t END_CHILD_WAIT_MS = 10'000;

// The player: its quoted path as the whole command line, no creation flags, inherited
// environment, folder and standard handles. A bare name is searched for as the tools are; a
// path not ending in ".exe" is tried with ".exe" first. An empty path, or one holding a NUL,
// is refused as an invalid name.
SpawnResult spawn_process(const Path& program);

}  // namespace wd::win32
