#include "bin/status.h"

#include <cstddef>

#include "base/text.h"
#include "bin/player_resolution.h"
#include "process/lock.h"
#include "process/probes.h"
#include "state/files.h"
#include "state/paths.h"
#include "state/recovery.h"

namespace wd {
namespace {

// The last `count` lines of the log; only its end is read, so a log of any size will do.
FileRead<std::vector<std::string>> read_log_tail(World& world, const std::optional<Path>& path,
                                                 std::size_t count) {
    constexpr std::uint64_t TAIL_BYTES = std::uint64_t{64} * 1024;
    if (!path || world.path_kind(*path) == PathKind::Missing) return {};
    const auto size = world.file_size(*path);
    if (!size) return {FileState::Unreadable, std::nullopt};
    const std::uint64_t from = *size > TAIL_BYTES ? *size - TAIL_BYTES : 0;
    const auto tail = world.read_range(*path, from, static_cast<std::size_t>(*size - from));
    if (!tail) return {FileState::Unreadable, std::nullopt};
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < tail->size()) {
        const std::size_t end = std::min(tail->find('\n', start), tail->size());
        lines.push_back(utf8_lossy(std::string_view(*tail).substr(start, end - start)));
        start = end + 1;
    }
    if (from > 0 && !lines.empty()) lines.erase(lines.begin());  // cut part way
    for (auto& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    if (lines.size() > count) {
        lines.erase(lines.begin(),
                    lines.begin() + static_cast<std::ptrdiff_t>(lines.size() - count));
    }
    return {FileState::Ok, std::move(lines)};
}

}  // namespace

StatusFacts gather_status(World& world, std::size_t log_lines) {
    StatusFacts f;
    f.config = read_config(world);
    f.now_ms = world.wall_clock_ms();
    f.folder = watchdog_dir(world);
    f.folder_exists = f.folder && world.path_kind(*f.folder) == PathKind::Folder;

    constexpr auto ASK = FailureReasons::Ask;
    f.lock =
        parse_file(read_text_file(world, watchdog_file(world, LOCK_FILE), ASK), parse_lock_pid);
    f.watchdog_running =
        f.lock.value && lock_holder_is_live(world, *f.lock.value, WATCHDOG_IMAGE_NAME);

    f.player_info = read_player_info(world, player_info_path(world), ASK);
    f.liveness = read_liveness_record(world, watchdog_file(world, LIVENESS_FILE), ASK);
    Identification found = identify_player(world, false, f.player_info.value, f.liveness.value);
    f.player_alive = found.player_alive;
    f.player_pid = found.adopted_pid;
    f.player_image = std::move(found.image_name);
    if (f.player_pid) f.player_private_bytes = world.process_private_bytes(*f.player_pid);
    f.liveness_fresh = liveness_is_fresh(f.liveness.value, f.now_ms, f.config.hang_timeout_ms);

    f.close = read_closed_flag(world, watchdog_file(world, CLOSED_FILE), ASK);
    f.close_in_force =
        f.close.value && close_is_current(*f.close.value, world.session_logon_time(), f.now_ms);
    f.update_file = read_updating_sentinel(world, updating_path(world), ASK);
    f.update = classify_update(f.update_file.value, f.config, f.now_ms);

    f.recoveries = parse_file(read_text_file(world, watchdog_file(world, RECOVERIES_FILE), ASK),
                              parse_recovery_count);
    f.last_recovery = read_last_crash_record(world, watchdog_file(world, LAST_CRASH_FILE), ASK);
    f.log_tail = read_log_tail(world, watchdog_file(world, LOG_FILE), log_lines);
    f.newest_dump = newest_hang_dump(world);
    return f;
}

Judgement judge_status(const StatusFacts& f) {
    if (!f.folder_exists) return {Verdict::NeedsLook, {"no watchdog folder yet"}};
    if (!f.watchdog_running) {
        return {
            Verdict::NoWatchdog,
            {f.lock.value ? "the pid in watchdog.lock is no watchdog" : "no valid watchdog.lock"}};
    }
    Judgement j;
    if (!f.player_alive) j.reasons.push_back("the player is not running");
    if (!f.liveness.value) {
        j.reasons.push_back(std::string("liveness.json is ") + file_state_name(f.liveness.state));
    } else if (!f.liveness_fresh) {
        j.reasons.push_back("the liveness record is stale");
    }
    if (f.close_in_force) j.reasons.push_back("an operator close is in force");
    if (f.update.kind != UpdateKind::NoUpdate) j.reasons.push_back("an update is under way");
    if (!j.reasons.empty()) j.verdict = Verdict::NeedsLook;
    return j;
}

std::optional<StatusOptions> parse_status_args(const std::vector<std::string>& args,
                                               std::string& error) {
    StatusOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.help = true;
        } else if (arg == "--lines") {
            const auto n =
                i + 1 < args.size()
                    ? parse_unsigned_decimal(std::string_view(args[i + 1]), MAX_STATUS_LOG_LINES)
                    : std::nullopt;
            if (!n) {
                error = "--lines needs a number from 0 to " + std::to_string(MAX_STATUS_LOG_LINES);
                return std::nullopt;
            }
            options.lines = static_cast<std::size_t>(*n);
            ++i;
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    return options;
}

std::string status_usage() {
    const std::string lines_max = std::to_string(MAX_STATUS_LOG_LINES);
    return "usage: watchdog-status [--json] [--lines N]\n"
           "\n"
           "Reports, for the user it runs as, whether the watchdog and the player run, the\n"
           "player's liveness against the hang timeout, an operator close or an update in\n"
           "force, the recovery count, the last recovery and the last N lines of the log\n"
           "(" +
           std::to_string(DEFAULT_STATUS_LOG_LINES) +
           " by default). Settings are read from the environment as the watchdog reads\n"
           "them. Changes nothing.\n"
           "\n"
           "  --json      the same facts as one JSON object\n"
           "  --lines N   how many log lines to show (0 to " +
           lines_max +
           ")\n"
           "\n"
           "Exit status: 0 healthy (a watchdog runs; the player is alive with a fresh liveness\n"
           "record); 1 needs a look (the player not alive, liveness stale or missing, a close or\n"
           "an update in force, no watchdog folder yet); 2 no watchdog runs for this user;\n"
           "3 usage error.\n";
}

}  // namespace wd
