#include "process/windows.h"

#include <algorithm>

namespace wd {

bool window_is_asked(const WindowSeen& window) {
    return window.visible || window.hung;
}

WindowsAnswer windows_answer(const std::vector<WindowSeen>& windows) {
    const auto asked = [](const WindowSeen& w) { return window_is_asked(w); };
    if (std::none_of(windows.begin(), windows.end(), asked)) return WindowsAnswer::NoVisibleWindow;
    const bool any = std::any_of(windows.begin(), windows.end(), [](const WindowSeen& w) {
        return window_is_asked(w) && w.answered;
    });
    return any ? WindowsAnswer::Answered : WindowsAnswer::NoneAnswered;
}

}  // namespace wd
