// Helpers for tests that touch real files under Wine: a scratch folder removed with
// everything in it, and raw file access that bypasses the code under test.
#pragma once

#include <set>
#include <string>

#include "base/path.h"
#include "base/win32.h"

namespace wd::fakes {

inline void remove_tree(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAW entry;
        if (const auto find = win32::find_first(path + L"\\*", entry)) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") remove_tree(path + L"\\" + name);
            } while (::FindNextFileW(find.get(), &entry));
        }
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::RemoveDirectoryW(path.c_str());
    } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    }
}

inline std::set<std::wstring> list_names(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const auto find = win32::find_first(folder + L"\\*", entry);
    if (!find) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.insert(name);
    } while (::FindNextFileW(find.get(), &entry));
    return names;
}

inline bool put_file(const std::wstring& path, const std::string& bytes) {
    win32::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    DWORD written = 0;
    return bytes.empty() || (::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                         &written, nullptr) &&
                             written == bytes.size());
}

inline std::optional<std::string> get_file(const std::wstring& path) {
    win32::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return std::nullopt;
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        out.append(buffer, got);
    return out;
}

// A fresh folder under the temporary folder, removed with its content at the end.
class ScratchDir {
  public:
    explicit ScratchDir(const std::wstring& tag) {
        wchar_t temp[MAX_PATH + 1];
        const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
        path_ =
            std::wstring(temp, n) + L"wd-" + tag + L"-" + std::to_wstring(::GetCurrentProcessId());
        remove_tree(path_);
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchDir() { remove_tree(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::wstring& wide() const { return path_; }
    Path path() const { return Path(path_.begin(), path_.end()); }
    std::wstring wide(const std::wstring& name) const { return path_ + L"\\" + name; }
    Path path(const std::wstring& name) const {
        const std::wstring w = wide(name);
        return Path(w.begin(), w.end());
    }

  private:
    std::wstring path_;
};

}  // namespace wd::fakes
