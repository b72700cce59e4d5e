// Needs a display: run through scripts/wine-desktop-run.
#include "base/win32_world.h"

#include <gtest/gtest.h>

#include "win32_launch.h"

namespace wd {
namespace {

using namespace std::chrono_literals;
using fakes::eventually;
using fakes::Launched;
using fakes::own_folder;

// The test player with its window knobs, writing no records.
Launched start_player(const wchar_t* window, const wchar_t* freeze_after_ms) {
    ::SetEnvironmentVariableW(L"TEST_PLAYER_NO_RECORDS", L"1");
    ::SetEnvironmentVariableW(L"TEST_PLAYER_WINDOW", window);
    ::SetEnvironmentVariableW(L"TEST_PLAYER_FREEZE_WINDOW_AFTER_MS", freeze_after_ms);
    const std::wstring exe = own_folder() + L"\\test-player.exe";
    return Launched(exe, L"\"" + exe + L"\"");
}

// A window that takes its messages answers; once its thread stops taking them, none answers;
// a process without a window, or no process, has no visible window to ask.
TEST(WindowProbe, AWindowThatStopsTakingItsMessagesNoLongerAnswers) {
    wchar_t flag[8] = L"";
    if (::GetEnvironmentVariableW(L"WATCHDOG_DESKTOP", flag, 8) == 0) {
        GTEST_SKIP() << "needs the desktop runner";
    }
    Win32World world;
    Launched frozen = start_player(L"1", L"4000");
    Launched windowless = start_player(nullptr, nullptr);
    ASSERT_TRUE(frozen.started() && windowless.started());
    EXPECT_TRUE(eventually([&] { return world.ask_windows(frozen.pid()) == WindowsAnswer::Answered; },
                           30s));
    EXPECT_TRUE(eventually(
        [&] { return world.ask_windows(frozen.pid()) == WindowsAnswer::NoneAnswered; }, 60s));
    EXPECT_EQ(world.ask_windows(windowless.pid()), WindowsAnswer::NoVisibleWindow);
    EXPECT_EQ(world.ask_windows(0x7ffffffc), WindowsAnswer::NoVisibleWindow);
    for (const wchar_t* knob : {L"TEST_PLAYER_NO_RECORDS", L"TEST_PLAYER_WINDOW",
                                L"TEST_PLAYER_FREEZE_WINDOW_AFTER_MS"}) {
        ::SetEnvironmentVariableW(knob, nullptr);
    }
}

}  // namespace
}  // namespace wd
