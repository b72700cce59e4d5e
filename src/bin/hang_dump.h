// Minidumps of hung players, written just before the player is ended so that its developers can
// see where it hung: in the "dumps" folder of the watchdog's local folder (a few MB each, they
// stay off a roaming profile), named by the time (UTC) and the pid, whole or absent, the newest
// few kept.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/world.h"
#include "state/log.h"

namespace wd {

inline constexpr std::u16string_view DUMPS_FOLDER_NAME = u"dumps";
// The longest wait for a dump that the wait can express (a wait of 0xFFFFFFFF is endless).
inline constexpr std::uint32_t MAX_HANG_DUMP_WAIT_MS = 0xFFFF'FFFEu;
// How long an abandoned dump is given to notice that its player has been ended.
inline constexpr std::uint32_t HANG_DUMP_SETTLE_MS = 5'000;

// The local watchdog folder followed by dumps; none when the local folder cannot be had.
std::optional<Path> dumps_dir(World& world);

// "hang-20261209T134000.123Z-pid4321.dmp": the names sort by the time they hold.
std::u16string hang_dump_name(std::uint64_t wall_ms, std::uint32_t pid);

// The time a name made by hang_dump_name holds; none for any other name.
std::optional<std::uint64_t> hang_dump_time(std::u16string_view name);

// Deletes all but the newest `keep` dumps in the folder, and any temporary file a dump left.
void prune_hang_dumps(World& world, const Path& folder, std::uint64_t keep);

// Writes a dump of the hung player `pid` (when `keep` is not 0) and ends the player with
// `end_player`, which is called exactly once: when the dump is done, or when it has taken
// `timeout_ms` (at most MAX_HANG_DUMP_WAIT_MS). Logs one line saying where the dump went or
// why there is none; a dump that failed or was abandoned leaves no file.
void dump_and_end(World& world, Log& log, std::uint64_t keep, std::uint64_t timeout_ms,
                  std::optional<std::uint32_t> pid, const std::function<void()>& end_player);

struct NewestDump {
    Path path;
    std::uint64_t at_ms = 0;
};

// The newest dump in `folder`, none when there is none.
std::optional<NewestDump> newest_hang_dump(World& world, const Path& folder);

}  // namespace wd
