#include "process/probes.h"

#include <gtest/gtest.h>

#include "mem_world.h"

namespace wd {
namespace {

using fakes::MemWorld;
using fakes::ToolCall;

TEST(TasklistArguments, OneOrTwoFiltersThenNoHeaderAndCsv) {
    EXPECT_EQ(tasklist_args(4120, ""),
              (std::vector<std::u16string>{u"/FI", u"PID eq 4120", u"/NH", u"/FO", u"CSV"}));
    EXPECT_EQ(tasklist_args(7, "my player.exe"),
              (std::vector<std::u16string>{u"/FI", u"PID eq 7", u"/FI",
                                           u"IMAGENAME eq my player.exe", u"/NH", u"/FO", u"CSV"}));
}

TEST(TasklistOutput, BareDigitsForThePidProbeQuotedDigitsForThePidAndImageProbe) {
    const std::string row = "\"player.exe\",\"4120\",\"Console\",\"1\",\"12,345 K\"\r\n";
    const struct {
        std::string output;
        std::uint32_t pid;
        bool bare;
        bool quoted;
    } cases[] = {
        {row, 4120, true, true},
        {row, 412, true, false},  // a substring of another number counts as bare digits
        {row, 345, true, false},
        {row, 4121, false, false},
        {"INFO: No tasks are running which match the specified criteria.\r\n", 1, false, false},
        {"", 0, false, false},
        {"\"pl\xE4yer.exe\",\"4120\",\"Console\"", 4120, true, true},  // not UTF-8, still matched
        {"\xFF\"9\"\xFE", 9, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(output_lists_pid(c.output, c.pid), c.bare) << c.output << " " << c.pid;
        EXPECT_EQ(output_lists_quoted_pid(c.output, c.pid), c.quoted) << c.output << " " << c.pid;
    }
}

// Presence by image name is judged only by each row's quoted pid: messages are translated and
// come in the console's code page.
TEST(TasklistOutput, ThePidsOfTheRowsListedByImageName) {
    const struct {
        std::string output;
        std::vector<std::uint32_t> pids;
    } cases[] = {
        {"\"p.exe\",\"12\",\"Console\",\"1\",\"9 K\"\r\n\"P.EXE\",\"4120\",\"Console\"\r\n",
         {12, 4120}},
        {"INFO: No tasks are running which match the specified criteria.\r\n", {}},
        {"INFORMATION : aucune t\x82"
         "che en cours (\"12\")\r\n",
         {}},  // a message, code page 850
        {"\"p.exe\",\"99999999999\",\"Console\"\n\"p.exe\",\"1x\"\n\"p.exe\",\"7", {}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(listed_pids(c.output), c.pids) << c.output;
    EXPECT_EQ(tasklist_image_args("my player.exe"),
              (std::vector<std::u16string>{u"/FI", u"IMAGENAME eq my player.exe", u"/NH", u"/FO",
                                           u"CSV"}));
}

TEST(Probes, RunTasklistAndApplyTheirOwnTest) {
    MemWorld world;
    world.tool_output = [](const ToolCall&) {
        return std::optional<std::string>("\"p.exe\",\"12\"");
    };
    EXPECT_TRUE(pid_running(world, 12));
    EXPECT_TRUE(pid_running_as(world, "p.exe", 12));
    EXPECT_FALSE(pid_running_as(world, "p.exe", 1));  // "1" is in the output, but not quoted
    EXPECT_TRUE(pid_running_as(world, "", 1));        // empty name: the bare-digit probe
    ASSERT_EQ(world.tool_calls.size(), 4u);
    EXPECT_EQ(world.tool_calls[0], (ToolCall{u"tasklist", tasklist_args(12, "")}));
    EXPECT_EQ(world.tool_calls[1], (ToolCall{u"tasklist", tasklist_args(12, "p.exe")}));
    EXPECT_EQ(world.tool_calls[3], (ToolCall{u"tasklist", tasklist_args(1, "")}));

    world.tool_output = [](const ToolCall&) { return std::nullopt; };  // tool missing or hung
    EXPECT_FALSE(pid_running(world, 12));
    EXPECT_FALSE(pid_running_as(world, "p.exe", 12));
}

TEST(ForceEndProcess, FallsBackToTheImageNameOnlyWhenThePidRunFailsAndANameIsKnown) {
    const struct {
        std::optional<std::uint32_t> pid_status;
        std::string image;
        std::size_t runs;
    } cases[] = {
        {0, "player.exe", 1},
        {128, "player.exe", 2},
        {1, "my player.exe", 2},
        {std::nullopt, "player.exe", 2},  // taskkill could not run
        {128, "", 1},
        {std::nullopt, "", 1},
    };
    for (const auto& c : cases) {
        MemWorld world;
        world.tool_status = [&](const ToolCall& call) {
            return call.args[1] == u"/PID" ? c.pid_status : std::optional<std::uint32_t>(0);
        };
        force_end_process(world, 4120, c.image);
        ASSERT_EQ(world.tool_calls.size(), c.runs) << c.image;
        EXPECT_EQ(world.tool_calls[0], (ToolCall{u"taskkill", {u"/F", u"/PID", u"4120"}}));
        if (c.runs == 2) {
            EXPECT_EQ(world.tool_calls[1].args,
                      (std::vector<std::u16string>{
                          u"/F", u"/IM", std::u16string(c.image.begin(), c.image.end())}));
        }
    }
}

}  // namespace
}  // namespace wd
