#include "process/child.h"

#include <gtest/gtest.h>

#include "mem_world.h"

namespace wd {
namespace {

using fakes::MemWorld;

class FakeChild : public ChildProcess {
  public:
    explicit FakeChild(int* released) : released_(released) {}
    ~FakeChild() override { ++*released_; }
    std::uint32_t pid() const override { return 4120; }
    ChildPoll wait_for_exit(std::uint32_t) override { return ChildRunning{}; }
    void terminate_and_wait() override { ++terminated; }
    int terminated = 0;

  private:
    int* released_;
};

TEST(SpawnPlayer, LogsTheLaunchOrTheFailureWithThePathShownAsText) {
    MemWorld world;
    int released = 0;
    world.spawner = [&](const Path&) {
        return SpawnResult(std::make_unique<FakeChild>(&released));
    };
    Log log(world);
    PlayerChild child = spawn_player(world, log, u"C:\\p\\player.exe");
    ASSERT_TRUE(child);
    EXPECT_EQ(world.stderr_text, "[1765000000000] spawned player pid=4120 (C:\\p\\player.exe)\n");

    world.stderr_text.clear();
    world.spawner = [](const Path&) {
        return SpawnResult(std::string("The system cannot find the file specified. (os error 2)"));
    };
    Path odd = u"C:\\p\\pl";
    odd.push_back(char16_t(0xD800));
    EXPECT_FALSE(spawn_player(world, log, odd));
    EXPECT_EQ(world.stderr_text,
              "[1765000000000] spawn failed (C:\\p\\pl\xEF\xBF\xBD): The system cannot find the "
              "file specified. (os error 2)\n");

    child.reset();
    EXPECT_EQ(released, 1);
}

// A launch adds ".exe" only to a path without it, and only when that file exists.
TEST(LaunchedFile, ExeIsAddedOnlyToAPathWithoutItWhenThatFileExists) {
    const struct {
        Path program;
        Path exists;
        Path want;
    } rows[] = {
        {u"C:\\p\\player", u"C:\\p\\player.exe", u"C:\\p\\player.exe"},
        {u"C:\\p\\player", u"C:\\p\\other.exe", u"C:\\p\\player"},
        {u"C:\\p\\player.exe", u"C:\\p\\player.exe.exe", u"C:\\p\\player.exe"},
        {u"C:\\p\\player.EXE", u"C:\\p\\player.EXE.exe", u"C:\\p\\player.EXE"},
    };
    for (const auto& row : rows) {
        MemWorld world;
        world.files[row.exists] = "MZ";
        EXPECT_EQ(launched_file(world, row.program), row.want) << path_display(row.program);
    }
}

TEST(EndChild, TerminatesBeforeItReleases) {
    struct Recording : ChildProcess {
        std::vector<std::string>* events = nullptr;
        ~Recording() override { events->push_back("release"); }
        std::uint32_t pid() const override { return 1; }
        ChildPoll wait_for_exit(std::uint32_t) override { return ChildRunning{}; }
        void terminate_and_wait() override { events->push_back("terminate"); }
    };
    std::vector<std::string> events;
    auto child = std::make_unique<Recording>();
    child->events = &events;
    end_child(std::move(child));
    EXPECT_EQ(events, (std::vector<std::string>{"terminate", "release"}));
    end_child(nullptr);  // no child: nothing to end
}

TEST(ExitDescription, DecimalUpToTheHighBitThenLowerCaseHex) {
    const std::pair<std::uint32_t, std::string> cases[] = {
        {0, "code 0"},
        {3, "code 3"},
        {2147483647u, "code 2147483647"},
        {2147483648u, "code 0x80000000"},
        {3221225477u, "code 0xc0000005"},
        {4294967295u, "code 0xffffffff"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(exit_description(code), text);
    }
}

}  // namespace
}  // namespace wd
