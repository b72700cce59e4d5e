// Needs a display and Wine's desktop shell: run through scripts/wine-desktop-run.
#include "base/win32_world.h"

#include <gtest/gtest.h>

#include "win32_launch.h"

namespace wd {
namespace {

using namespace std::chrono_literals;
using fakes::eventually;

TEST(Taskbar, AHiddenTaskbarIsShownAgain) {
    wchar_t flag[8] = L"";
    if (::GetEnvironmentVariableW(L"WATCHDOG_DESKTOP", flag, 8) == 0) {
        GTEST_SKIP() << "needs the desktop runner";
    }
    HWND tray = nullptr;
    ASSERT_TRUE(eventually(
        [&] {
            return (tray = ::FindWindowExW(nullptr, nullptr, L"Shell_TrayWnd", nullptr)) != nullptr;
        },
        30s));
    ::ShowWindow(tray, SW_HIDE);
    ASSERT_TRUE(eventually([&] { return !::IsWindowVisible(tray); }, 5s));
    // One monitor: no secondary taskbar to show.
    EXPECT_EQ(::FindWindowExW(nullptr, nullptr, L"Shell_SecondaryTrayWnd", nullptr), nullptr);

    Win32World().show_taskbar();
    EXPECT_TRUE(eventually([&] { return ::IsWindowVisible(tray) != FALSE; }, 5s));
    Win32World().show_taskbar();  // already visible: asked again, stays visible
    EXPECT_TRUE(eventually([&] { return ::IsWindowVisible(tray) != FALSE; }, 5s));
}

}  // namespace
}  // namespace wd
