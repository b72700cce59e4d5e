#include "bin/player_resolution.h"

#include "base/text.h"
#include "bin/product.h"
#include "process/child.h"
#include "process/probes.h"
#include "state/paths.h"

namespace wd {
namespace {

// Exists for the launch: metadata can be had, links followed; a folder counts too.
bool qualifies(World& world, const Path& path) {
    if (path.empty() || path.find(u'\0') != Path::npos) return false;
    return world.path_kind(path) != PathKind::Missing;
}

struct NameParts {
    std::u16string_view stem;
    std::optional<std::u16string_view> extension;
};

// The stem is the name without its last extension; a name whose only dot is its first
// character has no extension.
NameParts split_name(std::u16string_view name) {
    const auto dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos || dot == 0) return {name, std::nullopt};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

bool is_product_program(std::u16string_view name) {
    const std::string text = utf16_to_utf8_lossy(name);
    for (const auto program : PRODUCT_PROGRAMS) {
        if (equals_ascii_nocase(text, program)) return true;
    }
    return false;
}

}  // namespace

Identification identify_player(World& world, bool child_running,
                               const std::optional<PlayerInfo>& player,
                               const std::optional<LivenessRecord>& liveness,
                               std::uint32_t ended_pid) {
    if (child_running) return {true, std::nullopt, std::nullopt, {}, std::nullopt};
    const bool any_pid = (player && player->pid) || liveness;
    if (!any_pid) return {};
    std::string image = player_image_name(world, player);
    if (image.empty()) return {};
    Identification found{false, std::nullopt, std::nullopt, std::move(image), std::nullopt};
    const auto running = [&](std::uint32_t pid) {
        if (pid == ended_pid) return false;
        ProbeAnswer answer = pid_running_as(world, found.image_name, pid);
        if (answer.seen == Seen::Unknown) {
            if (!found.unknown) found.unknown = std::move(answer.why);
            return false;
        }
        found.answered = true;
        return answer.seen == Seen::Running;
    };
    std::optional<std::uint32_t> probed;
    if (player && player->pid) {
        probed = player->pid;
        if (running(*player->pid)) {
            found.adopted_pid = player->pid;
            found.adopted_started_at_ms = player->started_at;
        }
    }
    if (!found.adopted_pid && liveness && liveness->pid != probed && running(liveness->pid)) {
        found.adopted_pid = liveness->pid;
    }
    if (found.adopted_pid) {
        found.player_alive = true;
        found.unknown.reset();
    }
    return found;
}

std::string player_image_name(World& world, const std::optional<PlayerInfo>& player) {
    if (player && !player->image_name.empty()) return player->image_name;
    const auto exe = resolve_player_exe(world);
    return exe ? launch_image_name(world, *exe) : std::string();
}

std::string launch_image_name(World& world, const Path& exe) {
    const auto name = final_component(exe);
    if (!name) return {};
    if (!has_folder_part(exe)) return utf16_to_utf8_lossy(bare_name_with_exe(*name));
    const Path started = launched_file(world, exe);
    return utf16_to_utf8_lossy(final_component(started).value_or(*name));
}

std::optional<Path> resolve_player_exe(World& world) {
    if (auto override_path = world.env(PLAYER_EXE_VAR)) {
        if (is_valid_utf16(*override_path) && qualifies(world, *override_path))
            return override_path;
    }
    if (const auto info = read_player_info(world, player_info_path(world)).value) {
        Path exe = utf8_to_utf16_lossy(info->exe_path);
        if (qualifies(world, exe)) return exe;
    }
    return find_sibling_exe(world);
}

std::optional<Path> find_sibling_exe(World& world) {
    const auto own = world.own_exe_path();
    if (!own) return std::nullopt;
    const auto folder = parent_folder(*own);
    if (!folder || folder->empty()) return std::nullopt;
    const auto names = world.list_folder(*folder);
    if (!names) return std::nullopt;
    for (const auto& name : *names) {
        Path candidate = join(*folder, name);
        if (same_components(candidate, *own) || is_product_program(name)) continue;
        if (world.path_kind(candidate) != PathKind::File) continue;
        const NameParts parts = split_name(name);
        if (equals_ascii_nocase(utf16_to_utf8_lossy(parts.stem), "uninstall")) continue;
        if (parts.extension == u"exe") return candidate;
    }
    return std::nullopt;
}

}  // namespace wd
