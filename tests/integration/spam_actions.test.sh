#!/bin/bash
# The spam actions at the end of a message, seen where an administrator sees
# them, with the real daemon beside a real Sendmail: for each of the six
# checks (HELO, To/CC, SPF, DDNS, harmful attachment, DNS blocklist) under
# "header" the marking headers and the tagged Subject in the queue file,
# under "eject" the refusal in the SMTP dialogue, under "quarantine" the
# reason of the held message. Also the refusals on the spot (malformed
# recipient, undisclosed-recipients To under "eject"), the escaping of a
# refusal text that carries the sender address, and the exempt clients
# (whitelisted client, sender and recipient, large message) that get no
# spam action.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

TO=postmaster@mail.sandbox.test
SCAN='X-Mail-Scan-By: KORVAL ver 0.2a5'

cat > "$W/records" <<'EOF2'
77.113.0.203.in-addr.arpa PTR dhcp-12-34.dyn.test.
dhcp-12-34.dyn.test A 203.0.113.77
66.2.0.192.bl.test A 127.0.0.2
pass.test TXT "v=spf1 ip4:192.0.2.0/24 ip4:198.51.100.0/24 ip4:203.0.113.0/24 -all"
friend.test TXT "v=spf1 -all"
fail.test TXT "v=spf1 -all"
EOF2
sandbox_start_dns "$W/records"

cat > "$W/harmful.txt" <<'EOF2'
Here is the program.

--b1
Content-Type: application/octet-stream; name="setup.exe"
Content-Transfer-Encoding: base64
Content-Disposition: attachment;
 filename="setup.exe"

TVqQAAMAAAAEAAAA//8AALgAAAAAAAAAQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA
--b1--
EOF2
printf 'Subject: hello\r\nFrom: a@pass.test\r\n\r\nno To and no CC here\r\n.\r\n' > "$W/no_to.eml"

# trigger CHECK [send_mail options]: one message that only CHECK catches.
trigger() {
  local check="$1"
  shift
  case "$check" in
    helo) send_mail --from a@pass.test --to "$TO" --helo 192.168.1.20 --header 'Subject: hello' "$@" ;;
    to) send_mail --from a@pass.test --to "$TO" --data-file "$W/no_to.eml" "$@" ;;
    spf) send_mail --from a@fail.test --to "$TO" --header 'Subject: hello' "$@" ;;
    ddns) send_mail --from a@pass.test --to "$TO" --client-ip 203.0.113.77 --header 'Subject: hello' "$@" ;;
    harmful) send_mail --from a@pass.test --to "$TO" --body-file "$W/harmful.txt" --header 'Subject: hello' "$@" ;;
    dnsbl) send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.66 --header 'Subject: hello' "$@" ;;
  esac
}

queued() { qf_for_id "$(smtp_queue_id)"; }

CHECKS="helo to spf ddns harmful dnsbl"
declare -A MARK=([helo]=X-QZ-SPAM-HELO [to]=X-QZ-SPAM-TO [spf]=X-QZ-SPAM-SPF
  [ddns]=X-QZ-SPAM-DDNS [harmful]=X-QZ-SPAM-HARMFUL [dnsbl]=X-QZ-DNSBL)
declare -A REFUSAL=(
  [helo]='^550 5\.7\.1 Unwanted contents of the HELO command'
  [to]='^554 5\.7\.1 Message for undisclosed recipients'
  [spf]='^550 5\.7\.1 Rejected, check your DNS record sender:a@fail\.test addr:192\.0\.2\.7,mail\.sandbox\.test,'
  [ddns]='^550 5\.7\.1 Unwated DDNS client'
  [harmful]='^554 5\.7\.1 Executable attachments are not allowed\. Compress it and retry once again'
  [dnsbl]='^550 5\.7\.1 Blocked, look at blacklist ip=192\.0\.2\.66')
declare -A REASON=([helo]='HELO CHECK failed(BOGUS_HELO)' [to]='To or CC header unknown'
  [spf]='SPF unknown(FAILED?)' [ddns]='From DDNS'
  [harmful]='quarantine from Content-Dispotion header' [dnsbl]='From DNSbase blacklist check')

settings() {  # every check set to one action
  local action="$1"
  shift
  printf '%s\n' "helocheck $action" "tocheck $action" "spf $action" "ddns $action" \
    "disposition $action" "dnsblserv $action" 'dnsbldou bl.test' 'ttl 0' "$@"
}

# ---------------------------------------------------------------- header --
mapfile -t conf < <(settings header)
sandbox_start_mail_system "${conf[@]}" || { echo "could not start the daemon and Sendmail" >&2; exit 1; }

test_case "clean message: scanner header and SPF trace only"
send_mail --from a@pass.test --to "$TO" --header 'To: postmaster@mail.sandbox.test' --header 'Subject: hello'
assert_accepted
qf="$(queued)"
assert_header "scanner header" "$SCAN" "$qf"
assert_header "Received-SPF Pass, folded" \
  'Received-SPF: Pass (mail.sandbox.test: domain of a@pass.test\n	designates 192.0.2.7 as permitted sender)\n	receiver=mail.sandbox.test; client-ip=192.0.2.7;\n	envelope-from=<a@pass.test>; helo=client.example.net;' "$qf"
assert_header "subject untouched" 'Subject: hello' "$qf"
assert_eq "no marking header" "" "$(qf_headers "$qf" | grep -E '^X-QZ-' || true)"

for check in $CHECKS; do
  test_case "$check under header"
  log_mark
  trigger "$check"
  assert_accepted "$check: accepted"
  qf="$(queued)"
  assert_header "$check: marked" "${MARK[$check]}: SPAM" "$qf"
  assert_eq "$check: only its own marking header" "${MARK[$check]}: SPAM" \
    "$(qf_headers "$qf" | grep -E '^X-QZ-' | xargs)"
  assert_eq "$check: one tagged Subject" "[SPAM] hello" "$(qf_header_value Subject "$qf")"
  assert_eq "$check: not quarantined" "" "$(hf_reason "$qf" 2>/dev/null)"
  [ "$check" = to ] &&
    assert_log mail.notice "To: and CC: are not filled: [192.0.2.7], <a@pass.test> -> <$TO>"
  [ "$check" = harmful ] &&
    assert_log mail.notice "harmful attachment: [192.0.2.7], <a@pass.test> -> <$TO>"
done
assert_header "SPF Fail trace" \
  'Received-SPF: Fail (mail.sandbox.test: domain of a@fail.test\n	does not designate 192.0.2.7 as permitted sender)\n	receiver=mail.sandbox.test; client-ip=192.0.2.7;\n	envelope-from=<a@fail.test>; helo=client.example.net;' \
  "$(qf_for_id "$(grep -l 'a@fail.test' "$W"/swaks/*.log | head -n 1 | xargs grep -hoE '250 [0-9.]+ [A-Za-z0-9]+ Message accepted' | awk '{print $3}')")"

test_case "undisclosed-recipients To under header"
log_mark
send_mail --from a@pass.test --to "$TO" --header 'To: undisclosed-recipients:;' --header 'Subject: hello'
assert_accepted
qf="$(queued)"
assert_header "marked" 'X-QZ-SPAM-TO: SPAM' "$qf"
assert_eq "subject tagged" "[SPAM] hello" "$(qf_header_value Subject "$qf")"
assert_log mail.notice "To: and CC: are not filled: [192.0.2.7], <a@pass.test> -> <$TO>"
sandbox_stop_mail_system

# ------------------------------------------------------------ tagsubject --
mapfile -t conf < <(settings header 'tagsubject off')
sandbox_start_mail_system "${conf[@]}" || { echo "could not restart the daemon and Sendmail" >&2; exit 1; }
test_case "tagsubject off leaves the Subject alone"
trigger harmful
assert_accepted
qf="$(queued)"
assert_header "marked" 'X-QZ-SPAM-HARMFUL: SPAM' "$qf"
assert_eq "one Subject, untouched" "hello" "$(qf_header_value Subject "$qf")"
sandbox_stop_mail_system

# ----------------------------------------------------------------- eject --
mapfile -t conf < <(settings eject 'whitelistip 198.51.100.0/24' 'whitelistfrom friend.test' \
  'whitelistto vip@remote.test')
# Sendmail hands {msg_size} (the SIZE= of MAIL FROM) to the filter only when
# its sender macro list names it.
sandbox_start_mail_system \
  --mc-line "define(\`confMILTER_MACROS_ENVFROM', \`i, {auth_authen}, {msg_size}')dnl" -- "${conf[@]}" ||
  { echo "could not restart the daemon and Sendmail" >&2; exit 1; }

for check in $CHECKS; do
  test_case "$check under eject"
  log_mark
  trigger "$check"
  assert_refused "$check: refused" "${REFUSAL[$check]}"
  [ "$check" = to ] &&
    assert_log mail.notice "undisclosed recipients: [192.0.2.7], <a@pass.test> -> <$TO>"
done

test_case "undisclosed-recipients To refused at the header"
log_mark
send_mail --from a@pass.test --to "$TO" --header 'To: UNDISCLOSED-RECIPIENTS:;'
assert_refused "refused" '^554 5\.7\.1 Message for undisclosed recipients'
assert_log mail.notice "undisclosed recipients: [192.0.2.7], <a@pass.test> -> <$TO>"

test_case "malformed recipient refused at RCPT"
# Sendmail takes a recipient without angle brackets; the filter does not.
assert_eq "reply to RCPT TO:bob@remote.test" \
  "550 5.1.3 bob@remote.test... Recipient address does not conform to RFC-2821 syntax" "$(python3 <<'PY'
import smtplib
smtp = smtplib.SMTP("127.0.0.1", 25, local_hostname="client.example.net", source_address=("192.0.2.7", 0), timeout=60)
smtp.ehlo("client.example.net")
smtp.docmd("MAIL FROM:<a@pass.test>")
code, text = smtp.docmd("RCPT TO:bob@remote.test")
print(code, text.decode())
smtp.quit()
PY
)"

test_case "refusal text with a percent sign in the sender"
send_mail --from 'a%b@fail.test' --to "$TO"
assert_refused "refused with its own text" \
  '^550 5\.7\.1 Rejected, check your DNS record sender:a%b@fail\.test addr:192\.0\.2\.7,mail\.sandbox\.test,'

test_case "exempt clients get no spam action"
send_mail --from a@fail.test --to "$TO" --client-ip 198.51.100.7 --helo 192.168.1.20 \
  --body-file "$W/harmful.txt" --header 'Subject: hello'
assert_accepted "whitelisted client: accepted"
assert_no_header_named "whitelisted client: no scanner header" X-Mail-Scan-By "$(queued)"
send_mail --from a@friend.test --to "$TO" --body-file "$W/harmful.txt" --header 'Subject: hello'
assert_accepted "whitelisted sender: accepted"
assert_no_header_named "whitelisted sender: no scanner header" X-Mail-Scan-By "$(queued)"
send_mail --from a@pass.test --to "$TO" --to vip@remote.test --data-file "$W/no_to.eml"
assert_accepted "whitelisted recipient: accepted"
qf="$(queued)"
assert_no_header_named "whitelisted recipient: no scanner header" X-Mail-Scan-By "$qf"
assert_eq "whitelisted recipient: both recipients queued" "2" "$(qf_recipients "$qf" | wc -l)"
python3 - "$W/big.txt" <<'PY'
import sys
with open(sys.argv[1], "w") as out:
    out.write("Subject: hello\r\nTo: postmaster@mail.sandbox.test\r\n\r\n")
    out.write('Content-Disposition: attachment; filename="big.exe"\r\n')
    out.write(("A" * 76 + "\r\n") * 4000)
PY
assert_eq "large message with SIZE accepted" "accepted" "$(python3 - "$W/big.txt" <<'PY'
import smtplib, sys
data = open(sys.argv[1], "rb").read()
smtp = smtplib.SMTP("127.0.0.1", 25, local_hostname="client.example.net", source_address=("192.0.2.7", 0), timeout=60)
try:
    smtp.sendmail("a@fail.test", ["postmaster@mail.sandbox.test"], data)  # sends SIZE=
    print("accepted")
except smtplib.SMTPException as error:
    print(error)
smtp.quit()
PY
)"
assert_no_header_named "large message: no scanner header" X-Mail-Scan-By "$(last_qf)"
sandbox_stop_mail_system

# ------------------------------------------------------------ quarantine --
mapfile -t conf < <(settings quarantine)
sandbox_start_mail_system "${conf[@]}" || { echo "could not restart the daemon and Sendmail" >&2; exit 1; }
for check in $CHECKS; do
  test_case "$check under quarantine"
  trigger "$check"
  assert_accepted "$check: accepted"
  qf="$(queued)"
  assert_match "$check: held" '/hf[A-Za-z0-9]+$' "$qf"
  assert_eq "$check: reason" "${REASON[$check]}" "$(hf_reason "$qf")"
  assert_eq "$check: no marking header" "" "$(qf_headers "$qf" | grep -E '^X-QZ-' || true)"
  assert_eq "$check: subject untouched" "hello" "$(qf_header_value Subject "$qf")"
done
sandbox_stop_mail_system

sandbox_finish
