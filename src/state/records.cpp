#include "state/records.h"

#include "state/files.h"
#include "state/strict_reader.h"

namespace wd {
namespace {

using strict_json::FieldSpec;
using strict_json::Kind;
using strict_json::optional_of;
using strict_json::read_fields;

constexpr std::array<FieldSpec, 2> CLOSED_FIELDS{{
    {"closedAt", Kind::U64, true},
    {"logonTime", Kind::I64, false},
}};
constexpr std::array<FieldSpec, 4> PLAYER_FIELDS{{
    {"exePath", Kind::Text, true},
    {"imageName", Kind::Text, true},
    {"pid", Kind::U32, false},
    {"startedAt", Kind::U64, false},
}};
constexpr std::array<FieldSpec, 2> LIVENESS_FIELDS{{
    {"pid", Kind::U32, true},
    {"ts", Kind::U64, true},
}};
constexpr std::array<FieldSpec, 2> UPDATING_FIELDS{{
    {"startedAtMs", Kind::U64, true},
    {"version", Kind::Text, true},
}};

constexpr std::array<FieldSpec, 2> LAST_CRASH_FIELDS{{
    {"what", Kind::Text, true},
    {"at", Kind::U64, true},
}};

constexpr std::array<FieldSpec, 1> RESTART_FIELDS{{
    {"requestedAt", Kind::U64, true},
}};

}  // namespace

std::optional<ClosedFlag> parse_closed_flag(std::string_view text) {
    auto f = read_fields(text, CLOSED_FIELDS);
    if (!f) return std::nullopt;
    return ClosedFlag{*optional_of<std::uint64_t>((*f)[0]), optional_of<std::int64_t>((*f)[1])};
}

std::optional<PlayerInfo> parse_player_info(std::string_view text) {
    auto f = read_fields(text, PLAYER_FIELDS);
    if (!f) return std::nullopt;
    return PlayerInfo{std::get<std::string>(std::move((*f)[0])),
                      std::get<std::string>(std::move((*f)[1])),
                      optional_of<std::uint32_t>((*f)[2]), optional_of<std::uint64_t>((*f)[3])};
}

std::optional<LivenessRecord> parse_liveness_record(std::string_view text) {
    auto f = read_fields(text, LIVENESS_FIELDS);
    if (!f) return std::nullopt;
    return LivenessRecord{*optional_of<std::uint32_t>((*f)[0]),
                          *optional_of<std::uint64_t>((*f)[1])};
}

std::optional<UpdatingSentinel> parse_updating_sentinel(std::string_view text) {
    auto f = read_fields(text, UPDATING_FIELDS);
    if (!f) return std::nullopt;
    return UpdatingSentinel{*optional_of<std::uint64_t>((*f)[0]),
                            std::get<std::string>(std::move((*f)[1]))};
}

std::optional<LastCrashRecord> parse_last_crash_record(std::string_view text) {
    auto f = read_fields(text, LAST_CRASH_FIELDS);
    if (!f) return std::nullopt;
    return LastCrashRecord{std::get<std::string>(std::move((*f)[0])),
                           *optional_of<std::uint64_t>((*f)[1])};
}

std::optional<RestartRequest> parse_restart_request(std::string_view text) {
    auto f = read_fields(text, RESTART_FIELDS);
    if (!f) return std::nullopt;
    return RestartRequest{*optional_of<std::uint64_t>((*f)[0])};
}

std::string restart_request_json(std::uint64_t requested_at) {
    return "{\"requestedAt\":" + std::to_string(requested_at) + "}";
}

FileRead<ClosedFlag> read_closed_flag(World& world, const std::optional<Path>& path,
                                      FailureReasons reasons) {
    return parse_file(read_text_file(world, path, reasons), parse_closed_flag);
}
FileRead<PlayerInfo> read_player_info(World& world, const std::optional<Path>& path,
                                      FailureReasons reasons) {
    return parse_file(read_text_file(world, path, reasons), parse_player_info);
}
FileRead<LivenessRecord> read_liveness_record(World& world, const std::optional<Path>& path,
                                              FailureReasons reasons) {
    return parse_file(read_text_file(world, path, reasons), parse_liveness_record);
}
FileRead<UpdatingSentinel> read_updating_sentinel(World& world, const std::optional<Path>& path,
                                                  FailureReasons reasons) {
    return parse_file(read_text_file(world, path, reasons), parse_updating_sentinel);
}
FileRead<LastCrashRecord> read_last_crash_record(World& world, const std::optional<Path>& path,
                                                 FailureReasons reasons) {
    return parse_file(read_text_file(world, path, reasons), parse_last_crash_record);
}
FileRead<RestartRequest> read_restart_request(World& world, const std::optional<Path>& path,
                                              FailureReasons reasons) {
    return parse_file(read_text_file(world, path, reasons), parse_restart_request);
}

}  // namespace wd
