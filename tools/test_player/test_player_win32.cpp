// test-player.exe: a stand-in for the signage player, for tests and the demo only; never
// shipped. It keeps the player's side of the contract (player.json once, liveness.json as a
// heartbeat, each replaced whole) and misbehaves on request. Knobs are environment variables
// TEST_PLAYER_<NAME>; a file named by TEST_PLAYER_SCRIPT may hold NAME=value lines, which win,
// so that a test can change the behaviour of the next launch. The README lists the knobs.
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "base/text.h"
#include "base/win32.h"
#include "base/win32_world.h"
#include "state/files.h"
#include "state/paths.h"

namespace {

using namespace wd;
using Clock = std::chrono::steady_clock;

class Knobs {
  public:
    explicit Knobs(World& world) : world_(world) {
        const auto script = raw_env("SCRIPT");
        if (!script) return;
        const auto text = read_text(world_, utf8_to_utf16_lossy(*script));
        if (!text) return;
        std::size_t start = 0;
        while (start < text->size()) {
            std::size_t end = text->find('\n', start);
            if (end == std::string::npos) end = text->size();
            std::string line = text->substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto eq = line.find('=');
            if (eq != std::string::npos) script_[line.substr(0, eq)] = line.substr(eq + 1);
            start = end + 1;
        }
    }

    std::optional<std::string> text(const std::string& name) const {
        const auto it = script_.find(name);
        if (it != script_.end()) return it->second;
        return raw_env(name);
    }

    std::optional<std::uint64_t> number(const std::string& name) const {
        const auto t = text(name);
        if (!t) return std::nullopt;
        return parse_unsigned_decimal(*t, UINT64_MAX);
    }

    bool flag(const std::string& name) const { return number(name).value_or(0) != 0; }

  private:
    std::optional<std::string> raw_env(const std::string& name) const {
        const auto value = world_.env(utf8_to_utf16_lossy("TEST_PLAYER_" + name));
        if (!value) return std::nullopt;
        return utf16_to_utf8_lossy(*value);
    }

    World& world_;
    std::map<std::string, std::string> script_;
};

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

void put(World& world, const std::optional<Path>& path, const std::string& text) {
    if (!path) return;
    if (const auto folder = parent_folder(*path)) world.create_dirs(*folder);
    world.write_atomic(*path, text);
}

void trace(World& world, const Knobs& knobs, const std::string& line) {
    if (const auto path = knobs.text("TRACE")) {
        world.append(utf8_to_utf16_lossy(*path),
                     std::to_string(world.wall_clock_ms()) + " " + line + "\n");
    }
}

// Private memory committed and touched page by page, so that it counts as the process's own
// (Wine counts only the pages touched). `done`, asked at each MiB, stops the touching early.
class Memory {
  public:
    void hold(std::uint64_t mib, const std::function<bool()>& done = nullptr) {
        release();
        if (mib == 0) return;
        const std::size_t bytes = static_cast<std::size_t>(mib) << 20;
        block_ = static_cast<volatile char*>(
            ::VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (!block_) return;
        for (std::size_t at = 0; at < bytes; at += 4096) {
            if (done && at % (std::size_t{1} << 20) == 0 && done()) return;
            block_[at] = 1;
        }
    }
    void release() {
        if (block_) ::VirtualFree(const_cast<char*>(block_), 0, MEM_RELEASE);
        block_ = nullptr;
    }

  private:
    volatile char* block_ = nullptr;
};

// A visible top-level window on this thread, which answers while the loop takes its messages;
// none without a desktop.
HWND open_window() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = ::DefWindowProcW;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"TestPlayerWindow";
    ::RegisterClassW(&window_class);
    return ::CreateWindowExW(0, L"TestPlayerWindow", L"test player",
                             WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200, nullptr, nullptr,
                             window_class.hInstance, nullptr);
}

void take_messages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

[[noreturn]] void finish(World& world, const Knobs& knobs, std::uint32_t code) {
    trace(world, knobs,
          "exit " + std::to_string(::GetCurrentProcessId()) + " " + std::to_string(code));
    ::ExitProcess(code);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Win32World world;
    const Knobs knobs(world);
    const std::uint32_t pid = ::GetCurrentProcessId();
    const auto started = Clock::now();
    const auto elapsed_ms = [&] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    };
    trace(world, knobs, "start " + std::to_string(pid));

    const Path exe = win32::module_path().value_or(Path());
    const std::string exe_text = utf16_to_utf8_lossy(exe);
    const std::string image = exe_text.substr(exe_text.find_last_of("\\/") + 1);

    const bool records = !knobs.flag("NO_RECORDS");
    const std::string malformed = knobs.text("MALFORMED").value_or("");
    const std::uint64_t heartbeat_ms = knobs.number("HEARTBEAT_MS").value_or(500);
    std::minstd_rand random(static_cast<std::uint32_t>(world.monotonic_ns()) ^ pid);
    // The time a knob names, plus a random 0 to N ms when its jitter knob names N.
    const auto jittered = [&](const char* at_knob, const char* jitter_knob) {
        auto at = knobs.number(at_knob);
        if (const auto jitter = knobs.number(jitter_knob); at && jitter && *jitter > 0) {
            *at += random() % (*jitter + 1);
        }
        return at;
    };
    const auto exit_after = jittered("EXIT_AFTER_MS", "EXIT_JITTER_MS");
    const auto crash_after = knobs.number("CRASH_AFTER_MS");
    const auto hang_after = knobs.number("HANG_AFTER_MS");
    // HANG_WHEN_FILE: hang once this file exists, so that a test chooses the moment.
    const auto hang_when = knobs.text("HANG_WHEN_FILE");
    const std::u16string hang_file = utf8_to_utf16_lossy(hang_when.value_or(""));
    bool hung = false;
    const auto close_after = knobs.number("CLOSE_AFTER_MS");
    const auto update_after = knobs.number("UPDATE_AFTER_MS");
    const auto update_for = knobs.number("UPDATE_FOR_MS");
    // Memory: MEMORY_MB from the start (once the records are written, as a real player's
    // would be, however long a slow machine takes to touch the pages); SPIKE_MB more from
    // SPIKE_AT_MS (plus up to SPIKE_JITTER_MS) for SPIKE_FOR_MS; GROW_MB more from GROW_AT_MS on.
    Memory base, extra;
    bool base_held = false;
    const auto spike_at = jittered("SPIKE_AT_MS", "SPIKE_JITTER_MS");
    const std::uint64_t spike_end = spike_at.value_or(0) + knobs.number("SPIKE_FOR_MS").value_or(0);
    const auto grow_at = knobs.number("GROW_AT_MS");
    enum class Extra { None, Spike, SpikeOver, Grown } extra_state = Extra::None;
    // WINDOW=1: a window whose messages the loop takes, until FREEZE_WINDOW_AFTER_MS, from when
    // it takes none (the liveness record goes on being written).
    const HWND window = knobs.flag("WINDOW") ? open_window() : nullptr;
    const auto freeze_after = knobs.number("FREEZE_WINDOW_AFTER_MS");
    bool frozen = false;

    if (records) {
        put(world, player_info_path(world),
            malformed == "player"
                ? "{\"exePath\":" + json_string(exe_text)
                : "{\"exePath\":" + json_string(exe_text) + ",\"imageName\":" + json_string(image) +
                      ",\"pid\":" + std::to_string(pid) +
                      ",\"startedAt\":" + std::to_string(world.wall_clock_ms()) + "}");
    }
    if (malformed == "closed") put(world, watchdog_file(world, CLOSED_FILE), "{\"closedAt\":1.5}");
    if (malformed == "updating")
        put(world, updating_path(world), "{\"startedAtMs\":-1,\"version\":\"x\"}");

    bool closed = false;
    bool update_written = false;
    bool update_removed = false;
    std::optional<std::uint64_t> last_beat;
    for (;;) {
        const std::uint64_t now = elapsed_ms();
        if (exit_after && now >= *exit_after) {
            finish(world, knobs, static_cast<std::uint32_t>(knobs.number("EXIT_CODE").value_or(0)));
        }
        if (crash_after && now >= *crash_after) {
            trace(world, knobs, "crash " + std::to_string(pid));
            // A real access violation, on purpose.
            // NOLINTNEXTLINE(clang-analyzer-core.NullDereference)
            *static_cast<volatile int*>(nullptr) = 0;
        }
        if (!hung && ((hang_after && now >= *hang_after) ||
                      (hang_when && world.path_kind(hang_file) != PathKind::Missing))) {
            hung = true;
            trace(world, knobs, "hung " + std::to_string(pid));
        }
        if (records && !hung && (!last_beat || now - *last_beat >= heartbeat_ms)) {
            last_beat = now;
            put(world, watchdog_file(world, LIVENESS_FILE),
                malformed == "liveness" ? "{\"pid\":" + std::to_string(pid) + ",\"ts\":"
                                        : "{\"pid\":" + std::to_string(pid) + ",\"ts\":" +
                                              std::to_string(world.wall_clock_ms()) + "}");
        }
        if (!base_held) {
            base_held = true;
            base.hold(knobs.number("MEMORY_MB").value_or(0));
        }
        if (close_after && now >= *close_after && !closed) {
            closed = true;
            std::string flag = "{\"closedAt\":" + std::to_string(world.wall_clock_ms());
            const auto logon_override = knobs.text("CLOSE_LOGON_TIME");
            if (logon_override) {
                if (*logon_override != "none") flag += ",\"logonTime\":" + *logon_override;
            } else if (const auto logon = world.session_logon_time()) {
                flag += ",\"logonTime\":" + std::to_string(*logon);
            }
            put(world, watchdog_file(world, CLOSED_FILE), flag + "}");
            trace(world, knobs, "closed " + std::to_string(pid));
            if (!knobs.flag("CLOSE_KEEP_RUNNING")) finish(world, knobs, 0);
        }
        if (update_after && now >= *update_after && !update_written) {
            update_written = true;
            put(world, updating_path(world),
                "{\"startedAtMs\":" + std::to_string(world.wall_clock_ms()) + ",\"version\":" +
                    json_string(knobs.text("UPDATE_VERSION").value_or("9.9.9")) + "}");
        }
        if (update_written && !update_removed && update_for && now >= *update_after + *update_for) {
            update_removed = true;
            if (const auto path = updating_path(world)) world.delete_file(*path);
        }
        if (spike_at && extra_state == Extra::None && now >= *spike_at) {
            // A peak lasts its time and no longer: on a starved machine it is touched only as
            // far as it gets by then, so a check that sees it is never followed by another.
            extra.hold(knobs.number("SPIKE_MB").value_or(0),
                       [&] { return elapsed_ms() >= spike_end; });
            extra_state = Extra::Spike;
            trace(world, knobs, "spike " + std::to_string(pid));
        }
        if (extra_state == Extra::Spike && now >= spike_end) {
            extra.release();
            extra_state = Extra::SpikeOver;
        }
        if (grow_at && extra_state != Extra::Grown && extra_state != Extra::Spike &&
            now >= *grow_at) {
            // Said before the pages are touched: a slow machine may take long enough over them
            // that the watchdog ends the player first, rightly, since they count from the start.
            trace(world, knobs, "grown " + std::to_string(pid));
            extra.hold(knobs.number("GROW_MB").value_or(0));
            extra_state = Extra::Grown;
        }
        if (window != nullptr && !frozen) {
            frozen = freeze_after && now >= *freeze_after;
            if (frozen) {
                trace(world, knobs, "frozen " + std::to_string(pid));
            } else {
                take_messages();
            }
        }
        ::Sleep(20);
    }
}
