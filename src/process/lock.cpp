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
           pid_running_as(world, watchdog_image, pid).seen == Seen::Running;
}

std::u16string instance_claim_name(std::u16string_view watchdog_folder) {
    // FNV-1a over the folded UTF-16 units, low byte first.
    std::uint64_t hash = 14'695'981'039'346'656'037u;
    for (char16_t unit : watchdog_folder) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
        if (unit == u'/') unit = u'\\';
        for (const unsigned byte : {unit & 0xffu, unsigned{unit} >> 8}) {
            hash = (hash ^ byte) * 1'099'511'628'211u;
        }
    }
    std::u16string name = u"Global\\vellumbeacon-watchdog-";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name.push_back(u"0123456789abcdef"[(hash >> shift) & 0xf]);
    }
    return name;
}

namespace {

// The pid in the lock when it names a live watchdog other than this one.
std::optional<std::uint32_t> live_lock_holder(World& world, const Path& lock,
                                              const std::string& image) {
    const auto text = read_text(world, lock);
    if (!text) return std::nullopt;
    const auto pid = parse_lock_pid(*text);
    if (!pid || !lock_holder_is_live(world, *pid, image)) return std::nullopt;
    return pid;
}

}  // namespace

bool claim_instance_lock(World& world, Log& log) {
    const auto dir = watchdog_dir(world);
    if (!dir) return true;
    const Path lock = join(*dir, LOCK_FILE);
    world.create_dirs(*dir);
    const std::string image = own_image_name(world);
    const InstanceClaim claim = world.claim_instance(instance_claim_name(*dir));
    if (claim == InstanceClaim::Foreign) {
        // Any account can make a name in Global\ first; such an object says nothing about a
        // watchdog of this user's, and must not keep one from starting.
        log(msg::foreign_claim());
    }
    if (claim == InstanceClaim::Taken) {
        for (std::uint64_t waited = 0;; ++waited) {
            if (const auto holder = live_lock_holder(world, lock, image)) {
                log(msg::rival_live(*holder));
                return false;
            }
            if (waited == CLAIM_HOLDER_WAIT_SECS) break;
            world.sleep_secs(1);
        }
        log(msg::rival_live(0));
        return false;
    }
    if (const auto holder = live_lock_holder(world, lock, image)) {
        log(msg::rival_live(*holder));
        return false;
    }
    world.write_atomic(lock, std::to_string(world.current_pid()));
    return true;
}

}  // namespace wd
