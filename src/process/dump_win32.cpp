// Minidumps of another process for Win32World: dbghelp's MiniDumpWriteDump on a thread of its
// own, so that the caller waits only as long as it chooses.
#include <atomic>
#include <memory>

#include "base/system_dll_win32.h"
#include "base/win32.h"
#include "base/win32_world.h"

// After <windows.h>, which base/win32.h brings.
#include <dbghelp.h>

namespace wd::win32 {
namespace {

// dbghelp is single-threaded: set while a worker writes a dump.
std::atomic<bool> dump_running{false};

using WriteDump = decltype(::MiniDumpWriteDump);

// dbghelp is not one of the DLLs Windows always maps from its own folder: it is loaded from the
// system folder at the first dump, so a watchdog with hang dumps off never loads it.
WriteDump* dump_writer() {
    static WriteDump* const write =
        system_function_as<WriteDump>(L"dbghelp.dll", "MiniDumpWriteDump");
    return write;
}

// What the worker owns: it closes the handles and clears the flag when it is done.
struct DumpWork {
    WriteDump* write = nullptr;
    UniqueHandle process;
    UniqueFile file;
    DWORD pid = 0;
};

DWORD WINAPI write_dump(void* param) {
    const std::unique_ptr<DumpWork> work(static_cast<DumpWork*>(param));
    const auto type = static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo |
                                                 MiniDumpWithUnloadedModules);
    DWORD error = ERROR_SUCCESS;
    // Judged by the result: after a success the last error can still hold a stale value.
    if (!work->write(work->process.get(), work->pid, work->file.get(), type, nullptr, nullptr,
                     nullptr)) {
        error = ::GetLastError();
        // It may report a system error wrapped as an HRESULT (0x8007xxxx): unwrapped, the log
        // shows the plain number.
        if ((error & 0xffff0000u) == 0x80070000u) error &= 0xffffu;
        if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
    } else if (!::FlushFileBuffers(work->file.get())) {
        error = ::GetLastError();
    }
    work->file.reset();
    work->process.reset();
    dump_running = false;
    return error;
}

class FailedDump final : public DumpJob {
  public:
    explicit FailedDump(OsError error) : error_(error) {}
    DumpWait wait(std::uint32_t) override { return {DumpStatus::Failed, error_}; }

  private:
    OsError error_;
};

class WorkerDump final : public DumpJob {
  public:
    explicit WorkerDump(UniqueHandle thread) : thread_(std::move(thread)) {}
    DumpWait wait(std::uint32_t ms) override {
        if (result_.status != DumpStatus::Writing) return result_;
        const DWORD wait = ::WaitForSingleObject(thread_.get(), ms);
        if (wait == WAIT_TIMEOUT) return result_;
        DWORD code = ERROR_GEN_FAILURE;
        if (wait != WAIT_OBJECT_0 || !::GetExitCodeThread(thread_.get(), &code)) {
            code = ERROR_GEN_FAILURE;
        }
        result_ = code == ERROR_SUCCESS ? DumpWait{DumpStatus::Written, 0}
                                        : DumpWait{DumpStatus::Failed, code};
        return result_;
    }

  private:
    UniqueHandle thread_;
    DumpWait result_;
};

std::unique_ptr<DumpJob> failed(OsError error) {
    dump_running = false;
    return std::make_unique<FailedDump>(error);
}

}  // namespace
}  // namespace wd::win32

namespace wd {

std::unique_ptr<DumpJob> Win32World::start_dump(std::uint32_t pid, const Path& file) {
    using namespace win32;
    if (dump_running.exchange(true)) return std::make_unique<FailedDump>(ERROR_BUSY);
    const auto wide = win_path(file);
    if (!wide) return failed(ERROR_INVALID_NAME);
    auto work = std::make_unique<DumpWork>();
    work->write = dump_writer();
    if (work->write == nullptr) return failed(ERROR_MOD_NOT_FOUND);
    work->pid = pid;
    work->process =
        UniqueHandle(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!work->process) return failed(::GetLastError());
    // Shared for deletion, so that a dump abandoned while still open can be deleted at once.
    work->file =
        UniqueFile(::CreateFileW(wide->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!work->file) return failed(::GetLastError());
    UniqueHandle thread(::CreateThread(nullptr, 0, write_dump, work.get(), 0, nullptr));
    if (!thread) {
        const OsError error = ::GetLastError();
        work->file.reset();
        ::DeleteFileW(wide->c_str());
        return failed(error);
    }
    static_cast<void>(work.release());  // the worker owns it now
    return std::make_unique<WorkerDump>(std::move(thread));
}

}  // namespace wd
