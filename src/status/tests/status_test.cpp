#include "status/status.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "record_texts.h"
#include "sim_world.h"

namespace wd {
namespace {

using fakes::DIR;
using fakes::SimProcess;
using fakes::SimWorld;

std::string fixed_time(std::uint64_t ms) {
    return "local(" + std::to_string(ms) + ")";
}

TEST(StatusVerdict, EachSituationAndItsExitStatus) {
    enum Change {
        None,
        NoFolder,
        NoLock,
        LockNotWatchdog,
        PlayerDown,
        PlayerUnknown,
        Stale,
        NoLiveness,
        Closed,
        Updating,
        ClosedAndNoWatchdog,
        SystemWithoutFolder,
        SystemNamingAMissingFolder
    };
    const struct {
        Change change;
        Verdict verdict;
        const char* first_reason;
    } cases[] = {
        {None, Verdict::Healthy, nullptr},
        {NoFolder, Verdict::NeedsLook, "no watchdog folder yet"},
        {NoLock, Verdict::NoWatchdog, "no valid watchdog.lock"},
        {LockNotWatchdog, Verdict::NoWatchdog, "the pid in watchdog.lock is no watchdog"},
        {PlayerDown, Verdict::NeedsLook, "the player is not running"},
        {PlayerUnknown, Verdict::NeedsLook,
         "whether the player runs is unknown (tasklist: exit status 1)"},
        {Stale, Verdict::NeedsLook, "the liveness record is stale"},
        {NoLiveness, Verdict::NeedsLook, "liveness.json is missing"},
        {Closed, Verdict::NeedsLook, "an operator close is in force"},
        {Updating, Verdict::NeedsLook, "an update is under way"},
        {ClosedAndNoWatchdog, Verdict::NoWatchdog, "no valid watchdog.lock"},
        {SystemWithoutFolder, Verdict::NeedsLook,
         "no watchdog folder yet; this runs as SYSTEM, which has none: name the signage user's "
         "with --folder <profile>\\AppData\\Roaming\\com.vellumbeacon.player\\watchdog"},
        {SystemNamingAMissingFolder, Verdict::NeedsLook, "no watchdog folder yet"},
    };
    for (const auto& c : cases) {
        StatusFacts f;
        const bool system =
            c.change == SystemWithoutFolder || c.change == SystemNamingAMissingFolder;
        f.folder_exists = c.change != NoFolder && !system;
        f.as_system = system;
        f.folder_named = c.change == SystemNamingAMissingFolder;
        f.lock = {FileState::Ok, 4000u};
        f.watchdog_running = true;
        f.player_alive = true;
        f.liveness = {FileState::Ok, LivenessRecord{4100, 1}};
        f.liveness_fresh = true;
        if (c.change == NoLock || c.change == ClosedAndNoWatchdog) {
            f.lock = {};
            f.watchdog_running = false;
        }
        if (c.change == LockNotWatchdog) f.watchdog_running = false;
        if (c.change == PlayerDown) f.player_alive = false;
        if (c.change == PlayerUnknown) f.player_alive = false, f.player_unknown = "exit status 1";
        if (c.change == Stale) f.liveness_fresh = false;
        if (c.change == NoLiveness) f.liveness = {}, f.liveness_fresh = false;
        if (c.change == Closed || c.change == ClosedAndNoWatchdog) f.close_in_force = true;
        if (c.change == Updating) f.update = {UpdateKind::WithinGrace, 1};
        const Judgement j = judge_status(f);
        EXPECT_EQ(j.verdict, c.verdict) << c.change;
        if (c.first_reason) {
            ASSERT_FALSE(j.reasons.empty()) << c.change;
            EXPECT_EQ(j.reasons[0], c.first_reason) << c.change;
            if (c.change == SystemNamingAMissingFolder) {
                EXPECT_EQ(j.reasons.size(), 1u);
            }
        } else {
            EXPECT_TRUE(j.reasons.empty()) << c.change;
        }
    }
}

// A watchdog (by its image name, under the lock's pid) supervising a healthy player, seen
// through the same seam as the watchdog's.
struct Machine {
    SimWorld world;
    Machine() {
        world.create_dirs(DIR);
        world.add_process(4000, "watchdog.exe");
        SimProcess& player = world.add_process(4100, "player.exe");
        world.write_liveness(player, world.wall_ms - 2'500);
        world.files[DIR + u"\\watchdog.lock"] = "4000";
        world.files[DIR + u"\\player.json"] = fakes::player_json(4100, 1764999000000);
        world.files[DIR + u"\\recoveries.txt"] = "7";
        world.files[DIR + u"\\last-crash.json"] =
            R"J({"what":"player exited (code 1)","at":1764990000000})J";
        std::string log;
        for (int i = 1; i <= 12; ++i) log += "[1764990000000] line " + std::to_string(i) + "\n";
        world.files[DIR + u"\\watchdog.log"] = log;
    }
};

TEST(GatherStatus, AHealthyMachineReadThroughTheWatchdogsOwnRules) {
    Machine m;
    const Path dumps = fakes::DUMPS + u"\\";
    m.world.create_dirs(fakes::DUMPS);
    m.world.files[dumps + u"hang-20251206T054740.000Z-pid9.dmp"] = "MDMP";
    m.world.files[dumps + u"hang-20251205T054740.000Z-pid8.dmp"] = "MDMP";
    m.world.files[dumps + u"hang-20251207T054740.000Z-pid7.dmp.tmp"] = "MD";
    m.world.processes.at(4100).private_bytes = std::uint64_t{300} * 1024 * 1024;
    m.world.environment[std::u16string(MEMORY_LIMIT_VAR)] = u"500";
    m.world.processes.at(4100).windows = WindowsAnswer::NoneAnswered;
    const auto files_before = m.world.files;
    const StatusFacts f = gather_status(m.world, 3);
    EXPECT_EQ(judge_status(f).verdict, Verdict::Healthy);
    EXPECT_TRUE(f.watchdog_running);
    EXPECT_EQ(f.player_pid, 4100u);
    EXPECT_EQ(f.player_image, "player.exe");
    EXPECT_TRUE(f.liveness_fresh);
    EXPECT_EQ(f.recoveries.value, 7u);
    ASSERT_TRUE(f.last_recovery.value);
    EXPECT_EQ(f.last_recovery.value->what, "player exited (code 1)");
    EXPECT_EQ(f.log_tail.value,
              (std::vector<std::string>{"[1764990000000] line 10", "[1764990000000] line 11",
                                        "[1764990000000] line 12"}));
    // It only asks: no file changes, no process is ended.
    EXPECT_EQ(m.world.files, files_before);
    for (const auto& call : m.world.tool_calls) EXPECT_EQ(call.name, u"tasklist");
    EXPECT_EQ(m.world.alive_count(), 2u);

    const std::string text = format_status_text(f, judge_status(f), fixed_time);
    EXPECT_EQ(text.substr(0, text.find('\n')), "status: healthy");
    EXPECT_NE(text.find("watchdog: running, pid 4000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("player: running, pid 4100, player.exe\n"
                        "player memory: 300 MB private, limit 500 MB\n"
                        "player windows: not responding (no visible window answered within 1 s)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("liveness: 2.5 s old, fresh (hang timeout 30 s)\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("settings: hang timeout 30 s, update grace 120 s, update cap 360 s, memory "
                        "limit 500 MB (set in this environment: "
                        "VELLUMBEACON_WATCHDOG_MEMORY_LIMIT_MB; the others default)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("log (last 3 lines):\n  local(1764990000000) [1764990000000] line 10\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("last recovery: player exited (code 1) at local(1764990000000) "
                        "(1764990000000)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("last hang dump: " + utf16_to_utf8_lossy(dumps) +
                        "hang-20251206T054740.000Z-pid9.dmp at local(1765000060000) "
                        "(1765000060000)\n"),
              std::string::npos)
        << text;

    EXPECT_EQ(text.find("daily restart"), std::string::npos) << "not set, not shown";

    // The settings the report judged by, and which of them its environment set.
    m.world.environment.erase(std::u16string(MEMORY_LIMIT_VAR));
    const StatusFacts defaults = gather_status(m.world, 0);
    EXPECT_NE(format_status_text(defaults, judge_status(defaults), fixed_time)
                  .find("settings: hang timeout 30 s, update grace 120 s, update cap 360 s, "
                        "memory limit none (all defaults: none set in this environment)\n"),
              std::string::npos);
    m.world.environment[std::u16string(HANG_TIMEOUT_VAR)] = u"30";
    EXPECT_EQ(gather_status(m.world, 0).settings_set,
              std::vector<std::string>{"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS"});

    // With a daily restart: the setting and the next time the local clock reaches it (here
    // 05:46:40 now, UTC the local time).
    m.world.environment[std::u16string(DAILY_RESTART_AT_VAR)] = u"05:50";
    const StatusFacts daily = gather_status(m.world, 0);
    EXPECT_EQ(daily.next_daily_restart_ms, 1'765'000'200'000u);
    EXPECT_NE(format_status_text(daily, judge_status(daily), fixed_time)
                  .find("daily restart: 05:50, next local(1765000200000) (1765000200000)\n"),
              std::string::npos);
    const auto json =
        nlohmann::json::parse(format_status_json(daily, judge_status(daily), fixed_time));
    EXPECT_EQ(json.at("dailyRestart").at("at"), "05:50");
    EXPECT_EQ(json.at("dailyRestart").at("next").at("ms"), 1'765'000'200'000u);
    m.world.local_offset_minutes = 10;  // 05:56:40 local: tomorrow's
    EXPECT_EQ(gather_status(m.world, 0).next_daily_restart_ms,
              1'765'000'200'000u + 86'400'000 - 600'000);

    // Control characters in what the files hold are shown escaped, never sent to the console.
    StatusFacts hostile = f;
    hostile.last_recovery.value->what = "player exited\nstatus: healthy\x1b[2J\x7f";
    hostile.log_tail.value = {"[1764990000000] a\rb\tc"};
    const std::string escaped = format_status_text(hostile, judge_status(hostile), fixed_time);
    EXPECT_NE(escaped.find("last recovery: player exited\\nstatus: healthy\\u001b[2J\\u007f at "),
              std::string::npos)
        << escaped;
    EXPECT_NE(escaped.find("  local(1764990000000) [1764990000000] a\\rb\\tc\n"), std::string::npos)
        << escaped;
}

// The report gathered from the machine judges by the watchdog's own rules and settings.
TEST(GatherStatus, TheReportJudgesByTheWatchdogsOwnRulesAndSettings) {
    const auto at = [](std::uint64_t ago_ms) { return 1'765'000'000'000 - ago_ms; };
    constexpr std::uint64_t HOUR_MS = 3'600'000;
    const Path CLOSED = DIR + u"\\closed.json";
    const Path UPDATING = fakes::UPDATES + u"\\updating.json";
    const struct {
        const char* name;
        std::function<void(SimWorld&)> change;
        Verdict verdict;
        std::vector<std::string> reasons;
        std::optional<Path> folder = std::nullopt;  // named on the command line
    } cases[] = {
        {"the lock's pid held by another program after a reboot",
         [](SimWorld& w) { w.processes.at(4000).image = "explorer.exe"; },
         Verdict::NoWatchdog,
         {"the pid in watchdog.lock is no watchdog"}},
        {"run as watchdog-status.exe, the lock's pid is judged as a watchdog's",
         [](SimWorld& w) { w.own_exe = Path(u"C:\\Program Files\\Vellum\\watchdog-status.exe"); },
         Verdict::Healthy,
         {}},
        {"so a report holding the lock's pid is no watchdog",
         [](SimWorld& w) {
             w.own_exe = Path(u"C:\\Program Files\\Vellum\\watchdog-status.exe");
             w.processes.at(4000).image = "watchdog-status.exe";
         },
         Verdict::NoWatchdog,
         {"the pid in watchdog.lock is no watchdog"}},
        {"tasklist gives no answer about the player",
         [](SimWorld& w) {
             w.tool_output = [answers = w.tool_output](const fakes::ToolCall& call) {
                 const bool player =
                     call.args.size() > 3 && call.args[3] == u"IMAGENAME eq player.exe";
                 return player ? fakes::tool_printed("", 1) : answers(call);
             };
         },
         Verdict::NeedsLook,
         {"whether the player runs is unknown (tasklist: exit status 1)"}},
        {"liveness exactly one hang timeout old",
         [&](SimWorld& w) { w.write_liveness(w.processes.at(4100), w.wall_ms - 30'000); },
         Verdict::NeedsLook,
         {"the liveness record is stale"}},
        {"a minute old under a hang timeout of 120 s",
         [&](SimWorld& w) {
             w.environment[u"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS"] = u"120";
             w.write_liveness(w.processes.at(4100), w.wall_ms - 60'000);
         },
         Verdict::Healthy,
         {}},
        {"a close from an earlier logon",
         [&](SimWorld& w) { w.files[CLOSED] = fakes::closed_json(at(60'000), 12345); },
         Verdict::Healthy,
         {}},
        {"a close from an earlier logon, reported by a fleet tool in a session of its own",
         [&](SimWorld& w) { w.files[CLOSED] = fakes::closed_json(at(60'000), 12345); },
         Verdict::NeedsLook,
         {"an operator close is in force"},
         DIR},
        {"a close of this logon",
         [&](SimWorld& w) { w.files[CLOSED] = fakes::closed_json(at(60'000), w.logon_time); },
         Verdict::NeedsLook,
         {"an operator close is in force"}},
        {"no logon time to compare: a close 11 hours old",
         [&](SimWorld& w) {
             w.logon_time.reset();
             w.files[CLOSED] = fakes::closed_json(at(11 * HOUR_MS));
         },
         Verdict::NeedsLook,
         {"an operator close is in force"}},
        {"no logon time to compare: a close 12 hours old",
         [&](SimWorld& w) {
             w.logon_time.reset();
             w.files[CLOSED] = fakes::closed_json(at(12 * HOUR_MS));
         },
         Verdict::Healthy,
         {}},
        {"an update within a configured grace of 600 s",
         [&](SimWorld& w) {
             w.environment[u"VELLUMBEACON_WATCHDOG_UPDATE_GRACE_SECS"] = u"600";
             w.environment[u"VELLUMBEACON_WATCHDOG_UPDATE_HANG_CAP_SECS"] = u"900";
             fakes::put(w, UPDATING, fakes::updating_json(at(500'000)));
         },
         Verdict::NeedsLook,
         {"an update is under way"}},
        {"with --folder, an update beside the named folder counts",
         [&](SimWorld& w) {
             w.roaming = u"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Roaming";
             fakes::put(w, UPDATING, fakes::updating_json(at(1'000)));
         },
         Verdict::NeedsLook,
         {"an update is under way"},
         DIR},
        {"and one beside the reporter's own folder does not",
         [&](SimWorld& w) {
             w.roaming = u"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Roaming";
             fakes::put(w, *w.roaming + u"\\com.vellumbeacon.player\\updates\\updating.json",
                        fakes::updating_json(at(1'000)));
         },
         Verdict::Healthy,
         {},
         DIR},
        {"an update past the default cap",
         [&](SimWorld& w) { fakes::put(w, UPDATING, fakes::updating_json(at(500'000))); },
         Verdict::Healthy,
         {}},
    };
    for (const auto& c : cases) {
        Machine m;
        c.change(m.world);
        const Judgement j = judge_status(gather_status(m.world, 0, c.folder));
        EXPECT_EQ(j.verdict, c.verdict) << c.name;
        EXPECT_EQ(j.reasons, c.reasons) << c.name;
    }
}

TEST(GatherStatus, BadFilesAreReportedNeverFatal) {
    const struct {
        const char* file;
        std::string content;
        const char* state;  // as the JSON reports it
        const char* key;
    } cases[] = {
        {"watchdog.lock", "four thousand", "corrupt", "watchdog"},
        {"watchdog.lock", std::string(MAX_READ_BYTES + 1, '4'), "oversized", "watchdog"},
        {"liveness.json", "{\"pid\":4100", "corrupt", "liveness"},
        {"liveness.json", "{\"pid\":4100,\"ts\":\"\xff\"}", "corrupt", "liveness"},
        {"recoveries.txt", "-3", "corrupt", "recoveries"},
        {"recoveries.txt", std::string(MAX_READ_BYTES + 1, '7'), "oversized", "recoveries"},
        {"last-crash.json", "{\"what\":1,\"at\":2}", "corrupt", "lastRecovery"},
        {"closed.json", "[]", "corrupt", "close"},
    };
    for (const auto& c : cases) {
        Machine m;
        const Path path = DIR + u"\\" + utf8_to_utf16_lossy(c.file);
        m.world.files[path] = c.content;
        const StatusFacts f = gather_status(m.world, 10);
        const Judgement j = judge_status(f);
        const auto json = nlohmann::json::parse(format_status_json(f, j, fixed_time));
        const auto& part = json.at(c.key);
        const std::string state = part.at(part.contains("file") ? "file" : "lockFile");
        EXPECT_EQ(state, c.state) << c.file;
        EXPECT_FALSE(format_status_text(f, j, fixed_time).empty());
    }
}

TEST(StatusJson, StableKeysAndTheExitStatus) {
    Machine m;
    m.world.processes.at(4100).alive = false;
    m.world.files[DIR + u"\\closed.json"] =
        fakes::closed_json(m.world.wall_ms - 60'000, m.world.logon_time);
    const StatusFacts f = gather_status(m.world, 2);
    const auto json = nlohmann::json::parse(format_status_json(f, judge_status(f), fixed_time));
    std::vector<std::string> keys;
    for (const auto& [key, value] : json.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"close", "dumpsFolder", "exitStatus", "folder",
                                              "folderExists", "lastHangDump", "lastRecovery",
                                              "liveness", "log", "player", "reasons", "recoveries",
                                              "settingsSet", "status", "update", "watchdog"}));
    EXPECT_EQ(json.at("lastHangDump"), nullptr);
    EXPECT_EQ(json.at("status"), "needs-look");
    EXPECT_EQ(json.at("exitStatus"), 1);
    EXPECT_EQ(json.at("reasons"),
              (nlohmann::json{"the player is not running", "an operator close is in force"}));
    EXPECT_EQ(json.at("close").at("inForce"), true);
    EXPECT_EQ(json.at("close").at("closedAt").at("local"), fixed_time(m.world.wall_ms - 60'000));
    EXPECT_EQ(json.at("log").at("lines").size(), 2u);
    EXPECT_EQ(json.at("player").at("pid"), nullptr);
    EXPECT_EQ(json.at("player").at("privateBytes"), nullptr);
    EXPECT_EQ(json.at("player").at("memoryLimitMb"), nullptr);
    EXPECT_EQ(json.at("player").at("windows"), nullptr);
    EXPECT_EQ(json.at("player").at("running"), false);

    // When tasklist gave no answer, whether the player runs is not known, and says so.
    StatusFacts unknown = f;
    unknown.player_unknown = "exit status 1";
    const auto unknown_json =
        nlohmann::json::parse(format_status_json(unknown, judge_status(unknown), fixed_time));
    EXPECT_EQ(unknown_json.at("player").at("running"), nullptr);
    EXPECT_NE(format_status_text(unknown, judge_status(unknown), fixed_time)
                  .find("player: unknown (tasklist: exit status 1)\n"),
              std::string::npos);

    // Within the bound a fleet tool keeps, the oldest of long log lines are left out.
    std::string log;
    for (int i = 1; i <= 10; ++i)
        log += "[1764990000000] " + std::string(300, static_cast<char>('a' + i)) + "\n";
    m.world.files[DIR + u"\\watchdog.log"] = log;
    const StatusFacts long_lines = gather_status(m.world, 10);
    const std::string bounded =
        format_status_json(long_lines, judge_status(long_lines), fixed_time, 2048);
    EXPECT_LE(bounded.size(), 2048u);
    const auto kept = nlohmann::json::parse(bounded).at("log");
    ASSERT_GE(kept.at("lines").size(), 1u);
    EXPECT_EQ(kept.at("lines").size() + kept.at("omitted").get<std::size_t>(), 10u);
    EXPECT_EQ(kept.at("lines").back(), "[1764990000000] " + std::string(300, 'k'));

    // A report of exactly 2,048 characters is over the bound (the console may add a CR).
    StatusFacts exact = long_lines;
    exact.log_tail.value->resize(2);
    const std::size_t two_lines = format_status_json(exact, judge_status(exact), fixed_time).size();
    ASSERT_LT(two_lines, 2048u);
    exact.log_tail.value->back() += std::string(2048 - two_lines, 'x');
    ASSERT_EQ(format_status_json(exact, judge_status(exact), fixed_time).size(), 2048u);
    const auto cut =
        nlohmann::json::parse(format_status_json(exact, judge_status(exact), fixed_time, 2048));
    EXPECT_EQ(cut.at("log").at("omitted"), 1);
    // One still over the bound with every line left out is printed whole.
    StatusFacts wide = long_lines;
    wide.folder = Path(3000, u'f');
    const std::string whole = format_status_json(wide, judge_status(wide), fixed_time, 2048);
    EXPECT_GT(whole.size(), 2048u);
    EXPECT_EQ(nlohmann::json::parse(whole).at("log").at("omitted"), 10);
    EXPECT_TRUE(nlohmann::json::parse(whole).at("log").at("lines").empty());
}

// Run by a fleet tool as another account, the report names the signage user's folder: it reads
// that user's watchdog, and finds the dumps under the same profile's local folder, or says that
// it cannot tell where they are.
TEST(GatherStatus, AFolderNamedOnTheCommandLineIsReportedOn) {
    Machine m;
    m.world.roaming = u"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Roaming";
    m.world.local = u"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local";
    const Path dump = fakes::DUMPS + u"\\hang-20251206T054740.000Z-pid9.dmp";
    m.world.create_dirs(fakes::DUMPS);
    m.world.files[dump] = "MDMP";
    const StatusFacts f = gather_status(m.world, 1, DIR);
    EXPECT_EQ(judge_status(f).verdict, Verdict::Healthy);
    EXPECT_EQ(f.newest_dump ? f.newest_dump->path : Path(), dump);

    const std::pair<Path, std::optional<Path>> beside[] = {
        {u"c:\\users\\kiosk\\appdata\\roaming\\COM.VELLUMBEACON.PLAYER\\watchdog\\",
         u"c:\\users\\kiosk\\appdata\\Local\\com.vellumbeacon.player\\watchdog\\dumps"},
        {u"D:\\AppData\\Roaming\\other\\watchdog", std::nullopt},
        {u"C:\\Users\\kiosk\\AppData\\Local\\com.vellumbeacon.player\\watchdog", std::nullopt},
        {u"C:\\Users\\kiosk\\Data\\Roaming\\com.vellumbeacon.player\\watchdog", std::nullopt},
    };
    for (const auto& [folder, dumps] : beside) {
        EXPECT_EQ(dumps_folder_beside(folder), dumps) << path_display(folder);
    }
    const StatusFacts elsewhere = gather_status(m.world, 1, Path(u"D:\\signage\\watchdog"));
    EXPECT_NE(format_status_text(elsewhere, judge_status(elsewhere), fixed_time)
                  .find("last hang dump: cannot tell"),
              std::string::npos);
    // Without --folder, a local folder that cannot be had is nothing to tell about.
    m.world.roaming = fakes::ROAMING;
    m.world.local.reset();
    const StatusFacts own = gather_status(m.world, 1);
    EXPECT_EQ(format_status_text(own, judge_status(own), fixed_time).find("last hang dump"),
              std::string::npos);
}

}  // namespace
}  // namespace wd
