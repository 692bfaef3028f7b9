#!/bin/bash
# The daemon at its open-file limit. Started under a low soft limit, it
# raises it to the hard one. When even the hard limit is taken (here lowered
# on the running daemon), a new connection waits in the socket's backlog
# while the daemon stays idle (libmilter's listener alone would retry
# accept() in a busy loop), the log says why, and once descriptors come free
# mail is served again.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

DRIVER="$(dirname "$TESLO_BIN")/bench/load_driver"
[ -x "$DRIVER" ] || { echo "load driver $DRIVER not built" >&2; exit 1; }
. "$(dirname "$0")/load_setup.sh"
load_setup --scripted-dns || { fail "DNS, sendmail.cf and the configuration directories are set up"; sandbox_finish; }
write_config "${CHECKS_HEADER[@]}"
write_rules

limits() { awk '/^Max open files/ { print $4 " " $5 }' "/proc/$SANDBOX_TESLO_PID/limits"; }
result_field() { grep -E '^RESULT ' "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k { print $2 }'; }

test_case "a soft limit of 64 is raised to the hard limit at start"
hard="$(ulimit -Hn)"
ulimit -Sn 64
sandbox_start_teslo || { fail "daemon starts"; sandbox_finish; }
ulimit -Sn "$hard"
assert_eq "soft and hard open-file limits" "$hard $hard" "$(limits)"

test_case "every descriptor taken: new connections wait, the daemon stays idle"
log_mark
# The filter process (the monitor's child) is the one that accepts.
filter="$(pgrep -P "$SANDBOX_TESLO_PID" -x teslo-filter)"
assert_eq "the filter process inherited the raised limits" "$hard $hard" \
  "$(awk '/^Max open files/ { print $4 " " $5 }' "/proc/$filter/limits")"
# As its own user: lowering one's limits needs no privilege (and root may
# lack CAP_SYS_RESOURCE here).
setpriv --reuid="$(awk '/^Uid:/ { print $2 }' "/proc/$filter/status")" \
  --regid="$(awk '/^Gid:/ { print $2 }' "/proc/$filter/status")" \
  --clear-groups prlimit --pid "$filter" --nofile=48:48
# More connections than the daemon can hold: the first that gets no answer
# stays in the backlog, and the driver measures the filter process's CPU for 3 s.
"$DRIVER" --socket /var/run/teslo.sock --pid "$filter" --connections 1 --messages 1 \
  --stall 80 --idle 3 --reply-timeout 1000 --time-limit 5 "${DRIVER_MESSAGE[@]}" \
  > "$W/log/stalled.log" 2>&1
held="$(result_field "$W/log/stalled.log" stalled)"
assert_ok "some connections were held, not all ($held of 80)" test "${held:-0}" -gt 0 -a "${held:-80}" -lt 80
assert_ok "the daemon's CPU in 3 s at the limit stays under 0.25 s ($(result_field "$W/log/stalled.log" idle_cpu_s) s)" \
  awk -v s="$(result_field "$W/log/stalled.log" idle_cpu_s)" 'BEGIN { exit !(s != "" && s < 0.25) }'
assert_log_re mail.err '^no descriptor left for a new connection \(Too many open files\); it waits$'

test_case "descriptors free again: mail is served"
"$DRIVER" --socket /var/run/teslo.sock --connections 2 --messages 5 --reply-timeout 10000 \
  "${DRIVER_MESSAGE[@]}" > "$W/log/after.log" 2>&1
assert_eq "messages answered" 10 "$(result_field "$W/log/after.log" answered)"
assert_ok "the daemon still runs" sandbox_pid_alive "$SANDBOX_TESLO_PID"

sandbox_finish
