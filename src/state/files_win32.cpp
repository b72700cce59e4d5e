// The file part of Win32World: tolerant reads, whole-file replacement, appends, folders.
#include "base/win32_world.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "base/win32.h"
#include "state/files.h"

namespace wd {

using win32::find_first;
using win32::from_wide;
using win32::UniqueFile;
using win32::UniqueFind;
using win32::win_path;
using win32::write_all;

namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD IO_CHUNK_BYTES = 1u << 16;
// FileRenameInfoEx; mingw-w64 declares the structure and flags but not the enumerator.
constexpr auto FILE_RENAME_INFO_EX_CLASS = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

std::atomic<std::uint64_t> replacement_sequence{0};

UniqueFile open_for_reading(const Path& path) {
    const auto wide = win_path(path);
    if (!wide) return UniqueFile();
    return UniqueFile(::CreateFileW(wide->c_str(), GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

OsError rename_by_handle(const std::wstring& temp, const std::wstring& target) {
    UniqueFile file(::CreateFileW(temp.c_str(), DELETE, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
    if (!file) return ::GetLastError();
    const std::size_t name_bytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(target.begin(), target.end(), info->FileName);
    if (!::SetFileInformationByHandle(file.get(), FILE_RENAME_INFO_EX_CLASS, info,
                                      static_cast<DWORD>(buffer.size()))) {
        return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

// MoveFileExW refuses with access denied when the target is open elsewhere (a reader that
// shares delete, a scanner) or being deleted. A rename by handle with POSIX semantics can
// still replace such a target, so it gets one more try. Its own error is reported only when
// it says something the first did not (the target is a non-empty folder); otherwise the
// caller sees the access denied of the ordinary rename.
OsError move_onto(const std::wstring& temp, const std::wstring& target) {
    if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return ERROR_SUCCESS;
    }
    const OsError first = ::GetLastError();
    if (first != ERROR_ACCESS_DENIED) return first;
    const OsError second = rename_by_handle(temp, target);
    if (second == ERROR_SUCCESS) return ERROR_SUCCESS;
    return second == ERROR_DIR_NOT_EMPTY ? second : first;
}

// The shared body of every replacement: `fill` writes the new content into the open
// temporary file.
OsError replace_atomic(const Path& target, const std::function<OsError(HANDLE)>& fill) {
    const std::uint64_t sequence = replacement_sequence.fetch_add(1);
    const auto wide_target = win_path(target);
    const auto wide_temp = win_path(temp_path_for(target, ::GetCurrentProcessId(), sequence));
    if (!wide_target || !wide_temp) return ERROR_INVALID_NAME;

    OsError error = ERROR_SUCCESS;
    {
        UniqueFile file(::CreateFileW(wide_temp->c_str(), GENERIC_WRITE, SHARE_ALL, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = ::GetLastError();
        } else if ((error = fill(file.get())) == ERROR_SUCCESS) {
            if (!::FlushFileBuffers(file.get())) error = ::GetLastError();
        }
    }  // closed before the rename
    if (error == ERROR_SUCCESS) error = move_onto(*wide_temp, *wide_target);
    if (error != ERROR_SUCCESS) ::DeleteFileW(wide_temp->c_str());
    return error;
}

}  // namespace

std::optional<std::string> Win32World::read_bytes(const Path& path, std::uint64_t max_bytes) {
    UniqueFile file = open_for_reading(path);
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) &&
        static_cast<std::uint64_t>(size.QuadPart) > max_bytes) {
        return std::nullopt;
    }
    std::string out;
    if (size.QuadPart > 0) out.reserve(static_cast<std::size_t>(size.QuadPart));
    std::vector<char> chunk(IO_CHUNK_BYTES);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), chunk.data(), IO_CHUNK_BYTES, &got, nullptr))
            return std::nullopt;
        if (got == 0) return out;
        // The file may grow while it is read; the bound holds for what is taken.
        if (out.size() + got > max_bytes) return std::nullopt;
        out.append(chunk.data(), got);
    }
}

std::optional<std::uint64_t> Win32World::file_size(const Path& path) {
    const auto wide = win_path(path);
    if (!wide) return std::nullopt;
    UniqueFile file(::CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

std::optional<std::string> Win32World::read_range(const Path& path, std::uint64_t offset,
                                                  std::size_t max_len) {
    UniqueFile file = open_for_reading(path);
    if (!file) return std::nullopt;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) return std::nullopt;
    std::string out(max_len, '\0');
    std::size_t total = 0;
    while (total < max_len) {
        const auto want = static_cast<DWORD>(std::min<std::size_t>(max_len - total, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(file.get(), out.data() + total, want, &got, nullptr)) return std::nullopt;
        if (got == 0) break;
        total += got;
    }
    out.resize(total);
    return out;
}

OsError Win32World::write_atomic(const Path& target, std::string_view bytes) {
    return replace_atomic(target, [bytes](HANDLE file) { return write_all(file, bytes); });
}

OsError Win32World::replace_with_tail(const Path& target, std::uint64_t offset,
                                      std::uint64_t expected_size) {
    return replace_atomic(target, [&target, offset, expected_size](HANDLE out) -> OsError {
        UniqueFile source = open_for_reading(target);
        if (!source) return ::GetLastError();
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(source.get(), &size)) return ::GetLastError();
        if (static_cast<std::uint64_t>(size.QuadPart) < expected_size) return OS_ERROR_FILE_CHANGED;
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(source.get(), position, nullptr, FILE_BEGIN)) {
            return ::GetLastError();
        }
        std::vector<char> chunk(IO_CHUNK_BYTES);
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(source.get(), chunk.data(), IO_CHUNK_BYTES, &got, nullptr)) {
                return ::GetLastError();
            }
            if (got == 0) return ERROR_SUCCESS;
            if (const OsError e = write_all(out, std::string_view(chunk.data(), got))) return e;
        }
    });
}

std::uint64_t win32::peek_replacement_sequence() {
    return replacement_sequence.load();
}

OsError Win32World::append(const Path& path, std::string_view bytes) {
    const auto wide = win_path(path);
    if (!wide) return ERROR_INVALID_NAME;
    UniqueFile file(::CreateFileW(wide->c_str(), FILE_APPEND_DATA, SHARE_ALL, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
    return write_all(file.get(), bytes);
}

OsError Win32World::truncate_file(const Path& path, std::uint64_t size) {
    const auto wide = win_path(path);
    if (!wide) return ERROR_INVALID_NAME;
    UniqueFile file(::CreateFileW(wide->c_str(), GENERIC_WRITE | GENERIC_READ, SHARE_ALL, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
    LARGE_INTEGER current{};
    if (!::GetFileSizeEx(file.get(), &current)) return ::GetLastError();
    if (static_cast<std::uint64_t>(current.QuadPart) <= size) return ERROR_SUCCESS;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(file.get())) {
        return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

OsError Win32World::create_dirs(const Path& folder) {
    const auto wide = win_path(folder);
    if (!wide) return ERROR_INVALID_NAME;
    // A file of the same name is not the folder that was asked for.
    const auto existing = [&]() -> OsError {
        const DWORD attributes = ::GetFileAttributesW(wide->c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return ERROR_SUCCESS;
        }
        return ERROR_ALREADY_EXISTS;
    };
    if (::CreateDirectoryW(wide->c_str(), nullptr)) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return existing();
    if (error != ERROR_PATH_NOT_FOUND) return error;
    const auto parent = parent_folder(folder);
    if (!parent || *parent == folder) return error;
    if (const OsError e = Win32World::create_dirs(*parent)) return e;
    if (::CreateDirectoryW(wide->c_str(), nullptr)) return ERROR_SUCCESS;
    const DWORD again = ::GetLastError();
    return again == ERROR_ALREADY_EXISTS ? existing() : again;
}

PathKind Win32World::path_kind(const Path& path) {
    const auto wide = win_path(path);
    if (!wide) return PathKind::Missing;
    // No access, backup semantics: opens folders too, and follows links to their targets.
    UniqueFile file(::CreateFileW(wide->c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return PathKind::Missing;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) return PathKind::Missing;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) {
        return PathKind::Other;
    }
    return PathKind::File;
}

std::optional<std::vector<std::u16string>> Win32World::list_folder(const Path& folder) {
    const auto pattern = win_path(join(folder, u"*"));
    if (!pattern) return std::nullopt;
    WIN32_FIND_DATAW entry{};
    const UniqueFind listing = find_first(*pattern, entry);
    if (!listing) return std::nullopt;
    std::vector<std::u16string> names;
    do {
        const std::u16string name = from_wide(entry.cFileName, ::lstrlenW(entry.cFileName));
        if (name != u"." && name != u"..") names.push_back(name);
    } while (::FindNextFileW(listing.get(), &entry));  // an error part way ends the list
    return names;
}

OsError Win32World::delete_file(const Path& path) {
    const auto wide = win_path(path);
    if (!wide) return ERROR_INVALID_NAME;
    return ::DeleteFileW(wide->c_str()) ? ERROR_SUCCESS : ::GetLastError();
}

OsError Win32World::rename_file(const Path& from, const Path& to) {
    const auto wide_from = win_path(from);
    const auto wide_to = win_path(to);
    if (!wide_from || !wide_to) return ERROR_INVALID_NAME;
    return move_onto(*wide_from, *wide_to);
}

}  // namespace wd
