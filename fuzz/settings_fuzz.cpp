// A setting's value as raw UTF-16 units (ill-formed ones included): parsed strictly or not
// at all, and the conversion to milliseconds saturates instead of wrapping.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/text.h"
#include "bin/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
    if (const auto secs = wd::parse_unsigned_decimal(units, UINT64_MAX)) {
        // Only an optional '+' and ASCII digits are accepted.
        for (std::size_t i = 0; i < units.size(); ++i) {
            const bool digit = units[i] >= u'0' && units[i] <= u'9';
            if (!digit && !(i == 0 && units[i] == u'+')) __builtin_trap();
        }
        const std::uint64_t ms = wd::secs_to_ms(*secs);
        if (ms / 1000 != *secs && ms != UINT64_MAX) __builtin_trap();
    }
    // A daily restart time is exactly HH:MM, and reads back as written.
    if (const auto minute = wd::parse_time_of_day(units)) {
        if (*minute >= 24 * 60 || wd::utf8_to_utf16_lossy(wd::time_of_day_text(*minute)) != units) {
            __builtin_trap();
        }
    }
    return 0;
}
