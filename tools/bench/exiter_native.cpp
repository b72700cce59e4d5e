// The supervised program of the reference measurement in scripts/bench, built natively: it
// runs for AFTER_MS plus a random part of JITTER_MS, appends "<wall-clock ms> exit <pid> 1" to
// TRACE just before it ends, and exits with code 1, as the test player does under the watchdog.
//
//   exiter TRACE AFTER_MS JITTER_MS
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: exiter TRACE AFTER_MS JITTER_MS\n");
        return 2;
    }
    const unsigned long after = std::strtoul(argv[2], nullptr, 10);
    const unsigned long jitter = std::strtoul(argv[3], nullptr, 10);
    std::minstd_rand random(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ getpid()));
    const unsigned long run_ms = after + (jitter > 0 ? random() % (jitter + 1) : 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(run_ms));
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    if (std::FILE* trace = std::fopen(argv[1], "a")) {
        std::fprintf(trace, "%lld exit %d 1\n", static_cast<long long>(now), getpid());
        std::fclose(trace);
    }
    return 1;
}
