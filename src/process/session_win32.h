// The logon time of the session the watchdog runs in.
#pragma once

#include <cstdint>
#include <optional>

#include "base/win32.h"
#include "base/win32_world.h"

#include <wtsapi32.h>

namespace wd::win32 {

// The two wtsapi32 calls, replaceable so that the buffer rules can be tested.
struct SessionQuery {
    BOOL(WINAPI* query)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
    void(WINAPI* free)(PVOID);
};

// LogonTime of WTSINFOW for the current session, raw (100 ns since 1601), or none when the
// query fails, returns less than a WTSINFOW, or returns 0. Every successful query's buffer is
// freed exactly once.
std::optional<std::int64_t> session_logon_time(const SessionQuery& api);

}  // namespace wd::win32
