#include "process/child.h"

#include "state/log.h"

namespace wd {

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
