#include "status/restart.h"

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "bin/product.h"
#include "process/lock.h"
#include "state/files.h"
#include "state/log.h"
#include "state/paths.h"
#include "state/records.h"

namespace wd {
namespace {

// What the watchdog's log said about the request made at `since` (its lines at or after
// that time): the answer to it, and the relaunch that followed.
struct Answer {
    std::optional<std::string> declined;  // an "ignored" line, or a failed relaunch
    bool taken = false;                   // the request is being carried out
    std::optional<std::uint32_t> spawned;
};

Answer read_answer(World& world, const Path& log, std::uint64_t since) {
    constexpr std::size_t LINES = 200;
    Answer answer;
    const auto lines = read_log_tail(world, log, LINES).value;
    if (!lines) return answer;
    for (const std::string& line : *lines) {
        const std::size_t close = line.find("] ");
        if (!line.starts_with('[') || close == std::string::npos) continue;
        const auto at =
            parse_unsigned_decimal(std::string_view(line).substr(1, close - 1), UINT64_MAX);
        if (!at || *at < since) continue;
        const std::string text = line.substr(close + 2);
        // Declined outright, or taken and then not relaunched.
        const bool declined = text.starts_with("player restart request ignored") ||
                              (answer.taken && (text.starts_with("spawn failed") ||
                                                text.starts_with("cannot resolve player exe")));
        if (declined) {
            answer.declined = text;
        } else if (text.starts_with("player restart requested")) {
            answer.taken = true;
        } else if (answer.taken && text.starts_with("spawned player pid=")) {
            answer.spawned = parse_unsigned_decimal(
                std::string_view(text).substr(19, text.find(' ', 19) - 19), UINT32_MAX);
        }
        if (answer.declined || answer.spawned) break;
    }
    return answer;
}

}  // namespace

RestartResult request_player_restart(World& world, const std::optional<Path>& named) {
    const auto folder = named ? named : watchdog_dir(world);
    const std::string where = folder ? utf16_to_utf8_lossy(*folder) : "this user";
    const auto lock = folder ? read_text(world, join(*folder, LOCK_FILE)) : std::nullopt;
    const auto pid = lock ? parse_lock_pid(*lock) : std::nullopt;
    if (!pid || !lock_holder_is_live(world, *pid, WATCHDOG_IMAGE_NAME)) {
        return {RestartOutcome::NoWatchdog, std::nullopt,
                "no watchdog is running for " + where + "; nothing was requested"};
    }
    const Path request = join(*folder, RESTART_FILE);
    const std::uint64_t since = world.wall_clock_ms();
    if (const OsError error = world.write_atomic(request, restart_request_json(since))) {
        return {RestartOutcome::Declined, std::nullopt,
                "restart.json could not be written (os error " + std::to_string(error) + ")"};
    }
    const Path log = join(*folder, LOG_FILE);
    bool gone = false;
    for (std::uint64_t waited = 0; waited < 2 * RESTART_WAIT_SECS; ++waited) {
        world.sleep_secs(1);
        if (!gone && world.path_kind(request) == PathKind::Missing) gone = true;
        if (!gone && waited + 1 >= RESTART_WAIT_SECS) break;
        if (!gone) continue;
        const Answer answer = read_answer(world, log, since);
        if (answer.declined) return {RestartOutcome::Declined, std::nullopt, *answer.declined};
        if (answer.spawned) {
            return {RestartOutcome::Restarted, answer.spawned,
                    "player restarted (pid=" + std::to_string(*answer.spawned) + ")"};
        }
    }
    if (!gone) {
        // Withdrawn, so that no restart comes later, unexpected.
        world.delete_file(request);
        return {RestartOutcome::NotTaken, std::nullopt,
                "the watchdog did not take the request within " +
                    std::to_string(RESTART_WAIT_SECS) + " s; it was withdrawn"};
    }
    return {RestartOutcome::Declined, std::nullopt,
            "the watchdog took the request but relaunched no player within " +
                std::to_string(RESTART_WAIT_SECS) + " s"};
}

int restart_exit_status(const RestartResult& result) {
    switch (result.outcome) {
        case RestartOutcome::Restarted:
            return 0;
        case RestartOutcome::NoWatchdog:
            return 2;
        case RestartOutcome::Declined:
        case RestartOutcome::NotTaken:
            break;
    }
    return 1;
}

std::string format_restart_text(const RestartResult& result) {
    return escape_controls(result.message) + "\n";
}

std::string format_restart_json(const RestartResult& result) {
    const char* outcome = "restarted";
    if (result.outcome == RestartOutcome::Declined) outcome = "declined";
    if (result.outcome == RestartOutcome::NotTaken) outcome = "not-taken";
    if (result.outcome == RestartOutcome::NoWatchdog) outcome = "no-watchdog";
    const nlohmann::ordered_json out{
        {"outcome", outcome},
        {"pid", result.pid ? nlohmann::ordered_json(*result.pid) : nlohmann::ordered_json(nullptr)},
        {"message", result.message},
    };
    return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace wd
