#!/usr/bin/env bash
# teslo-check, the built program, at the daemon's real fixed paths: the
# shipped example files are clean (exit 0); files with mistakes are reported
# line by line (exit 1); a missing or broken file is exit 2. Then the
# daemon runs with the files the checker reported on, and does what the
# report said: the rule that "can never fire" adds no copy, the other one
# does, and the ignored "spf reject" line leaves SPF off (no Received-SPF).
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

CHECK="$(dirname "$TESLO_BIN")/teslo-check"
if [ ! -x "$CHECK" ]; then
  fail "teslo-check is built beside the daemon" "$CHECK"
  sandbox_finish
fi

mkdir -p /etc/mail/orvane /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd

# run_check [ARGS...]: runs the checker, output in $W/check.out, status in $status.
run_check() {
  "$CHECK" "$@" > "$W/check.out" 2> "$W/check.err"
  status=$?
}
has_line() { grep -qxF -- "$1" "$W/check.out"; }

test_case "the shipped examples at the fixed paths are clean"
cp "$TESLO_SOURCE_DIR/etc/orvane/orvane.conf" /etc/mail/orvane/orvane.conf
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.xml" /etc/mail/teslo/teslo.xml
run_check
assert_eq "exit status 0" 0 "$status"
assert_ok "orvane.conf: no problems" has_line "/etc/mail/orvane/orvane.conf: 0 problems; settings in force:"
assert_ok "teslo.xml: four rules, no problems" has_line "/etc/mail/teslo/teslo.xml: 4 copy rules, 0 problems"
assert_ok "final verdict" has_line "teslo-check: OK, teslo takes every line as written"

test_case "mistakes are named with their line numbers, exit status 1"
cat > /etc/mail/orvane/orvane.conf <<'CONF'
# SPF is meant to be on, but "reject" is not an action word
spf reject
helocheck EJECT
spff eject
CONF
cat > /etc/mail/teslo/teslo.xml <<'XML'
<?xml version="1.0"?>
<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">
<teslo>
  <rule><domain>ALL</domain><mailaddr>never@archive.test</mailaddr><direction>s</direction></rule>
  <rule><domain>ALL</domain><mailaddr>copy@archive.test</mailaddr><direction>S</direction></rule>
</teslo>
XML
run_check
assert_eq "exit status 1" 1 "$status"
assert_ok "the unaccepted value, line 2" has_line \
  '/etc/mail/orvane/orvane.conf:2: value "reject" not accepted for spf (accepted: off, header, eject or quarantine): line ignored'
assert_ok "the unknown key, line 4" has_line '/etc/mail/orvane/orvane.conf:4: unknown key "spff": line ignored'
assert_not "the action word in capitals is fine" grep -q 'orvane.conf:3:' "$W/check.out"
assert_ok "the settings in force: spf off, helocheck eject" grep -qF \
  'checks: helocheck eject, tocheck off, spf off,' "$W/check.out"
assert_ok "the lower-case direction can never fire" has_line \
  '/etc/mail/teslo/teslo.xml:4: rule 1 can never fire: direction "s" is not S, R, SR or SA (exactly, in capitals)'
assert_ok "the second rule as loaded" has_line \
  '/etc/mail/teslo/teslo.xml:5: rule 2: domain "ALL", mailaddr "copy@archive.test", direction "S": a copy once when the sender matches'

test_case "the running daemon does what the report said"
sandbox_sendmail_config --with-filter --filter-flags T
sandbox_start_teslo || { fail "daemon starts"; sandbox_finish; }
sandbox_start_sendmail || { fail "Sendmail starts"; sandbox_finish; }
sandbox_wait_sendmail_restart 8 || true
send_mail --from a@sender.test --to x@rcpt.test
assert_accepted "accepted"
qf="$(qf_for_id "$(smtp_queue_id)")"
assert_recipients "only the rule that can fire added its copy" "<x@rcpt.test> copy@archive.test" "$qf"
assert_no_header_named "spf stayed off: no Received-SPF header" Received-SPF "$qf"
sandbox_stop_teslo > /dev/null

test_case "a missing spam-check file and a broken rule file are exit status 2"
rm -f /etc/mail/orvane/orvane.conf
run_check
assert_eq "missing orvane.conf: exit status 2" 2 "$status"
assert_ok "missing orvane.conf is named" grep -qF \
  '/etc/mail/orvane/orvane.conf: cannot read: No such file or directory' "$W/check.out"
printf 'spf header\n' > /etc/mail/orvane/orvane.conf
printf '<teslo><rule><domain>ALL</domain></rule></teslo>\n' > /etc/mail/teslo/teslo.xml
run_check
assert_eq "rule file without DTD: exit status 2" 2 "$status"
assert_ok "the XML error is shown" grep -qF 'no DTD found' "$W/check.out"
run_check -c "$W/nowhere.conf" -r /etc/mail/teslo/teslo.xml
assert_ok "files named on the command line are read" grep -qF "$W/nowhere.conf: cannot read" "$W/check.out"
run_check -z
assert_eq "unknown option: exit status 2" 2 "$status"

sandbox_finish
