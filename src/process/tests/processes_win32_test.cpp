// Tools, probes and the player child against real processes under Wine. The tasklist
// stand-in is the one in the prefix's system folder, where the tools are run from.
#include <gtest/gtest.h>

#include <chrono>

#include "base/win32_world.h"
#include "process/child.h"
#include "process/create_process_win32.h"
#include "process/probes.h"
#include "process/program_search_win32.h"
#include "process/tool_run_win32.h"
#include "scratch_world.h"
#include "win32_launch.h"
#include "win32_test_dir.h"

namespace wd {
namespace {

using namespace std::chrono_literals;
using fakes::Launched;
using fakes::own_folder;
using fakes::ScratchDir;
using fakes::ScratchWorld;

// Sets an environment variable for the test process (and what it starts) until the end of
// the scope.
class ScopedEnv {
  public:
    ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name) {
        ::SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnv() { ::SetEnvironmentVariableW(name_, nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const wchar_t* name_;
};

class ProcessControl : public testing::Test {
  protected:
    ProcessControl() : roaming_(L"process"), world_(roaming_.path()) {}

    Launched start_player() { return Launched(player_exe(), L"\"" + player_exe() + L"\""); }
    static std::wstring player_exe() { return own_folder() + L"\\test-player.exe"; }
    std::string log() {
        return fakes::get_file(roaming_.wide(L"com.vellumbeacon.player\\watchdog\\watchdog.log"))
            .value_or("");
    }

    ScopedEnv no_records_{L"TEST_PLAYER_NO_RECORDS", L"1"};
    ScratchDir roaming_;
    ScratchWorld world_;
    Log log_{world_};
};

const ProbeAnswer RUNNING{Seen::Running, {}};
const ProbeAnswer NOT_RUNNING{Seen::NotRunning, {}};

TEST_F(ProcessControl, ProbesFindALiveProcessByPidAndByImageName) {
    Launched player = start_player();
    ASSERT_TRUE(player.started());
    const std::uint32_t pid = player.pid();
    EXPECT_EQ(pid_running(world_, pid), RUNNING);
    EXPECT_EQ(pid_running_as(world_, "test-player.exe", pid), RUNNING);
    EXPECT_EQ(pid_running_as(world_, "", pid), RUNNING);
    EXPECT_EQ(pid_running_as(world_, "other player.exe", pid), NOT_RUNNING);
    player.end();
    EXPECT_EQ(pid_running(world_, pid), NOT_RUNNING);
    EXPECT_EQ(pid_running_as(world_, "test-player.exe", pid), NOT_RUNNING);
}

// A tool that cannot run, or whose answer is not tasklist's (rows on standard error, nothing
// on standard output; or output that is neither rows nor a message), says nothing about the
// process: the probe's answer is unknown, never "not running".
TEST_F(ProcessControl, AMissingToolOrOutputThatIsNoAnswerLeavesTheProcessUnknown) {
    EXPECT_EQ(world_.run_tool(u"no-such-tool", {}).run, ToolRun::NotStarted);
    EXPECT_EQ(win32::find_program(u"tasklist", {}), std::nullopt);
    EXPECT_EQ(win32::find_program(u"tasklist", {Path(u"C:\\nowhere")}), std::nullopt);

    const std::uint32_t own = ::GetCurrentProcessId();
    ASSERT_EQ(pid_running(world_, own), RUNNING);
    const struct {
        const wchar_t* mode;
        std::uint32_t pid;
        std::string image;
    } cases[] = {
        {L"stderr", own, ""},
        {L"garbage", 12, ""},  // prints: FF FE garbage "x",12 80
        {L"garbage", 12, "x.exe"},
    };
    for (const auto& c : cases) {
        ScopedEnv misbehave(L"TASKLIST_STANDIN_MODE", c.mode);
        EXPECT_EQ(pid_running_as(world_, c.image, c.pid),
                  (ProbeAnswer{Seen::Unknown, "output not understood"}))
            << c.pid << " " << c.image;
    }
}

// CPU time this process has used, in milliseconds.
std::uint64_t cpu_ms() {
    FILETIME created, ended, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10'000;
}

// A tool that never ends is ended at the bound: not before it, and the run comes back. Waiting
// costs no CPU: the run sleeps on its pipes (a spinning wait would burn the whole 3 s).
TEST_F(ProcessControl, AToolThatHangsIsEndedAtTheBoundWithoutSpinning) {
    ScopedEnv mode(L"TASKLIST_STANDIN_MODE", L"hang");
    auto before = std::chrono::steady_clock::now();
    const std::uint64_t cpu_before = cpu_ms();
    const ToolRun run = win32::run_tool_output(u"tasklist", {u"/NH"}, 3'000).run;
    // It failed once under heavy load as not started, within 60 ms: the system's reason, if so.
    const DWORD error = ::GetLastError();
    EXPECT_EQ(run, ToolRun::TimedOut) << win32::os_error_text(error);
    const std::uint64_t cpu = cpu_ms() - cpu_before;
    EXPECT_GE(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_LT(cpu, 1'000u) << "CPU time while waiting 3 s for a silent tool";
    std::printf("waiting 3 s for a silent tool: %llu ms of CPU\n",
                static_cast<unsigned long long>(cpu));
}

// Output without end is not an answer: the run fails once it passes the cap, and holds no more
// than the cap meanwhile. The time bound here is longer than the test may take, so only the cap
// can end this run.
TEST_F(ProcessControl, AToolThatFloodsItsOutputIsEndedAtTheCap) {
    ScopedEnv mode(L"TASKLIST_STANDIN_MODE", L"flood");
    EXPECT_EQ(win32::run_tool_output(u"tasklist", {u"/NH"}, 24 * 3'600'000).run,
              ToolRun::Unreadable);
}

// A tool that reports an error (the stand-in does so as the real one does: an ERROR line on
// standard error and status 1) says nothing about the process asked for.
TEST_F(ProcessControl, ATasklistThatFailsAsTheRealOneDoesLeavesTheProcessUnknown) {
    const std::wstring flag = own_folder() + L"\\tasklist-fails";
    ASSERT_TRUE(fakes::put_file(flag, ""));
    ScopedEnv fail(L"TASKLIST_STANDIN_FAIL_WHEN", flag.c_str());
    const ToolOutput run = world_.run_tool(u"tasklist", tasklist_args(::GetCurrentProcessId(), {}));
    EXPECT_EQ(run, (ToolOutput{ToolRun::Ended, "", 1}));
    EXPECT_EQ(pid_running(world_, ::GetCurrentProcessId()),
              (ProbeAnswer{Seen::Unknown, "exit status 1"}));
    ::DeleteFileW(flag.c_str());
}

TEST_F(ProcessControl, ForceEndByPidAndByImageNameAfterAFailedPidRun) {
    Launched by_pid = start_player();
    force_end_process(world_, by_pid.pid(), "");
    EXPECT_TRUE(by_pid.wait(10s).has_value());

    Launched by_name = start_player();
    // A pid that does not exist: taskkill fails, so the image name is tried.
    force_end_process(world_, 4'000'000'000u, "test-player.exe");
    EXPECT_TRUE(by_name.wait(10s).has_value());
}

TEST_F(ProcessControl, SpawnedPlayerIsLoggedWithItsRealPidAndPolledWithoutWaiting) {
    ScopedEnv exit_after(L"TEST_PLAYER_EXIT_AFTER_MS", L"3000");
    ScopedEnv code(L"TEST_PLAYER_EXIT_CODE", L"3");
    const std::wstring exe = player_exe();
    const Path path(exe.begin(), exe.end());
    PlayerChild child = spawn_player(world_, log_, path);
    ASSERT_TRUE(child);
    EXPECT_NE(log().find("] spawned player pid=" + std::to_string(child->pid()) + " (" +
                         path_display(path) + ")\n"),
              std::string::npos)
        << log();

    // A poll that waited would see the exit 3 s from now.
    EXPECT_TRUE(std::holds_alternative<ChildRunning>(child->wait_for_exit(0)));

    ASSERT_TRUE(fakes::eventually(
        [&] { return !std::holds_alternative<ChildRunning>(child->wait_for_exit(0)); }, 10s));
    const ChildPoll ended = child->wait_for_exit(0);
    ASSERT_TRUE(std::holds_alternative<ChildEnded>(ended));
    EXPECT_EQ(std::get<ChildEnded>(ended).exit_code, 3u);
    end_child(std::move(child));  // already ended: completes and releases
}

TEST_F(ProcessControl, EndChildEndsARunningPlayerWithExitCodeOne) {
    const std::wstring exe = player_exe();
    // Without ".exe": the path is tried with it appended first.
    PlayerChild child = spawn_player(world_, log_, Path(exe.begin(), exe.end() - 4));
    ASSERT_TRUE(child);
    const std::uint32_t pid = child->pid();
    win32::UniqueHandle watch(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    ASSERT_TRUE(watch);
    end_child(std::move(child));
    EXPECT_EQ(::WaitForSingleObject(watch.get(), 0), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(watch.get(), &code);
    EXPECT_EQ(code, 1u);
}

// A dump of a live process is a whole minidump; one of a process that has ended fails, and
// one of a process that is not there fails at once and leaves no file.
TEST_F(ProcessControl, ADumpOfALiveProcessIsWrittenAndOfAGoneOneFailsAtOnce) {
    Launched player = start_player();
    ASSERT_TRUE(player.started());
    const std::wstring file = roaming_.wide(L"player.dmp");
    const Path path(file.begin(), file.end());
    EXPECT_EQ(world_.start_dump(player.pid(), path)->wait(60'000).status, DumpStatus::Written);
    EXPECT_EQ(fakes::get_file(file).value_or("").substr(0, 4), "MDMP");
    player.end();  // its handle, still held, keeps the pid from going to another process
    const DumpWait ended = world_.start_dump(player.pid(), path)->wait(60'000);
    EXPECT_EQ(ended.status, DumpStatus::Failed);
    EXPECT_NE(ended.error, 0u);
    ASSERT_EQ(world_.delete_file(path), 0u);
    const DumpWait none = world_.start_dump(0x7ffffffc, path)->wait(0);
    EXPECT_EQ(none.status, DumpStatus::Failed);
    EXPECT_NE(none.error, 0u);
    EXPECT_EQ(world_.path_kind(path), PathKind::Missing);
}

// The private memory a process committed and touched, read by its pid; a pid that names no
// process reads as nothing.
TEST_F(ProcessControl, PrivateMemoryIsReadByPid) {
    const ScopedEnv memory(L"TEST_PLAYER_MEMORY_MB", L"64");
    const std::wstring exe = player_exe();
    auto spawned = world_.spawn_process(Path(exe.begin(), exe.end()));
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<ChildProcess>>(spawned));
    auto& child = *std::get<std::unique_ptr<ChildProcess>>(spawned);
    constexpr std::uint64_t MIB_64 = std::uint64_t{64} << 20;
    EXPECT_TRUE(fakes::eventually(
        [&] { return world_.process_private_bytes(child.pid()).value_or(0) > MIB_64; }, 30s));
    child.terminate_and_wait();
    EXPECT_EQ(world_.process_private_bytes(0x7ffffffc), std::nullopt);
}

TEST_F(ProcessControl, AMissingExecutableGivesTheSystemErrorText) {
    const std::wstring missing = roaming_.wide(L"no-player.exe");
    const Path path(missing.begin(), missing.end());
    EXPECT_FALSE(spawn_player(world_, log_, path));
    const std::string prefix = "] spawn failed (" + path_display(path) + "): ";
    const std::string text = log();
    ASSERT_NE(text.find(prefix), std::string::npos) << text;
    const std::string tail = " (os error 2)\n";
    EXPECT_TRUE(text.size() > tail.size() && text.substr(text.size() - tail.size()) == tail)
        << text;

    EXPECT_EQ(std::get<std::string>(world_.spawn_process(u"no-such-program")), "program not found");
    // An empty path names nothing, as one cut short by a NUL does.
    for (const Path& bad : {Path(), Path(u"C:\\x.exe") + u'\0' + u".txt"}) {
        const auto refused = std::get<std::string>(world_.spawn_process(bad));
        EXPECT_TRUE(refused.ends_with(" (os error 123)")) << refused;
    }
}

}  // namespace
}  // namespace wd
