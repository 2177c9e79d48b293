#!/usr/bin/env bash
# cvcal's calendar index commands on a fresh store: reindex by the dirty markers and the reindex
# mode, properties read and written through the index and the item file, and a write that fails.
# Usage: cvcal_index_test.sh CVCAL (CVCAL may be a wrapper that runs the Windows build under Wine)
set -uo pipefail
cvcal=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
calendar="$work/store/po/MAILROOT/anna/Calendar"
mkdir -p "$work/store/po/MAILROOT/anna"
failures=0 checks=0

# The configuration, with "Calendar ReIndex Mode" set to $1.
configure() {
    cat >"$work/r.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]
"Mail Root"="$work/store"
"Calendar ReIndex Mode"=dword:0000000$1

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane\\Providers]
"Write Wait Timeout"=dword:00000000
"Read Wait Timeout"=dword:00000000
"UnBlock Timeout"=dword:00000000
"Apply Timeout"=dword:00000000
EOF
}
c() { "$cvcal" --registry "$work/r.reg" "$@"; }
source "$(dirname "$0")/cli_checks.sh"

configure 0
mb=(--mailbox anna --postoffice po)
printf 'old body\r\n' >"$work/body"
expect_status 0 add "${mb[@]}" --id a1 --subject Hello --start 2026-12-07T09:00Z \
    --end 2026-12-07T10:00Z --body-file "$work/body"

# Missing index: rebuilt. Then loaded; a marker in mode 0 is consumed but the index is loaded.
expect_output 'opened: *rebuilt' reindex "${mb[@]}"
expect_output 'opened: *loaded' reindex "${mb[@]}"
: >"$calendar/_CHANGE.DTY"
expect_output 'dirty_markers_removed: *1' reindex "${mb[@]}"
[ ! -e "$calendar/_CHANGE.DTY" ]
check $? "marker left"
configure 1
: >"$calendar/_CHANGE.DTY"
expect_output 'opened: *rebuilt' reindex "${mb[@]}"
expect_output 'opened: *loaded' reindex "${mb[@]}"

# Properties through the index.
expect_output 'value: *Hello' props get "${mb[@]}" --id A1 --name pr_subject
expect_output 'index_text: *0[[:space:]]*$' props set "${mb[@]}" --id a1 --name PR_START_DATE \
    --value 1970-01-01T00:00:00Z
expect_output 'seconds: *0[[:space:]]*$' props get "${mb[@]}" --id a1 --name PR_BNP_START
expect_output 'index_text: *2147483648' props set "${mb[@]}" --id a1 --name PR_BNP_End \
    --value 2147483648
expect_output 'value: *2038-01-19T03:14:08Z' props get "${mb[@]}" --id a1 --name PR_END_DATE
expect_output '<FINISHTIME>2147483648</FINISHTIME>' index show "${mb[@]}"
expect_output 'unknown property name' props get "${mb[@]}" --id a1 --name PR_NOTHING
expect_status 1 props get "${mb[@]}" --id nobody --name PR_SUBJECT
expect_status 2 props set "${mb[@]}" --id a1 --name PR_BNP_AllDayEvent --value yes
expect_output 'PR_BNP_Start  *STARTIME' props list

# Item-file values: a single-part item becomes multipart and reads back.
expect_status 0 props set "${mb[@]}" --id a1 --name PR_BNP_vCalendar --value BEGIN:VCALENDAR
expect_output '"value": *"old body\\r\\n"' --json props get "${mb[@]}" --id a1 --name PR_BODY
expect_output '"value": *"BEGIN:VCALENDAR\\r\\n"' --json props get "${mb[@]}" --id a1 \
    --name pr_bnp_vcalendar
grep -q 'boundary="----------677C251E373B0A"' "$calendar/a1"
check $? "no fixed boundary"

# A write that cannot make its temporary file leaves the item file whole.
cp "$calendar/a1" "$work/a1.before"
mkdir "$calendar/_a1" && : >"$calendar/_a1/inside"
expect_output 'Warning: Unable to update message body for file' --verbose props set "${mb[@]}" --id a1 \
    --name PR_BODY --value new
expect_status 1 props set "${mb[@]}" --id a1 --name PR_BODY --value new
cmp -s "$work/a1.before" "$calendar/a1"
check $? "$calendar/a1 changed"

# Names that would leave the store.
expect_status 2 reindex --mailbox .. --postoffice po
expect_status 3 reindex --mailbox nobody --postoffice po

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
