#include "base/win32_world.h"

#include "base/win32.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace wd {

// FOLDERID_RoamingAppData of the calling user, not created when missing; none on failure.
std::optional<Path> Win32World::roaming_app_data() {
    PWSTR raw = nullptr;
    const HRESULT hr =
        ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &raw);
    std::optional<Path> result;
    if (SUCCEEDED(hr) && raw != nullptr) {
        result = win32::from_wide(raw, static_cast<std::size_t>(::lstrlenW(raw)));
    }
    ::CoTaskMemFree(raw);  // owed on failure too
    return result;
}

}  // namespace wd
