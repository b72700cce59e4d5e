// The recovery counter's and the lock's parses over any bytes: the counter always moves
// forward (or restarts at 1) and a lock pid, when read, is one that the text spells.
#include <cstddef>
#include <cstdint>
#include <string>

#include "process/lock.h"
#include "state/recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint64_t next = wd::next_recovery_count(text);
    if (next == 0) __builtin_trap();
    if (const auto pid = wd::parse_lock_pid(text)) {
        if (text.find(std::to_string(*pid)) == std::string::npos) __builtin_trap();
    }
    return 0;
}
