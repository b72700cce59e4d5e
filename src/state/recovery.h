// Recovery records: the counter in recoveries.txt and the last one in last-crash.json, the one
// record the watchdog writes itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/world.h"

namespace wd {

// last-crash.json, byte-exact: {"what":"<escaped>","at":<decimal>} with no whitespace; only
// '"', '\\' and the control characters are escaped.
std::string format_last_crash_record(std::string_view what, std::uint64_t at);

// The counter file's value: its Unicode-trimmed decimal value, none when it is not a count.
std::optional<std::uint64_t> parse_recovery_count(std::string_view counter_text);

// The count that follows the counter file's content: its Unicode-trimmed decimal value plus
// one, saturating at the 64-bit maximum; 1 when the file is absent or not a valid count.
std::uint64_t next_recovery_count(const std::optional<std::string>& counter_text);

// Counts one recovery in recoveries.txt, then replaces last-crash.json with `what` and the
// wall-clock time, each through a whole-file replacement. A counter that exists but cannot be
// read at the moment is left as it is. Logs nothing; never fails towards the caller.
void record_recovery(World& world, std::string_view what);

}  // namespace wd
