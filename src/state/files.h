// Whole-file reads that turn every failure into absent, and the names of the temporary
// files through which whole-file replacements go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/path.h"
#include "base/world.h"

namespace wd {

// Records, counters and the lock are a few bytes; anything beyond this is not one of ours
// and is treated as unreadable rather than loaded into memory.
inline constexpr std::uint64_t MAX_READ_BYTES = 1u << 20;

// The whole file, or none when it is missing, unreadable or larger than MAX_READ_BYTES.
std::optional<std::string> read_bytes(World& world, const Path& path);

// As read_bytes, and none unless the bytes are valid UTF-8. Nothing is trimmed or removed.
std::optional<std::string> read_text(World& world, const Path& path);

// The temporary sibling for replacing `target`: "." + final component + ".tmp." + pid + "." +
// sequence, the component shown with U+FFFD for unpaired surrogates, "state" when the target
// has no final component.
Path temp_path_for(const Path& target, std::uint32_t pid, std::uint64_t sequence);

}  // namespace wd
