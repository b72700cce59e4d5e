// Asking the system's tools about processes the watchdog did not start: tasklist to find one,
// taskkill to end one. None of these logs anything. A tasklist run that failed is no answer:
// its probe says Unknown, never "not running"; a failed taskkill is absorbed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/world.h"

namespace wd {

// tasklist /FI "PID eq <pid>" [/FI "IMAGENAME eq <image>"] /NH /FO CSV
std::vector<std::u16string> tasklist_args(std::uint32_t pid, std::string_view image_name);

// The decoded output holds the pid as bare digits anywhere.
bool output_lists_pid(std::string_view output, std::uint32_t pid);

// The decoded output holds the pid between double quotes, as a CSV row does.
bool output_lists_quoted_pid(std::string_view output, std::uint32_t pid);

// tasklist /FI "IMAGENAME eq <image>" /NH /FO CSV
std::vector<std::u16string> tasklist_image_args(std::string_view image_name);

// The pids of the CSV rows in the decoded output: each row's second field, between double
// quotes. Messages (which are translated, and come in the console's code page) have none.
std::vector<std::uint32_t> listed_pids(std::string_view output);

// Why a tasklist run is no answer, or none when it is one. It is one when it ran to its end
// with status 0 and printed process rows, or the one line tasklist prints when nothing matches
// ("INFO: No tasks are running ..." in English; a line with a colon in every language). Not
// one: the run failed, its status is not 0, it printed an ERROR line, or anything else.
std::optional<std::string> tasklist_failure(const ToolOutput& run);

// What a probe says of a process: there, not there, or nothing (and why, for the log).
enum class Seen { Running, NotRunning, Unknown };
struct ProbeAnswer {
    Seen seen = Seen::Unknown;
    std::string why;  // for Unknown
    bool operator==(const ProbeAnswer&) const = default;
};

// The pids running under this image name (none for an empty name); none when tasklist gave no
// answer, and why.
struct PidsAnswer {
    std::optional<std::vector<std::uint32_t>> pids;
    std::string why;  // when there are no pids
};
PidsAnswer pids_running_as(World& world, std::string_view image_name);

// Whether a process with this pid exists.
ProbeAnswer pid_running(World& world, std::uint32_t pid);

// Whether a process with this pid and this image name exists; by pid alone when the name is
// empty.
ProbeAnswer pid_running_as(World& world, std::string_view image_name, std::uint32_t pid);

// taskkill /F /PID <pid>; only when that does not report success, and the name is not
// empty, taskkill /F /IM <image>, whose outcome is ignored.
void force_end_process(World& world, std::uint32_t pid, std::string_view image_name);

}  // namespace wd
