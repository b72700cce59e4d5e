// Whether a process's windows respond, for Win32World: a WM_NULL to each of its visible
// top-level windows with SendMessageTimeoutW, which gives up at once on a window that Windows
// already marks as not responding (its thread has not taken its messages for about 5 s).
#include <algorithm>
#include <vector>

#include "base/win32.h"
#include "base/win32_world.h"

namespace wd {
namespace {

// All the windows of one process are asked within this, however many it has.
constexpr ULONGLONG WINDOWS_PROBE_BOUND_MS = 1000;

struct ProcessWindows {
    DWORD pid = 0;
    std::vector<HWND> visible;
};

BOOL CALLBACK collect_visible(HWND window, LPARAM param) {
    // EnumWindows hands back, as an LPARAM, the pointer it was given.
    auto* found = reinterpret_cast<ProcessWindows*>(param);  // NOLINT(performance-no-int-to-ptr)
    DWORD owner = 0;
    // The first window a process owns may be a hidden one: visibility is asked of each.
    if (::GetWindowThreadProcessId(window, &owner) != 0 && owner == found->pid &&
        ::IsWindowVisible(window)) {
        found->visible.push_back(window);
    }
    return TRUE;
}

}  // namespace

WindowsAnswer Win32World::ask_windows(std::uint32_t pid) {
    ProcessWindows found{pid, {}};
    ::EnumWindows(collect_visible, reinterpret_cast<LPARAM>(&found));
    const ULONGLONG deadline = ::GetTickCount64() + WINDOWS_PROBE_BOUND_MS;
    bool asked = false;
    for (std::size_t i = 0; i < found.visible.size(); ++i) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) break;
        // What is left of the bound, shared among the windows not yet asked.
        const auto share = static_cast<UINT>(
            std::max<ULONGLONG>(1, (deadline - now) / (found.visible.size() - i)));
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(found.visible[i], WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                  share, &result) != 0) {
            return WindowsAnswer::Answered;
        }
        // A window closed since the listing was never there to answer.
        if (::IsWindow(found.visible[i])) asked = true;
    }
    return asked ? WindowsAnswer::NoneAnswered : WindowsAnswer::NoVisibleWindow;
}

}  // namespace wd
