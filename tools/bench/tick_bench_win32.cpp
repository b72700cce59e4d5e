// tick-bench.exe: the cost of healthy supervision, measured on the real Win32 world. It runs
// the watchdog's own ticks with an interval of 0 over a healthy test player that the first
// tick launches, and prints one "name value" pair per line: ticks per second, CPU time per
// tick, processes started per healthy tick (spawns and tool runs), and the working set and
// handle count after 100 and after 10,000 ticks. Not a test: scripts/bench runs it.
//
//   tick-bench.exe [TICKS]     (10000 by default; the player comes from the usual settings)
#include <cstdio>
#include <string>

#include "base/win32.h"
#include "base/win32_world.h"
#include "bin/config.h"
#include "bin/supervisor.h"

// After <windows.h>.
#include <psapi.h>

namespace {

using namespace wd;

// Counts every process the loop starts.
class CountingWorld : public Win32World {
  public:
    std::uint64_t started = 0;

    SpawnResult spawn_process(const Path& program) override {
        ++started;
        return Win32World::spawn_process(program);
    }
    ToolOutput run_tool(std::u16string_view name,
                        const std::vector<std::u16string>& args) override {
        ++started;
        return Win32World::run_tool(name, args);
    }
};

double cpu_seconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto value = [](const FILETIME& t) {
        return static_cast<double>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
    };
    return value(kernel) + value(user);
}

struct Footprint {
    std::uint64_t working_set_kib = 0;
    std::uint64_t heap_kib = 0;
    std::uint64_t handles = 0;
};

// Bytes in use in every heap of the process.
std::uint64_t heap_bytes_in_use() {
    HANDLE heaps[256];
    const DWORD n = ::GetProcessHeaps(256, heaps);
    std::uint64_t total = 0;
    for (DWORD i = 0; i < n && i < 256; ++i) {
        PROCESS_HEAP_ENTRY entry{};
        if (!::HeapLock(heaps[i])) continue;
        while (::HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        }
        ::HeapUnlock(heaps[i]);
    }
    return total;
}

// Valid handle values in the process's handle table (GetProcessHandleCount answers 0 under
// Wine, so the table is probed).
std::uint64_t open_handles() {
    std::uint64_t n = 0;
    DWORD flags = 0;
    for (std::uintptr_t value = 4; value < 1 << 16; value += 4) {
        // Handle values are small multiples of 4; the probe only asks whether one is open.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        n += ::GetHandleInformation(handle, &flags) ? 1 : 0;
    }
    return n;
}

Footprint footprint() {
    Footprint f;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
        f.working_set_kib = counters.WorkingSetSize / 1024;
    }
    f.heap_kib = heap_bytes_in_use() / 1024;
    f.handles = open_handles();
    return f;
}

void print(const char* name, const std::string& value) {
    std::printf("%s %s\n", name, value.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::uint64_t ticks = argc > 1 ? std::wcstoull(argv[1], nullptr, 10) : 10'000;
    CountingWorld world;
    WatchdogConfig config = read_config(world);
    config.check_interval_secs = 0;
    SupervisorState state = initial_state(world);

    // The first tick launches; then let the player write its first records.
    run_tick(world, config, state);
    ::Sleep(2000);
    const std::uint64_t started_before = world.started;

    Footprint at_100;
    const double cpu_start = cpu_seconds();
    const std::uint64_t wall_start = world.monotonic_ns();
    for (std::uint64_t i = 1; i <= ticks; ++i) {
        world.sleep_secs(run_tick(world, config, state).secs);
        if (i == 100) at_100 = footprint();
    }
    const double wall = static_cast<double>(world.monotonic_ns() - wall_start) / 1e9;
    const double cpu = cpu_seconds() - cpu_start;
    const Footprint at_end = footprint();

    print("ticks", std::to_string(ticks));
    print("ticks_per_second",
          std::to_string(static_cast<std::uint64_t>(static_cast<double>(ticks) / wall)));
    print("cpu_us_per_tick",
          std::to_string(static_cast<std::uint64_t>(cpu * 1e6 / static_cast<double>(ticks))));
    print("processes_started_per_tick",
          std::to_string(static_cast<double>(world.started - started_before) /
                         static_cast<double>(ticks)));
    print("own_child_running", state.child ? "yes" : "no");
    print("working_set_kib_at_100", std::to_string(at_100.working_set_kib));
    print("working_set_kib_at_end", std::to_string(at_end.working_set_kib));
    print("heap_kib_at_100", std::to_string(at_100.heap_kib));
    print("heap_kib_at_end", std::to_string(at_end.heap_kib));
    print("handles_at_100", std::to_string(at_100.handles));
    print("handles_at_end", std::to_string(at_end.handles));
    if (state.child) state.child->terminate_and_wait();
    return 0;
}
