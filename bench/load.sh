#!/usr/bin/env bash
# Milter-protocol load benchmark: drives the daemon with every check off,
# the daemon with every check on, and the minimal libmilter filter (the
# ceiling of any libmilter filter here) with bench load_driver, at several
# concurrencies, and prints the medians and each configuration's ratio to the
# minimal filter. Everything runs in one go inside a private sandbox (the
# integration test harness), since the daemon works at its fixed paths.
#
# usage: bench/load.sh [--quick] [--metrics] [--runs N] [--messages N] [--concurrency "1 8 64"]
#                      [--baseline BINARY [--attachment]] [--build-dir DIR] [--keep-results FILE]
#   --runs N         runs per configuration and concurrency (default 5; median taken)
#   --messages N     messages per run, split over the connections (default 6400)
#   --quick          1 run of 640 messages (a smoke check of the whole set-up)
#   --metrics        also "metrics": every check on and the metrics file written
#                    (orvane.conf metricsfile), compared with "on" at concurrency 8
#   --baseline BIN   compare with another daemon binary (an older build): "on" and
#                    "baseline" (every check on, SPF answered from the cache), then
#                    "miss" and "baseline-miss" (the same with ttl 0: every message
#                    a fresh SPF evaluation), taking turns run by run
#   --attachment     with --baseline: instead of "miss", "zip" and "baseline-zip":
#                    every check on, a 200 KB message carrying a base64 zip of
#                    100 members (listed by this tree's daemon)
#   --build-dir DIR  Release build directory (default build-bench beside the sources)
#   --keep-results F also write every RESULT line to F
# Needs root (namespaces). Exit status 0 when every message of every run was
# answered without error; the speed goals are reported, not enforced.
set -u

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RUNS=5
MESSAGES=6400
CONCURRENCY="1 8 64"
BUILD_DIR="$SOURCE_DIR/build-bench"
KEEP_RESULTS=""
BASELINE=""
CONFIGS="off on minimal"
ATTACHMENT=0
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) RUNS=1; MESSAGES=640 ;;
    --metrics) CONFIGS="off on metrics minimal" ;;
    --baseline) BASELINE="$(realpath "$2")"; CONFIGS="on baseline miss baseline-miss"; shift ;;
    --attachment) ATTACHMENT=1 ;;
    --runs) RUNS="$2"; shift ;;
    --messages) MESSAGES="$2"; shift ;;
    --concurrency) CONCURRENCY="$2"; shift ;;
    --build-dir) BUILD_DIR="$2"; shift ;;
    --keep-results) KEEP_RESULTS="$2"; shift ;;
    -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "load.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ "$ATTACHMENT" = 1 ] && [ -n "$BASELINE" ] && CONFIGS="on baseline zip baseline-zip"

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  # Outside the sandbox: build the three programs, then re-enter this script
  # inside the namespaces (sandbox_enter does that and exits with its status).
  if [ "$(id -u)" != 0 ]; then echo "load.sh needs root (private namespaces)" >&2; exit 77; fi
  echo "== building (Release) in $BUILD_DIR"
  cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DTESLO_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null || exit 1
  cmake --build "$BUILD_DIR" -j2 --target teslo load_driver minimal_filter syslog_sink >/dev/null || exit 1
  export TESLO_BIN="$BUILD_DIR/teslo"
fi
. "$SOURCE_DIR/tests/integration/lib/sandbox.sh"
[ "$CONFIGS" = "off on metrics minimal" ] && metrics_option=--metrics
[ -n "$BASELINE" ] && metrics_option="--baseline $BASELINE"
[ "$ATTACHMENT" = 1 ] && metrics_option="${metrics_option:-} --attachment"
sandbox_enter ${metrics_option:-} --runs "$RUNS" --messages "$MESSAGES" --concurrency "$CONCURRENCY" \
  --build-dir "$BUILD_DIR" ${KEEP_RESULTS:+--keep-results "$KEEP_RESULTS"}

# ---------------------------------------------------------------- inside --

BIN_DIR="$(dirname "$TESLO_BIN")"
DRIVER="$BIN_DIR/bench/load_driver"
MINIMAL="$BIN_DIR/bench/minimal_filter"
RESULTS="$W/results"
: > "$RESULTS"
FAILED=0

. "$SOURCE_DIR/tests/integration/load_setup.sh"
load_setup || exit 1

# The attachment message: a 200 KB body, a short text part and a base64 zip
# of 100 members with harmless names (each member 1.4 KB that does not
# compress), so that every one of them is listed.
python3 - "$W/zip-body.txt" <<'PY'
import base64, io, random, sys, zipfile
rng = random.Random(7)
z = io.BytesIO()
with zipfile.ZipFile(z, "w", zipfile.ZIP_DEFLATED) as f:
    for n in range(100):
        f.writestr("report-%03d.pdf" % n, bytes(rng.getrandbits(8) for _ in range(1400)))
text = base64.b64encode(z.getvalue()).decode()
lines = [text[i:i + 76] for i in range(0, len(text), 76)]
body = ("--=_b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nThe reports are attached.\r\n"
        "--=_b\r\nContent-Type: application/zip; name=\"reports.zip\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"reports.zip\"\r\n\r\n"
        + "\r\n".join(lines) + "\r\n--=_b--\r\n")
open(sys.argv[1], "w", newline="").write(body)
PY
ZIP_MESSAGE=("${DRIVER_MESSAGE[@]}" --body-file "$W/zip-body.txt"
  --content-type 'multipart/mixed; boundary="=_b"')

# The sandbox's Python syslog receiver writes every line unbuffered; a real
# syslog daemon buffers. Put the lean receiver on /dev/log for the runs.
sandbox_kill_pid "$SANDBOX_SYSLOG_PID" 5
rm -f /dev/log
"$BIN_DIR/bench/syslog_sink" /dev/log "$W/log/bench-syslog.log" &
sandbox_track_pid $!
wait_until 10 test -S /dev/log || { echo "syslog_sink did not start" >&2; exit 1; }

FILTER_PID=""
SOCKET=""
start_filter() {
  case "$1" in
    off | on | metrics | baseline | miss | baseline-miss | zip | baseline-zip)
      local binary="$TESLO_BIN"
      case "$1" in
        baseline | baseline-zip) binary="$BASELINE"; configure_on ;;
        zip) configure_on ;;
        miss) configure_on; echo 'ttl 0' >> /etc/mail/orvane/orvane.conf ;;
        baseline-miss) binary="$BASELINE"; configure_on; echo 'ttl 0' >> /etc/mail/orvane/orvane.conf ;;
        *) "configure_$1" ;;
      esac
      TESLO_BIN="$binary" sandbox_start_teslo || { echo "the daemon did not start" >&2; return 1; }
      # The process that serves (the filter process, where the daemon has one).
      FILTER_PID="$(sandbox_filter_pid)"
      SOCKET=/var/run/teslo.sock ;;
    minimal)
      rm -f /var/run/minimal.pid
      "$MINIMAL" /var/run/minimal.sock /var/run/minimal.pid > "$W/log/minimal.log" 2>&1 &
      sandbox_track_pid $!
      wait_until 10 test -s /var/run/minimal.pid || { echo "minimal filter did not start" >&2; return 1; }
      FILTER_PID="$(cat /var/run/minimal.pid)"
      SOCKET=/var/run/minimal.sock ;;
  esac
}

stop_filter() {
  case "$1" in
    off | on | metrics | baseline | miss | baseline-miss | zip | baseline-zip) sandbox_stop_teslo > /dev/null ;;
    minimal) sandbox_kill_pid "$FILTER_PID" 10 ;;
  esac
}

# CPU seconds of the spawners and their workers, SPF evaluation processes
# and archive listers (with each spawner's reaped children): the driver
# reads the daemon's own only.
helper_cpu() {
  local d ticks=0 comm stat
  for d in /proc/[0-9]*; do
    comm="$(cat "$d/comm" 2>/dev/null)" || continue
    case "$comm" in teslo-spf | teslo-spawner | teslo-archive | teslo-arspawner) ;; *) continue ;; esac
    stat="$(cat "$d/stat" 2>/dev/null)" || continue
    stat="${stat##*) }"
    ticks=$((ticks + $(awk '{ print $12 + $13 + $14 + $15 }' <<< "$stat")))
  done
  awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }'
}

run_driver() {  # config concurrency messages-per-connection
  local message=("${DRIVER_MESSAGE[@]}")
  case "$1" in zip | baseline-zip) message=("${ZIP_MESSAGE[@]}") ;; esac
  "$DRIVER" --socket "$SOCKET" --pid "$FILTER_PID" --reset-peak --connections "$2" \
    --messages "$3" --time-limit 300 --label "$1/$2" "${message[@]}"
}

# With --metrics the configurations take turns run by run (each run its own
# start), so that the load of a shared machine falls on "on" and "metrics"
# alike; otherwise each configuration does all its runs in one start.
ROUNDS=1
RUNS_PER_START="$RUNS"
if [ "$CONFIGS" != "off on minimal" ]; then
  ROUNDS="$RUNS"
  RUNS_PER_START=1
fi
for ((round = 1; round <= ROUNDS; round++)); do
  for config in $CONFIGS; do
    echo "== $config"
    start_filter "$config" || { FAILED=1; continue; }
    # Warm-up: the first message fills the SPF cache; the rest of the run
    # warms the caches of the machine.
    run_driver "$config" 1 200 > "$W/log/warmup-$config.log" 2>&1 ||
      { echo "warm-up against $config failed:" >&2; cat "$W/log/warmup-$config.log" >&2; FAILED=1; }
    for conc in $CONCURRENCY; do
      per_connection=$(( (MESSAGES + conc - 1) / conc ))
      for ((run = 1; run <= RUNS_PER_START; run++)); do
        helpers_before="$(helper_cpu)"
        out="$(run_driver "$config" "$conc" "$per_connection")"
        status=$?
        helpers_after="$(helper_cpu)"
        echo "$out" | grep '^RESULT ' | awk -v b="$helpers_before" -v a="$helpers_after" '
          { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == "answered") n = kv[2] }
            printf "%s helper_cpu_per_10k=%.4f\n", $0, (n > 0 ? (a - b) * 10000 / n : 0) }' >> "$RESULTS"
        if [ "$status" != 0 ]; then
          echo "$out" >&2
          FAILED=1
        fi
        echo "$out" | grep -E '^  (messages/s|verdicts)' | sed "s|^|  $config c=$conc run $(( ROUNDS > 1 ? round : run )):|"
      done
    done
    stop_filter "$config"
  done
done

[ -n "$KEEP_RESULTS" ] && cp "$RESULTS" "$KEEP_RESULTS"

# Medians per configuration and concurrency, and ratios to the minimal filter.
echo
echo "== medians of $RUNS run(s), $MESSAGES messages each; ratios to the minimal filter in the same run"
awk -v concs="$CONCURRENCY" -v config_list="$CONFIGS" '
  function field(name,   i, kv) {
    for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == name) return kv[2] }
    return ""
  }
  function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] + 0 > t + 0; j--) a[j + 1] = a[j]; a[j + 1] = t }
    if (n == 0) return 0
    return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  /^RESULT / {
    key = field("label")
    for (k = 1; k <= 7; k++) {
      name = (k == 1) ? "rate" : (k == 2) ? "p50_ms" : (k == 3) ? "p95_ms" : (k == 4) ? "p99_ms" : (k == 5) ? "cpu_per_10k" : (k == 6) ? "peak_rss_kb" : "helper_cpu_per_10k"
      values[key, name] = values[key, name] " " field(name)
    }
    errors[key] += field("errors")
  }
  END {
    printf "%-8s %5s %9s %8s %8s %8s %10s %9s %9s %8s %6s\n", "config", "conc", "msgs/s", "p50 ms", "p95 ms", "p99 ms", "cpu s/10k", "peak kB", "rate/min", "cpu/min", "errors"
    nc = split(concs, c, " ")
    ncfg = split(config_list, configs, " ")
    for (i = 1; i <= nc; i++) {
      base = "minimal/" c[i]
      min_rate = median(values[base, "rate"]); min_cpu = median(values[base, "cpu_per_10k"])
      for (k = 1; k <= ncfg; k++) {
        key = configs[k] "/" c[i]
        rate = median(values[key, "rate"]); cpu = median(values[key, "cpu_per_10k"])
        printf "%-8s %5s %9.1f %8.3f %8.3f %8.3f %10.3f %9d %9.2f %8.2f %6d\n", configs[k], c[i], rate,
          median(values[key, "p50_ms"]), median(values[key, "p95_ms"]), median(values[key, "p99_ms"]),
          cpu, median(values[key, "peak_rss_kb"]), (min_rate > 0 ? rate / min_rate : 0),
          (min_cpu > 0 ? cpu / min_cpu : 0), errors[key]
        if (configs[k] == "on" && c[i] == 8 && min_rate > 0) { goal_rate = rate / min_rate; goal_cpu = (min_cpu > 0 ? cpu / min_cpu : 0) }
        if (configs[k] == "on" && c[i] == 64) goal_rss = median(values[key, "peak_rss_kb"])
        if (configs[k] == "on" && c[i] == 8) on_rate = rate
        if (configs[k] == "metrics" && c[i] == 8) metrics_rate = rate
        if (c[i] == 8) { rate8[configs[k]] = rate; cpu8[configs[k]] = cpu + median(values[key, "helper_cpu_per_10k"]) }
      }
    }
    print ""
    if (goal_rate != "") printf "goal: every check on >= 0.6 of the minimal filter msgs/s at concurrency 8: %.2f %s\n", goal_rate, (goal_rate >= 0.6 ? "met" : "NOT met")
    if (goal_cpu != "") printf "goal: CPU per message <= 2x the minimal filter (concurrency 8): %.2fx %s\n", goal_cpu, (goal_cpu <= 2 ? "met" : "NOT met")
    if (metrics_rate != "" && on_rate > 0) printf "goal: every check on, msgs/s at concurrency 8 with the metrics file within 2%% of without: %.1f with, %.1f without (%+.1f%%) %s\n", metrics_rate, on_rate, (metrics_rate / on_rate - 1) * 100, (metrics_rate >= 0.98 * on_rate ? "met" : "NOT met")
    if ("baseline" in rate8) printf "every check on, SPF from the cache, concurrency 8: %.1f msgs/s, baseline %.1f (%+.1f%%); CPU s/10k %.3f, baseline %.3f\n", rate8["on"], rate8["baseline"], (rate8["baseline"] > 0 ? (rate8["on"] / rate8["baseline"] - 1) * 100 : 0), cpu8["on"], cpu8["baseline"]
    if ("baseline-zip" in rate8) printf "every check on, 200 KB message with a base64 zip of 100 members, concurrency 8: %.1f msgs/s, baseline %.1f (%+.1f%%); CPU s/10k (daemon, spawners, listers) %.3f, baseline %.3f\n", rate8["zip"], rate8["baseline-zip"], (rate8["baseline-zip"] > 0 ? (rate8["zip"] / rate8["baseline-zip"] - 1) * 100 : 0), cpu8["zip"], cpu8["baseline-zip"]
    if ("baseline-miss" in rate8) printf "every message a fresh SPF evaluation, concurrency 8: CPU s/10k (daemon and evaluation processes) %.3f, baseline %.3f: %+.1f us per evaluation\n", cpu8["miss"], cpu8["baseline-miss"], (cpu8["miss"] - cpu8["baseline-miss"]) * 100
    if (goal_rss != "") printf "goal: peak RSS <= 10 MB at concurrency 64 (every check on): %d kB %s\n", goal_rss, (goal_rss <= 10240 ? "met" : "NOT met")
  }' "$RESULTS"

if [ "$FAILED" != 0 ]; then
  echo "some runs had errors or unanswered messages (see above)" >&2
  exit 1
fi
exit 0
