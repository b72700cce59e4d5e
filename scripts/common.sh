# Shared by the scripts that run watchdog.exe under Wine by hand (demo, bench, soak): the build
# preamble, a Wine prefix of the build tree that goes down with the script, and Windows paths
# for the build tree's files. Sourced, from the repository root.

# Installs what is missing and builds the windows preset's TARGETS.
build_windows() {
    scripts/install-deps
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target "$@"
}

# Brings up the prefix build/windows/NAME (see scripts/wine-run) and exports it for `wine`;
# sets app_dir and watchdog_dir to the test user's folders inside it. The prefix goes down
# when the script ends, after the script's own `before_exit` when it defines one.
use_prefix() {
    prefix=$PWD/build/windows/$1
    scripts/wine-run "$prefix" --up
    trap on_exit EXIT
    trap 'exit 130' INT TERM
    export WINEPREFIX=$prefix WINEDEBUG=-all
    app_dir=$prefix/drive_c/users/$(id -un)/AppData/Roaming/com.vellumbeacon.player
    watchdog_dir=$app_dir/watchdog
}

on_exit() {
    if declare -F before_exit >/dev/null; then before_exit || true; fi
    scripts/wine-run "$prefix" --down
}

# Stops every process of the prefix and starts its server again.
restart_prefix() {
    scripts/wine-run "$prefix" --down
    scripts/wine-run "$prefix" --up
}

# The Windows path (on Wine's Z: drive) of a file whose folder exists.
win() {
    echo "Z:$(cd "$(dirname "$1")" && pwd -P | tr / '\\')\\$(basename "$1")"
}
