// The one place that includes <windows.h>, for the Win32 adapters only, with the owners
// that close handles on every path.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/path.h"

namespace wd::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

// A handle that is invalid when it equals `Invalid` (NULL for most objects,
// INVALID_HANDLE_VALUE for files). Move-only; closes on destruction.
template <HANDLE (*Invalid)()>
class BasicHandle {
  public:
    BasicHandle() = default;
    explicit BasicHandle(HANDLE h) : h_(h) {}
    BasicHandle(const BasicHandle&) = delete;
    BasicHandle& operator=(const BasicHandle&) = delete;
    BasicHandle(BasicHandle&& other) noexcept : h_(std::exchange(other.h_, Invalid())) {}
    BasicHandle& operator=(BasicHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.h_, Invalid()));
        return *this;
    }
    ~BasicHandle() { reset(); }

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != Invalid() && h_ != nullptr; }
    explicit operator bool() const { return valid(); }
    HANDLE release() { return std::exchange(h_, Invalid()); }
    void reset(HANDLE h = Invalid()) {
        if (valid()) ::CloseHandle(h_);
        h_ = h;
    }

  private:
    HANDLE h_ = Invalid();
};

// Writes every byte, in pieces WriteFile accepts; the system's error code, ERROR_WRITE_FAULT
// when a write takes nothing, or ERROR_SUCCESS.
inline DWORD write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

inline HANDLE null_handle() {
    return nullptr;
}
inline HANDLE invalid_file_handle() {
    return INVALID_HANDLE_VALUE;
}

using UniqueHandle = BasicHandle<null_handle>;        // processes, threads, jobs
using UniqueFile = BasicHandle<invalid_file_handle>;  // CreateFileW, Toolhelp snapshots

// A directory listing from FindFirstFileExW, closed with FindClose; invalid values are held
// as null.
struct FindCloser {
    void operator()(HANDLE h) const { ::FindClose(h); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;
inline UniqueFind find_first(const std::wstring& pattern, WIN32_FIND_DATAW& entry) {
    const HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                        FindExSearchNameMatch, nullptr, 0);
    return UniqueFind(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The full path of this program's executable, none when it cannot be had. Paths may be
// longer than MAX_PATH, so the buffer grows (on the heap) until the path fits.
inline std::optional<Path> module_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (buffer.size() <= 32'768) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return Path(buffer.begin(), buffer.begin() + n);
        buffer.resize(buffer.size() * 2);
    }
    return std::nullopt;
}

// NUL-terminated copy for Win32 calls.
inline std::wstring to_wide(std::u16string_view path) {
    return std::wstring(path.begin(), path.end());
}

inline Path from_wide(const wchar_t* s, std::size_t len) {
    return Path(s, s + len);
}

// The path for a Win32 call, or none when it is empty or holds a NUL, which every Win32 call
// would silently take as the end of a shorter path.
inline std::optional<std::wstring> win_path(std::u16string_view path) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    return to_wide(path);
}

}  // namespace wd::win32
