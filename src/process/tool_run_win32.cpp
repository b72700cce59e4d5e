#include "process/tool_run_win32.h"

#include <atomic>
#include <memory>

#include "base/win32.h"
#include "process/command_line.h"
#include "process/create_process_win32.h"
#include "process/program_search_win32.h"

namespace wd::win32 {
namespace {

constexpr DWORD AFTER_KILL_WAIT_MS = 2'000;
constexpr DWORD PIPE_BUFFER_BYTES = 1u << 16;

std::atomic<std::uint64_t> pipe_sequence{0};

// A pipe the tool writes into. Anonymous pipes cannot be read with overlapped calls, so this
// is a named pipe of our own: its read end overlapped (waiting on it costs nothing), its write
// end inheritable, for the tool alone.
struct Pipe {
    UniqueFile read;
    UniqueFile write;
};

std::optional<Pipe> make_pipe() {
    const std::wstring name = L"\\\\.\\pipe\\vellumbeacon-watchdog-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(pipe_sequence.fetch_add(1));
    Pipe pipe;
    pipe.read.reset(::CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, PIPE_BUFFER_BYTES, 0, nullptr));
    if (!pipe.read) return std::nullopt;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    pipe.write.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!pipe.write) return std::nullopt;
    return pipe;
}

enum class Drained { Open, Ended, Failed };

// Reads one pipe with overlapped calls into `sink` (or drops what it reads when `sink` is
// null). The event is signalled whenever a read completes; pump() then takes what arrived and
// starts the next read. A read still pending is cancelled and awaited on destruction, so that
// the system never writes into a buffer that is gone.
class PipeReader {
  public:
    PipeReader(HANDLE pipe, std::string* sink)
        : pipe_(pipe), sink_(sink), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    PipeReader(const PipeReader&) = delete;
    PipeReader& operator=(const PipeReader&) = delete;
    ~PipeReader() {
        if (!pending_) return;
        ::CancelIoEx(pipe_, &overlapped_);
        DWORD got = 0;
        ::GetOverlappedResult(pipe_, &overlapped_, &got, TRUE);
    }

    HANDLE event() const { return event_.get(); }

    // Takes every read that has completed and leaves one pending: Open while the pipe may
    // bring more; Ended once the writer has gone; Failed on any other error or past the cap.
    Drained pump() {
        if (!event_) return Drained::Failed;
        for (;;) {
            if (pending_) {
                DWORD got = 0;
                if (!::GetOverlappedResult(pipe_, &overlapped_, &got, FALSE)) {
                    const DWORD error = ::GetLastError();
                    if (error == ERROR_IO_INCOMPLETE) return Drained::Open;
                    pending_ = false;
                    return error == ERROR_BROKEN_PIPE ? Drained::Ended : Drained::Failed;
                }
                pending_ = false;
                if (sink_) {
                    if (sink_->size() + got > MAX_TOOL_OUTPUT_BYTES) return Drained::Failed;
                    sink_->append(buffer_.get(), got);
                }
            }
            ::ResetEvent(event_.get());
            overlapped_ = OVERLAPPED{};
            overlapped_.hEvent = event_.get();
            // Done at once or not, the outcome is taken from GetOverlappedResult above.
            if (::ReadFile(pipe_, buffer_.get(), PIPE_BUFFER_BYTES, nullptr, &overlapped_) ||
                ::GetLastError() == ERROR_IO_PENDING) {
                pending_ = true;
                continue;
            }
            return ::GetLastError() == ERROR_BROKEN_PIPE ? Drained::Ended : Drained::Failed;
        }
    }

  private:
    HANDLE pipe_;
    std::string* sink_;
    UniqueHandle event_;
    OVERLAPPED overlapped_{};
    std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(PIPE_BUFFER_BYTES);
    bool pending_ = false;
};

std::u16string tool_command_line(std::u16string_view name,
                                 const std::vector<std::u16string>& args) {
    std::vector<std::u16string> all{std::u16string(name)};
    all.insert(all.end(), args.begin(), args.end());
    return join_windows_args(all);
}

void kill_and_reap(HANDLE process) {
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, AFTER_KILL_WAIT_MS);
}

DWORD left_until(ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Reads both pipes until each has ended, waiting on their events (no CPU while the tool is
// silent): standard output into `output`, standard error read and dropped so that the tool
// never blocks on it. False when a read failed, the output passed the cap or the deadline came.
bool drain(HANDLE out, HANDLE err, std::string& output, ULONGLONG deadline) {
    PipeReader out_reader(out, &output);
    PipeReader err_reader(err, nullptr);
    Drained out_state = out_reader.pump();
    Drained err_state = err_reader.pump();
    while (out_state == Drained::Open || err_state == Drained::Open) {
        if (out_state == Drained::Failed || err_state == Drained::Failed) return false;
        HANDLE events[2];
        DWORD count = 0;
        if (out_state == Drained::Open) events[count++] = out_reader.event();
        if (err_state == Drained::Open) events[count++] = err_reader.event();
        const DWORD woke = ::WaitForMultipleObjects(count, events, FALSE, left_until(deadline));
        if (woke >= WAIT_OBJECT_0 + count) return false;  // timed out, or the wait failed
        if (events[woke - WAIT_OBJECT_0] == out_reader.event()) {
            out_state = out_reader.pump();
        } else {
            err_state = err_reader.pump();
        }
    }
    return out_state == Drained::Ended && err_state == Drained::Ended;
}

}  // namespace

ToolOutput run_tool_output(std::u16string_view name, const std::vector<std::u16string>& args,
                           std::uint32_t timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    const auto program = find_program(name, tool_search_folders());
    if (!program) return {ToolRun::NotStarted, {}, 0};
    auto out = make_pipe();
    auto err = make_pipe();
    if (!out || !err) return {ToolRun::NotStarted, {}, 0};
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueFile null_in(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = null_in.get();
    si.hStdOutput = out->write.get();
    si.hStdError = err->write.get();
    auto created = create_process(*program, tool_command_line(name, args), CREATE_NO_WINDOW, si);
    out->write.reset();  // our copies of the write ends, so the pipes end when the tool does
    err->write.reset();
    auto* started = std::get_if<Started>(&created);
    if (!started) return {ToolRun::NotStarted, {}, 0};

    ToolOutput run{ToolRun::Ended, {}, 0};
    const bool read_all = drain(out->read.get(), err->read.get(), run.output, deadline);
    if (!read_all && ::GetTickCount64() < deadline) {
        kill_and_reap(started->process.get());
        return {ToolRun::Unreadable, {}, 0};
    }
    if (!read_all ||
        ::WaitForSingleObject(started->process.get(), left_until(deadline)) != WAIT_OBJECT_0) {
        kill_and_reap(started->process.get());
        return {ToolRun::TimedOut, {}, 0};
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(started->process.get(), &code)) return {ToolRun::Unreadable, {}, 0};
    run.status = code;
    return run;
}

}  // namespace wd::win32
