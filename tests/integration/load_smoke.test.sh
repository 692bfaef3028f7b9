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

cat > "$W/records" <<'EOF'
7.2.0.192.bl.test A 127.0.0.2
pass.test TXT "v=spf1 ip4:192.0.2.0/24 -all"
EOF
sandbox_start_dns "$W/records"
sandbox_sendmail_config
mkdir -p /etc/mail/orvane /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd
cat > /etc/mail/orvane/orvane.conf <<'EOF'
helocheck header
tocheck header
spf header
ddns header
disposition header
dnsblserv header
dnsbldou bl.test
EOF
cat > /etc/mail/teslo/teslo.xml <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">
<teslo>
  <rule><domain>pass.test</domain><mailaddr>sender-copy@archive.test</mailaddr><direction>S</direction></rule>
  <rule><domain>example.com</domain><mailaddr>rcpt-copy@archive.test</mailaddr><direction>R</direction></rule>
</teslo>
EOF
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
  --abort-every 10 --time-limit 120 --reply-timeout 20000 --label smoke \
  --client-ip 192.0.2.7 --client-name mail.example.net --helo mail.example.net \
  --sender '<alice@pass.test>' --rcpt '<bob@example.com>' --rcpt '<carol@example.org>' \
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
