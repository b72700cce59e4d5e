// The last-crash record round trip: any valid UTF-8 text formatted and parsed back by an
// independent JSON reader gives the same text and time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "state/records.h"
#include "state/recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t at;
    std::memcpy(&at, data, 8);
    const std::string_view what(reinterpret_cast<const char*>(data) + 8, size - 8);
    const std::string record = wd::format_last_crash_record(what, at);
    for (const char c : record) {
        if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();  // one line, escaped
    }
    if (!wd::is_valid_utf8(what)) return 0;
    const auto parsed = nlohmann::json::parse(record, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || parsed.size() != 2) __builtin_trap();
    if (parsed.at("what").get<std::string>() != what) __builtin_trap();
    if (parsed.at("at").get<std::uint64_t>() != at) __builtin_trap();
    return 0;
}
