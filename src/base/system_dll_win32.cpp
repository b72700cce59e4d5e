#include "base/system_dll_win32.h"

#include <string>

namespace wd::win32 {

void limit_dll_search_to_system() {
    // Looked up rather than imported: a Windows 7 without the update that added it would not
    // start a program that imports it.
    using SetDirectories = BOOL WINAPI(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    auto* set = reinterpret_cast<SetDirectories*>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC system_function(const wchar_t* dll, const char* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + dll;
    // Never freed: the functions handed out stay valid for the life of the process. A second
    // load of the same DLL finds the module already mapped and only counts it once more.
    const HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) return nullptr;
    return ::GetProcAddress(module, name);
}

}  // namespace wd::win32
