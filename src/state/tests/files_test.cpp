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

    const struct {
        std::string bytes;
        std::optional<std::string> want;
    } cases[] = {
        {"", ""},
        {" 41\r\n", " 41\r\n"},
        {"\xEF\xBB\xBF{}", "\xEF\xBB\xBF{}"},
        {"\xFF\xFE", std::nullopt},
        {std::string(MAX_READ_BYTES, ' '), std::string(MAX_READ_BYTES, ' ')},
        {std::string(MAX_READ_BYTES + 1, ' '), std::nullopt},
    };
    for (const auto& c : cases) {
        world.files[p] = c.bytes;
        EXPECT_TRUE(read_text(world, p) == c.want) << c.bytes.size();
    }
    world.files[p] = "\xFF\xFE";
    EXPECT_EQ(read_bytes(world, p), "\xFF\xFE");
}

}  // namespace
}  // namespace wd
