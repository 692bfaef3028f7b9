#!/usr/bin/env bash
# The copy rules end to end: a rule of each direction (S, R, SR, SA) adds its
# copy address as an envelope recipient of a message sent through Sendmail,
# with one X-TESLO-ID header carrying the queue identifier; editing the rule
# file and sending SIGUSR1 changes the copies of the next message ("TESLO
# reload"); a broken file gives "XML configure error:..." and no copies; a
# broken file at start gives "TESLO configure error:..." and no copies.
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

readonly RULES=/etc/mail/teslo/teslo.xml
mkdir -p /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd

# write_rules 'domain|mailaddr|direction' ...: the rule file with these rules.
write_rules() {
  local spec domain mailaddr direction
  {
    printf '<?xml version="1.0"?>\n'
    printf '<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">\n<teslo>\n'
    for spec in "$@"; do
      IFS='|' read -r domain mailaddr direction <<< "$spec"
      printf '  <rule title="t">\n    <domain>%s</domain>\n    <mailaddr>%s</mailaddr>\n' \
        "$domain" "$mailaddr"
      printf '    <direction>%s</direction>\n  </rule>\n' "$direction"
    done
    printf '</teslo>\n'
  } > "$RULES.new"
  mv -f "$RULES.new" "$RULES"
}

# How often Sendmail logged the filter's request to add RCPT to message ID.
added_count() {
  log_texts mail.info 'sm-mta\[[0-9]+\]' | grep -cFx -- "$1: Milter (TESLO) add: rcpt: $2"
}

# check_copies DESCRIPTION 'recipients' : the last message was accepted, has
# exactly these envelope recipients and exactly one X-TESLO-ID header with
# its queue identifier.
check_copies() {
  local id qf
  assert_accepted "$1: accepted"
  id="$(smtp_queue_id)"
  qf="$(qf_for_id "$id")"
  assert_recipients "$1: envelope recipients" "$2" "$qf"
  assert_eq "$1: one X-TESLO-ID header with the queue identifier" "$id" \
    "$(qf_header_value X-TESLO-ID "$qf")"
}

check_no_copies() {
  local id qf
  assert_accepted "$1: accepted"
  id="$(smtp_queue_id)"
  qf="$(qf_for_id "$id")"
  assert_recipients "$1: envelope recipients" "$2" "$qf"
  assert_no_header_named "$1: no X-TESLO-ID header" X-TESLO-ID "$qf"
}

# SIGUSR1 to the daemon, then wait for its reload line.
send_reload() {
  log_mark
  kill -USR1 "$SANDBOX_TESLO_PID"
  assert_log mail.info "TESLO reload"
}

write_rules 'sender.test|s-copy@archive.test|S' \
            'rcpt.test|r-copy@archive.test|R' \
            'both.test|sr-copy@archive.test|SR' \
            'partner.test|sa-copy@archive.test|SA'

sandbox_sendmail_config --with-filter --filter-flags T --milter-log-level 14
sandbox_start_teslo || { fail "daemon starts"; sandbox_finish; }
sandbox_start_sendmail || { fail "Sendmail starts"; sandbox_finish; }
sandbox_wait_sendmail_restart 8 || true
assert_no_log mail.crit "TESLO configure error:"

test_case "S and R: the sender's and the recipient's copies"
send_mail --from a@sender.test --to x@rcpt.test
check_copies "S and R" "<x@rcpt.test> s-copy@archive.test r-copy@archive.test"

test_case "SR: a copy for the sender and one per matching recipient"
send_mail --from b@both.test --to y@both.test --to z@other.test
check_copies "SR" "<y@both.test> <z@other.test> sr-copy@archive.test"
assert_eq "SR: Sendmail was asked twice for the copy" 2 \
  "$(added_count "$(smtp_queue_id)" sr-copy@archive.test)"

test_case "SA: copies only when the sender matches too"
send_mail --from c@partner.test --to p@partner.test
check_copies "SA with matching sender" "<p@partner.test> sa-copy@archive.test"
send_mail --from d@elsewhere.test --to p@partner.test
check_no_copies "SA without matching sender" "<p@partner.test>"

test_case "a message no rule matches"
send_mail --from e@elsewhere.test --to q@elsewhere.test
check_no_copies "no match" "<q@elsewhere.test>"

test_case "SIGUSR1 after editing the file changes the next message's copies"
write_rules 'ALL|all-copy@archive.test|S'
send_reload
send_mail --from a@sender.test --to x@rcpt.test
check_copies "after reload" "<x@rcpt.test> all-copy@archive.test"

test_case "SIGUSR1 with a broken file: error line, then no copies"
printf '<teslo><rule><domain>ALL</domain></rule></teslo>\n' > "$RULES"
send_reload
assert_log_re mail.crit "XML configure error:.+"
send_mail --from a@sender.test --to x@rcpt.test
check_no_copies "broken file" "<x@rcpt.test>"

test_case "the daemon keeps running and a repaired file works again"
write_rules 'rcpt.test|r-copy@archive.test|R'
send_reload
send_mail --from a@sender.test --to x@rcpt.test
check_copies "repaired" "<x@rcpt.test> r-copy@archive.test"

test_case "a broken file at start: configure error, the daemon runs without rules"
sandbox_stop_teslo > /dev/null
printf 'not xml\n' > "$RULES"
log_mark
sandbox_start_teslo || { fail "daemon starts with a broken rule file"; sandbox_finish; }
# Logged by the filter program before it opens the log: the C library's
# default identity (the program name) and facility (user).
start_error_logged() {
  log_texts user.crit 'teslo-filter(\[[0-9]+\])?' | grep -qE '^TESLO configure error:.+'
}
assert_ok "TESLO configure error at crit before the log is opened" wait_until 5 start_error_logged
sandbox_wait_sendmail_restart 8 || true
send_mail --from a@sender.test --to x@rcpt.test
check_no_copies "no rules" "<x@rcpt.test>"

sandbox_finish
