#include "state/known_folder_win32.h"

#include "base/win32.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace wd::win32 {

std::optional<Path> roaming_app_data() {
    PWSTR raw = nullptr;
    const HRESULT hr =
        ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &raw);
    std::optional<Path> result;
    if (SUCCEEDED(hr) && raw != nullptr) {
        result = from_wide(raw, static_cast<std::size_t>(::lstrlenW(raw)));
    }
    ::CoTaskMemFree(raw);  // owed on failure too
    return result;
}

}  // namespace wd::win32
