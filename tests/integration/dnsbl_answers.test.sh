#!/bin/bash
# What the real daemon's blocklist lookup asks the DNS server and which
# answers list a client: an A answer lists at once (no AAAA query); an
# IPv6-only name lists after the AAAA query; answers only in 127.255.255.0/24
# do not list unless an AAAA answer comes too; a name that does not exist is
# asked once; a server that never answers costs one resolver timeout and
# reads as not listed. One message per client through the load driver.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

DRIVER="$(dirname "$TESLO_BIN")/bench/load_driver"
[ -x "$DRIVER" ] || { echo "load driver $DRIVER not built" >&2; exit 1; }

cat > "$W/records" <<'EOF2'
1.2.0.192.bl.test A 127.0.0.2
2.2.0.192.bl.test AAAA 2001:db8::2
3.2.0.192.bl.test A 127.255.255.254
4.2.0.192.bl.test A 127.255.255.254
4.2.0.192.bl.test AAAA 2001:db8::4
6.2.0.192.bl.test TIMEOUT
EOF2
sandbox_start_dns "$W/records"
sandbox_sendmail_config
mkdir -p /etc/mail/orvane /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd
printf 'dnsblserv header\ndnsbldou bl.test\n' > /etc/mail/orvane/orvane.conf
printf '<?xml version="1.0"?>\n<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">\n<teslo/>\n' \
  > /etc/mail/teslo/teslo.xml
sandbox_start_teslo || { fail "daemon starts"; sandbox_finish; }

# send_from LAST_OCTET: one message from 192.0.2.N; prints the seconds taken.
send_from() {
  local start end
  start=$(date +%s)
  "$DRIVER" --socket /var/run/teslo.sock --connections 1 --messages 1 --reply-timeout 30000 \
    --client-ip "192.0.2.$1" --client-name "c$1.example.net" --helo "c$1.example.net" \
    --sender '<a@example.org>' --rcpt '<b@example.com>' > "$W/log/driver-$1.log" 2>&1 ||
    fail "message from 192.0.2.$1 answered" "$(cat "$W/log/driver-$1.log")"
  end=$(date +%s)
  echo $((end - start))
}

# listed N: the "DNSBL" line for 192.0.2.N was written.
listed() { log_has_re mail.notice "DNSBL: 192\\.0\\.2\\.$1, c$1\\.example\\.net, <a@example\\.org>"; }

test_case "an A answer lists the client after one query"
dns_clear_log; send_from 1 > /dev/null
assert_ok "listed" wait_until 3 listed 1
assert_ok "A asked" dns_was_queried 1.2.0.192.bl.test A
assert_not "AAAA not asked" dns_was_queried 1.2.0.192.bl.test AAAA

test_case "an IPv6-only answer lists the client"
dns_clear_log; send_from 2 > /dev/null
assert_ok "listed" wait_until 3 listed 2
assert_ok "AAAA asked after A" dns_was_queried 2.2.0.192.bl.test AAAA

test_case "error answers alone do not list; with an AAAA answer they do"
dns_clear_log; send_from 3 > /dev/null; send_from 4 > /dev/null
assert_not "127.255.255.254 alone is no listing" listed 3
assert_ok "AAAA asked for the error answer" dns_was_queried 3.2.0.192.bl.test AAAA
assert_ok "error answer plus AAAA lists" wait_until 3 listed 4

test_case "a name that does not exist is asked once"
dns_clear_log; send_from 5 > /dev/null
assert_not "not listed" listed 5
assert_ok "A asked" dns_was_queried 5.2.0.192.bl.test A
assert_not "no AAAA query for a missing name" dns_was_queried 5.2.0.192.bl.test AAAA

test_case "a server that never answers: one resolver timeout, not listed"
# The sandbox's resolv.conf: timeout 1 s, 2 attempts.
dns_clear_log; seconds="$(send_from 6)"
assert_not "not listed" listed 6
assert_ok "answered within the resolver's own timeout (took ${seconds}s)" test "$seconds" -le 4
assert_not "no AAAA query after the timeout" dns_was_queried 6.2.0.192.bl.test AAAA

sandbox_finish
