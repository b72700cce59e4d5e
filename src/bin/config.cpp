#include "bin/config.h"

#include <limits>

#include "base/text.h"

namespace wd {

std::uint64_t read_u64_setting(World& world, std::u16string_view name, std::uint64_t fallback) {
    const auto raw = world.env(name);
    if (!raw || !is_valid_utf16(*raw)) return fallback;
    return parse_unsigned_decimal(std::u16string_view(*raw),
                                  std::numeric_limits<std::uint64_t>::max())
        .value_or(fallback);
}

std::uint64_t secs_to_ms(std::uint64_t secs) {
    constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();
    return secs > MAX / 1000 ? MAX : secs * 1000;
}

WatchdogConfig read_config(World& world) {
    WatchdogConfig config;
    config.check_interval_secs = read_u64_setting(world, CHECK_INTERVAL_VAR, 3);
    config.hang_timeout_ms = secs_to_ms(read_u64_setting(world, HANG_TIMEOUT_VAR, 30));
    config.startup_grace_ms = secs_to_ms(read_u64_setting(world, STARTUP_GRACE_VAR, 60));
    config.update_grace_ms = secs_to_ms(read_u64_setting(world, UPDATE_GRACE_VAR, 120));
    config.update_hang_cap_ms = secs_to_ms(read_u64_setting(world, UPDATE_HANG_CAP_VAR, 360));
    return config;
}

}  // namespace wd
