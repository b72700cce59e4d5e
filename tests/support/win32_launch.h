// Starts a program under test inside a kill-on-close job object, so that it and every
// process it starts end with the test, whatever the test's outcome.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "base/win32.h"

namespace wd::fakes {

// The folder of the running test program, where the programs under test are built.
inline std::wstring own_folder() {
    const Path folder = parent_folder(win32::module_path().value_or(Path())).value_or(Path());
    return std::wstring(folder.begin(), folder.end());
}

class Launched {
  public:
    // `command_line` is passed as is; standard error goes to `stderr_path` and standard
    // output to `stdout_path` when they are not empty.
    Launched(const std::wstring& exe, const std::wstring& command_line,
             const std::wstring& stderr_path = L"", const std::wstring& stdout_path = L"") {
        // Without a kill-on-close job the program could outlive the test: then it is not run.
        job_.reset(::CreateJobObjectW(nullptr, nullptr));
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!job_ || !::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation,
                                                &limits, sizeof limits)) {
            return;
        }
        STARTUPINFOW si{};
        si.cb = sizeof si;
        const auto open = [](const std::wstring& path) {
            SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
            return win32::UniqueFile(::CreateFileW(
                path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        win32::UniqueFile err;
        win32::UniqueFile out;
        if (!stderr_path.empty()) err = open(stderr_path);
        if (!stdout_path.empty()) out = open(stdout_path);
        const bool redirected = err || out;
        if (redirected) {
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdError = err.get();
            si.hStdOutput = out.get();
        }
        std::wstring cmd = command_line;
        PROCESS_INFORMATION pi{};
        if (::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, redirected ? TRUE : FALSE,
                             CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
            win32::UniqueHandle process(pi.hProcess);
            win32::UniqueHandle thread(pi.hThread);
            if (!::AssignProcessToJobObject(job_.get(), process.get())) {
                ::TerminateProcess(process.get(), 1);  // still suspended: it never ran
                return;
            }
            ::ResumeThread(thread.get());
            process_ = std::move(process);
            pid_ = pi.dwProcessId;
        }
    }

    bool started() const { return static_cast<bool>(process_); }
    DWORD pid() const { return pid_; }

    // The exit code once the process has ended within `timeout`, otherwise none.
    std::optional<DWORD> wait(std::chrono::milliseconds timeout) {
        if (::WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) !=
            WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

    // Ends the process and everything it started.
    void end() {
        if (!process_) return;
        ::TerminateJobObject(job_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }

    ~Launched() { end(); }

  private:
    win32::UniqueHandle job_;
    win32::UniqueHandle process_;
    DWORD pid_ = 0;
};

// Polls `done` every 50 ms until it holds or `timeout` passes.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

}  // namespace wd::fakes
