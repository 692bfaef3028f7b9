#!/bin/bash
# teslo-try against the real daemon, compared with what Sendmail makes of
# the same message from the same client: for a clean message (scan headers,
# a copy recipient), a marked one (HELO), one refused at end of message
# (SPF), one quarantined (DNS blocklist) and a client refused at connect,
# the reply Sendmail gives, the headers and recipients the filter added and
# the quarantine reason agree with what teslo-try prints.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

TRY="$(dirname "$TESLO_BIN")/teslo-try"
TO=postmaster@mail.sandbox.test

cat > "$W/records" <<'EOF2'
66.2.0.192.bl.test A 127.0.0.2
pass.test TXT "v=spf1 ip4:192.0.2.0/24 ip4:203.0.113.0/24 -all"
fail.test TXT "v=spf1 -all"
EOF2
sandbox_start_dns "$W/records"
mkdir -p /etc/mail/teslo
cp "$TESLO_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd
cat > /etc/mail/teslo/teslo.xml <<'EOF2'
<?xml version="1.0"?>
<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">
<teslo><rule title="t"><domain>pass.test</domain><mailaddr>copy@archive.test</mailaddr>
<direction>S</direction></rule></teslo>
EOF2
sandbox_start_mail_system 'helocheck header' 'spf eject' 'dnsblserv quarantine' \
  'dnsbldou bl.test' 'blacklistip 203.0.113.66' 'ttl 0' ||
  { echo "could not start the daemon and Sendmail" >&2; exit 1; }

# The same message for both: a file for teslo-try, the file with the end of
# data line for swaks.
printf 'From: a@%s\r\nTo: %s\r\nSubject: hello\r\n\r\nJust a line.\r\n' pass.test "$TO" > "$W/pass.eml"
printf 'From: a@%s\r\nTo: %s\r\nSubject: hello\r\n\r\nJust a line.\r\n' fail.test "$TO" > "$W/fail.eml"

# compare NAME CLIENT HELO FROM: sends FROM's message both ways and checks
# that teslo-try's report matches Sendmail's outcome.
compare() {
  local name="$1" client="$2" helo="$3" from="$4" domain="${4#*@}"
  domain="${domain%.test}"
  test_case "$name"
  cat "$W/$domain.eml" > "$W/data" && printf '.\r\n' >> "$W/data"
  send_mail --from "$from" --to "$TO" --client-ip "$client" --helo "$helo" --data-file "$W/data"
  local reply id qf report status=0
  reply="$(smtp_refusal)"
  [ -n "$reply" ] || reply="$(smtp_last_reply)"
  id="$(smtp_queue_id)"
  report="$("$TRY" --client "$client" --helo "$helo" --from "$from" --rcpt "$TO" \
    --macro connect:j=mail.sandbox.test "$W/$domain.eml" 2>&1)" || status=$?
  printf '%s\n' "$report" | sed 's/^/    | /'
  local said
  said="$(printf '%s\n' "$report" | sed -n 's/^Sendmail would reply: //p')"
  assert_eq "reply code" "$(cut -d' ' -f1 <<< "$reply")" "$(cut -d' ' -f1 <<< "$said")"
  if [[ "$reply" == 250* ]]; then
    qf="$(qf_for_id "$id")"
    local added have
    added="$(printf '%s\n' "$report" | sed -n 's/^  header added: *\([^:]*\):.*/\1/p' | sort -u | xargs)"
    have="$(for h in $added; do qf_header_value "$h" "$qf" > /dev/null && qf_headers "$qf" | grep -q "^$h: " && echo "$h"; done | xargs)"
    assert_eq "headers added are in the queue file" "$added" "$have"
    local rcpts
    rcpts="$(printf '%s\n' "$report" | sed -n 's/^  recipient added: *//p' | xargs)"
    for r in $rcpts; do
      assert_ok "recipient $r added" grep -qF "${r//[<>]/}" <(qf_recipients "$qf")
    done
    assert_eq "quarantine reason" "$(hf_reason "$qf" 2> /dev/null)" \
      "$(printf '%s\n' "$report" | sed -n 's/^  quarantined: *//p')"
    case "$qf" in */hf*) assert_eq "exit status (quarantined)" 1 "$status" ;;
      *) assert_eq "exit status (accepted)" 0 "$status" ;; esac
  else
    assert_eq "exit status (refused)" 1 "$status"
  fi
}

compare "clean message" 192.0.2.7 client.example.net a@pass.test
compare "HELO marked" 192.0.2.7 192.168.1.20 a@pass.test
compare "SPF refused at end of message" 192.0.2.7 client.example.net a@fail.test
compare "DNS blocklist quarantine" 192.0.2.66 client.example.net a@pass.test
compare "refused at connect" 203.0.113.66 client.example.net a@pass.test

test_case "usage and connection errors"
status=0; "$TRY" --helo x "$W/pass.eml" > /dev/null 2>&1 || status=$?
assert_eq "a missing option is status 2" 2 "$status"
status=0; "$TRY" -s /nonexistent.sock --client 192.0.2.7 --helo x --from a@b --rcpt c@d \
  "$W/pass.eml" > /dev/null 2>&1 || status=$?
assert_eq "no filter at the socket is status 2" 2 "$status"

sandbox_stop_mail_system
sandbox_finish
