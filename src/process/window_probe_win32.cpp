// Whether a process's windows respond, for Win32World: a WM_NULL to each of its top-level
// windows that the check asks (the visible ones, and hidden ones Windows reports hung) with
// SendMessageTimeoutW, which gives up at once on a window that Windows already marks as not
// responding (its thread has not taken its messages for about 5 s).
#include <algorithm>
#include <vector>

#include "base/win32.h"
#include "base/win32_world.h"
#include "process/windows.h"

namespace wd {
namespace {

// All the windows of one process are asked within this, however many it has.
constexpr ULONGLONG WINDOWS_PROBE_BOUND_MS = 1000;

struct ProcessWindows {
    DWORD pid = 0;
    std::vector<HWND> handles;
    std::vector<WindowSeen> seen;
};

BOOL CALLBACK collect(HWND window, LPARAM param) {
    // EnumWindows hands back, as an LPARAM, the pointer it was given.
    auto* found = reinterpret_cast<ProcessWindows*>(param);  // NOLINT(performance-no-int-to-ptr)
    DWORD owner = 0;
    if (::GetWindowThreadProcessId(window, &owner) == 0 || owner != found->pid) return TRUE;
    // The first window a process owns may be a hidden one: each is judged on its own.
    const bool visible = ::IsWindowVisible(window) != FALSE;
    const WindowSeen seen{visible, !visible && ::IsHungAppWindow(window) != FALSE, false};
    if (window_is_asked(seen)) {
        found->handles.push_back(window);
        found->seen.push_back(seen);
    }
    return TRUE;
}

}  // namespace

WindowsAnswer Win32World::ask_windows(std::uint32_t pid) {
    ProcessWindows found{pid, {}, {}};
    ::EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
    const ULONGLONG deadline = ::GetTickCount64() + WINDOWS_PROBE_BOUND_MS;
    const std::size_t count = found.handles.size();
    for (std::size_t i = 0; i < count; ++i) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) break;
        // What is left of the bound, shared among the windows not yet asked.
        const auto share =
            static_cast<UINT>(std::max<ULONGLONG>(1, (deadline - now) / (count - i)));
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(found.handles[i], WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                  share, &result) != 0) {
            found.seen[i].answered = true;
            break;
        }
        // A window closed since the listing was never there to answer.
        if (!::IsWindow(found.handles[i])) found.seen[i] = {};
    }
    return windows_answer(found.seen);
}

}  // namespace wd
