// A week of supervision in the simulated world with a player that misbehaves at random
// (crashes, hangs, operator closes, updates, clock jumps, torn and corrupt records) on a
// machine that is restarted at random (switched off at the wall, some restarts cutting a
// file replacement off), checked against the loop's invariants after every tick. Seeded and
// reproducible: a failure names its seed and tick; WATCHDOG_SOAK_SEED=<n> replays one seed,
// WATCHDOG_SOAK_DAYS=<n> sets the length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>

#include "base/text.h"
#include "bin/startup.h"
#include "bin/supervisor.h"
#include "process/lock.h"
#include "sim_loop.h"
#include "state/log_trim.h"

namespace wd {
namespace {

using fakes::DIR;
using fakes::Loop;
using fakes::PowerCut;
using fakes::SimProcess;
using fakes::SimWorld;

using fakes::CLOSED;
using fakes::SENTINEL;
const Path LOG = DIR + u"\\watchdog.log";
using fakes::COUNTER;
using fakes::LAST_CRASH;
using fakes::LOCK;
using fakes::PLAYER_JSON;
const Path LIVENESS = DIR + u"\\liveness.json";
const std::string PLAYER_IMAGE = "player.exe";

std::uint64_t env_number(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value ? std::strtoull(value, nullptr, 10) : fallback;
}

bool is_player(const SimProcess& p) {
    return equals_ascii_nocase(p.image, PLAYER_IMAGE);
}

bool all_of(std::string_view s, bool (*pred)(char)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), pred);
}

// {"what":"<text>","at":<ms>} with one of the texts the watchdog records.
bool is_last_crash_record(std::string_view s) {
    const std::string_view head = "{\"what\":\"", mid = "\",\"at\":";
    const auto at = s.rfind(mid);
    if (!s.starts_with(head) || at == std::string_view::npos || !s.ends_with('}')) return false;
    const std::string_view what = s.substr(head.size(), at - head.size());
    const std::string_view ms = s.substr(at + mid.size(), s.size() - at - mid.size() - 1);
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    if (!all_of(ms, digit)) return false;
    if (what == "player hung - ended and started again") return true;
    const std::string_view exited = "player exited (code ";
    if (!what.starts_with(exited) || !what.ends_with(')')) return false;
    const std::string_view code = what.substr(exited.size(), what.size() - exited.size() - 1);
    return all_of(code, digit) ||
           (code.size() == 10 && code.starts_with("0x") && all_of(code.substr(2), hex));
}

class Soak {
  public:
    explicit Soak(std::uint64_t seed) : random_(seed) {
        world_.behaviour = [](SimProcess& p) { p.heartbeat = true; };
        boot();
    }

    // Runs `ticks` ticks; the first broken invariant is returned with its tick.
    std::string run(std::uint64_t ticks) {
        for (tick_ = 0; tick_ < ticks; ++tick_) {
            misbehave();
            const bool launch_forbidden = close_stands() || update_within_grace();
            const bool restart = restart_due();
            // Most ticks write nothing: a cut armed for one of those goes unused.
            if (chance(0.05)) arm_power_cut();
            bool cut = false;
            try {
                loop_->tick();
            } catch (const PowerCut&) {
                cut = true;
            }
            world_.power_cut = nullptr;
            std::string broken = check(launch_forbidden, cut);
            if (broken.empty() && (restart || cut)) broken = restart_machine();
            if (!broken.empty()) return "tick " + std::to_string(tick_) + ": " + broken;
        }
        return "";
    }

    std::uint64_t recoveries() const { return recordable_exits_ + hangs_; }
    std::string summary() const {
        return std::to_string(recoveries()) + " recoveries, " + std::to_string(restarts_) +
               " restarts (" + std::to_string(quick_restarts_) + " within seconds, " +
               std::to_string(restarts_standing_down_) + " standing down, " +
               std::to_string(restarts_updating_) + " during an update, " +
               std::to_string(cut_replacements_) + " cutting a replacement off)";
    }
    std::uint64_t restarts() const { return restarts_; }
    std::uint64_t cut_replacements() const { return cut_replacements_; }

  private:
    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) {
        return std::uniform_int_distribution<std::uint64_t>(lo, hi)(random_);
    }

    SimProcess* running_player() {
        for (auto& [pid, p] : world_.processes) {
            if (p.alive && is_player(p)) return &p;
        }
        return nullptr;
    }

    void put(const Path& path, std::string text) { fakes::put(world_, path, std::move(text)); }

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
                put(CLOSED, fakes::closed_json(world_.wall_ms,
                                               this_logon ? world_.logon_time : std::nullopt));
                if (chance(0.8)) p->exits_at_ms = world_.wall_ms + between(0, 20'000);
            }
        }
        if (chance(0.0003)) *world_.logon_time += 1;  // the user logs on again
        if (chance(0.0005)) world_.files.erase(CLOSED);
        if (chance(0.0005)) put(SENTINEL, fakes::updating_json(world_.wall_ms, "3.0"));
        if (chance(0.002)) world_.files.erase(SENTINEL);
        if (chance(0.0002)) world_.wall_ms += between(1, 7'200'000);  // clock set forward
        if (chance(0.0001)) world_.wall_ms -= between(1, 600'000);    // or back
        if (chance(0.0005)) {
            static const Path RECORDS[] = {PLAYER_JSON, LIVENESS, CLOSED, SENTINEL};
            static const std::string GARBAGE[] = {"{\"pid\":", "\xff\xfe", "{}", "[1,2,3]",
                                                  std::string(3000, '{')};
            put(RECORDS[between(0, 3)], GARBAGE[between(0, 4)]);
        }
    }

    // Restarts come at random, more often while a close or an update stands (so that those
    // cases are seen), and now and then one follows another within seconds.
    bool restart_due() {
        if (quick_restart_in_ > 0 && --quick_restart_in_ == 0) {
            ++quick_restarts_;
            return true;
        }
        if (update_within_grace()) return chance(0.01);
        return chance(close_stands() ? 0.0005 : 0.0003);
    }

    // The next replacement of a file is interrupted: the old content or the new one survives,
    // and a temporary file may be left behind.
    void arm_power_cut() {
        world_.power_cut = [this](const Path& target, const Path& temp, std::string_view bytes) {
            ++cut_replacements_;
            switch (between(0, 2)) {
                case 0:  // written in part, never renamed
                    world_.files[temp] = std::string(bytes.substr(0, between(0, bytes.size())));
                    break;
                case 1:  // renamed: the new content is there
                    world_.files[target] = std::string(bytes);
                    break;
                default:  // cut before the temporary file existed
                    break;
            }
        };
    }

    // Every process ends; the pids named in the files now belong to strangers; the clocks move;
    // the user logs on; the watchdog (and perhaps the player) start again.
    std::string restart_machine() {
        ++restarts_;
        if (close_stands()) ++restarts_standing_down_;
        if (update_within_grace()) ++restarts_updating_;
        if (chance(0.2)) quick_restart_in_ = between(1, 3);
        loop_.reset();
        world_.processes.clear();
        world_.spawned.clear();
        world_.next_pid = between(4, 2000) * 4;
        static const std::string STRANGERS[] = {"svchost.exe", "explorer.exe", "chrome.exe",
                                                "RuntimeBroker.exe"};
        for (const std::uint32_t pid : stale_pids()) {
            world_.add_process(pid, STRANGERS[between(0, 3)]);
        }
        world_.mono_ns = between(5, 90) * 1'000'000'000;  // the new boot's uptime
        world_.wall_ms = world_.wall_ms + between(0, 600'000) - between(0, 120'000);
        *world_.logon_time += 1'000'000;
        return boot();
    }

    // The pids that the files left behind name.
    std::vector<std::uint32_t> stale_pids() {
        std::vector<std::uint32_t> pids;
        if (const auto lock = read_text(world_, LOCK)) {
            if (const auto pid = parse_lock_pid(*lock)) pids.push_back(*pid);
        }
        if (const auto liveness = read_liveness_record(world_, LIVENESS).value) {
            pids.push_back(liveness->pid);
        }
        if (const auto info = read_player_info(world_, PLAYER_JSON).value; info && info->pid) {
            pids.push_back(*info->pid);
        }
        return pids;
    }

    // Logon: perhaps the player starts by itself, and the watchdog starts through its real
    // start-up path.
    std::string boot() {
        world_.own_pid = world_.add_process(SimProcess{}).pid;
        world_.processes.at(world_.own_pid).image = "watchdog.exe";
        if (chance(0.5)) {
            SimProcess& player = world_.add_process(SimProcess{});
            player.heartbeat = true;
            put(PLAYER_JSON, fakes::player_json(player.pid, world_.wall_ms));
            world_.write_liveness(player);
        }
        std::optional<Started> started;
        try {
            started = start_up(world_);
        } catch (const PowerCut&) {
            return "a power cut that was not armed";
        }
        if (!started) return "start-up took a stranger for a live watchdog";
        loop_ = std::make_unique<Loop>(world_, std::move(*started));
        after_boot_ = true;
        return "";
    }

    bool close_stands() {
        const auto flag = read_closed_flag(world_, CLOSED).value;
        if (!flag) return false;
        if (flag->logon_time) return *flag->logon_time == *world_.logon_time;
        const std::uint64_t now = world_.wall_ms;
        return (now >= flag->closed_at ? now - flag->closed_at : 0) < CLOSED_FLAG_MAX_AGE_MS;
    }

    bool update_within_grace() {
        const auto sentinel = read_updating_sentinel(world_, SENTINEL).value;
        if (!sentinel) return false;
        const std::uint64_t now = world_.wall_ms;
        const std::uint64_t age =
            now >= sentinel->started_at_ms ? now - sentinel->started_at_ms : 0;
        return age < WatchdogConfig{}.update_grace_ms;
    }

    std::size_t temporary_files() const {
        std::size_t n = 0;
        for (const auto& [path, bytes] : world_.files) {
            const auto name = final_component(path);
            n += name && name->find(u".tmp.") != std::u16string_view::npos;
        }
        return n;
    }

    // `cut`: a power cut ended this tick part way.
    std::string check(bool launch_forbidden, bool cut) {
        std::size_t launches = 0;
        for (const auto& line : loop_->messages()) {
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

        if (after_boot_ && !cut && !launch_forbidden && launches == 0 &&
            !loop_->state().memory.adopted_pid) {
            return "the first tick after a restart neither launched nor adopted a player";
        }
        after_boot_ = false;

        const std::uint32_t adopted = loop_->state().memory.adopted_pid.value_or(0);
        if (adopted != 0 && world_.processes.count(adopted) &&
            !is_player(world_.processes.at(adopted))) {
            return "adopted pid " + std::to_string(adopted) + " of " +
                   world_.processes.at(adopted).image;
        }
        for (const auto& image : world_.killed_images) {
            if (!equals_ascii_nocase(image, PLAYER_IMAGE)) return "ended a process of " + image;
        }

        // A cut tick may have logged its last recovery without getting its count stored.
        const auto counter = world_.files.find(COUNTER);
        const std::uint64_t count =
            counter == world_.files.end()
                ? 0
                : parse_unsigned_decimal(counter->second, std::numeric_limits<std::uint64_t>::max())
                      .value_or(0);
        if (cut && count + 1 == recoveries() - lost_counts_) ++lost_counts_;
        const std::uint64_t expected = recoveries() - lost_counts_;
        if (count != expected || count < last_count_) {
            return "recovery counter " + std::to_string(count) + ", expected " +
                   std::to_string(expected) + " (was " + std::to_string(last_count_) + ")";
        }
        last_count_ = count;

        const auto crash = world_.files.find(LAST_CRASH);
        if (crash != world_.files.end() && !is_last_crash_record(crash->second)) {
            return "last-crash.json holds " + crash->second;
        }

        if (temporary_files() > cut_replacements_) {
            return std::to_string(temporary_files()) + " temporary files after " +
                   std::to_string(cut_replacements_) + " cut replacements";
        }

        const auto log = world_.files.find(LOG);
        if (log != world_.files.end() && log->second.size() > LOG_TRIM_THRESHOLD_BYTES + 200) {
            return "log of " + std::to_string(log->second.size()) + " bytes";
        }
        return "";
    }

    SimWorld world_;
    std::mt19937_64 random_;
    std::unique_ptr<Loop> loop_;
    std::uint64_t tick_ = 0;
    std::uint64_t recordable_exits_ = 0;
    std::uint64_t hangs_ = 0;
    std::uint64_t lost_counts_ = 0;  // recoveries a power cut kept from being counted
    std::uint64_t last_count_ = 0;
    std::uint64_t restarts_ = 0;
    std::uint64_t quick_restarts_ = 0;
    std::uint64_t restarts_standing_down_ = 0;
    std::uint64_t restarts_updating_ = 0;
    std::uint64_t cut_replacements_ = 0;
    std::uint64_t quick_restart_in_ = 0;
    bool after_boot_ = false;
};

TEST(Soak, AWeekOfARandomlyMisbehavingPlayerAndMachineKeepsEveryInvariant) {
    const std::uint64_t days = env_number("WATCHDOG_SOAK_DAYS", 7);
    const std::uint64_t ticks = days * 86'400 / 3;
    const std::uint64_t seed = env_number("WATCHDOG_SOAK_SEED", 20261208);
    Soak soak(seed);
    const std::string broken = soak.run(ticks);
    EXPECT_EQ(broken, "") << "WATCHDOG_SOAK_SEED=" << seed;
    EXPECT_GT(soak.recoveries(), 3 * days) << "the week saw crashes and hangs";
    EXPECT_GE(soak.restarts(), 7 * days) << "the machine was restarted";
    EXPECT_GT(soak.cut_replacements(), 0u) << "some restarts cut a replacement off";
    std::printf("seed %llu, %llu days: %s\n", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(days), soak.summary().c_str());
}

}  // namespace
}  // namespace wd
