// The real watchdog.exe under Wine, writing into this prefix's roaming folder.
#include <gtest/gtest.h>

#include <regex>

#include "state/known_folder_win32.h"
#include "win32_launch.h"
#include "win32_test_dir.h"

namespace wd {
namespace {

using namespace std::chrono_literals;
using testing::eventually;
using testing::get_file;
using testing::Launched;
using testing::own_folder;
using testing::put_file;

class WatchdogExe : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto roaming = win32::roaming_app_data();
        ASSERT_TRUE(roaming);
        roaming_ = std::wstring(roaming->begin(), roaming->end());
        app_ = roaming_ + L"\\com.vellumbeacon.player";
        watchdog_ = app_ + L"\\watchdog";
        testing::remove_tree(app_);
        stderr_path_ = own_folder() + L"\\watchdog-exe-test.stderr";
        // The watchdog launches at once: give it a quiet test player.
        const std::wstring player = own_folder() + L"\\test-player.exe";
        ::SetEnvironmentVariableW(L"VELLUMBEACON_WATCHDOG_PLAYER_EXE", player.c_str());
        ::SetEnvironmentVariableW(L"TEST_PLAYER_NO_RECORDS", L"1");
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"VELLUMBEACON_WATCHDOG_PLAYER_EXE", nullptr);
        ::SetEnvironmentVariableW(L"TEST_PLAYER_NO_RECORDS", nullptr);
        testing::remove_tree(app_);
        ::DeleteFileW(stderr_path_.c_str());
    }

    Launched start(const std::wstring& arguments = L"") {
        const std::wstring exe = own_folder() + L"\\watchdog.exe";
        return Launched(exe, L"\"" + exe + L"\"" + arguments, stderr_path_);
    }

    std::string log() { return get_file(watchdog_ + L"\\watchdog.log").value_or(""); }

    std::wstring roaming_, app_, watchdog_, stderr_path_;
};

// The start line and then the first tick's launch of the test player.
const std::regex START_AND_LAUNCH(R"(\[\d{13}\] vellumbeacon-watchdog started\n)"
                                  R"(\[\d{13}\] spawned player pid=\d+ \(.*test-player\.exe\)\n)");

TEST_F(WatchdogExe, WritesItsStartLineToTheLogAndToStandardError) {
    Launched watchdog = start(L" --ignored \"and this\" /too");
    ASSERT_TRUE(watchdog.started());
    ASSERT_TRUE(eventually([&] { return log().find("spawned") != std::string::npos; }, 20s))
        << "log: " << log();
    EXPECT_FALSE(watchdog.wait(0ms)) << "the watchdog does not end by itself";
    watchdog.end();

    const std::string written = log();
    EXPECT_TRUE(std::regex_match(written, START_AND_LAUNCH)) << written;
    EXPECT_EQ(get_file(stderr_path_), written);
    EXPECT_EQ(::GetFileAttributesW((app_ + L"\\updates").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(WatchdogExe, TrimsAnOversizedLogBeforeItsFirstLine) {
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(watchdog_.c_str(), nullptr));
    std::string old;
    for (int i = 0; old.size() < 300 * 1024; ++i)
        old += "[1700000000000] old line " + std::to_string(i) + "\n";
    ASSERT_TRUE(put_file(watchdog_ + L"\\watchdog.log", old));

    // Opening the log while the watchdog renames over it would make that rename fail under
    // Wine, so wait for the size to change (a query that opens no handle) before reading.
    const auto size_changed = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return ::GetFileAttributesExW((watchdog_ + L"\\watchdog.log").c_str(),
                                      GetFileExInfoStandard, &data) &&
               data.nFileSizeLow != old.size();
    };
    Launched watchdog = start();
    ASSERT_TRUE(eventually(size_changed, 20s));
    ASSERT_TRUE(eventually([&] { return log().find("spawned") != std::string::npos; }, 20s));
    watchdog.end();

    const std::size_t cut = old.find('\n', old.size() / 2) + 1;
    const std::string written = log();
    ASSERT_GT(written.size(), old.size() - cut);
    EXPECT_TRUE(written.substr(0, old.size() - cut) == old.substr(cut));
    EXPECT_TRUE(std::regex_match(written.substr(old.size() - cut), START_AND_LAUNCH));
}

TEST_F(WatchdogExe, ASecondWatchdogLogsOneLineExitsWithZeroAndLeavesTheLockAlone) {
    Launched first = start();
    ASSERT_TRUE(eventually([&] { return log().find("spawned") != std::string::npos; }, 20s));
    const auto lock = get_file(watchdog_ + L"\\watchdog.lock");
    EXPECT_EQ(lock, std::to_string(first.pid()));

    Launched second = start();
    EXPECT_EQ(second.wait(30s), 0u);
    EXPECT_FALSE(first.wait(0ms)) << "the first watchdog keeps running";
    const std::string rival =
        "] another watchdog is live (pid=" + std::to_string(first.pid()) + "); exiting\n";
    const std::string written = log();
    EXPECT_NE(written.find(rival), std::string::npos) << written;
    EXPECT_EQ(written.find(rival), written.rfind(rival)) << "exactly one rival line";
    EXPECT_EQ(written.find("started"), written.rfind("started")) << "one start line";
    EXPECT_EQ(get_file(watchdog_ + L"\\watchdog.lock"), lock);
}

TEST_F(WatchdogExe, AStaleLockIsTakenOver) {
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(watchdog_.c_str(), nullptr));
    ASSERT_TRUE(put_file(watchdog_ + L"\\watchdog.lock", " 4000000000\r\n"));
    Launched watchdog = start();
    ASSERT_TRUE(eventually([&] { return log().find("started") != std::string::npos; }, 20s));
    EXPECT_EQ(get_file(watchdog_ + L"\\watchdog.lock"), std::to_string(watchdog.pid()));
}

}  // namespace
}  // namespace wd
