#!/usr/bin/env bash
# cvadmind.exe as a Windows service under Wine, the way an operator runs it: installed, started
# with net start, a native client served, stopped with net stop, its log and its exit code read
# back from the service manager, removed.
# Usage: windows_service_test.sh ROOT ARCH   (ARCH: win32 or win64, the Windows build that runs here)
set -uo pipefail
root=$1 arch=$2
work=$(mktemp -d)
name="cvadmind-test"
# net and sc are found by Wine, not in a build folder: the prefix is named here.
export WINEPREFIX=${WINEPREFIX:-$root/build/$arch/wineprefix}
wine_run() { "$root/cmake/wine-run" "$arch" "$@" 2>/dev/null | tr -d '\r'; }
cvadmind=$root/build/$arch/bin/cvadmind.exe
cleanup() {
    wine_run net stop "$name" >/dev/null
    exec 9>&-
    wine_run "$cvadmind" --remove-service --service-name "$name" >/dev/null
    [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
failures=0 checks=0
check() {  # STATUS WHAT
    checks=$((checks + 1))
    [ "$1" = 0 ] || { echo "FAIL: $2"; failures=$((failures + 1)); }
}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
reg_text() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

mkdir -p "$work/store/po/MAILROOT/anna"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\n"Mail Root"="%s"\n' \
    "$(reg_text "$(windows_path "$work/store")")" >"$work/server.reg"
wine_run "$root/build/$arch/bin/cvcal.exe" config import "$work/server.reg" >/dev/null
(umask 077 && printf 'credentials = svc\nprotocol = PLAIN\nlibrary = CVAICP.DLL %s\n' \
    "$(windows_path "$root/build/$arch/bin/CVAICP.DLL")" >"$work/cvadmind.conf")

# Started only when asked: a service left behind by a killed run must not start with every later
# Wine process of this prefix.
grep -q "installed" <<<"$(wine_run "$cvadmind" --install-service --demand-start \
    --service-name "$name" --config "$(windows_path "$work/cvadmind.conf")" \
    --listen 127.0.0.1:0 --port-file "$(windows_path "$work/port")")"
check $? "--install-service registers the service"
grep -q "installed already" <<<"$("$root/cmake/wine-run" "$arch" "$cvadmind" --install-service \
    --service-name "$name" --config "$(windows_path "$work/cvadmind.conf")" 2>&1)"
check $? "a second install names the cause"

# Wine ends a prefix's services a few seconds after its last other process: a console held open
# keeps the service up between the Wine commands, as a running Windows would, however slowly the
# native client comes.
exec 9> >("$root/cmake/wine-run" "$arch" cmd >/dev/null 2>&1)
wine_run net start "$name" >/dev/null
check $? "net start"
grep -q "RUNNING" <<<"$(wine_run sc query "$name")"
check $? "the service manager sees it running"
port=$(tr -d '\r\n' <"$work/port" 2>/dev/null)
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Corvane\\Corvane\\Administration\\Hosts\\service]\n"Address"="127.0.0.1"\n"Port"=dword:%08x\n"Credentials"="svc"\n"Authentication Protocol"="PLAIN"\n' \
    "${port:-0}" >"$work/client.reg"
"$root/build/native/bin/cvcal" --registry "$work/client.reg" --host service add --mailbox anna \
    --postoffice po --id by-service --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z \
    >/dev/null 2>&1
check $? "a native client is served"
grep -q "by-service" "$work/store/po/MAILROOT/anna/Calendar/Y26M12D07.CAL" 2>/dev/null
check $? "the service wrote the store"
grep -q "The service cannot be removed while running\|stop it first" <<<"$(
    "$root/cmake/wine-run" "$arch" "$cvadmind" --remove-service --service-name "$name" 2>&1)"
check $? "a running service is not removed"

wine_run net stop "$name" >/dev/null
check $? "net stop"
grep -q "STOPPED" <<<"$(wine_run sc query "$name")"
check $? "the service manager sees it stopped"
# No standard error for a service: its lines go beside the configuration.
log=$work/cvadmind.log
grep -qE '^cvadmind: [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{12}Z listening on 127\.0\.0\.1:' "$log"
check $? "the log file has the start, stamped"
grep -q "127.0.0.1:[0-9]* AppointmentAdd answered 1" "$log"
check $? "the log file names the client and the operation"
grep -q "Z stopped" "$log"
check $? "the log file has the stop"

# A configuration it cannot serve with: the start fails, the manager holds the service's code.
(umask 077 && printf 'credentials = svc\nlisten = nowhere\n' >"$work/cvadmind.conf")
wine_run net start "$name" >/dev/null
query=$(wine_run sc query "$name")
grep -q "STOPPED" <<<"$query" && grep -qE "SERVICE_EXIT_CODE *: *2 " <<<"$query"
check $? "a failed start reports exit code 2 to the service manager"
grep -q "bad value for 'listen'" "$log"
check $? "the log file says why it did not start"

grep -q "removed" <<<"$(wine_run "$cvadmind" --remove-service --service-name "$name")"
check $? "--remove-service"
! grep -q "RUNNING\|STOPPED" <<<"$(wine_run sc query "$name")"
check $? "the service is gone"

echo "windows service: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
