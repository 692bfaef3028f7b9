#!/usr/bin/env bash
# How long a crash of the filter process costs: inside a private sandbox (the
# integration test harness) the daemon runs with SPF and the blocklist on;
# each round sends the filter process SIGSEGV and at once plays a message
# through the socket with teslo-try (as Sendmail would), again and again until
# one comes back scanned by the new filter process; it prints the time from
# the signal to that answer. A round without a crash gives teslo-try's own
# time. A message that reaches the dying process fails and is played again,
# as Sendmail would pass it on unfiltered.
#
# usage: sudo TESLO_BIN=build/teslo bench/filter_replacement.sh [ROUNDS]   (default 10)
. "$(dirname "${BASH_SOURCE[0]}")/../tests/integration/lib/sandbox.sh"
: "${TESLO_SOURCE_DIR:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export TESLO_SOURCE_DIR
sandbox_enter "$@"
rounds="${1:-10}"

sandbox_start_dns <(printf '7.2.0.192.bl.test. A 127.0.0.2\n')
mkdir -p /etc/mail/orvane
printf '%s\n' 'spf header' 'dnsbldou bl.test' 'dnsblserv header' > /etc/mail/orvane/orvane.conf
sandbox_start_teslo || { fail "daemon starts"; sandbox_finish; }
TRY="$(dirname "$TESLO_BIN")/teslo-try"
printf 'From: a@example.org\nTo: b@example.com\nSubject: t\n\nbody\n' > "$W/message"
now_ms() { date +%s%3N; }
send_scanned() {
  "$TRY" --client 192.0.2.7 --helo client.example.net --from a@example.org --rcpt b@example.com \
    "$W/message" 2> /dev/null | grep -q 'X-Mail-Scan-By'
}

start=$(now_ms)
send_scanned || fail "baseline message scanned"
echo "RESULT baseline_ms $(($(now_ms) - start))"
for ((round = 1; round <= rounds; round++)); do
  filter="$(pgrep -P "$SANDBOX_TESLO_PID" -x teslo-filter)"
  start=$(now_ms)
  kill -SEGV "$filter"
  until send_scanned; do sleep 0.001; done
  echo "RESULT crash_to_scanned_ms $(($(now_ms) - start))"
  sleep 13  # a sixth death within 60 s would stop the daemon
done
sandbox_finish
