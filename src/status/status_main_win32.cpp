// watchdog-status.exe: a console program that reports on this user's watchdog and player and
// exits with the verdict's status (see status_usage).
#include <cstdio>
#include <string>
#include <vector>

#include "base/clock_units.h"
#include "base/system_dll_win32.h"
#include "base/text.h"
#include "base/win32.h"
#include "base/win32_world.h"
#include "status/options.h"
#include "status/restart.h"
#include "status/status.h"
#include "version.h"

namespace {

constexpr int USAGE_ERROR = 3;
// 9999-12-31 23:59:59 UTC: the system converts no later time to a calendar date.
constexpr std::uint64_t LAST_CALENDAR_MS = 253'402'300'799'000;

// Wall-clock milliseconds as the local date and time, "-" when the system cannot convert it.
std::string local_time(std::uint64_t ms) {
    const std::uint64_t ticks = ms * 10'000 + wd::UNIX_EPOCH_AS_FILETIME;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    FILETIME local{};
    SYSTEMTIME t{};
    if (ms > LAST_CALENDAR_MS || !::FileTimeToLocalFileTime(&utc, &local) ||
        !::FileTimeToSystemTime(&local, &t)) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

// True for the LocalSystem account, which fleet tools run scripts as by default.
bool running_as_system() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    const wd::win32::UniqueHandle token(raw);
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    return ::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) &&
           ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
}

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wd::win32::limit_dll_search_to_system();
    wd::Win32World world;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(wd::utf16_to_utf8_lossy(wd::win32::from_wide(argv[i], ::lstrlenW(argv[i]))));
    }
    std::string error;
    const auto options = wd::parse_status_args(args, error);
    if (!options) {
        world.echo_stderr("watchdog-status: " + error + " (see --help)\n");
        return USAGE_ERROR;
    }
    if (options->help) {
        print(wd::status_usage());
        return 0;
    }
    if (options->version) {
        // From the build, not from the version resource: reading that takes version.dll.
        print("watchdog-status " WATCHDOG_VERSION "\n");
        return 0;
    }
    if (options->restart_player) {
        const wd::RestartResult result = wd::request_player_restart(world, options->folder);
        print(options->json ? wd::format_restart_json(result) : wd::format_restart_text(result));
        return wd::restart_exit_status(result);
    }
    wd::StatusFacts facts = wd::gather_status(world, options->lines, options->folder);
    facts.as_system = running_as_system();
    const wd::Judgement judgement = wd::judge_status(facts);
    const auto bound =
        options->lines_given ? std::nullopt : std::optional<std::size_t>(wd::STATUS_JSON_MAX_CHARS);
    print(options->json ? wd::format_status_json(facts, judgement, local_time, bound)
                        : wd::format_status_text(facts, judgement, local_time));
    return static_cast<int>(judgement.verdict);
}
