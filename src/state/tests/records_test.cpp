#include "state/records.h"
#include "state/recovery.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace wd {
namespace {

struct Case {
    std::string text;
    bool valid;
};

// Rules shared by all four readers, shown on closed.json.
TEST(RecordSyntax, StrictJsonObjectOrArrayAndNothingElse) {
    const Case cases[] = {
        {R"J({"closedAt":5})J", true},
        {"{\"closedAt\":5}\n", true},
        {" \t\r\n{\"closedAt\":5} \t\r\n", true},
        {"[5]", true},
        {"[5,null]", true},
        {"[5,-7]", true},
        {"[5,1,2]", false},  // more elements than fields
        {"[]", false},       // required field missing
        {"[null]", false},
        {"[[5]]", false},
        {"5", false},  // scalar root
        {"\"x\"", false},
        {"null", false},
        {"", false},
        {R"J({"closedAt":5)J", false},     // truncated
        {R"J({"closedAt":5} x)J", false},  // trailing garbage
        {R"J({"closedAt":5}{})J", false},
        {"\xEF\xBB\xBF{\"closedAt\":5}", false},         // byte-order mark
        {std::string("{\"closedAt\":5}\0", 15), false},  // NUL after the value
        {std::string("{\"closedAt\":5\0}", 15), false},
        {"{\"closedAt\":5}\f", false},    // form feed is not JSON whitespace
        {R"J({"closedAt":5,})J", false},  // trailing comma
        {R"J({"closedAt":5 /* c */})J", false},
        {"{'closedAt':5}", false},
        {R"J({"closedAt":5,"x":"\ud800"})J", false},  // lone surrogate escape
        {"{\"closedAt\":5,\"x\":\"\x01\"}", false},   // raw control character
        {"{\"closedAt\":5,\"x\":\"\xC3\"}", false},   // malformed UTF-8
        {R"J({"closedAt":5,"x":1e400})J", false},     // out of range even when skipped
        {R"J({"closedAt":5,"x":NaN})J", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_closed_flag(c.text).has_value(), c.valid) << c.text;
    }
}

TEST(RecordSyntax, UnknownKeysAreSkippedWhateverTheyHoldAndKnownKeysOnlyOnce) {
    const Case cases[] = {
        {R"J({"closedAt":5,"extra":{"deep":[1,{"closedAt":"x"},[[]]]}})J", true},
        {R"J({"x":[1,2],"closedAt":5,"x":true,"x":null,"x":1.5,"x":-1})J", true},
        {R"J({"Closedat":5})J", false},  // names are case-sensitive
        {R"J({"closedAt":5,"closedAt":5})J", false},
        {R"J({"closedAt":5,"logonTime":null,"logonTime":null})J", false},
        {R"J({"closedAt":{"v":5}})J", false},  // a container where a field's value belongs
        {R"J({"closedAt":[5]})J", false},
        {R"J({})J", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_closed_flag(c.text).has_value(), c.valid) << c.text;
    }
    const auto nested = parse_closed_flag(R"J({"closedAt":5,"o":{"a":[1,2]}})J");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->closed_at, 5u);
    EXPECT_EQ(nested->logon_time, std::nullopt);
}

TEST(RecordIntegers, KindsAndRangesPerField) {
    const struct {
        std::string text;
        std::optional<std::uint64_t> closed_at;
        std::optional<std::int64_t> logon_time;
        bool valid;
    } cases[] = {
        {R"J({"closedAt":18446744073709551615})J", 18446744073709551615u, std::nullopt, true},
        {R"J({"closedAt":18446744073709551616})J", {}, {}, false},
        {R"J({"closedAt":0})J", 0, std::nullopt, true},
        {R"J({"closedAt":-0})J", 0, std::nullopt, true},  // zero, not a negative value
        {R"J({"closedAt":-5})J", {}, {}, false},
        {R"J({"closedAt":5.0})J", {}, {}, false},
        {R"J({"closedAt":5e0})J", {}, {}, false},
        {R"J({"closedAt":"5"})J", {}, {}, false},
        {R"J({"closedAt":true})J", {}, {}, false},
        {R"J({"closedAt":null})J", {}, {}, false},
        {R"J({"closedAt":1,"logonTime":-9223372036854775808})J", 1, INT64_MIN, true},
        {R"J({"closedAt":1,"logonTime":9223372036854775807})J", 1, INT64_MAX, true},
        {R"J({"closedAt":1,"logonTime":9223372036854775808})J", {}, {}, false},
        {R"J({"closedAt":1,"logonTime":-9223372036854775809})J", {}, {}, false},
        {R"J({"closedAt":1,"logonTime":133000000000000000})J", 1, 133000000000000000, true},
        {R"J({"closedAt":1,"logonTime":1.5})J", {}, {}, false},
    };
    for (const auto& c : cases) {
        const auto flag = parse_closed_flag(c.text);
        ASSERT_EQ(flag.has_value(), c.valid) << c.text;
        if (!flag) continue;
        EXPECT_EQ(flag->closed_at, c.closed_at) << c.text;
        EXPECT_EQ(flag->logon_time, c.logon_time) << c.text;
    }
}

TEST(LivenessRecordReader, PidIsUnsigned32AndBothFieldsRequired) {
    const Case cases[] = {
        {R"J({"pid":7,"ts":1})J", true},
        {"{\"pid\":7,\"ts\":1}\n", true},
        {"{\"pid\":7,\"ts\":1} x", false},
        {R"J({"pid":4294967295,"ts":1})J", true},
        {R"J({"pid":4294967296,"ts":1})J", false},
        {R"J({"pid":-1,"ts":1})J", false},
        {R"J({"pid":7})J", false},
        {R"J({"ts":1})J", false},
        {R"J({"pid":null,"ts":1})J", false},
        {"[7,1]", true},
        {"[7]", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_liveness_record(c.text).has_value(), c.valid) << c.text;
    }
    const auto rec = parse_liveness_record(R"J({"ts":1765000000000,"pid":4120})J");
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->pid, 4120u);
    EXPECT_EQ(rec->ts, 1765000000000u);
}

TEST(PlayerInfoReader, TwoRequiredTextsAndTwoOptionalNumbers) {
    const Case cases[] = {
        {R"J({"exePath":"C:\\p\\player.exe"})J", false},  // imageName is required
        {R"J({"exePath":"C:\\p\\player.exe","imageName":""})J", true},
        {R"J({"exePath":"a","imageName":"b","pid":null,"startedAt":null})J", true},
        {R"J({"exePath":"a","imageName":"b","pid":4294967296})J", false},
        {R"J({"exePath":"a","imageName":5})J", false},
        {R"J({"exePath":null,"imageName":"b"})J", false},
        {R"J(["a","b"])J", true},
        {R"J(["a","b",12,13])J", true},
        {R"J(["a","b",12,13,14])J", false},
        {R"J(["a"])J", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_player_info(c.text).has_value(), c.valid) << c.text;
    }
    const auto info = parse_player_info(
        R"J({"exePath":"C:\\Program Files\\Vellum\\player.exe","imageName":"player.exe","pid":4120,"startedAt":1765000000000})J");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->exe_path, "C:\\Program Files\\Vellum\\player.exe");
    EXPECT_EQ(info->image_name, "player.exe");
    EXPECT_EQ(info->pid, 4120u);
    EXPECT_EQ(info->started_at, 1765000000000u);
    const auto bare = parse_player_info(R"J({"exePath":"a","imageName":"b"})J");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->pid, std::nullopt);
    EXPECT_EQ(bare->started_at, std::nullopt);
}

TEST(PlayerInfoReader, AnEscapedNulSurvivesIntoTheTextInsteadOfShorteningIt) {
    const auto info =
        parse_player_info(R"J({"exePath":"C:\\p.exe\u0000.txt","imageName":"p.exe"})J");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->exe_path, std::string("C:\\p.exe\0.txt", 13));
}

TEST(UpdatingSentinelReader, VersionMustBeAStringAndStartUnsigned) {
    const Case cases[] = {
        {R"J({"startedAtMs":5})J", false},
        {R"J({"startedAtMs":5,"version":""})J", true},
        {R"J({"startedAtMs":5,"version":"2.1.0"})J", true},
        {R"J({"startedAtMs":5,"version":2})J", false},
        {R"J({"startedAtMs":-5,"version":"2"})J", false},
        {R"J({"version":"2"})J", false},
        {R"J([5,"2"])J", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_updating_sentinel(c.text).has_value(), c.valid) << c.text;
    }
    EXPECT_EQ(parse_updating_sentinel(R"J({"version":"v","startedAtMs":9})J")->started_at_ms, 9u);
}

TEST(LastCrashRecord, IsByteExact) {
    const std::string example =
        format_last_crash_record("player hung - ended and started again", 5);
    EXPECT_EQ(example, R"J({"what":"player hung - ended and started again","at":5})J");
    EXPECT_EQ(example.size(), 55u);

    const std::pair<std::string, std::string> escapes[] = {
        {"tab\tquote\"", R"J(tab\tquote\")J"},
        {"back\\slash/", R"J(back\\slash/)J"},
        {"\b\f\n\r", R"J(\b\f\n\r)J"},
        {std::string("\0\x01\x1f\x7f", 4), "\\u0000\\u0001\\u001f\x7f"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
    };
    for (const auto& [what, escaped] : escapes) {
        EXPECT_EQ(format_last_crash_record(what, 0), "{\"what\":\"" + escaped + "\",\"at\":0}");
    }
    EXPECT_EQ(format_last_crash_record("x", 18446744073709551615u),
              R"J({"what":"x","at":18446744073709551615})J");
}

TEST(LastCrashRecord, RoundTripsEveryControlCharacterQuoteAndNonAsciiText) {
    std::string what;
    for (int c = 0; c < 0x80; ++c) what.push_back(static_cast<char>(c));
    what += "\\\"/ caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    const auto parsed = nlohmann::json::parse(format_last_crash_record(what, 1765000000000));
    EXPECT_EQ(parsed.at("what").get<std::string>(), what);
    EXPECT_EQ(parsed.at("at").get<std::uint64_t>(), 1765000000000u);
}

}  // namespace
}  // namespace wd
