// The process part of Win32World: this process, the player child watched and ended through its
// handle, and the bounded runs of the system tools.
#include "base/win32_world.h"

#include "base/text.h"
#include "base/win32.h"
#include "process/child.h"
#include "process/command_line.h"
#include "process/create_process_win32.h"
#include "process/program_search_win32.h"
#include "process/tool_run_win32.h"

// After <windows.h>, which base/win32.h brings.
#include <psapi.h>

namespace wd::win32 {
namespace {

// How long a force-ended child is waited for before it is released anyway.
constexpr std::uint32_t END_CHILD_WAIT_MS = 10'000;

std::optional<std::uint64_t> commit_charge(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process, &counters, sizeof counters)) return std::nullopt;
    return counters.PagefileUsage;
}

class Win32Child final : public ChildProcess {
  public:
    explicit Win32Child(Started s) : s_(std::move(s)) {}
    std::uint32_t pid() const override { return s_.pid; }

    ChildPoll wait_for_exit(std::uint32_t ms) override {
        const ULONGLONG start = ::GetTickCount64();
        const DWORD wait = ::WaitForSingleObject(s_.process.get(), ms);
        if (wait == WAIT_TIMEOUT) return ChildRunning{};
        if (wait == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (!::GetExitCodeProcess(s_.process.get(), &code)) return ChildPollFailed{};
            return ChildEnded{code};
        }
        const ULONGLONG spent = ::GetTickCount64() - start;
        if (spent < ms) ::Sleep(static_cast<DWORD>(ms - spent));
        return ChildPollFailed{};
    }

    void terminate_and_wait() override {
        ::TerminateProcess(s_.process.get(), 1);  // fails harmlessly when it has ended already
        ::WaitForSingleObject(s_.process.get(), END_CHILD_WAIT_MS);
    }

  private:
    Started s_;
};

}  // namespace

}  // namespace wd::win32

namespace wd {

std::uint32_t Win32World::current_pid() {
    return ::GetCurrentProcessId();
}

std::optional<Path> Win32World::own_exe_path() {
    return win32::module_path();
}

// Its quoted path as the whole command line, no creation flags, inherited environment, folder
// and standard handles. A bare name is searched for as the tools are; a path not ending in
// ".exe" is tried with ".exe" first. An empty path, or one holding a NUL, is refused as an
// invalid name.
SpawnResult Win32World::spawn_process(const Path& program) {
    using namespace win32;
    if (!win_path(program)) return os_error_text(ERROR_INVALID_NAME);
    Path resolved = program;
    if (!has_folder_part(program)) {
        auto found = find_program(program, program_search_folders());
        if (!found) return std::string("program not found");
        resolved = std::move(*found);
    } else {
        resolved = launched_file(*this, program);
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    const InheritedStdHandles std_handles;
    std_handles.fill(si);
    auto created = create_process(resolved, quote_windows_arg(program, QUOTE_ALWAYS), 0, si);
    if (const DWORD* error = std::get_if<DWORD>(&created)) return os_error_text(*error);
    return std::make_unique<Win32Child>(std::move(std::get<Started>(created)));
}

std::optional<std::uint64_t> Win32World::process_private_bytes(std::uint32_t pid) {
    const win32::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return std::nullopt;
    return win32::commit_charge(process.get());
}

ToolOutput Win32World::run_tool(std::u16string_view name, const std::vector<std::u16string>& args) {
    return win32::run_tool_output(name, args, win32::TOOL_TIMEOUT_MS);
}

}  // namespace wd
