#include "bin/hang_dump.h"

#include <gtest/gtest.h>

#include "sim_loop.h"

namespace wd {
namespace {

using fakes::DIR;
using fakes::Loop;
using fakes::SimProcess;
using fakes::SimWorld;
using fakes::spawned;

using fakes::DUMPS;
using fakes::HUNG;

TEST(HangDumpNames, SortByTimeAndReadBackOnlyAsWritten) {
    EXPECT_EQ(hang_dump_name(1765000060000, 1000), u"hang-20251206T054740.000Z-pid1000.dmp");
    const struct {
        std::u16string name;
        std::optional<std::uint64_t> at;
    } cases[] = {
        {u"hang-20251206T054740.000Z-pid1000.dmp", 1765000060000},
        {u"hang-19700101T000000.000Z-pid0.dmp", 0},
        {u"hang-20000229T235959.999Z-pid4294967295.dmp", 951868799999},
        {u"hang-20010229T000000.000Z-pid1.dmp", std::nullopt},  // no such day
        {u"hang-20251206T054760.000Z-pid1.dmp", std::nullopt},
        {u"hang-20251206T054740.000Z-pid01.dmp", std::nullopt},
        {u"hang-20251206T054740.000Z-pid1.dmp.tmp", std::nullopt},
        {u"player.dmp", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hang_dump_time(c.name), c.at) << utf16_to_utf8_lossy(c.name);
    }
    EXPECT_LT(hang_dump_name(1765000060000, 99999), hang_dump_name(1765000060001, 1));
}

TEST(HangDumpNames, OnlyTheNewestAreKeptAndLeftoverTemporariesGo) {
    const std::u16string a = u"hang-20251206T054740.000Z-pid9.dmp";
    const std::u16string b = u"hang-20251206T054741.000Z-pid8.dmp";
    const std::u16string c = u"hang-20251207T000000.000Z-pid7.dmp";
    const std::u16string other = u"notes.txt";
    const struct {
        std::vector<std::u16string> present;
        std::uint64_t keep;
        std::vector<std::u16string> left;
    } cases[] = {
        {{c, a, b}, 2, {b, c}},
        {{c, a, b}, 1, {c}},
        {{a, b}, 5, {a, b}},
        {{a, other, a + u".tmp", u"x.dmp.tmp"}, 1, {a, other, u"x.dmp.tmp"}},
    };
    for (const auto& t : cases) {
        SimWorld world;
        world.create_dirs(DUMPS);
        for (const auto& name : t.present)
            world.files[Path(DUMPS).append(u"\\").append(name)] = "MDMP";
        prune_hang_dumps(world, DUMPS, t.keep);
        EXPECT_EQ(world.list_folder(DUMPS), t.left) << t.keep;
    }
}

// A silent child is dumped before it is ended; whatever the dump does, the hang line, the
// record, the end and the relaunch are as without it, and one line says how the dump went.
TEST(HangDumps, EveryOutcomeIsOneLineAndSupervisionGoesOn) {
    const std::string written = "hang dump written to " + utf16_to_utf8_lossy(DUMPS) +
                                "\\hang-20251206T054740.000Z-pid1000.dmp";
    const struct {
        const char* name;
        std::function<void(SimWorld&, SimProcess&)> inject;
        std::string line;
        std::vector<std::u16string> left;
        bool recorded = true;  // false where the fault also keeps the counter from being written
        std::uint64_t ended_after_ms = 0;  // from the hang check to the player's end
        std::optional<std::uint64_t> timeout_secs = std::nullopt;  // the owner's bound, if set
    } cases[] = {
        {"written",
         [](SimWorld&, SimProcess&) {},
         written,
         {u"hang-20251206T054740.000Z-pid1000.dmp"}},
        {"no rights",
         [](SimWorld&, SimProcess& p) { p.dump_error = 5; },
         "hang dump not written (os error 5)",
         {}},
        {"stalls past the bound: ended anyway, partial file deleted",
         [](SimWorld&, SimProcess& p) { p.dump_stalls = true; },
         "hang dump not written (not done within 10s)",
         {},
         true,
         10'000},
        {"stalls past a longer bound the owner set: the line names that bound",
         [](SimWorld&, SimProcess& p) { p.dump_stalls = true; },
         "hang dump not written (not done within 45s)",
         {},
         true,
         45'000,
         45},
        {"a bound past what a wait can hold is the longest wait there is",
         [](SimWorld&, SimProcess& p) { p.dump_stalls = true; },
         "hang dump not written (not done within 4294967s)",
         {},
         true,
         MAX_HANG_DUMP_WAIT_MS,
         UINT64_MAX / 1000},
        {"fails once its file exists: the partial file is deleted",
         [](SimWorld&, SimProcess& p) { p.dump_error_after_write = 39; },
         "hang dump not written (os error 39)",
         {}},
        {"cannot be renamed into place: the temporary file is deleted",
         [](SimWorld& w, SimProcess&) {
             w.unwritable.insert(DUMPS + u"\\hang-20251206T054740.000Z-pid1000.dmp");
         },
         "hang dump not written (os error 5)",
         {}},
        {"disk full",
         [](SimWorld& w, SimProcess&) { w.free_bytes = 0; },
         "hang dump not written (os error 112)",
         {},
         false},
        {"folder cannot be made",
         [](SimWorld& w, SimProcess&) { w.read_only_folders.insert(fakes::LOCAL); },
         "hang dump not written (os error 5)",
         {},
         false},
        {"no local folder",
         [](SimWorld& w, SimProcess&) { w.local = std::nullopt; },
         "hang dump not written (the watchdog folder cannot be had)",
         {},
         false},
    };
    for (const auto& c : cases) {
        SimWorld world;
        world.behaviour = [&](SimProcess& p) {
            if (world.spawned.empty()) c.inject(world, p);
        };
        WatchdogConfig config;
        config.hang_dumps = 2;
        if (c.timeout_secs) config.hang_dump_timeout_ms = *c.timeout_secs * 1000;
        Loop loop(world, config);
        loop.ticks(21);  // hung at t = 60 s
        EXPECT_EQ(loop.messages(),
                  (std::vector<std::string>{spawned(1000), HUNG, c.line, spawned(1001)}))
            << c.name;
        EXPECT_FALSE(world.processes.at(1000).alive) << c.name;
        EXPECT_EQ(world.processes.at(1000).ended_at_ms, 1'765'000'060'000 + c.ended_after_ms)
            << c.name;
        if (c.recorded) {
            EXPECT_EQ(world.files[DIR + u"\\recoveries.txt"], "1") << c.name;
        }
        EXPECT_EQ(world.list_folder(DUMPS).value_or(std::vector<std::u16string>{}), c.left)
            << c.name;
    }
}

// Off, the feature leaves no trace: the same run logs the same bytes and makes no folder. On,
// its log is the same but for one line per dump, and an adopted player is dumped by its pid.
TEST(HangDumps, OffLeavesNoTraceAndOnAddsOnlyItsLines) {
    const auto run = [](std::uint64_t keep, bool adopted) {
        SimWorld world;
        world.behaviour = [](SimProcess&) {};  // never writes liveness.json
        if (adopted) world.write_liveness(world.add_process({}));
        WatchdogConfig config;
        config.hang_dumps = keep;
        Loop loop(world, config);
        loop.ticks(70);  // three hangs
        return std::pair(std::move(world.stderr_text),
                         world.list_folder(DUMPS).value_or(std::vector<std::u16string>{}));
    };
    for (const bool adopted : {false, true}) {
        const auto [off_log, off_dumps] = run(0, adopted);
        const auto [on_log, on_dumps] = run(2, adopted);
        EXPECT_EQ(off_dumps.size(), 0u);
        std::string on_without_dumps;
        std::size_t dump_lines = 0;
        for (std::size_t at = 0; at < on_log.size();) {
            const std::size_t end = on_log.find('\n', at) + 1;
            const std::string line = on_log.substr(at, end - at);
            if (line.find("] hang dump written to ") != std::string::npos) {
                ++dump_lines;
            } else {
                on_without_dumps += line;
            }
            at = end;
        }
        EXPECT_EQ(on_without_dumps, off_log) << adopted;
        EXPECT_EQ(dump_lines, 3u) << adopted;
        EXPECT_EQ(on_dumps.size(), 2u) << adopted;
    }
}

}  // namespace
}  // namespace wd
