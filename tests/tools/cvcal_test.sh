#!/usr/bin/env bash
# cvcal as a person uses it, on a fresh store: the commands, their output and exit statuses, the
# calendar index commands among them. Usage: cvcal_test.sh CVCAL
set -uo pipefail
cvcal=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/store/po/MAILROOT/anna"
failures=0 checks=0
mb=(--mailbox anna --postoffice po)
D=2026-12-07T E=2026-12-09T  # the days of most appointments
c() { "$cvcal" --registry "$work/r.reg" "$@"; }

check() {  # STATUS MESSAGE: MESSAGE printed, and counted, when STATUS is not 0
    checks=$((checks + 1))
    [ "$1" = 0 ] || { echo "FAIL: $2"; failures=$((failures + 1)); }
}

# expect STATUS PATTERN ARGS...: cvcal ARGS exits with STATUS ('-': any) and prints PATTERN
# ('': anything). With STATUS json:N, PATTERN is a Python expression that standard output, parsed
# as JSON (bound to j), makes true.
expect() {
    local want=$1 pattern=$2 out got ok
    shift 2
    if [ "${want#json:}" != "$want" ]; then
        want=${want#json:}
        out=$(c --json "$@" 2>/dev/null)
        got=$?
        python3 -c "import json,sys; j=json.loads(sys.argv[1]); sys.exit(0 if ($pattern) else 1)" \
            "$out" 2>/dev/null
    else
        out=$(c "$@" 2>&1)
        got=$?
        [ -z "$pattern" ] || grep -q -- "$pattern" <<<"$out"
    fi
    ok=$?
    [ "$want" = - ] || [ "$got" = "$want" ] || ok=1
    check $ok "cvcal $* exited $got (expected $want), '$pattern' not in: $out"
}

expect 0 '' config set-root "$work/store"
expect 0 '' config set-waits 0
expect - '"period": *"Y26M12D07"' --json add "${mb[@]}" --id a1 --subject Hello \
    --start ${D}09:00Z --end ${D}10:00Z
expect 1 '' add "${mb[@]}" --id A1 --start ${D}09:00Z --end ${D}10:00Z
expect - 'start_seconds: *1796634000' get "${mb[@]}" --id a1 --period Y26M12D07
expect - 'Subject: Hello' item get "${mb[@]}" --id a1
expect - 'busy_days: *07' freebusy "${mb[@]}" --month 2026-12
expect - 'Y26M12' period-name --start ${D}09:00Z --end 2026-12-08T09:00Z
expect - 'a1 *Hello' list "${mb[@]}" --from ${D}00:00Z --to ${D}23:00Z
expect - '<SUBJECT>Hello</SUBJECT>' list "${mb[@]}" --from ${D}00:00Z --to ${D}23:00Z --xml
expect 2 '' edit "${mb[@]}" --id a1 --period Y26M12D07 --new-start 2026-12-08T09:00Z \
    --new-end 2026-12-08T10:00Z
expect 0 '' edit "${mb[@]}" --id a1 --period Y26M12D07 --new-start ${D}11:00Z --new-end ${D}12:00Z
expect - '"count": *1' --json walk "${mb[@]}" --period Y26M12D07
expect 0 '' remove "${mb[@]}" --id a1 --start ${D}11:00Z --end ${D}12:00Z
expect 1 '' get "${mb[@]}" --id a1 --period Y26M12D07
expect 1 '' item size "${mb[@]}" --id a1

# Wrong arguments: status 2 and one line naming the argument.
expect 2 '^cvcal: --start: ' add "${mb[@]}" --start soon --end ${D}10:00Z
expect 2 '^cvcal: --colour: unknown option' add "${mb[@]}" --colour red
expect 2 '^cvcal: --mailbox: required' walk --postoffice po --period Y
expect 2 '^cvcal: frobnicate: unknown command' frobnicate
expect 2 '' add "${mb[@]}" --start ${D}10:00Z --end ${D}09:00Z
expect 2 '' item
expect 0 '' add --help
expect 2 '' add --mailbox ../x --postoffice po --start ${D}09:00Z --end ${D}10:00Z
expect 2 '' add "${mb[@]}" --id a/b --start ${D}09:00Z --end ${D}10:00Z
expect 2 '' get "${mb[@]}" --id "$(printf 'a\tb')" --period Y26M12D07
# Nothing is silently ignored: a stray word, a single-dash option, a slip of the fingers.
expect 2 "^cvcal: add: unexpected argument '09:00'" add "${mb[@]}" --start 2026-12-07 09:00 \
    --end ${D}10:00Z
expect 2 "unexpected argument 'extra'" walk "${mb[@]}" --period Y26M12D07 extra
expect 2 '^cvcal: -x: unknown option' walk "${mb[@]}" -x --period Y26M12D07
expect 2 "did you mean '--period'" walk "${mb[@]}" --perid Y26M12D07
expect 2 "did you mean 'walk'" wlak "${mb[@]}"
expect 2 'not a period name' walk "${mb[@]}" --period Y26M13D07
expect 2 'not a period name' walk "${mb[@]}" --period Y26M02D30
expect 0 '' walk "${mb[@]}" --period Y5
expect 2 'not an absolute path' config set-root store
expect - 'usage: cvcal .* add OPTIONS' help add
expect json:2 'j["error"]["kind"] == "usage"' walk "${mb[@]}"

# Failures that would look like an empty calendar: each names its cause, with its own status.
printf 'plain text\n' >"$work/notes.txt"
expect json:3 'j["error"]["code"] == 3 and "not found" in j["error"]["message"]' \
    --registry "$work/none.reg" walk "${mb[@]}" --period Y26M12D07
expect 3 '' --registry "$work" walk "${mb[@]}" --period Y26M12D07
expect 3 '' --registry "$work/notes.txt" config set-root "$work/store"
expect 3 '' --registry /dev/null config set-root "$work/store"
[ "$(cat "$work/notes.txt")" = "plain text" ]
check $? "notes.txt changed"
expect - 'postoffice folder not found' walk --mailbox anna --postoffice px --period Y26M12D07
expect - 'mailbox folder not found' freebusy --mailbox bob --postoffice po --month 2026-12
expect json:3 'j["error"]["kind"] == "mailbox-not-found"' walk --mailbox bob --postoffice po \
    --period Y
printf 'Windows Registry Editor Version 5.00\n' >"$work/empty.reg"
expect - 'no mail root' --registry "$work/empty.reg" walk "${mb[@]}" --period Y26M12D07
expect 2 '' --host far freebusy "${mb[@]}" --month 2026-12
expect - 'no such host configured' --host far walk "${mb[@]}" --period Y26M12D07
expect 0 '' config host gone --address 127.0.0.1 --port 1
expect json:4 'j["error"]["code"] == 4' --host gone walk "${mb[@]}" --period Y26M12D07
expect 2 '' config host gone --address 127.0.0.1 --protocol NTLM

# False successes: look first, say what was not there.
expect 1 '' edit "${mb[@]}" --id ghost --period Y26M12D07 --new-start ${D}09:00Z \
    --new-end ${D}10:00Z
expect 1 '' item delete "${mb[@]}" --id ghost
c add "${mb[@]}" --id e1 --start ${E}09:00Z --end ${E}10:00Z >/dev/null
c add "${mb[@]}" --id e2 --start ${E}11:00Z --end ${E}12:00Z >/dev/null
expect 1 '' edit "${mb[@]}" --id e1 --period Y26M12D09 --new-start ${E}09:00Z \
    --new-end ${E}10:00Z --new-id e2
expect - 'id: *e3' edit "${mb[@]}" --id e1 --period Y26M12D09 --new-start ${E}09:00Z \
    --new-end ${E}10:00Z --new-id e3
expect - 'X-StartTime' item get "${mb[@]}" --id e3
# An edit keeps the item's headers with the line; a property set shows in the list.
c edit "${mb[@]}" --id e3 --period Y26M12D09 --new-start ${E}13:00Z --new-end ${E}14:00Z \
    --subject "Größe" --location "Raum 1" >/dev/null
expect - 'X-StartTime: 13:00:00 09 Dec, 2026' item get "${mb[@]}" --id e3
expect - 'Subject: Größe' item get "${mb[@]}" --id e3
c props set "${mb[@]}" --id e3 --name PR_SUBJECT --value Anders >/dev/null
expect json:0 '[a["subject"] for a in j["appointments"] if a["id"] == "e3"] == ["Anders"] and
    all(a["location"] is None for a in j["appointments"] if a["id"] == "e2")' \
    list "${mb[@]}" --from ${E}00:00Z --to ${E}23:00Z
expect json:0 'j["appointments"][0]["period"] == "Y26M12D09"' find --id E3 "${mb[@]}"
expect 1 '' find "${mb[@]}" --id ghost

# Times as people mean them.
expect 2 '^cvcal: --start: ' period-name --start 2026-02-30 --end ${D}10:00Z
expect 2 '' freebusy "${mb[@]}" --month 1969-12
expect - "Y$(date +%y)M$(date +%m)D$(date +%d)" period-name --start today --end today
TZ=America/New_York expect - 'Y26M12D07' period-name --start ${D}21:00 --end ${D}22:00
expect json:0 'j["count"] == 2 and j["days"] == 3' list "${mb[@]}" --from 2026-12-07 --to 2026-12-09
expect json:0 'j["busy_days"] == [9]' freebusy "${mb[@]}" --month 2026-12
expect json:0 'j["start"].endswith("+00:00")' get "${mb[@]}" --id e2 --period Y26M12D09
expect json:0 'j["data_directory"] is None and j["apply_timeout"] == 0' config show
# The library beside cvcal is of the same build; a file that is no library names no version.
expect json:0 'j["library_version"] == j["version"] != ""' config show
expect json:0 'j["library_version"] is None' --library "$work/r.reg" config show

# Conventions: --version, global options after the command, the default registry file.
expect - '^cvcal [0-9]' --version
expect 0 '' walk "${mb[@]}" --period Y26M12D09 --registry "$work/r.reg" --json
HOME="$work/home" CVAICP_REGISTRY="" "$cvcal" config set-root /x >/dev/null 2>&1
[ -f "$work/home/.config/cvaicp/store.reg" ]
check $? "no default file"
printf 'Windows Registry Editor Version 5.00\n\n; kept\n' >"$work/kept.reg"
c --registry "$work/kept.reg" config set-waits 1 >/dev/null
grep -q '^; kept' "$work/kept.reg"
check $? "comment lost"
# A .reg file as regedit exports it (UTF-16LE with a byte-order mark) is read, and stays so; a
# root given with a separator at its end is kept without it.
printf '\xff\xfe' >"$work/regedit.reg"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\r\n"Mail Root"="%s/"\r\n' \
    "$work/store" | iconv -f UTF-8 -t UTF-16LE >>"$work/regedit.reg"
expect 0 '' walk --registry "$work/regedit.reg" "${mb[@]}" --period Y26M12D09
c --registry "$work/regedit.reg" config set-root "$work/store/" >/dev/null
[ "$(head -c 2 "$work/regedit.reg" | od -An -tx1 | tr -d ' ')" = fffe ] &&
    iconv -f UTF-16LE -t UTF-8 "$work/regedit.reg" | tr -d '\r' | grep -qx "\"Mail Root\"=\"$work/store\""
check $? "the regedit file was not kept in UTF-16LE, or the root kept its separator"

# The index commands on a new mailbox, in "Calendar ReIndex Mode" 0 (the index layer's tests
# cover the modes, the markers and the item-file values; here, what cvcal makes of them).
mkdir -p "$work/store/po/MAILROOT/ivan"
mb=(--mailbox ivan --postoffice po)
calendar="$work/store/po/MAILROOT/ivan/Calendar"
printf 'old body\r\n' >"$work/body"
expect 0 '' add "${mb[@]}" --id a1 --subject Hello --start ${D}09:00Z --end ${D}10:00Z \
    --body-file "$work/body"
expect - 'opened: *rebuilt' reindex "${mb[@]}"
expect - 'opened: *loaded' reindex "${mb[@]}"
: >"$calendar/_CHANGE.DTY"
expect - 'dirty_markers_removed: *1' reindex "${mb[@]}"
expect - 'value: *Hello' props get "${mb[@]}" --id A1 --name pr_subject
expect - 'index_text: *2147483648' props set "${mb[@]}" --id a1 --name PR_BNP_End --value 2147483648
expect - 'value: *2038-01-19T03:14:08Z' props get "${mb[@]}" --id a1 --name PR_END_DATE
expect - 'seconds: *1796634000[[:space:]]*$' props get "${mb[@]}" --id a1 --name PR_BNP_START
# Both start names write the one start field.
expect - 'index_text: *0[[:space:]]*$' props set "${mb[@]}" --id a1 --name PR_START_DATE \
    --value 1970-01-01T00:00:00Z
expect - 'seconds: *0[[:space:]]*$' props get "${mb[@]}" --id a1 --name PR_BNP_START
expect - '<FINISHTIME>2147483648</FINISHTIME>' index show "${mb[@]}"
expect - 'unknown property name' props get "${mb[@]}" --id a1 --name PR_NOTHING
expect 1 '' props get "${mb[@]}" --id nobody --name PR_SUBJECT
expect 2 '' props set "${mb[@]}" --id a1 --name PR_BNP_AllDayEvent --value yes
expect - 'PR_BNP_Start  *STARTIME' props list
expect 0 '' props set "${mb[@]}" --id a1 --name PR_BNP_vCalendar --value BEGIN:VCALENDAR
expect - '"value": *"old body\\r\\n"' --json props get "${mb[@]}" --id a1 --name PR_BODY
# A write that cannot make its temporary file says so, fails, and leaves the item file whole.
cp "$calendar/a1" "$work/a1.before"
mkdir "$calendar/_a1" && : >"$calendar/_a1/inside"
expect 1 'the library says: Warning: Unable to update message body for file' --verbose props set "${mb[@]}" \
    --id a1 --name PR_BODY --value new
cmp -s "$work/a1.before" "$calendar/a1"
check $? "the item file changed under a failed write"
# Without --verbose the library's diagnostics are not shown; with it, the file that kept them goes.
out=$(c props set "${mb[@]}" --id a1 --name PR_BODY --value new 2>&1)
! grep -q 'Unable to update' <<<"$out"
check $? "the library's diagnostics shown without --verbose: $out"
mkdir "$work/tmp"
TMPDIR=$work/tmp c --verbose props set "${mb[@]}" --id a1 --name PR_BODY --value new 2>/dev/null
[ -z "$(ls -A "$work/tmp")" ]
check $? "cvcal --verbose left $(ls "$work/tmp") behind"
expect 2 '' reindex --mailbox .. --postoffice po
expect 3 '' reindex --mailbox nobody --postoffice po

# Secrets at rest: a .reg file holding credentials is its owner's alone from the first one on,
# through later rewrites, and the owner is told once; cvadmind reads no configuration or
# credentials file that others may read or change (it then stops at the bad --listen instead).
mode() { stat -c %a "$1"; }
umask 022
for step in "host open --address 127.0.0.1" "host far2 --address 127.0.0.1 --credentials x" \
    "set-waits 1" "host far3 --address 127.0.0.1 --credentials y"; do
    read -ra words <<<"$step"
    out=$("$cvcal" --registry "$work/s.reg" config "${words[@]}" 2>&1)
    case $step in
    *open*) want="644 0" ;;
    *far2*) want="600 1" ;;
    *) want="600 0" ;;
    esac
    check "$([ "$(mode "$work/s.reg") $(grep -c 'mode 600' <<<"$out")" = "$want" ]; echo $?)" \
        "after config $step the .reg file is $(mode "$work/s.reg"), said: $out"
done
cvadmind=$(dirname "$cvcal")/cvadmind
if [ -x "$cvadmind" ]; then
    printf 'secret\n' >"$work/cred" && ln -s "$work/conf" "$work/conf-link"
    for setup in "644 600 can be read or changed" "600 640 can be read or changed" \
        "600 600 --listen" "600 606 can be read or changed"; do
        read -r conf_mode cred_mode want <<<"$setup"
        printf 'credentials-file = %s\n' "$work/cred" >"$work/conf"
        chmod "$conf_mode" "$work/conf" && chmod "$cred_mode" "$work/cred"
        out=$("$cvadmind" --config "$work/conf-link" --listen bad 2>&1)
        check "$([ $? = 2 ] && grep -q -- "$want" <<<"$out" &&
            { [ "$want" = --listen ] || grep -q "chmod 600" <<<"$out"; }; echo $?)" \
            "cvadmind with modes $conf_mode/$cred_mode said: $out"
    done
fi

# iCalendar files in and out (native builds only, whose --help lists the commands).
if c --help | grep -q '^  import '; then
    export TZ=UTC
    mkdir -p "$work/store/po/MAILROOT/cal" "$work/store/po/MAILROOT/copy"
    mb=(--mailbox cal --postoffice po) copy=(--mailbox copy --postoffice po)
    calendar="$work/store/po/MAILROOT/cal/Calendar"
    w=IC2428BC0955EF24A43141463389E413C0  # the master id of weekly@example
    ics() {  # FILE SUMMARY COUNT: a weekly object less one instance, and a one-off
        printf '%s\r\n' BEGIN:VCALENDAR VERSION:2.0 PRODID:-//t//EN BEGIN:VEVENT \
            UID:weekly@example DTSTAMP:20261201T120000Z DTSTART:20261207T090000Z \
            DTEND:20261207T100000Z "RRULE:FREQ=WEEKLY;COUNT=$3" EXDATE:20261214T090000Z \
            "SUMMARY:$2" END:VEVENT BEGIN:VEVENT UID:once@example DTSTAMP:20261201T120000Z \
            DTSTART:20261209T130000Z DURATION:PT1H SUMMARY:Once END:VEVENT END:VCALENDAR >"$1"
    }
    snapshot() { (cd "$1" && for f in *; do printf '%s ' "$f" && cksum <"$f"; done); }
    ics "$work/a.ics" Weekly 4
    expect json:0 'j["added"] == 2 and j["refused"] == 0' import "$work/a.ics" "${mb[@]}" \
        --horizon 36500
    before=$(snapshot "$calendar")
    expect json:0 'j["unchanged"] == 2 and j["added"] + j["replaced"] == 0' import - "${mb[@]}" \
        --horizon 36500 <"$work/a.ics"
    [ "$before" = "$(snapshot "$calendar")" ]
    check $? "importing the same file again changed the Calendar folder"
    # 12-07 (the master), 12-21 and 12-28; 12-14 is excluded.
    expect json:0 'j["busy_days"] == [7, 9, 21, 28]' freebusy "${mb[@]}" --month 2026-12
    expect json:0 'j["count"] == 1' find "${mb[@]}" --id $w-1798448400
    expect - "$w-1797843600 *Weekly" list "${mb[@]}" --from 2026-12-21 --to 2026-12-21
    expect - 'X-CVOccurrenceOf: IC2428BC' item get "${mb[@]}" --id $w-1797843600

    # A host's appointment exports as a VEVENT; the export imported elsewhere exports the same.
    c add "${mb[@]}" --id host1 --subject Host --start ${E}09:00Z --end ${E}10:00Z >/dev/null
    expect 0 '' export "${mb[@]}" --output "$work/out.ics"
    tr -d '\r' <"$work/out.ics" | grep -qx 'UID:host1'
    check $? "the host's appointment is not in the export"
    expect - '^RRULE:FREQ=WEEKLY;COUNT=4' export "${mb[@]}" --from 2026-12-21 --to 2026-12-21
    expect json:0 'j["added"] == 3' import "$work/out.ics" "${copy[@]}" --horizon 36500
    [ "$(c export "${mb[@]}")" = "$(c export "${copy[@]}")" ]
    check $? "the copied mailbox exports other objects"
    expect json:0 'j["unchanged"] == 3' import "$work/out.ics" "${copy[@]}" --horizon 36500
    expect json:0 'j["objects"] == 1' export "${mb[@]}" --from 2026-12-28 --to 2026-12-31
    # Sent back to its own mailbox, the host's appointment is replaced, not doubled.
    expect json:0 'j["replaced"] == 1 and j["unchanged"] == 2' import "$work/out.ics" "${mb[@]}" \
        --horizon 36500
    expect 1 '' find "${mb[@]}" --id host1
    expect json:0 'j["objects"] == 3' export "${mb[@]}"

    # A changed object replaces every occurrence: 12-07 and 12-21 stay, 12-28 goes.
    ics "$work/b.ics" Changed 3
    expect json:0 'j["replaced"] == 1 and j["unchanged"] == 1' import "$work/b.ics" "${mb[@]}" \
        --horizon 36500
    expect 1 '' find "${mb[@]}" --id $w-1798448400
    [ "$(find "$calendar" -mindepth 1 -maxdepth 1 -name "$w-*" | wc -l)" = 1 ]
    check $? "occurrences of the old object were left behind"
    expect - 'Subject: Changed' item get "${mb[@]}" --id $w-1797843600

    # Refusals: an object without DTSTART, an id whose item belongs to another UID; bad files.
    printf '%s\r\n' BEGIN:VCALENDAR BEGIN:VEVENT UID:x END:VEVENT END:VCALENDAR >"$work/x.ics"
    expect json:1 'j["refused"] == 1 and j["refusals"][0]["uid"] == "x"' import "$work/x.ics" \
        "${mb[@]}"
    printf 'X-AppointmentUID: other\r\n\r\n' >"$work/other"
    c item put "${copy[@]}" --id $w --file "$work/other" >/dev/null
    expect json:1 'j["refused"] == 1 and j["refusals"][0]["uid"] == "weekly@example"' import \
        "$work/b.ics" "${copy[@]}"
    cmp -s "$work/other" "$work/store/po/MAILROOT/copy/Calendar/$w"
    check $? "a colliding item was overwritten"
    printf 'no calendar\n' >"$work/bad.ics"
    expect 2 'bad.ics' import "$work/bad.ics" "${mb[@]}"
    expect 2 '' import "${mb[@]}"
    expect 2 '' import "$work/a.ics" "${mb[@]}" --horizon 36501
    expect 2 '' --host far export "${mb[@]}"

    # A roll on the day of the import changes nothing, of one mailbox or of all.
    before=$(snapshot "$calendar")
    expect json:0 'j["mailboxes"] == 1 and j["objects"] == 0' roll "${mb[@]}" --horizon 36500
    expect json:0 'j["mailboxes"] == 4 and j["failed"] == 0' roll --all --horizon 36500
    [ "$before" = "$(snapshot "$calendar")" ]
    check $? "a roll on the day of the import changed the Calendar folder"
    expect 2 '' roll --all "${mb[@]}"
    expect 2 '' roll --back x "${mb[@]}"
fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
