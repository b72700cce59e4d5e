// Windows paths as owned UTF-16 code units. Portable: must never include <windows.h>.
// Paths are carried unit for unit, so unpaired surrogates and characters outside the
// Basic Multilingual Plane survive every operation here unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wd {

using Path = std::u16string;

bool is_separator(char16_t c);

// Appends one component: a backslash is inserted unless `base` is empty or already ends in
// a separator.
Path join(std::u16string_view base, std::u16string_view component);

// The last component, ignoring trailing separators; none for a root, an empty path, "." or "..".
std::optional<std::u16string_view> final_component(std::u16string_view path);

// The path with its last component replaced by `name`; a path without one gets `name` appended.
Path with_final_component(std::u16string_view path, std::u16string_view name);

// The folder holding the last component; none when there is no final component or no folder.
std::optional<Path> parent_folder(std::u16string_view path);

// True when both paths have the same components, compared exactly: "\\" and "/" are both
// separators, and a run of them counts as one ("C:\\A/x" and "C:\\A\\\\x" are the same path).
bool same_components(std::u16string_view a, std::u16string_view b);

// How a program is named when it is started. A name with a folder part (a separator or a
// drive colon) is a path; a bare name is searched for, with ".exe" added when it has no dot;
// a path not ending in ".exe" is started with ".exe" added when that file exists.
inline constexpr std::u16string_view EXE_EXTENSION = u".exe";
bool has_folder_part(std::u16string_view program);
bool ends_with_exe(std::u16string_view path);  // ".exe" in any ASCII case
Path bare_name_with_exe(std::u16string_view name);

// Display form for log lines: UTF-8, unpaired surrogates shown as U+FFFD.
std::string path_display(std::u16string_view path);

}  // namespace wd
