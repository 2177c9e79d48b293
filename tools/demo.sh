#!/usr/bin/env bash
# The walk-through behind './run demo': a demo store under build/, a week of appointments for two
# mailboxes, and the things an operator does with them, all through cvcal.
#
#   tools/demo.sh CVCAL_COMMAND... -- DEMO_FOLDER MAIL_ROOT_AS_THE_LIBRARY_SEES_IT
#
# The command may be more than one word (under Wine: the runner, then cvcal.exe). Natively the
# configuration is a .reg file in the demo folder; the Windows build keeps it in the registry.
set -euo pipefail

cvcal=()
while [ "$1" != "--" ]; do cvcal+=("$1"); shift; done
shift
demo=$1 root=$2

registry=()
where="the registry"
if [ "${cvcal[0]##*/}" = cvcal ]; then
    registry=(--registry "$demo/demo.reg")
    where="$demo/demo.reg"
fi
rm -rf "$demo"
mkdir -p "$demo/store/example/MAILROOT/anna" "$demo/store/example/MAILROOT/ben"

bold=$'\e[1m' plain=$'\e[0m'
[ -t 1 ] || { bold=""; plain=""; }
step=0
say() { step=$((step + 1)); printf '\n%s%d. %s%s\n' "$bold" "$step" "$*" "$plain"; }
run() {
    printf '   $ cvcal %s\n' "$*"
    "${cvcal[@]}" "${registry[@]}" "$@" | sed 's/^/     /'
    return "${PIPESTATUS[0]}"
}
box() { run "$@" --mailbox "$mailbox" --postoffice example; }

say "A new store: the mail root and short waits go into $where"
run config set-root "$root"
run config set-waits 2

say "A week of appointments for anna and ben (UTC times, 7 to 11 December 2026)"
added=0
for mailbox in anna ben; do
    for day in 07 08 09 10 11; do
        "${cvcal[@]}" "${registry[@]}" add --mailbox "$mailbox" --postoffice example \
            --id "$mailbox-standup-$day" --subject "Stand-up" --location "Room 1" \
            --start "2026-12-${day}T09:00Z" --end "2026-12-${day}T09:15Z" >/dev/null
        added=$((added + 1))
    done
    printf '   added the stand-ups of %s, Monday to Friday\n' "$mailbox"
done
mailbox=anna
printf 'Agenda for the review:\n- figures\n- next steps\n' > "$demo/review.txt"
box add --id anna-review --subject "Quarterly review" --location "Board room" \
    --start 2026-12-08T14:00Z --end 2026-12-08T15:30Z --body-file "$demo/review.txt"
box add --id anna-offsite --subject "Offsite" --location "Lakeside" \
    --start 2026-12-10T08:00Z --end 2026-12-11T17:00Z
added=$((added + 2))

say "Read one back"
box get --id anna-review --start 2026-12-08T14:00Z --end 2026-12-08T15:30Z

say "The review's item file, read back in chunks"
box item get --id anna-review

say "Move the review half an hour later"
box edit --id anna-review --period Y26M12D08 --new-start 2026-12-08T14:30Z --new-end 2026-12-08T16:00Z

say "Walk one day (Tuesday's period file)"
box walk --period Y26M12D08

say "Adding the same id twice is refused (exit status 1)"
if box add --id anna-review --start 2026-12-08T14:30Z --end 2026-12-08T16:00Z; then
    echo "   unexpected: the duplicate was added" >&2
    exit 1
fi

say "Free/busy for December: days with appointments of their own (the offsite spans two days)"
box freebusy --month 2026-12

say "Ben cancels Friday's stand-up"
mailbox=ben
box remove --id ben-standup-11 --period Y26M12D11
box freebusy --month 2026-12

say "What is on disk"
(cd "$demo/store/example/MAILROOT/anna/Calendar" && ls -1 | sed 's/^/     /')

printf '\n%sSummary%s: %d appointments added for 2 mailboxes, 1 read, 1 edited, 1 duplicate refused,\n' \
    "$bold" "$plain" "$added"
printf '1 removed; the store is in %s.\n' "$demo/store"
