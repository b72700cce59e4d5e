// Whole-file reads that say how a file was found, and the names of the temporary files through
// which whole-file replacements go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/path.h"
#include "base/world.h"

namespace wd {

// Records, counters and the lock are a few bytes; anything beyond this is not one of ours
// and is treated as unreadable rather than loaded into memory.
inline constexpr std::uint64_t MAX_READ_BYTES = 1u << 20;

// The whole file, or none when it is missing, unreadable or larger than MAX_READ_BYTES.
std::optional<std::string> read_file_bytes(World& world, const Path& path);

// As read_file_bytes, and none unless the bytes are valid UTF-8. Nothing is trimmed or removed.
std::optional<std::string> read_text(World& world, const Path& path);

// How a file was found, when it was read for what it holds.
enum class FileState { Missing, Unreadable, Oversized, Corrupt, Ok };

// "missing", "unreadable", "oversized", "corrupt" or "ok".
const char* file_state_name(FileState state);

// A file's value (when Ok), or why there is none.
template <typename Value>
struct FileRead {
    FileState state = FileState::Missing;
    std::optional<Value> value;
};

// Whether a read that fails asks the system why (a query or two more). The watchdog's checks
// do not, since its records are often simply absent; the status report does.
enum class FailureReasons { Skip, Ask };

// The file as UTF-8 text: Ok; Corrupt when it is not UTF-8; Missing when there is no path.
// A read that fails is Unreadable, or with FailureReasons::Ask, Missing, Oversized or
// Unreadable as the system tells.
FileRead<std::string> read_text_file(World& world, const std::optional<Path>& path,
                                     FailureReasons reasons = FailureReasons::Skip);

// The text's value through `parse`: Ok, Corrupt when `parse` gives none, or the text's state.
template <typename Parse>
auto parse_file(FileRead<std::string> text, Parse parse)
    -> FileRead<typename decltype(parse(std::string_view()))::value_type> {
    if (!text.value) return {text.state, std::nullopt};
    auto value = parse(std::string_view(*text.value));
    if (!value) return {FileState::Corrupt, std::nullopt};
    return {FileState::Ok, std::move(value)};
}

// The temporary sibling for replacing `target`: "." + final component + ".tmp." + pid + "." +
// sequence, the component shown with U+FFFD for unpaired surrogates, "state" when the target
// has no final component.
Path temp_path_for(const Path& target, std::uint32_t pid, std::uint64_t sequence);

}  // namespace wd
