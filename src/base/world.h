// The seam between the watchdog's logic and the operating system. Portable: must never
// include <windows.h>. watchdog.exe runs the logic against the Win32 implementation; the
// tests run the same logic against an in-memory world with virtual clocks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/path.h"

namespace wd {

// A system error number; 0 means success.
using OsError = std::uint32_t;
// The file was not what the caller saw a moment before (ERROR_HANDLE_EOF on Windows).
inline constexpr OsError OS_ERROR_FILE_CHANGED = 38;

// What a poll of a child process found.
struct ChildRunning {};
struct ChildEnded {
    std::uint32_t exit_code;
};
struct ChildPollFailed {};
using ChildPoll = std::variant<ChildRunning, ChildEnded, ChildPollFailed>;

// A process this program started. Destroying it releases its handles and leaves the process
// itself alone.
class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    virtual std::uint32_t pid() const = 0;
    // Blocks for up to `ms` milliseconds (0: never), less when the process ends first: running
    // at the end of the wait, ended with its exit code, or failed. A wait that fails still
    // takes its `ms`, as a plain sleep would.
    virtual ChildPoll wait_for_exit(std::uint32_t ms) = 0;
    // Ends the process by force with exit code 1 and waits (bounded) for it to be gone.
    virtual void terminate_and_wait() = 0;
};

// Where a dump stands after a wait: still being written, whole on disk, or stopped by `error`.
enum class DumpStatus { Writing, Written, Failed };
struct DumpWait {
    DumpStatus status = DumpStatus::Writing;
    OsError error = 0;  // why it failed
    bool operator==(const DumpWait&) const = default;
};

// A minidump of another process, written on a worker so that the caller can bound the wait.
// Destroying it waits for nothing: a worker still writing finishes on its own.
class DumpJob {
  public:
    virtual ~DumpJob() = default;
    // Blocks for up to `ms` milliseconds, less once the dump is over.
    virtual DumpWait wait(std::uint32_t ms) = 0;
};

// What the visible top-level windows of a process said when asked whether they respond.
enum class WindowsAnswer { NoVisibleWindow, Answered, NoneAnswered };

// The level of an event in the system's event log.
enum class EventLevel { Information, Warning, Error };

// How taking a system-wide claim came out.
enum class InstanceClaim { Owned, Taken, Unavailable, Foreign };

// The user's folders the watchdog keeps its files in: the roaming application-data folder,
// and the local one, which stays on this machine when the profile roams.
enum class KnownFolder { RoamingAppData, LocalAppData };

// What a path names, links followed.
enum class PathKind { Missing, File, Folder, Other };

// How a run of a system tool for its output ended: to its end, or not (it could not be
// started, ran past its bound and was ended, or its output could not be read or was too much).
enum class ToolRun { Ended, NotStarted, TimedOut, Unreadable };
struct ToolOutput {
    ToolRun run = ToolRun::NotStarted;
    std::string output;        // its standard output, when it ended
    std::uint32_t status = 0;  // its exit status, when it ended
    bool operator==(const ToolOutput&) const = default;
};

// A started child, or the text that explains why it could not be started.
using SpawnResult = std::variant<std::unique_ptr<ChildProcess>, std::string>;

// The system as the watchdog sees it, in four parts: clocks, files, processes and the user's
// session. Failures are values, never exceptions, in one shape: what a call reads comes back
// as an optional, none on any failure; what a call changes returns an OsError, 0 on success; a
// spawn returns the child or the system's own text for why not, which the log shows. Calls
// that are best effort (sleeping, showing the taskbar, the standard error stream) report
// nothing.

// A wall-clock time on the user's local calendar.
struct LocalClock {
    std::uint64_t day = 0;     // local days since 1970-01-01
    std::uint32_t minute = 0;  // minutes after local midnight
    bool operator==(const LocalClock&) const = default;
};

class Clocks {
  public:
    virtual ~Clocks() = default;

    // Milliseconds since 1970-01-01 UTC; 0 when the system clock is set before 1970.
    virtual std::uint64_t wall_clock_ms() = 0;

    // Nanoseconds on a clock that only moves forward and ignores changes of the wall clock.
    virtual std::uint64_t monotonic_ns() = 0;

    // The wall-clock time as the local calendar shows it (time zone and daylight saving of the
    // moment), none when the system cannot convert it.
    virtual std::optional<LocalClock> local_clock(std::uint64_t wall_ms) = 0;

    // Blocks for whole seconds; 0 yields. Never shortened by overflow.
    virtual void sleep_secs(std::uint64_t secs) = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Creates the folder and every missing ancestor; an existing folder is success.
    virtual OsError create_dirs(const Path& folder) = 0;

    // The whole file, none on any failure or when it holds more than `max_bytes`.
    virtual std::optional<std::string> read_bytes(const Path& path, std::uint64_t max_bytes) = 0;

    // The file's size, none when it cannot be queried.
    virtual std::optional<std::uint64_t> file_size(const Path& path) = 0;

    // Up to `max_len` bytes from `offset` (fewer at the end of the file), none on failure.
    virtual std::optional<std::string> read_range(const Path& path, std::uint64_t offset,
                                                  std::size_t max_len) = 0;

    // Replaces the file whole through a flushed temporary sibling and a rename.
    virtual OsError write_atomic(const Path& path, std::string_view bytes) = 0;

    // Replaces the file whole with its own bytes from `offset` to the end, streamed, the same
    // way as write_atomic. When the file holds fewer than `expected_size` bytes as it is opened
    // for the copy (another process replaced it meanwhile), nothing is replaced and
    // OS_ERROR_FILE_CHANGED is returned.
    virtual OsError replace_with_tail(const Path& path, std::uint64_t offset,
                                      std::uint64_t expected_size) = 0;

    // Appends at the end of the file, creating it when missing. A write that fails part way
    // (a full disk) may leave some of the bytes behind.
    virtual OsError append(const Path& path, std::string_view bytes) = 0;

    // Cuts the file back to `size` bytes; a file no longer than that is left as it is.
    virtual OsError truncate_file(const Path& path, std::uint64_t size) = 0;

    // What the path names, following links; Missing when its metadata cannot be had.
    virtual PathKind path_kind(const Path& path) = 0;

    // The entry names of a folder in the order the system lists them, without "." and "..";
    // none when the folder cannot be listed. A failure part way ends the list there.
    virtual std::optional<std::vector<std::u16string>> list_folder(const Path& folder) = 0;

    // Deletes the file.
    virtual OsError delete_file(const Path& path) = 0;

    // Renames the file, replacing any file of the new name.
    virtual OsError rename_file(const Path& from, const Path& to) = 0;
};

class Processes {
  public:
    virtual ~Processes() = default;

    // This process's id.
    virtual std::uint32_t current_pid() = 0;

    // The full path of this program's executable, none when it cannot be had.
    virtual std::optional<Path> own_exe_path() = 0;

    // Starts the program with no arguments and the inherited environment, folder and standard
    // handles.
    virtual SpawnResult spawn_process(const Path& program) = 0;

    // Runs a system tool by bare name ("tasklist") with the arguments, standard input from the
    // null device: its standard output and exit status, or how the run failed.
    virtual ToolOutput run_tool(std::u16string_view name,
                                const std::vector<std::u16string>& args) = 0;

    // Starts writing a minidump of the process (its threads with their information, its
    // modules and its unloaded modules, not its memory) into `file`, which it creates. Never
    // null: a dump that cannot start is a job that has already failed.
    virtual std::unique_ptr<DumpJob> start_dump(std::uint32_t pid, const Path& file) = 0;

    // The private memory of the process (its commit charge) in bytes; none when the process
    // cannot be opened or read. A pid whose process handle this program holds (its child's)
    // cannot be reused meanwhile.
    virtual std::optional<std::uint64_t> process_private_bytes(std::uint32_t pid) = 0;

    // Takes the system-wide claim of this name, made to be this user's alone, and holds it until
    // the process ends, however it ends: Owned when this process now holds it (also when a
    // process that held it ended without letting go), Taken when another live process of this
    // user holds it, Foreign when the name exists but is not this user's (another account made
    // it first, or its owner cannot be read), Unavailable when it cannot be had (any error).
    virtual InstanceClaim claim_instance(std::u16string_view name) = 0;
};

// The logon session the watchdog runs in: its environment, the user's folder, the logon time,
// the taskbar on the user's desktop and the standard error stream.
class Session {
  public:
    virtual ~Session() = default;

    // The variable's value as raw UTF-16 (possibly ill-formed), none when it is not set.
    virtual std::optional<std::u16string> env(std::u16string_view name) = 0;

    // The current user's folder of that kind, none when it cannot be had.
    virtual std::optional<Path> known_folder(KnownFolder which) = 0;

    // The logon time of the session (the system's 100 ns ticks), none when it cannot be had
    // or is 0.
    virtual std::optional<std::int64_t> session_logon_time() = 0;

    // Makes the taskbar visible on every monitor.
    virtual void show_taskbar() = 0;

    // Sends a harmless message to each visible top-level window of the process, within about a
    // second for all of them, giving up at once on a window the system already marks as not
    // responding: Answered as soon as one answers.
    virtual WindowsAnswer ask_windows(std::uint32_t pid) = 0;

    // Writes to the standard error stream when the process has one; nothing otherwise.
    virtual void echo_stderr(std::string_view bytes) = 0;

    // Writes an event with this full identifier (the message table's, severity bits included),
    // level and text (UTF-8) to the Application event log under the watchdog's source. Best
    // effort: a failed write is dropped.
    virtual void report_event(std::uint32_t identifier, EventLevel level,
                              std::string_view text) = 0;
};

class World : public Clocks, public FileSystem, public Processes, public Session {};

}  // namespace wd
