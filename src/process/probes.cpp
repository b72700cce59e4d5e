#include "process/probes.h"

#include <algorithm>
#include <cstdint>

#include "base/text.h"

namespace wd {
namespace {

constexpr std::u16string_view TASKLIST = u"tasklist";
constexpr std::u16string_view TASKKILL = u"taskkill";

std::u16string decimal16(std::uint32_t n) {
    return utf8_to_utf16_lossy(std::to_string(n));
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equals_ascii_nocase(text.substr(0, prefix.size()), prefix);
}

// The answer of a run that found `found` (the pid asked for is in its output).
ProbeAnswer judged(const ToolOutput& run, bool found) {
    if (auto why = tasklist_failure(run)) {
        // A run that failed says nothing, even when its output holds the digits.
        return {Seen::Unknown, std::move(*why)};
    }
    return {found ? Seen::Running : Seen::NotRunning, {}};
}

}  // namespace

std::optional<std::string> tasklist_failure(const ToolOutput& run) {
    switch (run.run) {
        case ToolRun::NotStarted:
            return "could not be run";
        case ToolRun::TimedOut:
            return "not done in time";
        case ToolRun::Unreadable:
            return "output unreadable";
        case ToolRun::Ended:
            break;
    }
    if (run.status != 0) return "exit status " + std::to_string(run.status);
    std::size_t rows = 0;
    std::size_t messages = 0;
    std::size_t start = 0;
    while (start < run.output.size()) {
        const std::size_t end = std::min(run.output.find('\n', start), run.output.size());
        std::string_view line = std::string_view(run.output).substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (line.empty()) continue;
        if (starts_with_nocase(line, "ERROR")) return "reported an error";
        if (line.starts_with('"')) {
            ++rows;
        } else if (line.find(':') != std::string_view::npos) {
            ++messages;
        } else {
            return "output not understood";
        }
    }
    if (rows > 0 || messages == 1) return std::nullopt;
    return "output not understood";
}

std::vector<std::u16string> tasklist_args(std::uint32_t pid, std::string_view image_name) {
    std::vector<std::u16string> args{u"/FI", u"PID eq " + decimal16(pid)};
    if (!image_name.empty()) {
        args.emplace_back(u"/FI");
        args.push_back(u"IMAGENAME eq " + utf8_to_utf16_lossy(image_name));
    }
    args.insert(args.end(), {u"/NH", u"/FO", u"CSV"});
    return args;
}

std::vector<std::u16string> tasklist_image_args(std::string_view image_name) {
    return {u"/FI", u"IMAGENAME eq " + utf8_to_utf16_lossy(image_name), u"/NH", u"/FO", u"CSV"};
}

std::vector<std::uint32_t> listed_pids(std::string_view output) {
    const std::string text = utf8_lossy(output);
    std::vector<std::uint32_t> pids;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view row = std::string_view(text).substr(start, end - start);
        start = end + 1;
        if (!row.starts_with('"')) continue;
        const std::size_t field = row.find("\",\"");
        if (field == std::string_view::npos) continue;
        const std::string_view rest = row.substr(field + 3);
        const auto pid = parse_unsigned_decimal(rest.substr(0, rest.find('"')), UINT32_MAX);
        if (pid && rest.find('"') != std::string_view::npos) {
            pids.push_back(static_cast<std::uint32_t>(*pid));
        }
    }
    return pids;
}

PidsAnswer pids_running_as(World& world, std::string_view image_name) {
    if (image_name.empty()) return {std::vector<std::uint32_t>{}, {}};
    const ToolOutput run = world.run_tool(TASKLIST, tasklist_image_args(image_name));
    if (auto why = tasklist_failure(run)) return {std::nullopt, std::move(*why)};
    return {listed_pids(run.output), {}};
}

bool output_lists_pid(std::string_view output, std::uint32_t pid) {
    return utf8_lossy(output).find(std::to_string(pid)) != std::string::npos;
}

bool output_lists_quoted_pid(std::string_view output, std::uint32_t pid) {
    return utf8_lossy(output).find('"' + std::to_string(pid) + '"') != std::string::npos;
}

ProbeAnswer pid_running(World& world, std::uint32_t pid) {
    const ToolOutput run = world.run_tool(TASKLIST, tasklist_args(pid, {}));
    return judged(run, output_lists_pid(run.output, pid));
}

ProbeAnswer pid_running_as(World& world, std::string_view image_name, std::uint32_t pid) {
    if (image_name.empty()) return pid_running(world, pid);
    const ToolOutput run = world.run_tool(TASKLIST, tasklist_args(pid, image_name));
    return judged(run, output_lists_quoted_pid(run.output, pid));
}

void force_end_process(World& world, std::uint32_t pid, std::string_view image_name) {
    const ToolOutput by_pid = world.run_tool(TASKKILL, {u"/F", u"/PID", decimal16(pid)});
    if ((by_pid.run == ToolRun::Ended && by_pid.status == 0) || image_name.empty()) return;
    world.run_tool(TASKKILL, {u"/F", u"/IM", utf8_to_utf16_lossy(image_name)});
}

}  // namespace wd
