// The player process that the watchdog started itself, watched and ended through its handle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/path.h"
#include "base/world.h"
#include "state/log.h"

namespace wd {

// Owns the child's process and thread handles; empty when there is no child. Resetting it
// releases the handles without ending the process.
using PlayerChild = std::unique_ptr<ChildProcess>;

// The file a launch of `program`, a path with a folder part, starts: the path with ".exe" added
// when it does not end with ".exe" and that file exists, else the path itself.
Path launched_file(FileSystem& files, const Path& program);

// Starts the player with no arguments and logs that it was spawned, or that the spawn failed
// and why, and returns an empty child.
PlayerChild spawn_player(World& world, Log& log, const Path& exe);

// Ends the child by force (exit code 1), waits for it within a bound and releases it; an
// empty child is nothing to end.
void end_child(PlayerChild child);

}  // namespace wd
