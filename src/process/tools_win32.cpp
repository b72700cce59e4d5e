#include "process/tools_win32.h"

#include <array>

#include "base/text.h"
#include "base/win32.h"
#include "process/command_line.h"

namespace wd::win32 {
namespace {

constexpr std::uint32_t POLL_SLICE_MS = 5;
constexpr std::uint32_t AFTER_KILL_WAIT_MS = 2'000;

bool is_file(const Path& path) {
    const auto wide = win_path(path);
    if (!wide) return false;
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool has_folder(std::u16string_view name) {
    return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

bool ends_with_exe(std::u16string_view path) {
    if (path.size() < 4) return false;
    return equals_ascii_nocase(utf16_to_utf8_lossy(path.substr(path.size() - 4)), ".exe");
}

std::optional<Path> folder_from(UINT (*get)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH + 1];
    const UINT n = get(buffer, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return std::nullopt;
    return from_wide(buffer, n);
}

UINT WINAPI system_directory(LPWSTR b, UINT n) {
    return ::GetSystemDirectoryW(b, n);
}
UINT WINAPI windows_directory(LPWSTR b, UINT n) {
    return ::GetWindowsDirectoryW(b, n);
}

// Inheritable copies of the watchdog's standard handles for a child, closed afterwards.
class InheritedStdHandles {
  public:
    InheritedStdHandles() {
        const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        for (int i = 0; i < 3; ++i) {
            const HANDLE h = ::GetStdHandle(ids[i]);
            HANDLE copy = nullptr;
            if (h != nullptr && h != INVALID_HANDLE_VALUE &&
                ::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                                  DUPLICATE_SAME_ACCESS)) {
                handles_[i].reset(copy);
            }
        }
    }
    void fill(STARTUPINFOW& si) const {
        si.dwFlags |= STARTF_USESTDHANDLES;
        si.hStdInput = handles_[0].get();
        si.hStdOutput = handles_[1].get();
        si.hStdError = handles_[2].get();
    }

  private:
    std::array<UniqueHandle, 3> handles_;
};

struct Started {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD pid = 0;
};

// CreateProcessW with the handles owned on the line after; the error when it fails.
std::variant<Started, DWORD> create_process(const Path& program, const std::u16string& command_line,
                                            DWORD flags, STARTUPINFOW& si) {
    const auto app = win_path(program);
    if (!app || command_line.find(u'\0') != std::u16string::npos) return DWORD{ERROR_INVALID_NAME};
    std::wstring cmd = to_wide(command_line);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(app->c_str(), cmd.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &si, &pi)) {
        return ::GetLastError();
    }
    return Started{UniqueHandle(pi.hProcess), UniqueHandle(pi.hThread), pi.dwProcessId};
}

std::u16string tool_command_line(std::u16string_view name,
                                 const std::vector<std::u16string>& args) {
    std::vector<std::u16string> all{std::u16string(name)};
    all.insert(all.end(), args.begin(), args.end());
    return join_windows_args(all);
}

enum class Drained { Open, Ended, Failed };

// Moves what the pipe holds now into `out` (or drops it when `out` is null). Ended once the
// writer has gone and it is empty; Failed on any other error, or when `out` would grow past
// MAX_TOOL_OUTPUT_BYTES.
Drained drain(HANDLE pipe, std::string* out) {
    const auto failure = [] {
        return ::GetLastError() == ERROR_BROKEN_PIPE ? Drained::Ended : Drained::Failed;
    };
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return failure();
    while (available > 0) {
        char buffer[4096];
        DWORD got = 0;
        const DWORD want = available < sizeof buffer ? available : sizeof buffer;
        if (!::ReadFile(pipe, buffer, want, &got, nullptr)) return failure();
        if (got == 0) return Drained::Ended;
        if (out) {
            if (out->size() + got > MAX_TOOL_OUTPUT_BYTES) return Drained::Failed;
            out->append(buffer, got);
        }
        available -= got;
    }
    return Drained::Open;
}

void kill_and_reap(HANDLE process) {
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, AFTER_KILL_WAIT_MS);
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

    void terminate_and_wait() override {
        ::TerminateProcess(s_.process.get(), 1);  // fails harmlessly when it has ended already
        ::WaitForSingleObject(s_.process.get(), END_CHILD_WAIT_MS);
    }

  private:
    Started s_;
};

}  // namespace

std::vector<Path> program_search_folders() {
    std::vector<Path> folders;
    if (const auto module = module_path()) {
        if (auto own = parent_folder(*module)) folders.push_back(std::move(*own));
    }
    if (auto system = folder_from(system_directory)) folders.push_back(std::move(*system));
    if (auto windows = folder_from(windows_directory)) folders.push_back(std::move(*windows));
    std::vector<wchar_t> path(32768);
    const DWORD len =
        ::GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size()));
    if (len > 0 && len < path.size()) {
        const Path all = from_wide(path.data(), len);
        std::size_t start = 0;
        while (start <= all.size()) {
            std::size_t end = all.find(u';', start);
            if (end == Path::npos) end = all.size();
            if (end > start) folders.push_back(all.substr(start, end - start));
            start = end + 1;
        }
    }
    return folders;
}

std::optional<Path> find_program(std::u16string_view name, const std::vector<Path>& folders) {
    Path file(name);
    if (file.find(u'.') == Path::npos) file += u".exe";
    for (const auto& folder : folders) {
        Path candidate = join(folder, file);
        if (is_file(candidate)) return candidate;
    }
    return std::nullopt;
}

std::string os_error_text(std::uint32_t error) {
    wchar_t* message = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    std::string text;
    if (n > 0 && message != nullptr) {
        text = utf16_to_utf8_lossy(from_wide(message, n));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    }
    if (message != nullptr) ::LocalFree(message);
    return text + " (os error " + std::to_string(error) + ")";
}

std::optional<std::string> run_tool_output(std::u16string_view name,
                                           const std::vector<std::u16string>& args,
                                           std::uint32_t timeout_ms) {
    const auto program = find_program(name, program_search_folders());
    if (!program) return std::nullopt;

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE raw_out_r = nullptr, raw_out_w = nullptr, raw_err_r = nullptr, raw_err_w = nullptr;
    if (!::CreatePipe(&raw_out_r, &raw_out_w, &inherit, 0)) return std::nullopt;
    UniqueHandle out_r(raw_out_r), out_w(raw_out_w);
    if (!::CreatePipe(&raw_err_r, &raw_err_w, &inherit, 0)) return std::nullopt;
    UniqueHandle err_r(raw_err_r), err_w(raw_err_w);
    // Only the tool gets the write ends.
    ::SetHandleInformation(out_r.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(err_r.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueFile null_in(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = null_in.get();
    si.hStdOutput = out_w.get();
    si.hStdError = err_w.get();
    auto created = create_process(*program, tool_command_line(name, args), CREATE_NO_WINDOW, si);
    out_w.reset();  // our copies of the write ends, so the pipes end when the tool does
    err_w.reset();
    auto* started = std::get_if<Started>(&created);
    if (!started) return std::nullopt;

    std::string output;
    Drained out = Drained::Open;
    Drained err = Drained::Open;
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (out == Drained::Open) out = drain(out_r.get(), &output);
        if (err == Drained::Open) err = drain(err_r.get(), nullptr);  // read, never inspected
        const bool exited = ::WaitForSingleObject(started->process.get(), 0) == WAIT_OBJECT_0;
        if (out == Drained::Failed || err == Drained::Failed) {
            kill_and_reap(started->process.get());
            return std::nullopt;
        }
        if (exited && out == Drained::Ended && err == Drained::Ended) return output;
        if (::GetTickCount64() >= deadline) {
            kill_and_reap(started->process.get());
            return std::nullopt;
        }
        ::WaitForSingleObject(started->process.get(), exited ? 0 : POLL_SLICE_MS);
        if (exited) ::Sleep(POLL_SLICE_MS);  // a grandchild may still hold a pipe open
    }
}

std::optional<std::uint32_t> run_tool_status(std::u16string_view name,
                                             const std::vector<std::u16string>& args,
                                             std::uint32_t timeout_ms) {
    const auto program = find_program(name, program_search_folders());
    if (!program) return std::nullopt;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    const InheritedStdHandles std_handles;
    std_handles.fill(si);
    auto created = create_process(*program, tool_command_line(name, args), CREATE_NO_WINDOW, si);
    auto* started = std::get_if<Started>(&created);
    if (!started) return std::nullopt;
    if (::WaitForSingleObject(started->process.get(), timeout_ms) != WAIT_OBJECT_0) {
        kill_and_reap(started->process.get());
        return std::nullopt;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(started->process.get(), &code)) return std::nullopt;
    return code;
}

SpawnResult spawn_process(const Path& program) {
    if (!win_path(program)) return os_error_text(ERROR_INVALID_NAME);  // empty, or holds a NUL
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
    auto created = create_process(resolved, u"\"" + program + u"\"", 0, si);
    if (const DWORD* error = std::get_if<DWORD>(&created)) return os_error_text(*error);
    return std::make_unique<Win32Child>(std::move(std::get<Started>(created)));
}

}  // namespace wd::win32
