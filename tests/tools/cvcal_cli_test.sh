#!/usr/bin/env bash
# cvcal as a person uses it: a fresh store, the commands, their output and exit statuses.
# Usage: cvcal_cli_test.sh CVCAL
set -uo pipefail
cvcal=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/store/po/MAILROOT/anna"
failures=0 checks=0

c() { "$cvcal" --registry "$work/r.reg" "$@"; }
source "$(dirname "$0")/cli_checks.sh"

expect_status 0 config set-root "$work/store"
expect_status 0 config set-waits 0
mb=(--mailbox anna --postoffice po)
expect_output '"period": *"Y26M12D07"' --json add "${mb[@]}" --id a1 --subject Hello \
    --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z
expect_status 1 add "${mb[@]}" --id A1 --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z
expect_output 'start_seconds: *1796634000' get "${mb[@]}" --id a1 --period Y26M12D07
expect_output 'Subject: Hello' item get "${mb[@]}" --id a1
expect_output 'busy_days: *07' freebusy "${mb[@]}" --month 2026-12
expect_output 'Y26M12' period-name --start 2026-12-07T09:00Z --end 2026-12-08T09:00Z
expect_output 'a1 *Hello' list "${mb[@]}" --from 2026-12-07T00:00Z --to 2026-12-07T23:00Z
expect_output '<SUBJECT>Hello</SUBJECT>' list "${mb[@]}" --from 2026-12-07T00:00Z \
    --to 2026-12-07T23:00Z --xml
expect_status 2 edit "${mb[@]}" --id a1 --period Y26M12D07 --new-start 2026-12-08T09:00Z \
    --new-end 2026-12-08T10:00Z
expect_status 0 edit "${mb[@]}" --id a1 --period Y26M12D07 --new-start 2026-12-07T11:00Z \
    --new-end 2026-12-07T12:00Z
expect_output '"count": *1' --json walk "${mb[@]}" --period Y26M12D07
expect_status 0 remove "${mb[@]}" --id a1 --start 2026-12-07T11:00Z --end 2026-12-07T12:00Z
expect_status 1 get "${mb[@]}" --id a1 --period Y26M12D07
expect_status 1 item size "${mb[@]}" --id a1

# Wrong arguments: status 2 and one line naming the argument.
expect_output '^cvcal: --start: ' add "${mb[@]}" --start soon --end 2026-12-07T10:00Z
expect_output '^cvcal: --colour: unknown option' add "${mb[@]}" --colour red
expect_output '^cvcal: --mailbox: required' walk --postoffice po --period Y
expect_output '^cvcal: frobnicate: unknown command' frobnicate
expect_status 2 add "${mb[@]}" --start 2026-12-07T10:00Z --end 2026-12-07T09:00Z
expect_status 2 item
expect_status 0 --help
expect_status 0 add --help
expect_status 2 add --mailbox ../x --postoffice po --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z

expect_status 2 add "${mb[@]}" --id a/b --start 2026-12-07T09:00Z --end 2026-12-07T10:00Z
expect_status 2 get "${mb[@]}" --id "$(printf 'a\tb')" --period Y26M12D07

# Failures that would look like an empty calendar: each names its cause, with its own status.
printf 'plain text\n' >"$work/notes.txt"
expect_json 3 'j["error"]["code"] == 3 and "not found" in j["error"]["message"]' \
    --registry "$work/none.reg" walk "${mb[@]}" --period Y26M12D07
expect_status 3 --registry "$work" walk "${mb[@]}" --period Y26M12D07
expect_status 3 --registry "$work/notes.txt" config set-root "$work/store"
expect_status 3 --registry /dev/null config set-root "$work/store"
[ "$(cat "$work/notes.txt")" = "plain text" ]
check $? "notes.txt changed"
expect_output 'postoffice folder not found' walk --mailbox anna --postoffice px --period Y26M12D07
expect_output 'mailbox folder not found' freebusy --mailbox bob --postoffice po --month 2026-12
printf 'Windows Registry Editor Version 5.00\n' >"$work/empty.reg"
expect_output 'no mail root' --registry "$work/empty.reg" walk "${mb[@]}" --period Y26M12D07
expect_status 2 --host far freebusy "${mb[@]}" --month 2026-12
expect_output 'no such host configured' --host far walk "${mb[@]}" --period Y26M12D07
expect_status 0 config host gone --address 127.0.0.1 --port 1
expect_json 4 'j["error"]["code"] == 4' --host gone walk "${mb[@]}" --period Y26M12D07
expect_status 2 config host gone --address 127.0.0.1 --protocol NTLM

# False successes: look first, say what was not there.
expect_status 1 edit "${mb[@]}" --id ghost --period Y26M12D07 --new-start 2026-12-07T09:00Z \
    --new-end 2026-12-07T10:00Z
expect_status 1 item delete "${mb[@]}" --id ghost
c add "${mb[@]}" --id e1 --start 2026-12-09T09:00Z --end 2026-12-09T10:00Z >/dev/null
c add "${mb[@]}" --id e2 --start 2026-12-09T11:00Z --end 2026-12-09T12:00Z >/dev/null
expect_status 1 edit "${mb[@]}" --id e1 --period Y26M12D09 --new-start 2026-12-09T09:00Z \
    --new-end 2026-12-09T10:00Z --new-id e2
expect_output 'id: *e3' edit "${mb[@]}" --id e1 --period Y26M12D09 --new-start 2026-12-09T09:00Z \
    --new-end 2026-12-09T10:00Z --new-id e3
expect_output 'X-StartTime' item get "${mb[@]}" --id e3
expect_json 0 'j["appointments"][0]["period"] == "Y26M12D09"' find --id E3 "${mb[@]}"
expect_status 1 find "${mb[@]}" --id ghost

# Times as people mean them.
for bad in 2026-02-30 2026-12-07T09:00+14:30 1969-12-31; do
    expect_status 2 period-name --start "$bad" --end 2026-12-07T10:00Z
done
expect_status 2 freebusy "${mb[@]}" --month 1969-12
expect_output "Y$(date +%y)M$(date +%m)D$(date +%d)" period-name --start today --end today
TZ=America/New_York expect_output 'Y26M12D07' period-name --start 2026-12-07T21:00 \
    --end 2026-12-07T22:00
expect_json 0 'j["count"] == 2 and j["days"] == 3' list "${mb[@]}" --from 2026-12-07 --to 2026-12-09
expect_json 0 'j["busy_days"] == [9]' freebusy "${mb[@]}" --month 2026-12
expect_json 0 'j["start"].endswith("+00:00")' get "${mb[@]}" --id e2 --period Y26M12D09
expect_json 0 'j["data_directory"] is None and j["Apply Timeout"] == 0' config show

# Conventions: --version, global options after the command, the default registry file.
expect_output '^cvcal [0-9]' --version
expect_status 0 walk "${mb[@]}" --period Y26M12D09 --registry "$work/r.reg" --json
HOME="$work/home" CVAICP_REGISTRY="" "$cvcal" config set-root /x >/dev/null 2>&1
[ -f "$work/home/.config/cvaicp/store.reg" ]
check $? "no default file"
printf 'Windows Registry Editor Version 5.00\n\n; kept\n' >"$work/kept.reg"
c --registry "$work/kept.reg" config set-waits 1 >/dev/null
grep -q '^; kept' "$work/kept.reg"
check $? "comment lost"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
