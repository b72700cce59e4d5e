// A simulated world for the supervision loop: virtual clocks that move when the loop sleeps,
// simulated player processes that crash, exit, hang or keep a heartbeat, and tasklist and
// taskkill answered from the simulated process table.
#pragma once

#include <map>
#include <memory>

#include "base/text.h"
#include "mem_world.h"
#include "process/probes.h"
#include "process/windows.h"
#include "record_texts.h"
#include "state/paths.h"

namespace wd::fakes {

struct SimProcess {
    std::uint32_t pid = 0;
    std::string image = "player.exe";
    bool alive = true;
    std::uint32_t exit_code = 0;
    bool heartbeat = false;                    // rewrites liveness.json as time passes
    std::optional<std::uint64_t> exits_at_ms;  // wall clock at which it ends by itself
    std::uint32_t exits_with = 0;
    bool ignores_kill = false;
    bool refuses_kill_by_pid = false;  // taskkill /PID fails for it; /IM still ends it
    bool poll_fails = false;           // its handle can no longer be queried
    bool wait_fails = false;           // waits on its handle fail (polls still answer)
    std::uint64_t last_beat_ms = 0;
    // How a minidump of it goes: written at once (0), refused with this error, or never done
    // while it lives (it is deep in the kernel).
    OsError dump_error = 0;
    OsError dump_error_after_write = 0;  // fails with this once its file exists (a short write)
    bool dump_stalls = false;
    std::optional<std::uint64_t> ended_at_ms;        // wall clock at which it was ended by force
    std::optional<std::uint64_t> private_bytes = 0;  // none: its memory cannot be read
    WindowsAnswer windows = WindowsAnswer::NoVisibleWindow;  // what its windows say when asked
    // Or, when set, its windows one by one, judged as the real check judges them.
    std::optional<std::vector<WindowSeen>> window_list;
};

class SimWorld : public MemWorld {
  public:
    // Applied to every process the loop starts; by default a healthy player.
    std::function<void(SimProcess&)> behaviour = [](SimProcess& p) { p.heartbeat = true; };
    std::map<std::uint32_t, SimProcess> processes;
    std::uint32_t next_pid = 1000;
    std::vector<std::uint32_t> spawned;
    std::vector<std::string> killed_images;  // of every process taskkill ended
    Path player_exe = u"C:\\Program Files\\Vellum\\player.exe";

    SimWorld(const SimWorld&) = delete;  // its tools and children point back at it
    SimWorld& operator=(const SimWorld&) = delete;
    SimWorld() {
        create_dirs(u"C:\\Program Files\\Vellum");
        files[player_exe] = "MZ";
        files[u"C:\\Program Files\\Vellum\\watchdog.exe"] = "MZ";
        own_exe = Path(u"C:\\Program Files\\Vellum\\watchdog.exe");
        spawner = [this](const Path& program) { return spawn(program); };
        tool_output = [this](const ToolCall& call) { return tasklist(call); };
        tool_status = [this](const ToolCall& call) { return taskkill(call); };
        dumper = [this](std::uint32_t pid, const Path& file) { return dump(pid, file); };
    }

    std::uint64_t memory_reads = 0;  // of every process, through a handle or by pid

    std::optional<std::uint64_t> process_private_bytes(std::uint32_t pid) override {
        ++memory_reads;
        const auto it = processes.find(pid);
        if (it == processes.end() || !it->second.alive) return std::nullopt;
        return it->second.private_bytes;
    }

    WindowsAnswer windows_of(std::uint32_t pid) override {
        const auto it = processes.find(pid);
        if (it == processes.end() || !it->second.alive) return WindowsAnswer::NoVisibleWindow;
        if (it->second.window_list) return windows_answer(*it->second.window_list);
        return it->second.windows;
    }

    // A process started by someone else.
    SimProcess& add_process(SimProcess p) {
        p.pid = fresh_pid();
        return processes[p.pid] = p;
    }

    // The next process id that no process holds.
    std::uint32_t fresh_pid() {
        while (processes.count(next_pid)) ++next_pid;
        return next_pid++;
    }

    // A process started by someone else under a given pid and image name.
    SimProcess& add_process(std::uint32_t pid, std::string image) {
        SimProcess& p = processes[pid] = SimProcess{};
        p.pid = pid;
        p.image = std::move(image);
        return p;
    }

    std::size_t alive_count() const {
        std::size_t n = 0;
        for (const auto& [pid, p] : processes) n += p.alive ? 1 : 0;
        return n;
    }

    // Jumps from one process exit to the next instead of stepping through every millisecond;
    // a heartbeat is written lazily with the last whole second it would have written.
    void advance_ms(std::uint64_t ms) override {
        const std::uint64_t target = wall_ms + ms;
        for (;;) {
            SimProcess* next = nullptr;
            for (auto& [pid, p] : processes) {
                if (p.alive && p.exits_at_ms && *p.exits_at_ms <= target &&
                    (!next || *p.exits_at_ms < *next->exits_at_ms)) {
                    next = &p;
                }
            }
            if (!next) break;
            if (*next->exits_at_ms > wall_ms) MemWorld::advance_ms(*next->exits_at_ms - wall_ms);
            beat_all(wall_ms - 1);  // a process that ends at a whole second no longer beats
            next->alive = false;
            next->exit_code = next->exits_with;
        }
        MemWorld::advance_ms(target - wall_ms);
        beat_all(wall_ms);
    }

    void write_liveness(SimProcess& p, std::uint64_t ts) {
        if (liveness_path_.empty()) {
            liveness_path_ = *watchdog_file(*this, LIVENESS_FILE);
            create_dirs(*parent_folder(liveness_path_));
        }
        files[liveness_path_] = liveness_json(p.pid, ts);
        p.last_beat_ms = ts;
    }
    void write_liveness(SimProcess& p) { write_liveness(p, wall_ms); }

    void kill(std::uint32_t pid, std::uint32_t code) {
        auto it = processes.find(pid);
        if (it == processes.end() || !it->second.alive || it->second.ignores_kill) return;
        it->second.alive = false;
        it->second.exit_code = code;
        it->second.ended_at_ms = wall_ms;
    }

  private:
    Path liveness_path_;

    // Every heartbeat process writes once per whole second; only the latest write survives.
    void beat_all(std::uint64_t until_ms) {
        const std::uint64_t second = until_ms - until_ms % 1000;
        for (auto& [pid, p] : processes) {
            if (p.alive && p.heartbeat && second > p.last_beat_ms) write_liveness(p, second);
        }
    }

    class Child : public ChildProcess {
      public:
        Child(SimWorld* world, std::uint32_t pid) : world_(world), pid_(pid) {}
        std::uint32_t pid() const override { return pid_; }
        // Time runs on to the process's scheduled end or for `ms`, whichever comes first. A
        // process whose waits fail can still be polled (a wait of 0).
        ChildPoll wait_for_exit(std::uint32_t ms) override {
            const SimProcess& p = world_->processes.at(pid_);
            if (p.poll_fails || (p.wait_fails && ms > 0)) {
                if (ms > 0) world_->advance_ms(ms);
                return ChildPollFailed{};
            }
            if (!p.alive) return ChildEnded{p.exit_code};
            if (ms > 0 && p.exits_at_ms && *p.exits_at_ms <= world_->wall_ms + ms) {
                world_->advance_ms(*p.exits_at_ms - std::min(*p.exits_at_ms, world_->wall_ms));
                return ChildEnded{world_->processes.at(pid_).exit_code};
            }
            if (ms > 0) world_->advance_ms(ms);
            return ChildRunning{};
        }
        void terminate_and_wait() override { world_->kill(pid_, 1); }

      private:
        SimWorld* world_;
        std::uint32_t pid_;
    };

    // A stalled dump runs time on for as long as it is waited for, and fails once its process
    // has been ended, leaving its partial file.
    class StalledDump : public DumpJob {
      public:
        StalledDump(SimWorld* world, std::uint32_t pid) : world_(world), pid_(pid) {}
        DumpWait wait(std::uint32_t ms) override {
            if (!world_->processes.at(pid_).alive) return {DumpStatus::Failed, 299};  // partial
            world_->advance_ms(ms);
            return {};
        }

      private:
        SimWorld* world_;
        std::uint32_t pid_;
    };

    std::unique_ptr<DumpJob> dump(std::uint32_t pid, const Path& file) {
        const auto it = processes.find(pid);
        if (it == processes.end() || !it->second.alive) {
            return std::make_unique<FinishedDump>(MEM_INVALID_PARAMETER);
        }
        if (it->second.dump_error) return std::make_unique<FinishedDump>(it->second.dump_error);
        if (const OsError e = write_atomic(file, "MDMP")) return std::make_unique<FinishedDump>(e);
        if (it->second.dump_error_after_write) {
            return std::make_unique<FinishedDump>(it->second.dump_error_after_write);
        }
        if (it->second.dump_stalls) return std::make_unique<StalledDump>(this, pid);
        files[file] = "MDMP " + it->second.image;
        return std::make_unique<FinishedDump>(0);
    }

    SpawnResult spawn(const Path& program) {
        if (path_kind(program) != PathKind::File) {
            return std::string("The system cannot find the file specified. (os error 2)");
        }
        SimProcess p;
        p.pid = fresh_pid();
        p.image = utf16_to_utf8_lossy(final_component(program).value_or(u""));
        behaviour(p);
        SimProcess& started = processes[p.pid] = p;
        spawned.push_back(p.pid);
        if (started.heartbeat) write_liveness(started);
        return std::make_unique<Child>(this, p.pid);
    }

    static std::string tasklist_row(const SimProcess& p) {
        return "\"" + p.image + "\",\"" + std::to_string(p.pid) +
               "\",\"Console\",\"1\",\"9 K\"\r\n";
    }

    // Image names are compared without regard to ASCII case, as tasklist's filter does.
    ToolOutput tasklist(const ToolCall& call) {
        const std::u16string_view filter = u"IMAGENAME eq ";
        const std::string none =
            "INFO: No tasks are running which match the specified criteria.\r\n";
        if (call.args.size() == 5 && call.args[1].starts_with(filter)) {  // by image name alone
            const std::string image = utf16_to_utf8_lossy(call.args[1].substr(filter.size()));
            std::string rows;
            for (const auto& [pid, p] : processes) {
                if (p.alive && equals_ascii_nocase(image, p.image)) rows += tasklist_row(p);
            }
            return tool_printed(rows.empty() ? none : rows);
        }
        for (const auto& [pid, p] : processes) {
            if (!p.alive) continue;
            const std::string image = call.args.size() > 3 && call.args[3].starts_with(filter)
                                          ? utf16_to_utf8_lossy(call.args[3].substr(filter.size()))
                                          : std::string();
            if (call.args == tasklist_args(pid, "") ||
                (call.args == tasklist_args(pid, image) && equals_ascii_nocase(image, p.image))) {
                return tool_printed(tasklist_row(p));
            }
        }
        return tool_printed(none);
    }

    std::optional<std::uint32_t> taskkill(const ToolCall& call) {
        if (call.args.size() != 3) return 1;
        const std::string target(call.args[2].begin(), call.args[2].end());
        bool any = false;
        for (auto& [pid, p] : processes) {
            const bool match = call.args[1] == u"/PID" ? std::to_string(pid) == target
                                                       : equals_ascii_nocase(p.image, target);
            const bool refused = call.args[1] == u"/PID" && p.refuses_kill_by_pid;
            if (match && p.alive && !p.ignores_kill && !refused) {
                killed_images.push_back(p.image);
                p.alive = false;
                p.exit_code = 1;
                any = true;
            }
        }
        return any ? 0 : 128;
    }
};

}  // namespace wd::fakes
