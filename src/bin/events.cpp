#include "bin/events.h"

namespace wd {

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

void EventLogWriter::operator()(const Message& message, const std::string& text) {
    if (text == last_) return;
    last_ = text;
    const LogEvent event = message_event(message);
    world_->report_event(event_identifier(event), event.level, event_text(text));
}

}  // namespace wd
