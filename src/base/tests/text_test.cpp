#include "base/text.h"

#include <gtest/gtest.h>

#include <limits>

namespace wd {
namespace {

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool valid;
};

TEST(Utf8Validation, AcceptsWellFormedAndRejectsEveryIllFormedKind) {
    const Utf8Case cases[] = {
        {"empty", "", true},
        {"ascii", "player hung", true},
        {"two-byte", "\xC3\xA9", true},
        {"three-byte", "\xE2\x82\xAC", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"largest scalar", "\xF4\x8F\xBF\xBF", true},
        {"nul byte is valid UTF-8", std::string("a\0b", 3), true},
        {"bom is valid UTF-8", "\xEF\xBB\xBF{}", true},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"encoded surrogate", "\xED\xA0\x80", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lone continuation", "\x80", false},
        {"truncated sequence", "\xE2\x82", false},
        {"FF FE", "\xFF\xFE", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.name;
    }
}

TEST(Utf16Conversion, KeepsPairsAndReplacesUnpairedSurrogates) {
    EXPECT_TRUE(is_valid_utf16(u"C:\\Users\\k\xD83D\xDE00"));
    EXPECT_FALSE(is_valid_utf16(std::u16string(1, char16_t(0xD800))));
    EXPECT_FALSE(is_valid_utf16(std::u16string(1, char16_t(0xDC00))));
    EXPECT_EQ(utf16_to_utf8_lossy(u"a\xD83D\xDE00z"), "a\xF0\x9F\x98\x80z");
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{u'a', char16_t(0xD800), u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf16_to_utf8_lossy(std::u16string{char16_t(0xDC00), char16_t(0xD800)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(utf8_to_utf16_lossy("\xC3\xA9\xF0\x9F\x98\x80"), u"\u00E9\xD83D\xDE00");
    EXPECT_EQ(utf8_to_utf16_lossy("a\xFF"
                                  "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf8_lossy("7\xFF\"7\""), "7\xEF\xBF\xBD\"7\"");
}

TEST(UnicodeWhitespaceTrim, RemovesWhiteSpacePropertyCharactersAtBothEndsOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"41\r\n", "41"},
        {" \t\v\f4120 \n", "4120"},
        {"\xC2\xA0"
         "7"
         "\xE3\x80\x80",
         "7"},  // NBSP and ideographic space
        {"\xE2\x80\xA8"
         "7"
         "\xC2\x85",
         "7"},           // line separator and NEL
        {"4 2", "4 2"},  // inner blanks stay
        {" \r\n ", ""},
        {"\xE2\x80\x8B"
         "7",
         "\xE2\x80\x8B"
         "7"},                         // zero-width space is not White_Space
        {"7 \x80\x80", "7 \x80\x80"},  // a space with stray continuation bytes is not one
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(trim_unicode_whitespace(in), out) << in;
    }
}

TEST(UnsignedDecimal, AcceptsOptionalPlusAndDigitsWithinRange) {
    constexpr auto U64 = std::numeric_limits<std::uint64_t>::max();
    constexpr std::uint64_t U32 = 4294967295;
    const struct {
        std::string text;
        std::uint64_t max;
        std::optional<std::uint64_t> want;
    } cases[] = {
        {"0", U64, 0},
        {"+45", U64, 45},
        {"007", U64, 7},
        {"18446744073709551615", U64, U64},
        {"18446744073709551616", U64, std::nullopt},
        {"99999999999999999999999", U64, std::nullopt},
        {"4294967295", U32, U32},
        {"4294967296", U32, std::nullopt},
        {"", U64, std::nullopt},
        {"+", U64, std::nullopt},
        {"++1", U64, std::nullopt},
        {"-0", U64, std::nullopt},
        {" 45", U64, std::nullopt},
        {"45 ", U64, std::nullopt},
        {"4.5", U64, std::nullopt},
        {"45s", U64, std::nullopt},
        {"0x10", U64, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_unsigned_decimal(std::string_view(c.text), c.max), c.want) << c.text;
    }
    EXPECT_EQ(parse_unsigned_decimal(std::u16string_view(u"+45"), U64), 45u);
    EXPECT_EQ(parse_unsigned_decimal(std::u16string_view(u"\uFF14\uFF15"), U64), std::nullopt);
}

TEST(AsciiCaseInsensitive, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(equals_ascii_nocase("UnInstall", "uninstall"));
    EXPECT_FALSE(equals_ascii_nocase("uninstaller", "uninstall"));
    EXPECT_FALSE(equals_ascii_nocase("\xC3\x89", "\xC3\xA9"));
    EXPECT_TRUE(equals_ascii_nocase("AZ", "az"));   // both ends of the range fold
    EXPECT_FALSE(equals_ascii_nocase("@[", "`{"));  // their neighbours do not
}

}  // namespace
}  // namespace wd
