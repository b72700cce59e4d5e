// The watchdog's lines as events in the Application event log, for fleet monitoring: each
// line's ID and level (the IDs are public: Event Viewer and forwarded events show them, and
// an ID never changes meaning), and the writer that sends every logged line. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/world.h"
#include "bin/end_reasons.h"

namespace wd {

inline constexpr std::uint16_t OTHER_LINE_EVENT_ID = 1018;

// The event a logged message is: the row of the line it is (the reasons a player is ended for
// carry theirs), or OTHER_LINE_EVENT_ID as a warning for a line with no row, so that a future
// line is never lost.
LogEvent event_for(std::string_view message);

// A line as its event's text: cut after MAX_EVENT_CHARS characters (the event log refuses a
// string of 31,839 or more, and the event would be lost), and with a zero-width space put
// between two '%' (event viewers read "%%n" as an insert of their own), so that it shows as
// written.
inline constexpr std::size_t MAX_EVENT_CHARS = 4000;
std::string event_text(std::string_view message);

// The full identifier the message table gives the event: the severity in the top two bits
// (1 information, 2 warning, 3 error) over the ID.
std::uint32_t event_identifier(const LogEvent& event);

// Sends each line it is given to the event log, but not a line equal to the one before it
// (one repeated at every check): that one again only once another line came in between.
class EventLogWriter {
  public:
    explicit EventLogWriter(World& world) : world_(&world) {}
    void operator()(std::string_view message);

  private:
    World* world_;
    std::string last_;
};

}  // namespace wd
