// Win32 file operations behind the World seam (the file part of Win32World): tolerant reads,
// whole-file replacement, appends and folder creation. No decisions are taken here.
#pragma once

#include <cstdint>

#include "base/win32_world.h"

namespace wd::win32 {

// The sequence number that the next replacement will use (tests observe the naming with it).
std::uint64_t peek_replacement_sequence();

}  // namespace wd::win32
