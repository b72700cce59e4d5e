// The records of the player side (player.json, liveness.json, closed.json, updating.json) as
// the player and its updater write them, for tests that set a world up: a case gives values,
// and the JSON is written here once. Tests of the readers keep their texts literal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mem_world.h"

namespace wd::fakes {

// A JSON string: quoted, with backslashes and quotes escaped and control characters (a NUL in
// a path, say) as \u escapes.
inline std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char HEX[] = "0123456789abcdef";
            out += "\\u00";
            out += HEX[(c >> 4) & 0xF];
            out += HEX[c & 0xF];
            continue;
        }
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

inline constexpr std::string_view PLAYER_EXE_PATH = "C:\\Program Files\\Vellum\\player.exe";

// player.json with the pid and startedAt that are given.
inline std::string player_json(std::optional<std::uint32_t> pid = std::nullopt,
                               std::optional<std::uint64_t> started_at = std::nullopt,
                               std::string_view exe_path = PLAYER_EXE_PATH,
                               std::string_view image_name = "player.exe") {
    std::string text =
        "{\"exePath\":" + json_string(exe_path) + ",\"imageName\":" + json_string(image_name);
    if (pid) text += ",\"pid\":" + std::to_string(*pid);
    if (started_at) text += ",\"startedAt\":" + std::to_string(*started_at);
    return text + "}";
}

inline std::string liveness_json(std::uint32_t pid, std::uint64_t ts) {
    return "{\"pid\":" + std::to_string(pid) + ",\"ts\":" + std::to_string(ts) + "}";
}

inline std::string closed_json(std::uint64_t closed_at,
                               std::optional<std::int64_t> logon_time = std::nullopt) {
    return "{\"closedAt\":" + std::to_string(closed_at) +
           (logon_time ? ",\"logonTime\":" + std::to_string(*logon_time) : "") + "}";
}

inline std::string updating_json(std::uint64_t started_at_ms, std::string_view version = "2") {
    return "{\"startedAtMs\":" + std::to_string(started_at_ms) +
           ",\"version\":" + json_string(version) + "}";
}

// The file's bytes, its folder created first.
inline void put(MemWorld& world, const Path& path, std::string text) {
    world.create_dirs(*parent_folder(path));
    world.files[path] = std::move(text);
}

}  // namespace wd::fakes
