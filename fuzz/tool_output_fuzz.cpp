// tasklist's output, whatever it prints: the probes never crash and a pid is only found
// where its digits appear.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "process/probes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t pid;
    std::memcpy(&pid, data, 4);
    const std::string_view output(reinterpret_cast<const char*>(data) + 4, size - 4);
    const bool bare = wd::output_lists_pid(output, pid);
    const bool quoted = wd::output_lists_quoted_pid(output, pid);
    const std::string digits = std::to_string(pid);
    if ((bare || quoted) && output.find(digits) == std::string_view::npos) __builtin_trap();
    if (quoted && output.find("\"" + digits + "\"") == std::string_view::npos) __builtin_trap();
    return 0;
}
