// The test player under Wine: its records pass the watchdog's own readers and each
// misbehaviour does what its name says.
#include <gtest/gtest.h>

#include "base/win32_world.h"
#include "state/paths.h"
#include "state/records.h"
#include "win32_launch.h"
#include "win32_test_dir.h"

namespace wd {
namespace {

using namespace std::chrono_literals;
using fakes::eventually;
using fakes::Launched;
using fakes::own_folder;

class TestPlayer : public testing::Test {
  protected:
    void SetUp() override {
        const auto app = app_dir(world_);
        ASSERT_TRUE(app);
        app_ = std::wstring(app->begin(), app->end());
        fakes::remove_tree(app_);
    }
    void TearDown() override {
        for (const auto& name : knobs_) ::SetEnvironmentVariableW(name.c_str(), nullptr);
        fakes::remove_tree(app_);
    }

    void knob(const std::wstring& name, const std::wstring& value) {
        knobs_.push_back(L"TEST_PLAYER_" + name);
        ::SetEnvironmentVariableW(knobs_.back().c_str(), value.c_str());
    }

    Launched start() {
        exe_ = own_folder() + L"\\test-player.exe";
        return Launched(exe_, L"\"" + exe_ + L"\"");
    }

    std::optional<LivenessRecord> liveness() {
        return read_liveness_record(world_, watchdog_file(world_, LIVENESS_FILE)).value;
    }
    std::optional<PlayerInfo> player() {
        return read_player_info(world_, player_info_path(world_)).value;
    }

    Win32World world_;
    std::wstring app_, exe_;
    std::vector<std::wstring> knobs_;
};

TEST_F(TestPlayer, KeepsTheContract) {
    knob(L"HEARTBEAT_MS", L"100");
    Launched p = start();
    ASSERT_TRUE(eventually([&] { return player() && liveness(); }, 10s));
    const PlayerInfo info = *player();
    EXPECT_EQ(info.exe_path, std::string(exe_.begin(), exe_.end()));
    EXPECT_EQ(info.image_name, "test-player.exe");
    EXPECT_EQ(info.pid, p.pid());
    ASSERT_TRUE(info.started_at);
    EXPECT_NEAR(static_cast<double>(*info.started_at), static_cast<double>(world_.wall_clock_ms()),
                10'000);
    const std::uint64_t first_ts = liveness()->ts;
    EXPECT_EQ(liveness()->pid, p.pid());
    EXPECT_TRUE(eventually([&] { return liveness() && liveness()->ts > first_ts; }, 5s));
}

TEST_F(TestPlayer, ExitsAfterTheDelayWithTheCode) {
    knob(L"EXIT_AFTER_MS", L"200");
    knob(L"EXIT_CODE", L"3");
    Launched p = start();
    EXPECT_EQ(p.wait(10s), 3u);
}

TEST_F(TestPlayer, CrashesWithARealAccessViolation) {
    knob(L"CRASH_AFTER_MS", L"100");
    Launched p = start();
    EXPECT_EQ(p.wait(20s), 0xC0000005u);
}

TEST_F(TestPlayer, HangStopsTheHeartbeatButStaysAlive) {
    knob(L"HEARTBEAT_MS", L"50");
    knob(L"HANG_AFTER_MS", L"300");
    Launched p = start();
    ASSERT_TRUE(eventually([&] { return liveness().has_value(); }, 10s));
    ::Sleep(800);
    const auto frozen = liveness();
    ASSERT_TRUE(frozen);
    ::Sleep(600);
    EXPECT_EQ(liveness()->ts, frozen->ts);
    EXPECT_FALSE(p.wait(0ms));
}

TEST_F(TestPlayer, NoRecordsWritesNothing) {
    knob(L"NO_RECORDS", L"1");
    Launched p = start();
    ::Sleep(800);
    EXPECT_FALSE(p.wait(0ms));
    EXPECT_EQ(::GetFileAttributesW(app_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TestPlayer, OperatorCloseWritesTheFlagAndExits) {
    knob(L"CLOSE_AFTER_MS", L"100");
    const std::uint64_t before = world_.wall_clock_ms();
    Launched p = start();
    EXPECT_EQ(p.wait(10s), 0u);
    const auto flag = read_closed_flag(world_, watchdog_file(world_, CLOSED_FILE)).value;
    ASSERT_TRUE(flag);
    EXPECT_GE(flag->closed_at, before);
    EXPECT_LE(flag->closed_at, world_.wall_clock_ms());
    // Whatever the session reports: Wine reports none.
    EXPECT_EQ(flag->logon_time, world_.session_logon_time());
}

TEST_F(TestPlayer, OperatorCloseCanKeepRunningWithAGivenLogonTime) {
    knob(L"CLOSE_AFTER_MS", L"0");
    knob(L"CLOSE_KEEP_RUNNING", L"1");
    knob(L"CLOSE_LOGON_TIME", L"133000000000000001");
    Launched p = start();
    ASSERT_TRUE(eventually(
        [&] {
            return read_closed_flag(world_, watchdog_file(world_, CLOSED_FILE)).value.has_value();
        },
        10s));
    EXPECT_EQ(read_closed_flag(world_, watchdog_file(world_, CLOSED_FILE)).value->logon_time,
              133000000000000001);
    EXPECT_FALSE(p.wait(0ms));
}

TEST_F(TestPlayer, ActsAsTheUpdater) {
    knob(L"UPDATE_AFTER_MS", L"0");
    knob(L"UPDATE_FOR_MS", L"1500");
    knob(L"UPDATE_VERSION", L"2.0.1");
    Launched p = start();
    const auto sentinel = [&] {
        return read_updating_sentinel(world_, updating_path(world_)).value;
    };
    ASSERT_TRUE(eventually([&] { return sentinel().has_value(); }, 10s));
    EXPECT_EQ(sentinel()->version, "2.0.1");
    EXPECT_TRUE(eventually([&] { return !sentinel().has_value(); }, 10s));
}

TEST_F(TestPlayer, MalformedRecordsAreAbsentToTheReaders) {
    knob(L"MALFORMED", L"liveness");
    Launched p = start();
    ASSERT_TRUE(eventually([&] { return player().has_value(); }, 10s));
    ::Sleep(300);
    EXPECT_TRUE(fakes::get_file(app_ + L"\\watchdog\\liveness.json").has_value());
    EXPECT_FALSE(liveness());
}

TEST_F(TestPlayer, ScriptFileOverridesTheEnvironment) {
    const std::wstring script = own_folder() + L"\\test-player-script.txt";
    ASSERT_TRUE(fakes::put_file(script, "EXIT_AFTER_MS=100\r\nEXIT_CODE=7\n"));
    knob(L"SCRIPT", script);
    knob(L"EXIT_CODE", L"9");
    Launched p = start();
    EXPECT_EQ(p.wait(10s), 7u);
    ::DeleteFileW(script.c_str());
}

}  // namespace
}  // namespace wd
