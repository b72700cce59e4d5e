// Win32 file operations behind the World seam: tolerant reads, whole-file replacement,
// appends and folder creation. No decisions are taken here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/path.h"
#include "base/world.h"

namespace wd::win32 {

std::optional<std::string> read_bytes(const Path& path, std::uint64_t max_bytes);
std::optional<std::uint64_t> file_size(const Path& path);
std::optional<std::string> read_range(const Path& path, std::uint64_t offset, std::size_t max_len);

// Temporary sibling, create-or-truncate with full sharing, whole write, flush, close, rename
// (MoveFileExW, then by handle on access denied). The temporary file is deleted on failure.
OsError write_atomic(const Path& target, std::string_view bytes);

// As write_atomic, with the target's own bytes from `offset` on, copied in chunks; nothing is
// replaced (OS_ERROR_FILE_CHANGED) when the target holds fewer than `expected_size` bytes.
OsError replace_with_tail(const Path& target, std::uint64_t offset, std::uint64_t expected_size);

// The sequence number that the next replacement will use (tests observe the naming with it).
std::uint64_t peek_replacement_sequence();

bool append(const Path& path, std::string_view bytes);
bool create_dirs(const Path& folder);
PathKind path_kind(const Path& path);
std::optional<std::vector<std::u16string>> list_folder(const Path& folder);
bool delete_file(const Path& path);

}  // namespace wd::win32
