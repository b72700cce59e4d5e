// Starting programs on Win32: the search for a bare program name, bounded runs of the system
// tools, the player child and the system's error texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/world.h"

namespace wd::win32 {

// A tool that has not ended within this is ended and counts as not run.
inline constexpr std::uint32_t TOOL_TIMEOUT_MS = 30'000;
// More standard output than this is not a tool's answer: the run counts as failed.
inline constexpr std::size_t MAX_TOOL_OUTPUT_BYTES = 1u << 20;
// How long end_child waits for a force-ended child before releasing it anyway.
inline constexpr std::uint32_t END_CHILD_WAIT_MS = 10'000;

// The watchdog's own folder, the system folder, the Windows folder, then each non-empty PATH
// entry.
std::vector<Path> program_search_folders();

// The first existing file named `name` (".exe" appended when it has no dot) in the folders.
std::optional<Path> find_program(std::u16string_view name, const std::vector<Path>& folders);

// "<system message> (os error <n>)".
std::string os_error_text(std::uint32_t error);

// The tool's standard output, or none when it could not be started, a read of its output
// failed, the output passed MAX_TOOL_OUTPUT_BYTES, or it did not end within the bound.
std::optional<std::string> run_tool_output(std::u16string_view name,
                                           const std::vector<std::u16string>& args,
                                           std::uint32_t timeout_ms = TOOL_TIMEOUT_MS);
std::optional<std::uint32_t> run_tool_status(std::u16string_view name,
                                             const std::vector<std::u16string>& args,
                                             std::uint32_t timeout_ms = TOOL_TIMEOUT_MS);

// The player: the quoted path as the whole command line, no creation flags, inherited
// environment, folder and standard handles.
SpawnResult spawn_process(const Path& program);

}  // namespace wd::win32
