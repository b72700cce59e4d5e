// A test-only DLL planted beside watchdog.exe under the name of a system DLL it uses
// (dbghelp.dll, wtsapi32.dll): when a process loads it, it leaves a file at the path in
// PLANTED_DLL_MARKER. Its exports stand in for the functions the watchdog takes from those
// DLLs, so that a program that imported them would load it and run on.
#include "base/win32.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t marker[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"PLANTED_DLL_MARKER", marker, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    const HANDLE file = ::CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI MiniDumpWriteDump(void*, DWORD, void*, int, void*, void*, void*) {
    return FALSE;
}
__declspec(dllexport) BOOL WINAPI
    WTSQuerySessionInformationW(void*, DWORD, int, wchar_t**, DWORD*) {
    return FALSE;
}
__declspec(dllexport) void WINAPI WTSFreeMemory(void*) {}
}
