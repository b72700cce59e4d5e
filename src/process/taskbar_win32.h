#pragma once

namespace wd::win32 {

// Asks every taskbar window ("Shell_TrayWnd", then each "Shell_SecondaryTrayWnd") to show
// itself. Does nothing when there is no shell; reports nothing.
void show_taskbar();

}  // namespace wd::win32
