#include "process/child_win32.h"

#include "base/text.h"
#include "process/command_line.h"
#include "process/create_process_win32.h"
#include "process/program_search_win32.h"

namespace wd::win32 {
namespace {

bool has_folder(std::u16string_view name) {
    return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

bool ends_with_exe(std::u16string_view path) {
    if (path.size() < 4) return false;
    return equals_ascii_nocase(utf16_to_utf8_lossy(path.substr(path.size() - 4)), ".exe");
}

class Win32Child final : public ChildProcess {
  public:
    explicit Win32Child(Started s) : s_(std::move(s)) {}
    std::uint32_t pid() const override { return s_.pid; }

    ChildPoll poll() override {
        const DWORD wait = ::WaitForSingleObject(s_.process.get(), 0);
        if (wait == WAIT_TIMEOUT) return ChildRunning{};
        if (wait != WAIT_OBJECT_0) return ChildPollFailed{};
        DWORD code = 0;
        if (!::GetExitCodeProcess(s_.process.get(), &code)) return ChildPollFailed{};
        return ChildEnded{code};
    }

    ChildWait wait_for_exit(std::uint32_t ms) override {
        const ULONGLONG start = ::GetTickCount64();
        const DWORD wait = ::WaitForSingleObject(s_.process.get(), ms);
        if (wait == WAIT_OBJECT_0) return ChildWait::Ended;
        if (wait == WAIT_TIMEOUT) return ChildWait::TimedOut;
        const ULONGLONG spent = ::GetTickCount64() - start;
        if (spent < ms) ::Sleep(static_cast<DWORD>(ms - spent));
        return ChildWait::Failed;
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

// Its quoted path as the whole command line, no creation flags, inherited environment, folder
// and standard handles. A bare name is searched for as the tools are; a path not ending in
// ".exe" is tried with ".exe" first. An empty path, or one holding a NUL, is refused as an
// invalid name.
SpawnResult Win32World::spawn_process(const Path& program) {
    using namespace win32;
    if (!win_path(program)) return os_error_text(ERROR_INVALID_NAME);
    Path resolved = program;
    if (!has_folder(program)) {
        auto found = find_program(program, program_search_folders());
        if (!found) return std::string("program not found");
        resolved = std::move(*found);
    } else if (!ends_with_exe(program) && is_file(program + u".exe")) {
        resolved = program + u".exe";
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    const InheritedStdHandles std_handles;
    std_handles.fill(si);
    auto created = create_process(resolved, quote_windows_arg(program, QUOTE_ALWAYS), 0, si);
    if (const DWORD* error = std::get_if<DWORD>(&created)) return os_error_text(*error);
    return std::make_unique<Win32Child>(std::move(std::get<Started>(created)));
}

}  // namespace wd
