// A week of supervision in the simulated world with a player that misbehaves at random
// (crashes, hangs, operator closes, updates, clock jumps, torn and corrupt records), checked
// against the loop's invariants after every tick. Seeded and reproducible: a failure names
// its seed and tick; WATCHDOG_SOAK_SEED=<n> replays one seed, WATCHDOG_SOAK_DAYS=<n> sets
// the length.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "bin/supervisor.h"
#include "sim_loop.h"
#include "state/log_trim.h"

namespace wd {
namespace {

using testing::DIR;
using testing::Loop;
using testing::SimProcess;
using testing::SimWorld;

const Path CLOSED = DIR + u"\\closed.json";
const Path SENTINEL =
    u"C:\\Users\\kiosk\\AppData\\Roaming\\com.vellumbeacon.player\\updates\\updating.json";
const Path LOG = DIR + u"\\watchdog.log";
const Path COUNTER = DIR + u"\\recoveries.txt";

std::uint64_t env_number(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value ? std::strtoull(value, nullptr, 10) : fallback;
}

class Soak {
  public:
    explicit Soak(std::uint64_t seed) : random_(seed), loop_(world_, config()) {
        world_.behaviour = [](SimProcess& p) { p.heartbeat = true; };
    }

    static WatchdogConfig config() { return {}; }

    // Runs `ticks` ticks; the first broken invariant is returned with its tick.
    std::string run(std::uint64_t ticks) {
        for (std::uint64_t tick = 0; tick < ticks; ++tick) {
            misbehave();
            const bool launch_forbidden = close_stands() || update_within_grace();
            loop_.tick();
            const std::string broken = check(launch_forbidden);
            if (!broken.empty()) return "tick " + std::to_string(tick) + ": " + broken;
        }
        return "";
    }

    std::uint64_t recoveries() const { return recordable_exits_ + hangs_; }

  private:
    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) {
        return std::uniform_int_distribution<std::uint64_t>(lo, hi)(random_);
    }

    SimProcess* running_player() {
        for (auto& [pid, p] : world_.processes) {
            if (p.alive) return &p;
        }
        return nullptr;
    }

    void put(const Path& path, const std::string& text) {
        world_.create_dirs(*parent_folder(path));
        world_.files[path] = text;
    }

    // Per tick (3 s), the chances are tuned so that a week sees each event many times.
    void misbehave() {
        if (SimProcess* p = running_player()) {
            if (chance(0.002)) {  // crash or exit soon
                static constexpr std::uint32_t CODES[] = {0, 3, 1, 3221225477u, 0xFFFFFFFFu};
                p->exits_at_ms = world_.wall_ms + between(0, 5000);
                p->exits_with = CODES[between(0, 4)];
            } else if (chance(0.001)) {
                p->heartbeat = false;     // hangs
            } else if (chance(0.0005)) {  // the operator closes it
                const bool this_logon = chance(0.7);
                put(CLOSED,
                    "{\"closedAt\":" + std::to_string(world_.wall_ms) +
                        (this_logon ? ",\"logonTime\":" + std::to_string(*world_.logon_time) : "") +
                        "}");
                if (chance(0.8)) p->exits_at_ms = world_.wall_ms + between(0, 20'000);
            }
        }
        if (chance(0.0003)) *world_.logon_time += 1;  // the user logs on again
        if (chance(0.0005)) world_.files.erase(CLOSED);
        if (chance(0.0005))
            put(SENTINEL,
                "{\"startedAtMs\":" + std::to_string(world_.wall_ms) + ",\"version\":\"3.0\"}");
        if (chance(0.002)) world_.files.erase(SENTINEL);
        if (chance(0.0002)) world_.wall_ms += between(1, 7'200'000);  // clock set forward
        if (chance(0.0001)) world_.wall_ms -= between(1, 600'000);    // or back
        if (chance(0.0005)) {
            static const Path RECORDS[] = {DIR + u"\\player.json", DIR + u"\\liveness.json", CLOSED,
                                           SENTINEL};
            static const std::string GARBAGE[] = {"{\"pid\":", "\xff\xfe", "{}", "[1,2,3]",
                                                  std::string(3000, '{')};
            put(RECORDS[between(0, 3)], GARBAGE[between(0, 4)]);
        }
    }

    bool close_stands() {
        const auto flag = read_closed_flag(world_, CLOSED);
        if (!flag) return false;
        if (flag->logon_time) return *flag->logon_time == *world_.logon_time;
        const std::uint64_t now = world_.wall_ms;
        return (now >= flag->closed_at ? now - flag->closed_at : 0) < CLOSED_FLAG_MAX_AGE_MS;
    }

    bool update_within_grace() {
        const auto sentinel = read_updating_sentinel(world_, SENTINEL);
        if (!sentinel) return false;
        const std::uint64_t now = world_.wall_ms;
        const std::uint64_t age =
            now >= sentinel->started_at_ms ? now - sentinel->started_at_ms : 0;
        return age < config().update_grace_ms;
    }

    std::string check(bool launch_forbidden) {
        std::size_t launches = 0;
        for (const auto& line : loop_.messages()) {
            if (line.rfind("spawned", 0) == 0) ++launches;
            if (line.rfind("player hung", 0) == 0) ++hangs_;
            if (line.rfind("player exited (code ", 0) == 0 && line != "player exited (code 0)" &&
                line != "player exited (code 3)") {
                ++recordable_exits_;
            }
        }
        if (launch_forbidden && launches > 0) return "a launch while a close or an update stood";

        std::size_t own_alive = 0;
        for (const std::uint32_t pid : world_.spawned) own_alive += world_.processes.at(pid).alive;
        if (own_alive > 1) return std::to_string(own_alive) + " own players alive";

        const auto counter = world_.files.find(COUNTER);
        const std::string expected = std::to_string(recoveries());
        if (recoveries() > 0 && (counter == world_.files.end() || counter->second != expected)) {
            return "recovery counter " +
                   (counter == world_.files.end() ? std::string("missing") : counter->second) +
                   ", expected " + expected;
        }

        const auto log = world_.files.find(LOG);
        if (log != world_.files.end() && log->second.size() > LOG_TRIM_THRESHOLD_BYTES + 200) {
            return "log of " + std::to_string(log->second.size()) + " bytes";
        }
        return "";
    }

    SimWorld world_;
    std::mt19937_64 random_;
    Loop loop_;
    std::uint64_t recordable_exits_ = 0;
    std::uint64_t hangs_ = 0;
};

TEST(Soak, AWeekOfARandomlyMisbehavingPlayerKeepsEveryInvariant) {
    const std::uint64_t days = env_number("WATCHDOG_SOAK_DAYS", 7);
    const std::uint64_t ticks = days * 86'400 / 3;
    const char* one = std::getenv("WATCHDOG_SOAK_SEED");
    const std::vector<std::uint64_t> seeds =
        one ? std::vector<std::uint64_t>{env_number("WATCHDOG_SOAK_SEED", 0)}
            : std::vector<std::uint64_t>{20261208};
    for (const std::uint64_t seed : seeds) {
        Soak soak(seed);
        const std::string broken = soak.run(ticks);
        EXPECT_EQ(broken, "") << "WATCHDOG_SOAK_SEED=" << seed;
        EXPECT_GT(soak.recoveries(), 20u) << "the week saw crashes and hangs";
        std::printf("seed %llu: %llu recoveries in %llu days\n",
                    static_cast<unsigned long long>(seed),
                    static_cast<unsigned long long>(soak.recoveries()),
                    static_cast<unsigned long long>(days));
    }
}

}  // namespace
}  // namespace wd
