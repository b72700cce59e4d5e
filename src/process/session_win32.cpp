// The session part of Win32World: the environment, the standard error stream, the user's
// roaming folder, the session's logon time and the taskbar.
#include "process/session_win32.h"

#include <type_traits>
#include <vector>

#include "base/system_dll_win32.h"
#include "base/text.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace wd::win32 {

std::optional<std::int64_t> session_logon_time(const SessionQuery& api) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!api.query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSSessionInfo, &buffer,
                   &bytes)) {
        return std::nullopt;  // nothing was allocated
    }
    std::optional<std::int64_t> result;
    if (buffer != nullptr && bytes >= sizeof(WTSINFOW)) {
        const auto* info = reinterpret_cast<const WTSINFOW*>(buffer);
        if (info->LogonTime.QuadPart != 0) result = info->LogonTime.QuadPart;
    }
    api.free(buffer);
    return result;
}

}  // namespace wd::win32

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

void Win32World::echo_stderr(std::string_view bytes) {
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    win32::write_all(err, bytes);  // a stream that refuses the line loses only the echo
}

namespace {

// A known folder of the calling user, not created when missing; none on failure.
std::optional<Path> folder_path(const KNOWNFOLDERID& id) {
    PWSTR raw = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &raw);
    std::optional<Path> result;
    if (SUCCEEDED(hr) && raw != nullptr) {
        result = win32::from_wide(raw, static_cast<std::size_t>(::lstrlenW(raw)));
    }
    ::CoTaskMemFree(raw);  // owed on failure too
    return result;
}

}  // namespace

std::optional<Path> Win32World::known_folder(KnownFolder which) {
    return folder_path(which == KnownFolder::RoamingAppData ? FOLDERID_RoamingAppData
                                                            : FOLDERID_LocalAppData);
}

std::optional<std::int64_t> Win32World::session_logon_time() {
    // wtsapi32 is not one of the DLLs Windows always maps from its own folder.
    static const win32::SessionQuery api{
        win32::system_function_as<std::remove_pointer_t<decltype(win32::SessionQuery::query)>>(
            L"wtsapi32.dll", "WTSQuerySessionInformationW"),
        win32::system_function_as<std::remove_pointer_t<decltype(win32::SessionQuery::free)>>(
            L"wtsapi32.dll", "WTSFreeMemory")};
    if (api.query == nullptr || api.free == nullptr) return std::nullopt;
    return win32::session_logon_time(api);
}

void Win32World::report_event(std::uint32_t identifier, EventLevel level, std::string_view text) {
    // Registered once and kept: the handle is the process's for its life. A registration that
    // failed (the event log service not up yet at logon) is tried again, at most once a minute.
    constexpr ULONGLONG RETRY_MS = 60'000;
    static HANDLE source = nullptr;
    static std::optional<ULONGLONG> failed_at;
    if (source == nullptr) {
        const ULONGLONG now = ::GetTickCount64();
        if (failed_at && now - *failed_at < RETRY_MS) return;
        source = ::RegisterEventSourceW(nullptr, L"Vellumbeacon Watchdog");
        if (source == nullptr) {
            failed_at = now;
            return;
        }
    }
    WORD type = EVENTLOG_INFORMATION_TYPE;
    if (level == EventLevel::Warning) type = EVENTLOG_WARNING_TYPE;
    if (level == EventLevel::Error) type = EVENTLOG_ERROR_TYPE;
    const std::wstring wide = win32::to_wide(utf8_to_utf16_lossy(text));
    LPCWSTR strings[] = {wide.c_str()};
    ::ReportEventW(source, type, 0, identifier, nullptr, 1, 0, strings, nullptr);
}

// Asks every taskbar window ("Shell_TrayWnd", then each "Shell_SecondaryTrayWnd") to show
// itself. Does nothing when there is no shell; reports nothing.
void Win32World::show_taskbar() {
    for (const wchar_t* window_class : {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"}) {
        HWND previous = nullptr;
        while (HWND found = ::FindWindowExW(nullptr, previous, window_class, nullptr)) {
            // Posted to the window's own thread: a hung shell cannot block the watchdog.
            ::ShowWindowAsync(found, SW_SHOW);
            previous = found;
        }
    }
}

}  // namespace wd
