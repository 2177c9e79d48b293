#!/usr/bin/env bash
# One wire, two builds, both ways: the Windows build of the library (through cvcal.exe under Wine)
# in remote mode against the native cvadmind serving a native store, and the native cvcal against
# the Windows cvadmind.exe serving a store under Wine. Names, ids and subjects outside ASCII
# arrive as they were meant whichever way they travel.
# Usage: cross_build_test.sh ROOT ARCH   (ARCH: win32 or win64, the Windows build that runs here)
set -uo pipefail
root=$1 arch=$2
work=$(mktemp -d)
services=()
cleanup() {
    for pid in "${services[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${services[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
failures=0 checks=0
# Wine turns the Unix arguments (UTF-8) into the Windows code page, and file names back.
export LC_ALL=C.UTF-8
check() {  # STATUS WHAT
    checks=$((checks + 1))
    [ "$1" = 0 ] || { echo "FAIL: $2"; failures=$((failures + 1)); }
}
# shows WHAT PATTERN COMMAND...: the command prints a line that matches PATTERN.
shows() {
    local what=$1 pattern=$2
    shift 2
    grep -q -- "$pattern" <<<"$("$@" 2>/dev/null | tr -d '\r')"
    check $? "$what"
}
wine_run() { "$root/cmake/wine-run" "$arch" "$@"; }
await_port() {
    for _ in $(seq 600); do [ -s "$1" ] && break; sleep 0.05; done
    tr -d '\r\n' <"$1"
}
client_reg() {  # FILE HOST PORT: the key that tells a client how to reach a service
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Corvane\\Corvane\\Administration\\Hosts\\%s]\n"Address"="127.0.0.1"\n"Port"=dword:%08x\n"Credentials"="cross"\n"Authentication Protocol"="PLAIN"\n' \
        "$2" "$3" >"$1"
}
po=pö box=jürgen id=zoë-1 subject=Größe
# Both stores are UTF-8 on disk: the native one natively, the one under Wine through Wine.
mkdir -p "$work/store/po/MAILROOT/anna" "$work/store/$po/MAILROOT/$box" "$work/winstore/$po/MAILROOT/$box"

# The Windows library against the native service.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\n"Mail Root"="%s"\n' \
    "$work/store" >"$work/server.reg"
(umask 077 && printf 'credentials = cross\nprotocol = PLAIN\nlibrary = CVAICP.DLL %s\n' \
    "$root/build/native/lib/libcvaicp.so" >"$work/cvadmind.conf")
"$root/build/native/bin/cvadmind" --registry "$work/server.reg" --config "$work/cvadmind.conf" \
    --listen 127.0.0.1:0 --port-file "$work/port" --quiet &
services+=($!)
client_reg "$work/client.reg" native "$(await_port "$work/port")"
wine_run "$root/build/$arch/bin/cvcal.exe" config import "$work/client.reg" >/dev/null 2>&1
check $? "cvcal.exe config import"
wcvcal() { wine_run "$root/build/$arch/bin/cvcal.exe" --host native "$@"; }
anna=(--mailbox anna --postoffice po)
shows "remote add from the Windows build" "result: *1" wcvcal add "${anna[@]}" --id cross-1 \
    --subject Over --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z
[ "$(cat "$work/store/po/MAILROOT/anna/Calendar/Y26M12D07.CAL")" = "$(printf '1796634000\t1796637600\tcross-1')" ]
check $? "the line is in the native store"
shows "remote get reads the record back" "id: *cross-1" wcvcal get "${anna[@]}" --id CROSS-1 \
    --period Y26M12D07
shows "remote item read" "Subject: Over" wcvcal item get "${anna[@]}" --id cross-1
shows "remote list" "cross-1 *Over" wcvcal list "${anna[@]}" --from 2026-12-07T00:00Z \
    --to 2026-12-07T23:00Z
far=(--mailbox "$box" --postoffice "$po")
shows "a non-ASCII mailbox from the Windows build" "result: *1" wcvcal add "${far[@]}" --id "$id" \
    --subject "$subject" --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z
grep -q "	$id\$" "$work/store/$po/MAILROOT/$box/Calendar/Y26M12D07.CAL" 2>/dev/null
check $? "the native store holds the line under the UTF-8 names"
# The Windows build prints text in its code page; its JSON is UTF-8, as everywhere.
shows "the non-ASCII id walks back to the Windows build" "\"id\":\"$id\"" wcvcal --json walk \
    "${far[@]}" --period Y26M12D07
shows "the subject lists in the Windows build" "\"subject\":\"$subject\"" wcvcal --json list \
    "${far[@]}" --from 2026-12-07T00:00Z --to 2026-12-07T23:00Z

# The native library against the Windows service.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\n"Mail Root"="%s"\n' \
    "$(windows_path "$work/winstore" | sed 's/\\/\\\\/g')" >"$work/winserver.reg"
wine_run "$root/build/$arch/bin/cvcal.exe" config import "$work/winserver.reg" >/dev/null 2>&1
(umask 077 && printf 'credentials = cross\nprotocol = PLAIN\nlibrary = CVAICP.DLL %s\n' \
    "$(windows_path "$root/build/$arch/bin/CVAICP.DLL")" >"$work/wincvadmind.conf")
# Started directly, not through a function: wine-run becomes the Windows process itself, so that
# the pid kept is the one to stop (a lingering service would keep Wine's server up for ever).
"$root/cmake/wine-run" "$arch" "$root/build/$arch/bin/cvadmind.exe" \
    --config "$(windows_path "$work/wincvadmind.conf")" --listen 127.0.0.1:0 \
    --port-file "$(windows_path "$work/winport")" --quiet >/dev/null 2>&1 &
services+=($!)
client_reg "$work/native-client.reg" windows "$(await_port "$work/winport")"
ncvcal() { "$root/build/native/bin/cvcal" --registry "$work/native-client.reg" --host windows "$@"; }
shows "a non-ASCII mailbox from the native build" "result: *1" ncvcal add "${far[@]}" --id "$id" \
    --subject "$subject" --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z
# The Windows library writes the id in its code page; the folders are Wine's, in UTF-8.
grep -q "	zo$(printf '\xeb')-1\$" "$work/winstore/$po/MAILROOT/$box/Calendar/Y26M12D07.CAL" 2>/dev/null
check $? "the Windows store holds the line under the names the Windows build writes"
shows "the id walks back to the native build" "$id" ncvcal walk "${far[@]}" --period Y26M12D07
shows "the item reads back in the native build" "Subject: $subject" ncvcal item get "${far[@]}" \
    --id "$id"
shows "a name the Windows code page cannot hold is refused with its cause" "Windows-1252" \
    bash -c "'$root/build/native/bin/cvcal' --registry '$work/native-client.reg' --host windows \
        walk --mailbox łódź --postoffice '$po' --period Y26M12D07 2>&1"

# One store, both builds, no wire: what one writes, the other reads the same (its subject in the
# list and in the item's properties).
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\n"Mail Root"="%s"\n' \
    "$work/winstore" >"$work/native-local.reg"
wlocal() { wine_run "$root/build/$arch/bin/cvcal.exe" "$@"; }
nlocal() { "$root/build/native/bin/cvcal" --registry "$work/native-local.reg" "$@"; }
day=(--from 2026-12-08T00:00Z --to 2026-12-08T23:00Z)
wlocal add "${far[@]}" --id from-windows --subject "Grüße" --start 2026-12-08T09:00Z \
    --end 2026-12-08T10:00Z >/dev/null 2>&1
nlocal add "${far[@]}" --id from-native --subject "Straße" --start 2026-12-08T11:00Z \
    --end 2026-12-08T12:00Z >/dev/null 2>&1
for reader in wlocal nlocal; do
    shows "$reader lists the Windows build's subject" '"from-windows","subject":"Grüße"' \
        $reader --json list "${far[@]}" "${day[@]}"
    shows "$reader lists the native build's subject" '"from-native","subject":"Straße"' \
        $reader --json list "${far[@]}" "${day[@]}"
    $reader reindex "${far[@]}" >/dev/null 2>&1
    shows "$reader reads the Windows build's subject as a property" '"value":"Grüße"' \
        $reader --json props get "${far[@]}" --id from-windows --name PR_SUBJECT
done

# The Windows build's standard input and output carry an item's bytes as they are.
printf 'Subject: lines\r\nX-Location: here\r\n\r\nline one\r\nline two\n' >"$work/item.txt"
wlocal item put "${far[@]}" --id bytes <"$work/item.txt" >/dev/null 2>&1
cmp -s "$work/item.txt" "$work/winstore/$po/MAILROOT/$box/Calendar/bytes"
check $? "item put from standard input keeps every byte"
wlocal item get "${far[@]}" --id bytes 2>/dev/null | cmp -s "$work/item.txt" -
check $? "item get to standard output gives every byte back"

echo "cross-build: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
