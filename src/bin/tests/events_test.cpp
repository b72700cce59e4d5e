#include "bin/events.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "bin/startup.h"
#include "sim_loop.h"
#include "state/log.h"

namespace wd {
namespace {

using enum EventLevel;

// Every message the watchdog writes, in each of its forms: its line and its event; the message
// table compiled into watchdog.exe holds each of these IDs at its level (Event Viewer finds a
// message only under the full identifier), and nothing else.
TEST(Events, EachMessageItsLineIdAndLevelAsTheMessageTableHasThem) {
    const Path player = u"C:\\Signage\\player.exe";
    const struct {
        Message message;
        std::string line;
        LogEvent event;
    } rows[] = {
        {msg::started(), "vellumbeacon-watchdog started", {1000, Information}},
        {msg::spawned(4120, player),
         "spawned player pid=4120 (C:\\Signage\\player.exe)",
         {1001, Information}},
        {msg::exited(0, false), "player exited (code 0)", {1002, Information}},
        {msg::exited(3, false), "player exited (code 3)", {1002, Information}},
        {msg::exited(0xC0000005, true), "player exited (code 0xc0000005)", {1003, Warning}},
        {msg::exited(30, true), "player exited (code 30)", {1003, Warning}},
        {msg::rapid_restart(2, 12), "rapid restart #2; backing off 12s", {1004, Warning}},
        {msg::hung(), "player hung (process alive, liveness stale) - killing", {1005, Warning}},
        {msg::over_memory(151, 100),
         "player over memory limit (151 MB private, limit 100 MB) - killing",
         {1006, Warning}},
        {msg::not_responding(31),
         "player not responding (no window answered for 31s) - killing",
         {1007, Warning}},
        {msg::spawn_failed(u"player", "program not found"),
         "spawn failed (player): program not found",
         {1008, Error}},
        {msg::nothing_to_launch(),
         "cannot resolve player exe (no player.json / override / sibling)",
         {1009, Error}},
        {msg::standing_down(),
         "player closed by the operator - standing down until the next logon",
         {1010, Information}},
        {msg::close_cleared(),
         "close from an earlier session cleared - supervising again",
         {1011, Information}},
        {msg::closed_not_exited(), "closed player did not exit - ending it", {1012, Warning}},
        {msg::verify_pending(),
         "verify-pending: launched player after update grace",
         {1013, Information}},
        {msg::dump_written(u"C:\\dumps\\hang-20261209T134000.123Z-pid4120.dmp"),
         "hang dump written to C:\\dumps\\hang-20261209T134000.123Z-pid4120.dmp",
         {1014, Information}},
        {msg::dump_not_written("the watchdog folder cannot be had"),
         "hang dump not written (the watchdog folder cannot be had)",
         {1015, Warning}},
        {msg::rival_live(4120), "another watchdog is live (pid=4120); exiting", {1016, Warning}},
        {msg::self_started(7),
         "player already running (pid=7) - waiting for its record",
         {1017, Information}},
        {msg::tool_no_answer("exit status 1"),
         "tasklist gave no answer (exit status 1) - asking again at the next check",
         {1019, Warning}},
        {msg::foreign_claim(),
         "the single-instance claim is another account's - watchdog.lock decides",
         {1020, Warning}},
        {msg::restart_requested(), "player restart requested - ending it", {1021, Information}},
        {msg::restart_no_player(),
         "player restart requested - no player running",
         {1022, Information}},
        {msg::restart_closed(),
         "player restart request ignored - closed by the operator until the next logon",
         {1023, Information}},
        {msg::restart_too_old(),
         "player restart request ignored - older than 10 minutes",
         {1024, Warning}},
        {msg::restart_invalid("cannot be read"),
         "player restart request ignored - restart.json cannot be read",
         {1025, Warning}},
        {msg::daily_restart(5), "daily restart (00:05) - ending the player", {1026, Information}},
        {msg::daily_closed(23 * 60 + 59),
         "daily restart (23:59) skipped - closed by the operator",
         {1027, Information}},
        {msg::daily_updating(12 * 60),
         "daily restart (12:00) skipped - update in progress",
         {1028, Information}},
    };
    const std::map<EventLevel, std::string> severity{
        {Information, "Informational"}, {Warning, "Warning"}, {Error, "Error"}};
    std::map<int, std::string> written;
    for (const auto& row : rows) {
        EXPECT_EQ(message_text(row.message), row.line);
        EXPECT_EQ(message_event(row.message), row.event) << row.line;
        written[row.event.id] = severity.at(row.event.level);
    }
    EXPECT_EQ(event_identifier({1000, Information}), 0x400003e8u);
    EXPECT_EQ(event_identifier({1003, Warning}), 0x800003ebu);

    std::ifstream file(WATCHDOG_SOURCE_DIR "/src/bin/events.mc");
    ASSERT_TRUE(file) << "events.mc";
    std::map<int, std::string> table;
    int id = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("MessageId=")) id = std::stoi(line.substr(10));
        if (line.starts_with("Severity=")) table[id] = line.substr(9);
    }
    EXPECT_EQ(table, written);
}

// What an event shows is the line as written, however long it is and whatever it holds.
TEST(Events, ALongLineIsCutAndTwoPercentSignsShowAsWritten) {
    const std::string zwsp = "\xE2\x80\x8B";
    const std::string e_acute = "\xC3\xA9";  // two bytes, one character
    const struct {
        std::string line;
        std::string text;
    } rows[] = {
        {"spawned player pid=7 (C:\\Signage\\player.exe)",
         "spawned player pid=7 (C:\\Signage\\player.exe)"},
        {"spawn failed (C:\\100%%1 player.exe): x",
         "spawn failed (C:\\100%" + zwsp + "%1 player.exe): x"},
        {"%%%", "%" + zwsp + "%" + zwsp + "%"},
        {"50% done", "50% done"},
        {std::string(5000, 'x'), std::string(MAX_EVENT_CHARS, 'x')},
        {std::string(3999, 'x') + e_acute + e_acute, std::string(3999, 'x') + e_acute},
    };
    for (const auto& row : rows) EXPECT_EQ(event_text(row.line), row.text) << row.line;
}

// With the setting on, every line is also an event (the rival's too), and a line repeated at
// every check is sent once until another line comes in between; off, nothing is sent.
TEST(Events, EveryLineOnceButARepeatedOneAndNothingWhenOff) {
    for (const bool on : {false, true}) {
        fakes::SimWorld world;
        world.files.erase(world.player_exe);  // nothing to launch: the same line at every check
        if (on) world.environment[u"VELLUMBEACON_WATCHDOG_EVENT_LOG"] = u"1";
        auto started = start_up(world);
        ASSERT_TRUE(started);
        fakes::Loop loop(world, std::move(*started));
        loop.ticks(3);
        world.files[world.player_exe] = "MZ";
        loop.ticks(1);
        world.files.erase(world.player_exe);
        world.kill(1000, 1);
        loop.ticks(2);
        if (!on) {
            EXPECT_TRUE(world.events.empty());
            continue;
        }
        std::vector<std::string> sent;
        for (const auto& event : world.events) sent.push_back(event.text);
        const std::string none = "cannot resolve player exe (no player.json / override / sibling)";
        EXPECT_EQ(sent, (std::vector<std::string>{"vellumbeacon-watchdog started", none,
                                                  "spawned player pid=1000 (" +
                                                      utf16_to_utf8_lossy(world.player_exe) + ")",
                                                  "player exited (code 1)", none}));
        EXPECT_EQ(world.events[1].identifier, 0xc00003f1u);
        EXPECT_EQ(world.events[3].level, Warning);

        // A second watchdog's one line is an event too.
        world.add_process(4120, "watchdog.exe");
        world.files[fakes::LOCK] = "4120";
        EXPECT_FALSE(start_up(world));
        ASSERT_EQ(world.events.size(), 6u);
        EXPECT_EQ(world.events[5].text, "another watchdog is live (pid=4120); exiting");
        EXPECT_EQ(world.events[5].identifier, 0x80000000u | 1016);
    }
}

}  // namespace
}  // namespace wd
