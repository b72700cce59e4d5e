// desktop-holder.exe: for the desktop test runner under Wine only, never shipped.
//
// Wine closes a desktop one second after its last program leaves, and its shell (explorer,
// which owns the taskbar window) goes with it; the next program to touch the desktop starts
// a new explorer and waits at most 10 s for it, then makes the desktop window itself. On a
// starved machine explorer can take longer: it then finds the desktop taken and never makes a
// taskbar. This program takes the desktop, waits until explorer owns it and its taskbar
// window exists, says "ready" on standard output, and stays until it is ended, so that the
// desktop and its taskbar outlive every test program that comes and goes.
//
// Status 2: explorer lost the race (the desktop window is not its own), or no taskbar came
// within the bound; the runner starts Wine afresh and tries again.
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/win32.h"

namespace {

using namespace std::chrono_literals;

// Once explorer owns the desktop its taskbar follows at once; the bound is for a starved one.
constexpr auto TASKBAR_BOUND = 120s;

}  // namespace

int wmain() {
    const HWND desktop = ::GetDesktopWindow();
    DWORD owner = 0;
    ::GetWindowThreadProcessId(desktop, &owner);
    // A desktop window that Wine made when explorer was too late belongs to no process.
    if (owner == 0 || owner == ::GetCurrentProcessId()) {
        std::fputs("desktop-holder: the desktop window is not explorer's\n", stderr);
        return 2;
    }
    const auto until = std::chrono::steady_clock::now() + TASKBAR_BOUND;
    while (::FindWindowExW(nullptr, nullptr, L"Shell_TrayWnd", nullptr) == nullptr) {
        if (std::chrono::steady_clock::now() > until) {
            std::fputs("desktop-holder: no taskbar window\n", stderr);
            return 2;
        }
        std::this_thread::sleep_for(100ms);
    }
    std::puts("ready");
    std::fflush(stdout);
    for (;;) ::Sleep(INFINITE);
}
