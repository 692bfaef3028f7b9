#!/bin/bash
# The DNS blocklist lookup and the SPF step of the real daemon beside a real
# Sendmail, with every blocklist and SPF answer coming from the sandbox's DNS
# server: the "DNSBL" line, blocklist error answers, SPF pass, fail,
# softfail, neutral and none, a DNS failure reported as temperror and never
# cached, the "(cached)" line without a DNS query, ttl 0 without a cache,
# and an IPv6 client.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

cat > "$W/records" <<'EOF'
# Blocklist zone bl.test: 192.0.2.7 and 2001:db8::7 are listed; 198.51.100.9
# only gets the "query refused" error answer of public blocklists.
7.2.0.192.bl.test A 127.0.0.2
7.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.bl.test A 127.0.0.2
9.100.51.198.bl.test A 127.255.255.254
# SPF policies of the sender domains.
pass.test TXT "v=spf1 ip4:192.0.2.0/24 ip6:2001:db8::/32 -all"
fail.test TXT "v=spf1 ip4:203.0.113.0/24 -all"
soft.test TXT "v=spf1 ~all"
neutral.test TXT "v=spf1 ?all"
nospf.test A 203.0.113.80
broken.test SERVFAIL
EOF
sandbox_start_dns "$W/records"

# spf_line PRIORITY RESULT CLIENT SENDER [HELO]: the exact SPF log line
# (the client host name is whatever Sendmail reports, so it is a pattern).
spf_line_re() {
  local result="$1" client="$2" sender="$3" helo="${4:-client.example.net}"
  printf 'SPF %s: %s, [^,]*, %s, <%s>' "$result" "${client//./\\.}" \
    "${helo//./\\.}" "${sender//./\\.}"
}

count_queries() { grep -cFx -- "$1" "$W/log/dns-queries.log"; }

sandbox_start_mail_system 'dnsbldou bl.test' 'dnsblserv header' 'spf header' ||
  { echo "could not start the daemon and Sendmail" >&2; exit 1; }

test_case "DNS blocklist"
log_mark
send_mail --from a@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_accepted "listed client's message accepted (header action)"
assert_log_re mail.notice 'DNSBL: 192\.0\.2\.7, [^,]*, <a@pass\.test>'
assert_ok "blocklist asked in reversed-octet form" dns_was_queried 7.2.0.192.bl.test
log_mark
send_mail --from a@soft.test --to postmaster@mail.sandbox.test --client-ip 198.51.100.9
assert_accepted "client with an error answer accepted"
assert_ok "blocklist asked for 198.51.100.9" dns_was_queried 9.100.51.198.bl.test
assert_log_re mail.notice "$(spf_line_re softfail 198.51.100.9 a@soft.test)"
assert_not "127.255.255.254 answer is not a listing" log_has_re mail.notice 'DNSBL: 198\.51\.100\.9, .*'

test_case "SPF results"
# A client not seen before, so that no result comes from the cache.
for row in "pass 192.0.2.25 b@pass.test" "fail 192.0.2.25 b@fail.test" \
  "softfail 192.0.2.25 b@soft.test" "neutral 192.0.2.25 b@neutral.test"; do
  read -r result client sender <<< "$row"
  log_mark
  send_mail --from "$sender" --to postmaster@mail.sandbox.test --client-ip "$client"
  assert_log_re mail.notice "$(spf_line_re "$result" "$client" "$sender")"
done
log_mark
send_mail --from b@nospf.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_log_re mail.notice "$(spf_line_re none 192.0.2.7 b@nospf.test)"

test_case "cached result: no DNS query"
dns_clear_log
log_mark
send_mail --from c@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_accepted "second pass.test message accepted"
assert_log_re mail.info 'SPF pass \(cached\): 192\.0\.2\.7, [^,]*, client\.example\.net, <c@pass\.test>'
assert_not "no SPF query for pass.test" dns_was_queried pass.test TXT
assert_not "no fresh SPF line" log_has_re mail.notice "$(spf_line_re pass 192.0.2.7 c@pass.test)"

test_case "a DNS failure is a temperror, never cached"
log_mark
send_mail --from d@broken.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_log_re mail.notice "$(spf_line_re temperror 192.0.2.7 d@broken.test)"
dns_clear_log
log_mark
send_mail --from e@broken.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_log_re mail.notice "$(spf_line_re temperror 192.0.2.7 e@broken.test)"
assert_ok "SPF asked broken.test again" dns_was_queried broken.test TXT

test_case "IPv6 client"
log_mark
send_mail --from f@pass.test --to postmaster@mail.sandbox.test --client-ip 2001:db8::7
assert_accepted "IPv6 client's message accepted"
assert_log_re mail.notice 'DNSBL: 2001:db8::7, [^,]*, <f@pass\.test>'
assert_log_re mail.notice "$(spf_line_re pass 2001:db8::7 f@pass.test)"
log_mark
send_mail --from g@fail.test --to postmaster@mail.sandbox.test --client-ip 2001:db8::7
assert_log_re mail.notice "$(spf_line_re fail 2001:db8::7 g@fail.test)"

sandbox_stop_mail_system

test_case "ttl 0: no cache"
sandbox_start_mail_system 'dnsbldou bl.test' 'ttl 0' ||
  { echo "could not restart the daemon and Sendmail" >&2; exit 1; }
dns_clear_log
log_mark
send_mail --from h@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
send_mail --from h@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
wait_until 5 test "$(log_texts mail.notice | grep -cE "^$(spf_line_re pass 192.0.2.7 h@pass.test)\$")" = 2
assert_eq "two fresh SPF lines" 2 \
  "$(log_texts mail.notice | grep -cE "^$(spf_line_re pass 192.0.2.7 h@pass.test)\$")"
assert_not "no (cached) line" log_has_re mail.info 'SPF .* \(cached\): .*'
assert_eq "pass.test asked twice" 2 "$(count_queries 'pass.test. TXT')"

sandbox_finish
