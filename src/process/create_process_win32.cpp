#include "process/create_process_win32.h"

#include "base/text.h"

namespace wd::win32 {

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

InheritedStdHandles::InheritedStdHandles() {
    constexpr std::array<DWORD, 3> ids = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const HANDLE h = ::GetStdHandle(ids[i]);
        HANDLE copy = nullptr;
        if (h != nullptr && h != INVALID_HANDLE_VALUE &&
            ::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE,
                              DUPLICATE_SAME_ACCESS)) {
            handles_[i].reset(copy);
        }
    }
}

void InheritedStdHandles::fill(STARTUPINFOW& si) const {
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdInput = handles_[0].get();
    si.hStdOutput = handles_[1].get();
    si.hStdError = handles_[2].get();
}

std::string os_error_text(std::uint32_t error) {
    wchar_t* message = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    const std::unique_ptr<wchar_t, HLOCAL(WINAPI*)(HLOCAL)> owned(message, ::LocalFree);
    std::string text;
    if (n > 0 && message != nullptr) {
        text = utf16_to_utf8_lossy(from_wide(message, n));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    }
    return text + " (os error " + std::to_string(error) + ")";
}

}  // namespace wd::win32
