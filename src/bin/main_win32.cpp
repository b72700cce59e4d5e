// watchdog.exe: a windowless program. Command-line arguments are ignored.
#include "base/win32.h"
#include "bin/config.h"
#include "bin/supervisor.h"
#include "bin/win32_world.h"
#include "process/lock.h"
#include "state/log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wd::Win32World world;
    const wd::WatchdogConfig config = wd::read_config(world);
    if (!wd::claim_instance_lock(world)) return 0;  // another watchdog is live
    wd::log_line(world, "vellumbeacon-watchdog started");
    wd::supervise(world, config);
}
