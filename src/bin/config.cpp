#include "bin/config.h"

#include <algorithm>
#include <limits>

#include "base/saturating.h"
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
    return saturating_mul(secs, 1000);
}

WatchdogConfig read_config(World& world) {
    WatchdogConfig config;
    config.check_interval_secs =
        read_u64_setting(world, CHECK_INTERVAL_VAR, DEFAULT_CHECK_INTERVAL_SECS);
    config.hang_timeout_ms =
        secs_to_ms(read_u64_setting(world, HANG_TIMEOUT_VAR, DEFAULT_HANG_TIMEOUT_SECS));
    config.startup_grace_ms =
        secs_to_ms(read_u64_setting(world, STARTUP_GRACE_VAR, DEFAULT_STARTUP_GRACE_SECS));
    config.update_grace_ms =
        secs_to_ms(read_u64_setting(world, UPDATE_GRACE_VAR, DEFAULT_UPDATE_GRACE_SECS));
    config.update_hang_cap_ms =
        secs_to_ms(read_u64_setting(world, UPDATE_HANG_CAP_VAR, DEFAULT_UPDATE_HANG_CAP_SECS));
    config.wake_on_exit = read_u64_setting(world, WAKE_ON_EXIT_VAR, 0) == 1;
    config.hang_dumps = std::min(read_u64_setting(world, HANG_DUMPS_VAR, 0), MAX_HANG_DUMPS);
    if (config.hang_dumps != 0) {
        config.hang_dump_timeout_ms = secs_to_ms(
            read_u64_setting(world, HANG_DUMP_TIMEOUT_VAR, DEFAULT_HANG_DUMP_TIMEOUT_SECS));
    }
    config.memory_limit_mb = read_u64_setting(world, MEMORY_LIMIT_VAR, 0);
    config.not_responding_ms = secs_to_ms(read_u64_setting(world, NOT_RESPONDING_VAR, 0));
    config.event_log = read_u64_setting(world, EVENT_LOG_VAR, 0) == 1;
    if (const auto at = world.env(DAILY_RESTART_AT_VAR)) {
        config.daily_restart_minute = parse_time_of_day(*at);
    }
    return config;
}

std::optional<std::uint32_t> parse_time_of_day(std::u16string_view text) {
    const auto digit = [&](std::size_t i) { return text[i] >= u'0' && text[i] <= u'9'; };
    if (text.size() != 5 || text[2] != u':' || !digit(0) || !digit(1) || !digit(3) || !digit(4)) {
        return std::nullopt;
    }
    const auto value = [&](std::size_t i) {
        return static_cast<std::uint32_t>((text[i] - u'0') * 10 + (text[i + 1] - u'0'));
    };
    if (value(0) > 23 || value(3) > 59) return std::nullopt;
    return value(0) * 60 + value(3);
}

std::string time_of_day_text(std::uint32_t minute) {
    const std::uint32_t h = minute / 60 % 24;
    const std::uint32_t m = minute % 60;
    return {static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10), ':',
            static_cast<char>('0' + m / 10), static_cast<char>('0' + m % 10)};
}

}  // namespace wd
