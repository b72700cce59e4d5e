#!/usr/bin/env bash
# The Windows Installer package under Wine, in a prefix of its own: a silent install of the
# project's version, signed with a certificate made here, an upgrade over it by a newer one and
# by a rebuild of that one, a refused downgrade, and a silent uninstall, checking the signatures,
# the programs' version, the installed files, the Startup-folder shortcut, the product's
# registration and that the user's data folder outlives the uninstall. Prints each step; exits
# non-zero on the first failure.
#
#   package_test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "$1" && pwd)
prefix=$build/wineprefix-package
work=$(mktemp -d)
trap 'scripts/wine-run "$prefix" --down; rm -rf "$work"' EXIT

v1=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
v2=${v1%.*}.$(( ${v1##*.} + 1 ))
# A code-signing certificate of its own, trusted by nothing but the checks below.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Watchdog package test" -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:test \
    -out "$work/cert.pfx"
WATCHDOG_SIGN_PASSWORD=test scripts/package --prebuilt --sign "$work/cert.pfx" "$v1" "$work" >/dev/null
scripts/package --prebuilt "$v2" "$work" >/dev/null
mkdir "$work/rebuilt"
scripts/package --prebuilt "$v2" "$work/rebuilt" >/dev/null

scripts/wine-run "$prefix" --down
rm -rf "$prefix" "$prefix.lock"
scripts/wine-run "$prefix" --up
export WINEPREFIX=$prefix WINEDEBUG=-all
install_dir="$prefix/drive_c/Program Files/Vellumbeacon Watchdog"
data="$prefix/drive_c/users/$(id -un)/AppData/Roaming/com.vellumbeacon.player/watchdog"
mkdir -p "$data"
echo "[1] the user's own log" > "$data/watchdog.log"

fail() { echo "FAIL: $*"; exit 1; }
msiexec() {
    local status=0
    wine msiexec "$@" /qn >/dev/null 2>&1 </dev/null || status=$?
    echo "msiexec $1 $(basename "$2"): status $status"
    [ "$status" -eq "${want_status:-0}" ] || fail "msiexec $*"
}
verified() {
    osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1 | grep -q '^Succeeded' ||
        fail "signature of $1: $(osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1)"
}
shortcuts() { find "$prefix/drive_c" -iname 'Vellumbeacon Watchdog.lnk' -ipath '*startup*'; }
# The installed products named Vellumbeacon Watchdog, as "DisplayVersion" values.
registered() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | awk '/^HKEY/ {v=""; n=0} /DisplayName.*Vellumbeacon Watchdog/ {n=1}
                          /DisplayVersion/ {v=$NF} n && v {print v; n=0}'
}
# The event source's registration, as "EventMessageFile TypesSupported".
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vellumbeacon Watchdog'
event_source() {
    wine reg query "$source_key" 2>/dev/null | tr -d '\r' |
        awk '/EventMessageFile/ {f=substr($0, index($0, $3))} /TypesSupported/ {t=$NF}
             END {if (f != "") print f " " t}'
}
installed() {
    for exe in watchdog.exe watchdog-status.exe; do
        [ -f "$install_dir/$exe" ] || fail "$exe is not installed"
    done
    [ "$(event_source)" = 'C:\Program Files\Vellumbeacon Watchdog\watchdog.exe 0x7' ] ||
        fail "event source: $(event_source)"
    [ -n "$(shortcuts)" ] || fail "no shortcut in the Startup folder"
    [ "$(registered | tr '\n' ' ')" = "$1 " ] || fail "registered: $(registered | tr '\n' ' ')"
    echo "installed $1: $(ls "$install_dir" | tr '\n' ' ')+ $(shortcuts | sed "s|$prefix/||")"
}

# Apps & features: the product's values, and nothing offered but its removal.
uninstall_entry() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | awk '/^HKEY/ {n=0} /DisplayName.*Vellumbeacon Watchdog/ {n=1} {print n, $0}' |
        awk '$1 == 1' | grep -E ' (Publisher|HelpLink|NoModify|NoRepair) ' | awk '{print $2 "=" $NF}' |
        sort | tr '\n' ' '
}

verified "$work/watchdog-$v1.msi"
msiexec /i "$work/watchdog-$v1.msi"
installed "$v1"
for exe in watchdog.exe watchdog-status.exe; do verified "$install_dir/$exe"; done
[ "$(wine "$install_dir/watchdog-status.exe" --version | tr -d '\r')" = "watchdog-status $v1" ] ||
    fail "--version: $(wine "$install_dir/watchdog-status.exe" --version)"
[ "$(uninstall_entry)" = 'HelpLink=https://vellumbeacon.com/watchdog NoModify=0x1 NoRepair=0x1 Publisher=Vellumbeacon ' ] ||
    fail "Apps & features entry: $(uninstall_entry)"
echo "signed, version $v1, removal only: $(uninstall_entry)"
msiexec /i "$work/watchdog-$v2.msi"
installed "$v2"
msiexec /i "$work/rebuilt/watchdog-$v2.msi"
installed "$v2"
# Refused with 1603 (seen here modulo 256), the newer one left in place.
want_status=$((1603 % 256)) msiexec /i "$work/watchdog-$v1.msi"
installed "$v2"
msiexec /x "$work/rebuilt/watchdog-$v2.msi"
[ ! -e "$install_dir/watchdog.exe" ] && [ ! -e "$install_dir/watchdog-status.exe" ] ||
    fail "files left: $(ls "$install_dir")"
[ -z "$(shortcuts)" ] || fail "shortcut left: $(shortcuts)"
[ -z "$(registered)" ] || fail "still registered: $(registered)"
[ -z "$(event_source)" ] || fail "event source left: $(event_source)"
[ "$(cat "$data/watchdog.log")" = "[1] the user's own log" ] || fail "the user's data went"
echo "uninstalled: no files, no shortcut, no registration, no event source; the user's data kept"
