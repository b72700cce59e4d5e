// Finding a program by bare name, as the system tools and a bare player name are found.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "base/path.h"

namespace wd::win32 {

// The watchdog's own folder, the system folder, the Windows folder, then each non-empty PATH
// entry: where a player named without a folder is looked for.
std::vector<Path> program_search_folders();

// The system folder alone (none when it cannot be had): where the system tools are run from.
// A folder the watchdog was copied into may be one any local user can add files to.
std::vector<Path> tool_search_folders();

// The first existing file named `name` (".exe" appended when it has no dot) in the folders.
std::optional<Path> find_program(std::u16string_view name, const std::vector<Path>& folders);

// A regular file (not a folder) exists at the path.
bool is_file(const Path& path);

}  // namespace wd::win32
