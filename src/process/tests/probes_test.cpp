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

// A run that failed is no answer, whatever its output holds; a message of the tool's own (in
// any language) is the answer "nothing matches".
TEST(TasklistOutput, ARunIsAnAnswerOnlyWhenItEndedWellWithRowsOrTheToolsMessage) {
    using fakes::tool_printed;
    const std::string row = "\"p.exe\",\"12\",\"Console\",\"1\",\"9 K\"\r\n";
    const struct {
        ToolOutput run;
        std::optional<std::string> failure;
    } cases[] = {
        {tool_printed(row), std::nullopt},
        {tool_printed("INFO: No tasks are running which match the specified criteria.\r\n"),
         std::nullopt},
        {tool_printed("INFORMATION : aucune t\x82"
                      "che en cours\r\n\r\n"),
         std::nullopt},
        {ToolOutput{ToolRun::NotStarted, {}, 0}, "could not be run"},
        {ToolOutput{ToolRun::TimedOut, {}, 0}, "not done in time"},
        {ToolOutput{ToolRun::Unreadable, {}, 0}, "output unreadable"},
        {tool_printed(row, 1), "exit status 1"},
        {tool_printed("ERROR: Access denied.\r\n"), "reported an error"},
        {tool_printed(row + "Error: the list was cut short\r\n"), "reported an error"},
        {tool_printed(""), "output not understood"},  // Wine's own tasklist
        {tool_printed("\xFF\xFE garbage \"x\",12 \x80\n"), "output not understood"},
        {tool_printed("INFO: one\r\nINFO: two\r\n"), "output not understood"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tasklist_failure(c.run), c.failure) << c.run.output;
    }
}

TEST(Probes, RunTasklistAndSayRunningNotRunningOrUnknown) {
    MemWorld world;
    world.tool_output = [](const ToolCall&) { return fakes::tool_printed("\"p.exe\",\"12\""); };
    const ProbeAnswer running{Seen::Running, {}}, not_running{Seen::NotRunning, {}};
    EXPECT_EQ(pid_running(world, 12), running);
    EXPECT_EQ(pid_running_as(world, "p.exe", 12), running);
    EXPECT_EQ(pid_running_as(world, "p.exe", 1), not_running);  // "1" is there, but not quoted
    EXPECT_EQ(pid_running_as(world, "", 1), running);           // empty name: the bare-digit probe
    EXPECT_EQ(pids_running_as(world, "p.exe").pids, std::vector<std::uint32_t>{12});
    ASSERT_EQ(world.tool_calls.size(), 5u);
    EXPECT_EQ(world.tool_calls[0], (ToolCall{u"tasklist", tasklist_args(12, "")}));
    EXPECT_EQ(world.tool_calls[1], (ToolCall{u"tasklist", tasklist_args(12, "p.exe")}));
    EXPECT_EQ(world.tool_calls[3], (ToolCall{u"tasklist", tasklist_args(1, "")}));
    EXPECT_EQ(world.tool_calls[4], (ToolCall{u"tasklist", tasklist_image_args("p.exe")}));

    // The same output from a run that failed says nothing.
    world.tool_output = [](const ToolCall&) { return fakes::tool_printed("\"p.exe\",\"12\"", 1); };
    const ProbeAnswer unknown{Seen::Unknown, "exit status 1"};
    EXPECT_EQ(pid_running(world, 12), unknown);
    EXPECT_EQ(pid_running_as(world, "p.exe", 12), unknown);
    EXPECT_EQ(pids_running_as(world, "p.exe").pids, std::nullopt);
    EXPECT_EQ(pids_running_as(world, "p.exe").why, "exit status 1");
    EXPECT_EQ(pids_running_as(world, "").pids, std::vector<std::uint32_t>{}) << "nothing to ask";
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
