// Everything the watchdog logs, as values: a message is of one kind and carries that kind's
// fields; its text and its event in the Application event log (ID and level) come from the
// kind, in one table. The IDs are public (Event Viewer and forwarded events show them) and an
// ID never changes meaning. Portable.
#pragma once

#include <cstdint>
#include <string>

#include "base/path.h"
#include "base/world.h"

namespace wd {

enum class MessageKind : std::uint8_t {
    Started,           // the watchdog started
    Spawned,           // number: the pid; text: the program
    ExitedOrdinarily,  // number: the exit code of an ordinary end (not a recovery)
    Exited,            // number: the exit code of an end that is a recovery
    RapidRestart,      // number: the rapid restarts so far; other: the back-off in seconds
    Hung,              // the player's liveness record went stale
    OverMemory,        // number: its private memory in whole MiB; other: the ceiling in MB
    NotResponding,     // number: the seconds since a window last answered
    SpawnFailed,       // text: the program; detail: the system's reason
    NothingToLaunch,   // no player executable could be resolved
    StandingDown,      // the operator's close stands
    CloseCleared,      // a close of an earlier logon was deleted
    ClosedNotExited,   // the own child outlived the close
    VerifyPending,     // the one launch an overdue update allows
    DumpWritten,       // text: the dump
    DumpNotWritten,    // detail: why not
    RivalLive,         // number: the live watchdog's pid (0: unknown)
    SelfStarted,       // number: the pid of a player that started itself
    ToolNoAnswer,      // detail: why tasklist said nothing
    ForeignClaim,      // the single-instance claim was made by another account
    RestartRequested,  // a running player is ended and started again on request
    RestartNoPlayer,   // a restart was asked for, and no player runs
    RestartClosed,     // a restart request while the operator's close stands
    RestartTooOld,     // a restart request made more than 10 minutes ago
    RestartInvalid,    // restart.json that cannot be read or is not a request; detail: which
    DailyRestart,      // number: the time of day, in minutes
    DailyClosed,       // number: the time of day, in minutes
    DailyUpdating,     // number: the time of day, in minutes
};

struct Message {
    MessageKind kind = MessageKind::Started;
    std::uint64_t number = 0;
    std::uint64_t other = 0;
    Path path;           // a file the message names, shown as the system shows paths
    std::string detail;  // a reason, UTF-8
    bool operator==(const Message&) const = default;
};

// The event a message is written to the event log as.
struct LogEvent {
    std::uint16_t id;
    EventLevel level;
    bool operator==(const LogEvent&) const = default;
};

// "code <n>" for a player's exit: decimal when the code read as signed 32 bits is not negative,
// otherwise "0x" and lower-case hexadecimal.
std::string exit_description(std::uint32_t exit_code);

// The message's line, without its time.
std::string message_text(const Message& message);

// The message's event.
LogEvent message_event(const Message& message);

// One message of each kind, for callers that need the fields to be named.
namespace msg {
Message started();
Message spawned(std::uint32_t pid, const Path& program);
// The own child's exit, as an ordinary end or as a recovery.
Message exited(std::uint32_t exit_code, bool recovery);
Message rapid_restart(std::uint32_t count, std::uint64_t backoff_secs);
Message hung();
Message over_memory(std::uint64_t mib, std::uint64_t limit_mb);
Message not_responding(std::uint64_t secs);
Message spawn_failed(const Path& program, std::string why);
Message nothing_to_launch();
Message standing_down();
Message close_cleared();
Message closed_not_exited();
Message verify_pending();
Message dump_written(const Path& dump);
Message dump_not_written(std::string why);
Message rival_live(std::uint32_t pid);
Message self_started(std::uint32_t pid);
Message tool_no_answer(std::string why);
Message foreign_claim();
Message restart_requested();
Message restart_no_player();
Message restart_closed();
Message restart_too_old();
Message restart_invalid(std::string why);
Message daily_restart(std::uint32_t minute);
Message daily_closed(std::uint32_t minute);
Message daily_updating(std::uint32_t minute);
}  // namespace msg

}  // namespace wd
