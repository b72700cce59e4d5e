// Asking the system's tools about processes the watchdog did not start: tasklist to find one,
// taskkill to end one. None of these logs anything; every failure means "not found" or is
// absorbed.
#pragma once

#include <cstdint>
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

// The pids running under this image name; empty when none is, or the probe cannot run.
std::vector<std::uint32_t> pids_running_as(World& world, std::string_view image_name);

// A process with this pid exists.
bool pid_running(World& world, std::uint32_t pid);

// A process with this pid and this image name exists; by pid alone when the name is empty.
bool pid_running_as(World& world, std::string_view image_name, std::uint32_t pid);

// taskkill /F /PID <pid>; only when that does not report success, and the name is not
// empty, taskkill /F /IM <image>, whose outcome is ignored.
void force_end_process(World& world, std::uint32_t pid, std::string_view image_name);

}  // namespace wd
