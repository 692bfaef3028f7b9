#!/usr/bin/env bash
# The daemon's self-installation into a real Sendmail whose configuration was
# generated without the filter: start-up lists the filter in sendmail.cf and
# the macro file and restarts Sendmail once, about 3 s later, which then
# consults the filter; SIGTERM takes the entries out again and reloads
# Sendmail, which passes mail unfiltered; both files come back as they were
# (apart from trailing blanks and CRs); a second start never lists the filter
# twice. The temporaries beside both files are safe against a planted
# symbolic link and a planted file of another user, and a full /etc/mail
# leaves both files untouched.
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

readonly CF=/etc/mail/sendmail.cf MC=/etc/mail/brin.mc
readonly CF_TEMP=/etc/mail/.sendmail.cf.teslo-new MC_TEMP=/etc/mail/.brin.mc.teslo-new
readonly DEFINITION='XTESLO, S=unix:/var/run/teslo.sock, F=, T=S:240s;R:240s;E:5m'
readonly MC_LINE="INPUT_MAIL_FILTER(\`TESLO', \`S=unix:/var/run/teslo.sock, F=, T=S:240s;R:240s;E:5m')dnl "

sandbox_sendmail_config || { fail "Sendmail configuration generated"; sandbox_finish; }
# Trailing blanks and CR-LF line ends, which the editors drop, on lines
# nothing else touches; a mode and group the replaced file must keep.
sed -i 's/^\(# Input mail filters\)$/\1  /; s/^\(OSTYPE(`linux.)dnl\)$/\1\r/' "$CF" "$MC"
chgrp mail "$CF" && chmod 0640 "$CF"
cp -p "$CF" "$W/original.cf"
cp -p "$MC" "$W/original.mc"
sandbox_start_sendmail || { fail "Sendmail starts"; sandbox_finish; }

# The file with trailing blanks, tabs, CRs, form and vertical feeds removed.
trimmed() { sed 's/[[:space:]]*$//' "$1"; }
# Lines of FILE that equal TEXT exactly.
count_lines() { grep -cxF -- "$2" "$1"; }
filter_lists() { grep '^O InputMailFilters' "$CF"; }
unchanged() { cmp -s "$W/original.cf" "$CF" && cmp -s "$W/original.mc" "$MC"; }
back_to_originals() {
  assert_eq "sendmail.cf is the original apart from trailing blanks and CRs" \
    "$(trimmed "$W/original.cf")" "$(cat "$CF")"
  assert_eq "brin.mc is the original apart from trailing blanks and CRs" \
    "$(trimmed "$W/original.mc")" "$(cat "$MC")"
}
entries_installed() {
  assert_eq "sendmail.cf lists the filter once" "O InputMailFilters=TESLO" "$(filter_lists)"
  assert_eq "sendmail.cf defines the filter once" 1 "$(count_lines "$CF" "$DEFINITION")"
  assert_eq "sendmail.cf carries the milter options" 4 "$(grep -c '^O Milter\.macros\.' "$CF")"
  assert_eq "brin.mc holds the filter line once" 1 "$(count_lines "$MC" "$MC_LINE")"
  assert_eq "the filter line sits right above the local mailer" "MAILER(local)dnl" \
    "$(grep -A1 -xF -- "$MC_LINE" "$MC" | tail -n 1)"
}
blocked_signals() { awk '/^SigBlk:/ {print $2}' "/proc/$1/status"; }
# Any line in which Sendmail reports an action of the filter.
consulted() { log_has_re mail.info '.*(Milter \(TESLO\)|milter=TESLO).*'; }

test_case "no filter before the daemon starts"
assert_eq "sendmail.cf lists no filter" "" "$(filter_lists)"
send_mail --from sender@example.org --to rcpt@example.com
assert_accepted "Sendmail passes mail"
assert_not "Sendmail did not consult a filter" consulted

test_case "start: the filter goes into sendmail.cf and the macro file"
old_sendmail="$(sandbox_sendmail_pid)"
started="$(date +%s%N)"
sandbox_start_teslo || { fail "daemon starts"; sandbox_finish; }
entries_installed
assert_eq "sendmail.cf keeps its mode, owner and group" "640 root mail" "$(stat -c '%a %U %G' "$CF")"
assert_eq "every line lost its trailing blanks and CRs" "" "$(grep -n '[[:space:]]$' "$CF" | head -n 3)"
assert_eq "a sendmail.cf regenerated from brin.mc defines the filter alike" "$DEFINITION" \
  "$(m4 /usr/share/sendmail/cf/m4/cf.m4 "$MC" 2> /dev/null | grep '^XTESLO')"
assert_not "no temporary file stays behind" test -e "$CF_TEMP" -o -e "$MC_TEMP"

test_case "Sendmail is restarted once, about 3 s after start-up"
if sandbox_wait_sendmail_restart 8; then
  restart_ms=$(( ($(date +%s%N) - started) / 1000000 ))
  pass "Sendmail restarted (${restart_ms} ms after the start)"
  assert_ok "not before 2.5 s (${restart_ms} ms)" test "$restart_ms" -ge 2500
else
  fail "Sendmail restarted" "$(init_calls)"
fi
sleep 2
assert_eq "restarted exactly once" 1 "$(init_call_count restart)"
new_sendmail="$(sandbox_sendmail_pid)"
assert_not "a new Sendmail process runs" test "$new_sendmail" = "$old_sendmail"
assert_eq "the restarted Sendmail blocks no signals" 0000000000000000 "$(blocked_signals "$new_sendmail")"

test_case "the restarted Sendmail consults the filter"
send_mail --from sender@example.org --to rcpt@example.com
assert_accepted "mail passes"
id="$(smtp_queue_id)"
assert_ok "Sendmail logged the header the filter added" \
  log_has_from 'sm-mta\[[0-9]+\]' mail.info "$id: Milter (TESLO) add: header: X-Mail-Scan-By: KORVAL ver 0.2a5"
assert_header "the filter marked the message" "X-Mail-Scan-By: KORVAL ver 0.2a5" "$(qf_for_id "$id")"

test_case "SIGTERM takes the filter out and reloads Sendmail"
sandbox_stop_teslo > /dev/null
assert_eq "the daemon exits 0" 0 "$?"
back_to_originals
assert_eq "sendmail.cf keeps its mode, owner and group" "640 root mail" "$(stat -c '%a %U %G' "$CF")"
assert_eq "Sendmail reloaded once" 1 "$(init_call_count reload)"
assert_eq "and not restarted again" 1 "$(init_call_count restart)"

test_case "after the reload Sendmail passes mail unfiltered"
sleep 1
wait_until 10 sandbox_sendmail_listening || fail "Sendmail listens after the reload"
log_mark
send_mail --from sender@example.org --to rcpt@example.com
assert_accepted "mail passes"
assert_not "Sendmail no longer consults the filter" consulted
assert_no_header_named "the message is not marked" X-Mail-Scan-By "$(qf_for_id "$(smtp_queue_id)")"

test_case "a second start over a configuration that still lists the filter"
sandbox_start_teslo || fail "daemon starts"
entries_installed
# SIGKILL skips the shutdown: the entries stay, as after a crash.
sandbox_stop_teslo KILL > /dev/null
entries_installed
sandbox_start_teslo || fail "daemon starts again"
entries_installed
sandbox_stop_teslo > /dev/null
back_to_originals

test_case "SIGTERM while the restart is still pending shuts down in order"
log_mark
sandbox_start_teslo || fail "daemon starts"
sleep 1
sandbox_stop_teslo > /dev/null
assert_eq "the daemon exits 0" 0 "$?"
assert_log mail.notice "KORVAL $TESLO_VERSION exiting"
back_to_originals

test_case "a symbolic link and another user's file planted at the temporary names"
printf 'victim\n' > "$W/victim"
ln -s "$W/victim" "$CF_TEMP"
printf 'planted\n' > "$MC_TEMP"
chown nobody:nogroup "$MC_TEMP" && chmod 0666 "$MC_TEMP"
ln "$MC_TEMP" /etc/mail/planted   # a second name, to read the inode later
sandbox_start_teslo || fail "daemon starts"
entries_installed
assert_eq "the link's target is untouched" victim "$(cat "$W/victim")"
assert_eq "the planted file is untouched" planted "$(cat /etc/mail/planted)"
assert_eq "sendmail.cf still belongs to root" "640 root mail" "$(stat -c '%a %U %G' "$CF")"
assert_eq "brin.mc still belongs to root" root "$(stat -c '%U' "$MC")"
ln -s "$W/victim" "$CF_TEMP"
sandbox_stop_teslo > /dev/null
back_to_originals
assert_eq "the link's target is still untouched" victim "$(cat "$W/victim")"
rm -f /etc/mail/planted

test_case "a full /etc/mail leaves both files untouched"
cp -p "$CF" "$W/original.cf"
cp -p "$MC" "$W/original.mc"
# /etc/mail on a small tmpfs holding its files, then filled up: the
# temporaries can be created but not written.
cp -a /etc/mail "$W/etc-mail-copy"
mount -t tmpfs -o size=1m sandbox-full-etc-mail /etc/mail
cp -a "$W/etc-mail-copy/." /etc/mail/
dd if=/dev/zero of=/etc/mail/filler bs=4k 2> /dev/null
files_before="$(ls -A /etc/mail)"
log_mark
sandbox_start_teslo || fail "daemon starts"
assert_ok "sendmail.cf and brin.mc are untouched after start-up" unchanged
assert_log mail.err "Sendmail.cf replace error"
assert_log mail.err "brin.mc replace error"
sandbox_wait_sendmail_restart 8 || true
log_mark
sandbox_stop_teslo > /dev/null
assert_ok "sendmail.cf and brin.mc are untouched after shutdown" unchanged
assert_eq "sendmail.cf replace errors at shutdown" 1 "$(log_count mail.err "Sendmail.cf replace error")"
assert_eq "brin.mc replace errors at shutdown" 1 "$(log_count mail.err "brin.mc replace error")"
assert_eq "no partial copy stays in /etc/mail" "$files_before" "$(ls -A /etc/mail)"
umount /etc/mail || umount -l /etc/mail

sandbox_finish
