#!/usr/bin/env bash
# A whole run of the real daemon under valgrind memcheck, inside the
# integration-test sandbox (tests/integration/lib/; needs root): start (the
# detached child is followed across daemon()'s fork), a few hundred messages
# of every kind, SIGUSR1 reloads, stop with SIGTERM. It passes when memcheck
# reports no error in any of the daemon's processes and no definitely or
# indirectly lost bytes, and the daemon ends with status 0.
#
# Messages: the milter load driver (bench/milter_driver) with every check on
# (marking headers, subject tag, two copy recipients), some abandoned with
# the abort command and some cut off by closing the connection; and through
# a real Sendmail (swaks): a clean message, a blacklisted client (refused at
# connect), a malformed recipient, an undisclosed-recipients To header
# (refused), a harmful attachment (quarantined), an IPv6 client and a client
# without SPF record.
#
# usage: sudo scripts/valgrind-run.sh [--messages N] [--build-dir DIR]
#   --messages N     load-driver messages (default 300, over 8 connections)
#   --build-dir DIR  build of the daemon and the driver (default build-valgrind,
#                    configured and built here; RelWithDebInfo)
# With TESLO_BIN set (and the load driver built beside it, in bench/) nothing
# is built. About a minute on the 2-core VM. Exit status 0 when clean.
# tests/integration/valgrind_daemon.test.sh runs it in the test command.
set -u

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MESSAGES=300
BUILD_DIR="$SOURCE_DIR/build-valgrind"
while [ $# -gt 0 ]; do
  case "$1" in
    --messages) MESSAGES="$2"; shift ;;
    --build-dir) BUILD_DIR="$2"; shift ;;
    -h | --help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "valgrind-run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then echo "valgrind-run.sh needs root (private namespaces)" >&2; exit 77; fi
  command -v valgrind > /dev/null || { echo "valgrind is not installed" >&2; exit 1; }
  if [ -z "${TESLO_BIN:-}" ]; then
    echo "== building in $BUILD_DIR"
    cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF > /dev/null || exit 1
    cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target teslo load_driver > /dev/null || exit 1
    export TESLO_BIN="$BUILD_DIR/teslo"
  fi
  export TESLO_SOURCE_DIR="$SOURCE_DIR"
fi
. "$SOURCE_DIR/tests/integration/lib/sandbox.sh"
sandbox_enter --messages "$MESSAGES"

# -------------------------------------------------------------- inside --

DAEMON="$TESLO_BIN"
DRIVER="$(dirname "$DAEMON")/bench/load_driver"
[ -x "$DRIVER" ] || { echo "load driver $DRIVER not built" >&2; exit 1; }

# The harness starts "$TESLO_BIN": make that valgrind running the daemon.
# The shell commands the daemon runs (mv, pidof, service) are not ours and
# are not traced.
# glibc's resolver keeps a configuration object per thread; one of them is
# left unreferenced inside glibc when a libmilter worker thread ends after
# getaddrinfo (glibc's own allocation, freed by nothing of ours).
cat > "$W/valgrind.supp" <<'EOF'
{
   glibc-resolver-configuration-of-an-ended-thread
   Memcheck:Leak
   match-leak-kinds: definite
   fun:malloc
   ...
   fun:__resolv_conf_load
}
EOF
# The filter process and the helpers are programs the daemon starts by
# exec as its unprivileged user, and each exec starts memcheck afresh as
# that user, which could not reopen a log file its root parent created. So
# every memcheck instance sends its log to one listener on the sandbox's
# loopback, and the lines are sorted into one file per process at the end
# (split_valgrind_logs).
valgrind_port=1500
valgrind-listener "$valgrind_port" > "$W/valgrind-listener.out" 2>&1 &
valgrind_listener=$!
mkdir -p "$W/valgrind"
split_valgrind_logs() {
  sleep 1  # the last instances write their summaries as they end
  kill "$valgrind_listener" 2> /dev/null
  wait "$valgrind_listener" 2> /dev/null
  sed -nE 's/^\([0-9]+\) (==([0-9]+)==.*)$/\2 \1/p' "$W/valgrind-listener.out" |
    while IFS= read -r line; do
      printf '%s\n' "${line#* }" >> "$W/valgrind/valgrind.${line%% *}"
    done
}
cat > "$W/bin/teslo-valgrind" <<EOF
#!/bin/sh
exec valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \\
  --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --suppressions="$W/valgrind.supp" \\
  --trace-children=yes --trace-children-skip='/bin/*,/usr/bin/*,/sbin/*,/usr/sbin/*,/etc/*' \\
  --child-silent-after-fork=no --vgdb=no --num-callers=30 --log-socket=127.0.0.1:$valgrind_port \\
  "$DAEMON" "\$@"
EOF
chmod 755 "$W/bin/teslo-valgrind"
TESLO_BIN="$W/bin/teslo-valgrind"

# The blocklist and SPF answers from the scripted DNS server (tests/integration/load_setup.sh;
# the SPF record also covers the IPv6 client); a Sendmail that consults the
# daemon; tocheck eject, disposition quarantine and a blacklisted client
# beside the checks with the action "header"; two matching copy rules.
. "$SOURCE_DIR/tests/integration/load_setup.sh"
load_setup --scripted-dns --spf "v=spf1 ip4:192.0.2.0/24 ip6:2001:db8::/32 -all" -- --with-filter ||
  { fail "DNS, sendmail.cf and the configuration directories are set up"; sandbox_finish; }
write_config 'helocheck header' 'tocheck eject' 'spf header' 'ddns header' 'disposition quarantine' \
  'dnsblserv header' 'dnsbldou bl.test' 'blacklistip 198.51.100.66' 'whitelistptr .trusted.test' \
  'whitelistfrom @trusted.test'
write_rules "${COPY_RULES[@]}"

started=$SECONDS
sandbox_start_teslo --no-wait
wait_until 60 _sandbox_teslo_ready || { fail "the daemon starts under valgrind"; sandbox_finish; }
SANDBOX_TESLO_PID="$(sandbox_teslo_pid_from_file)"
sleep 4  # past the restart thread (no Sendmail yet: nothing to restart)
sandbox_start_sendmail

test_case "load driver: $MESSAGES messages, some abandoned, some cut off, SIGUSR1 between"
( for i in 1 2 3 4 5; do sleep 0.5; kill -USR1 "$SANDBOX_TESLO_PID"; done ) &
signaller=$!
"$DRIVER" --socket /var/run/teslo.sock --connections 8 --messages "$(((MESSAGES + 7) / 8))" \
  --abort-every 9 --drop-every 7 --time-limit 600 --reply-timeout 60000 --label valgrind \
  "${DRIVER_MESSAGE[@]}" \
  > "$W/log/driver.log" 2>&1
assert_eq "every message answered" 0 "$?"
wait "$signaller"
sed 's/^/  driver: /' "$W/log/driver.log" | grep -E 'verdicts|errors'
assert_ok "reloads during the load" test "$(log_count mail.info 'TESLO reload')" -ge 1

test_case "messages of every kind through Sendmail"
send_mail --from a@pass.test --to bob@example.com --client-ip 192.0.2.7
assert_accepted "a listed client is marked and copied"
send_mail --from a@pass.test --to bob@example.com --client-ip 198.51.100.66
assert_refused "a blacklisted client is refused"
send_mail --from a@pass.test --to bob --client-ip 192.0.2.8
send_mail --from a@pass.test --to bob@example.com --client-ip 192.0.2.8 --header 'To: undisclosed-recipients:;'
assert_refused "undisclosed recipients are refused" '^554'
printf 'Content-Disposition: attachment; filename=run.exe\n\nMZ\n' > "$W/harmful.txt"
send_mail --from a@pass.test --to bob@example.com --client-ip 192.0.2.8 --body-file "$W/harmful.txt"
assert_accepted "a harmful attachment is accepted into quarantine"
send_mail --from a@pass.test --to bob@example.com --client-ip 2001:db8::7
assert_accepted "an IPv6 client"
send_mail --from a@pass.test --to bob@example.com --client-ip 192.0.2.9 --helo 192.168.1.20
assert_accepted "a malformed HELO is marked"
send_mail --from x@nospf.test --to carol@example.org --client-ip 203.0.113.5
assert_accepted "a sender without SPF record"
log_mark
kill -USR1 "$SANDBOX_TESLO_PID"
assert_log mail.info 'TESLO reload'

test_case "stop and memcheck's verdict"
sandbox_stop_sendmail
sandbox_stop_teslo > /dev/null
status=$?
assert_eq "exit status (99: memcheck found errors)" 0 "$status"
echo "  whole run under valgrind: $((SECONDS - started)) s"
split_valgrind_logs
logs=("$W"/valgrind/valgrind.*)
assert_ok "memcheck wrote its logs" test -e "${logs[0]}"
# Three kinds of process: the launcher, which ends inside daemon() with
# _exit; the detached daemon (its parent is the launcher), which runs to the
# stop; and the children that daemon's system() forks and that exec a shell
# command (no summary: exec ends valgrind there), and the programs it starts
# by exec (the filter process, the spawners, the helpers). No process may show a
# memcheck error; the daemon, which ends through its whole shutdown, may not
# lose a byte. The launcher's leak report only names the texts that
# run_daemon still held when daemon()'s _exit ended that process; it is
# printed, not counted.
error_lines() {
  grep -cE '^==[0-9]+== (Invalid (read|write|free)|Conditional jump|Use of uninitialised|Syscall param|Mismatched free|Source and destination overlap|Argument .* of function)' "$1"
}
# The launcher is the first instance that wrote to the listener; the
# detached daemon logged its pid in its "starting" line. (A forked child
# keeps its parent's connection and writes no "Parent PID" line.)
first_pid="$(sed -nE 's/^\([0-9]+\) ==([0-9]+)==.*$/\1/p' "$W/valgrind-listener.out" | head -n 1)"
launcher=""
[ -n "$first_pid" ] && launcher="$W/valgrind/valgrind.$first_pid"
daemon_pid="$(sed -nE 's/^<[0-9]+>KORVAL\[([0-9]+)\]: KORVAL .* starting$/\1/p' "$W/log/syslog.log" | head -n 1)"
daemon_log=""
[ -n "$daemon_pid" ] && grep -q 'ERROR SUMMARY' "$W/valgrind/valgrind.$daemon_pid" 2> /dev/null &&
  daemon_log="$W/valgrind/valgrind.$daemon_pid"
assert_ok "found the detached daemon's log" test -n "$daemon_log"
for log in "${logs[@]}"; do
  name="$(basename "$log")"
  assert_eq "$name: no memcheck error" 0 "$(error_lines "$log")"
done
if [ -n "$daemon_log" ]; then
  summary="$(grep -E 'ERROR SUMMARY' "$daemon_log" | tail -n 1 | sed -E 's/^==[0-9]+== //')"
  echo "  daemon ($(basename "$daemon_log")): $summary"
  grep -E 'in use at exit|(definitely|indirectly|possibly) lost:|still reachable:|All heap blocks were freed|suppressed:' \
    "$daemon_log" | sed -E 's/^==[0-9]+== +/    /'
  assert_match "daemon: no error and nothing definitely or indirectly lost" 'ERROR SUMMARY: 0 errors' "$summary"
fi
if [ -n "$launcher" ]; then
  echo "  launcher ($(basename "$launcher")): $(grep -E 'definitely lost:' "$launcher" | sed -E 's/^==[0-9]+== +//')"
fi
if [ "$SANDBOX_FAILED" != 0 ]; then
  for log in "${logs[@]}"; do echo "---- $log"; head -n 120 "$log"; done
fi

sandbox_finish
