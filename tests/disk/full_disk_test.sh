#!/usr/bin/env bash
# The watchdog on a full disk, under Wine: its folder is a 256 KiB file system, filled up but
# for a little room, while a player that exits every second keeps the watchdog logging. Every
# line in watchdog.log must be one the watchdog wrote whole (its standard error has them all),
# the file must end with a line feed, and once room is made the lines go on. Needs root to
# mount the file system; exits 77 (skipped) where that cannot be done.
#
#   full_disk_test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "$1" && pwd)
prefix=$build/wineprefix-disk
work=$(mktemp -d)
data=$prefix/drive_c/users/$(id -un)/AppData/Roaming/com.vellumbeacon.player/watchdog
cleanup() {
    scripts/wine-run "$prefix" --down
    # The prefix's processes may take a moment to let go of the folder.
    ! mountpoint -q "$data" || umount "$data" 2>/dev/null || umount -l "$data"
    rm -rf "$work"
}
trap cleanup EXIT

scripts/wine-run "$prefix" --up
export WINEPREFIX=$prefix WINEDEBUG=-all
rm -rf "$data"
mkdir -p "$data"
if ! mount -t tmpfs -o size=256k tmpfs "$data" 2>"$work/mount.txt"; then
    echo "SKIPPED: cannot mount a small file system here: $(cat "$work/mount.txt")"
    exit 77
fi
fail() {
    echo "FAIL: $*"
    echo "--- watchdog.log"
    tail -n 20 "$data/watchdog.log" || true
    exit 1
}

# A log that ends part way into a page of the file system, and the rest filled: the next
# line or two fit in that page, then appends fall short.
for i in $(seq 100 289); do echo "[1] earlier line $i"; done >"$data/watchdog.log"
dd if=/dev/zero of="$data/filler" bs=4k 2>/dev/null || true

player=$(scripts/wine-run "$prefix" cmd /c echo "Z:${build//\//\\}\\test-player.exe" | tr -d '\r')
export VELLUMBEACON_WATCHDOG_PLAYER_EXE=$player VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS=1
export VELLUMBEACON_WATCHDOG_STARTUP_GRACE_SECS=0 TEST_PLAYER_EXIT_AFTER_MS=100
export TEST_PLAYER_EXIT_CODE=1
wine "$build/watchdog.exe" 2>"$work/stderr.txt" </dev/null &

# Waits until standard error holds N lines containing TEXT, or fails after a generous bound.
await() {
    local waited=0
    until [ "$(grep -c -- "$2" "$work/stderr.txt" || true)" -ge "$1" ]; do
        sleep 0.5
        waited=$((waited + 1))
        [ $waited -lt 1200 ] || fail "no $1 lines of '$2' within 600 s"
    done
}
await 30 "player exited (code 1)"
full=$(wc -l <"$data/watchdog.log")
[ "$full" -lt $((190 + $(wc -l <"$work/stderr.txt"))) ] || fail "the disk never filled up"
rm "$data/filler"
await 40 "player exited (code 1)"
scripts/wine-run "$prefix" --down

{ seq 100 289 | sed 's/^/[1] earlier line /'; tr -d '\r' <"$work/stderr.txt"; } >"$work/echoed.txt"
[ "$(tail -c 1 "$data/watchdog.log" | od -An -c | tr -d ' ')" = '\n' ] ||
    fail "the log does not end with a whole line"
while IFS= read -r line; do
    grep -qxF -- "$line" "$work/echoed.txt" || fail "not a line the watchdog wrote: $line"
done <"$data/watchdog.log"
[ "$(wc -l <"$data/watchdog.log")" -gt "$full" ] || fail "no lines once there was room again"
echo "full disk: $((full - 190)) of the watchdog's lines fitted, whole; then" \
    "$(( $(wc -l <"$data/watchdog.log") - full )) more once there was room; no fragment"
