#include "state/recovery.h"

#include <gtest/gtest.h>

#include <regex>

#include "base/win32_world.h"
#include "scratch_world.h"
#include "win32_test_dir.h"

namespace wd {
namespace {

using fakes::get_file;
using fakes::list_names;
using fakes::put_file;
using fakes::ScratchDir;
using fakes::ScratchWorld;

TEST(RecordRecoveryOnDisk, CounterContentsAndTheRecord) {
    const struct {
        std::optional<std::string> before;
        std::string after;
    } cases[] = {
        {std::nullopt, "1"},
        {"41\r\n", "42"},
        {"+7", "8"},
        {"007", "8"},
        {"-1", "1"},
        {"4 2", "1"},
        {"", "1"},
        {"18446744073709551615", "18446744073709551615"},
        {"18446744073709551616", "1"},
        {"4\xFF", "1"},
    };
    for (const auto& c : cases) {
        ScratchDir roaming(L"recovery");
        ScratchWorld world(roaming.path());
        const std::wstring dir = roaming.wide(L"com.vellumbeacon.player\\watchdog");
        if (c.before) {
            ASSERT_TRUE(
                ::CreateDirectoryW(roaming.wide(L"com.vellumbeacon.player").c_str(), nullptr));
            ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
            ASSERT_TRUE(put_file(dir + L"\\recoveries.txt", *c.before));
        }
        record_recovery(world, "player exited (code 0xc0000005)");
        EXPECT_EQ(get_file(dir + L"\\recoveries.txt"), c.after) << c.before.value_or("<none>");
        const auto record = get_file(dir + L"\\last-crash.json").value_or("");
        EXPECT_TRUE(std::regex_match(
            record, std::regex(R"J(\{"what":"player exited \(code 0xc0000005\)","at":\d{13}\})J")))
            << record;
        EXPECT_EQ(list_names(dir), (std::set<std::wstring>{L"recoveries.txt", L"last-crash.json"}));
    }
}

TEST(RecordRecoveryOnDisk, LockedCounterKeepsItsValueAndTheRecordIsStillWritten) {
    ScratchDir roaming(L"recovery-locked");
    ScratchWorld world(roaming.path());
    ASSERT_EQ(world.create_dirs(roaming.path(L"com.vellumbeacon.player\\watchdog")), 0u);
    const std::wstring dir = roaming.wide(L"com.vellumbeacon.player\\watchdog");
    ASSERT_TRUE(put_file(dir + L"\\recoveries.txt", "5"));
    {
        win32::UniqueFile held(::CreateFileW((dir + L"\\recoveries.txt").c_str(), GENERIC_READ,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        record_recovery(world, "player hung - ended and started again");
    }
    EXPECT_EQ(get_file(dir + L"\\recoveries.txt"), "5");
    EXPECT_NE(get_file(dir + L"\\last-crash.json").value_or("").find("player hung"),
              std::string::npos);
    EXPECT_EQ(list_names(dir), (std::set<std::wstring>{L"recoveries.txt", L"last-crash.json"}));
}

}  // namespace
}  // namespace wd
