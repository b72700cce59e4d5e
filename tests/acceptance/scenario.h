// The driver of the acceptance scenarios: the real watchdog.exe, started in a kill-on-close
// job beside the test player and the tasklist stand-in, in this prefix's roaming folder.
// A scenario sets the watchdog's settings and the test player's script, starts the
// watchdog, waits for log lines and then looks at the files and the processes. Everything it
// started ends with the scenario, whatever its outcome.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "base/win32_world.h"
#include "win32_launch.h"
#include "win32_test_dir.h"

// After <windows.h>, which base/win32.h brings.
#include <tlhelp32.h>

namespace wd::fakes {

using namespace std::chrono_literals;

// One log line: its stamp and its message.
struct LogLine {
    std::uint64_t at = 0;
    std::string text;
};

inline std::vector<LogLine> parse_log(const std::string& log) {
    static const std::regex LINE(R"(\[(\d{13})\] (.*))");
    std::vector<LogLine> out;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::smatch m;
        const std::string line = log.substr(start, end - start);
        if (std::regex_match(line, m, LINE)) out.push_back({std::stoull(m[1]), m[2]});
        start = end + 1;
    }
    return out;
}

inline std::uint64_t now_ms() {
    return Win32World().wall_clock_ms();
}

// Processes of this prefix whose image is test-player.exe.
inline std::vector<DWORD> player_pids() {
    std::vector<DWORD> pids;
    win32::UniqueFile snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap) return pids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snap.get(), &entry); more;
         more = ::Process32NextW(snap.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, L"test-player.exe") == 0) {
            pids.push_back(entry.th32ProcessID);
        }
    }
    return pids;
}

class Scenario : public testing::Test {
  protected:
    inline static const wchar_t* const VARIABLES[] = {
        L"VELLUMBEACON_WATCHDOG_PLAYER_EXE",
        L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS",
        L"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS",
        L"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS",
        L"VELLUMBEACON_WATCHDOG_UPDATE_GRACE_SECS",
        L"VELLUMBEACON_WATCHDOG_UPDATE_HANG_CAP_SECS",
        L"VELLUMBEACON_WATCHDOG_WAKE_ON_EXIT",
        L"VELLUMBEACON_WATCHDOG_HANG_DUMPS",
        L"VELLUMBEACON_WATCHDOG_HANG_DUMP_TIMEOUT_SECS",
        L"VELLUMBEACON_WATCHDOG_MEMORY_LIMIT_MB",
        L"VELLUMBEACON_WATCHDOG_NOT_RESPONDING_SECS",
        L"VELLUMBEACON_WATCHDOG_DAILY_RESTART_AT",
        L"TEST_PLAYER_SCRIPT",
        L"TEST_PLAYER_TRACE",
        L"TEST_PLAYER_HEARTBEAT_MS",
        L"TASKLIST_STANDIN_FAIL_WHEN",
        L"TASKLIST_STANDIN_MARK",
    };

    void SetUp() override {
        restore_roaming();
        const auto roaming = Win32World().known_folder(KnownFolder::RoamingAppData);
        ASSERT_TRUE(roaming);
        roaming_ = std::wstring(roaming->begin(), roaming->end());
        app_ = roaming_ + L"\\com.vellumbeacon.player";
        watchdog_ = app_ + L"\\watchdog";
        remove_tree(app_);
        const auto local = Win32World().known_folder(KnownFolder::LocalAppData);
        ASSERT_TRUE(local);
        local_app_ = std::wstring(local->begin(), local->end()) + L"\\com.vellumbeacon.player";
        dumps_ = local_app_ + L"\\watchdog\\dumps";
        remove_tree(local_app_);
        stderr_path_ = own_folder() + L"\\scenario.stderr";
        script_path_ = own_folder() + L"\\scenario-player-script.txt";
        trace_path_ = own_folder() + L"\\scenario-player-trace.txt";
        ::DeleteFileW(trace_path_.c_str());
        // Short settings; a healthy test player until a scenario writes its script. A player
        // is judged hung only where a scenario asks for that (judge_hangs): elsewhere a player
        // that a busy machine starves for a while is not ended for it.
        set(L"VELLUMBEACON_WATCHDOG_PLAYER_EXE", own_folder() + L"\\test-player.exe");
        set(L"VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS", L"1");
        set(L"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS", L"60");
        set(L"VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS", L"3");
        set(L"TEST_PLAYER_HEARTBEAT_MS", L"100");
        set(L"TEST_PLAYER_SCRIPT", script_path_);
        set(L"TEST_PLAYER_TRACE", trace_path_);
        script("");
    }

    void TearDown() override {
        watchdog_run_.reset();
        others_.clear();
        for (const wchar_t* name : VARIABLES) ::SetEnvironmentVariableW(name, nullptr);
        restore_roaming();
        remove_tree(app_);
        remove_tree(local_app_);
        ::DeleteFileW(stderr_path_.c_str());
        ::DeleteFileW(script_path_.c_str());
        ::DeleteFileW(trace_path_.c_str());
    }

    static void set(const wchar_t* name, const std::wstring& value) {
        ::SetEnvironmentVariableW(name, value.c_str());
    }

    // A hang timeout of 2 s, twenty times the test players' heartbeat: a player that stops
    // writing is judged hung within seconds, a healthy one never is.
    static void judge_hangs() { set(L"VELLUMBEACON_WATCHDOG_HANG_TIMEOUT_SECS", L"2"); }

    // The test player's knobs (NAME=value lines) for every player started from now on.
    void script(const std::string& lines) { ASSERT_TRUE(put_file(script_path_, lines)); }

    Launched& start_watchdog(const std::wstring& arguments = L"",
                             const std::wstring& folder = own_folder()) {
        const std::wstring exe = folder + L"\\watchdog.exe";
        watchdog_run_ =
            std::make_unique<Launched>(exe, L"\"" + exe + L"\"" + arguments, stderr_path_);
        EXPECT_TRUE(watchdog_run_->started());
        return *watchdog_run_;
    }

    // One more watchdog beside the first; it ends with the scenario.
    Launched& start_another_watchdog() {
        const std::wstring exe = own_folder() + L"\\watchdog.exe";
        others_.push_back(std::make_unique<Launched>(exe, L"\"" + exe + L"\""));
        return *others_.back();
    }

    // A player started by someone else than the watchdog.
    Launched& start_player() {
        const std::wstring exe = own_folder() + L"\\test-player.exe";
        others_.push_back(std::make_unique<Launched>(exe, L"\"" + exe + L"\""));
        return *others_.back();
    }

    // Ends the watchdog and the players it started.
    struct Run {
        std::optional<DWORD> status;
        std::string out;
        std::string err;
    };
    // watchdog-status.exe with `arguments` (each with its leading blank), run to its end.
    Run run_status(const std::wstring& arguments, const std::wstring& folder = own_folder()) {
        const std::wstring exe = folder + L"\\watchdog-status.exe";
        const std::wstring out = own_folder() + L"\\status.stdout";
        const std::wstring err = own_folder() + L"\\status.stderr";
        Run run;
        {
            Launched status(exe, L"\"" + exe + L"\"" + arguments, err, out);
            EXPECT_TRUE(status.started());
            run.status = status.wait(std::chrono::seconds(60));
        }
        run.out = get_file(out).value_or("");
        run.err = get_file(err).value_or("");
        ::DeleteFileW(out.c_str());
        ::DeleteFileW(err.c_str());
        return run;
    }

    void stop_watchdog() {
        if (watchdog_run_) watchdog_run_->end();
    }

    std::string log() const { return file(L"watchdog.log").value_or(""); }
    std::vector<LogLine> lines() const { return parse_log(log()); }

    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& line : lines()) out.push_back(line.text);
        return out;
    }

    std::size_t count(const std::string& part) const {
        std::size_t n = 0;
        for (const auto& line : lines()) n += line.text.find(part) != std::string::npos;
        return n;
    }

    // The first line containing `part`, stamp and text.
    std::optional<LogLine> first(const std::string& part) const {
        for (const auto& line : lines()) {
            if (line.text.find(part) != std::string::npos) return line;
        }
        return std::nullopt;
    }

    // Waits until `n` log lines contain `part`, sampling the players alive meanwhile.
    bool wait_for(const std::string& part, std::size_t n = 1,
                  std::chrono::milliseconds timeout = 60s) {
        return eventually([&] { return sample_players() && count(part) >= n; }, timeout);
    }

    // Lets `duration` pass, sampling the players alive.
    void watch(std::chrono::milliseconds duration) {
        eventually([&] { return !sample_players(); }, duration);
    }

    std::optional<std::string> file(const std::wstring& name) const {
        return get_file(watchdog_ + L"\\" + name);
    }
    bool exists(const std::wstring& path) const {
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string trace() const { return get_file(trace_path_).value_or(""); }

    // Waits until `n` test players have started, and so have read their script.
    bool wait_for_players_started(std::size_t n) {
        return eventually(
            [&] {
                const std::string t = trace();
                std::size_t starts = 0;
                for (std::size_t at = t.find(" start "); at != std::string::npos;
                     at = t.find(" start ", at + 1)) {
                    ++starts;
                }
                return starts >= n;
            },
            60s);
    }

    // Replaces the roaming folder by an empty file of the same name, until the scenario ends.
    void make_roaming_a_file() {
        ASSERT_TRUE(::MoveFileW(roaming_.c_str(), (roaming_ + L".aside").c_str()));
        ASSERT_TRUE(put_file(roaming_, ""));
    }

    std::size_t most_players() const { return most_players_; }

    std::wstring roaming_, app_, watchdog_, stderr_path_, script_path_, trace_path_;
    std::wstring local_app_, dumps_;  // the hang dumps' folder, under the local folder

  private:
    // Notes how many players are alive now; always true.
    bool sample_players() {
        most_players_ = std::max(most_players_, player_pids().size());
        return true;
    }

    // Also repairs the prefix after a run that ended before its clean-up.
    void restore_roaming() {
        // The known folder cannot be asked while it is a file.
        wchar_t profile[MAX_PATH];
        const DWORD n = ::GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return;
        const std::wstring roaming = std::wstring(profile, n) + L"\\AppData\\Roaming";
        const std::wstring aside = roaming + L".aside";
        if (!exists(aside)) return;
        ::DeleteFileW(roaming.c_str());
        ::MoveFileW(aside.c_str(), roaming.c_str());
    }

    std::unique_ptr<Launched> watchdog_run_;
    std::vector<std::unique_ptr<Launched>> others_;
    std::size_t most_players_ = 0;
};

}  // namespace wd::fakes
