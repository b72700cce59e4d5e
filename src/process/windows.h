// Which of a process's top-level windows the windows check asks, and what they say together.
// Portable: the Win32 adapter finds the windows and asks them; these rules judge.
#pragma once

#include <vector>

#include "base/world.h"

namespace wd {

// One top-level window of a process, as the windows check finds and asks it.
struct WindowSeen {
    bool visible = false;
    bool hung = false;      // Windows reports it not responding (IsHungAppWindow)
    bool answered = false;  // it answered the check's message
};

// Every visible window is asked, and so is a hidden one that Windows reports hung: Windows
// hides a window that has not taken its messages for about 5 s and shows a ghost of its own
// (which belongs to another process) in its place, so a frozen screen has no visible window
// of the player's.
bool window_is_asked(const WindowSeen& window);

// NoVisibleWindow when no window is asked; Answered when one that is asked answered;
// NoneAnswered otherwise.
WindowsAnswer windows_answer(const std::vector<WindowSeen>& windows);

}  // namespace wd
