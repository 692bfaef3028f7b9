#!/usr/bin/env bash
# The demo's one-sentence explanation of a verdict (demo/explain.sh): each
# case gives the daemon's settings, the client, Sendmail's lines about the
# filter and the daemon's log lines, and the sentence it must give.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../../demo/explain.sh"

settings="$(mktemp)"
trap 'rm -f "$settings"' EXIT
cat > "$settings" <<'CONF'
# a comment: blacklistip 192.0.2.1
helocheck   header
tocheck     header
ddns        Header
disposition quarantine
dnsblserv   eject
spf         header
dnsbldou    bl.demo.test
tag         [SPAM]
blacklistip 203.0.113.66
blacklistptr .bad.example
whitelistip 198.51.100.0/24
whitelistfrom friend.example
CONF

passed=0
failed=0
check() {
  local description="$1" expected="$2" got
  shift 2
  got="$(explain_verdict "$settings" "$@")"
  if [ "$got" = "$expected" ]; then
    passed=$((passed + 1)); echo "ok - $description"
  else
    failed=$((failed + 1)); echo "FAIL - $description"
    echo "       expected: '$expected'"; echo "       got:      '$got'"
  fi
}

spf_pass='    mail.notice  SPF pass: 192.0.2.10, [192.0.2.10], mail.example.org, <a@example.org>'
added='Milter (TESLO) add: header: X-Mail-Scan-By: KORVAL ver 0.2a5'

check "a blacklisted address is refused at connect, nothing logged" \
  "refused at connect: 203.0.113.66 is on blacklistip; the filter sets no reply (the refusal text is Sendmail's own) and logs nothing" \
  203.0.113.66 mail.example.com x@example.com \
  'Milter: connect: host=[203.0.113.66], addr=203.0.113.66, rejecting commands' ""

check "a blacklisted host name is refused at connect" \
  "refused at connect: its host name mx.bad.example is on blacklistptr; the filter sets no reply (the refusal text is Sendmail's own) and logs nothing" \
  192.0.2.50 mx.bad.example x@example.com \
  'Milter: connect: host=mx.bad.example, addr=192.0.2.50, rejecting commands' ""

check "a whitelisted network is exempt; its check lines are logged" \
  "exempt: 198.51.100.99 is on whitelistip, so nothing is marked or refused; the check lines are still logged" \
  198.51.100.99 10-0-0-99 g@example.net "" \
  '    mail.notice  malformed HELO: 10-0-0-99, [198.51.100.99], <g@example.net>'

check "a whitelisted sender's domain is exempt" \
  "exempt: the sender news@friend.example is on whitelistfrom, so nothing is marked or refused, and nothing was logged" \
  192.0.2.60 mail.friend.example news@friend.example "" ""

check "an address outside the whitelisted network is not exempt" \
  "passed: no check found anything" \
  198.51.101.1 mail.example.org a@example.org "$added" "$spf_pass"

check "a DDNS mark says that the DDNS check logs nothing" \
  "marked: the client's host name dhcp-1.pool.example.net looks dynamically assigned (ddns header), and the subject gets the tag [SPAM]; the DDNS check itself logs nothing" \
  192.0.2.24 mail.example.net f@example.net \
  "$added
Milter (TESLO) add: header: X-QZ-SPAM-DDNS: SPAM
Milter (TESLO) change: header Subject: from  Hello to [SPAM] Hello" \
  '    mail.notice  SPF pass: 192.0.2.24, dhcp-1.pool.example.net, mail.example.net, <f@example.net>'

check "two marks, in the order the end of the message takes them" \
  "marked: the HELO name 10-0-0-1 is malformed (helocheck header); SPF fails, as strict.example does not let 192.0.2.9 send its mail (spf header)" \
  192.0.2.9 10-0-0-1 b@strict.example "$added" \
  '    mail.notice  SPF fail: 192.0.2.9, [192.0.2.9], 10-0-0-1, <b@strict.example>
    mail.notice  malformed HELO: 10-0-0-1, [192.0.2.9], <b@strict.example>'

check "a blocklisted client refused at the end of the message" \
  "refused at end of message: 192.0.2.7 is listed in the blocklist bl.demo.test, and dnsblserv is eject" \
  192.0.2.7 mail.example.org p@example.org \
  "$added
Milter: data, reject=550 5.7.1 Blocked, look at blacklist ip=192.0.2.7" \
  '    mail.notice  DNSBL: 192.0.2.7, [192.0.2.7], <p@example.org>'

check "a harmful attachment quarantined" \
  "quarantined: an attachment has a harmful file name, and disposition is quarantine" \
  192.0.2.22 mail.example.net d@example.net \
  "$added
milter=TESLO, quarantine=quarantine from Content-Dispotion header" \
  '    mail.notice  harmful attachment: [192.0.2.22], <d@example.net> -> <b@example.com>'

check "a copy recipient is named" \
  "passed: no check found anything; a copy rule adds the recipient archive@example.com" \
  192.0.2.11 mail.example.org a@example.org \
  "$added
Milter (TESLO) add: rcpt: archive@example.com
Milter (TESLO) add: header: X-TESLO-ID: 6B824x3c000296" "$spf_pass"

check "a refusal at RCPT without a known finding" \
  "refused at RCPT: the filter refused it with the reply shown" \
  192.0.2.12 mail.example.org a@example.org \
  'Milter: rcpt=<x@y>, reject=550 5.1.1 bad' ""

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
