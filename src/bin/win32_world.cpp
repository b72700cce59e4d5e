#include "base/win32_world.h"

#include <algorithm>
#include <vector>

#include "base/win32.h"
#include "bin/supervisor.h"
#include "state/log.h"

namespace wd {

std::optional<std::u16string> Win32World::env(std::u16string_view name) {
    const std::wstring wide_name = win32::to_wide(name);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = ::GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                                  static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::u16string();
        }
        if (n < buffer.size()) return win32::from_wide(buffer.data(), n);
        buffer.resize(n);  // n counts the terminating NUL when the buffer was too small
    }
}

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

void Win32World::echo_stderr(std::string_view bytes) {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!::WriteFile(err, bytes.data(), chunk, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

std::uint32_t Win32World::current_pid() {
    return ::GetCurrentProcessId();
}

std::optional<Path> Win32World::own_exe_path() {
    return win32::module_path();
}

}  // namespace wd
