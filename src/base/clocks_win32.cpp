// The clock part of Win32World: the wall clock, the monotonic clock and whole-second sleeps.
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

void Win32World::sleep_secs(std::uint64_t secs) {
    if (secs == 0) {
        ::Sleep(0);
        return;
    }
    while (secs > 0) ::Sleep(take_sleep_slice_ms(secs));
}

}  // namespace wd
