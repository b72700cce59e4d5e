// DLLs from the system folder only. A DLL that is not one of the few Windows always maps from
// its own folder (the KnownDLLs) is looked for first beside the program, and a folder that
// holds the program may be open to any local user: the programs import only KnownDLLs and load
// every other system DLL here, by its full path in the system folder, when first needed.
#pragma once

#include "base/win32.h"

namespace wd::win32 {

// Limits where this process looks for the DLLs it loads later (and those they import) to the
// system folder. Each program calls it first thing; on a Windows without the call (an
// unpatched Windows 7) it does nothing, and the full-path loads below still hold.
void limit_dll_search_to_system();

// A function of a DLL in the system folder, loaded on first use and kept for the life of the
// process; null when the DLL or the function cannot be had.
FARPROC system_function(const wchar_t* dll, const char* name);

// system_function, as the function's own pointer type.
template <class Function>
Function* system_function_as(const wchar_t* dll, const char* name) {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(system_function(dll, name)));
}

}  // namespace wd::win32
