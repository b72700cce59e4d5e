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

void claim_instance_lock(World& world) {
    const auto dir = watchdog_dir(world);
    if (!dir) return;
    const Path lock = join(*dir, LOCK_FILE);
    world.create_dirs(*dir);
    const std::uint32_t own = world.current_pid();
    if (const auto text = read_text(world, lock)) {
        const auto pid = parse_lock_pid(*text);
        // A pid equal to ours is a leftover of an earlier process that had our id.
        if (pid && *pid != own && pid_running(world, *pid)) {
            log_line(world, "another watchdog is live (pid=" + std::to_string(*pid) + "); exiting");
            world.exit_process(0);
        }
    }
    world.write_atomic(lock, std::to_string(own));
}

}  // namespace wd
