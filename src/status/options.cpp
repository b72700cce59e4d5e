#include "status/options.h"

#include "base/text.h"

namespace wd {

std::optional<StatusOptions> parse_status_args(const std::vector<std::string>& args,
                                               std::string& error) {
    StatusOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--restart-player") {
            options.restart_player = true;
        } else if (arg == "--folder") {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                error = "--folder needs a watchdog folder";
                return std::nullopt;
            }
            options.folder = utf8_to_utf16_lossy(args[++i]);
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
            options.lines_given = true;
            ++i;
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    if (options.restart_player && options.lines_given) {
        error = "--restart-player takes --folder and --json only";
        return std::nullopt;
    }
    return options;
}

std::string status_usage() {
    const std::string lines_max = std::to_string(MAX_STATUS_LOG_LINES);
    return "usage: watchdog-status [--json] [--lines N] [--folder PATH]\n"
           "       watchdog-status --restart-player [--folder PATH] [--json]\n"
           "\n"
           "Reports, for the user it runs as, whether the watchdog and the player run, the\n"
           "player's liveness against the hang timeout, an operator close or an update in\n"
           "force, the recovery count, the last recovery and the last N lines of the log\n"
           "(" +
           std::to_string(DEFAULT_STATUS_LOG_LINES) +
           " by default). Settings are read from this program's environment as the watchdog\n"
           "reads them from its own: set them machine-wide so that both see the same. Changes\n"
           "nothing.\n"
           "\n"
           "With --restart-player it asks the watchdog to end the player and start it again\n"
           "(not counted as a recovery): it writes restart.json into the watchdog folder,\n"
           "waits up to 30 s for the watchdog to take it and relaunch the player, and prints\n"
           "the outcome. Exit status: 0 restarted; 1 the watchdog declined (its reason is\n"
           "printed), the relaunch failed, or no watchdog took the request in time (it is\n"
           "withdrawn); 2 no watchdog runs for this user or that folder (nothing is written).\n"
           "\n"
           "  --json          the same facts as one JSON object; without --lines, at most\n"
           "                  " +
           std::to_string(STATUS_JSON_MAX_CHARS) +
           " characters (the newest log lines that fit)\n"
           "  --lines N       how many log lines to show (0 to " +
           lines_max +
           ")\n"
           "  --folder PATH   report on the watchdog whose folder this is (another user's,\n"
           "                  e.g. "
           "C:\\Users\\kiosk\\AppData\\Roaming\\com.vellumbeacon.player\\watchdog,\n"
           "                  when run as SYSTEM by a fleet tool)\n"
           "  --version       the version\n"
           "\n"
           "Exit status: 0 healthy (a watchdog runs; the player is alive with a fresh liveness\n"
           "record); 1 needs a look (the player not alive, liveness stale or missing, a close or\n"
           "an update in force, no watchdog folder yet); 2 no watchdog runs for this user (or\n"
           "that folder); 3 usage error.\n";
}

}  // namespace wd
