#include "bin/win32_world.h"

#include <algorithm>
#include <vector>

#include "base/win32.h"
#include "bin/supervisor.h"
#include "process/session_win32.h"
#include "process/taskbar_win32.h"
#include "process/child_win32.h"
#include "process/tool_run_win32.h"
#include "state/files_win32.h"
#include "state/known_folder_win32.h"
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

std::optional<Path> Win32World::roaming_app_data() {
    return win32::roaming_app_data();
}

bool Win32World::create_dirs(const Path& folder) {
    return win32::create_dirs(folder);
}

std::optional<std::string> Win32World::read_bytes(const Path& path, std::uint64_t max_bytes) {
    return win32::read_bytes(path, max_bytes);
}

std::optional<std::uint64_t> Win32World::file_size(const Path& path) {
    return win32::file_size(path);
}

std::optional<std::string> Win32World::read_range(const Path& path, std::uint64_t offset,
                                                  std::size_t max_len) {
    return win32::read_range(path, offset, max_len);
}

OsError Win32World::write_atomic(const Path& path, std::string_view bytes) {
    return win32::write_atomic(path, bytes);
}

OsError Win32World::replace_with_tail(const Path& path, std::uint64_t offset,
                                      std::uint64_t expected_size) {
    return win32::replace_with_tail(path, offset, expected_size);
}

bool Win32World::append(const Path& path, std::string_view bytes) {
    return win32::append(path, bytes);
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

std::optional<std::string> Win32World::run_tool_output(std::u16string_view name,
                                                       const std::vector<std::u16string>& args) {
    return win32::run_tool_output(name, args);
}

std::optional<std::uint32_t> Win32World::run_tool_status(std::u16string_view name,
                                                         const std::vector<std::u16string>& args) {
    return win32::run_tool_status(name, args);
}

SpawnResult Win32World::spawn_process(const Path& program) {
    return win32::spawn_process(program);
}

std::optional<Path> Win32World::own_exe_path() {
    return win32::module_path();
}

PathKind Win32World::path_kind(const Path& path) {
    return win32::path_kind(path);
}

std::optional<std::vector<std::u16string>> Win32World::list_folder(const Path& folder) {
    return win32::list_folder(folder);
}

bool Win32World::delete_file(const Path& path) {
    return win32::delete_file(path);
}

void Win32World::show_taskbar() {
    win32::show_taskbar();
}

std::optional<std::int64_t> Win32World::session_logon_time() {
    return win32::session_logon_time();
}

}  // namespace wd
