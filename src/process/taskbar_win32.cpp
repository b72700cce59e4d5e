#include "process/taskbar_win32.h"

#include "base/win32.h"

namespace wd::win32 {

void show_taskbar() {
    for (const wchar_t* window_class : {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"}) {
        HWND previous = nullptr;
        while (HWND found = ::FindWindowExW(nullptr, previous, window_class, nullptr)) {
            // Posted to the window's own thread: a hung shell cannot block the watchdog.
            ::ShowWindowAsync(found, SW_SHOW);
            previous = found;
        }
    }
}

}  // namespace wd::win32
