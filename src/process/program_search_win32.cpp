#include "process/program_search_win32.h"

#include "base/win32.h"

namespace wd::win32 {
namespace {

std::optional<Path> folder_from(UINT(WINAPI* get)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH + 1];
    const UINT n = get(buffer, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return std::nullopt;
    return from_wide(buffer, n);
}

UINT WINAPI system_directory(LPWSTR b, UINT n) {
    return ::GetSystemDirectoryW(b, n);
}
UINT WINAPI windows_directory(LPWSTR b, UINT n) {
    return ::GetWindowsDirectoryW(b, n);
}

}  // namespace

bool is_file(const Path& path) {
    const auto wide = win_path(path);
    if (!wide) return false;
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<Path> program_search_folders() {
    std::vector<Path> folders;
    if (const auto module = module_path()) {
        if (auto own = parent_folder(*module)) folders.push_back(std::move(*own));
    }
    if (auto system = folder_from(system_directory)) folders.push_back(std::move(*system));
    if (auto windows = folder_from(windows_directory)) folders.push_back(std::move(*windows));
    std::vector<wchar_t> path(32768);
    const DWORD len =
        ::GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    if (len > 0 && len < path.size()) {
        const Path all = from_wide(path.data(), len);
        std::size_t start = 0;
        while (start <= all.size()) {
            std::size_t end = all.find(u';', start);
            if (end == Path::npos) end = all.size();
            if (end > start) folders.push_back(all.substr(start, end - start));
            start = end + 1;
        }
    }
    return folders;
}

std::vector<Path> tool_search_folders() {
    std::vector<Path> folders;
    if (auto system = folder_from(system_directory)) folders.push_back(std::move(*system));
    return folders;
}

std::optional<Path> find_program(std::u16string_view name, const std::vector<Path>& folders) {
    const Path file = bare_name_with_exe(name);
    for (const auto& folder : folders) {
        Path candidate = join(folder, file);
        if (is_file(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace wd::win32
