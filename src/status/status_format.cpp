// The two forms of the status report: lines of text for people, one JSON object for tools.
#include "status/status.h"

#include <cstddef>
#include <utility>

#include <nlohmann/json.hpp>

#include "base/text.h"

namespace wd {
namespace {

const char* verdict_name(Verdict verdict) {
    switch (verdict) {
        case Verdict::Healthy:
            return "healthy";
        case Verdict::NeedsLook:
            return "needs-look";
        case Verdict::NoWatchdog:
            return "no-watchdog";
    }
    return "healthy";
}

const char* update_name(UpdateKind kind) {
    switch (kind) {
        case UpdateKind::NoUpdate:
            return "none";
        case UpdateKind::WithinGrace:
            return "within-grace";
        case UpdateKind::PastGrace:
            return "past-grace";
    }
    return "none";
}

std::string seconds(std::uint64_t ms) {
    const std::string whole = std::to_string(ms / 1000);
    return ms % 1000 == 0 ? whole + " s" : whole + "." + std::to_string(ms % 1000 / 100) + " s";
}

std::string when(std::uint64_t ms, const LocalTime& local_time) {
    return local_time(ms) + " (" + std::to_string(ms) + ")";
}

// `missing` for a file that is not there, otherwise the file's state.
std::string state_or(FileState state, const char* missing) {
    return state == FileState::Missing ? missing : file_state_name(state);
}

std::string verdict_text(const Judgement& j) {
    std::string text = verdict_name(j.verdict);
    for (std::size_t i = 0; i < j.reasons.size(); ++i) {
        text += (i == 0 ? " - " : "; ") + j.reasons[i];
    }
    return text;
}

// The settings the verdict was drawn with, and which of them this program's environment set.
std::string settings_text(const StatusFacts& f) {
    std::string text = "hang timeout " + seconds(f.config.hang_timeout_ms) + ", update grace " +
                       seconds(f.config.update_grace_ms) + ", update cap " +
                       seconds(f.config.update_hang_cap_ms) + ", memory limit " +
                       (f.config.memory_limit_mb ? std::to_string(f.config.memory_limit_mb) + " MB"
                                                 : std::string("none"));
    if (f.settings_set.empty()) return text + " (all defaults: none set in this environment)";
    text += " (set in this environment:";
    for (const auto& name : f.settings_set) text += " " + name;
    return text + "; the others default)";
}

// A log line with the local time of its milliseconds in front; a line in another form as it is.
std::string log_line_text(const std::string& line, const LocalTime& local_time) {
    const std::size_t close = line.find(']');
    const auto ms =
        line.starts_with('[') && close != std::string::npos
            ? parse_unsigned_decimal(std::string_view(line).substr(1, close - 1), UINT64_MAX)
            : std::nullopt;
    return ms ? local_time(*ms) + " " + line : line;
}

std::string folder_text(const StatusFacts& f) {
    if (!f.folder) return "(the roaming folder cannot be had)";
    return utf16_to_utf8_lossy(*f.folder) + (f.folder_exists ? "" : " (missing)");
}

std::string watchdog_text(const StatusFacts& f) {
    if (!f.lock.value) {
        return std::string("not running (watchdog.lock ") + file_state_name(f.lock.state) + ")";
    }
    const std::string pid = std::to_string(*f.lock.value);
    return f.watchdog_running ? "running, pid " + pid
                              : "not running (watchdog.lock names pid " + pid + ")";
}

std::string player_text(const StatusFacts& f) {
    if (f.player_unknown) return "unknown (tasklist: " + *f.player_unknown + ")";
    std::string text = f.player_alive ? "running" : "not running";
    if (f.player_pid) text += ", pid " + std::to_string(*f.player_pid);
    if (!f.player_image.empty()) text += ", " + f.player_image;
    return text;
}

// The player's private memory, and the ceiling when one is set; empty when neither is known.
std::string memory_text(const StatusFacts& f) {
    const std::string limit =
        f.config.memory_limit_mb ? "limit " + std::to_string(f.config.memory_limit_mb) + " MB" : "";
    if (!f.player_private_bytes) return limit.empty() ? "" : "unknown, " + limit;
    const std::string used = std::to_string(whole_mib_up(*f.player_private_bytes)) + " MB private";
    return limit.empty() ? used : used + ", " + limit;
}

// What the player's windows said when the report asked them: for people, and for tools.
struct WindowsWords {
    const char* text;
    const char* name;
};
WindowsWords windows_words(WindowsAnswer answer) {
    switch (answer) {
        case WindowsAnswer::Answered:
            return {"responding", "responding"};
        case WindowsAnswer::NoneAnswered:
            return {"not responding (no visible window answered within 1 s)", "notResponding"};
        case WindowsAnswer::NoVisibleWindow:
            break;
    }
    return {"no visible window", "noVisibleWindow"};
}

std::string liveness_text(const StatusFacts& f) {
    if (!f.liveness.value) return file_state_name(f.liveness.state);
    return seconds(age_ms(f.now_ms, f.liveness.value->ts)) + " old, " +
           (f.liveness_fresh ? "fresh" : "stale") + " (hang timeout " +
           seconds(f.config.hang_timeout_ms) + ")";
}

std::string close_text(const StatusFacts& f, const LocalTime& local_time) {
    if (!f.close.value) return state_or(f.close.state, "none");
    return std::string(f.close_in_force ? "in force" : "from an earlier logon") + " since " +
           when(f.close.value->closed_at, local_time);
}

std::string update_text(const StatusFacts& f, const LocalTime& local_time) {
    if (f.update.kind == UpdateKind::NoUpdate) {
        return f.update_file.value ? "none (the sentinel is older than the cap)"
                                   : state_or(f.update_file.state, "none");
    }
    return std::string(f.update.kind == UpdateKind::WithinGrace ? "under way, within"
                                                                : "under way, past") +
           " its grace of " + seconds(f.config.update_grace_ms) + ", since " +
           when(f.update_file.value->started_at_ms, local_time);
}

std::string last_recovery_text(const StatusFacts& f, const LocalTime& local_time) {
    if (!f.last_recovery.value) return state_or(f.last_recovery.state, "none");
    return f.last_recovery.value->what + " at " + when(f.last_recovery.value->at, local_time);
}

}  // namespace

std::string format_status_text(const StatusFacts& f, const Judgement& j,
                               const LocalTime& local_time) {
    const std::pair<const char*, std::string> lines[] = {
        {"status", verdict_text(j)},
        {"folder", folder_text(f)},
        {"settings", settings_text(f)},
        {"watchdog", watchdog_text(f)},
        {"player", player_text(f)},
        {"liveness", liveness_text(f)},
        {"operator close", close_text(f, local_time)},
        {"update", update_text(f, local_time)},
        {"recoveries", f.recoveries.value ? std::to_string(*f.recoveries.value)
                                          : state_or(f.recoveries.state, "0")},
        {"last recovery", last_recovery_text(f, local_time)},
    };
    std::string out;
    for (const auto& [name, text] : lines) {
        out += std::string(name) + ": " + escape_controls(text) + "\n";
        if (std::string_view(name) != "player") continue;
        if (const std::string memory = memory_text(f); !memory.empty()) {
            out += "player memory: " + memory + "\n";
        }
        if (f.player_windows) {
            out += std::string("player windows: ") + windows_words(*f.player_windows).text + "\n";
        }
    }
    if (f.config.daily_restart_minute) {
        out += "daily restart: " + time_of_day_text(*f.config.daily_restart_minute) +
               (f.next_daily_restart_ms ? ", next " + when(*f.next_daily_restart_ms, local_time)
                                        : std::string()) +
               "\n";
    }
    if (f.newest_dump) {
        out += "last hang dump: " + escape_controls(path_display(f.newest_dump->path)) + " at " +
               when(f.newest_dump->at_ms, local_time) + "\n";
    } else if (!f.dumps_folder && f.folder_named) {
        out +=
            "last hang dump: cannot tell (dumps are kept under the local folder of the "
            "profile whose roaming folder holds the watchdog folder; this one is in none)\n";
    }
    if (!f.log_tail.value) return out + "log: " + file_state_name(f.log_tail.state) + "\n";
    out += "log (last " + std::to_string(f.log_tail.value->size()) + " lines):\n";
    for (const auto& line : *f.log_tail.value) {
        out += "  " + escape_controls(log_line_text(line, local_time)) + "\n";
    }
    return out;
}

std::string format_status_json(const StatusFacts& f, const Judgement& j,
                               const LocalTime& local_time, std::optional<std::size_t> max_chars) {
    using nlohmann::json;
    const auto state = [](FileState s) { return json(file_state_name(s)); };
    const auto time = [&](std::uint64_t ms) { return json{{"ms", ms}, {"local", local_time(ms)}}; };
    json out;
    out["status"] = verdict_name(j.verdict);
    out["exitStatus"] = static_cast<int>(j.verdict);
    out["reasons"] = j.reasons;
    out["folder"] = f.folder ? json(utf16_to_utf8_lossy(*f.folder)) : json(nullptr);
    out["folderExists"] = f.folder_exists;
    out["settingsSet"] = f.settings_set;
    out["watchdog"] = {{"running", f.watchdog_running},
                       {"lockFile", state(f.lock.state)},
                       {"pid", f.lock.value ? json(*f.lock.value) : json(nullptr)}};
    out["player"] = {
        {"running", f.player_unknown ? json(nullptr) : json(f.player_alive)},
        {"pid", f.player_pid ? json(*f.player_pid) : json(nullptr)},
        {"imageName", f.player_image.empty() ? json(nullptr) : json(f.player_image)},
        {"playerFile", state(f.player_info.state)},
        {"privateBytes", f.player_private_bytes ? json(*f.player_private_bytes) : json(nullptr)},
        {"memoryLimitMb",
         f.config.memory_limit_mb ? json(f.config.memory_limit_mb) : json(nullptr)},
        {"windows",
         f.player_windows ? json(windows_words(*f.player_windows).name) : json(nullptr)}};
    json liveness{{"file", state(f.liveness.state)},
                  {"fresh", f.liveness_fresh},
                  {"hangTimeoutMs", f.config.hang_timeout_ms}};
    if (f.liveness.value) {
        liveness["pid"] = f.liveness.value->pid;
        liveness["ts"] = time(f.liveness.value->ts);
        liveness["ageMs"] = age_ms(f.now_ms, f.liveness.value->ts);
    }
    out["liveness"] = liveness;
    json close{{"file", state(f.close.state)}, {"inForce", f.close_in_force}};
    if (f.close.value) close["closedAt"] = time(f.close.value->closed_at);
    out["close"] = close;
    json update{{"file", state(f.update_file.state)},
                {"state", update_name(f.update.kind)},
                {"graceMs", f.config.update_grace_ms},
                {"capMs", f.config.update_hang_cap_ms}};
    if (f.update_file.value) update["startedAt"] = time(f.update_file.value->started_at_ms);
    out["update"] = update;
    out["recoveries"] = {{"file", state(f.recoveries.state)},
                         {"count", f.recoveries.value ? json(*f.recoveries.value) : json(nullptr)}};
    json last{{"file", state(f.last_recovery.state)}};
    if (f.last_recovery.value) {
        last["what"] = f.last_recovery.value->what;
        last["at"] = time(f.last_recovery.value->at);
    }
    out["lastRecovery"] = last;
    if (f.config.daily_restart_minute) {
        out["dailyRestart"] = {
            {"at", time_of_day_text(*f.config.daily_restart_minute)},
            {"next", f.next_daily_restart_ms ? time(*f.next_daily_restart_ms) : json(nullptr)}};
    }
    out["dumpsFolder"] = f.dumps_folder ? json(path_display(*f.dumps_folder)) : json(nullptr);
    out["lastHangDump"] = f.newest_dump ? json{{"file", path_display(f.newest_dump->path)},
                                               {"at", time(f.newest_dump->at_ms)}}
                                        : json(nullptr);
    std::vector<std::string> lines = f.log_tail.value.value_or(std::vector<std::string>{});
    std::size_t omitted = 0;
    for (;;) {
        out["log"] = {{"file", state(f.log_tail.state)}, {"lines", lines}, {"omitted", omitted}};
        std::string text = out.dump() + "\n";
        // (Below the bound: the console may end the line with CR LF.)
        if (!max_chars || text.size() < *max_chars || lines.empty()) return text;
        lines.erase(lines.begin());
        ++omitted;
    }
}

}  // namespace wd
