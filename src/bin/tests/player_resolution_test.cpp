#include "bin/player_resolution.h"

#include <gtest/gtest.h>

#include "process/probes.h"
#include "sim_world.h"

namespace wd {
namespace {

using fakes::MemWorld;
using fakes::SimWorld;

const Path APP_FOLDER = u"C:\\Program Files\\Vellum";
const Path WATCHDOG_EXE = APP_FOLDER + u"\\watchdog.exe";
using fakes::PLAYER_JSON;

// player.json as the player would write it (for the resolution's fresh read).
void world_player_json(MemWorld& world, const PlayerInfo& info) {
    fakes::put(world, PLAYER_JSON,
               fakes::player_json(std::nullopt, std::nullopt, info.exe_path, info.image_name));
}

TEST(IdentifyPlayer, OwnChildThenPlayerRecordThenLivenessPidAlwaysUnderTheImageName) {
    const PlayerInfo info{"C:\\p\\player.exe", "player.exe", 100, 1765000000000};
    const PlayerInfo no_pid{"C:\\p\\player.exe", "player.exe", std::nullopt, std::nullopt};
    const PlayerInfo nameless{"C:\\p\\signage.exe", "", 100, std::nullopt};
    const struct {
        const char* name;
        bool child_running;
        std::optional<PlayerInfo> player;
        std::optional<LivenessRecord> liveness;
        std::map<std::uint32_t, std::string> alive;  // pid and image name
        bool exe_resolves;
        bool found;
        std::optional<std::uint32_t> adopted_pid;
        std::optional<std::uint64_t> started_at;
        const char* image;  // the name the probes asked for
        std::vector<std::vector<std::u16string>> probes;
        std::uint32_t ended_pid = 0;  // seen to end a moment ago
    } cases[] = {
        // clang-format off
        {"own child: no probe",
         true, info, LivenessRecord{200, 1}, {{100, "player.exe"}}, true,
         true, std::nullopt, std::nullopt, "", {}},
        {"player.json pid alive",
         false, info, std::nullopt, {{100, "player.exe"}}, true,
         true, 100u, 1765000000000u, "player.exe", {tasklist_args(100, "player.exe")}},
        {"same pid gone in both records: one probe",
         false, info, LivenessRecord{100, 1}, {}, true,
         false, std::nullopt, std::nullopt, "player.exe", {tasklist_args(100, "player.exe")}},
        {"player.json pid gone, other liveness pid alive",
         false, info, LivenessRecord{200, 1}, {{200, "player.exe"}}, true,
         true, 200u, std::nullopt, "player.exe",
         {tasklist_args(100, "player.exe"), tasklist_args(200, "player.exe")}},
        {"a stranger under player.json's pid",
         false, info, std::nullopt, {{100, "other.exe"}}, true,
         false, std::nullopt, std::nullopt, "player.exe", {tasklist_args(100, "player.exe")}},
        {"no player.json: the liveness pid under the launch's image",
         false, std::nullopt, LivenessRecord{200, 1}, {{200, "PLAYER.EXE"}}, true,
         true, 200u, std::nullopt, "player.exe", {tasklist_args(200, "player.exe")}},
        {"no player.json: a stranger under the liveness pid",
         false, std::nullopt, LivenessRecord{200, 1}, {{200, "explorer.exe"}}, true,
         false, std::nullopt, std::nullopt, "player.exe", {tasklist_args(200, "player.exe")}},
        {"no player.json, no executable: nothing adopted, no probe",
         false, std::nullopt, LivenessRecord{200, 1}, {{200, "player.exe"}}, false,
         false, std::nullopt, std::nullopt, "", {}},
        {"empty imageName: exePath's file name",
         false, nameless, std::nullopt, {{100, "signage.exe"}}, true,
         true, 100u, std::nullopt, "signage.exe", {tasklist_args(100, "signage.exe")}},
        {"empty imageName: a stranger",
         false, nameless, std::nullopt, {{100, "explorer.exe"}}, true,
         false, std::nullopt, std::nullopt, "signage.exe", {tasklist_args(100, "signage.exe")}},
        {"record without pid: liveness only",
         false, no_pid, LivenessRecord{300, 1}, {}, true,
         false, std::nullopt, std::nullopt, "player.exe", {tasklist_args(300, "player.exe")}},
        {"nothing known",
         false, std::nullopt, std::nullopt, {}, true,
         false, std::nullopt, std::nullopt, "", {}},
        {"a pid seen to end is not asked about; the other one is",
         false, info, LivenessRecord{200, 1}, {{200, "player.exe"}}, true,
         true, 200u, std::nullopt, "player.exe", {tasklist_args(200, "player.exe")}, 100},
        {"a pid seen to end counts as gone in both records, even if taken again",
         false, info, LivenessRecord{100, 1}, {{100, "player.exe"}}, true,
         false, std::nullopt, std::nullopt, "player.exe", {}, 100},
        // clang-format on
    };
    for (const auto& c : cases) {
        SimWorld world;
        if (c.exe_resolves) {
            world.create_dirs(u"C:\\p");
            world.files[u"C:\\p\\signage.exe"] = "MZ";
            if (c.player) world_player_json(world, *c.player);
        } else {
            world.files.erase(world.player_exe);
        }
        for (const auto& [pid, image] : c.alive) world.add_process(pid, image);
        const Identification got =
            identify_player(world, c.child_running, c.player, c.liveness, c.ended_pid);
        EXPECT_EQ(got.player_alive, c.found) << c.name;
        EXPECT_EQ(got.adopted_pid, c.adopted_pid) << c.name;
        EXPECT_EQ(got.adopted_started_at_ms, c.started_at) << c.name;
        EXPECT_EQ(got.image_name, c.image) << c.name;
        std::vector<std::vector<std::u16string>> probes;
        for (const auto& call : world.tool_calls) probes.push_back(call.args);
        EXPECT_EQ(probes, c.probes) << c.name;
    }
}

TEST(LaunchImageName, TheFileNameTheLaunchStarts) {
    SimWorld world;
    world.create_dirs(u"C:\\p");
    world.files[u"C:\\p\\player.exe"] = "MZ";
    world.files[u"C:\\p\\tool"] = "MZ";
    const std::pair<Path, std::string> cases[] = {
        {u"C:\\p\\player.exe", "player.exe"},
        {u"C:\\p\\Player.EXE", "Player.EXE"},
        {u"C:\\p\\player", "player.exe"},  // the launch tries player.exe first
        {u"C:\\p\\tool", "tool"},          // no tool.exe: started as it is
        {u"player", "player.exe"},         // a bare name is searched for with .exe
        {u"player.bin", "player.bin"},
        {u"C:\\", ""},
    };
    for (const auto& [exe, image] : cases) {
        EXPECT_EQ(launch_image_name(world, exe), image) << path_display(exe);
    }
}

class Resolution : public testing::Test {
  protected:
    Resolution() {
        world_.create_dirs(APP_FOLDER);
        world_.files[WATCHDOG_EXE] = "MZ";
        world_.own_exe = WATCHDOG_EXE;
    }
    void player_json(const std::string& exe_path) {
        fakes::put(world_, PLAYER_JSON, fakes::player_json(std::nullopt, std::nullopt, exe_path));
    }
    MemWorld world_;
};

TEST_F(Resolution, OverrideThenPlayerRecordThenSibling) {
    world_.files[u"C:\\override.exe"] = "";
    world_.files[u"C:\\p\\player.exe"] = "";
    world_.files[APP_FOLDER + u"\\sibling.exe"] = "";
    player_json("C:\\p\\player.exe");

    world_.environment[std::u16string(PLAYER_EXE_VAR)] = u"C:\\override.exe";
    EXPECT_EQ(resolve_player_exe(world_), Path(u"C:\\override.exe"));

    world_.environment[std::u16string(PLAYER_EXE_VAR)] = u"C:\\missing.exe";
    EXPECT_EQ(resolve_player_exe(world_), Path(u"C:\\p\\player.exe"));

    world_.environment[std::u16string(PLAYER_EXE_VAR)] = u"";
    world_.files.erase(PLAYER_JSON);
    EXPECT_EQ(resolve_player_exe(world_), APP_FOLDER + u"\\sibling.exe");

    world_.files.erase(APP_FOLDER + u"\\sibling.exe");
    EXPECT_EQ(resolve_player_exe(world_), std::nullopt);
}

TEST_F(Resolution, AnOverrideFolderQualifiesButNotAnUnpairedSurrogateOrNul) {
    world_.create_dirs(u"C:\\players");
    world_.environment[std::u16string(PLAYER_EXE_VAR)] = u"C:\\players";
    EXPECT_EQ(resolve_player_exe(world_), Path(u"C:\\players"));

    Path odd = u"C:\\players";
    odd.push_back(char16_t(0xD800));
    world_.folders.insert(odd);
    world_.environment[std::u16string(PLAYER_EXE_VAR)] = odd;
    EXPECT_EQ(resolve_player_exe(world_), std::nullopt);

    world_.environment.clear();
    world_.files[u"C:\\p.exe"] = "";
    player_json(std::string("C:\\p.exe") + '\0' + ".txt");  // names C:\p.exe only if cut at the NUL
    EXPECT_EQ(resolve_player_exe(world_), std::nullopt);
}

TEST_F(Resolution, SiblingRulesForStemsExtensionsAndKinds) {
    const struct {
        const char* name;
        std::vector<std::u16string> files;
        std::vector<std::u16string> folders;
        std::optional<std::u16string> want;
    } cases[] = {
        {"uninstaller stems and upper-case extensions",
         {u"Uninstall.exe", u"Player.EXE", u"UNINSTALL.exe"},
         {},
         std::nullopt},
        {"first in listing order", {u"b.exe", u"a.exe"}, {}, u"a.exe"},
        {"uninstall.tool is not uninstall", {u"uninstall.tool.exe"}, {}, u"uninstall.tool.exe"},
        {"uninstaller is not uninstall", {u"uninstaller.exe"}, {}, u"uninstaller.exe"},
        {"a file named .exe has no extension", {u".exe", u"player.exe.bak"}, {}, std::nullopt},
        {"a folder is not a file", {}, {u"tools.exe"}, std::nullopt},
        {"other extensions", {u"player.com", u"player.ex", u"player.exe."}, {}, std::nullopt},
        {"beside the rules", {u"Uninstall.exe", u"player.exe"}, {}, u"player.exe"},
        // As the package installs it: the watchdog alone with its own programs.
        {"the product's own programs", {u"watchdog-status.exe", u"WATCHDOG.exe"}, {}, std::nullopt},
        {"the player beside them", {u"watchdog-status.exe", u"zplayer.exe"}, {}, u"zplayer.exe"},
    };
    for (const auto& c : cases) {
        MemWorld world;
        world.create_dirs(APP_FOLDER);
        world.files[WATCHDOG_EXE] = "MZ";
        world.own_exe = WATCHDOG_EXE;
        for (const auto& f : c.files) world.files[join(APP_FOLDER, f)] = "";
        for (const auto& d : c.folders) world.create_dirs(join(APP_FOLDER, d));
        const auto got = find_sibling_exe(world);
        EXPECT_EQ(got, c.want ? std::optional<Path>(join(APP_FOLDER, *c.want)) : std::nullopt)
            << c.name;
    }
}

// Also when it was renamed, so that its name alone does not give it away.
TEST_F(Resolution, TheWatchdogIsNeverItsOwnSiblingHoweverItsPathIsSpelt) {
    for (const std::u16string name : {u"watchdog.exe", u"kiosk-guard.exe"}) {
        world_.files[join(APP_FOLDER, name)] = "MZ";
        for (const std::u16string separator : {u"/", u"\\", u"\\\\"}) {
            const Path own = join(APP_FOLDER + separator, name);
            world_.own_exe = own;
            EXPECT_EQ(find_sibling_exe(world_), std::nullopt) << path_display(own);
        }
    }
}

TEST_F(Resolution, NoOwnPathOrNoListingGivesNoSibling) {
    world_.files[APP_FOLDER + u"\\player.exe"] = "";
    EXPECT_EQ(find_sibling_exe(world_), APP_FOLDER + u"\\player.exe");
    world_.own_exe = Path(u"watchdog.exe");  // no folder
    EXPECT_EQ(find_sibling_exe(world_), std::nullopt);
    world_.own_exe.reset();
    EXPECT_EQ(find_sibling_exe(world_), std::nullopt);
    world_.own_exe = Path(u"C:\\gone\\watchdog.exe");
    EXPECT_EQ(find_sibling_exe(world_), std::nullopt);
}

}  // namespace
}  // namespace wd
