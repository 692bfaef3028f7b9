#!/bin/bash
# A short run of the milter-protocol load driver (bench/milter_driver)
# against the real daemon, with every check on (action "header"), the
# client listed by the blocklist and two matching copy rules: a few hundred
# messages over 16 concurrent connections, some abandoned with the abort
# command. Every message must be answered, without protocol errors, with the
# end-of-message changes of every message (marking headers, subject tag, two
# copy recipients), and the daemon must still run afterwards.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

DRIVER="$(dirname "$TESLO_BIN")/bench/load_driver"
[ -x "$DRIVER" ] || { echo "load driver $DRIVER not built" >&2; exit 1; }

# Every check on with the action "header" and two matching copy rules
# (load_setup.sh); the blocklist and SPF answers from the scripted DNS
# server.
. "$(dirname "$0")/load_setup.sh"
load_setup --scripted-dns || { fail "DNS, sendmail.cf and the configuration directories are set up"; sandbox_finish; }
write_config "${CHECKS_HEADER[@]}"
write_rules "${COPY_RULES[@]}"
sandbox_start_teslo || { fail "daemon starts"; sandbox_finish; }

# reply_count LETTER: how many replies of that kind the run received.
reply_count() {
  grep -E '^  replies by kind:' "$W/log/driver.log" | grep -oE "'$1' [0-9]+" | awk '{print $2}'
}
result_field() {
  grep -E '^RESULT ' "$W/log/driver.log" | tr ' ' '\n' | awk -F= -v k="$1" '$1 == k { print $2 }'
}

test_case "400 messages over 16 connections, every tenth of each connection abandoned"
"$DRIVER" --socket /var/run/teslo.sock --pid "$SANDBOX_TESLO_PID" --connections 16 --messages 25 \
  --abort-every 10 --time-limit 120 --reply-timeout 20000 --label smoke "${DRIVER_MESSAGE[@]}" \
  > "$W/log/driver.log" 2>&1
status=$?
sed 's/^/  driver: /' "$W/log/driver.log"
assert_eq "driver exit status" 0 "$status"
assert_eq "messages started" 400 "$(result_field messages)"
assert_eq "messages answered" 400 "$(result_field answered)"
assert_eq "protocol errors" 0 "$(result_field errors)"
# 25 messages per connection: the 10th and the 20th are abandoned.
assert_match "368 delivered, 32 abandoned" 'continue 368 .* aborted 32 error 0' \
  "$(grep -E '^  verdicts:' "$W/log/driver.log")"
# Per delivered message: X-Mail-Scan-By, Received-SPF, X-QZ-DNSBL and
# X-TESLO-ID; the subject tag; one copy for the sender, one for bob.
assert_eq "headers added" 1472 "$(reply_count h)"
assert_eq "subject tagged" 368 "$(reply_count m)"
assert_eq "copy recipients added" 736 "$(reply_count '\+')"
assert_ok "the daemon still runs" sandbox_pid_alive "$SANDBOX_TESLO_PID"

sandbox_finish
