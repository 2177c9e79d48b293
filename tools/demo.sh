#!/usr/bin/env bash
# The walk-through behind './run demo': a demo store under build/, a week of appointments for two
# mailboxes, and the things an operator does with them, all through cvcal.
#
#   DEMO_CVADMIND=... DEMO_PROVIDER=... tools/demo.sh CVCAL_COMMAND... -- DEMO_FOLDER MAIL_ROOT
#
# DEMO_CVADMIND is the native cvadmind and DEMO_PROVIDER the native library it serves (the remote
# part runs natively also when cvcal is the Windows build: one wire, two builds).
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
# Each command is printed as it can be pasted into a shell: the program's path, --registry and
# every argument quoted where a shell needs it.
run() {
    printf '   $'
    printf ' %q' "${cvcal[@]}" "${registry[@]}" "$@"
    printf '\n'
    # cvcal's own messages (a refusal, say) go to standard error: kept in a log.
    "${cvcal[@]}" "${registry[@]}" "$@" 2>>"$demo/messages.log" | sed 's/^/     /'
    return "${PIPESTATUS[0]}"
}
box() {
    # Global options (--host) stay before the command.
    if [ "$1" = --host ]; then
        run "$1" "$2" "${@:3}" --mailbox "$mailbox" --postoffice example
    else
        run "$@" --mailbox "$mailbox" --postoffice example
    fi
}
# listing FOLDER: the names of its files, one a line and indented, in the order ls gives them.
listing() {
    local f
    for f in "$1"/*; do
        if [ -e "$f" ]; then printf '     %s\n' "${f##*/}"; fi
    done
}

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

say "List Tuesday through a stylesheet that sorts the latest appointment first"
cat > "$demo/latest-first.xsl" <<'XSL'
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/BASEELEMENT">
    <BASEELEMENT>
      <xsl:for-each select="ELEMENT">
        <xsl:sort select="START" data-type="number" order="descending"/>
        <xsl:copy-of select="."/>
      </xsl:for-each>
    </BASEELEMENT>
  </xsl:template>
</xsl:stylesheet>
XSL
box list --from 2026-12-08T00:00Z --to 2026-12-08T23:59Z --xsl "$demo/latest-first.xsl"

say "List the whole week: every day from Monday to Friday"
box list --from 2026-12-07 --to 2026-12-11

say "The review's item file, read back in chunks"
box item get --id anna-review

say "Move the review half an hour later"
box edit --id anna-review --period Y26M12D08 --new-start 2026-12-08T14:30Z --new-end 2026-12-08T16:00Z

say "Find the review by its id alone, then walk its day (Tuesday's period file)"
box find --id anna-review
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

say "Remote mode: a second store, served by cvadmind on loopback"
remote="$demo/remote-store"
mkdir -p "$remote/example/MAILROOT/carol"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\n"Mail Root"="%s"\n' \
    "$remote" > "$demo/server.reg"
# It holds the service's credentials: cvadmind reads it only when it is its owner's alone.
(umask 077 && printf 'credentials = demo-secret\nprotocol = PLAIN\nlibrary = CVAICP.DLL %s\n' \
    "$DEMO_PROVIDER" > "$demo/cvadmind.conf") && chmod 600 "$demo/cvadmind.conf"
CVAICP_REGISTRY="$demo/server.reg" "$DEMO_CVADMIND" --config "$demo/cvadmind.conf" \
    --listen 127.0.0.1:0 --port-file "$demo/port" 2> "$demo/cvadmind.log" &
service=$!
trap 'kill $service 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.1; done
port=$(cat "$demo/port")
printf '   cvadmind (the service) listens on 127.0.0.1:%s and serves %s\n' "$port" "$remote"
printf '   (the credentials come from standard input, out of sight of ps and the history)\n'
printf 'demo-secret\n' |
    run config host far --address 127.0.0.1 --port "$port" --credentials-file - --protocol PLAIN
mailbox=carol
box --host far add --id carol-call --subject "Call with anna" \
    --start 2026-12-09T16:00Z --end 2026-12-09T16:30Z
box --host far walk --period Y26M12D09
printf '   on the second store, written by the service:\n'
listing "$remote/example/MAILROOT/carol/Calendar"
kill "$service"
wait "$service" 2>/dev/null || true
trap - EXIT
printf '   the service'"'"'s log:\n'
sed 's/^/     /' "$demo/cvadmind.log"
printf '   (cvcal'"'"'s messages of these calls are in %s)\n' "$demo/messages.log"

say "What is on disk"
listing "$demo/store/example/MAILROOT/anna/Calendar"

printf '\n%sSummary%s: %d appointments added for 2 mailboxes, 1 read, 1 edited, 1 duplicate refused,\n' \
    "$bold" "$plain" "$added"
printf '1 removed, 1 added remotely; the stores are in %s and %s.\n' "$demo/store" "$remote"
