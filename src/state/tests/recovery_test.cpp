#include "state/recovery.h"

#include <gtest/gtest.h>

#include "mem_world.h"
#include "state/files.h"

namespace wd {
namespace {

using fakes::MemWorld;

using fakes::COUNTER;
using fakes::DIR;
using fakes::LAST_CRASH;

TEST(RecoveryCounter, NextCountFromWhateverTheFileHolds) {
    const struct {
        std::optional<std::string> text;
        std::uint64_t next;
    } cases[] = {
        {std::nullopt, 1},
        {"", 1},
        {"41\r\n", 42},
        {"+7", 8},
        {"007", 8},
        {"-1", 1},
        {"4 2", 1},
        {"\xC2\xA0 9\t", 10},
        {"9x", 1},
        {"+", 1},
        {"18446744073709551614", 18446744073709551615u},
        {"18446744073709551615", 18446744073709551615u},
        {"18446744073709551616", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(next_recovery_count(c.text), c.next) << c.text.value_or("<absent>");
    }
}

TEST(RecordRecovery, FirstRecoveryCreatesBothFiles) {
    MemWorld world;
    world.wall_ms = 1'765'000'000'123;
    record_recovery(world, "player exited (code 0xc0000005)");
    EXPECT_EQ(world.files[COUNTER], "1");
    EXPECT_EQ(world.files[LAST_CRASH],
              R"J({"what":"player exited (code 0xc0000005)","at":1765000000123})J");
    EXPECT_TRUE(world.stderr_text.empty());  // nothing is logged

    world.wall_ms += 7;
    record_recovery(world, "player hung - ended and started again");
    EXPECT_EQ(world.files[COUNTER], "2");
    EXPECT_EQ(world.files[LAST_CRASH],
              R"J({"what":"player hung - ended and started again","at":1765000000130})J");
}

TEST(RecordRecovery, CounterFailureDoesNotStopTheCrashRecord) {
    MemWorld world;
    world.create_dirs(DIR);
    world.files[COUNTER] = "41\r\n";
    world.unwritable.insert(COUNTER);
    record_recovery(world, "x");
    EXPECT_EQ(world.files[COUNTER], "41\r\n");
    EXPECT_EQ(world.files[LAST_CRASH], R"J({"what":"x","at":1765000000000})J");

    world.unwritable = {LAST_CRASH};
    record_recovery(world, "y");
    EXPECT_EQ(world.files[LAST_CRASH], R"J({"what":"x","at":1765000000000})J");
}

// Only a counter that is missing or holds no valid count starts again at 1; one that is there
// but held open by another program keeps its value, so that no count is lost once it is free.
TEST(RecordRecovery, ACounterThatCannotBeReadJustNowIsLeftAsItIs) {
    const struct {
        const char* name;
        std::optional<std::string> content;  // none: no file
        bool readable;
        std::string after;
    } cases[] = {
        {"held open by another program", "41", false, "41"},
        {"held open, exactly at the read bound", std::string(MAX_READ_BYTES, '7'), false,
         std::string(MAX_READ_BYTES, '7')},
        {"held open, then free again", "41", true, "42"},
        {"missing", std::nullopt, true, "1"},
        {"too large to be a count", std::string(1024 * 1024 + 1, '7'), true, "1"},
        {"not UTF-8", "4\xFF", true, "1"},
    };
    for (const auto& c : cases) {
        MemWorld world;
        world.create_dirs(DIR);
        if (c.content) world.files[COUNTER] = *c.content;
        if (!c.readable) {
            world.on_read = [](const Path& path, const std::optional<std::string>& found) {
                return path == COUNTER ? std::nullopt : found;
            };
        }
        record_recovery(world, "x");
        EXPECT_TRUE(world.files[COUNTER] == c.after) << c.name;
        EXPECT_EQ(world.files[LAST_CRASH], R"J({"what":"x","at":1765000000000})J") << c.name;
    }
}

TEST(RecordRecovery, InvalidUtf8CounterRestartsAtOneAndNoKnownFolderWritesNothing) {
    MemWorld world;
    world.create_dirs(DIR);
    world.files[COUNTER] = "4\xFF";
    record_recovery(world, "x");
    EXPECT_EQ(world.files[COUNTER], "1");

    MemWorld homeless;
    homeless.roaming.reset();
    record_recovery(homeless, "x");
    EXPECT_TRUE(homeless.files.empty());
    EXPECT_EQ(homeless.replacements, 0u);
}

}  // namespace
}  // namespace wd
