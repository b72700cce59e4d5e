#include "process/lock.h"

#include <gtest/gtest.h>

#include "mem_world.h"
#include "process/probes.h"

namespace wd {
namespace {

using testing::MemWorld;
using testing::ProcessExited;
using testing::ToolCall;

const Path DIR = u"C:\\Users\\kiosk\\AppData\\Roaming\\com.vellumbeacon.player\\watchdog";
const Path LOCK = DIR + u"\\watchdog.lock";

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

// A world in which tasklist lists exactly the pids in `alive`.
MemWorld world_with(std::optional<std::string> lock, const std::set<std::uint32_t>& alive) {
    MemWorld world;
    if (lock) {
        world.create_dirs(DIR);
        world.files[LOCK] = *lock;
    }
    world.tool_output = [alive](const ToolCall& call) -> std::optional<std::string> {
        for (const auto pid : alive) {
            const std::string digits = std::to_string(pid);
            if (call.args[1] == u"PID eq " + std::u16string(digits.begin(), digits.end())) {
                return "\"x.exe\",\"" + std::to_string(pid) + "\",\"Console\",\"1\",\"1 K\"";
            }
        }
        return "INFO: No tasks are running which match the specified criteria.";
    };
    return world;
}

TEST(ClaimInstanceLock, WritesTheOwnPidUnlessAnotherLiveProcessIsNamed) {
    const struct {
        const char* name;
        std::optional<std::string> lock;
        std::set<std::uint32_t> alive;
        std::size_t probes;
    } cases[] = {
        {"no lock file", std::nullopt, {}, 0},
        {"dead pid", "4120", {}, 1},
        {"own pid: no probe", "4242", {4242}, 0},
        {"own pid with blanks", " 4242\n", {4242}, 0},
        {"not a pid", "-4120", {4120}, 0},
        {"letter after digits", "4120x", {4120}, 0},
        {"above the largest pid", "4294967296", {}, 0},
        {"not UTF-8", "41\xFF", {}, 0},
    };
    for (const auto& c : cases) {
        MemWorld world = world_with(c.lock, c.alive);
        claim_instance_lock(world);
        EXPECT_EQ(world.files[LOCK], "4242") << c.name;
        EXPECT_EQ(world.tool_calls.size(), c.probes) << c.name;
        EXPECT_TRUE(world.stderr_text.empty()) << c.name;
    }
}

TEST(ClaimInstanceLock, ALiveRivalEndsThisProcessWithOneLineAndTheLockUntouched) {
    MemWorld world = world_with("  4120\n", {4120});
    try {
        claim_instance_lock(world);
        FAIL() << "returned despite a live rival";
    } catch (const ProcessExited& e) {
        EXPECT_EQ(e.status, 0u);
    }
    EXPECT_EQ(world.files[LOCK], "  4120\n");
    EXPECT_EQ(world.files[DIR + u"\\watchdog.log"],
              "[1765000000000] another watchdog is live (pid=4120); exiting\n");
    ASSERT_EQ(world.tool_calls.size(), 1u);
    EXPECT_EQ(world.tool_calls[0].args, tasklist_args(4120, ""));
}

TEST(ClaimInstanceLock, WithoutTheKnownFolderNothingIsReadOrWritten) {
    MemWorld world;
    world.roaming.reset();
    claim_instance_lock(world);
    EXPECT_TRUE(world.files.empty());
    EXPECT_TRUE(world.tool_calls.empty());
}

TEST(ClaimInstanceLock, AnUnwritableLockIsIgnored) {
    MemWorld world = world_with("4120", {});
    world.unwritable.insert(LOCK);
    claim_instance_lock(world);
    EXPECT_EQ(world.files[LOCK], "4120");
    EXPECT_TRUE(world.stderr_text.empty());
}

}  // namespace
}  // namespace wd
