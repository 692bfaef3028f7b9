#!/usr/bin/env bash
# SIGUSR2 re-reads /etc/mail/orvane/orvane.conf without touching Sendmail:
# after an edit and the signal ("TESLO settings reload") the next connection
# gets the new actions and lists, while a connection opened before keeps the
# settings it started with; a reload of a file that cannot be read logs
# "TESLO settings reload failed: ..." at crit and changes nothing.
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

readonly CONF=/etc/mail/orvane/orvane.conf
TO=postmaster@mail.sandbox.test

# An SMTP client that connects from 192.0.2.7 and says EHLO 192.168.1.20 (a
# malformed HELO), writes $1.connected, waits until $1 exists, then sends one
# message from $2 and prints the server's reply to the DATA.
cat > "$W/held_client.py" <<'EOF2'
import os, smtplib, sys, time
flag, sender = sys.argv[1], sys.argv[2]
client = smtplib.SMTP(timeout=60, source_address=("192.0.2.7", 0))
client.connect("127.0.0.1", 25)
client.ehlo("192.168.1.20")
open(flag + ".connected", "w").close()
while not os.path.exists(flag):
    time.sleep(0.05)
client.mail(sender)
client.rcpt("postmaster@mail.sandbox.test")
code, reply = client.data("From: " + sender + "\r\nTo: postmaster@mail.sandbox.test\r\n"
                          "Subject: hello\r\n\r\nsent on a connection held open\r\n")
print(code, reply.decode())
client.quit()
EOF2

# SIGUSR2 to the daemon; the caller waits for the line it expects.
reload_settings() {
  log_mark
  kill -USR2 "$SANDBOX_TESLO_PID"
}

# write_settings LINE...: replaces orvane.conf whole.
write_settings() {
  printf '%s\n' "$@" > "$CONF.new"
  mv -f "$CONF.new" "$CONF"
}

sandbox_start_mail_system 'helocheck header' 'tag [A]' 'ttl 0' ||
  { fail "mail system starts"; sandbox_finish; }

test_case "a connection opened before the reload keeps its settings"
"$SANDBOX_PYTHON" "$W/held_client.py" "$W/go" b@friend.test > "$W/held.out" 2>&1 &
held_pid=$!
sandbox_track_pid "$held_pid"
assert_ok "the held connection is open" wait_until 20 test -e "$W/go.connected"

test_case "SIGUSR2 after an edit: the next connection gets the new settings"
write_settings 'helocheck eject' 'whitelistfrom friend.test' 'ttl 0'
reload_settings
assert_log mail.info "TESLO settings reload"
send_mail --from a@pass.test --to "$TO" --helo 192.168.1.20 --header 'Subject: hello'
assert_refused "new action: a malformed HELO is refused" '^550 5\.7\.1 Unwanted contents of the HELO command'
send_mail --from b@friend.test --to "$TO" --helo 192.168.1.20 --header 'Subject: hello'
assert_accepted "new list: the whitelisted sender is accepted"
qf=$(qf_for_id "$(smtp_queue_id)")
assert_no_header_named "new list: the whitelisted sender's message is not scanned" X-Mail-Scan-By "$qf"

test_case "the connection opened before ends its message with the old settings"
touch "$W/go"
wait "$held_pid"
reply=$(cat "$W/held.out")
assert_match "old action and list: accepted, not refused" '^250 2\.0\.0 [A-Za-z0-9]+ Message accepted' "$reply"
qf=$(qf_for_id "$(awk '{print $3}' <<< "$reply")")
assert_header "old action: the HELO marking header" 'X-QZ-SPAM-HELO: SPAM' "$qf"
assert_header "old tag on the subject" 'Subject: [A] hello' "$qf"

test_case "a reload of a file that cannot be read changes nothing"
rm -f "$CONF"
mkdir "$CONF"
reload_settings
assert_log mail.crit "TESLO settings reload failed: $CONF: Is a directory"
assert_eq "no reload line" 0 "$(log_count mail.info 'TESLO settings reload')"
send_mail --from a@pass.test --to "$TO" --helo 192.168.1.20 --header 'Subject: hello'
assert_refused "the settings in force still refuse a malformed HELO" '^550 5\.7\.1 Unwanted contents of the HELO command'
rmdir "$CONF"
reload_settings
assert_log mail.crit "TESLO settings reload failed: $CONF: No such file or directory"
send_mail --from b@friend.test --to "$TO" --helo 192.168.1.20 --header 'Subject: hello'
assert_accepted "the whitelist in force still exempts the sender"

test_case "Sendmail was never restarted or reloaded by the reloads"
assert_eq "no restart or reload of Sendmail" "" "$(init_calls)"

sandbox_finish
