// Units of the system's clocks, as the watchdog converts them. Portable.
#pragma once

#include <algorithm>
#include <cstdint>

namespace wd {

// The system time (100 ns units since 1601-01-01) of 1970-01-01.
inline constexpr std::int64_t UNIX_EPOCH_AS_FILETIME = 116'444'736'000'000'000;

// A system time as milliseconds since 1970; 0 before 1970.
constexpr std::uint64_t wall_clock_ms_from_filetime(std::int64_t ticks) {
    if (ticks < UNIX_EPOCH_AS_FILETIME) return 0;
    return static_cast<std::uint64_t>(ticks - UNIX_EPOCH_AS_FILETIME) / 10'000;
}

// Long sleeps and waits go in slices of at most a day, so that an interval of any size stays
// that long instead of wrapping into a short 32-bit millisecond count.
inline constexpr std::uint64_t SLEEP_SLICE_SECS = 86'400;

// The next slice of a long sleep in milliseconds, taken off `remaining_secs`.
constexpr std::uint32_t take_sleep_slice_ms(std::uint64_t& remaining_secs) {
    const std::uint64_t slice = std::min(remaining_secs, SLEEP_SLICE_SECS);
    remaining_secs -= slice;
    return static_cast<std::uint32_t>(slice * 1000);
}

inline constexpr std::uint64_t MS_PER_DAY = 86'400'000;

// A date of the proleptic Gregorian calendar.
struct Date {
    std::uint64_t year;
    unsigned month, day;
};

// Days since 1970-01-01 to the calendar and back, for dates from 1970 on.
constexpr Date date_from_days(std::uint64_t days) {
    const std::uint64_t z = days + 719'468;
    const std::uint64_t era = z / 146'097;
    const auto doe = static_cast<unsigned>(z - era * 146'097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr std::uint64_t days_from_date(std::uint64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::uint64_t era = year / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + doe - 719'468;
}

}  // namespace wd
