#include "state/files.h"

#include <gtest/gtest.h>

#include "mem_world.h"

namespace wd {
namespace {

using fakes::MemWorld;

TEST(TemporaryName, IsDotNameTmpPidSequenceInTheTargetsFolder) {
    const struct {
        Path target;
        std::uint32_t pid;
        std::uint64_t seq;
        Path want;
    } cases[] = {
        {u"C:\\w\\recoveries.txt", 77, 0, u"C:\\w\\.recoveries.txt.tmp.77.0"},
        {u"C:\\w\\last-crash.json", 4294967295u, 18446744073709551615u,
         u"C:\\w\\.last-crash.json.tmp.4294967295.18446744073709551615"},
        {u"C:\\", 77, 0, u"C:\\.state.tmp.77.0"},
        {u"watchdog.lock", 1, 2, u".watchdog.lock.tmp.1.2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(temp_path_for(c.target, c.pid, c.seq), c.want);
    }
}

TEST(TemporaryName, ShowsAnUnpairedSurrogateOfTheNameAsReplacementButKeepsTheFolder) {
    const Path folder = std::u16string(u"C:\\k") + char16_t(0xD800);
    const Path target = folder + u"\\a" + char16_t(0xDC00) + u".txt";
    EXPECT_EQ(temp_path_for(target, 9, 3), folder + u"\\.a\uFFFD.txt.tmp.9.3");
}

TEST(ReadText, AbsentUnlessValidUtf8WithinTheBoundAndNeverTrimmed) {
    MemWorld world;
    const Path p = u"C:\\f";
    EXPECT_EQ(read_text(world, p), std::nullopt);  // missing

    constexpr auto ASK = FailureReasons::Ask;
    EXPECT_EQ(read_text_file(world, p, ASK).state, FileState::Missing);
    EXPECT_EQ(read_text_file(world, std::nullopt).state, FileState::Missing);
    // The watchdog's checks do not ask why: no query beyond the read itself.
    EXPECT_EQ(read_text_file(world, p).state, FileState::Unreadable);

    // How the file was found, for those that report it (the status report).
    const struct {
        std::string bytes;
        std::optional<std::string> want;
        FileState state;
    } cases[] = {
        {"", "", FileState::Ok},
        {" 41\r\n", " 41\r\n", FileState::Ok},
        {"\xEF\xBB\xBF{}", "\xEF\xBB\xBF{}", FileState::Ok},
        {"\xFF\xFE", std::nullopt, FileState::Corrupt},
        {std::string(MAX_READ_BYTES, ' '), std::string(MAX_READ_BYTES, ' '), FileState::Ok},
        {std::string(MAX_READ_BYTES + 1, ' '), std::nullopt, FileState::Oversized},
    };
    for (const auto& c : cases) {
        world.files[p] = c.bytes;
        EXPECT_TRUE(read_text(world, p) == c.want) << c.bytes.size();
        const auto read = read_text_file(world, p, ASK);
        EXPECT_EQ(read.state, c.state) << c.bytes.size();
        EXPECT_TRUE(read.value == c.want) << c.bytes.size();
    }
    world.files[p] = "41";
    world.on_read = [](const Path&, const std::optional<std::string>&) {
        return std::optional<std::string>();  // there, but held by another program
    };
    EXPECT_EQ(read_text_file(world, p, ASK).state, FileState::Unreadable);
    world.on_read = nullptr;
    world.files[p] = "\xFF\xFE";
    EXPECT_EQ(read_file_bytes(world, p), "\xFF\xFE");
}

}  // namespace
}  // namespace wd
