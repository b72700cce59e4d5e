// handle-count.exe PID: prints "handles N, working set K KiB" for another process, for the
// soak script. Wine answers GetProcessHandleCount with 0, so the system's handle table is
// also asked and the larger answer wins. Never shipped.
#include <cstdio>
#include <cwchar>
#include <vector>

#include "base/win32.h"

// After <windows.h>.
#include <psapi.h>
#include <winternl.h>

namespace {

// The layout of SystemHandleInformation (class 16).
struct HandleEntry {
    USHORT pid;
    USHORT creator_back_trace_index;
    UCHAR object_type;
    UCHAR attributes;
    USHORT handle;
    PVOID object;
    ULONG granted_access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

using QuerySystemInformation = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

DWORD count_in_system_table(DWORD pid) {
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"),
                                                 "NtQuerySystemInformation")));
    if (!query) return 0;
    std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
            DWORD n = 0;
            for (ULONG i = 0; i < table->count; ++i) n += table->entries[i].pid == (pid & 0xFFFF);
            return n;
        }
        buffer.resize(buffer.size() * 2);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    wd::win32::UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process) return 1;
    DWORD handles = 0;
    ::GetProcessHandleCount(process.get(), &handles);
    const DWORD from_table = count_in_system_table(pid);
    if (from_table > handles) handles = from_table;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::K32GetProcessMemoryInfo(process.get(), &counters, sizeof counters);
    std::printf("handles %lu, working set %llu KiB\n", static_cast<unsigned long>(handles),
                static_cast<unsigned long long>(counters.WorkingSetSize / 1024));
    return 0;
}
