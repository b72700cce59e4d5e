#include "state/log_trim.h"

#include <gtest/gtest.h>

#include "mem_world.h"
#include "state/log.h"

namespace wd {
namespace {

using fakes::MemWorld;

using fakes::LOG_PATH;

// `count` lines of `width` bytes each (line feed included), numbered so that cuts are visible.
std::string lines(std::size_t count, std::size_t width) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        std::string line = std::to_string(i);
        line.resize(width - 1, '.');
        out += line + '\n';
    }
    return out;
}

TEST(LogTrim, CutsAfterTheFirstLineFeedAtOrAfterTheMidpoint) {
    const std::string equal_lines =
        lines(4097, 64);  // 262208 bytes, midpoint 131104 = 2048.5 lines
    const std::string on_boundary = lines(4098, 64);  // midpoint 131136: first byte of line 2049
    std::string lf_at_midpoint(262146, 'x');
    lf_at_midpoint[131073] = '\n';
    std::string no_lf_after_midpoint = "a\n" + std::string(262143, 'b');

    const struct {
        const char* name;
        std::string log;
        std::size_t cut;
    } cases[] = {
        {"at the threshold: untouched", std::string(LOG_TRIM_THRESHOLD_BYTES, '\n'), 0},
        {"one byte past: trimmed", std::string(LOG_TRIM_THRESHOLD_BYTES + 1, '\n'), 131073},
        {"midpoint inside a line", equal_lines, std::size_t{2049} * 64},
        {"midpoint on a line start drops that line too", on_boundary, std::size_t{2050} * 64},
        {"line feed on the midpoint", lf_at_midpoint, 131074},
        {"no line feed after the midpoint", no_lf_after_midpoint, 131072},
    };
    for (const auto& c : cases) {
        MemWorld world;
        world.create_dirs(*parent_folder(LOG_PATH));
        world.files[LOG_PATH] = c.log;
        trim_log(world, LOG_PATH);
        EXPECT_TRUE(world.files[LOG_PATH] == c.log.substr(c.cut)) << c.name;
    }
}

TEST(LogTrim, ReadsNothingBeforeTheMidpoint) {
    MemWorld world;
    world.create_dirs(*parent_folder(LOG_PATH));
    world.files[LOG_PATH] = lines(8000, 100);
    trim_log(world, LOG_PATH);
    EXPECT_EQ(world.whole_reads, 0u);
    EXPECT_LE(world.bytes_read, 400'000u);  // from the midpoint only
    EXPECT_TRUE(world.files[LOG_PATH] == lines(8000, 100).substr(std::size_t{4001} * 100));
}

TEST(LogTrim, MissingOrUnwritableLogIsLeftAlone) {
    MemWorld world;
    world.create_dirs(*parent_folder(LOG_PATH));
    trim_log(world, LOG_PATH);
    EXPECT_FALSE(world.files.count(LOG_PATH));

    const std::string big = lines(5000, 64);
    world.files[LOG_PATH] = big;
    world.unwritable.insert(LOG_PATH);
    trim_log(world, LOG_PATH);
    EXPECT_TRUE(world.files[LOG_PATH] == big);
}

// A second watchdog logs its one line (and so trims) while the first is trimming: the first
// finds the file changed under it and leaves the other's trim in place instead of copying
// from an offset past the new end.
TEST(LogTrim, TwoOverlappingTrimsNeverEmptyTheLog) {
    MemWorld world;
    world.create_dirs(*parent_folder(LOG_PATH));
    const std::string big = lines(5000, 64);  // midpoint on the first byte of line 2500
    world.files[LOG_PATH] = big;
    world.before_tail_copy = [&world](const Path&) {
        world.before_tail_copy = nullptr;
        write_log_text(world, "another watchdog is live (pid=4120); exiting");
    };
    write_log_text(world, "player exited (code 1)");
    EXPECT_TRUE(world.files[LOG_PATH] ==
                big.substr(std::size_t{2501} * 64) +
                    "[1765000000000] another watchdog is live (pid=4120); exiting\n"
                    "[1765000000000] player exited (code 1)\n");
}

// The size that decides is the one before the new line: a log at the threshold takes one
// more line whole, one byte more is cut first and the line lands after the kept half. A line
// that then falls short (the disk filled meanwhile) takes back only its own bytes.
TEST(LogTrim, LogLineTrimsBeforeAppendingItsLine) {
    const std::string at_threshold = lines(4096, 64);  // 262144 bytes
    const std::string past = "x" + at_threshold;       // midpoint on the line feed of line 2047
    const std::string line = "[1765000000000] vellumbeacon-watchdog started\n";
    const struct {
        std::string log;
        std::size_t cut;
        bool fills_after_trim;
    } cases[] = {
        {at_threshold, 0, false},
        {past, 1 + std::size_t{2048} * 64, false},
        {past, 1 + std::size_t{2048} * 64, true},
    };
    for (const auto& c : cases) {
        MemWorld world;
        world.create_dirs(*parent_folder(LOG_PATH));
        world.files[LOG_PATH] = c.log;
        if (c.fills_after_trim) world.after_tail_copy = [&](const Path&) { world.free_bytes = 10; };
        write_log_text(world, "vellumbeacon-watchdog started");
        EXPECT_TRUE(world.files[LOG_PATH] == c.log.substr(c.cut) + (c.fills_after_trim ? "" : line))
            << c.log.size() << " " << c.fills_after_trim;
    }
}

}  // namespace
}  // namespace wd
