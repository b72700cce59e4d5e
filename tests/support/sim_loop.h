// Runs the supervision loop tick by tick in a SimWorld and hands out what it logged.
#pragma once

#include <string>
#include <vector>

#include "bin/startup.h"
#include "bin/supervisor.h"
#include "sim_world.h"

namespace wd::fakes {

inline const std::string PLAYER = "C:\\Program Files\\Vellum\\player.exe";

inline std::string spawned(std::uint32_t pid) {
    return "spawned player pid=" + std::to_string(pid) + " (" + PLAYER + ")";
}

// Runs ticks with their pauses, as supervise does, and hands out the log messages.
class Loop {
  public:
    // Hands out only what is logged from now on.
    explicit Loop(SimWorld& world, WatchdogConfig config = {})
        : Loop(world, Started{config, Log(world)}) {}
    // As watchdog.exe runs it after start-up.
    Loop(SimWorld& world, Started started)
        : world_(world),
          config_(started.config),
          state_(initial_state(world, std::move(started.log))),
          read_(world.stderr_text.size()) {}

    // The tick's pause in seconds.
    std::uint64_t tick() {
        const Pause pause = run_tick(world_, config_, state_);
        pause_after_tick(world_, state_, pause);
        return pause.secs;
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }

    // Messages logged since the last call, timestamps removed.
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        const std::string& text = world_.stderr_text;
        while (read_ < text.size()) {
            const std::size_t end = text.find('\n', read_);
            const std::string line = text.substr(read_, end - read_);
            out.push_back(line.substr(line.find("] ") + 2));
            read_ = end + 1;
        }
        return out;
    }

    SupervisorState& state() { return state_; }

  private:
    SimWorld& world_;
    WatchdogConfig config_;
    SupervisorState state_;
    std::size_t read_;
};

}  // namespace wd::fakes
