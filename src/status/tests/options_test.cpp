#include "status/options.h"

#include <gtest/gtest.h>

namespace wd {
namespace {

TEST(StatusOptions, OnlyTheKnownOptions) {
    const struct {
        std::vector<std::string> args;
        bool ok;
        bool json;
        std::size_t lines;
        std::optional<Path> folder = std::nullopt;
    } cases[] = {
        {{}, true, false, 10},
        {{"--json"}, true, true, 10},
        {{"--lines", "3", "--json"}, true, true, 3},
        {{"--lines", "0"}, true, false, 0},
        {{"--lines", "1000"}, true, false, 1000},
        {{"--lines", "1001"}, false, false, 0},
        {{"--lines", "-1"}, false, false, 0},
        {{"--lines"}, false, false, 0},
        {{"--folder", "D:\\kiosk\\watchdog", "--json"}, true, true, 10, u"D:\\kiosk\\watchdog"},
        {{"--folder"}, false, false, 0},
        {{"--folder", ""}, false, false, 0},
        {{"--JSON"}, false, false, 0},
        {{"status"}, false, false, 0},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto got = parse_status_args(c.args, error);
        ASSERT_EQ(got.has_value(), c.ok) << testing::PrintToString(c.args);
        if (got) {
            EXPECT_EQ(got->json, c.json);
            EXPECT_EQ(got->lines, c.lines);
            EXPECT_EQ(got->folder, c.folder);
        } else {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(error.find('\n'), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace wd
