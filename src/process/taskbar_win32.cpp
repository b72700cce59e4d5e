#include "base/win32_world.h"

#include "base/win32.h"

namespace wd {

// Asks every taskbar window ("Shell_TrayWnd", then each "Shell_SecondaryTrayWnd") to show
// itself. Does nothing when there is no shell; reports nothing.
void Win32World::show_taskbar() {
    for (const wchar_t* window_class : {L"Shell_TrayWnd", L"Shell_SecondaryTrayWnd"}) {
        HWND previous = nullptr;
        while (HWND found = ::FindWindowExW(nullptr, previous, window_class, nullptr)) {
            // Posted to the window's own thread: a hung shell cannot block the watchdog.
            ::ShowWindowAsync(found, SW_SHOW);
            previous = found;
        }
    }
}

}  // namespace wd
