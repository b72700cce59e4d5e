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
#include "status/status.h"

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
    const wd::StatusFacts facts = wd::gather_status(world, options->lines);
    const wd::Judgement judgement = wd::judge_status(facts);
    print(options->json ? wd::format_status_json(facts, judgement, local_time)
                        : wd::format_status_text(facts, judgement, local_time));
    return static_cast<int>(judgement.verdict);
}
