#include "process/child.h"

#include <cstdio>

#include "state/log.h"

namespace wd {

std::string exit_description(std::uint32_t exit_code) {
    if (static_cast<std::int32_t>(exit_code) >= 0) return "code " + std::to_string(exit_code);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(exit_code));
    return std::string("code 0x") + hex;
}

Path launched_file(FileSystem& files, const Path& program) {
    Path with_exe = program + Path(EXE_EXTENSION);
    if (!ends_with_exe(program) && files.path_kind(with_exe) == PathKind::File) return with_exe;
    return program;
}

PlayerChild spawn_player(World& world, const Path& exe) {
    SpawnResult result = world.spawn_process(exe);
    if (auto* error = std::get_if<std::string>(&result)) {
        log_line(world, "spawn failed (" + path_display(exe) + "): " + *error);
        return nullptr;
    }
    PlayerChild child = std::move(std::get<std::unique_ptr<ChildProcess>>(result));
    log_line(world,
             "spawned player pid=" + std::to_string(child->pid()) + " (" + path_display(exe) + ")");
    return child;
}

void end_child(PlayerChild child) {
    if (child) child->terminate_and_wait();
}

}  // namespace wd
