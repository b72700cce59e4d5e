// Why a player is ended and started again, and what each reason leaves behind: its message,
// whether the end counts as a recovery and the text it is recorded with, and whether a hang
// dump is taken before the end.
// Every reason is ended, recorded and relaunched along the same path; a new reason is a row
// here and a row in the decision. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bin/config.h"
#include "bin/tick.h"
#include "state/messages.h"

namespace wd {

struct EndReason {
    TickReason reason;
    // The message logged before anything is done, from the memory the check leaves behind.
    Message (*message)(const TickMemory& after, const WatchdogConfig& config);
    bool recovery;              // counted in recoveries.txt and kept in last-crash.json
    std::string_view recorded;  // the recovery's text in last-crash.json
    bool dumped;                // a hang dump is written first when hang dumps are on
};

// The row of a reason for which a player is ended; none for any other reason.
const EndReason* end_reason(TickReason reason);

}  // namespace wd
