#include "base/path.h"

#include <gtest/gtest.h>

namespace wd {
namespace {

TEST(PathJoin, InsertsExactlyOneBackslash) {
    EXPECT_EQ(join(u"C:\\Users\\kiosk\\AppData\\Roaming", u"com.vellumbeacon.player"),
              u"C:\\Users\\kiosk\\AppData\\Roaming\\com.vellumbeacon.player");
    EXPECT_EQ(join(u"C:\\", u"x"), u"C:\\x");
    EXPECT_EQ(join(u"C:/data/", u"x"), u"C:/data/x");
    EXPECT_EQ(join(u"", u"x"), u"x");
}

TEST(PathJoin, CarriesSurrogatesUnitForUnit) {
    const Path base = std::u16string(u"C:\\Users\\k") + char16_t(0xD800) + u"\xD83D\xDE00";
    const Path joined = join(base, u"watchdog");
    EXPECT_EQ(joined.substr(0, base.size()), base);
    EXPECT_EQ(joined.substr(base.size()), u"\\watchdog");
}

TEST(PathComponents, FinalComponentParentAndReplacement) {
    const struct {
        std::u16string path;
        std::optional<std::u16string> last;
        std::optional<std::u16string> parent;
        std::u16string replaced;
    } cases[] = {
        {u"C:\\w\\recoveries.txt", u"recoveries.txt", u"C:\\w", u"C:\\w\\N"},
        {u"C:\\w\\sub\\", u"sub", u"C:\\w", u"C:\\w\\N"},
        {u"C:\\file", u"file", u"C:\\", u"C:\\N"},
        {u"C:\\", std::nullopt, std::nullopt, u"C:\\N"},
        {u"C:", std::nullopt, std::nullopt, u"C:\\N"},
        {u"C:\\w\\..", std::nullopt, std::nullopt, u"C:\\w\\..\\N"},
        {u"name", u"name", std::nullopt, u"N"},
        {u"C:\\w\\a:b", u"a:b", u"C:\\w", u"C:\\w\\N"},  // a colon only ends a drive
        {u"C:name", u"name", u"C:", u"C:N"},
        {u"", std::nullopt, std::nullopt, u"N"},
    };
    for (const auto& c : cases) {
        const auto last = final_component(c.path);
        EXPECT_EQ(last ? std::optional<std::u16string>(*last) : std::nullopt, c.last);
        EXPECT_EQ(parent_folder(c.path), c.parent);
        EXPECT_EQ(with_final_component(c.path, u"N"), c.replaced);
    }
}

TEST(PathComponents, SameComponentsWhateverTheSeparators) {
    const struct {
        std::u16string a, b;
        bool same;
    } cases[] = {
        {u"C:\\A\\watchdog.exe", u"C:\\A/watchdog.exe", true},
        {u"C:\\A\\watchdog.exe", u"C:\\A\\\\watchdog.exe", true},
        {u"C:/A//watchdog.exe", u"C:\\A\\watchdog.exe", true},
        {u"C:\\A\\watchdog.exe", u"C:\\A\\Watchdog.exe", false},
        {u"C:\\A\\watchdog.exe", u"C:\\A\\watchdog.ex", false},
        {u"C:\\A\\watchdog.exe", u"C:\\AB\\watchdog.exe", false},
        {u"C:\\A\\", u"C:\\A", false},
        {u"", u"", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(same_components(c.a, c.b), c.same)
            << path_display(c.a) << " " << path_display(c.b);
        EXPECT_EQ(same_components(c.b, c.a), c.same)
            << path_display(c.b) << " " << path_display(c.a);
    }
}

TEST(PathDisplay, ShowsUnpairedSurrogateAsReplacementCharacter) {
    const Path p = std::u16string(u"C:\\p") + char16_t(0xDC01) + u".exe";
    EXPECT_EQ(path_display(p), "C:\\p\xEF\xBF\xBD.exe");
}

}  // namespace
}  // namespace wd
