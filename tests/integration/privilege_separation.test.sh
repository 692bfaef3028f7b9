#!/usr/bin/env bash
# The daemon's two processes: the root monitor (the pid file's process) holds
# no milter connection; the filter process that serves, a program of its
# own holding none of the monitor's descriptors but its three, runs without root,
# without capabilities, with no_new_privs and a seccomp filter. A filter
# process killed by SIGSEGV, or by its filter for a forbidden system call,
# is replaced (one LOG_CRIT line naming the signal) and the next message is
# scanned again, without Sendmail being restarted or sendmail.cf touched;
# the sixth death within a minute stops the daemon with status 1, cleaning up
# as a normal stop does (pid file, socket, Sendmail's files). A rule file
# the filter's user cannot read at SIGUSR1 keeps the copies in force, and is
# reported at start.
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

mkdir -p /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd
cat > /etc/mail/teslo/teslo.xml <<'XML'
<?xml version="1.0"?>
<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">
<teslo>
  <rule title="t"><domain>rcpt.test</domain><mailaddr>archive@archive.test</mailaddr><direction>R</direction></rule>
</teslo>
XML

# The serving process: the monitor's child named teslo-filter.
filter_pid() { pgrep -P "$SANDBOX_TESLO_PID" -x teslo-filter; }
status_field() { awk -v key="$2:" '$1 == key { $1 = ""; print substr($0, 2) }' "/proc/$1/status"; }
scanned() { qf_has_header 'X-Mail-Scan-By: KORVAL ver 0.2a5' "$(qf_for_id "$(smtp_queue_id)")"; }
cf_sum() { md5sum < /etc/mail/sendmail.cf; }
mc_sum() { md5sum < /etc/mail/brin.mc; }
# sendmail.cf without its comments, which m4 stamps with the time it ran.
cf_lines_sum() { grep -v '^#' /etc/mail/sendmail.cf | md5sum; }

# ------------------------------------------------------------------------
test_case "the serving process has no privilege; the monitor no connection"
sandbox_start_mail_system 'spf eject' || { fail "daemon and Sendmail start"; sandbox_finish; }
filter="$(filter_pid)"
assert_ok "a filter process runs" test -n "$filter"
for field in Uid Gid; do
  assert_not "$field is not root's" grep -Eq '(^|[[:space:]])0([[:space:]]|$)' <<< "$(status_field "$filter" "$field")"
done
gid="$(status_field "$filter" Gid | awk '{ print $1 }')"
assert_eq "no supplementary group but its own" "$gid" "$(status_field "$filter" Groups | xargs)"
assert_eq "CapPrm 0" 0000000000000000 "$(status_field "$filter" CapPrm)"
assert_eq "CapEff 0" 0000000000000000 "$(status_field "$filter" CapEff)"
assert_eq "NoNewPrivs 1" 1 "$(status_field "$filter" NoNewPrivs)"
assert_eq "Seccomp 2 (filter)" 2 "$(status_field "$filter" Seccomp)"
assert_eq "the monitor runs as root" 0 "$(status_field "$SANDBOX_TESLO_PID" Uid | awk '{ print $1 }')"
python3 -c 'import socket, time
s = socket.socket(socket.AF_UNIX); s.connect("/var/run/teslo.sock"); time.sleep(3)' &
holder=$!
wait_until 2 eval 'ss -xpn | grep -q "teslo.sock.*pid=$filter,"'
assert_ok "the filter process holds the connection" eval 'ss -xpn | grep -v LISTEN | grep -q "teslo.sock.*pid=$filter,"'
assert_not "the monitor holds no milter connection" \
  eval 'ss -xpn | grep -v LISTEN | grep -q "teslo.sock.*pid=$SANDBOX_TESLO_PID,"'
wait "$holder"
send_mail --from a@sender.test --to x@rcpt.test
assert_accepted
assert_ok "the message was scanned" scanned

# ------------------------------------------------------------------------
test_case "the filter process is its own program and holds nothing of the monitor's"
pipes_of() { find "/proc/$1/fd" -lname 'pipe:*' -printf '%l\n' 2> /dev/null | sort -u; }
assert_eq "its executable is teslo-filter beside the daemon" \
  "$(dirname "$(readlink "/proc/$SANDBOX_TESLO_PID/exe")")/teslo-filter" "$(readlink "/proc/$filter/exe")"
assert_eq "one pipe shared with the monitor (the reload pipe's read end)" 1 \
  "$(comm -12 <(pipes_of "$filter") <(pipes_of "$SANDBOX_TESLO_PID") | wc -l)"
assert_not "no file of the monitor's open (pid file, configuration)" \
  eval "find /proc/$filter/fd -lname '/*' -printf '%l\n' | grep -v '^/dev/null$'"

# ------------------------------------------------------------------------
test_case "SIGSEGV: one LOG_CRIT, a new filter process, mail scanned again"
cf_before="$(cf_sum)"
restarts_before="$(init_call_count restart)"
sendmail_before="$(sandbox_sendmail_pid)"
log_mark
kill -SEGV "$filter"
send_mail --from a@sender.test --to x@rcpt.test
assert_accepted
assert_ok "the next message was scanned" scanned
assert_eq "one LOG_CRIT naming the signal" 1 \
  "$(log_count mail.crit "filter process $filter ended by signal SIGSEGV; a new one takes over")"
new_filter="$(filter_pid)"
assert_ok "a new filter process serves" test -n "$new_filter" -a "$new_filter" != "$filter"
assert_eq "sendmail.cf not touched" "$cf_before" "$(cf_sum)"
assert_eq "Sendmail not restarted" "$restarts_before" "$(init_call_count restart)"
assert_eq "Sendmail still the same process" "$sendmail_before" "$(sandbox_sendmail_pid)"
assert_eq "the monitor is still the pid file's process" "$SANDBOX_TESLO_PID" "$(cat /var/run/teslo.pid)"

# ------------------------------------------------------------------------
test_case "an unreadable rule file at SIGUSR1 keeps the copies"
chmod 000 /etc/mail/teslo/teslo.xml
log_mark
kill -USR1 "$SANDBOX_TESLO_PID"
assert_log_re mail.crit 'XML configure error:cannot read /etc/mail/teslo/teslo.xml: Permission denied; the rules in force stay'
assert_log mail.info 'TESLO reload'
send_mail --from a@sender.test --to x@rcpt.test
assert_recipients "the copy recipient stays" '<x@rcpt.test> archive@archive.test' "$(qf_for_id "$(smtp_queue_id)")"
sandbox_stop_mail_system

# ------------------------------------------------------------------------
test_case "start: a warning for a file the filter's user cannot read"
log_mark
sandbox_start_mail_system 'spf eject' || { fail "daemon and Sendmail start"; sandbox_finish; }
assert_log_re mail.warning '/etc/mail/teslo/teslo.xml cannot be read by user [a-z]+: Permission denied'
chmod 644 /etc/mail/teslo/teslo.xml

# ------------------------------------------------------------------------
test_case "a forbidden system call: SIGSYS, one LOG_CRIT, mail scanned again"
sandbox_stop_mail_system
log_mark
TESLO_BIN="$TESLO_TRIGGER_BIN" sandbox_start_mail_system 'spf eject' \
  || { fail "daemon with test triggers starts"; sandbox_finish; }
filter="$(filter_pid)"
send_mail --from a@sender.test --to x@rcpt.test --helo forbidden-call.trigger.test
send_mail --from a@sender.test --to x@rcpt.test
assert_accepted
assert_ok "the next message was scanned" scanned
assert_eq "one LOG_CRIT naming the signal" 1 \
  "$(log_count mail.crit "filter process $filter ended by signal SIGSYS; a new one takes over")"

# ------------------------------------------------------------------------
test_case "the sixth death within a minute stops the daemon as a normal stop does"
sandbox_stop_mail_system
# What a normal stop leaves of Sendmail's files and calls, to compare with.
sandbox_start_mail_system 'spf eject' || { fail "daemon and Sendmail start"; sandbox_finish; }
reloads="$(init_call_count reload)"
sandbox_stop_teslo > /dev/null
assert_eq "a normal stop ends with status 0" 0 "$?"
normal_cf="$(cf_lines_sum)" normal_mc="$(mc_sum)" normal_reloads="$(($(init_call_count reload) - reloads))"
sandbox_stop_sendmail

sandbox_start_mail_system 'spf eject' || { fail "daemon and Sendmail start"; sandbox_finish; }
reloads="$(init_call_count reload)"
log_mark
for round in 1 2 3 4 5; do
  filter="$(filter_pid)"
  kill -KILL "$filter"
  assert_log mail.crit "filter process $filter ended by signal SIGKILL; a new one takes over"
  assert_ok "death $round: a new filter process serves" \
    wait_until 3 eval '[ -n "$(filter_pid)" ] && [ "$(filter_pid)" != "$filter" ]'
done
filter="$(filter_pid)"
kill -KILL "$filter"
assert_eq "the sixth death: exit status 1" 1 "$(sandbox_wait_teslo_exit 10)"
assert_log mail.crit "filter process $filter ended by signal SIGKILL; more than 5 within 60 s, stopping"
assert_eq "five replacements, no sixth" 5 "$(log_texts mail.crit | grep -c 'a new one takes over$')"
assert_log mail.notice "KORVAL $TESLO_VERSION exiting"
assert_not "pid file removed" test -e /var/run/teslo.pid
assert_not "socket removed" test -e /var/run/teslo.sock
assert_eq "sendmail.cf as a normal stop leaves it" "$normal_cf" "$(cf_lines_sum)"
assert_eq "brin.mc as a normal stop leaves it" "$normal_mc" "$(mc_sum)"
assert_eq "Sendmail asked to reload as at a normal stop" "$normal_reloads" \
  "$(($(init_call_count reload) - reloads))"
assert_not "the filter is out of sendmail.cf" grep -q '^XTESLO' /etc/mail/sendmail.cf

sandbox_finish
