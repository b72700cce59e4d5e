#include "process/lock.h"

#include <gtest/gtest.h>

#include "bin/startup.h"
#include "process/probes.h"
#include "sim_world.h"

namespace wd {
namespace {

// The claim with messages going to the log alone.
bool claim_alone(World& world) {
    Log log(world);
    return claim_instance_lock(world, log);
}

using fakes::MemWorld;
using fakes::SimWorld;

using fakes::DIR;
using fakes::LOCK;

TEST(LockText, TrimmedDecimalUpToTheLargestPid) {
    const std::pair<std::string, std::optional<std::uint32_t>> cases[] = {
        {"4120", 4120},
        {"  4120\r\n", 4120},
        {"+4120", 4120},
        {"\xE3\x80\x80"
         "4120",
         4120},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"-4120", std::nullopt},
        {"4120a", std::nullopt},
        {"41 20", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, pid] : cases) {
        EXPECT_EQ(parse_lock_pid(text), pid) << text;
    }
}

// The lock file, and a process table that holds exactly `alive` (pid and image name).
void prepare(SimWorld& world, std::optional<std::string> lock,
             const std::map<std::uint32_t, std::string>& alive) {
    if (lock) {
        world.create_dirs(DIR);
        world.files[LOCK] = *lock;
    }
    for (const auto& [pid, image] : alive) world.add_process(pid, image);
}

TEST(ClaimInstanceLock, WritesTheOwnPidUnlessALiveWatchdogIsNamed) {
    const struct {
        const char* name;
        std::optional<std::string> lock;
        std::map<std::uint32_t, std::string> alive;
        std::vector<std::vector<std::u16string>> probes;
    } cases[] = {
        {"no lock file", std::nullopt, {}, {}},
        {"dead pid", "4120", {}, {tasklist_args(4120, "watchdog.exe")}},
        {"a stranger under the old pid after a reboot",
         "4120",
         {{4120, "svchost.exe"}},
         {tasklist_args(4120, "watchdog.exe")}},
        {"pid 0", "0", {{0, "System Idle Process"}}, {tasklist_args(0, "watchdog.exe")}},
        {"own pid: no probe", "4242", {{4242, "watchdog.exe"}}, {}},
        {"own pid with blanks", " 4242\n", {{4242, "watchdog.exe"}}, {}},
        {"not a pid", "-4120", {{4120, "watchdog.exe"}}, {}},
        {"letter after digits", "4120x", {{4120, "watchdog.exe"}}, {}},
        {"above the largest pid", "4294967296", {}, {}},
        {"not UTF-8", "41\xFF", {}, {}},
    };
    for (const auto& c : cases) {
        SimWorld world;
        prepare(world, c.lock, c.alive);
        EXPECT_TRUE(claim_alone(world)) << c.name;
        EXPECT_EQ(world.files[LOCK], "4242") << c.name;
        std::vector<std::vector<std::u16string>> probes;
        for (const auto& call : world.tool_calls) probes.push_back(call.args);
        EXPECT_EQ(probes, c.probes) << c.name;
        EXPECT_TRUE(world.stderr_text.empty()) << c.name;
    }
}

TEST(InstanceClaimName, OneNamePerFolderWhateverItsCaseOrSeparators) {
    const std::u16string name = instance_claim_name(DIR);
    EXPECT_TRUE(name.starts_with(u"Global\\vellumbeacon-watchdog-")) << utf16_to_utf8_lossy(name);
    EXPECT_EQ(name.size(), std::u16string_view(u"Global\\vellumbeacon-watchdog-").size() + 16);
    EXPECT_EQ(
        instance_claim_name(u"c:/users/KIOSK/appdata/roaming/com.vellumbeacon.player/WATCHDOG"),
        name);
    EXPECT_NE(instance_claim_name(
                  u"C:\\Users\\kiosk2\\AppData\\Roaming\\com.vellumbeacon.player\\watchdog"),
              name);
    // The name must not change from one version to the next: a watchdog left running across an
    // upgrade holds the old one.
    EXPECT_EQ(utf16_to_utf8_lossy(name), "Global\\vellumbeacon-watchdog-fb186f77f99feecb");
    // Every ASCII letter folds; other letters are taken as they are.
    EXPECT_EQ(instance_claim_name(u"C:\\ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
              instance_claim_name(u"c:\\abcdefghijklmnopqrstuvwxyz"));
    EXPECT_NE(instance_claim_name(u"C:\\\u00C9"), instance_claim_name(u"C:\\\u00E9"));
}

// The claim comes first: taken, the holder is named from the lock it writes (waiting for it a
// while), and nothing is written; a claim that cannot be had leaves the lock to decide.
TEST(ClaimInstanceLock, TheClaimDecidesBeforeTheLock) {
    const std::string FOREIGN =
        "the single-instance claim is another account's - watchdog.lock decides";
    const struct {
        const char* name;
        InstanceClaim claim;
        std::optional<std::string> lock;
        int lock_appears_at_read;  // the holder writes "4120" before this read of the lock (0:
                                   // never)
        bool runs;
        std::vector<std::string> lines;
        std::size_t sleeps;
    } cases[] = {
        {"taken, the holder named in the lock",
         InstanceClaim::Taken,
         "4120",
         0,
         false,
         {"another watchdog is live (pid=4120); exiting"},
         0},
        {"taken, the holder's lock written a moment later",
         InstanceClaim::Taken,
         std::nullopt,
         3,
         false,
         {"another watchdog is live (pid=4120); exiting"},
         2},
        {"taken, a stale lock the holder has not replaced yet",
         InstanceClaim::Taken,
         "77",
         2,
         false,
         {"another watchdog is live (pid=4120); exiting"},
         1},
        {"taken, no holder named within the wait",
         InstanceClaim::Taken,
         std::nullopt,
         0,
         false,
         {"another watchdog is live (pid=0); exiting"},
         CLAIM_HOLDER_WAIT_SECS},
        {"cannot be had: the lock alone decides, here for this watchdog",
         InstanceClaim::Unavailable,
         "77",
         0,
         true,
         {},
         0},
        {"another account's: said, and the lock alone decides, here for this watchdog",
         InstanceClaim::Foreign,
         "77",
         0,
         true,
         {FOREIGN},
         0},
        {"another account's, and a live watchdog of this user's named in the lock",
         InstanceClaim::Foreign,
         "4120",
         0,
         false,
         {FOREIGN, "another watchdog is live (pid=4120); exiting"},
         0},
    };
    for (const auto& c : cases) {
        SimWorld world;
        prepare(world, c.lock, {{4120, "watchdog.exe"}});
        world.instance_claim = c.claim;
        int reads = 0;
        world.on_read = [&](const Path& path, std::optional<std::string> bytes) {
            if (path == LOCK && ++reads >= c.lock_appears_at_read && c.lock_appears_at_read > 0) {
                return std::optional<std::string>("4120");
            }
            return bytes;
        };
        EXPECT_EQ(claim_alone(world), c.runs) << c.name;
        EXPECT_EQ(world.claims, std::vector<std::u16string>{instance_claim_name(DIR)}) << c.name;
        EXPECT_EQ(world.sleeps.size(), c.sleeps) << c.name;
        if (c.runs) {
            EXPECT_EQ(world.files[LOCK], "4242") << c.name;
        } else {
            EXPECT_EQ(world.files.count(LOCK) ? std::optional(world.files[LOCK]) : std::nullopt,
                      c.lock)
                << c.name;
        }
        std::string said;
        for (const auto& line : c.lines)
            said += "[" + std::to_string(world.wall_ms) + "] " + line + "\n";
        EXPECT_EQ(world.stderr_text, said) << c.name;
    }
}

TEST(ClaimInstanceLock, WithoutItsOwnImageNameNoRivalCanBeToldAndTheLockIsTaken) {
    SimWorld world;
    prepare(world, "4120", {{4120, "watchdog.exe"}});
    world.own_exe.reset();
    EXPECT_TRUE(claim_alone(world));
    EXPECT_EQ(world.files[LOCK], "4242");
    EXPECT_TRUE(world.tool_calls.empty());
}

TEST(ClaimInstanceLock, ALiveRivalEndsThisProcessWithOneLineAndTheLockUntouched) {
    // tasklist compares image names without regard to case.
    SimWorld world;
    prepare(world, "  4120\n", {{4120, "WATCHDOG.EXE"}});
    EXPECT_FALSE(claim_alone(world));
    EXPECT_EQ(world.files[LOCK], "  4120\n");
    EXPECT_EQ(world.files[DIR + u"\\watchdog.log"],
              "[1765000000000] another watchdog is live (pid=4120); exiting\n");
    ASSERT_EQ(world.tool_calls.size(), 1u);
    EXPECT_EQ(world.tool_calls[0].args, tasklist_args(4120, "watchdog.exe"));
}

// Start-up checks the lock before it says that it started: a second watchdog leaves exactly
// one line, the first one's start line and its settings.
TEST(StartUp, SettingsThenTheLockThenTheStartLine) {
    SimWorld rival;
    prepare(rival, "4120", {{4120, "watchdog.exe"}});
    EXPECT_EQ(start_up(rival), std::nullopt);
    EXPECT_EQ(rival.files[DIR + u"\\watchdog.log"],
              "[1765000000000] another watchdog is live (pid=4120); exiting\n");

    SimWorld alone;
    prepare(alone, "4120", {{4120, "svchost.exe"}});
    alone.environment.emplace(u"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS", u"7");
    const auto started = start_up(alone);
    ASSERT_TRUE(started);
    EXPECT_EQ(started->config.check_interval_secs, 7u);
    EXPECT_EQ(alone.files[LOCK], "4242");
    EXPECT_EQ(alone.files[DIR + u"\\watchdog.log"],
              "[1765000000000] vellumbeacon-watchdog started\n");
}

TEST(ClaimInstanceLock, WithoutTheKnownFolderNothingIsReadOrWritten) {
    MemWorld world;
    world.roaming.reset();
    EXPECT_TRUE(claim_alone(world));
    EXPECT_TRUE(world.files.empty());
    EXPECT_TRUE(world.tool_calls.empty());
}

TEST(ClaimInstanceLock, AnUnwritableLockIsIgnored) {
    SimWorld world;
    prepare(world, "4120", {});
    world.unwritable.insert(LOCK);
    EXPECT_TRUE(claim_alone(world));
    EXPECT_EQ(world.files[LOCK], "4120");
    EXPECT_TRUE(world.stderr_text.empty());
}

}  // namespace
}  // namespace wd
