// Any bytes through one record reader (chosen at build time): no crash, no leak, no
// undefined behaviour, and a record that is accepted holds only values in its ranges.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/text.h"
#include "state/records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool utf8 = wd::is_valid_utf8(text);
#if defined(FUZZ_CLOSED)
    const auto record = wd::parse_closed_flag(text);
#elif defined(FUZZ_PLAYER)
    const auto record = wd::parse_player_info(text);
    if (record && !(wd::is_valid_utf8(record->exe_path) && wd::is_valid_utf8(record->image_name))) {
        __builtin_trap();
    }
#elif defined(FUZZ_LIVENESS)
    const auto record = wd::parse_liveness_record(text);
#elif defined(FUZZ_UPDATING)
    const auto record = wd::parse_updating_sentinel(text);
#elif defined(FUZZ_RESTART)
    const auto record = wd::parse_restart_request(text);
    // What the status command writes for an accepted time reads back as that time.
    if (record &&
        wd::parse_restart_request(wd::restart_request_json(record->requested_at))->requested_at !=
            record->requested_at) {
        __builtin_trap();
    }
#endif
    // Only valid UTF-8 without a NUL can ever be a record.
    if (record && (!utf8 || text.find('\0') != std::string_view::npos)) __builtin_trap();
    return 0;
}
