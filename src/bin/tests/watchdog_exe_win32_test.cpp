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

const wchar_t* const SETTINGS[] = {
    L"VELLUMBEACON_WATCHDOG_PLAYER_EXE",
    L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS",
    L"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS",
    L"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS",
    L"TEST_PLAYER_NO_RECORDS",
    L"TEST_PLAYER_CRASH_AFTER_MS",
    L"TEST_PLAYER_EXIT_AFTER_MS",
    L"TEST_PLAYER_TRACE",
};

// Lines of `text` that contain `part`.
std::vector<std::string> lines_with(const std::string& text, const std::string& part) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        if (line.find(part) != std::string::npos) out.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

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
        for (const wchar_t* name : SETTINGS) ::SetEnvironmentVariableW(name, nullptr);
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

// Short settings, a player that crashes 3.5 s after each start (past the startup grace, so
// no back-off): every crash is seen at the next one-second tick and the new player is
// spawned in that same tick, right after the exit line and the records.
TEST_F(WatchdogExe, RelaunchesACrashedPlayerInTheTickThatSeesTheExit) {
    const std::wstring trace = own_folder() + L"\\watchdog-exe-test.trace";
    ::DeleteFileW(trace.c_str());
    ::SetEnvironmentVariableW(L"TEST_PLAYER_NO_RECORDS", nullptr);
    ::SetEnvironmentVariableW(L"TEST_PLAYER_CRASH_AFTER_MS", L"3500");
    ::SetEnvironmentVariableW(L"TEST_PLAYER_TRACE", trace.c_str());
    ::SetEnvironmentVariableW(L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS", L"1");
    ::SetEnvironmentVariableW(L"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS", L"2");
    ::SetEnvironmentVariableW(L"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS", L"3");
    Launched watchdog = start();
    ASSERT_TRUE(eventually([&] { return lines_with(log(), "spawned").size() >= 3; }, 40s)) << log();
    watchdog.end();

    const std::string written = log();
    const std::regex story(R"(\[\d{13}\] vellumbeacon-watchdog started\n)"
                           R"((\[\d{13}\] spawned player pid=\d+ \(.*test-player\.exe\)\n)"
                           R"(\[\d{13}\] player exited \(code 0xc0000005\)\n){2})"
                           R"(\[\d{13}\] spawned player pid=\d+ \(.*test-player\.exe\)\n[^]*)");
    EXPECT_TRUE(std::regex_match(written, story)) << written;
    EXPECT_TRUE(lines_with(written, "rapid restart").empty()) << written;
    EXPECT_TRUE(lines_with(written, "hung").empty()) << written;
    const auto count = get_file(watchdog_ + L"\\recoveries.txt");
    EXPECT_TRUE(count == "2" || count == "3") << count.value_or("(none)");
    const std::regex crash_record(
        R"J(\{"what":"player exited \(code 0xc0000005\)","at":\d{13}\})J");
    const auto record = get_file(watchdog_ + L"\\last-crash.json").value_or("");
    EXPECT_TRUE(std::regex_match(record, crash_record)) << record;

    // Each crash (stamped by the player just before it faults) against the spawn that follows.
    const auto crashes = lines_with(get_file(trace).value_or(""), " crash ");
    const auto spawns = lines_with(written, "spawned");
    ASSERT_GE(crashes.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::uint64_t crashed_at = std::stoull(crashes[i].substr(0, 13));
        const std::uint64_t spawned_at = std::stoull(spawns[i + 1].substr(1, 13));
        std::printf("crash to relaunch: %llu ms\n",
                    static_cast<unsigned long long>(spawned_at - crashed_at));
        // Wine takes about half a second to end a process that faulted; the watchdog's own
        // part (the poll at the next tick, the records, the spawn) is well under 100 ms.
        EXPECT_LE(spawned_at - crashed_at, 1000u + 1000u) << "interval 1 s plus overhead";
    }
    ::DeleteFileW(trace.c_str());
}

// An interval of 2^64-1 seconds is a very long pause, not one that wraps into a short one.
TEST_F(WatchdogExe, AHugeIntervalNeverBecomesAShortPause) {
    ::SetEnvironmentVariableW(L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS",
                              L"18446744073709551615");
    ::SetEnvironmentVariableW(L"TEST_PLAYER_EXIT_AFTER_MS", L"100");
    Launched watchdog = start();
    ASSERT_TRUE(eventually([&] { return log().find("spawned") != std::string::npos; }, 20s));
    std::this_thread::sleep_for(4s);
    EXPECT_FALSE(watchdog.wait(0ms));
    watchdog.end();
    EXPECT_TRUE(std::regex_match(log(), START_AND_LAUNCH)) << log();
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
