// Bounded runs of the system tools (tasklist, taskkill): found by bare name in the system folder
// alone, started without a window, waited for without spinning, ended when they take too long.
// Win32World runs them with TOOL_TIMEOUT_MS; tests give shorter bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/world.h"

namespace wd::win32 {

// A tool that has not ended within this is ended and counts as not run.
inline constexpr std::uint32_t TOOL_TIMEOUT_MS = 30'000;
// More standard output than this is not a tool's answer: the run counts as failed.
inline constexpr std::size_t MAX_TOOL_OUTPUT_BYTES = 1u << 20;

// The tool's standard output and exit status (standard input the null device, standard error
// read and dropped); or NotStarted, TimedOut (it did not end within `timeout_ms` and was
// ended), or Unreadable (a read of its output failed, or the output passed
// MAX_TOOL_OUTPUT_BYTES).
ToolOutput run_tool_output(std::u16string_view name, const std::vector<std::u16string>& args,
                           std::uint32_t timeout_ms);

}  // namespace wd::win32
