#include "process/session_win32.h"

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

std::optional<std::int64_t> Win32World::session_logon_time() {
    return win32::session_logon_time(
        win32::SessionQuery{::WTSQuerySessionInformationW, ::WTSFreeMemory});
}

}  // namespace wd
