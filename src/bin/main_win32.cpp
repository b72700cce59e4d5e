// watchdog.exe: a windowless program. Command-line arguments are ignored.
#include "base/system_dll_win32.h"
#include "base/win32.h"
#include "base/win32_world.h"
#include "bin/startup.h"
#include "bin/supervisor.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wd::win32::limit_dll_search_to_system();
    wd::Win32World world;
    auto started = wd::start_up(world);
    if (!started) return 0;  // another watchdog is live
    wd::supervise(world, started->config, std::move(started->log));
}
