// Why a player is ended and started again, and what each reason leaves behind: its log line,
// the text its recovery is recorded with, and whether a hang dump is taken before the end.
// Every reason is ended, recorded and relaunched along the same path; a new reason is a row
// here and a row in the decision. Portable.
#pragma once

#include <string>
#include <string_view>

#include "bin/config.h"
#include "bin/decision.h"

namespace wd {

struct EndReason {
    TickReason reason;
    // The line logged before anything is done, from the decision that ended the player.
    std::string (*log_line)(const TickDecision& decision, const WatchdogConfig& config);
    std::string_view recorded;  // the recovery's text in last-crash.json
    bool dumped;                // a hang dump is written first when hang dumps are on
};

// The row of a reason for which a player is ended; none for any other reason.
const EndReason* end_reason(TickReason reason);

}  // namespace wd
