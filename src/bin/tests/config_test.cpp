#include "bin/config.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/text.h"
#include "mem_world.h"

namespace wd {
namespace {

using fakes::MemWorld;
constexpr auto U64_MAX = std::numeric_limits<std::uint64_t>::max();

TEST(Settings, NothingSetGivesTheDefaults) {
    MemWorld world;
    const WatchdogConfig c = read_config(world);
    EXPECT_EQ(c.check_interval_secs, 3u);
    EXPECT_EQ(c.hang_timeout_ms, 30'000u);
    EXPECT_EQ(c.startup_grace_ms, 60'000u);
    EXPECT_EQ(c.update_grace_ms, 120'000u);
    EXPECT_EQ(c.update_hang_cap_ms, 360'000u);
    EXPECT_FALSE(c.wake_on_exit);
    EXPECT_EQ(c.hang_dumps, 0u);
    EXPECT_EQ(c.hang_dump_timeout_ms, 10'000u);
    EXPECT_EQ(c.memory_limit_mb, 0u);
    EXPECT_EQ(c.daily_restart_minute, std::nullopt);
}

// The daily restart's time: exactly HH:MM, 24-hour, or off.
TEST(Settings, TheDailyRestartTimeIsExactlyHoursAndMinutesOrOff) {
    const struct {
        std::u16string value;
        std::optional<std::uint32_t> minute;
    } rows[] = {
        {u"00:00", 0},
        {u"03:30", 210},
        {u"23:59", 1439},
        {u"24:00", std::nullopt},
        {u"12:60", std::nullopt},
        {u"3:30", std::nullopt},
        {u"03:30 ", std::nullopt},
        {u" 03:30", std::nullopt},
        {u"03.30", std::nullopt},
        {u"0330", std::nullopt},
        {u"03:3x", std::nullopt},
        {u"", std::nullopt},
        {u"\uFF10\uFF13:30", std::nullopt},
    };
    for (const auto& row : rows) {
        MemWorld world;
        world.environment[std::u16string(DAILY_RESTART_AT_VAR)] = row.value;
        const WatchdogConfig config = read_config(world);
        EXPECT_EQ(config.daily_restart_minute, row.minute) << utf16_to_utf8_lossy(row.value);
        if (row.minute) {
            EXPECT_EQ(time_of_day_text(*row.minute), utf16_to_utf8_lossy(row.value));
        }
    }
}

// The dump's bound is whole seconds read as the other numbers are, and only with dumps on.
TEST(Settings, TheHangDumpTimeoutIsReadOnlyWithDumpsOn) {
    const struct {
        std::u16string dumps;
        std::u16string raw;
        std::uint64_t want_ms;
    } cases[] = {
        {u"2", u"60", 60'000},
        {u"2", u"60s", 10'000},
        {u"0", u"60", 10'000},
        {u"", u"60", 10'000},
    };
    for (const auto& c : cases) {
        MemWorld world;
        if (!c.dumps.empty()) world.environment[std::u16string(HANG_DUMPS_VAR)] = c.dumps;
        world.environment[std::u16string(HANG_DUMP_TIMEOUT_VAR)] = c.raw;
        EXPECT_EQ(read_config(world).hang_dump_timeout_ms, c.want_ms)
            << std::string(c.dumps.begin(), c.dumps.end()) << " "
            << std::string(c.raw.begin(), c.raw.end());
    }
}

TEST(Settings, RawValueIsParsedStrictlyOrTheDefaultIsTaken) {
    const struct {
        std::u16string raw;
        std::uint64_t want_ms;
    } cases[] = {
        {u"+45", 45'000},
        {u"45", 45'000},
        {u"0045", 45'000},
        {u"0", 0},
        {u" 45", 30'000},
        {u"45 ", 30'000},
        {u"\t45", 30'000},
        {u"-45", 30'000},
        {u"4.5", 30'000},
        {u"45s", 30'000},
        {u"", 30'000},
        {u"+", 30'000},
        {u"18446744073709551616", 30'000},
        {u"\uFF14\uFF15", 30'000},                               // full-width digits
        {std::u16string{u'4', char16_t(0xD800), u'5'}, 30'000},  // not valid Unicode
        {u"18446744073709551615", U64_MAX},                      // saturates at x1000
        {u"18446744073709551", 18'446'744'073'709'551'000u},     // largest exact conversion
        {u"18446744073709552", U64_MAX},
    };
    for (const auto& c : cases) {
        MemWorld world;
        world.environment[std::u16string(HANG_TIMEOUT_VAR)] = c.raw;
        EXPECT_EQ(read_config(world).hang_timeout_ms, c.want_ms)
            << std::string(c.raw.begin(), c.raw.end());
    }
}

// The wake and the event log, each on for the number 1 alone.
TEST(Settings, TheWakeOnExitIsOnForOneAloneReadAsTheNumbersAre) {
    const std::pair<std::u16string, bool> cases[] = {
        {u"1", true},    {u"+1", true},
        {u"0001", true}, {u"0", false},
        {u"2", false},   {u" 1", false},
        {u"1 ", false},  {u"true", false},
        {u"", false},    {u"18446744073709551617", false},
    };
    for (const auto& [raw, on] : cases) {
        for (const bool event_log : {false, true}) {
            MemWorld world;
            world.environment[std::u16string(event_log ? EVENT_LOG_VAR : WAKE_ON_EXIT_VAR)] = raw;
            const WatchdogConfig c = read_config(world);
            EXPECT_EQ(event_log ? c.event_log : c.wake_on_exit, on)
                << std::string(raw.begin(), raw.end());
            EXPECT_FALSE(event_log ? c.wake_on_exit : c.event_log);
            EXPECT_EQ(c.check_interval_secs, 3u);  // nothing else moves
        }
    }
}

// The opt-in counts: read as the numbers are, off (0) when unset or malformed, capped.
TEST(Settings, TheOptInCountsAreReadStrictlyAndCapped) {
    const struct {
        std::u16string_view var;
        std::u16string raw;
        std::uint64_t want;
    } cases[] = {
        {HANG_DUMPS_VAR, u"2", 2},
        {HANG_DUMPS_VAR, u" 2", 0},
        {HANG_DUMPS_VAR, u"100", 100},
        {HANG_DUMPS_VAR, u"101", 100},
        {MEMORY_LIMIT_VAR, u"500", 500},
        {MEMORY_LIMIT_VAR, u"500MB", 0},
        {MEMORY_LIMIT_VAR, u"18446744073709551615", U64_MAX},
        {NOT_RESPONDING_VAR, u"+20", 20'000},  // seconds, held in milliseconds
        {NOT_RESPONDING_VAR, u"20s", 0},
        {NOT_RESPONDING_VAR, u"18446744073709551615", U64_MAX},  // saturates
    };
    for (const auto& c : cases) {
        MemWorld world;
        world.environment[std::u16string(c.var)] = c.raw;
        const WatchdogConfig config = read_config(world);
        const std::uint64_t fields[] = {config.hang_dumps, config.memory_limit_mb,
                                        config.not_responding_ms};
        const std::size_t own = c.var == HANG_DUMPS_VAR ? 0 : c.var == MEMORY_LIMIT_VAR ? 1 : 2;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(fields[i], i == own ? c.want : 0u) << std::string(c.raw.begin(), c.raw.end());
        }
        EXPECT_EQ(config.hang_timeout_ms, 30'000u);  // nothing else moves
    }
}

TEST(Settings, EachVariableFeedsItsOwnFieldAndTheIntervalStaysInSeconds) {
    MemWorld world;
    world.environment[std::u16string(CHECK_INTERVAL_VAR)] = u"0";
    world.environment[std::u16string(HANG_TIMEOUT_VAR)] = u"2";
    world.environment[std::u16string(STARTUP_GRACE_VAR)] = u"3";
    world.environment[std::u16string(UPDATE_GRACE_VAR)] = u"4";
    world.environment[std::u16string(UPDATE_HANG_CAP_VAR)] = u"5";
    const WatchdogConfig c = read_config(world);
    EXPECT_EQ(c.check_interval_secs, 0u);
    EXPECT_EQ(c.hang_timeout_ms, 2'000u);
    EXPECT_EQ(c.startup_grace_ms, 3'000u);
    EXPECT_EQ(c.update_grace_ms, 4'000u);
    EXPECT_EQ(c.update_hang_cap_ms, 5'000u);

    world.environment[std::u16string(CHECK_INTERVAL_VAR)] = u"18446744073709551615";
    EXPECT_EQ(read_config(world).check_interval_secs, U64_MAX);
}

}  // namespace
}  // namespace wd
