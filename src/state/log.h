// The watchdog log: one "[ms] message" line per event, appended to watchdog.log in the
// watchdog folder and echoed to the standard error stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/clock_units.h"
#include "base/world.h"
#include "state/files.h"
#include "state/messages.h"

namespace wd {

// "[" + ms in decimal + "] " + message + line feed.
std::string format_log_line(std::uint64_t wall_ms, std::string_view message);

// Writes one line: echo, create the folder, trim the log when due, append. Never fails
// towards the caller.
void write_log_text(World& world, std::string_view text);

// Where the watchdog's messages go: the log, echoed to the standard error stream, and a
// second destination when it is handed one (the event log), called once the line is written.
class Log {
  public:
    using Also = std::function<void(const Message& message, const std::string& text)>;
    explicit Log(World& world, Also also = {}) : world_(&world), also_(std::move(also)) {}
    void operator()(const Message& message);

  private:
    World* world_;
    Also also_;
};

// The last `count` lines of the log at `path`, oldest first, without their line ends. Only
// its end is read, so a log of any size will do; a line cut by that is left out.
FileRead<std::vector<std::string>> read_log_tail(World& world, const std::optional<Path>& path,
                                                 std::size_t count);

}  // namespace wd
