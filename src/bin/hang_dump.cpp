#include "bin/hang_dump.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/clock_units.h"
#include "base/text.h"
#include "state/log.h"
#include "state/paths.h"

namespace wd {
namespace {

constexpr std::u16string_view TEMP_SUFFIX = u".tmp";

bool is_temp_of_dump(std::u16string_view name) {
    return name.ends_with(TEMP_SUFFIX) &&
           hang_dump_time(name.substr(0, name.size() - TEMP_SUFFIX.size()));
}

// The dumps in the folder, oldest first, and the temporary files that dumps left there.
struct FolderDumps {
    std::vector<std::u16string> dumps;
    std::vector<std::u16string> leftovers;
};
FolderDumps dumps_in(World& world, const Path& folder) {
    FolderDumps found;
    for (auto& name : world.list_folder(folder).value_or(std::vector<std::u16string>{})) {
        if (hang_dump_time(name)) {
            found.dumps.push_back(std::move(name));
        } else if (is_temp_of_dump(name)) {
            found.leftovers.push_back(std::move(name));
        }
    }
    std::sort(found.dumps.begin(), found.dumps.end());
    return found;
}

std::string error_text(OsError error) {
    return "os error " + std::to_string(error);
}

// Writes the dump and ends the player; what to log after.
Message write_then_end(World& world, std::uint64_t keep, std::uint64_t timeout_ms,
                       std::uint32_t pid, const std::function<void()>& end_player) {
    const auto folder = dumps_dir(world);
    if (!folder) {
        end_player();
        return msg::dump_not_written("the watchdog folder cannot be had");
    }
    if (const OsError error = world.create_dirs(*folder)) {
        end_player();
        return msg::dump_not_written(error_text(error));
    }
    const Path path = join(*folder, hang_dump_name(world.wall_clock_ms(), pid));
    const Path temp = path + Path(TEMP_SUFFIX);
    auto job = world.start_dump(pid, temp);
    const auto bound_ms =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(timeout_ms, MAX_HANG_DUMP_WAIT_MS));
    const DumpWait result = job->wait(bound_ms);
    end_player();
    if (result.status == DumpStatus::Writing) {
        // Ending the player makes the dump call return; the file is deleted whether or not it
        // has by then (it is shared for deletion).
        job->wait(HANG_DUMP_SETTLE_MS);
        job.reset();
        world.delete_file(temp);
        return msg::dump_not_written("not done within " + std::to_string(bound_ms / 1000) + "s");
    }
    OsError error = result.error;
    if (result.status == DumpStatus::Written) error = world.rename_file(temp, path);
    if (error != 0) {
        world.delete_file(temp);
        return msg::dump_not_written(error_text(error));
    }
    prune_hang_dumps(world, *folder, keep);
    return msg::dump_written(path);
}

}  // namespace

std::optional<Path> dumps_dir(World& world) {
    return local_watchdog_file(world, DUMPS_FOLDER_NAME);
}

std::u16string hang_dump_name(std::uint64_t wall_ms, std::uint32_t pid) {
    const Date date = date_from_days(wall_ms / MS_PER_DAY);
    const std::uint64_t in_day = wall_ms % MS_PER_DAY;
    char name[96];
    std::snprintf(name, sizeof name, "hang-%04" PRIu64 "%02u%02uT%02u%02u%02u.%03uZ-pid%u.dmp",
                  date.year, date.month, date.day, static_cast<unsigned>(in_day / 3'600'000),
                  static_cast<unsigned>(in_day / 60'000 % 60),
                  static_cast<unsigned>(in_day / 1000 % 60), static_cast<unsigned>(in_day % 1000),
                  static_cast<unsigned>(pid));
    return utf8_to_utf16_lossy(name);
}

std::optional<std::uint64_t> hang_dump_time(std::u16string_view name) {
    // hang-YYYYMMDDTHHMMSS.mmmZ-pidN.dmp: the fields by their place, then the whole name
    // compared with the one these fields make.
    constexpr std::u16string_view PID_AT = u"hang-20251206T054740.000Z-pid";
    constexpr std::u16string_view SUFFIX = u".dmp";
    if (name.size() <= PID_AT.size() + SUFFIX.size() || !name.ends_with(SUFFIX)) {
        return std::nullopt;
    }
    const auto field = [&](std::size_t at, std::size_t len, std::uint64_t max) {
        return parse_unsigned_decimal(name.substr(at, len), max);
    };
    const auto ymd = field(5, 8, 99'999'999);
    const auto hms = field(14, 6, 999'999);
    const auto milli = field(21, 3, 999);
    const auto pid = field(PID_AT.size(), name.size() - PID_AT.size() - SUFFIX.size(), UINT32_MAX);
    if (!ymd || !hms || !milli || !pid) return std::nullopt;
    const std::uint64_t year = *ymd / 10'000;
    const auto month = static_cast<unsigned>(*ymd / 100 % 100);
    const auto day = static_cast<unsigned>(*ymd % 100);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || *hms / 10'000 > 23 ||
        *hms / 100 % 100 > 59 || *hms % 100 > 59) {
        return std::nullopt;
    }
    const std::uint64_t ms = days_from_date(year, month, day) * MS_PER_DAY +
                             ((*hms / 10'000 * 60 + *hms / 100 % 100) * 60 + *hms % 100) * 1000 +
                             *milli;
    // Only the exact spelling the watchdog writes: no signs, no padding, no impossible dates.
    if (hang_dump_name(ms, static_cast<std::uint32_t>(*pid)) != name) return std::nullopt;
    return ms;
}

void prune_hang_dumps(World& world, const Path& folder, std::uint64_t keep) {
    const FolderDumps found = dumps_in(world, folder);
    for (const auto& name : found.leftovers) world.delete_file(join(folder, name));
    const std::size_t excess = found.dumps.size() > keep ? found.dumps.size() - keep : 0;
    for (std::size_t i = 0; i < excess; ++i) world.delete_file(join(folder, found.dumps[i]));
}

void dump_and_end(World& world, Log& log, std::uint64_t keep, std::uint64_t timeout_ms,
                  std::optional<std::uint32_t> pid, const std::function<void()>& end_player) {
    if (keep == 0 || !pid) {
        end_player();
        return;
    }
    log(write_then_end(world, keep, timeout_ms, *pid, end_player));
}

std::optional<NewestDump> newest_hang_dump(World& world, const Path& folder) {
    const auto dumps = dumps_in(world, folder).dumps;
    if (dumps.empty()) return std::nullopt;
    return NewestDump{join(folder, dumps.back()), *hang_dump_time(dumps.back())};
}

}  // namespace wd
