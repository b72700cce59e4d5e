#include "state/log.h"

#include <gtest/gtest.h>

#include <limits>

#include "mem_world.h"
#include "state/paths.h"

namespace wd {
namespace {

using fakes::MemWorld;

using fakes::LOG_PATH;
const Path WATCHDOG_DIR = fakes::DIR;

TEST(WallClock, ConvertsHundredNanosecondsSince1601ToMillisecondsSince1970) {
    const struct {
        std::int64_t ticks;
        std::uint64_t ms;
    } cases[] = {
        {0, 0},
        {-1, 0},
        {UNIX_EPOCH_AS_FILETIME - 1, 0},
        {UNIX_EPOCH_AS_FILETIME, 0},
        {UNIX_EPOCH_AS_FILETIME + 9'999, 0},
        {UNIX_EPOCH_AS_FILETIME + 10'000, 1},
        {UNIX_EPOCH_AS_FILETIME + 17'650'000'000'009'999, 1'765'000'000'000},
        {std::numeric_limits<std::int64_t>::max(), 910'692'730'085'477},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wall_clock_ms_from_filetime(c.ticks), c.ms) << c.ticks;
    }
}

TEST(LogLine, HasBracketedMillisecondsOneSpaceTheMessageAndALineFeed) {
    EXPECT_EQ(format_log_line(1'765'000'000'123, "vellumbeacon-watchdog started"),
              "[1765000000123] vellumbeacon-watchdog started\n");
    EXPECT_EQ(format_log_line(0, "x"), "[0] x\n");
    EXPECT_EQ(format_log_line(7, "caf\xC3\xA9 \"q\"\t"), "[7] caf\xC3\xA9 \"q\"\t\n");
}

TEST(LogLine, CreatesTheFoldersAppendsAndEchoesTheSameBytes) {
    MemWorld world;
    world.wall_ms = 1'765'000'000'123;
    write_log_text(world, "vellumbeacon-watchdog started");
    world.wall_ms += 5;
    write_log_text(world, "second");

    const std::string want =
        "[1765000000123] vellumbeacon-watchdog started\n[1765000000128] second\n";
    EXPECT_EQ(world.files[LOG_PATH], want);
    EXPECT_EQ(world.stderr_text, want);
    EXPECT_TRUE(world.folders.count(WATCHDOG_DIR));
    EXPECT_FALSE(world.folders.count(fakes::UPDATES));
}

TEST(LogLine, GoesOnWithoutStandardErrorAndWithoutTheKnownFolder) {
    MemWorld quiet;
    quiet.has_stderr = false;
    write_log_text(quiet, "a");
    EXPECT_EQ(quiet.files[LOG_PATH], "[1765000000000] a\n");

    MemWorld homeless;
    homeless.roaming.reset();
    write_log_text(homeless, "a");
    EXPECT_EQ(homeless.stderr_text, "[1765000000000] a\n");
    EXPECT_TRUE(homeless.files.empty());
}

TEST(LogLine, SameMillisecondKeepsCallOrderAndADeletedLogStartsAgain) {
    MemWorld world;
    write_log_text(world, "one");
    write_log_text(world, "two");
    EXPECT_EQ(world.files[LOG_PATH], "[1765000000000] one\n[1765000000000] two\n");
    world.files.erase(LOG_PATH);
    write_log_text(world, "three");
    EXPECT_EQ(world.files[LOG_PATH], "[1765000000000] three\n");
}

TEST(LogLine, AnUnwritableLogLosesTheLineButNotTheEcho) {
    MemWorld world;
    world.create_dirs(WATCHDOG_DIR);
    world.unwritable.insert(LOG_PATH);
    write_log_text(world, "lost");
    EXPECT_FALSE(world.files.count(LOG_PATH));
    EXPECT_EQ(world.stderr_text, "[1765000000000] lost\n");
}

}  // namespace
}  // namespace wd
