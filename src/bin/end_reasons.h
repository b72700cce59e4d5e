// Why a player is ended and started again, and what each reason leaves behind: its log line,
// the text its recovery is recorded with, and whether a hang dump is taken before the end.
// Every reason is ended, recorded and relaunched along the same path; a new reason is a row
// here and a row in the decision. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bin/config.h"
#include "bin/decision.h"

namespace wd {

// The event a logged line is written to the event log as: its ID (what Event Viewer shows;
// public, never to change meaning) and its level.
struct LogEvent {
    std::uint16_t id;
    EventLevel level;
    bool operator==(const LogEvent&) const = default;
};

struct EndReason {
    TickReason reason;
    // The line logged before anything is done, from the decision that ended the player, and
    // how every such line starts.
    std::string (*log_line)(const TickDecision& decision, const WatchdogConfig& config);
    std::string_view line_start;
    std::string_view recorded;  // the recovery's text in last-crash.json
    bool dumped;                // a hang dump is written first when hang dumps are on
    LogEvent event;             // the line's event
};

// The row of a reason for which a player is ended; none for any other reason.
const EndReason* end_reason(TickReason reason);

// The row whose line `message` is; none for any other line.
const EndReason* end_reason_of_line(std::string_view message);

}  // namespace wd
