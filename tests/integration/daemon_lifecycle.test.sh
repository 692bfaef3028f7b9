#!/usr/bin/env bash
# The daemon's start-up, main loop and shutdown, seen from outside: it
# detaches, and the launching command returns only once the pid file is
# written and the socket listens; it clears a stale socket, creates its
# socket owner-only, logs as KORVAL with its pid to the mail facility, is
# consulted by a real Sendmail, stops cleanly on SIGTERM, SIGINT and SIGHUP
# (removing its socket), ignores its command line but for -h, --help and
# --version, and fails with the right status (of the launching command too)
# and log line when the pid file cannot be written, the listener cannot be
# created or the filter program cannot be executed.
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

readonly SOCKET=/var/run/teslo.sock PIDFILE=/var/run/teslo.pid

# F=T: Sendmail tempfails mail while it cannot reach the filter, so whether
# mail passes shows whether Sendmail reaches the daemon. Milter log level 14
# makes Sendmail log each answer of the filter.
sandbox_sendmail_config --with-filter --filter-flags T --milter-log-level 14
sandbox_start_sendmail || { fail "Sendmail starts"; sandbox_finish; }

# Leaves a socket file behind the way a crashed daemon does.
make_stale_socket() {
  "$SANDBOX_PYTHON" -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$SOCKET"
}

# Checks shared by every successful start.
check_running_daemon() {
  local pid="$SANDBOX_TESLO_PID"
  assert_match "pid file names a process" '^[0-9]+$' "$pid"
  assert_eq "pid file holds the pid and a newline" "$(printf '%s\\n' "$pid")" \
    "$(od -An -c "$PIDFILE" | tr -d ' \n')"
  assert_eq "the daemon's parent is process 1 (detached)" 1 "$(awk '{print $4}' "/proc/$pid/stat")"
  assert_eq "the daemon leads its own session" "$pid" "$(awk '{print $6}' "/proc/$pid/stat")"
  assert_eq "working directory is /" / "$(readlink "/proc/$pid/cwd")"
  assert_eq "standard input, output and error are the null device" \
    "/dev/null /dev/null /dev/null" \
    "$(readlink "/proc/$pid/fd/0") $(readlink "/proc/$pid/fd/1") $(readlink "/proc/$pid/fd/2")"
  assert_file_mode "socket is owner read/write only" "$SOCKET" srw-------
  assert_log mail.notice "KORVAL $TESLO_VERSION starting"
  assert_log mail.debug "smfi_register succeeded"
  assert_ok "log lines carry the identity KORVAL and the daemon's pid" \
    log_has_from "KORVAL\\[$pid\\]" mail.notice "KORVAL $TESLO_VERSION starting"
}

# stop_with SIGNAL: the daemon ends with status 0, logs its exit, removes
# its pid file.
stop_with() {
  local status
  sandbox_stop_teslo "$1" > /dev/null
  status=$?
  assert_eq "SIG$1 stops the daemon with status 0" 0 "$status"
  assert_log mail.notice "KORVAL $TESLO_VERSION exiting"
  assert_not "pid file removed" test -e "$PIDFILE"
  assert_not "socket removed" test -e "$SOCKET"
}

test_case "Sendmail cannot reach the filter before the daemon runs"
make_stale_socket
printf '99999\n' > "$PIDFILE"
send_mail --from sender@example.org --to rcpt@example.com
assert_refused "mail is tempfailed while the filter is unreachable" '^4[0-9][0-9] '

test_case "start: detaches, replaces stale socket and pid file"
stale_inode="$(stat -c %i "$SOCKET")"
log_mark
started="$(date +%s%N)"
sandbox_start_teslo --no-wait
launch_ms=$(( ($(date +%s%N) - started) / 1000000 ))
assert_eq "launching command exits 0" 0 "$SANDBOX_TESLO_LAUNCH_STATUS"
assert_ok "launching command returns within 2 s (${launch_ms} ms)" test "$launch_ms" -lt 2000
assert_ok "when it returns, the socket listens and the pid file names the daemon" _sandbox_teslo_ready
if wait_until 10 _sandbox_teslo_ready; then
  SANDBOX_TESLO_PID="$(sandbox_teslo_pid_from_file)"
  pass "daemon listens on $SOCKET"
else
  fail "daemon listens on $SOCKET" "$(ls -l /var/run)"
  sandbox_finish
fi
assert_not "stale pid file replaced" test "$(cat "$PIDFILE")" = 99999
assert_not "stale socket replaced by a new one" test "$(stat -c %i "$SOCKET")" = "$stale_inode"
check_running_daemon

test_case "Sendmail consults the daemon"
# The daemon restarts Sendmail a few seconds after it starts, once it
# installs itself into Sendmail's configuration; mail waits for that.
sandbox_wait_sendmail_restart 5 || true
send_mail --from sender@example.org --to rcpt@example.com
assert_accepted "mail passes once the daemon runs"
id="$(smtp_queue_id)"
for action in connect helo mail rcpt eoh body; do
  assert_ok "Sendmail logged the filter's answer to $action" \
    log_has_from 'sm-mta\[[0-9]+\]' mail.info "$id: milter=TESLO, action=$action, continue"
done
assert_ok "Sendmail logged the filter's acceptance" \
  log_has_from 'sm-mta\[[0-9]+\]' mail.info "$id: Milter accept: message"
assert_recipients "message queued for its recipient" "<rcpt@example.com>" "$(qf_for_id "$id")"

test_case "SIGTERM"
stop_with TERM

test_case "-x and -u value are ignored; SIGINT"
log_mark
sandbox_start_teslo -x -u somebody || fail "daemon starts with -x -u somebody"
check_running_daemon
stop_with INT

test_case "unknown options, a -u without value and arguments are ignored; SIGHUP"
log_mark
sandbox_start_teslo -q -z extra words -u || fail "daemon starts with unknown options"
check_running_daemon
stop_with HUP

test_case "-h, --help and --version print and exit 0 without starting"
log_mark
cp -p /etc/mail/sendmail.cf "$W/before-help.cf"
for option in -h --help --version; do
  out="$("$TESLO_BIN" "$option" 2>&1)"
  assert_eq "$option exits 0" 0 "$?"
  case "$option" in
    --version) assert_eq "--version prints the version" "teslo $TESLO_VERSION" "$out" ;;
    *) assert_match "$option prints the usage" '^usage: teslo ' "$out" ;;
  esac
done
assert_ok "sendmail.cf is untouched" cmp -s "$W/before-help.cf" /etc/mail/sendmail.cf
assert_not "no daemon started" test -e "$PIDFILE"
assert_no_log mail.notice "KORVAL $TESLO_VERSION starting"

test_case "pid file cannot be opened: exit 1"
log_mark
# An empty read-only file system over /run for the length of this start
# (Sendmail holds its pid file open, so /run itself cannot turn read-only).
mount -t tmpfs -o ro,size=64k sandbox-ro-run /run
sandbox_start_teslo --no-wait
status="$(sandbox_wait_teslo_exit 10)" || status="still running"
umount /run || umount -l /run
assert_eq "launching command exits with the daemon's status 1" 1 "$SANDBOX_TESLO_LAUNCH_STATUS"
assert_eq "daemon exits with status 1" 1 "$status"
assert_log mail.crit "Could not open pidfile : Read-only file system"
assert_no_log mail.notice "KORVAL $TESLO_VERSION starting"

test_case "listener cannot be created: exit 255 after a full shutdown"
log_mark
rm -f "$SOCKET"
mkdir -p "$SOCKET/blocker"        # a directory survives the stale-socket unlink
sandbox_start_teslo --no-wait
status="$(sandbox_wait_teslo_exit 15)" || status="still running"
assert_eq "daemon exits with status 255" 255 "$status"
assert_eq "launching command exits 255 too" 255 "$SANDBOX_TESLO_LAUNCH_STATUS"
assert_log mail.crit "smfi_main error! check socketfile or memory!(/var filesystem broken?)"
assert_log mail.notice "KORVAL $TESLO_VERSION exiting"
assert_not "pid file removed" test -e "$PIDFILE"
rm -rf "$SOCKET"

test_case "a filter program that cannot be executed: exit 127 after a full shutdown"
log_mark
# A copy of the daemon alone in a directory: no teslo-filter beside it, and
# none installed in the sandbox.
mkdir -p "$W/lonely"
cp "$TESLO_BIN" "$W/lonely/teslo"
TESLO_BIN="$W/lonely/teslo" sandbox_start_teslo --no-wait
status="$(TESLO_BIN="$W/lonely/teslo" sandbox_wait_teslo_exit 15)" || status="still running"
assert_eq "daemon exits with status 127" 127 "$status"
assert_eq "launching command exits 127 too" 127 "$SANDBOX_TESLO_LAUNCH_STATUS"
assert_log_re mail.crit "filter process cannot be executed as /usr/libexec/teslo/teslo-filter: .+"
assert_log mail.notice "KORVAL $TESLO_VERSION exiting"
assert_not "pid file removed" test -e "$PIDFILE"

sandbox_finish
