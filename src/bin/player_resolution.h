// Which player is running, and which executable to start when none is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/path.h"
#include "base/world.h"
#include "state/records.h"

namespace wd {

inline constexpr std::u16string_view PLAYER_EXE_VAR = u"VELLUMBEACON_WATCHDOG_PLAYER_EXE";

struct Identification {
    bool player_alive = false;
    std::optional<std::uint32_t> adopted_pid;  // found, and not the own child
    std::optional<std::uint64_t>
        adopted_started_at_ms;  // startedAt, when found through player.json
    std::string image_name;     // the image the probes asked for; empty when none ran
    // Nothing was found, but a probe gave no answer, and why: the player may yet run.
    std::optional<std::string> unknown;
    bool answered = false;  // a probe ran and answered
};

// The own child when it runs (no probe); else player.json's pid, then the liveness pid (unless
// that is the pid just probed), each only under the player's image name (player_image_name).
// Process ids are reused, so without an image name nothing is adopted. A pid in `ended_pid`
// (not 0) is one seen to end a moment ago: it is taken as not running, without a probe. When
// no probe finds the player and one of them gave no answer, the identification is unknown.
Identification identify_player(World& world, bool child_running,
                               const std::optional<PlayerInfo>& player,
                               const std::optional<LivenessRecord>& liveness,
                               std::uint32_t ended_pid = 0);

// The image name the player runs under: player.json's imageName, or when that is absent or
// empty, the file name of the executable a launch would start; empty when neither is known.
std::string player_image_name(World& world, const std::optional<PlayerInfo>& player);

// The file name a process started from `exe` is listed under: its final component, with
// ".exe" added where the launch adds it (a bare name without a dot; a path not ending in
// ".exe" when that file exists with the extension).
std::string launch_image_name(World& world, const Path& exe);

// The override variable, then a fresh read of player.json's exePath, then find_sibling_exe:
// the first that names something existing (a folder counts). Logs nothing.
std::optional<Path> resolve_player_exe(World& world);

// The first regular file beside the watchdog's own executable, in listing order, whose
// extension is exactly "exe" and whose stem is not "uninstall" in any ASCII case; the
// watchdog itself and the product's other programs are skipped.
std::optional<Path> find_sibling_exe(World& world);

}  // namespace wd
