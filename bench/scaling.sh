#!/bin/bash
# How the daemon's cost grows with the work, beside the minimal libmilter
# filter, in one run:
#   1. address and name lists of 1,000 to 100,000 entries (messages/s at
#      concurrency 8 as a share of the minimal filter's; start-up time and
#      memory with 100,000 entries in every list);
#   2. the SPF result cache at 200,000 and 10 million entries
#      (spf_cache_size_bench: about 30 s and 1 GB of memory);
#   3. DNS answering after 50 ms and after 2 s: messages/s at concurrency 8,
#      64 and 256 against what the concurrency allows (concurrency / round
#      trip), and the latency a message gains at concurrency 1; with 50 ms,
#      the time the MTA waits on the filter per message for a client that
#      sends at once and for one that takes 60 ms to send its message;
#   4. 2,000 connections held open and idle while 8 others send mail, with
#      the daemon started under a soft open-file limit of 1024 (a service's
#      default).
# Needs root (private namespaces, as bench/load.sh); about 6 minutes.
#
# Usage: sudo bench/scaling.sh [--quick] [--only "N..."] [--build-dir DIR] [--teslo BINARY]
#   --quick   fewer messages and shorter DNS runs (checks the set-up)
#   --only    run these sections only, e.g. --only "1 3"
#   --teslo   measure this daemon binary instead (an older build, say)
set -u

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$SOURCE_DIR/build-bench"
QUICK=0
OTHER_TESLO=""
SECTIONS="1 2 3 4"
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) QUICK=1 ;;
    --build-dir) BUILD_DIR="$2"; shift ;;
    --teslo) OTHER_TESLO="$(realpath "$2")"; shift ;;
    --only) SECTIONS="$2"; shift ;;
    -h | --help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "scaling.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then echo "scaling.sh needs root (private namespaces)" >&2; exit 77; fi
  echo "== building (Release) in $BUILD_DIR"
  cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DTESLO_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null || exit 1
  cmake --build "$BUILD_DIR" -j2 --target teslo load_driver minimal_filter syslog_sink \
    spf_cache_size_bench >/dev/null || exit 1
  export TESLO_BIN="${OTHER_TESLO:-$BUILD_DIR/teslo}"
fi
. "$SOURCE_DIR/tests/integration/lib/sandbox.sh"
args=(--build-dir "$BUILD_DIR" --only "$SECTIONS")
[ "$QUICK" = 1 ] && args+=(--quick)
[ -n "$OTHER_TESLO" ] && args+=(--teslo "$OTHER_TESLO")
sandbox_enter "${args[@]}"

# ---- inside the sandbox from here on ----

BIN_DIR="$BUILD_DIR"
DRIVER="$BIN_DIR/bench/load_driver"
MINIMAL="$BIN_DIR/bench/minimal_filter"
if [ "$QUICK" = 1 ]; then MESSAGES=800; DNS_SECONDS=4; else MESSAGES=4000; DNS_SECONDS=12; fi
FAILED=0

. "$SOURCE_DIR/tests/integration/load_setup.sh"
load_setup || exit 1
sandbox_kill_pid "$SANDBOX_SYSLOG_PID" 5
rm -f /dev/log
"$BIN_DIR/bench/syslog_sink" /dev/log "$W/log/bench-syslog.log" &
sandbox_track_pid $!
wait_until 10 test -S /dev/log || { echo "syslog_sink did not start" >&2; exit 1; }

# The daemon starts as a service does by default: 1024 open files, more
# allowed. The driver may hold thousands.
ulimit -Sn 1024
DRIVER_FILES="$(ulimit -Hn)"

# field NAME LINE: the value of NAME= on a RESULT line.
field() { tr ' ' '\n' <<< "$2" | awk -F= -v k="$1" '$1 == k { print $2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

FILTER_PID=""
SOCKET=""
start_minimal() {
  rm -f /var/run/minimal.pid
  "$MINIMAL" /var/run/minimal.sock /var/run/minimal.pid > "$W/log/minimal.log" 2>&1 &
  sandbox_track_pid $!
  wait_until 10 test -s /var/run/minimal.pid || { echo "minimal filter did not start" >&2; return 1; }
  FILTER_PID="$(cat /var/run/minimal.pid)"
  SOCKET=/var/run/minimal.sock
}
stop_minimal() { sandbox_kill_pid "$FILTER_PID" 10; }

STARTUP_SECONDS=""
start_teslo() {
  local started
  started="$(date +%s.%N)"
  sandbox_start_teslo || { echo "the daemon did not start" >&2; FAILED=1; return 1; }
  STARTUP_SECONDS="$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')"
  FILTER_PID="$(sandbox_filter_pid)"
  SOCKET=/var/run/teslo.sock
}
stop_teslo() { sandbox_stop_teslo > /dev/null; }

# drive LABEL CONCURRENCY [DRIVER_OPTION...]: one run; prints its RESULT line.
drive() {
  local label="$1" conc="$2" out
  shift 2
  out="$(ulimit -Sn "$DRIVER_FILES"; "$DRIVER" --socket "$SOCKET" --pid "$FILTER_PID" \
    --connections "$conc" --label "$label" "${DRIVER_MESSAGE[@]}" "$@" 2>&1)" || {
    echo "$out" | grep -v '^RESULT' | sed 's/^/    /' >&2
    FAILED=1
  }
  grep '^RESULT ' <<< "$out" | tail -1
}

# Lines of a list key: N entries that the benchmark's message never matches.
entries() {  # KEY COUNT KIND
  awk -v key="$1" -v n="$2" -v kind="$3" 'BEGIN {
    for (i = 0; i < n; i++) {
      if (kind == "ip") printf "%s 10.%d.%d.%d/32\n", key, int(i / 65536) % 256, int(i / 256) % 256, i % 256
      else if (kind == "name") printf "%s .h%d.nomatch.test\n", key, i
      else printf "%s u%d@nomatch%d.test\n", key, i, i
    } }'
}

# configure_lists KEY:COUNT:KIND...: every check's action off (as bench/load.sh "off":
# the lists are consulted whatever the actions, the blocklist is asked and
# SPF answered from its cache), no copy rule, plus COUNT entries of KIND
# (ip, name or address) for each list KEY.
configure_lists() {
  write_config 'helocheck off' 'tocheck off' 'spf off' 'ddns off' 'disposition off' \
    'dnsblserv off' 'dnsbldou bl.test' 'ttl 10h'
  local list key count kind
  for list in "$@"; do
    IFS=: read -r key count kind <<< "$list"
    entries "$key" "$count" "$kind" >> /etc/mail/orvane/orvane.conf
  done
  write_rules
}

per_conn=$(( MESSAGES / 8 ))

section_1() {
echo
echo "== 1. lists, every check's action off (concurrency 8, $MESSAGES messages; share of the minimal filter's messages/s)"
start_minimal || return
drive warmup 1 --messages 100 > /dev/null
base="$(drive minimal 8 --messages "$per_conn")"
base_rate="$(field rate "$base")"
base_new="$(drive minimal-reconnect 8 --messages "$per_conn" --reconnect)"
base_new_rate="$(field rate "$base_new")"
stop_minimal
printf '  %-52s %9s msgs/s\n' "minimal filter" "$base_rate"
printf '  %-52s %9s msgs/s\n' "minimal filter, one message per connection" "$base_new_rate"

list_case() {  # LABEL RECONNECT KEY:COUNT:KIND...
  local label="$1" reconnect="$2" result rss extra=()
  shift 2
  [ "$reconnect" = 1 ] && extra=(--reconnect)
  configure_lists "$@"
  start_teslo || return
  rss="$(awk '/^VmRSS/ { print $2 }' "/proc/$FILTER_PID/status")"
  drive warmup 1 --messages 100 > /dev/null
  result="$(drive "$label" 8 --messages "$per_conn" "${extra[@]}")"
  stop_teslo
  local against="$base_rate"
  [ "$reconnect" = 1 ] && against="$base_new_rate"
  printf '  %-52s %9s msgs/s  %s of minimal  start-up %s s  RSS after start %s kB\n' "$label" \
    "$(field rate "$result")" "$(ratio "$(field rate "$result")" "$against")" "$STARTUP_SECONDS" "$rss"
}
list_case "every list empty" 0
for n in 1000 10000 100000; do
  list_case "whitelistfrom + whitelistto, $n each" 0 "whitelistfrom:$n:address" "whitelistto:$n:address"
done
for n in 10000 100000; do
  list_case "whitelistptr + blacklistptr, $n each" 0 "whitelistptr:$n:name" "blacklistptr:$n:name"
done
list_case "blacklistip 100000, one message per connection" 1 "blacklistip:100000:ip"
list_case "all six lists, 100000 each" 0 "whitelistip:100000:ip" "blacklistip:100000:ip" \
  "whitelistptr:100000:name" "blacklistptr:100000:name" "whitelistfrom:100000:address" \
  "whitelistto:100000:address"
}

section_2() {
echo
echo "== 2. SPF result cache"
"$BIN_DIR/bench/spf_cache_size_bench" 2>&1 | sed 's/^/  /'
}

section_3() {
echo
echo "== 3. DNS answering late (SPF cache off, so every message asks both questions)"
sandbox_kill_pid "$(cat "$W/dnsmasq.pid")" 5
printf '%s A 127.0.0.2\n%s TXT "%s"\n' "$LOAD_BLOCKLIST_ENTRY" "$LOAD_SPF_DOMAIN" \
  "$LOAD_SPF_RECORD" > "$W/records"
write_config "${CHECKS_HEADER[@]}" 'ttl 0'
write_rules "${COPY_RULES[@]}"
for delay in 0.05 2; do
  rm -f "$W/dns.ready"
  /usr/bin/python3 "$SOURCE_DIR/bench/delayed_dns.py" "$W/records" "$delay" "$W/dns.ready" \
    > "$W/log/delayed-dns.log" 2>&1 &
  dns_pid=$!
  sandbox_track_pid "$dns_pid"
  wait_until 10 test -s "$W/dns.ready" || { echo "delayed DNS did not start" >&2; exit 1; }
  start_teslo || exit 1
  concurrencies="8 64 256"
  [ "$delay" = 0.05 ] && concurrencies="1 $concurrencies"
  for conc in $concurrencies; do
    result="$(drive "dns-$delay/$conc" "$conc" --messages 1000000 --time-limit "$DNS_SECONDS" \
      --reply-timeout 30000)"
    ideal="$(awk -v c="$conc" -v d="$delay" 'BEGIN { printf "%.1f", c / d }')"
    printf '  answers after %4s s, concurrency %3s: %8s msgs/s (one round trip a message allows %s)  p50 %s ms  p95 %s ms  p99 %s ms\n' \
      "$delay" "$conc" "$(field rate "$result")" "$ideal" "$(field p50_ms "$result")" \
      "$(field p95_ms "$result")" "$(field p99_ms "$result")"
  done
  # The time the MTA waits on the filter per message, for a client that
  # sends at once and for one that takes 60 ms from MAIL FROM to the end of
  # its data (DNS answers while the client sends).
  if [ "$delay" = 0.05 ]; then
    for client_delay in 0 60; do
      result="$(drive "dns-$delay/wait-$client_delay" 8 --messages 1000000 \
        --time-limit "$DNS_SECONDS" --reply-timeout 30000 --client-delay "$client_delay")"
      printf '  answers after %4s s, client taking %2s ms, concurrency 8: the MTA waits on the filter p50 %s ms  p99 %s ms per message\n' \
        "$delay" "$client_delay" "$(field wait_p50_ms "$result")" "$(field wait_p99_ms "$result")"
    done
  fi
  stop_teslo
  sandbox_kill_pid "$dns_pid" 5
done
start_dnsmasq "$LOAD_SPF_RECORD" || exit 1
start_minimal || exit 1
result="$(drive minimal/1 1 --messages 200)"
stop_minimal
echo "  minimal filter, concurrency 1: p50 $(field p50_ms "$result") ms (a message's latency without DNS)"
}

section_4() {
echo
echo "== 4. 2000 idle connections held open (daemon started with soft open-file limit $(ulimit -Sn))"
configure_lists
start_teslo || return
echo "  the daemon's open-file limit: $(awk '/^Max open files/ { print $4 " soft, " $5 " hard" }' "/proc/$FILTER_PID/limits")"
quiet="$(drive idle-0 8 --messages "$per_conn")"
stalled="$(drive idle-2000 8 --messages "$per_conn" --stall 2000 --idle 5)"
stop_teslo
printf '  %-40s %9s msgs/s  CPU s/10k msgs %s\n' "no idle connection" "$(field rate "$quiet")" "$(field cpu_per_10k "$quiet")"
printf '  %-40s %9s msgs/s  CPU s/10k msgs %s  (%s held)\n' "2000 idle connections" "$(field rate "$stalled")" \
  "$(field cpu_per_10k "$stalled")" "$(field stalled "$stalled")"
echo "  the daemon's CPU while the 2000 connections sat idle for 5 s before that run: $(field idle_cpu_s "$stalled") s"
}

for section in $SECTIONS; do "section_$section"; done

[ "$FAILED" = 0 ] || { echo "some runs failed (see above)"; exit 1; }
