#include "bin/player_resolution.h"

#include <gtest/gtest.h>

#include "mem_world.h"
#include "process/probes.h"

namespace wd {
namespace {

using testing::MemWorld;
using testing::ToolCall;

const Path APP_FOLDER = u"C:\\Program Files\\Vellum";
const Path WATCHDOG_EXE = APP_FOLDER + u"\\watchdog.exe";
const Path PLAYER_JSON =
    u"C:\\Users\\kiosk\\AppData\\Roaming\\com.vellumbeacon.player\\watchdog\\player.json";

// tasklist answers as Windows does for the processes in `alive` (pid and image name).
void run_processes(MemWorld& world, const std::map<std::uint32_t, std::string>& alive) {
    world.tool_output = [alive](const ToolCall& call) -> std::optional<std::string> {
        for (const auto& [pid, image] : alive) {
            if (call.args == tasklist_args(pid, "") || call.args == tasklist_args(pid, image)) {
                return "\"" + image + "\",\"" + std::to_string(pid) +
                       "\",\"Console\",\"1\",\"9 K\"\r\n";
            }
        }
        return "INFO: No tasks are running which match the specified criteria.\r\n";
    };
}

TEST(IdentifyPlayer, OwnChildThenPlayerRecordThenLivenessPid) {
    const PlayerInfo info{"C:\\p\\player.exe", "player.exe", 100, 1765000000000};
    const PlayerInfo no_pid{"C:\\p\\player.exe", "player.exe", std::nullopt, std::nullopt};
    const PlayerInfo nameless{"C:\\p\\player.exe", "", 100, std::nullopt};
    const struct {
        const char* name;
        bool child_running;
        std::optional<PlayerInfo> player;
        std::optional<LivenessRecord> liveness;
        std::map<std::uint32_t, std::string> alive;
        Identification want;
        std::vector<std::vector<std::u16string>> probes;
    } cases[] = {
        {"own child: no probe",
         true,
         info,
         LivenessRecord{200, 1},
         {{100, "player.exe"}},
         {true, std::nullopt, std::nullopt},
         {}},
        {"player.json pid alive",
         false,
         info,
         std::nullopt,
         {{100, "player.exe"}},
         {true, 100u, 1765000000000u},
         {tasklist_args(100, "player.exe")}},
        {"same pid gone in both records: one probe",
         false,
         info,
         LivenessRecord{100, 1},
         {},
         {false, std::nullopt, std::nullopt},
         {tasklist_args(100, "player.exe")}},
        {"liveness pid alive, no player.json: by pid alone",
         false,
         std::nullopt,
         LivenessRecord{200, 1},
         {{200, "anything.exe"}},
         {true, 200u, std::nullopt},
         {tasklist_args(200, "")}},
        {"player.json pid gone, other liveness pid alive",
         false,
         info,
         LivenessRecord{200, 1},
         {{200, "player.exe"}},
         {true, 200u, std::nullopt},
         {tasklist_args(100, "player.exe"), tasklist_args(200, "player.exe")}},
        {"image name must match",
         false,
         info,
         std::nullopt,
         {{100, "other.exe"}},
         {false, std::nullopt, std::nullopt},
         {tasklist_args(100, "player.exe")}},
        {"empty image name: by pid alone",
         false,
         nameless,
         std::nullopt,
         {{100, "other.exe"}},
         {true, 100u, std::nullopt},
         {tasklist_args(100, "")}},
        {"record without pid: liveness only",
         false,
         no_pid,
         LivenessRecord{300, 1},
         {},
         {false, std::nullopt, std::nullopt},
         {tasklist_args(300, "player.exe")}},
        {"nothing known",
         false,
         std::nullopt,
         std::nullopt,
         {},
         {false, std::nullopt, std::nullopt},
         {}},
    };
    for (const auto& c : cases) {
        MemWorld world;
        run_processes(world, c.alive);
        const Identification got = identify_player(world, c.child_running, c.player, c.liveness);
        EXPECT_EQ(got.player_alive, c.want.player_alive) << c.name;
        EXPECT_EQ(got.adopted_pid, c.want.adopted_pid) << c.name;
        EXPECT_EQ(got.adopted_started_at_ms, c.want.adopted_started_at_ms) << c.name;
        std::vector<std::vector<std::u16string>> probes;
        for (const auto& call : world.tool_calls) probes.push_back(call.args);
        EXPECT_EQ(probes, c.probes) << c.name;
    }
}

class Resolution : public ::testing::Test {
  protected:
    Resolution() {
        world_.create_dirs(APP_FOLDER);
        world_.files[WATCHDOG_EXE] = "MZ";
        world_.own_exe = WATCHDOG_EXE;
    }
    void player_json(const std::string& exe_path) {
        world_.create_dirs(*parent_folder(PLAYER_JSON));
        world_.files[PLAYER_JSON] = R"({"exePath":")" + exe_path + R"(","imageName":"player.exe"})";
    }
    MemWorld world_;
};

TEST_F(Resolution, OverrideThenPlayerRecordThenSibling) {
    world_.files[u"C:\\override.exe"] = "";
    world_.files[u"C:\\p\\player.exe"] = "";
    world_.files[APP_FOLDER + u"\\sibling.exe"] = "";
    player_json("C:\\\\p\\\\player.exe");

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
    player_json("C:\\\\p.exe\\u0000.txt");  // names C:\p.exe only if cut at the NUL
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
