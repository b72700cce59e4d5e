// The World seam over the real system, used by watchdog.exe.
#pragma once

#include "base/world.h"

namespace wd {

class Win32World : public World {
  public:
    std::optional<std::u16string> env(std::u16string_view name) override;
    std::uint64_t wall_clock_ms() override;
    std::uint64_t monotonic_ns() override;
    void sleep_secs(std::uint64_t secs) override;
    std::optional<Path> roaming_app_data() override;
    bool create_dirs(const Path& folder) override;
    std::optional<std::string> read_bytes(const Path& path, std::uint64_t max_bytes) override;
    std::optional<std::uint64_t> file_size(const Path& path) override;
    std::optional<std::string> read_range(const Path& path, std::uint64_t offset,
                                          std::size_t max_len) override;
    OsError write_atomic(const Path& path, std::string_view bytes) override;
    OsError replace_with_tail(const Path& path, std::uint64_t offset,
                              std::uint64_t expected_size) override;
    bool append(const Path& path, std::string_view bytes) override;
    void echo_stderr(std::string_view bytes) override;
    std::uint32_t current_pid() override;
    std::optional<std::string> run_tool_output(std::u16string_view name,
                                               const std::vector<std::u16string>& args) override;
    std::optional<std::uint32_t> run_tool_status(std::u16string_view name,
                                                 const std::vector<std::u16string>& args) override;
    SpawnResult spawn_process(const Path& program) override;
    std::optional<Path> own_exe_path() override;
    PathKind path_kind(const Path& path) override;
    std::optional<std::vector<std::u16string>> list_folder(const Path& folder) override;
    bool delete_file(const Path& path) override;
    void show_taskbar() override;
    std::optional<std::int64_t> session_logon_time() override;
};

}  // namespace wd
