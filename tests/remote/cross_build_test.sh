#!/usr/bin/env bash
# One wire, two builds: the Windows build of the library (through cvcal.exe under Wine) in remote
# mode against the native cvadmind serving a native store.
# Usage: cross_build_test.sh ROOT ARCH   (ARCH: win32 or win64, the Windows build that runs here)
set -uo pipefail
root=$1 arch=$2
work=$(mktemp -d)
service=""
cleanup() {
    [ -n "$service" ] && kill "$service" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0 checks=0
# shows WHAT PATTERN ARGS...: cvcal.exe run with ARGS prints a line that matches PATTERN.
shows() {
    local what=$1 pattern=$2 out
    shift 2
    checks=$((checks + 1))
    out=$(cvcal "$@")
    grep -q "$pattern" <<<"$out" || { echo "FAIL: $what"; failures=$((failures + 1)); }
}

mkdir -p "$work/store/po/MAILROOT/anna"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\n"Mail Root"="%s"\n' \
    "$work/store" > "$work/server.reg"
(umask 077 && printf 'credentials = cross\nprotocol = PLAIN\nlibrary = CVAICP.DLL %s\n' \
    "$root/build/native/lib/libcvaicp.so" > "$work/cvadmind.conf")
CVAICP_REGISTRY="$work/server.reg" "$root/build/native/bin/cvadmind" --config "$work/cvadmind.conf" \
    --listen 127.0.0.1:0 --port-file "$work/port" --quiet &
service=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")

# The client's configuration goes into the Wine prefix's registry through cvcal.exe --registry.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Corvane\\Corvane\\Administration\\Hosts\\native]\n"Address"="127.0.0.1"\n"Port"=dword:%08x\n"Credentials"="cross"\n"Authentication Protocol"="PLAIN"\n' \
    "$port" > "$work/client.reg"
cvcal() {
    "$root/cmake/wine-run" "$arch" "$root/build/$arch/bin/cvcal.exe" --registry "$work/client.reg" \
        --host native "$@" --mailbox anna --postoffice po 2>/dev/null | tr -d '\r'
}
shows "remote add from the Windows build" "result: *1" \
    add --id cross-1 --subject Over --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z
checks=$((checks + 1))
[ "$(cat "$work/store/po/MAILROOT/anna/Calendar/Y26M12D07.CAL")" = "$(printf '1796634000\t1796637600\tcross-1')" ] ||
    { echo "FAIL: the line is in the native store"; failures=$((failures + 1)); }
shows "remote get reads the record back" "id: *cross-1" get --id CROSS-1 --period Y26M12D07
shows "remote item read" "Subject: Over" item get --id cross-1
shows "remote list" "cross-1 *Over" list --from 2026-12-07T00:00Z --to 2026-12-07T23:00Z

echo "cross-build: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
