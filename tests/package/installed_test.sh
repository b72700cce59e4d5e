#!/usr/bin/env bash
# The product as a user installs and runs it, under Wine in a prefix of its own: the package
# installed silently, the player in a folder of its own that writes player.json, the installed
# watchdog started through its Startup-folder shortcut. It supervises (launch, crash,
# relaunch); with no player.json and no override it launches nothing, not even its own status
# program, and says why at each check; a newer package installed while it runs leaves it
# supervising and is the one that runs after a restart; the uninstall keeps the user's data.
# Prints each step; exits non-zero on the first failure.
#
#   installed_test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "$1" && pwd)
prefix=$build/wineprefix-installed
work=$(mktemp -d)
trap 'scripts/wine-run "$prefix" --down; rm -rf "$work"' EXIT

# Version 2's watchdog.exe differs from version 1's by bytes after its image, which Windows
# loads without reading, so that the test can tell which of the two is installed.
v1=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
v2=${v1%.*}.$(( ${v1##*.} + 1 ))
mkdir -p "$work/v2"
cp "$build/watchdog.exe" "$build/watchdog-status.exe" "$work/v2/"
printf 'watchdog version %s' "$v2" >>"$work/v2/watchdog.exe"
scripts/package --prebuilt "$v1" "$work" >/dev/null
# wixl takes the folder of the sources relative to the current one.
wixl -a x64 -D Version="$v2" -D BinDir="$(realpath --relative-to=. "$work/v2")" \
    -D HelpLink=https://vellumbeacon.com/watchdog packaging/watchdog.wxs -o "$work/watchdog-$v2.msi"

scripts/wine-run "$prefix" --down
rm -rf "$prefix" "$prefix.lock"
scripts/wine-run "$prefix" --up
export WINEPREFIX=$prefix WINEDEBUG=-all
install_dir="$prefix/drive_c/Program Files/Vellumbeacon Watchdog"
data="$prefix/drive_c/users/$(id -un)/AppData/Roaming/com.vellumbeacon.player/watchdog"
log=$data/watchdog.log
signage=$prefix/drive_c/Signage
mkdir -p "$signage"
cp "$build/test-player.exe" "$signage/player.exe"
script=$work/player-script.txt
: >"$script"
export TEST_PLAYER_SCRIPT
TEST_PLAYER_SCRIPT=$(scripts/wine-run "$prefix" cmd /c echo "Z:${script//\//\\}" | tr -d '\r')
export VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS=1 VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS=2
unset VELLUMBEACON_WATCHDOG_PLAYER_EXE

fail() {
    echo "FAIL: $*"
    [ ! -f "$log" ] || { echo "--- watchdog.log"; tail -n 30 "$log"; }
    exit 1
}
# Success is 0, or 3010 when a restart completes the install; a shell sees only the low 8
# bits of a Windows exit status (3010 arrives as 194).
msiexec() {
    local status=0
    wine msiexec "$@" /qn /norestart >/dev/null 2>&1 </dev/null || status=$?
    [ "$status" -ne 194 ] || status=3010
    echo "msiexec $1 $(basename "$2"): status $status"
    [ "$status" -eq 0 ] || [ "$status" -eq 3010 ] || fail "msiexec $*"
}
lines() { if [ -f "$log" ]; then grep -c -- "$1" "$log" || true; else echo 0; fi; }
# Waits until the log holds at least N lines containing TEXT, or fails after a generous bound.
await() {
    local n=$1 text=$2 waited=0
    until [ "$(lines "$text")" -ge "$n" ]; do
        sleep 0.5
        waited=$((waited + 1))
        [ $waited -lt 1200 ] || fail "no $n lines of '$text' within 600 s"
    done
}
# A logon: every process of the prefix ends, and Wine's boot starts what the Startup folder
# holds, as Windows does at a logon. A restart also makes the replacements that were put off
# until then (wineboot -r).
logon() {
    scripts/wine-run "$prefix" --down
    scripts/wine-run "$prefix" --up
}
restart() {
    scripts/wine-run "$prefix" --down
    wineboot -r >/dev/null 2>&1 </dev/null
    scripts/wine-run "$prefix" --up
}

msiexec /i "$work/watchdog-$v1.msi"

# The player's own record, as a player that has run once leaves it.
printf 'EXIT_AFTER_MS=0\n' >"$script"
wine start /wait /unix "$signage/player.exe" >/dev/null 2>&1 </dev/null || true
[ -f "$data/player.json" ] || fail "the player wrote no player.json"

printf 'EXIT_AFTER_MS=1500\nEXIT_CODE=5\n' >"$script"
[ -n "$(find "$prefix/drive_c" -iname 'Vellumbeacon Watchdog.lnk' -ipath '*startup*')" ] ||
    fail "no shortcut in the Startup folder"
logon
await 1 "vellumbeacon-watchdog started"
await 2 'spawned player pid=[0-9]* (C:\\Signage\\player.exe)'
await 1 "player exited (code 5)"
: >"$script"
echo "started at logon from the Startup folder: $(lines 'spawned player') launches, $(lines 'player exited (code 5)') crashes relaunched"

# Waits until the player the running watchdog launched last has written its player.json, which
# it does once it has read its script: a script written after that is for the next player only.
await_player_started() {
    local running waited=0
    # The pid of the last launch since the last start of a watchdog (none yet: empty).
    last_launch() {
        awk '/vellumbeacon-watchdog started/ { pid = "" }
             match($0, /spawned player pid=[0-9]+/) { pid = substr($0, RSTART + 19, RLENGTH - 19) }
             END { print pid }' "$log" 2>/dev/null
    }
    until running=$(last_launch) && [ -n "$running" ] &&
        grep -Eq "\"pid\":$running[,}]" "$data/player.json" 2>/dev/null; do
        sleep 0.5
        waited=$((waited + 1))
        [ $waited -lt 1200 ] || fail "no player launched since the start wrote player.json within 600 s"
    done
}

# No record and no override: nothing beside the installed watchdog is ever the player. The
# record goes once the running player has written it (it writes it once, as it starts).
await_player_started
rm -f "$data/player.json"
wine taskkill /F /IM player.exe >/dev/null 2>&1 </dev/null || true
await 3 "cannot resolve player exe (no player.json / override / sibling)"
spawned=$(lines "spawned player")
sleep 3
[ "$(lines "spawned player")" -eq "$spawned" ] || fail "launched something without a record"
[ "$(lines "watchdog-status")" -eq 0 ] || fail "launched the status program"
echo "without player.json: $(lines 'cannot resolve player exe') cannot-resolve lines, nothing launched"

# The record back: the next check launches the player it names.
printf '{"exePath":"C:\\\\Signage\\\\player.exe","imageName":"player.exe"}' >"$data/player.json"
await $((spawned + 1)) "spawned player"
echo "player.json back: launched again"

# A newer package while the watchdog runs; then the player crashes.
before=$(md5sum <"$install_dir/watchdog.exe")
msiexec /i "$work/watchdog-$v2.msi"
if [ "$(md5sum <"$install_dir/watchdog.exe")" != "$before" ]; then
    echo "upgraded while running: watchdog.exe replaced at once"
else
    echo "upgraded while running: watchdog.exe replaced at the restart"
fi
crash_player() {
    await_player_started
    printf 'EXIT_AFTER_MS=500\nEXIT_CODE=%s\n' "$1" >"$script"
    local launched
    launched=$(lines "spawned player")
    wine taskkill /F /IM player.exe >/dev/null 2>&1 </dev/null || true
    await 1 "player exited (code $1)"
    : >"$script"
    await $((launched + 2)) "spawned player"
}
crash_player 6
echo "the running watchdog kept supervising after the upgrade"

restart
grep -q "watchdog version $v2" "$install_dir/watchdog.exe" || fail "version $v2 is not installed"
await 2 "vellumbeacon-watchdog started"
crash_player 7
watchdogs=$(wine tasklist /FI "IMAGENAME eq watchdog.exe" /NH /FO CSV 2>/dev/null | grep -c '"watchdog.exe"' || true)
[ "$watchdogs" -eq 1 ] || fail "$watchdogs watchdogs run"
echo "after the restart version $v2 runs, started at logon, and supervises"

# Wine's installer neither removes a running program's file nor puts its removal off to the
# restart (Windows does the latter), so the watchdog is ended first.
wine taskkill /F /IM watchdog.exe >/dev/null 2>&1 </dev/null || true
msiexec /x "$work/watchdog-$v2.msi"
restart
[ ! -e "$install_dir/watchdog.exe" ] || fail "watchdog.exe left after the uninstall"
[ -z "$(find "$prefix/drive_c" -iname 'Vellumbeacon Watchdog.lnk')" ] || fail "shortcut left"
[ -f "$log" ] && [ -f "$data/recoveries.txt" ] || fail "the user's data went"
echo "uninstalled: the user's log and records kept ($(cat "$data/recoveries.txt") recoveries)"
