#include "state/files.h"

#include "base/text.h"

namespace wd {

std::optional<std::string> read_bytes(World& world, const Path& path) {
    return world.read_bytes(path, MAX_READ_BYTES);
}

std::optional<std::string> read_text(World& world, const Path& path) {
    auto bytes = read_bytes(world, path);
    if (!bytes || !is_valid_utf8(*bytes)) return std::nullopt;
    return bytes;
}

Path temp_path_for(const Path& target, std::uint32_t pid, std::uint64_t sequence) {
    const auto component = final_component(target);
    std::string name = ".";
    name += component ? utf16_to_utf8_lossy(*component) : std::string("state");
    name += ".tmp." + std::to_string(pid) + "." + std::to_string(sequence);
    return with_final_component(target, utf8_to_utf16_lossy(name));
}

}  // namespace wd
