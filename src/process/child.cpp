#include "process/child.h"

#include <utility>

namespace wd {

Path launched_file(FileSystem& files, const Path& program) {
    Path with_exe = program + Path(EXE_EXTENSION);
    if (!ends_with_exe(program) && files.path_kind(with_exe) == PathKind::File) return with_exe;
    return program;
}

PlayerChild spawn_player(World& world, Log& log, const Path& exe) {
    SpawnResult result = world.spawn_process(exe);
    if (auto* error = std::get_if<std::string>(&result)) {
        log(msg::spawn_failed(exe, std::move(*error)));
        return nullptr;
    }
    PlayerChild child = std::move(std::get<std::unique_ptr<ChildProcess>>(result));
    log(msg::spawned(child->pid(), exe));
    return child;
}

void end_child(PlayerChild child) {
    if (child) child->terminate_and_wait();
}

}  // namespace wd
