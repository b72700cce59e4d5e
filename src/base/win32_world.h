// The World seam over the real system, used by both programs and the Windows tests. Each part
// is defined in one file: base/clocks_win32.cpp, state/files_win32.cpp,
// process/processes_win32.cpp (with process/dump_win32.cpp for the minidumps) and
// process/session_win32.cpp (with process/window_probe_win32.cpp for the windows check).
#pragma once

#include "base/world.h"

namespace wd {

class Win32World : public World {
  public:
    // Clocks.
    std::uint64_t wall_clock_ms() override;
    std::uint64_t monotonic_ns() override;
    // The local time zone's rules for that moment (SystemTimeToTzSpecificLocalTime).
    std::optional<LocalClock> local_clock(std::uint64_t wall_ms) override;
    void sleep_secs(std::uint64_t secs) override;

    // Files.
    OsError create_dirs(const Path& folder) override;
    std::optional<std::string> read_bytes(const Path& path, std::uint64_t max_bytes) override;
    std::optional<std::uint64_t> file_size(const Path& path) override;
    std::optional<std::string> read_range(const Path& path, std::uint64_t offset,
                                          std::size_t max_len) override;
    // Temporary sibling, create-or-truncate with full sharing, whole write, flush, close,
    // rename (MoveFileExW, then by handle on access denied). The temporary file is deleted on
    // failure.
    OsError write_atomic(const Path& path, std::string_view bytes) override;
    OsError replace_with_tail(const Path& path, std::uint64_t offset,
                              std::uint64_t expected_size) override;
    OsError append(const Path& path, std::string_view bytes) override;
    OsError truncate_file(const Path& path, std::uint64_t size) override;
    PathKind path_kind(const Path& path) override;
    std::optional<std::vector<std::u16string>> list_folder(const Path& folder) override;
    OsError delete_file(const Path& path) override;
    // MoveFileExW, then by handle on access denied, as a replacement's rename.
    OsError rename_file(const Path& from, const Path& to) override;

    // Processes: this process, the player child, the tools with their time bound.
    std::uint32_t current_pid() override;
    std::optional<Path> own_exe_path() override;
    SpawnResult spawn_process(const Path& program) override;
    ToolOutput run_tool(std::u16string_view name, const std::vector<std::u16string>& args) override;
    // MiniDumpWriteDump on a thread of its own; one dump at a time (dbghelp is single-threaded),
    // a second is refused with ERROR_BUSY while the first still runs.
    std::unique_ptr<DumpJob> start_dump(std::uint32_t pid, const Path& file) override;
    // GetProcessMemoryInfo's PagefileUsage, the commit charge (PrivateUsage reads 0 under Wine).
    std::optional<std::uint64_t> process_private_bytes(std::uint32_t pid) override;
    // A named mutex, owned (an abandoned one too) and kept open until the process ends, when
    // the system releases it.
    InstanceClaim claim_instance(std::u16string_view name) override;

    // The session: environment, standard error, the roaming folder, the logon time, the taskbar.
    std::optional<std::u16string> env(std::u16string_view name) override;
    std::optional<Path> known_folder(KnownFolder which) override;
    std::optional<std::int64_t> session_logon_time() override;
    void show_taskbar() override;
    // ReportEventW under the source "Vellumbeacon Watchdog", registered at the first event.
    void report_event(std::uint32_t identifier, EventLevel level, std::string_view text) override;
    // Each visible top-level window is sent WM_NULL (SMTO_ABORTIFHUNG), within 1 s for all.
    WindowsAnswer ask_windows(std::uint32_t pid) override;
    void echo_stderr(std::string_view bytes) override;
};

namespace win32 {

// The sequence number that the next whole-file replacement will use in its temporary name
// (tests observe the naming with it).
std::uint64_t peek_replacement_sequence();

}  // namespace win32

}  // namespace wd
