// Faults of the files, the tools and the player, injected into the simulated world: the loop
// goes on supervising, keeps what it stored, and never throws.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "bin/supervisor.h"
#include "sim_loop.h"

namespace wd {
namespace {

using fakes::DIR;
using fakes::Loop;
using fakes::SimProcess;
using fakes::SimWorld;
using fakes::spawned;

using fakes::APP;
using fakes::HUNG;

std::size_t count(const std::vector<std::string>& lines, const std::string& part) {
    std::size_t n = 0;
    for (const auto& line : lines) n += line.find(part) != std::string::npos;
    return n;
}

void crash_every_10s(SimWorld& world) {
    world.behaviour = [&world](SimProcess& p) {
        p.heartbeat = true;
        p.exits_at_ms = world.wall_ms + 10'000;
        p.exits_with = 1;
    };
}

using fakes::put;

// A player someone else started, found through its liveness pid, that stops writing it.
SimProcess& adopted_silent_player(SimWorld& world) {
    SimProcess& p = world.add_process({});
    world.write_liveness(p);
    return p;
}

TEST(Faults, StoredFilesThatCannotBeWrittenNeitherStopSupervisionNorLoseTheirContent) {
    const struct {
        const char* name;
        std::function<void(SimWorld&)> inject;
    } cases[] = {
        {"watchdog folder read-only", [](SimWorld& w) { w.read_only_folders.insert(DIR); }},
        {"records cannot be replaced (disk full)",
         [](SimWorld& w) {
             w.unwritable.insert(DIR + u"\\recoveries.txt");
             w.unwritable.insert(DIR + u"\\last-crash.json");
         }},
        {"log, counter and record all refused",
         [](SimWorld& w) {
             for (const char16_t* name : {u"\\recoveries.txt", u"\\last-crash.json",
                                          u"\\watchdog.log", u"\\liveness.json"}) {
                 w.unwritable.insert(DIR + name);
             }
         }},
    };
    for (const auto& c : cases) {
        SimWorld world;
        put(world, DIR + u"\\recoveries.txt", "41");
        put(world, DIR + u"\\last-crash.json", "{\"what\":\"player exited (code 1)\",\"at\":1}");
        crash_every_10s(world);
        c.inject(world);
        Loop loop(world);
        loop.ticks(60);  // three minutes: a crash every ten seconds
        const auto lines = loop.messages();
        EXPECT_GE(count(lines, "player exited (code 1)"), 10u) << c.name;
        EXPECT_EQ(count(lines, "spawned"), count(lines, "player exited") + 1) << c.name;
        EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "41") << c.name;
        EXPECT_EQ(world.files[DIR + u"\\last-crash.json"],
                  "{\"what\":\"player exited (code 1)\",\"at\":1}")
            << c.name;
    }
}

// A line that does not fit is taken back whole, so that a line written later is never glued
// to a fragment: every line in the file is one the loop wrote, and the file ends with a line.
TEST(Faults, OnADiskThatFillsUpTheLogHoldsWholeLinesOnly) {
    SimWorld world;
    crash_every_10s(world);
    world.free_bytes = 700;
    Loop loop(world);
    loop.ticks(60);
    world.free_bytes = 2'000;  // some room again
    loop.ticks(60);
    std::set<std::string> echoed;
    std::istringstream err(world.stderr_text);
    for (std::string line; std::getline(err, line);) echoed.insert(line);
    const std::string& log = world.files[DIR + u"\\watchdog.log"];
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    std::istringstream file(log);
    std::size_t lines = 0;
    for (std::string line; std::getline(file, line); ++lines) {
        EXPECT_EQ(echoed.count(line), 1u) << "not a whole line: " << line;
    }
    EXPECT_LT(lines, echoed.size()) << "the disk was meant to fill up";
}

TEST(Faults, AWatchdogFolderThatIsAFileIsLeftAloneAndTheLogGoesToStandardError) {
    SimWorld world;
    put(world, APP + u"\\watchdog", "not a folder");
    crash_every_10s(world);
    Loop loop(world);
    loop.ticks(20);
    const auto lines = loop.messages();
    EXPECT_GE(count(lines, "player exited (code 1)"), 5u);
    EXPECT_EQ(world.files[APP + u"\\watchdog"], "not a folder");
    for (const char16_t* name : {u"\\watchdog.log", u"\\recoveries.txt", u"\\last-crash.json"}) {
        EXPECT_EQ(world.files.count(APP + u"\\watchdog" + name), 0u);
    }
}

TEST(Faults, UnreadableRecordsAreIgnoredAndNeverRewrittenOrDeleted) {
    const std::string big(1024 * 1024 + 1, ' ');
    const struct {
        const char* name;
        Path file;
        std::string text;
    } cases[] = {
        {"player.json not UTF-8", DIR + u"\\player.json", "{\"exePath\":\"\xff\"}"},
        {"closed.json truncated", DIR + u"\\closed.json", "{\"closedAt\":17650"},
        {"closed.json enormous", DIR + u"\\closed.json", big},
        {"updating.json enormous", APP + u"\\updates\\updating.json", big},
        {"updating.json truncated", APP + u"\\updates\\updating.json", "{\"startedAtMs\":1"},
    };
    for (const auto& c : cases) {
        SimWorld world;
        put(world, c.file, c.text);
        Loop loop(world);
        loop.ticks(40);
        EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)}) << c.name;
        EXPECT_EQ(world.files[c.file], c.text) << c.name;
    }
}

// A liveness record caught half-written counts as absent for that one tick: past the startup
// grace that tick ends the player; the ticks before and after see the record again.
TEST(Faults, ALivenessRecordCaughtMidWriteIsAbsentForThatTickOnly) {
    SimWorld world;
    bool tear = false;
    world.on_read = [&tear](const Path& path, std::optional<std::string> found) {
        if (found && tear && path.find(u"liveness.json") != Path::npos) {
            found->resize(found->size() / 2);
        }
        return found;
    };
    Loop loop(world);
    loop.ticks(29);
    EXPECT_EQ(loop.messages(), std::vector<std::string>{spawned(1000)});
    tear = true;
    loop.tick();
    tear = false;
    EXPECT_EQ(loop.messages(), (std::vector<std::string>{HUNG, spawned(1001)}));
    loop.ticks(100);
    EXPECT_TRUE(loop.messages().empty());
}

TEST(Faults, ToolsThatFailOrLieNeverStopTheLoop) {
    const struct {
        const char* name;
        std::function<ToolOutput(const fakes::ToolCall&)> tasklist;
        std::function<std::optional<std::uint32_t>(const fakes::ToolCall&)> taskkill;
        std::size_t spawned;
    } cases[] = {
        // A player that can never be seen is taken as gone once the failures have lasted the
        // startup grace: a player of its own is started.
        {"tasklist missing or ended for hanging",
         [](const fakes::ToolCall&) { return ToolOutput{}; }, nullptr, 1},
        {"tasklist prints garbage",
         [](const fakes::ToolCall&) {
             return fakes::tool_printed(std::string("\xff\xfe\x00garbage", 10));
         },
         nullptr, 1},
        // The adopted player hangs and cannot be ended: recorded, and one of its own started.
        {"taskkill missing", nullptr, [](const fakes::ToolCall&) { return std::nullopt; }, 1},
    };
    for (const auto& c : cases) {
        SimWorld world;
        SimProcess& silent = adopted_silent_player(world);
        if (c.tasklist) world.tool_output = c.tasklist;
        if (c.taskkill) world.tool_status = c.taskkill;
        Loop loop(world);
        loop.ticks(40);
        EXPECT_EQ(world.spawned.size(), c.spawned) << c.name;
        EXPECT_TRUE(world.processes.at(silent.pid).alive) << c.name;
        EXPECT_EQ(world.alive_count(), 2u) << c.name;
    }
}

TEST(Faults, AnOwnPlayerThatIgnoresItsForcedEndIsRecordedAndReplaced) {
    SimWorld world;
    world.behaviour = [&world](SimProcess& p) {
        p.ignores_kill = world.spawned.empty();  // the first one only; none writes liveness
    };
    Loop loop(world);
    loop.ticks(45);
    const auto lines = loop.messages();
    EXPECT_EQ(count(lines, HUNG), 2u) << "each new player goes silent too";
    EXPECT_TRUE(world.processes.at(1000).alive) << "it survived its forced end";
    EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "2");
}

}  // namespace
}  // namespace wd
