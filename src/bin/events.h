// The watchdog's messages as events in the Application event log, for fleet monitoring: the
// text an event shows, its full identifier, and the writer that sends every message logged.
// Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/world.h"
#include "state/messages.h"

namespace wd {

// A line as its event's text: cut after MAX_EVENT_CHARS characters (the event log refuses a
// string of 31,839 or more, and the event would be lost), and with a zero-width space put
// between two '%' (event viewers read "%%n" as an insert of their own), so that it shows as
// written.
inline constexpr std::size_t MAX_EVENT_CHARS = 4000;
std::string event_text(std::string_view message);

// The full identifier the message table gives the event: the severity in the top two bits
// (1 information, 2 warning, 3 error) over the ID.
std::uint32_t event_identifier(const LogEvent& event);

// Sends each message it is given to the event log as its kind's event, but not a line equal
// to the one before it (one repeated at every check): that one again only once another line
// came in between.
class EventLogWriter {
  public:
    explicit EventLogWriter(World& world) : world_(&world) {}
    void operator()(const Message& message, const std::string& text);

  private:
    World* world_;
    std::string last_;
};

}  // namespace wd
