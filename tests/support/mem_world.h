// An in-memory World for tests: files and folders in maps, a settable wall clock, a
// captured standard error stream. Paths are compared exactly, unit for unit.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/path.h"
#include "base/saturating.h"
#include "base/world.h"
#include "state/files.h"

namespace wd::fakes {

// Thrown out of a replacement that a simulated power cut interrupts: the process is gone.
struct PowerCut {};

inline constexpr OsError MEM_ACCESS_DENIED = 5;
inline constexpr OsError MEM_PATH_NOT_FOUND = 3;
inline constexpr OsError MEM_FILE_NOT_FOUND = 2;
inline constexpr OsError MEM_ALREADY_EXISTS = 183;
inline constexpr OsError MEM_DISK_FULL = 112;

inline constexpr OsError MEM_INVALID_PARAMETER = 87;

// A dump that is over before it is waited for.
class FinishedDump : public DumpJob {
  public:
    explicit FinishedDump(OsError error) : error_(error) {}
    DumpWait wait(std::uint32_t) override {
        return error_ == 0 ? DumpWait{DumpStatus::Written, 0}
                           : DumpWait{DumpStatus::Failed, error_};
    }

  private:
    OsError error_;
};

// One run of a system tool: its name and arguments.
struct ToolCall {
    std::u16string name;
    std::vector<std::u16string> args;
    bool operator==(const ToolCall&) const = default;
};

// A tool run that ended with this output and status.
inline ToolOutput tool_printed(std::string output, std::uint32_t status = 0) {
    return {ToolRun::Ended, std::move(output), status};
}

// The simulated user's folders, as the watchdog finds them through the default roaming folder.
inline const Path ROAMING = u"C:\\Users\\kiosk\\AppData\\Roaming";
inline const Path APP = ROAMING + u"\\com.vellumbeacon.player";
inline const Path DIR = APP + u"\\watchdog";
// Where the hang dumps go: the same folders under the local application-data folder.
inline const Path LOCAL = u"C:\\Users\\kiosk\\AppData\\Local";
inline const Path DUMPS = LOCAL + u"\\com.vellumbeacon.player\\watchdog\\dumps";
inline const Path UPDATES = APP + u"\\updates";
inline const Path LOG_PATH = DIR + u"\\watchdog.log";
inline const Path LOCK = DIR + u"\\watchdog.lock";
inline const Path PLAYER_JSON = DIR + u"\\player.json";
inline const Path SENTINEL = UPDATES + u"\\updating.json";
inline const Path CLOSED = DIR + u"\\closed.json";
inline const Path COUNTER = DIR + u"\\recoveries.txt";
inline const Path LAST_CRASH = DIR + u"\\last-crash.json";
inline const std::string HUNG = "player hung (process alive, liveness stale) - killing";

class MemWorld : public World {
  public:
    std::map<std::u16string, std::u16string> environment;
    std::uint64_t wall_ms = 1'765'000'000'000;
    std::optional<Path> roaming = ROAMING;
    std::optional<Path> local = LOCAL;
    std::map<Path, std::string> files;
    std::set<Path> folders{u"C:\\",
                           u"C:\\Users",
                           u"C:\\Users\\kiosk",
                           u"C:\\Users\\kiosk\\AppData",
                           u"C:\\Users\\kiosk\\AppData\\Roaming",
                           LOCAL};
    std::set<Path> unwritable;         // replacements and appends of these paths fail
    std::set<Path> read_only_folders;  // nothing in these folders can be written
    // Room left on a disk that is filling up; none for a roomy one. An append that does not fit
    // writes what does and fails, as a real one may; a replacement that does not fit fails whole.
    std::optional<std::uint64_t> free_bytes;
    // When set, the next replacement is interrupted by a power cut: the function decides what
    // survives on disk (the old content or the new one, a temporary file left behind), and
    // PowerCut is thrown.
    std::function<void(const Path& target, const Path& temp, std::string_view bytes)> power_cut;
    std::uint64_t replacement_sequence = 0;  // as the real one: every replacement takes one
    // Run as a tail copy begins and once it has replaced the file: another process may change
    // the file, or fill the disk, then.
    std::function<void(const Path&)> before_tail_copy;
    std::function<void(const Path&)> after_tail_copy;
    // Sees every whole-file read and may change what it returns (a file caught mid-write).
    std::function<std::optional<std::string>(const Path&, std::optional<std::string>)> on_read;
    bool has_stderr = true;
    std::string stderr_text;
    std::uint64_t bytes_read = 0;    // everything handed out by the read operations
    std::uint64_t whole_reads = 0;   // calls of read_bytes
    std::uint64_t replacements = 0;  // successful write_atomic and replace_with_tail calls
    std::optional<Path> own_exe = Path(u"C:\\Program Files\\Vellum\\watchdog.exe");
    std::set<Path> undeletable;  // deletions of these paths fail
    int taskbar_shows = 0;
    std::optional<std::int64_t> logon_time = 133'000'000'000'000'000;
    std::set<Path> other_paths;  // exist, but are neither files nor folders
    std::uint64_t mono_ns = 5'000'000'000;
    std::vector<std::uint64_t> sleeps;
    std::uint32_t own_pid = 4242;
    std::vector<ToolCall> tool_calls;
    // Every tool is missing unless a test says otherwise.
    std::function<ToolOutput(const ToolCall&)> tool_output = [](const ToolCall&) {
        return ToolOutput{};
    };
    std::function<std::optional<std::uint32_t>(const ToolCall&)> tool_status = [](const ToolCall&) {
        return std::nullopt;
    };
    std::function<SpawnResult(const Path&)> spawner = [](const Path&) {
        return SpawnResult(std::string("program not found"));
    };
    // No process here can be dumped: each dump fails as for a process that has gone.
    std::function<std::unique_ptr<DumpJob>(std::uint32_t pid, const Path& file)> dumper =
        [](std::uint32_t, const Path&) {
            return std::make_unique<FinishedDump>(MEM_INVALID_PARAMETER);
        };

    std::optional<std::u16string> env(std::u16string_view name) override {
        const auto it = environment.find(std::u16string(name));
        if (it == environment.end()) return std::nullopt;
        return it->second;
    }

    std::uint64_t wall_clock_ms() override { return wall_ms; }

    // The local calendar is UTC moved by this many minutes.
    std::int64_t local_offset_minutes = 0;
    std::vector<std::uint64_t> local_clock_reads;  // the times asked about
    std::optional<LocalClock> local_clock(std::uint64_t ms) override {
        local_clock_reads.push_back(ms);
        const std::int64_t minutes = static_cast<std::int64_t>(ms / 60'000) + local_offset_minutes;
        if (minutes < 0) return std::nullopt;
        const auto m = static_cast<std::uint64_t>(minutes);
        return LocalClock{m / 1440, static_cast<std::uint32_t>(m % 1440)};
    }

    // Time moves only when something sleeps; both clocks move together.
    std::uint64_t monotonic_ns() override { return mono_ns; }
    // Called after each sleep: another program's turn (a watchdog's check, say).
    std::function<void()> after_sleep;
    void sleep_secs(std::uint64_t secs) override {
        sleeps.push_back(secs);
        advance_ms(std::min(secs, U64_MAX / 1000) * 1000);
        if (after_sleep) after_sleep();
    }
    virtual void advance_ms(std::uint64_t ms) {
        mono_ns += ms * 1'000'000;
        wall_ms += ms;
    }

    std::optional<Path> known_folder(KnownFolder which) override {
        return which == KnownFolder::RoamingAppData ? roaming : local;
    }

    OsError create_dirs(const Path& folder) override {
        if (files.count(folder)) return MEM_ALREADY_EXISTS;
        if (folders.count(folder)) return 0;
        const auto parent = parent_folder(folder);
        if (parent && *parent != folder) {
            if (const OsError e = create_dirs(*parent)) return e;
        }
        if (parent && read_only_folders.count(*parent)) return MEM_ACCESS_DENIED;
        folders.insert(folder);
        return 0;
    }

    std::optional<std::string> read_bytes(const Path& path, std::uint64_t max_bytes) override {
        ++whole_reads;
        const auto it = files.find(path);
        std::optional<std::string> found;
        if (it != files.end()) found = it->second;
        if (on_read) found = on_read(path, found);
        if (!found || found->size() > max_bytes) return std::nullopt;
        bytes_read += found->size();
        return found;
    }

    std::optional<std::uint64_t> file_size(const Path& path) override {
        const auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second.size();
    }

    std::optional<std::string> read_range(const Path& path, std::uint64_t offset,
                                          std::size_t max_len) override {
        const auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        if (offset >= it->second.size()) return std::string();
        std::string out = it->second.substr(offset, max_len);
        bytes_read += out.size();
        return out;
    }

    OsError write_atomic(const Path& path, std::string_view bytes) override {
        const std::uint64_t sequence = replacement_sequence++;
        if (const OsError e = writable(path)) return e;
        if (const OsError e = take_room(bytes.size(), file_size(path).value_or(0))) return e;
        cut_power_if_due(path, sequence, bytes);
        files[path] = std::string(bytes);
        ++replacements;
        return 0;
    }

    OsError replace_with_tail(const Path& path, std::uint64_t offset,
                              std::uint64_t expected_size) override {
        const std::uint64_t sequence = replacement_sequence++;
        if (before_tail_copy) before_tail_copy(path);
        if (const OsError e = writable(path)) return e;
        auto it = files.find(path);
        if (it == files.end()) return MEM_PATH_NOT_FOUND;
        if (it->second.size() < expected_size) return OS_ERROR_FILE_CHANGED;
        std::string tail = offset >= it->second.size() ? std::string() : it->second.substr(offset);
        if (const OsError e = take_room(tail.size(), it->second.size())) return e;
        cut_power_if_due(path, sequence, tail);
        it->second = std::move(tail);
        ++replacements;
        if (after_tail_copy) after_tail_copy(path);
        return 0;
    }

    OsError append(const Path& path, std::string_view bytes) override {
        if (const OsError e = writable(path)) return e;
        if (free_bytes && bytes.size() > *free_bytes) {
            files[path].append(bytes.substr(0, *free_bytes));
            free_bytes = 0;
            return MEM_DISK_FULL;
        }
        files[path].append(bytes);
        if (free_bytes) *free_bytes -= bytes.size();
        return 0;
    }

    OsError truncate_file(const Path& path, std::uint64_t size) override {
        if (const OsError e = writable(path)) return e;
        auto it = files.find(path);
        if (it == files.end()) return MEM_FILE_NOT_FOUND;
        if (it->second.size() <= size) return 0;
        if (free_bytes) *free_bytes += it->second.size() - size;
        it->second.resize(size);
        return 0;
    }

    void echo_stderr(std::string_view bytes) override {
        if (has_stderr) stderr_text.append(bytes);
    }

    std::uint32_t current_pid() override { return own_pid; }

    // taskkill answers through tool_status, every other tool through tool_output.
    ToolOutput run_tool(std::u16string_view name,
                        const std::vector<std::u16string>& args) override {
        tool_calls.push_back({std::u16string(name), args});
        if (name != u"taskkill") return tool_output(tool_calls.back());
        const auto status = tool_status(tool_calls.back());
        if (!status) return {ToolRun::NotStarted, {}, 0};
        return {ToolRun::Ended, {}, *status};
    }

    SpawnResult spawn_process(const Path& program) override { return spawner(program); }

    std::unique_ptr<DumpJob> start_dump(std::uint32_t pid, const Path& file) override {
        return dumper(pid, file);
    }

    InstanceClaim instance_claim = InstanceClaim::Owned;  // how every claim comes out
    std::vector<std::u16string> claims;                   // the names asked for
    InstanceClaim claim_instance(std::u16string_view name) override {
        claims.emplace_back(name);
        return instance_claim;
    }

    std::optional<std::uint64_t> process_private_bytes(std::uint32_t) override {
        return std::nullopt;
    }

    std::optional<Path> own_exe_path() override { return own_exe; }

    // A path is read up to its first NUL, as the system's calls read it.
    PathKind path_kind(const Path& whole) override {
        const Path path = whole.substr(0, whole.find(u'\0'));
        if (files.count(path)) return PathKind::File;
        if (folders.count(path)) return PathKind::Folder;
        if (other_paths.count(path)) return PathKind::Other;
        return PathKind::Missing;
    }

    // Sorted by name, as the map keeps them.
    std::optional<std::vector<std::u16string>> list_folder(const Path& folder) override {
        if (!folders.count(folder)) return std::nullopt;
        std::vector<std::u16string> names;
        const auto add = [&](const Path& p) {
            if (parent_folder(p) == folder) names.push_back(Path(*final_component(p)));
        };
        std::set<Path> all(other_paths);
        for (const auto& [p, bytes] : files) all.insert(p);
        all.insert(folders.begin(), folders.end());
        for (const auto& p : all) add(p);
        return names;
    }

    OsError delete_file(const Path& path) override {
        if (undeletable.count(path)) return MEM_ACCESS_DENIED;
        return files.erase(path) > 0 ? 0 : MEM_FILE_NOT_FOUND;
    }

    OsError rename_file(const Path& from, const Path& to) override {
        if (const OsError e = writable(to)) return e;
        const auto it = files.find(from);
        if (it == files.end()) return MEM_FILE_NOT_FOUND;
        std::string bytes = std::move(it->second);
        files.erase(it);
        files[to] = std::move(bytes);
        return 0;
    }

    void show_taskbar() override { ++taskbar_shows; }

    struct Event {
        std::uint32_t identifier;
        EventLevel level;
        std::string text;
        bool operator==(const Event&) const = default;
    };
    std::vector<Event> events;  // written to the event log, in order
    void report_event(std::uint32_t identifier, EventLevel level, std::string_view text) override {
        events.push_back({identifier, level, std::string(text)});
    }

    std::uint64_t window_asks = 0;  // of every process
    WindowsAnswer ask_windows(std::uint32_t pid) override {
        ++window_asks;
        return windows_of(pid);
    }
    virtual WindowsAnswer windows_of(std::uint32_t) { return WindowsAnswer::NoVisibleWindow; }

    std::optional<std::int64_t> session_logon_time() override { return logon_time; }

  private:
    void cut_power_if_due(const Path& path, std::uint64_t sequence, std::string_view bytes) {
        if (!power_cut) return;
        const auto cut = std::exchange(power_cut, nullptr);
        cut(path, temp_path_for(path, own_pid, sequence), bytes);
        throw PowerCut{};
    }

    // A replacement writes the new content beside the old one before the old goes.
    OsError take_room(std::uint64_t new_size, std::uint64_t old_size) {
        if (!free_bytes) return 0;
        if (new_size > *free_bytes) return MEM_DISK_FULL;
        *free_bytes = *free_bytes - new_size + old_size;
        return 0;
    }

    OsError writable(const Path& path) const {
        const auto parent = parent_folder(path);
        if (!parent || !folders.count(*parent)) return MEM_PATH_NOT_FOUND;
        if (unwritable.count(path) || folders.count(path) || read_only_folders.count(*parent)) {
            return MEM_ACCESS_DENIED;
        }
        return 0;
    }
};

}  // namespace wd::fakes
