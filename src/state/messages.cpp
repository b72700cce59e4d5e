#include "state/messages.h"

#include <cstdio>
#include <iterator>
#include <utility>

namespace wd {

std::string exit_description(std::uint32_t exit_code) {
    if (static_cast<std::int32_t>(exit_code) >= 0) return "code " + std::to_string(exit_code);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(exit_code));
    return std::string("code 0x") + hex;
}

namespace {

using enum MessageKind;
using enum EventLevel;
using Text = std::string (*)(const Message&);

std::string n(std::uint64_t number) {
    return std::to_string(number);
}

// Minutes after midnight as HH:MM.
std::string clock_text(std::uint64_t minute) {
    char text[8];
    std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(minute / 60 % 24),
                  static_cast<unsigned>(minute % 60));
    return text;
}

struct Row {
    MessageKind kind;
    LogEvent event;
    Text text;
};

// In the order of the kinds.
constexpr Row MESSAGES[] = {
    {Started,
     {1000, Information},
     [](const Message&) -> std::string { return "vellumbeacon-watchdog started"; }},
    {Spawned,
     {1001, Information},
     [](const Message& m) {
         return "spawned player pid=" + n(m.number) + " (" + path_display(m.path) + ")";
     }},
    {ExitedOrdinarily,
     {1002, Information},
     [](const Message& m) {
         return "player exited (" + exit_description(static_cast<std::uint32_t>(m.number)) + ")";
     }},
    {Exited,
     {1003, Warning},
     [](const Message& m) {
         return "player exited (" + exit_description(static_cast<std::uint32_t>(m.number)) + ")";
     }},
    {RapidRestart,
     {1004, Warning},
     [](const Message& m) {
         return "rapid restart #" + n(m.number) + "; backing off " + n(m.other) + "s";
     }},
    {Hung,
     {1005, Warning},
     [](const Message&) -> std::string {
         return "player hung (process alive, liveness stale) - killing";
     }},
    {OverMemory,
     {1006, Warning},
     [](const Message& m) {
         return "player over memory limit (" + n(m.number) + " MB private, limit " + n(m.other) +
                " MB) - killing";
     }},
    {NotResponding,
     {1007, Warning},
     [](const Message& m) {
         return "player not responding (no window answered for " + n(m.number) + "s) - killing";
     }},
    {SpawnFailed,
     {1008, Error},
     [](const Message& m) { return "spawn failed (" + path_display(m.path) + "): " + m.detail; }},
    {NothingToLaunch,
     {1009, Error},
     [](const Message&) -> std::string {
         return "cannot resolve player exe (no player.json / override / sibling)";
     }},
    {StandingDown,
     {1010, Information},
     [](const Message&) -> std::string {
         return "player closed by the operator - standing down until the next logon";
     }},
    {CloseCleared,
     {1011, Information},
     [](const Message&) -> std::string {
         return "close from an earlier session cleared - supervising again";
     }},
    {ClosedNotExited,
     {1012, Warning},
     [](const Message&) -> std::string { return "closed player did not exit - ending it"; }},
    {VerifyPending,
     {1013, Information},
     [](const Message&) -> std::string {
         return "verify-pending: launched player after update grace";
     }},
    {DumpWritten,
     {1014, Information},
     [](const Message& m) { return "hang dump written to " + path_display(m.path); }},
    {DumpNotWritten,
     {1015, Warning},
     [](const Message& m) { return "hang dump not written (" + m.detail + ")"; }},
    {RivalLive,
     {1016, Warning},
     [](const Message& m) {
         return "another watchdog is live (pid=" + n(m.number) + "); exiting";
     }},
    {SelfStarted,
     {1017, Information},
     [](const Message& m) {
         return "player already running (pid=" + n(m.number) + ") - waiting for its record";
     }},
    {ToolNoAnswer,
     {1019, Warning},
     [](const Message& m) {
         return "tasklist gave no answer (" + m.detail + ") - asking again at the next check";
     }},
    {ForeignClaim,
     {1020, Warning},
     [](const Message&) -> std::string {
         return "the single-instance claim is another account's - watchdog.lock decides";
     }},
    {RestartRequested,
     {1021, Information},
     [](const Message&) -> std::string { return "player restart requested - ending it"; }},
    {RestartNoPlayer,
     {1022, Information},
     [](const Message&) -> std::string { return "player restart requested - no player running"; }},
    {RestartClosed,
     {1023, Information},
     [](const Message&) -> std::string {
         return "player restart request ignored - closed by the operator until the next logon";
     }},
    {RestartTooOld,
     {1024, Warning},
     [](const Message&) -> std::string {
         return "player restart request ignored - older than 10 minutes";
     }},
    {RestartInvalid,
     {1025, Warning},
     [](const Message& m) { return "player restart request ignored - restart.json " + m.detail; }},
    {DailyRestart,
     {1026, Information},
     [](const Message& m) {
         return "daily restart (" + clock_text(m.number) + ") - ending the player";
     }},
    {DailyClosed,
     {1027, Information},
     [](const Message& m) {
         return "daily restart (" + clock_text(m.number) + ") skipped - closed by the operator";
     }},
    {DailyUpdating,
     {1028, Information},
     [](const Message& m) {
         return "daily restart (" + clock_text(m.number) + ") skipped - update in progress";
     }},
};

constexpr bool rows_in_kind_order() {
    for (std::size_t i = 0; i < std::size(MESSAGES); ++i) {
        if (static_cast<std::size_t>(MESSAGES[i].kind) != i) return false;
    }
    return std::size(MESSAGES) == static_cast<std::size_t>(DailyUpdating) + 1;
}
static_assert(rows_in_kind_order(), "one row per kind, in the order of the kinds");

const Row& row_of(MessageKind kind) {
    return MESSAGES[static_cast<std::size_t>(kind)];
}

Message of(MessageKind kind, std::uint64_t number = 0, std::uint64_t other = 0) {
    return {kind, number, other, {}, {}};
}

}  // namespace

std::string message_text(const Message& message) {
    return row_of(message.kind).text(message);
}

LogEvent message_event(const Message& message) {
    return row_of(message.kind).event;
}

namespace msg {

Message started() {
    return of(Started);
}
Message spawned(std::uint32_t pid, const Path& program) {
    Message m = of(Spawned, pid);
    m.path = program;
    return m;
}
Message exited(std::uint32_t exit_code, bool recovery) {
    return of(recovery ? Exited : ExitedOrdinarily, exit_code);
}
Message rapid_restart(std::uint32_t count, std::uint64_t backoff_secs) {
    return of(RapidRestart, count, backoff_secs);
}
Message hung() {
    return of(Hung);
}
Message over_memory(std::uint64_t mib, std::uint64_t limit_mb) {
    return of(OverMemory, mib, limit_mb);
}
Message not_responding(std::uint64_t secs) {
    return of(NotResponding, secs);
}
Message spawn_failed(const Path& program, std::string why) {
    Message m = of(SpawnFailed);
    m.path = program;
    m.detail = std::move(why);
    return m;
}
Message nothing_to_launch() {
    return of(NothingToLaunch);
}
Message standing_down() {
    return of(StandingDown);
}
Message close_cleared() {
    return of(CloseCleared);
}
Message closed_not_exited() {
    return of(ClosedNotExited);
}
Message verify_pending() {
    return of(VerifyPending);
}
Message dump_written(const Path& dump) {
    Message m = of(DumpWritten);
    m.path = dump;
    return m;
}
Message dump_not_written(std::string why) {
    Message m = of(DumpNotWritten);
    m.detail = std::move(why);
    return m;
}
Message rival_live(std::uint32_t pid) {
    return of(RivalLive, pid);
}
Message self_started(std::uint32_t pid) {
    return of(SelfStarted, pid);
}
Message tool_no_answer(std::string why) {
    Message m = of(ToolNoAnswer);
    m.detail = std::move(why);
    return m;
}
Message foreign_claim() {
    return of(ForeignClaim);
}
Message restart_requested() {
    return of(RestartRequested);
}
Message restart_no_player() {
    return of(RestartNoPlayer);
}
Message restart_closed() {
    return of(RestartClosed);
}
Message restart_too_old() {
    return of(RestartTooOld);
}
Message restart_invalid(std::string why) {
    Message m = of(RestartInvalid);
    m.detail = std::move(why);
    return m;
}
Message daily_restart(std::uint32_t minute) {
    return of(DailyRestart, minute);
}
Message daily_closed(std::uint32_t minute) {
    return of(DailyClosed, minute);
}
Message daily_updating(std::uint32_t minute) {
    return of(DailyUpdating, minute);
}

}  // namespace msg

}  // namespace wd
