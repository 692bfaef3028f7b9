#!/usr/bin/env bash
# The configuration that the package installs, as a fresh host gets it: the
# example orvane.conf, and the example copy rules with their DTD beside them
# in /etc/mail/teslo (the rule file names the DTD by its absolute path). With
# them the daemon comes up beside Sendmail without any configuration error
# and installs itself; every check is off, so mail is scanned but never
# marked; the example rules add their copies; the unit's reload command
# (kill -USR1) re-reads the rules cleanly; a stop takes the filter out again.
# Sendmail records an added recipient as the filter gave it, without brackets.
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

sandbox_sendmail_config || { fail "Sendmail configuration generated"; sandbox_finish; }
mkdir -p /etc/mail/orvane /etc/mail/teslo
install -m 644 "$TESLO_SOURCE_DIR/etc/orvane/orvane.conf" /etc/mail/orvane/orvane.conf
install -m 644 "$TESLO_SOURCE_DIR/etc/teslo/teslo.xml" "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" \
  /etc/mail/teslo/
sandbox_start_sendmail || { fail "Sendmail starts"; sandbox_finish; }
sandbox_start_teslo || { fail "daemon starts with the shipped configuration"; sandbox_finish; }
sandbox_wait_sendmail_restart || fail "Sendmail restarted by the daemon"

# Every line the daemon logged that names a configuration error, whatever its
# identity or priority (the start-up one is logged before the log is opened).
configuration_errors() { grep -E 'configure error|Failed to configuration' "$W/log/syslog.log"; }

test_case "start-up with the shipped files"
assert_log mail.notice "KORVAL $TESLO_VERSION starting"
assert_eq "no configuration error is logged" "" "$(configuration_errors)"
assert_eq "nothing is logged at crit" "" "$(log_texts mail.crit)"
assert_eq "the warning for a missing orvane.conf is not written" "" \
  "$(grep -F 'WARN' "$W/log/teslo.stderr" 2>/dev/null)"
assert_ok "sendmail.cf lists the filter" grep -qx 'O InputMailFilters=TESLO' /etc/mail/sendmail.cf

test_case "a sender of sales.example.com (rule S)"
send_mail --from alice@sales.example.com --to bob@example.org
assert_accepted
id=$(smtp_queue_id)
qf=$(qf_for_id "$id")
assert_recipients "the copy is added" '<bob@example.org> sales-out@archive.example.com' "$qf"
assert_header "one tracing header with the queue id" "X-TESLO-ID: $id" "$qf"
assert_header "the message is scanned" 'X-Mail-Scan-By: KORVAL ver 0.2a5' "$qf"
for header in X-QZ-SPAM-HELO X-QZ-SPAM-TO X-QZ-SPAM-SPF X-QZ-SPAM-HARMFUL X-QZ-SPAM-DDNS \
              X-QZ-DNSBL Received-SPF; do
  assert_no_header_named "no $header with every check off" "$header" "$qf"
done

test_case "a recipient of support.example.com (rule R)"
send_mail --from carol@example.org --to dave@support.example.com
assert_accepted
qf=$(qf_for_id "$(smtp_queue_id)")
assert_recipients "the copy is added" '<dave@support.example.com> support-in@archive.example.com' "$qf"

test_case "mail outside every rule"
send_mail --from erin@example.org --to frank@example.net
assert_accepted
qf=$(qf_for_id "$(smtp_queue_id)")
assert_recipients "no copy" '<frank@example.net>' "$qf"
assert_no_header_named "no tracing header" X-TESLO-ID "$qf"

test_case "reload as the unit's ExecReload does it"
log_mark
/bin/kill -USR1 "$SANDBOX_TESLO_PID"
assert_log mail.info "TESLO reload"
assert_no_log mail.crit "XML configure error:"
assert_eq "no configuration error after the reload" "" "$(configuration_errors)"
send_mail --from alice@sales.example.com --to bob@example.org
assert_accepted
qf=$(qf_for_id "$(smtp_queue_id)")
assert_recipients "the rules still apply" '<bob@example.org> sales-out@archive.example.com' "$qf"

test_case "stop"
sandbox_stop_teslo > /dev/null
status=$?
assert_eq "exit status" 0 "$status"
assert_not "sendmail.cf no longer names the filter" grep -q TESLO /etc/mail/sendmail.cf

sandbox_finish
