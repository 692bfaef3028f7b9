#!/usr/bin/env bash
# Concurrency soak of the real daemon under a sanitizer, inside the
# integration-test sandbox (tests/integration/lib/: private namespaces, the
# daemon at its fixed paths, nothing on the host touched; needs root).
#
# For each sanitizer asked for, it builds the daemon and the milter load
# driver (bench/milter_driver) in their own build directory, starts the daemon
# with every check on (action "header"), a blocklist entry and an SPF record
# for the client from dnsmasq, and two matching copy rules, and then at once:
#   - the load driver: --connections connections sending --messages messages
#     in all, every --drop-every-th message of a connection cut off by closing
#     the connection (after MAIL, after RCPT, in the headers, in the body) and
#     every --abort-every-th abandoned with the abort command;
#   - SIGUSR1 to the daemon every few milliseconds (copy-rule reloads);
#   - a sample of the filter process's VmRSS five times a second.
# Then it stops the daemon with SIGTERM and checks: every message that was not
# cut off on purpose answered, without protocol error, with all of its
# end-of-message changes (two copy recipients each); the daemon alive until
# the stop and ending with status 0; no sanitizer report (the daemon detaches,
# so reports go to files under the work directory, read after the stop,
# leak check at exit included for AddressSanitizer); and no memory growth:
# VmRSS at the end within --rss-margin kB of VmRSS after a warm-up of a
# quarter as many messages (every message uses the same client and sender,
# so the SPF cache holds one entry; AddressSanitizer's quarantine of freed
# blocks is capped at 4 MB so that the warm-up fills it).
#
# usage: scripts/soak.sh [--sanitizer asan|tsan|none|all] [--messages N] [--connections N]
#                        [--drop-every K] [--abort-every K] [--signal-interval S]
#                        [--rss-margin KB] [--build-dir DIR] [--driver PATH]
#   --sanitizer      asan (AddressSanitizer + UndefinedBehaviorSanitizer, build
#                    build-soak-asan), tsan (ThreadSanitizer, build-soak-tsan),
#                    none (the plain daemon, build-soak-none: its VmRSS is the
#                    production figure) or all three one after another (default)
#   --messages N     messages in all (default 50000), split over the connections
#   --connections N  concurrent connections (default 64)
#   --drop-every K   cut off every K-th message of each connection (default 13)
#   --abort-every K  abandon every K-th message of each connection (default 10)
#   --signal-interval S  seconds between two SIGUSR1 (default 0.005)
#   --rss-margin KB  allowed VmRSS growth after the warm-up (default: a fifth of
#                    the figure after the warm-up, at least 2048 kB; two fifths
#                    under asan and tsan, whose allocators swing by MBs)
#   --build-dir DIR  build directory (one sanitizer only; default build-soak-<san>)
#   --driver PATH    a load driver already built (default: built in the build dir)
#
# The long run (each sanitizer and the plain daemon, 50,000 messages each,
# about 5 minutes with the builds on the 2-core VM):   sudo scripts/soak.sh
# A short one:      sudo scripts/soak.sh --sanitizer asan --messages 3000
# tests/integration/soak_short.test.sh runs the short one in the test command.
# Exit status 0 when every check passed.
set -u

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SANITIZER=all
MESSAGES=50000
CONNECTIONS=64
DROP_EVERY=13
ABORT_EVERY=10
SIGNAL_INTERVAL=0.005
RSS_MARGIN=""
BUILD_DIR=""
DRIVER=""
INSIDE_SETARCH=0
ARGS=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitizer) SANITIZER="$2"; shift ;;
    --messages) MESSAGES="$2"; shift ;;
    --connections) CONNECTIONS="$2"; shift ;;
    --drop-every) DROP_EVERY="$2"; shift ;;
    --abort-every) ABORT_EVERY="$2"; shift ;;
    --signal-interval) SIGNAL_INTERVAL="$2"; shift ;;
    --rss-margin) RSS_MARGIN="$2"; shift ;;
    --build-dir) BUILD_DIR="$2"; shift ;;
    --driver) DRIVER="$2"; shift ;;
    --inside-setarch) INSIDE_SETARCH=1 ;;
    -h | --help) sed -n '2,43p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

# ------------------------------------------------------------- outside --

if [ "${SANDBOX_INSIDE:-}" != 1 ] && [ "$INSIDE_SETARCH" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then echo "soak.sh needs root (private namespaces)" >&2; exit 77; fi
  case "$SANITIZER" in
    all)
      if [ -n "$BUILD_DIR" ]; then echo "soak.sh: --build-dir needs one sanitizer" >&2; exit 2; fi
      status=0
      for one in asan tsan none; do bash "$0" "${ARGS[@]}" --sanitizer "$one" || status=1; done
      exit "$status" ;;
    asan) option=-DTESLO_SANITIZE=ON ;;
    tsan) option=-DTESLO_TSAN=ON ;;
    none) option=-DTESLO_SANITIZE=OFF ;;
    *) echo "soak.sh: --sanitizer asan, tsan, none or all" >&2; exit 2 ;;
  esac
  BUILD_DIR="${BUILD_DIR:-$SOURCE_DIR/build-soak-$SANITIZER}"
  targets=(teslo)
  [ -z "$DRIVER" ] && targets+=(load_driver)
  echo "== building the daemon with $SANITIZER in $BUILD_DIR"
  started=$SECONDS
  mkdir -p "$BUILD_DIR"
  cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" "$option" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF > "$BUILD_DIR/soak-configure.log" 2>&1 ||
    { cat "$BUILD_DIR/soak-configure.log" >&2; exit 1; }
  cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target "${targets[@]}" > "$BUILD_DIR/soak-build.log" 2>&1 ||
    { tail -n 40 "$BUILD_DIR/soak-build.log" >&2; exit 1; }
  echo "   built in $((SECONDS - started)) s"
  export TESLO_BIN="$BUILD_DIR/teslo"
  [ -z "$DRIVER" ] && DRIVER="$BUILD_DIR/bench/load_driver"
  DRIVER="$(readlink -f "$DRIVER")"
  ARGS=(--sanitizer "$SANITIZER" --messages "$MESSAGES" --connections "$CONNECTIONS"
        --drop-every "$DROP_EVERY" --abort-every "$ABORT_EVERY" --signal-interval "$SIGNAL_INTERVAL"
        --rss-margin "$RSS_MARGIN" --build-dir "$BUILD_DIR" --driver "$DRIVER")
  # ThreadSanitizer maps its shadow memory at fixed places: run the sandbox
  # (and so the daemon) without address-space randomisation.
  if [ "$SANITIZER" = tsan ] && command -v setarch > /dev/null; then
    exec setarch "$(uname -m)" -R bash "$0" "${ARGS[@]}" --inside-setarch
  fi
fi
. "$SOURCE_DIR/tests/integration/lib/sandbox.sh"
sandbox_enter "${ARGS[@]}"

# -------------------------------------------------------------- inside --

echo "== soak under $SANITIZER: $CONNECTIONS connections, $MESSAGES messages," \
  "every ${DROP_EVERY}th cut off, every ${ABORT_EVERY}th abandoned, SIGUSR1 every $SIGNAL_INTERVAL s"

# Reports go to files: the daemon's standard error is the null device.
mkdir -p "$W/log/sanitizer"
chmod 777 "$W/log/sanitizer"
export ASAN_OPTIONS="log_path=$W/log/sanitizer/asan:detect_leaks=1:quarantine_size_mb=4:thread_local_quarantine_size_kb=64:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="log_path=$W/log/sanitizer/ubsan:print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="log_path=$W/log/sanitizer/lsan:${LSAN_OPTIONS:-}"
# Reports about glibc and libmilter themselves, matched by their own
# function names so that no report with a frame of the daemon's code is
# hidden: glibc's resolver configuration array, which getaddrinfo grows under
# an internal lock that ThreadSanitizer does not see; libmilter's shutdown of
# its listener; its signal thread, which it never joins and which still holds
# a libmilter mutex while exit handlers destroy it.
cat > "$W/tsan.supp" <<'EOF'
race:__libc_dynarray_emplace_enlarge
race:mi_closener
mutex:mi_stop_milters
thread:mi_control_startup
race:cxa_at_exit_wrapper
EOF
export TSAN_OPTIONS="log_path=$W/log/sanitizer/tsan:second_deadlock_stack=1:halt_on_error=0:suppressions=$W/tsan.supp:${TSAN_OPTIONS:-}"

# dnsmasq answers the blocklist and SPF queries (the harness's Python server
# answers a few thousand queries a second; the daemon asks two per message).
# Every check on with the action "header", lists that do not match, two
# matching copy rules (tests/integration/load_setup.sh).
. "$SOURCE_DIR/tests/integration/load_setup.sh"
load_setup || { fail "dnsmasq, sendmail.cf and the configuration directories are set up"; sandbox_finish; }
write_config "${CHECKS_HEADER[@]}" "${UNMATCHED_LISTS[@]}"
write_rules "${COPY_RULES[@]}"

sandbox_start_teslo || { fail "the $SANITIZER daemon starts"; sandbox_finish; }
PID="$SANDBOX_TESLO_PID"
# The process that serves the connections, whose memory the soak watches:
# the filter process under the root monitor (the daemon itself without one).
FILTER_PID="$(sandbox_filter_pid)"

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null; }
result_field() {
  grep -E '^RESULT ' "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k { print $2 }'
}
verdict_count() { grep -E '^  verdicts:' "$1" | grep -oE "$2 [0-9]+" | awk '{print $2}'; }
reply_count() { grep -E '^  replies by kind:' "$1" | grep -oE "'$2' [0-9]+" | awk '{print $2}'; }

# SIGUSR1 every few milliseconds from the warm-up to the end of the run.
(
  count=0
  while [ ! -e "$W/soak.done" ] && kill -USR1 "$PID" 2>/dev/null; do
    count=$((count + 1))
    sleep "$SIGNAL_INTERVAL"
  done
  echo "$count" > "$W/signals.sent"
) &
SIGNALLER=$!
sandbox_track_pid "$SIGNALLER"
# Warm-up, the same load, a quarter of the messages (at
# least 20 per connection): the SPF cache gets its entry, libmilter its
# threads, the allocators (and AddressSanitizer's quarantine of freed blocks)
# their pools.
warmup_messages=$((MESSAGES / 4 / CONNECTIONS))
[ "$warmup_messages" -lt 20 ] && warmup_messages=20
"$DRIVER" --socket /var/run/teslo.sock --connections "$CONNECTIONS" --messages "$warmup_messages" \
  --drop-every "$DROP_EVERY" --abort-every "$ABORT_EVERY" \
  --time-limit 3600 --reply-timeout 60000 --label warmup "${DRIVER_MESSAGE[@]}" > "$W/log/warmup.log" 2>&1
assert_eq "warm-up: $((warmup_messages * CONNECTIONS)) messages answered" 0 "$?"
sleep 1
RSS_WARM="$(rss_kb "$FILTER_PID")"

# VmRSS five times a second.
(
  while [ ! -e "$W/soak.done" ]; do
    echo "$SECONDS $(rss_kb "$FILTER_PID")" >> "$W/log/rss.log"
    sleep 0.2
  done
) &
SAMPLER=$!
sandbox_track_pid "$SAMPLER"

test_case "$MESSAGES messages over $CONNECTIONS connections with SIGUSR1 every $SIGNAL_INTERVAL s"
per_connection=$(((MESSAGES + CONNECTIONS - 1) / CONNECTIONS))
started=$SECONDS
"$DRIVER" --socket /var/run/teslo.sock --pid "$FILTER_PID" --connections "$CONNECTIONS" \
  --messages "$per_connection" --drop-every "$DROP_EVERY" --abort-every "$ABORT_EVERY" \
  --time-limit 3600 --reply-timeout 60000 --label "soak-$SANITIZER" "${DRIVER_MESSAGE[@]}" \
  > "$W/log/driver.log" 2>&1
status=$?
DURATION=$((SECONDS - started))
RSS_END="$(rss_kb "$FILTER_PID")"
touch "$W/soak.done"
wait "$SIGNALLER" "$SAMPLER" 2>/dev/null
sed 's/^/  driver: /' "$W/log/driver.log"
total=$((per_connection * CONNECTIONS))
dropped="$(verdict_count "$W/log/driver.log" dropped)"
aborted="$(verdict_count "$W/log/driver.log" aborted)"
continued="$(verdict_count "$W/log/driver.log" continue)"
assert_eq "driver exit status (every message answered)" 0 "$status"
assert_eq "messages started" "$total" "$(result_field "$W/log/driver.log" messages)"
assert_eq "protocol errors and timeouts" 0 "$(result_field "$W/log/driver.log" errors)"
assert_eq "every message not cut off or abandoned passed with its changes" \
  "$((total - dropped - aborted))" "$continued"
assert_eq "two copy recipients for every delivered message" "$((2 * continued))" \
  "$(reply_count "$W/log/driver.log" '\+')"
assert_ok "some messages were cut off mid-message" test "${dropped:-0}" -gt 0
assert_ok "the daemon still runs" sandbox_pid_alive "$PID"
SIGNALS="$(cat "$W/signals.sent" 2>/dev/null || echo 0)"
RELOADS="$(log_count mail.info 'TESLO reload')"
assert_ok "reloads happened during the run ($SIGNALS signals, $RELOADS reloads)" test "$RELOADS" -gt 0
assert_no_log mail.crit 'XML configure error:'

test_case "memory"
if [ -z "$RSS_MARGIN" ]; then
  RSS_MARGIN=$((RSS_WARM / 5))
  # The sanitizers' allocators (quarantine, shadow, per-thread caches) make
  # VmRSS swing by several MB; their leak checks catch what this cannot.
  [ "$SANITIZER" != none ] && RSS_MARGIN=$((RSS_WARM * 2 / 5))
  [ "$RSS_MARGIN" -lt 2048 ] && RSS_MARGIN=2048
fi
RSS_MAX="$(awk '$2 > m { m = $2 } END { print m + 0 }' "$W/log/rss.log")"
echo "  VmRSS after warm-up ${RSS_WARM} kB, at the end ${RSS_END} kB, highest sample ${RSS_MAX} kB"
echo "  VmRSS over the run (kB, ten samples): $(awk '{ v[NR] = $2 } END { for (i = 1; i <= 10; i++) printf "%s ", v[int((NR - 1) * i / 10) + 1] }' "$W/log/rss.log")"
assert_ok "VmRSS at the end within $RSS_MARGIN kB of the warm-up figure" \
  test "$((RSS_END - RSS_WARM))" -le "$RSS_MARGIN"

test_case "stop and sanitizer reports"
sandbox_stop_teslo > /dev/null
assert_eq "exit status after SIGTERM" 0 "$?"
assert_log mail.notice "KORVAL $("$TESLO_BIN" --version | cut -d' ' -f2) exiting"
reports=("$W"/log/sanitizer/*)
if [ -e "${reports[0]}" ]; then
  fail "no sanitizer report" "$(ls "$W"/log/sanitizer)"
  for f in "${reports[@]}"; do echo "---- $f"; head -n 80 "$f"; done
else
  pass "no sanitizer report"
fi

echo "SOAK sanitizer=$SANITIZER messages=$total connections=$CONNECTIONS duration_s=$DURATION" \
  "dropped=${dropped:-0} aborted=${aborted:-0} delivered=${continued:-0} signals=$SIGNALS reloads=$RELOADS" \
  "rss_warm_kb=$RSS_WARM rss_end_kb=$RSS_END rss_max_kb=$RSS_MAX reports=$(ls "$W"/log/sanitizer | wc -l)"
sandbox_finish
