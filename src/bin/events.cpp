#include "bin/events.h"

namespace wd {
namespace {

// Every line but those of the reasons a player is ended for, by how it starts (or, marked
// whole, the line itself); the first row that matches is the line's. Exit codes 0 and 3 are
// ordinary ends, any other a recovery.
struct LineEvent {
    std::string_view start;
    LogEvent event;
    bool whole = false;
};
constexpr LineEvent LINE_EVENTS[] = {
    {"vellumbeacon-watchdog started", {1000, EventLevel::Information}},
    {"spawned player pid=", {1001, EventLevel::Information}},
    {"player exited (code 0)", {1002, EventLevel::Information}, true},
    {"player exited (code 3)", {1002, EventLevel::Information}, true},
    {"player exited (", {1003, EventLevel::Warning}},
    {"rapid restart #", {1004, EventLevel::Warning}},
    {"spawn failed (", {1008, EventLevel::Error}},
    {"cannot resolve player exe (", {1009, EventLevel::Error}},
    {"player closed by the operator - standing down until the next logon",
     {1010, EventLevel::Information}},
    {"close from an earlier session cleared - supervising again", {1011, EventLevel::Information}},
    {"closed player did not exit - ending it", {1012, EventLevel::Warning}},
    {"verify-pending: launched player after update grace", {1013, EventLevel::Information}},
    {"hang dump written to ", {1014, EventLevel::Information}},
    {"hang dump not written (", {1015, EventLevel::Warning}},
    {"another watchdog is live (pid=", {1016, EventLevel::Warning}},
    {"player already running (pid=", {1017, EventLevel::Information}},
    {"tasklist gave no answer (", {1019, EventLevel::Warning}},
    {"the single-instance claim is another account's", {1020, EventLevel::Warning}},
};

}  // namespace

LogEvent event_for(std::string_view message) {
    if (const EndReason* reason = end_reason_of_line(message)) return reason->event;
    for (const LineEvent& row : LINE_EVENTS) {
        if (row.whole ? message == row.start : message.starts_with(row.start)) return row.event;
    }
    return {OTHER_LINE_EVENT_ID, EventLevel::Warning};
}

std::string event_text(std::string_view message) {
    constexpr std::string_view ZERO_WIDTH_SPACE = "\xE2\x80\x8B";
    std::string text;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const bool starts_char = (static_cast<unsigned char>(message[i]) & 0xC0) != 0x80;
        if (starts_char && ++chars > MAX_EVENT_CHARS) break;
        text += message[i];
        if (message[i] == '%' && i + 1 < message.size() && message[i + 1] == '%') {
            text += ZERO_WIDTH_SPACE;
        }
    }
    return text;
}

std::uint32_t event_identifier(const LogEvent& event) {
    std::uint32_t severity = 1;
    if (event.level == EventLevel::Warning) severity = 2;
    if (event.level == EventLevel::Error) severity = 3;
    return severity << 30 | event.id;
}

void EventLogWriter::operator()(std::string_view message) {
    if (message == last_) return;
    last_ = message;
    const LogEvent event = event_for(message);
    world_->report_event(event_identifier(event), event.level, event_text(message));
}

}  // namespace wd
