#!/bin/bash
# The connection-stage checks of the real daemon beside a real Sendmail:
# a blacklisted client refused at connect with Sendmail's own reply, a
# whitelisted client exempt, the DDNS flag of a dynamic-looking host name,
# the malformed-HELO line, an IPv6 client that the IPv4 lists never match,
# and several messages on one SMTP connection, each judged on its own.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

TO=postmaster@mail.sandbox.test

cat > "$W/records" <<'EOF2'
# A client whose host name looks dynamically assigned, and one on the
# host-name blacklist.
77.113.0.203.in-addr.arpa PTR dhcp-12-34.dyn.test.
dhcp-12-34.dyn.test A 203.0.113.77
78.113.0.203.in-addr.arpa PTR mx.spammer.test.
mx.spammer.test A 203.0.113.78
pass.test TXT "v=spf1 ip4:192.0.2.0/24 ip4:198.51.100.0/24 ip4:203.0.113.0/24 ip6:2001:db8::/32 -all"
fail.test TXT "v=spf1 -all"
EOF2
sandbox_start_dns "$W/records"

# smtp_session CLIENT HELO FROM... : sends one message per sender over one
# SMTP connection and prints "accepted" or the refusal code per message.
smtp_session() {
  python3 - "$@" <<'PY'
import smtplib, sys
client, helo, senders = sys.argv[1], sys.argv[2], sys.argv[3:]
family_host = "::1" if ":" in client else "127.0.0.1"
smtp = smtplib.SMTP(family_host, 25, local_hostname=helo, source_address=(client, 0), timeout=60)
for sender in senders:
    body = "From: %s\r\nTo: postmaster@mail.sandbox.test\r\nSubject: test\r\n\r\nhello\r\n" % sender
    try:
        smtp.sendmail(sender, ["postmaster@mail.sandbox.test"], body)
        print("accepted")
    except smtplib.SMTPResponseException as error:
        print(error.smtp_code)
        smtp.rset()
    except smtplib.SMTPRecipientsRefused as error:
        print(list(error.recipients.values())[0][0])
        smtp.rset()
smtp.quit()
PY
}

sandbox_start_mail_system 'blacklistip 203.0.113.66' 'blacklistptr .spammer.test' \
  'whitelistip 198.51.100.0/24' 'helocheck eject' 'ddns eject' 'spf eject' \
  'whitelistfrom friend.test' 'dnsbldou bl.test' ||
  { echo "could not start the daemon and Sendmail" >&2; exit 1; }

test_case "blacklisted clients are refused at connect"
send_mail --from a@pass.test --to "$TO" --client-ip 203.0.113.66
assert_refused "blacklistip client refused with Sendmail's own reply" '^554 .*not accepting messages'
send_mail --from a@pass.test --to "$TO" --client-ip 203.0.113.78
assert_refused "blacklistptr client refused" '^554 .*not accepting messages'
send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.7
assert_accepted "a client on neither list passes"

test_case "whitelisted client is exempt"
log_mark
send_mail --from a@fail.test --to "$TO" --client-ip 198.51.100.7 --helo 192.168.1.20
assert_accepted "bad HELO and SPF fail from a whitelisted client accepted"
assert_log mail.notice "malformed HELO: 192.168.1.20, [198.51.100.7], <a@fail.test>"
assert_no_header_named "no scanner header on exempt mail" X-Mail-Scan-By "$(qf_for_id "$(smtp_queue_id)")"

test_case "malformed HELO"
log_mark
send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.8 --helo 192.168.1.20
assert_refused "malformed HELO refused under eject" '^550'
assert_log mail.notice "malformed HELO: 192.168.1.20, [192.0.2.8], <a@pass.test>"
log_mark
send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.8 --helo '[192.168.1.20]'
assert_accepted "an address literal HELO is never tested"
assert_no_log mail.notice "malformed HELO: [192.168.1.20], [192.0.2.8], <a@pass.test>"

test_case "DDNS host name"
log_mark
send_mail --from a@pass.test --to "$TO" --client-ip 203.0.113.77
assert_refused "dynamic-looking client refused under eject" '^550'
assert_match "DDNS reply" '^550 5\.7\.1 Unwated DDNS client' "$(smtp_refusal)"

test_case "IPv6 client"
log_mark
send_mail --from a@pass.test --to "$TO" --client-ip 2001:db8::25
assert_accepted "IPv6 client without a PTR name accepted (its literal is no DDNS name)"
assert_log_re mail.notice 'SPF pass: 2001:db8::25, [^,]*, client\.example\.net, <a@pass\.test>'
assert_ok "blocklist asked in nibble form" \
  dns_was_queried 5.2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.bl.test
sandbox_stop_mail_system

sandbox_start_mail_system 'blacklistip 0.0.0.0/0' 'whitelistip 0.0.0.0/0' 'spf eject' ||
  { echo "could not restart the daemon and Sendmail" >&2; exit 1; }
test_case "IPv4 lists never match an IPv6 client"
send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.7
assert_refused "every IPv4 client refused by 0.0.0.0/0" '^554 .*not accepting messages'
log_mark
send_mail --from a@fail.test --to "$TO" --client-ip 2001:db8::26
assert_refused "IPv6 client neither refused at connect nor exempt: SPF fail ejects" '^550'
assert_log_re mail.notice 'SPF fail: 2001:db8::26, [^,]*, client\.example\.net, <a@fail\.test>'
sandbox_stop_mail_system

sandbox_start_mail_system 'spf eject' 'whitelistfrom friend.test' 'ttl 0' ||
  { echo "could not restart the daemon and Sendmail" >&2; exit 1; }
test_case "several messages on one connection"
assert_eq "whitelisted sender, then an SPF fail, then a pass" \
  "accepted 550 accepted" \
  "$(smtp_session 192.0.2.7 client.example.net a@friend.test b@fail.test c@pass.test | xargs)"
assert_eq "SPF fail, then a clean sender" "550 accepted" \
  "$(smtp_session 192.0.2.7 client.example.net b@fail.test c@pass.test | xargs)"
assert_eq "unusable sender after a failed one" "550 accepted" \
  "$(smtp_session 192.0.2.7 client.example.net b@fail.test localpart | xargs)"
sandbox_stop_mail_system

sandbox_finish
