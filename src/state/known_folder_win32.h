#pragma once

#include <optional>

#include "base/path.h"

namespace wd::win32 {

// FOLDERID_RoamingAppData of the calling user, not created when missing; none on failure.
std::optional<Path> roaming_app_data();

}  // namespace wd::win32
