// Acceptance scenarios: the real watchdog.exe with short settings (check every second, startup
// grace 3 s, and a hang timeout of 2 s where hangs are the point) supervising the real test
// player under Wine, judged by its log, its files and the processes alive. Run through
// scripts/wine-desktop-run, which gives the prefix a display and a taskbar.
//
// Each scenario gives the same verdict on a machine five times slower: every timing it does
// not test has a margin of five or more over what the processes need (a player writes its
// liveness record every 100 ms against a hang timeout of 2 s; a dump gets 120 s against the
// 5 s it takes), and every wait ends on what it waits for, within a generous bound.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <thread>

#include <nlohmann/json.hpp>

#include "process/lock.h"
#include "scenario.h"

// After <windows.h>, which scenario.h brings.
#include <sddl.h>

namespace wd {
namespace {

using namespace std::chrono_literals;
using fakes::eventually;
using fakes::get_file;
using fakes::Launched;
using fakes::now_ms;
using fakes::own_folder;
using fakes::parse_log;
using fakes::player_pids;
using fakes::put_file;
using fakes::remove_tree;
using fakes::Scenario;

const std::string STARTED = "vellumbeacon-watchdog started";
const std::regex SPAWNED(R"(spawned player pid=(\d+) \(.*\\test-player\.exe\))");
const std::string CRASHED = "player exited (code 0xc0000005)";
const std::string HUNG = "player hung (process alive, liveness stale) - killing";

bool is_spawn(const std::string& text) {
    return std::regex_match(text, SPAWNED);
}

std::uint32_t spawned_pid(const std::string& text) {
    std::smatch m;
    return std::regex_match(text, m, SPAWNED) ? static_cast<std::uint32_t>(std::stoul(m[1])) : 0;
}

// 1. A fresh roaming folder: the folders, the lock and the log appear, the player is launched,
// and the updates folder is left to the updater.
TEST_F(Scenario, AFreshStartLaunchesThePlayerAndWritesItsFiles) {
    Launched& watchdog = start_watchdog(L" --ignored \"and this\" /too");
    ASSERT_TRUE(wait_for("spawned"));
    watch(2s);
    EXPECT_FALSE(watchdog.wait(0ms)) << "the watchdog does not end by itself";
    const auto text = messages();
    ASSERT_EQ(text.size(), 2u) << log();
    EXPECT_EQ(text[0], STARTED);
    EXPECT_TRUE(is_spawn(text[1])) << text[1];
    EXPECT_EQ(file(L"watchdog.lock"), std::to_string(watchdog.pid()));
    EXPECT_EQ(player_pids(), std::vector<DWORD>{spawned_pid(text[1])});
    EXPECT_FALSE(exists(app_ + L"\\updates"));
    stop_watchdog();
    EXPECT_EQ(get_file(stderr_path_), log()) << "every line is echoed to standard error";
}

// 2. A player that crashes at once: every crash logged and recorded, the back-off doubling
// (interval 1 s: 2, 4, 8 s), and never two players at once. The startup grace is long, so
// every relaunch is rapid however long Wine takes to start a player.
TEST_F(Scenario, ACrashLoopIsRecordedAndBackedOff) {
    set(L"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS", L"60");
    script("CRASH_AFTER_MS=0\n");
    start_watchdog();
    ASSERT_TRUE(wait_for("rapid restart #3", 1, 180s)) << log();
    stop_watchdog();

    std::vector<std::string> rapid;
    std::size_t crashes = 0;
    const auto text = messages();
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i].rfind("rapid restart", 0) == 0) rapid.push_back(text[i]);
        if (text[i] != CRASHED) continue;
        ++crashes;
        // The exit line is followed by the relaunch, possibly announced as a rapid restart.
        ASSERT_LT(i + 1, text.size());
        const std::size_t next = text[i + 1].rfind("rapid restart", 0) == 0 ? i + 2 : i + 1;
        if (next < text.size()) {
            EXPECT_TRUE(is_spawn(text[next])) << log();
        }
    }
    EXPECT_EQ(rapid, (std::vector<std::string>{"rapid restart #1; backing off 2s",
                                               "rapid restart #2; backing off 4s",
                                               "rapid restart #3; backing off 8s"}))
        << log();
    EXPECT_EQ(crashes, 3u) << log();
    EXPECT_EQ(file(L"recoveries.txt"), std::to_string(crashes));
    EXPECT_TRUE(std::regex_match(
        file(L"last-crash.json").value_or(""),
        std::regex(R"J(\{"what":"player exited \(code 0xc0000005\)","at":\d{13}\})J")));
    EXPECT_LE(most_players(), 1u);
}

// 3. Ordinary ends (codes 0 and 3) are relaunched and not counted.
TEST_F(Scenario, ExitsWithCodesZeroAndThreeAreRelaunchedAndNotRecorded) {
    script("EXIT_AFTER_MS=3500\nEXIT_CODE=0\n");
    start_watchdog();
    ASSERT_TRUE(wait_for_players_started(1));
    script("EXIT_AFTER_MS=3500\nEXIT_CODE=3\n");  // for the next one
    ASSERT_TRUE(wait_for("player exited (code 0)")) << log();
    ASSERT_TRUE(wait_for("player exited (code 3)", 1)) << log();
    ASSERT_TRUE(wait_for("spawned", 3)) << log();
    stop_watchdog();
    EXPECT_EQ(count("exited"), 2u) << log();
    EXPECT_FALSE(file(L"recoveries.txt"));
    EXPECT_FALSE(file(L"last-crash.json"));
}

// 4. A player that stops reporting is judged hung once the startup grace has passed,
// recorded before it is ended, and replaced by exactly one new player.
TEST_F(Scenario, AHungPlayerIsRecordedEndedAndReplacedOnce) {
    judge_hangs();
    script("HANG_AFTER_MS=500\n");
    Launched& watchdog = start_watchdog();
    ASSERT_TRUE(wait_for_players_started(1));
    script("");  // the replacement is healthy
    ASSERT_TRUE(wait_for(HUNG, 1, 60s)) << log();
    ASSERT_TRUE(wait_for("spawned", 2));
    watch(5s);
    EXPECT_FALSE(watchdog.wait(0ms));
    const auto all = lines();
    ASSERT_EQ(all.size(), 4u) << log();
    EXPECT_EQ(all[2].text, HUNG);
    EXPECT_GE(all[2].at - all[1].at, 3000u) << "not before the startup grace";
    const std::uint32_t hung = spawned_pid(all[1].text), fresh = spawned_pid(all[3].text);
    EXPECT_EQ(player_pids(), std::vector<DWORD>{fresh}) << hung << " ended";
    EXPECT_LE(most_players(), 1u);
    stop_watchdog();
    EXPECT_EQ(file(L"recoveries.txt"), "1");
    const auto record = file(L"last-crash.json").value_or("");
    EXPECT_EQ(record.rfind("{\"what\":\"player hung - ended and started again\",\"at\":", 0), 0u)
        << record;
    EXPECT_FALSE(exists(dumps_)) << "no dumps unless asked for";
}

// The names in a minidump's module list; none when it is not a minidump.
std::vector<std::string> dump_modules(const std::string& dump) {
    const auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        if (at + 4 <= dump.size()) std::memcpy(&v, dump.data() + at, 4);
        return v;
    };
    constexpr std::uint32_t MODULE_LIST_STREAM = 4, MODULE_SIZE = 108, NAME_RVA_AT = 20;
    std::vector<std::string> names;
    if (dump.rfind("MDMP", 0) != 0) return names;
    for (std::uint32_t i = 0; i < u32(8); ++i) {
        const std::size_t entry = u32(12) + std::size_t{12} * i;
        if (u32(entry) != MODULE_LIST_STREAM) continue;
        const std::size_t list = u32(entry + 8);
        for (std::uint32_t m = 0; m < u32(list) && m < 1000; ++m) {
            const std::size_t name = u32(list + 4 + std::size_t{MODULE_SIZE} * m + NAME_RVA_AT);
            std::string text;
            for (std::size_t at = name + 4; at + 1 < dump.size() && at < name + 4 + u32(name);
                 at += 2) {
                text += static_cast<char>(dump[at]);  // the paths here are ASCII
            }
            names.push_back(text);
        }
    }
    return names;
}

// 4b. With the dumps on, each hung player is dumped before it is ended, and only the newest
// two dumps stay, in the local folder (none in the roaming one); the hang lines, relaunches and
// counter are as without them. The owner's bound of 120 s lets even a starved machine finish
// every dump (about 5 s on a quiet one), so each of the three hangs must leave one.
TEST_F(Scenario, WithHangDumpsOnEachHungPlayerIsDumpedThenEnded) {
    judge_hangs();
    set(L"VELLUMBEACON_WATCHDOG_HANG_DUMPS", L"2");
    set(L"VELLUMBEACON_WATCHDOG_HANG_DUMP_TIMEOUT_SECS", L"120");
    script("HANG_AFTER_MS=500\n");
    start_watchdog();
    const std::string WRITTEN = "hang dump written to ";
    ASSERT_TRUE(eventually([&] { return count("hang dump") >= 3; }, 600s)) << log();
    ASSERT_TRUE(wait_for("spawned", count(HUNG) + 1, 300s)) << log();
    stop_watchdog();

    const auto text = messages();
    std::vector<std::string> written;
    std::size_t hangs = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != HUNG) continue;
        ++hangs;
        ASSERT_LT(i + 2, text.size()) << log();
        ASSERT_EQ(text[i + 1].rfind(WRITTEN, 0), 0u) << log();
        written.push_back(text[i + 1].substr(WRITTEN.size()));
        EXPECT_TRUE(is_spawn(text[i + 2])) << log();
    }
    ASSERT_GE(written.size(), 3u) << log();
    EXPECT_EQ(count("spawned"), hangs + 1) << log();
    EXPECT_EQ(file(L"recoveries.txt"), std::to_string(hangs));
    EXPECT_LE(most_players(), 1u);

    std::vector<std::string> kept;
    WIN32_FIND_DATAW entry{};
    const auto listing = win32::find_first(dumps_ + L"\\*", entry);
    ASSERT_NE(listing, nullptr);
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") kept.emplace_back(name.begin(), name.end());
    } while (::FindNextFileW(listing.get(), &entry));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_FALSE(exists(watchdog_ + L"\\dumps"));
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(written[written.size() - 2 + i],
                  std::string(dumps_.begin(), dumps_.end()) + "\\" + kept[i]);
        const auto modules = dump_modules(
            get_file(dumps_ + L"\\" + std::wstring(kept[i].begin(), kept[i].end())).value_or(""));
        EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [](const std::string& m) {
            return m.find("test-player.exe") != std::string::npos;
        })) << kept[i];
    }
}

// 4c. A memory ceiling of 100 MB: a player under it, and over it for well under a check, is
// left alone; once it stays over, it is ended, recorded and relaunched. The checks are 4 s apart
// and the peak (100 MB more for 2 s, its pages touched in about 0.3 s of them) lasts half of
// that, at a random moment of 4 s: a check sees it in about every other run (the simulated
// loop's memory table pins the rule in every run). On a slower machine the peak is lower, as far
// as its pages are touched in its 2 s, never longer, so no two checks see it. The growth comes
// 24 s after the peak, five times the checks' spacing at a fifth of the speed, so that a check
// that saw the peak is never followed by one that sees the growth. Nothing here is judged hung
// however long the allocations take.
TEST_F(Scenario, AMemoryCeilingLeavesAPeakAloneAndEndsAPlayerThatStaysOver) {
    set(L"VELLUMBEACON_WATCHDOG_MEMORY_LIMIT_MB", L"100");
    set(L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS", L"4");
    script(
        "MEMORY_MB=20\nSPIKE_MB=100\nSPIKE_AT_MS=4000\nSPIKE_JITTER_MS=4000\nSPIKE_FOR_MS=2000\n"
        "GROW_MB=300\nGROW_AT_MS=34000\n");
    start_watchdog();
    ASSERT_TRUE(wait_for_players_started(1));
    script("");  // the replacement is healthy
    const std::regex OVER(
        R"(player over memory limit \((\d+) MB private, limit 100 MB\) - killing)");
    ASSERT_TRUE(wait_for("player over memory limit", 1, 180s)) << log();
    ASSERT_TRUE(wait_for("spawned", 2));
    watch(3s);
    const auto all = lines();
    ASSERT_EQ(all.size(), 4u) << log();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(all[2].text, m, OVER)) << all[2].text;
    // More than the player with its peak ever holds (about 125 MB): the growth, however much
    // of it a slow machine has touched by the second check over the ceiling.
    EXPECT_GT(std::stoul(m[1]), 130u) << log() << trace();
    const auto t = trace();
    ASSERT_NE(t.find(" spike "), std::string::npos) << t;
    const std::size_t at = t.find(" grown ");
    ASSERT_NE(at, std::string::npos) << t;
    const std::size_t line = t.rfind('\n', at) == std::string::npos ? 0 : t.rfind('\n', at) + 1;
    const std::uint64_t grown = std::stoull(t.substr(line, at - line));
    EXPECT_GE(all[2].at, grown) << "the brief peak did not end it";
    EXPECT_TRUE(is_spawn(all[3].text));
    EXPECT_EQ(player_pids(), std::vector<DWORD>{spawned_pid(all[3].text)});
    stop_watchdog();
    EXPECT_EQ(file(L"recoveries.txt"), "1");
    EXPECT_EQ(file(L"last-crash.json")
                  .value_or("")
                  .rfind("{\"what\":\"player over memory limit - ended and started again\"", 0),
              0u);
}

// 4d. Without a ceiling, a large player runs on untouched.
TEST_F(Scenario, WithoutAMemoryCeilingALargePlayerRunsOn) {
    script("MEMORY_MB=300\n");
    start_watchdog();
    ASSERT_TRUE(wait_for("spawned"));
    watch(6s);  // past the grace, several checks
    EXPECT_EQ(messages().size(), 2u) << log();
    EXPECT_EQ(player_pids(), std::vector<DWORD>{spawned_pid(lines()[1].text)});
}

// 4e. With the windows check at 3 s, a player whose window stops taking its messages while it
// goes on writing its liveness record is ended, recorded and relaunched once; its replacement,
// whose window keeps answering, is left alone.
TEST_F(Scenario, WithTheWindowsCheckAFrozenScreenIsEndedAndRelaunched) {
    set(L"VELLUMBEACON_WATCHDOG_NOT_RESPONDING_SECS", L"3");
    script("WINDOW=1\nFREEZE_WINDOW_AFTER_MS=4000\n");
    start_watchdog();
    ASSERT_TRUE(wait_for_players_started(1));
    script("WINDOW=1\n");
    ASSERT_TRUE(wait_for("player not responding", 1, 120s)) << log();
    ASSERT_TRUE(wait_for("spawned", 2));
    watch(6s);
    stop_watchdog();

    const std::regex FROZEN(R"(player not responding \(no window answered for (\d+)s\) - killing)");
    const auto text = messages();
    ASSERT_EQ(text.size(), 4u) << log();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text[2], m, FROZEN)) << log();
    EXPECT_GE(std::stoul(m[1]), 3u);
    EXPECT_TRUE(is_spawn(text[1]) && is_spawn(text[3])) << log();
    EXPECT_EQ(file(L"recoveries.txt"), "1");
    EXPECT_NE(file(L"last-crash.json")
                  .value_or("")
                  .find("\"what\":\"player not responding - ended and started again\""),
              std::string::npos);
    const auto t = trace();
    ASSERT_NE(t.find(" frozen "), std::string::npos) << t;
    EXPECT_LE(most_players(), 1u);
}

// 5. A player that runs before the watchdog starts is adopted, not started twice, kept while
// tasklist fails for two checks (exactly one player throughout), and ended through taskkill
// when it stops reporting, which it does when the test says so, not at a time that a slow
// start could bring into the first checks. The startup grace (15 s) is five times what two
// failing checks take, so that the failures never last long enough to count as "gone".
TEST_F(Scenario,
       APlayerStartedBeforeTheWatchdogIsAdoptedKeptThroughToolFailuresAndEndedWhenItHangs) {
    judge_hangs();
    set(L"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS", L"15");
    const std::wstring hang_now = own_folder() + L"\\scenario-hang-now";
    const std::wstring tool_fails = own_folder() + L"\\scenario-tasklist-fails";
    ::DeleteFileW(hang_now.c_str());
    ::DeleteFileW(tool_fails.c_str());
    set(L"TASKLIST_STANDIN_FAIL_WHEN", tool_fails);
    script("HANG_WHEN_FILE=" + std::string(hang_now.begin(), hang_now.end()) + "\n");
    Launched& adopted = start_player();
    ASSERT_TRUE(adopted.started());
    ASSERT_TRUE(fakes::eventually([&] { return file(L"player.json").has_value(); }, 60s));
    script("");
    start_watchdog();
    watch(4s);
    EXPECT_EQ(count("spawned"), 0u) << log() << trace();
    EXPECT_EQ(player_pids(), std::vector<DWORD>{adopted.pid()});

    // tasklist fails at two checks (the stand-in adds a line to the file at each), then answers.
    ASSERT_TRUE(put_file(tool_fails, ""));
    const auto failures = [&] {
        const std::string text = get_file(tool_fails).value_or("");
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    const bool failed_twice = eventually([&] { return failures() >= 2; }, 60s);
    ::DeleteFileW(tool_fails.c_str());
    ASSERT_TRUE(failed_twice);
    watch(3s);
    EXPECT_EQ(count("tasklist gave no answer (exit status 1) - asking again at the next check"), 1u)
        << log();
    EXPECT_EQ(count("spawned"), 0u) << log();
    EXPECT_EQ(player_pids(), std::vector<DWORD>{adopted.pid()});

    ASSERT_TRUE(put_file(hang_now, ""));
    // (The players' trace tells whether the adopted one was still running.)
    ASSERT_TRUE(wait_for(HUNG, 1, 60s)) << log() << trace();
    ::DeleteFileW(hang_now.c_str());
    EXPECT_TRUE(adopted.wait(60s)) << "ended through taskkill";
    ASSERT_TRUE(wait_for("spawned"));
    watch(2s);
    EXPECT_EQ(count("spawned"), 1u) << log();
    EXPECT_LE(most_players(), 1u);
    EXPECT_EQ(player_pids().size(), 1u);
}

// 6. The operator closes the player: the watchdog stands down and shows the taskbar, and
// launches nothing until the flag is gone.
TEST_F(Scenario, AnOperatorCloseStandsDownShowsTheTaskbarAndEndsWithTheFlag) {
    wchar_t desktop[8] = L"";
    if (::GetEnvironmentVariableW(L"WATCHDOG_DESKTOP", desktop, 8) == 0) {
        GTEST_SKIP() << "needs the desktop runner";
    }
    HWND tray = nullptr;
    ASSERT_TRUE(fakes::eventually(
        [&] { return (tray = ::FindWindowExW(nullptr, nullptr, L"Shell_TrayWnd", nullptr)); },
        60s));
    ::ShowWindow(tray, SW_HIDE);
    ASSERT_TRUE(fakes::eventually([&] { return !::IsWindowVisible(tray); }, 30s));

    // Without a session logon time (none under Wine) a fresh close holds for 12 hours.
    script("CLOSE_AFTER_MS=1500\n");
    start_watchdog();
    ASSERT_TRUE(wait_for("player closed by the operator", 1, 60s)) << log();
    script("");
    EXPECT_TRUE(fakes::eventually([&] { return ::IsWindowVisible(tray) != FALSE; }, 30s));
    watch(5s);
    EXPECT_EQ(count("spawned"), 1u) << log();
    EXPECT_EQ(count("exited"), 0u) << "the closed player's exit is not a crash";
    EXPECT_EQ(count("standing down"), 1u);
    EXPECT_TRUE(player_pids().empty());

    ASSERT_TRUE(::DeleteFileW((watchdog_ + L"\\closed.json").c_str()));
    ASSERT_TRUE(wait_for("spawned", 2, 60s)) << log();
    EXPECT_FALSE(file(L"recoveries.txt"));
}

// 7. An update: nothing is launched within the update grace, one verify-pending launch after
// it, and at the hang cap the sentinel no longer shields a hung player.
TEST_F(Scenario, AnUpdateHoldsLaunchesThenLaunchesOnceThenIsIgnoredAtTheCap) {
    set(L"VELLUMBEACON_WATCHDOG_UPDATE_GRACE_SECS", L"4");
    set(L"VELLUMBEACON_WATCHDOG_UPDATE_HANG_CAP_SECS", L"10");
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((app_ + L"\\updates").c_str(), nullptr));
    const std::uint64_t started = now_ms();
    ASSERT_TRUE(put_file(app_ + L"\\updates\\updating.json",
                         "{\"startedAtMs\":" + std::to_string(started) + ",\"version\":\"9.9\"}"));
    judge_hangs();
    script("HANG_AFTER_MS=500\n");
    start_watchdog();
    ASSERT_TRUE(wait_for("verify-pending", 1, 60s)) << log();
    ASSERT_TRUE(wait_for(HUNG, 1, 60s)) << log();
    ASSERT_TRUE(wait_for("spawned", 2));
    stop_watchdog();

    const auto all = lines();
    ASSERT_GE(all.size(), 5u) << log();
    EXPECT_EQ(all[0].text, STARTED);
    EXPECT_TRUE(is_spawn(all[1].text));
    EXPECT_EQ(all[2].text, "verify-pending: launched player after update grace");
    EXPECT_EQ(all[3].text, HUNG);
    EXPECT_TRUE(is_spawn(all[4].text));
    EXPECT_GE(all[1].at - started, 4000u) << "not within the update grace";
    EXPECT_GE(all[3].at - started, 10000u) << "not hung while the update is in force";
    EXPECT_EQ(count("verify-pending"), 1u);
}

// 8. A second watchdog of the same user leaves at once and leaves the first one's lock alone.
TEST_F(Scenario, ASecondWatchdogLogsOneLineExitsWithZeroAndLeavesTheLockAlone) {
    Launched& first = start_watchdog();
    ASSERT_TRUE(wait_for("spawned"));
    const auto lock = file(L"watchdog.lock");
    EXPECT_EQ(lock, std::to_string(first.pid()));

    Launched& second = start_another_watchdog();
    EXPECT_EQ(second.wait(60s), 0u);
    EXPECT_FALSE(first.wait(0ms)) << "the first watchdog keeps running";
    EXPECT_EQ(count("another watchdog is live (pid=" + std::to_string(first.pid()) + "); exiting"),
              1u)
        << log();
    EXPECT_EQ(count(STARTED), 1u);
    EXPECT_EQ(file(L"watchdog.lock"), lock);
    EXPECT_EQ(player_pids().size(), 1u);
}

// 8b. A lock left behind by a watchdog that is gone is taken over, also when its pid now
// belongs to a live process of another program (as after a reboot): here this test's own.
TEST_F(Scenario, AStaleLockIsTakenOver) {
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(watchdog_.c_str(), nullptr));
    for (const std::string& stale :
         {std::string(" 4000000000\r\n"), std::to_string(::GetCurrentProcessId())}) {
        ASSERT_TRUE(put_file(watchdog_ + L"\\watchdog.lock", stale));
        ::DeleteFileW((watchdog_ + L"\\watchdog.log").c_str());
        Launched& watchdog = start_watchdog();
        ASSERT_TRUE(wait_for("spawned")) << stale << ": " << log();
        EXPECT_EQ(file(L"watchdog.lock"), std::to_string(watchdog.pid())) << stale;
        EXPECT_EQ(count("another watchdog"), 0u) << stale;
        stop_watchdog();
    }
}

// 8c. Three watchdogs started at the same moment, with no lock and with a lock naming a pid
// that no longer runs (as after a reboot, when each one probes that pid before writing its
// own): exactly one starts and launches one player; the others name it and exit with 0.
TEST_F(Scenario, OfWatchdogsStartedTogetherExactlyOneSupervises) {
    const std::wstring exe = own_folder() + L"\\watchdog.exe";
    for (const bool stale_lock : {false, false, false, true, true, true}) {
        ASSERT_TRUE(eventually([] { return player_pids().empty(); }, 60s));  // the last trial's
        remove_tree(app_);
        if (stale_lock) {
            ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
            ASSERT_TRUE(::CreateDirectoryW(watchdog_.c_str(), nullptr));
            ASSERT_TRUE(put_file(watchdog_ + L"\\watchdog.lock", "4000000000"));
        }
        std::vector<std::unique_ptr<Launched>> watchdogs;
        watchdogs.reserve(3);
        for (int i = 0; i < 3; ++i) {
            watchdogs.push_back(std::make_unique<Launched>(exe, L"\"" + exe + L"\""));
        }
        const std::string trial = stale_lock ? "stale lock" : "no lock";
        ASSERT_TRUE(wait_for("another watchdog is live", 2, 60s)) << trial << ": " << log();
        ASSERT_TRUE(wait_for("spawned")) << trial << ": " << log();
        watch(2s);  // time for a second player, were there one
        std::vector<DWORD> running;
        for (auto& watchdog : watchdogs) {
            const auto status = watchdog->wait(0ms);
            if (status) {
                EXPECT_EQ(*status, 0u) << trial;
            } else {
                running.push_back(watchdog->pid());
            }
        }
        ASSERT_EQ(running.size(), 1u) << trial << ": " << log();
        EXPECT_EQ(count(STARTED), 1u) << trial << ": " << log();
        EXPECT_EQ(
            count("another watchdog is live (pid=" + std::to_string(running[0]) + "); exiting"), 2u)
            << trial << ": " << log();
        EXPECT_EQ(file(L"watchdog.lock"), std::to_string(running[0])) << trial;
        EXPECT_EQ(player_pids().size(), 1u) << trial;
    }
}

// 8e. Any account can make the claim's name first, in Global\, and hold it with access for
// everyone: here this test makes it, owned by another account (SYSTEM). It is no watchdog's
// claim: the watchdog says so once, lets the lock file decide, and supervises.
TEST_F(Scenario, AClaimMadeFirstByAnotherAccountDoesNotSilenceTheWatchdog) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:SYD:(A;;GA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES everyone{sizeof everyone, descriptor, FALSE};
    const std::u16string name = instance_claim_name(Path(watchdog_.begin(), watchdog_.end()));
    const win32::UniqueHandle squatter(
        ::CreateMutexW(&everyone, TRUE, std::wstring(name.begin(), name.end()).c_str()));
    ::LocalFree(descriptor);
    ASSERT_TRUE(squatter);

    Launched& watchdog = start_watchdog();
    ASSERT_TRUE(wait_for("spawned")) << log();
    EXPECT_FALSE(watchdog.wait(0ms));
    EXPECT_EQ(count("the single-instance claim is another account's - watchdog.lock decides"), 1u)
        << log();
    EXPECT_EQ(count("another watchdog"), 0u) << log();
    EXPECT_EQ(file(L"watchdog.lock"), std::to_string(watchdog.pid()));
}

// 8d. A DLL planted beside the programs under the names of system DLLs they use, with Wine
// told to prefer such copies, never runs: the watchdog starts and dumps a hung player through
// the system's own dbghelp, and the status report runs, without loading it. Nor does a
// tasklist.exe planted there: both programs run the system's (the stand-in in the prefix's
// system folder), which marks each run with its own path.
TEST_F(Scenario, ADllOrToolPlantedBesideTheProgramsIsNeverLoadedOrRun) {
    const std::wstring folder = own_folder() + L"\\planted";
    remove_tree(folder);
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* program : {L"\\watchdog.exe", L"\\watchdog-status.exe"}) {
        ASSERT_TRUE(
            ::CopyFileW((own_folder() + program).c_str(), (folder + program).c_str(), FALSE));
    }
    for (const wchar_t* dll : {L"\\dbghelp.dll", L"\\wtsapi32.dll"}) {
        ASSERT_TRUE(
            ::CopyFileW((own_folder() + L"\\planted.dll").c_str(), (folder + dll).c_str(), FALSE));
    }
    ASSERT_TRUE(::CopyFileW((own_folder() + L"\\tasklist.exe").c_str(),
                            (folder + L"\\tasklist.exe").c_str(), FALSE));
    const std::wstring tool_runs = own_folder() + L"\\scenario-tool-runs";
    ::DeleteFileW(tool_runs.c_str());
    set(L"TASKLIST_STANDIN_MARK", tool_runs);
    const std::wstring marker = folder + L"\\planted-dll-ran";
    // Wine takes its own builtin DLLs unless told to prefer a native copy: told so here for
    // these two programs only, as WINEDLLOVERRIDES=dbghelp,wtsapi32=n,b would for a shell.
    const auto prefer_native = [](bool on) {
        for (const wchar_t* program : {L"watchdog.exe", L"watchdog-status.exe"}) {
            const std::wstring key =
                std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides";
            for (const wchar_t* dll : {L"dbghelp", L"wtsapi32"}) {
                if (on) {
                    const std::wstring order = L"native,builtin";
                    ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), dll, REG_SZ, order.c_str(),
                                      static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
                } else {
                    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), dll);
                }
            }
        }
    };
    prefer_native(true);
    set(L"PLANTED_DLL_MARKER", marker);
    set(L"VELLUMBEACON_WATCHDOG_HANG_DUMPS", L"1");
    judge_hangs();
    script("HANG_AFTER_MS=500\n");

    start_watchdog(L"", folder);
    const bool dumped = wait_for("hang dump", 1, 120s);
    const Run status = run_status(L" --json", folder);
    stop_watchdog();
    prefer_native(false);
    ::SetEnvironmentVariableW(L"PLANTED_DLL_MARKER", nullptr);

    EXPECT_TRUE(dumped) << log();
    EXPECT_EQ(count("hang dump not written (os error"), 0u) << log();
    EXPECT_TRUE(status.status.has_value());
    EXPECT_NE(status.out.find("\"watchdog\""), std::string::npos) << status.out << status.err;
    EXPECT_FALSE(exists(marker)) << "the planted DLL ran";
    // Each run of the stand-in added the path of the copy that ran: never the planted one.
    const std::string runs = get_file(tool_runs).value_or("");
    ::DeleteFileW(tool_runs.c_str());
    EXPECT_NE(runs.find("\\system32\\tasklist.exe\n"), std::string::npos) << runs;
    EXPECT_EQ(runs.find("\\planted\\"), std::string::npos) << runs;
    remove_tree(folder);
}

// 9. The roaming folder unusable: no file can be written, and the watchdog still supervises,
// telling standard error what it does.
TEST_F(Scenario, WithTheRoamingFolderAFileTheWatchdogStillSupervises) {
    make_roaming_a_file();
    script("EXIT_AFTER_MS=1500\nEXIT_CODE=1\n");
    start_watchdog();
    const auto echoed = [&] { return parse_log(get_file(stderr_path_).value_or("")); };
    const auto exits = [&] {
        std::size_t n = 0;
        for (const auto& line : echoed()) n += line.text == "player exited (code 1)";
        return n;
    };
    ASSERT_TRUE(fakes::eventually([&] { return exits() >= 2; }, 120s))
        << get_file(stderr_path_).value_or("");
    stop_watchdog();
    const auto text = echoed();
    ASSERT_GE(text.size(), 4u);
    EXPECT_EQ(text[0].text, STARTED);
    EXPECT_TRUE(is_spawn(text[1].text));
    EXPECT_EQ(get_file(roaming_), "") << "the file in the folder's place is untouched";
    EXPECT_FALSE(exists(roaming_ + L".aside\\com.vellumbeacon.player"));
}

// 10. An oversized log is cut to its newer half before the first line is added.
TEST_F(Scenario, AnOversizedLogIsTrimmedToItsNewerHalfOnTheFirstLine) {
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(watchdog_.c_str(), nullptr));
    std::string old;
    for (int i = 0; old.size() < std::size_t{300} * 1024; ++i)
        old += "[1700000000000] old line " + std::to_string(i) + "\n";
    ASSERT_TRUE(put_file(watchdog_ + L"\\watchdog.log", old));

    // Opening the log while the watchdog renames over it would make that rename fail under
    // Wine, so wait for the size to change (a query that opens no handle) before reading.
    const auto size_changed = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return ::GetFileAttributesExW((watchdog_ + L"\\watchdog.log").c_str(),
                                      GetFileExInfoStandard, &data) &&
               data.nFileSizeLow != old.size();
    };
    start_watchdog();
    ASSERT_TRUE(fakes::eventually(size_changed, 60s));
    ASSERT_TRUE(wait_for("spawned"));
    stop_watchdog();

    const std::size_t cut = old.find('\n', old.size() / 2) + 1;
    const std::string written = log();
    ASSERT_GT(written.size(), old.size() - cut);
    EXPECT_TRUE(written.substr(0, old.size() - cut) == old.substr(cut));
    const auto fresh = parse_log(written.substr(old.size() - cut));
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_EQ(fresh[0].text, STARTED);
    EXPECT_TRUE(is_spawn(fresh[1].text));
}

// Files held open without sharing and a 1 GiB record: supervision goes on, a locked file keeps
// its content, and the counter resumes from it once it is free again.
TEST_F(Scenario, LockedAndEnormousFilesNeitherStopSupervisionNorLoseData) {
    ASSERT_TRUE(::CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(watchdog_.c_str(), nullptr));
    ASSERT_TRUE(put_file(watchdog_ + L"\\watchdog.lock", "4000000000"));
    ASSERT_TRUE(put_file(watchdog_ + L"\\recoveries.txt", "41"));
    const auto hold = [&](const wchar_t* name) {
        return win32::UniqueFile(::CreateFileW((watchdog_ + L"\\" + name).c_str(),
                                               GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    win32::UniqueFile lock = hold(L"watchdog.lock");
    win32::UniqueFile counter = hold(L"recoveries.txt");
    ASSERT_TRUE(lock && counter);
    {
        win32::UniqueFile huge(::CreateFileW((watchdog_ + L"\\closed.json").c_str(), GENERIC_WRITE,
                                             0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
        LARGE_INTEGER size;
        size.QuadPart = 1LL << 30;
        ASSERT_TRUE(::SetFilePointerEx(huge.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(huge.get()));
    }
    script("CRASH_AFTER_MS=300\n");
    start_watchdog();
    ASSERT_TRUE(wait_for(CRASHED, 3, 180s)) << log();
    EXPECT_EQ(count(STARTED), 1u);
    EXPECT_EQ(count("standing down"), 0u);
    EXPECT_TRUE(file(L"last-crash.json"));
    // Read through the handle that locks it: the watchdog could not change it.
    char kept[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(counter.get(), kept, sizeof kept, &got, nullptr));
    EXPECT_EQ(std::string(kept, got), "41");
    counter.reset();
    // The next recovery counts on from it (a read that meets the watchdog's replacement can
    // make it fail once under Wine, so wait for the value rather than for one crash).
    EXPECT_TRUE(fakes::eventually([&] { return file(L"recoveries.txt") == "42"; }, 180s))
        << file(L"recoveries.txt").value_or("(none)");
    stop_watchdog();
    lock.reset();
    EXPECT_EQ(file(L"watchdog.lock"), "4000000000");
}

// The wall-clock times of the test player's trace lines that hold `event`.
std::vector<std::uint64_t> traced_at(const std::string& traced, const std::string& event) {
    std::vector<std::uint64_t> at;
    std::size_t start = 0;
    while (start < traced.size()) {
        const std::size_t end = traced.find('\n', start);
        const std::string line = traced.substr(start, end - start);
        if (line.find(event) != std::string::npos) at.push_back(std::stoull(line));
        start = end == std::string::npos ? traced.size() : end + 1;
    }
    return at;
}

// Each of the first `count` ends the player traced as `event` ("crash" or "exit") is followed
// by a spawn before the check after it was due (`interval_ms` on from the end), with no
// back-off in between; with the wake off, the exit line and that spawn are consecutive lines
// of one check. The interval is long, so a spawn that waited for a check cannot pass for one
// that did not, however slow the machine.
void expect_relaunched_before_the_next_check(const std::string& traced,
                                             const std::vector<fakes::LogLine>& log_lines,
                                             const std::string& event, std::size_t count,
                                             std::uint64_t interval_ms) {
    const std::vector<std::uint64_t> ended_at = traced_at(traced, " " + event + " ");
    std::vector<std::uint64_t> spawned_at;
    for (std::size_t i = 0; i < log_lines.size(); ++i) {
        const std::string& text = log_lines[i].text;
        if (is_spawn(text)) spawned_at.push_back(log_lines[i].at);
        EXPECT_EQ(text.find("rapid"), std::string::npos) << text;
        if (text.rfind("player exited", 0) == 0) {
            ASSERT_LT(i + 1, log_lines.size());
            EXPECT_TRUE(is_spawn(log_lines[i + 1].text)) << "the same check: " << text;
        }
    }
    ASSERT_GE(ended_at.size(), count) << traced;
    ASSERT_GE(spawned_at.size(), count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t latency = spawned_at[i + 1] - ended_at[i];
        std::printf("%s to relaunch: %llu ms\n", event.c_str(),
                    static_cast<unsigned long long>(latency));
        EXPECT_LT(latency, interval_ms) << "waited for a later check";
    }
}

// A crash is relaunched in the check that sees it: the exit line, then at once the spawn.
TEST_F(Scenario, ACrashIsRelaunchedInTheTickThatSeesIt) {
    set(L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS", L"8");
    script("CRASH_AFTER_MS=3500\n");  // past the startup grace: no back-off
    start_watchdog();
    ASSERT_TRUE(wait_for("spawned", 3, 120s)) << log();
    stop_watchdog();
    const auto all = lines();
    std::size_t crashes = 0;
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
        if (all[i].text != CRASHED) continue;
        ++crashes;
        EXPECT_TRUE(is_spawn(all[i + 1].text)) << log();
        EXPECT_LT(all[i + 1].at - all[i].at, 8'000u) << "a pause between exit and spawn";
    }
    EXPECT_GE(crashes, 2u) << log();
}

// With the wake on, a player that exits at a random moment of a long interval is started again
// at its exit, not at the next check: four players within one interval's time.
TEST_F(Scenario, WithTheWakeOnAnExitIsRelaunchedAtOnce) {
    set(L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS", L"60");
    set(L"VELLUMBEACON_WATCHDOG_WAKE_ON_EXIT", L"1");
    // Past the startup grace of 3 s, so no back-off, and at any phase of the interval.
    script("EXIT_AFTER_MS=3200\nEXIT_JITTER_MS=2800\nEXIT_CODE=1\n");
    start_watchdog();
    ASSERT_TRUE(wait_for("spawned", 4, 300s)) << log();
    stop_watchdog();
    EXPECT_NE(log().find("player exited (code 1)"), std::string::npos) << log();
    expect_relaunched_before_the_next_check(trace(), lines(), "exit", 3, 60'000);
}

// watchdog-status.exe beside a running watchdog and a healthy player, also told its folder as a
// fleet tool running as another account would, then with the watchdog gone, and given an option
// it does not know.
TEST_F(Scenario, TheStatusCommandTellsWhatRunsInTextJsonAndItsExitStatus) {
    Launched& watchdog = start_watchdog();
    ASSERT_TRUE(wait_for("spawned")) << log();
    ASSERT_TRUE(fakes::eventually([&] { return file(L"liveness.json").has_value(); }, 60s));
    const Run text = run_status(L"");  // lines end in CR LF, as a console program's do
    EXPECT_EQ(text.status, 0u) << text.out;
    EXPECT_EQ(text.out.substr(0, text.out.find("\r\n")), "status: healthy") << text.out;
    EXPECT_NE(text.out.find("watchdog: running, pid " + std::to_string(watchdog.pid())),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("player: running"), std::string::npos) << text.out;

    const Run json = run_status(L" --json --lines 1");
    EXPECT_EQ(json.status, 0u) << json.out;
    const auto parsed = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_TRUE(parsed.is_object()) << json.out;
    EXPECT_EQ(parsed.at("status"), "healthy");
    EXPECT_EQ(parsed.at("exitStatus"), 0);
    EXPECT_EQ(parsed.at("watchdog").at("pid"), watchdog.pid());
    EXPECT_EQ(parsed.at("player").at("running"), true);
    EXPECT_EQ(parsed.at("log").at("lines").size(), 1u);

    const Run named = run_status(L" --json --folder \"" + watchdog_ + L"\"");
    EXPECT_EQ(named.status, 0u) << named.out;
    EXPECT_LE(named.out.size(), 2048u) << named.out;
    const auto named_json = nlohmann::json::parse(named.out, nullptr, false);
    ASSERT_TRUE(named_json.is_object()) << named.out;
    EXPECT_EQ(named_json.at("folder"), std::string(watchdog_.begin(), watchdog_.end()));
    EXPECT_EQ(named_json.at("watchdog").at("pid"), watchdog.pid());

    stop_watchdog();
    const Run gone = run_status(L"");
    EXPECT_EQ(gone.status, 2u) << gone.out;
    EXPECT_EQ(gone.out.substr(0, gone.out.find("\r\n")),
              "status: no-watchdog - the pid in "
              "watchdog.lock is no watchdog")
        << gone.out;

    const Run usage = run_status(L" --bogus");
    EXPECT_EQ(usage.status, 3u);
    EXPECT_EQ(usage.out, "");
    EXPECT_EQ(usage.err, "watchdog-status: unknown option: --bogus (see --help)\n");
}

// A restart asked for with the status command: the player is ended and started again at the
// watchdog's next check, once, and neither the counter nor the last crash changes.
TEST_F(Scenario, ARestartOnRequestRelaunchesThePlayerOnceWithoutARecovery) {
    start_watchdog();
    ASSERT_TRUE(wait_for("spawned")) << log();
    ASSERT_TRUE(fakes::eventually([&] { return file(L"liveness.json").has_value(); }, 60s));
    const Run restart = run_status(L" --restart-player");
    EXPECT_EQ(restart.status, 0u) << restart.out << log();
    ASSERT_TRUE(wait_for("spawned", 2)) << log();
    watch(2s);
    const auto text = messages();
    ASSERT_EQ(text.size(), 4u) << log();
    EXPECT_EQ(text[2], "player restart requested - ending it");
    EXPECT_TRUE(is_spawn(text[3])) << text[3];
    EXPECT_EQ(restart.out,
              "player restarted (pid=" + std::to_string(spawned_pid(text[3])) + ")\r\n");
    EXPECT_EQ(player_pids(), std::vector<DWORD>{spawned_pid(text[3])});
    EXPECT_FALSE(file(L"recoveries.txt"));
    EXPECT_FALSE(file(L"last-crash.json"));
    EXPECT_FALSE(file(L"restart.json"));
}

// A daily restart set to a coming minute of the local clock restarts the player when the
// minute comes, and only then. The restart needs a check before the minute and one in it, so
// the minute is at least 30 s away: the watchdog's first check comes well before it even on a
// starved machine. It is on today's date: a minute past midnight would be another date.
TEST_F(Scenario, ADailyRestartTimeRestartsThePlayerOnceWhenItComes) {
    constexpr unsigned MINUTES_A_DAY = 24 * 60;
    unsigned at = 0;
    for (;;) {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        const unsigned minute = now.wHour * 60u + now.wMinute;
        at = minute + (now.wSecond < 30 ? 1 : 2);
        if (at < MINUTES_A_DAY) break;
        std::this_thread::sleep_for(
            std::chrono::seconds((MINUTES_A_DAY - minute) * 60 + 1 - now.wSecond));
    }
    wchar_t hhmm[8];
    std::swprintf(hhmm, 8, L"%02u:%02u", at / 60, at % 60);
    set(L"VELLUMBEACON_WATCHDOG_DAILY_RESTART_AT", hhmm);
    start_watchdog();
    ASSERT_TRUE(wait_for("spawned")) << log();
    const std::string daily =
        "daily restart (" + std::string(hhmm, hhmm + 5) + ") - ending the player";
    ASSERT_TRUE(wait_for(daily, 1, 180s)) << log();
    ASSERT_TRUE(wait_for("spawned", 2)) << log();
    watch(3s);
    EXPECT_EQ(count("daily restart"), 1u) << log();
    EXPECT_EQ(count("spawned"), 2u) << log();
    EXPECT_FALSE(file(L"recoveries.txt"));
    EXPECT_LE(most_players(), 1u);
}

// An interval of 2^64-1 seconds is a very long pause, not one that wraps into a short one.
TEST_F(Scenario, AHugeIntervalNeverBecomesAShortPause) {
    set(L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS", L"18446744073709551615");
    script("EXIT_AFTER_MS=100\n");
    Launched& watchdog = start_watchdog();
    ASSERT_TRUE(wait_for("spawned"));
    watch(4s);
    EXPECT_FALSE(watchdog.wait(0ms));
    EXPECT_EQ(messages().size(), 2u) << log();
}

}  // namespace
}  // namespace wd
