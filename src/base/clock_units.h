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

}  // namespace wd
