#!/bin/bash
# Failures around the real daemon, in the sandbox: sendmail.cf missing at
# start and at stop; a spam-check file that cannot be read (defaults); the
# copy-rule file vanishing before a SIGUSR1 reload; a DNS server that never
# answers the blocklist and SPF queries. In every case the message gets the
# verdict the daemon defines, nothing crashes and no file is truncated or
# created where none was.
#
# Elsewhere: a full /tmp during the sendmail.cf and macro-file rewrite is in
# self_install.test.sh ("a full /tmp leaves both files untouched"); a broken
# copy-rule file at start and at reload in copy_rules.test.sh; out of memory
# at each allocation point in the unit tests (tests/failure/).
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

mkdir -p /etc/mail/orvane /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd
write_rules() {
  cat > /etc/mail/teslo/teslo.xml <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">
<teslo>
  <rule><domain>ALL</domain><mailaddr>archive@archive.test</mailaddr><direction>S</direction></rule>
</teslo>
EOF
}
write_rules

cat > "$W/records" <<'EOF'
7.2.0.192.bl.test TIMEOUT
7.2.0.192.zen.spamhaus.org TIMEOUT
slow.test TIMEOUT
EOF
sandbox_start_dns "$W/records"

# ------------------------------------------------------------------------
test_case "sendmail.cf missing at start and at stop"
sandbox_sendmail_config
rm -f /etc/mail/sendmail.cf
printf 'helocheck off\n' > /etc/mail/orvane/orvane.conf
log_mark
sandbox_start_teslo || { fail "the daemon starts without sendmail.cf"; sandbox_finish; }
assert_log mail.err 'can not milter configuraiton'
assert_log mail.notice "KORVAL $TESLO_VERSION starting"
assert_ok "the macro file is still updated" grep -qF "INPUT_MAIL_FILTER(\`TESLO'" /etc/mail/brin.mc
assert_not "no sendmail.cf was created" test -e /etc/mail/sendmail.cf
sleep 4  # past the restart process
assert_ok "the daemon still runs" sandbox_pid_alive "$SANDBOX_TESLO_PID"
sandbox_stop_teslo > /dev/null
assert_eq "exit status after SIGTERM" 0 "$?"
assert_log mail.err 'sendmail.cf configuration error'
assert_log mail.notice "KORVAL $TESLO_VERSION exiting"
assert_not "still no sendmail.cf" test -e /etc/mail/sendmail.cf
assert_not "the filter left the macro file" grep -qF "INPUT_MAIL_FILTER(\`TESLO" /etc/mail/brin.mc
assert_ok "the macro file keeps its mailers" grep -q '^MAILER(local)dnl' /etc/mail/brin.mc

# The daemon first, Sendmail once its restart process has passed.
start_mail_system() {
  sandbox_sendmail_config --with-filter || return 1
  sandbox_start_teslo || return 1
  sleep 4
  sandbox_start_sendmail
}

# ------------------------------------------------------------------------
test_case "a spam-check file that cannot be read gives the defaults"
rm -f /etc/mail/orvane/orvane.conf
mkdir /etc/mail/orvane/orvane.conf  # opens, but every read fails
log_mark
start_mail_system || { fail "daemon and Sendmail start"; sandbox_finish; }
cf_size_before="$(wc -c < /etc/mail/sendmail.cf)"
send_mail --from a@example.org --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_accepted
# Defaults: every action off, so only the scanner header; spf off, so no
# Received-SPF; the copy rule still applies.
assert_header "scanner header" 'X-Mail-Scan-By: KORVAL ver 0.2a5'
assert_no_header_named "no Received-SPF with spf off" Received-SPF
assert_no_header_named "no blocklist mark" X-QZ-DNSBL
assert_recipients "the copy recipient" '<postmaster@mail.sandbox.test> archive@archive.test'

test_case "the copy-rule file vanishes before a reload"
rm -f /etc/mail/teslo/teslo.xml
log_mark
kill -USR1 "$SANDBOX_TESLO_PID"
assert_log_re mail.crit 'XML configure error:.+'
assert_log mail.info 'TESLO reload'
send_mail --from b@example.org --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_accepted "the next message passes"
assert_recipients "no copy recipient any more" '<postmaster@mail.sandbox.test>'
assert_no_header_named "no X-TESLO-ID" X-TESLO-ID
assert_not "the rule file was not re-created" test -e /etc/mail/teslo/teslo.xml
write_rules
kill -USR1 "$SANDBOX_TESLO_PID"
wait_until 5 test "$(log_count mail.info 'TESLO reload')" -ge 2
send_mail --from c@example.org --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_recipients "a restored file works again" '<postmaster@mail.sandbox.test> archive@archive.test'
assert_ok "the daemon still runs" sandbox_pid_alive "$SANDBOX_TESLO_PID"
sandbox_stop_sendmail
sandbox_stop_teslo > /dev/null
assert_eq "exit status after SIGTERM" 0 "$?"
assert_ok "sendmail.cf was rewritten whole, never truncated" test "$(wc -c < /etc/mail/sendmail.cf)" -ge "$((cf_size_before / 2))"
assert_ok "sendmail.cf still ends with its mailer definitions" grep -q '^Mlocal,' /etc/mail/sendmail.cf
rmdir /etc/mail/orvane/orvane.conf

# ------------------------------------------------------------------------
test_case "a DNS server that never answers: not listed, SPF temperror, no hang"
printf '%s\n' 'dnsbldou bl.test' 'dnsblserv eject' 'spf eject' 'refusefail on' > /etc/mail/orvane/orvane.conf
log_mark
start_mail_system || { fail "daemon and Sendmail start"; sandbox_finish; }
started=$SECONDS
send_mail --from a@slow.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
took=$((SECONDS - started))
assert_accepted "accepted: neither listed nor an SPF fail"
# The resolver gives up after timeout:1 attempts:2 per query; the blocklist
# asks A and AAAA, libspf2 a TXT record; Sendmail would wait 240 s.
assert_ok "answered within 20 s (took $took s)" test "$took" -le 20
assert_ok "the blocklist was asked" dns_was_queried 7.2.0.192.bl.test
assert_ok "the SPF record was asked" dns_was_queried slow.test TXT
assert_no_log mail.notice 'DNSBL: 192.0.2.7, client.example.net, <a@slow.test>'
assert_log_re mail.notice 'SPF temperror: 192\.0\.2\.7, [^,]*, client\.example\.net, <a@slow\.test>'
assert_no_header_named "no blocklist mark" X-QZ-DNSBL
assert_ok "the daemon still runs" sandbox_pid_alive "$SANDBOX_TESLO_PID"
sandbox_stop_sendmail
sandbox_stop_teslo > /dev/null
assert_eq "exit status after SIGTERM" 0 "$?"

sandbox_finish
