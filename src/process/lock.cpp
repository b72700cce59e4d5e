#include "process/lock.h"

#include <string>

#include "base/text.h"
#include "process/probes.h"
#include "state/files.h"
#include "state/log.h"
#include "state/paths.h"

namespace wd {

std::optional<std::uint32_t> parse_lock_pid(std::string_view text) {
    const auto pid = parse_unsigned_decimal(trim_unicode_whitespace(text), 4'294'967'295u);
    if (!pid) return std::nullopt;
    return static_cast<std::uint32_t>(*pid);
}

std::string own_image_name(World& world) {
    const auto exe = world.own_exe_path();
    if (!exe) return {};
    const auto name = final_component(*exe);
    return name ? utf16_to_utf8_lossy(*name) : std::string();
}

bool lock_holder_is_live(World& world, std::uint32_t pid, std::string_view watchdog_image) {
    // A pid equal to ours is a leftover of an earlier process that had our id.
    return pid != world.current_pid() && !watchdog_image.empty() &&
           pid_running_as(world, watchdog_image, pid);
}

bool claim_instance_lock(World& world) {
    const auto dir = watchdog_dir(world);
    if (!dir) return true;
    const Path lock = join(*dir, LOCK_FILE);
    world.create_dirs(*dir);
    const std::uint32_t own = world.current_pid();
    if (const auto text = read_text(world, lock)) {
        const auto pid = parse_lock_pid(*text);
        if (pid && lock_holder_is_live(world, *pid, own_image_name(world))) {
            log_line(world, "another watchdog is live (pid=" + std::to_string(*pid) + "); exiting");
            return false;
        }
    }
    world.write_atomic(lock, std::to_string(own));
    return true;
}

}  // namespace wd
