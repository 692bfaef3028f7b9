#!/usr/bin/env bash
# How long a crash of the filter process costs: inside a private sandbox (the
# integration test harness) the daemon runs beside Sendmail with SPF and the
# blocklist on; each round sends the filter process SIGSEGV and, at once, a
# message, and measures the time from the signal until that message is
# accepted with the scan header (so it was filtered by the new process). The
# message's own SMTP round trip (about 0.1 s with swaks) is included; a round
# without a crash gives that baseline.
#
# usage: sudo TESLO_BIN=build/teslo bench/filter_replacement.sh [ROUNDS]   (default 10)
. "$(dirname "${BASH_SOURCE[0]}")/../tests/integration/lib/sandbox.sh"
: "${TESLO_SOURCE_DIR:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export TESLO_SOURCE_DIR
sandbox_enter "$@"
rounds="${1:-10}"

sandbox_start_dns <(printf '7.2.0.192.bl.test. A 127.0.0.2\n')
sandbox_start_mail_system 'spf header' 'dnsbldou bl.test' 'dnsblserv header' ||
  { fail "daemon and Sendmail start"; sandbox_finish; }
now_ms() { date +%s%3N; }
scanned() { qf_has_header 'X-Mail-Scan-By: KORVAL ver 0.2a5' "$(qf_for_id "$(smtp_queue_id)")"; }
send_scanned() { send_mail --from a@example.org --to b@example.com > /dev/null && scanned; }

start=$(now_ms)
send_scanned || fail "baseline message scanned"
echo "RESULT baseline_ms $(($(now_ms) - start))"
for ((round = 1; round <= rounds; round++)); do
  filter="$(pgrep -P "$SANDBOX_TESLO_PID" -x teslo-filter)"
  start=$(now_ms)
  kill -SEGV "$filter"
  until send_scanned; do :; done
  echo "RESULT crash_to_scanned_ms $(($(now_ms) - start))"
  sleep 11  # more than 5 deaths within 60 s would stop the daemon
done
sandbox_finish
