#!/usr/bin/env bash
# The event log under Wine, in a prefix of its own: watchdog.exe over a player that exits with
# code 5 soon after each start, once with VELLUMBEACON_WATCHDOG_EVENT_LOG=1 and once without.
# Wine's event log functions are stubs that print what they are given under
# WINEDEBUG=+eventlog (the text) and fixme+advapi (the type and the full identifier): with the
# setting on, the events are the log's lines, in order, with the table's identifiers and
# types; off, there is none. Exits non-zero on the first failure.
#
#   event_log_test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "$1" && pwd)
prefix=$build/wineprefix-events
out=$(mktemp)
trap 'scripts/wine-run "$prefix" --down; rm -f "$out"' EXIT
scripts/wine-run "$prefix" --up
export WINEPREFIX=$prefix
data="$prefix/drive_c/users/$(id -un)/AppData/Roaming/com.vellumbeacon.player/watchdog"
fail() { echo "FAIL: $*"; exit 1; }

# run ON: the watchdog until its log holds five lines (its start, the launch, the exit, the
# rapid restart and the relaunch, so that the first four have been sent as events), or a
# generous bound; its standard error (Wine's traces among it) in $out.
run() {
    scripts/wine-run "$prefix" --down
    scripts/wine-run "$prefix" --up
    rm -rf "$data"
    VELLUMBEACON_WATCHDOG_EVENT_LOG=$1 \
        VELLUMBEACON_WATCHDOG_PLAYER_EXE="Z:$(tr / '\\' <<<"$build")\\test-player.exe" \
        VELLUMBEACON_WATCHDOG_CHECK_INTERVAL_SECS=1 TEST_PLAYER_EXIT_AFTER_MS=300 \
        TEST_PLAYER_EXIT_CODE=5 WINEDEBUG=+eventlog,fixme+advapi \
        wine "$build/watchdog.exe" >"$out" 2>&1 </dev/null &
    local watchdog=$! waited=0
    until [ -f "$data/watchdog.log" ] && [ "$(grep -c . "$data/watchdog.log")" -ge 5 ]; do
        sleep 0.5
        waited=$((waited + 1))
        [ $waited -lt 240 ] || break
    done
    kill "$watchdog" 2>/dev/null || true
    wait "$watchdog" 2>/dev/null || true
}

# "identifier type text" per event, from the pairs of lines Wine prints for each.
events() {
    tr -d '\r' <"$out" | awk '
        /fixme:advapi:ReportEventW/ { split($0, a, ","); type = a[2]; id = a[4] }
        /:eventlog:ReportEventW L"/ { t = $0; sub(/^[^"]*L"/, "", t); sub(/"$/, "", t)
                                      gsub(/\\\\/, "\\", t); print id, type, t }'
}

run 1
mapfile -t got < <(events)
mapfile -t lines < <(tr -d '\r' <"$data/watchdog.log" | sed 's/^\[[0-9]*\] //')
[ "${#got[@]}" -ge 4 ] || fail "only ${#got[@]} events: $(cat "$out")"
want=("0x400003e8 0x0004 vellumbeacon-watchdog started"
      "0x400003e9 0x0004 ${lines[1]}"
      "0x800003eb 0x0002 player exited (code 5)"
      "0x800003ec 0x0002 rapid restart #1; backing off 2s")
for i in 0 1 2 3; do
    [ "${got[$i]}" = "${want[$i]}" ] || fail "event $i: '${got[$i]}', not '${want[$i]}'"
done
[[ ${lines[1]} == "spawned player pid="*"test-player.exe)" ]] || fail "line 1: ${lines[1]}"
# Every event is a line of the log, in the log's order (the run may end between the two).
for i in "${!got[@]}"; do
    [ "${got[$i]#* * }" = "${lines[$i]}" ] || fail "event $i is '${got[$i]}', line '${lines[$i]}'"
done
echo "on: ${#got[@]} events for ${#lines[@]} lines, each with its identifier and type"

run 0
[ -s "$data/watchdog.log" ] || fail "no log with the setting off"
[ -z "$(events)" ] || fail "events with the setting off: $(events)"
echo "off: no event for $(wc -l <"$data/watchdog.log") lines"
