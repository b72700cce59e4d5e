#include "state/files.h"

#include "base/text.h"

namespace wd {

std::optional<std::string> read_file_bytes(World& world, const Path& path) {
    return world.read_bytes(path, MAX_READ_BYTES);
}

std::optional<std::string> read_text(World& world, const Path& path) {
    auto bytes = read_file_bytes(world, path);
    if (!bytes || !is_valid_utf8(*bytes)) return std::nullopt;
    return bytes;
}

const char* file_state_name(FileState state) {
    switch (state) {
        case FileState::Missing:
            return "missing";
        case FileState::Unreadable:
            return "unreadable";
        case FileState::Oversized:
            return "oversized";
        case FileState::Corrupt:
            return "corrupt";
        case FileState::Ok:
            return "ok";
    }
    return "ok";
}

FileRead<std::string> read_text_file(World& world, const std::optional<Path>& path,
                                     FailureReasons reasons) {
    if (!path) return {};
    auto bytes = read_file_bytes(world, *path);
    if (!bytes) {
        if (reasons == FailureReasons::Skip) return {FileState::Unreadable, std::nullopt};
        if (world.path_kind(*path) == PathKind::Missing) return {};
        const auto size = world.file_size(*path);
        const bool oversized = size && *size > MAX_READ_BYTES;
        return {oversized ? FileState::Oversized : FileState::Unreadable, std::nullopt};
    }
    if (!is_valid_utf8(*bytes)) return {FileState::Corrupt, std::nullopt};
    return {FileState::Ok, std::move(bytes)};
}

Path temp_path_for(const Path& target, std::uint32_t pid, std::uint64_t sequence) {
    const auto component = final_component(target);
    std::string name = ".";
    name += component ? utf16_to_utf8_lossy(*component) : std::string("state");
    name += ".tmp." + std::to_string(pid) + "." + std::to_string(sequence);
    return with_final_component(target, utf8_to_utf16_lossy(name));
}

}  // namespace wd
