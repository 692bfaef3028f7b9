#!/usr/bin/env bash
# The metrics file (orvane.conf "metricsfile"): a known mix of messages
# through a real Sendmail, then every counter the mix touched is compared
# with what was sent, and every other counter must be 0. The file is read
# with python3-prometheus-client's parser, as node_exporter's textfile
# collector would take it: once from a periodic write while the daemon runs,
# once from the last write at stop (which also holds the reloads).
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

TO=postmaster@mail.sandbox.test
PROM_DIR="$W/node-exporter"
PROM="$PROM_DIR/teslo.prom"
mkdir -p "$PROM_DIR" /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd

# One copy rule: every message from pass.test gets one copy recipient.
write_rules() {
  {
    printf '<?xml version="1.0"?>\n<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">\n<teslo>\n'
    printf '  <rule title="t">\n    <domain>%s</domain>\n    <mailaddr>%s</mailaddr>\n' "$1" "$2"
    printf '    <direction>S</direction>\n  </rule>\n</teslo>\n'
  } > /etc/mail/teslo/teslo.xml
}
write_rules pass.test archive@mail.sandbox.test

cat > "$W/records" <<'EOF2'
77.113.0.203.in-addr.arpa PTR dhcp-12-34.dyn.test.
dhcp-12-34.dyn.test A 203.0.113.77
66.2.0.192.bl.test A 127.0.0.2
67.2.0.192.bl.test A 127.255.255.254
68.2.0.192.bl.test SERVFAIL
pass.test TXT "v=spf1 ip4:192.0.2.0/24 ip4:198.51.100.0/24 ip4:203.0.113.0/24 -all"
fail.test TXT "v=spf1 -all"
EOF2
sandbox_start_dns "$W/records"

cat > "$W/harmful.txt" <<'EOF2'
--b1
Content-Type: application/octet-stream; name="setup.exe"
Content-Disposition: attachment;
 filename="setup.exe"

TVqQAAMAAAAEAAAA
--b1--
EOF2

# check_metrics FILE EXPECTED: every sample of EXPECTED (exposition lines)
# has its value in FILE, every other counter sample of FILE is 0, the
# histogram's +Inf bucket and _count equal the lookups, and the build and
# start facts are there. Prints one line per difference.
cat > "$W/check_metrics.py" <<'EOF2'
import os, sys, time
from prometheus_client.parser import text_string_to_metric_families

def samples(text):
    found = {}
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            found[(sample.name, tuple(sorted(sample.labels.items())))] = sample.value
    return found

actual = samples(open(sys.argv[1]).read())
expected = samples(open(sys.argv[2]).read())
problems = []
for key, value in expected.items():
    if actual.get(key) != value:
        problems.append("%s %s: expected %s, found %s" % (key[0], dict(key[1]), value, actual.get(key)))
for key, value in actual.items():
    if key[0].endswith("_total") and key not in expected and value != 0:
        problems.append("%s %s: expected 0, found %s" % (key[0], dict(key[1]), value))
lookups = sum(v for k, v in actual.items() if k[0] == "teslo_dnsbl_lookups_total")
histogram = "teslo_dnsbl_lookup_duration_seconds"
for name, labels in ((histogram + "_bucket", (("le", "+Inf"),)), (histogram + "_count", ())):
    if actual.get((name, labels)) != lookups:
        problems.append("%s: %s, lookups %s" % (name, actual.get((name, labels)), lookups))
version = os.environ["TESLO_VERSION"]
if actual.get(("teslo_build_info", (("version", version),))) != 1:
    problems.append("no teslo_build_info{version=\"%s\"} 1" % version)
if abs(actual.get(("teslo_start_time_seconds", ()), 0) - time.time()) > 600:
    problems.append("teslo_start_time_seconds is not the start")
print("\n".join(problems))
EOF2

# assert_metrics DESCRIPTION FILE: compares FILE with $W/expected.
assert_metrics() {
  local differences
  differences="$("$SANDBOX_PYTHON" "$W/check_metrics.py" "$2" "$W/expected" 2>&1)"
  if [ -z "$differences" ]; then pass "$1"; else fail "$1" "$differences"; fi
}

sandbox_start_mail_system 'helocheck header' 'tocheck eject' 'spf header' 'ddns quarantine' \
  'disposition header' 'dnsblserv eject' 'dnsbldou bl.test' 'ttl 1h' \
  'whitelistip 198.51.100.0/24' 'blacklistip 203.0.113.9' 'whitelistfrom friend.test' \
  "metricsfile $PROM" || { fail "mail system starts"; sandbox_finish; }

test_case "the file is there from the start, mode 0644, no temporary beside it"
assert_ok "written at start" wait_until 5 test -s "$PROM"
assert_eq "mode" "644" "$(stat -c %a "$PROM")"
assert_eq "only the file" "teslo.prom" "$(ls -A "$PROM_DIR")"

test_case "a known mix of messages"
send_mail --from a@pass.test --to "$TO"                                     # SPF pass, fresh; a copy
send_mail --from a@pass.test --to "$TO"                                     # SPF pass, cached; a copy
send_mail --from a@pass.test --to "$TO" --helo 192.168.1.20                 # HELO hit (header); a copy
send_mail --from a@pass.test --to "$TO" --body-file "$W/harmful.txt"        # harmful hit (header); a copy
send_mail --from a@fail.test --to "$TO"                                     # SPF fail, fresh: SPF hit
send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.66              # listed: refused at eom
send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.67              # error answer; a copy
send_mail --from a@pass.test --to "$TO" --client-ip 192.0.2.68              # lookup failure; a copy
send_mail --from a@pass.test --to "$TO" --client-ip 203.0.113.77            # DDNS (quarantine); a copy
send_mail --from a@pass.test --to "$TO" --client-ip 198.51.100.7            # whitelisted client; a copy
send_mail --from a@friend.test --to "$TO"                                   # whitelisted sender
send_mail --from a@pass.test --to "$TO" --header 'To: undisclosed-recipients:;'  # refused at header
send_mail --from a@pass.test --to "$TO" --client-ip 203.0.113.9             # blacklisted: refused at connect
"$SANDBOX_PYTHON" - <<'PY'
import smtplib
smtp = smtplib.SMTP("127.0.0.1", 25, local_hostname="client.example.net", source_address=("192.0.2.7", 0), timeout=60)
smtp.docmd("MAIL FROM:<a@pass.test>")
smtp.docmd("RCPT TO:bob@remote.test")  # malformed: refused at RCPT
smtp.quit()
PY

# The refusal at the header ends its message: neither the end of the message
# nor an abort follows. The session with the refused recipient ends with
# QUIT inside its transaction: that is the abort. Both messages asked DNS at
# MAIL FROM but ended before their answers were needed: neither their
# blocklist lookups nor their (cached) SPF results are counted.
cat > "$W/expected" <<'EOF2'
teslo_connections_total 14
teslo_messages_started_total 13
teslo_messages_ended_total 11
teslo_messages_aborted_total 1
teslo_refusals_total{stage="connect",reason="blacklisted_client"} 1
teslo_refusals_total{stage="rcpt",reason="malformed_recipient"} 1
teslo_refusals_total{stage="header",reason="undisclosed_recipients"} 1
teslo_refusals_total{stage="eom",reason="dnsbl"} 1
teslo_check_hits_total{check="helo",action="header"} 1
teslo_check_hits_total{check="harmful",action="header"} 1
teslo_check_hits_total{check="spf",action="header"} 1
teslo_check_hits_total{check="dnsbl",action="eject"} 1
teslo_check_hits_total{check="ddns",action="quarantine"} 1
teslo_check_hits_total{check="to",action="eject"} 1
teslo_exempt_messages_total{cause="whitelisted_client"} 1
teslo_exempt_messages_total{cause="whitelisted_sender"} 1
teslo_dnsbl_lookups_total{outcome="listed"} 1
teslo_dnsbl_lookups_total{outcome="error_answer"} 1
teslo_dnsbl_lookups_total{outcome="failure"} 1
teslo_dnsbl_lookups_total{outcome="not_listed"} 8
teslo_spf_evaluations_total{result="pass",source="fresh"} 6
teslo_spf_evaluations_total{result="pass",source="cached"} 3
teslo_spf_evaluations_total{result="fail",source="fresh"} 1
teslo_spf_evaluations_total{result="none",source="fresh"} 1
teslo_spf_cache_entries 8
teslo_copy_recipients_added_total 8
EOF2

test_case "a periodic write counts the mix"
assert_ok "the file shows the last connection within 20 s" \
  wait_until 20 grep -qx 'teslo_connections_total 14' "$PROM"
assert_metrics "every counter the mix touched, and no other" "$PROM"

test_case "reloads, and the last write at stop"
log_mark
kill -USR1 "$SANDBOX_TESLO_PID"
assert_log mail.info "TESLO reload"
log_mark
kill -USR2 "$SANDBOX_TESLO_PID"
assert_log mail.info "TESLO settings reload"
log_mark
echo '<teslo>' > /etc/mail/teslo/teslo.xml
kill -USR1 "$SANDBOX_TESLO_PID"
assert_log mail.info "TESLO reload"
sandbox_stop_mail_system
cat >> "$W/expected" <<'EOF2'
teslo_reloads_total{kind="copy_rules",outcome="ok"} 1
teslo_reloads_total{kind="copy_rules",outcome="failed"} 1
teslo_reloads_total{kind="settings",outcome="ok"} 1
EOF2
assert_metrics "the counts at stop, reloads included" "$PROM"
assert_eq "no temporary left" "teslo.prom" "$(ls -A "$PROM_DIR")"

sandbox_finish
