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

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
