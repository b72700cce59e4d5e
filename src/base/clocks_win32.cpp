// The clock part of Win32World: the wall clock, the monotonic clock, the local calendar and
// whole-second sleeps.
#include "base/win32_world.h"

#include "base/clock_units.h"
#include "base/win32.h"

namespace wd {

std::uint64_t Win32World::wall_clock_ms() {
    FILETIME ft{};
    ::GetSystemTimePreciseAsFileTime(&ft);
    const auto ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    return wall_clock_ms_from_filetime(ticks);
}

std::uint64_t Win32World::monotonic_ns() {
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const auto per_sec = static_cast<std::uint64_t>(frequency.QuadPart);
    // Split so that ticks * 1e9 cannot overflow.
    return ticks / per_sec * 1'000'000'000 + ticks % per_sec * 1'000'000'000 / per_sec;
}

std::optional<LocalClock> Win32World::local_clock(std::uint64_t wall_ms) {
    // 9999-12-31 23:59:59 UTC: the system converts no later time to a calendar date.
    constexpr std::uint64_t LAST_CALENDAR_MS = 253'402'300'799'000;
    if (wall_ms > LAST_CALENDAR_MS) return std::nullopt;
    const std::uint64_t ticks = wall_ms * 10'000 + UNIX_EPOCH_AS_FILETIME;
    const FILETIME utc_time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!::FileTimeToSystemTime(&utc_time, &utc) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) || local.wYear < 1970) {
        return std::nullopt;
    }
    return LocalClock{days_from_date(local.wYear, local.wMonth, local.wDay),
                      static_cast<std::uint32_t>(local.wHour * 60 + local.wMinute)};
}

void Win32World::sleep_secs(std::uint64_t secs) {
    if (secs == 0) {
        ::Sleep(0);
        return;
    }
    while (secs > 0) ::Sleep(take_sleep_slice_ms(secs));
}

}  // namespace wd
