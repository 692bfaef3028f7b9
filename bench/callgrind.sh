#!/usr/bin/env bash
# Where the daemon's time goes: instruction counts per message under
# callgrind (exact and repeatable, unlike wall-clock figures on a shared
# machine). Runs the daemon under `valgrind --tool=callgrind` in the sandbox
# of bench/load.sh, twice: once with a warm-up only and once with the
# warm-up plus N messages; the difference of the two profiles divided by N
# is the steady-state cost of one message (start-up, configuration loading,
# libxml and the first, uncached SPF evaluation cancel out).
#
# usage: bench/callgrind.sh [--config on|off|metrics] [--messages N] [--connections C]
#                           [--build-dir DIR] [--top K] [--keep DIR]
#   --config on|off|metrics  daemon configuration of bench/load.sh (default on;
#                    metrics: "on" with the metrics file)
#   --messages N     measured messages (default 2000)
#   --connections C  concurrent connections of the driver (default 8)
#   --build-dir DIR  Release build directory (default build-bench)
#   --top K          functions listed, by inclusive instructions per message (default 30)
#   --keep DIR       copy the two callgrind profiles into DIR
#   --analyse DIR    only print the figures of profiles kept in DIR
# Needs root (namespaces) and valgrind. Prints "Ir/message" and a table of
# inclusive and self instructions per message for the costliest functions.
set -u

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CONFIG=on
MESSAGES=2000
CONNECTIONS=8
BUILD_DIR="$SOURCE_DIR/build-bench"
TOP=30
KEEP=""
ANALYSE=""
while [ $# -gt 0 ]; do
  case "$1" in
    --config) CONFIG="$2"; shift ;;
    --messages) MESSAGES="$2"; shift ;;
    --connections) CONNECTIONS="$2"; shift ;;
    --build-dir) BUILD_DIR="$2"; shift ;;
    --top) TOP="$2"; shift ;;
    --keep) KEEP="$2"; shift ;;
    --analyse) ANALYSE="$2"; shift ;;
    -h | --help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "callgrind.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
case "$CONFIG" in on | off | metrics) ;; *) echo "callgrind.sh: --config on|off|metrics" >&2; exit 2 ;; esac

# The per-message difference of two kept profiles (DIR/base.out with the
# warm-up only, DIR/full.out with the measured messages too), function by
# function: callgrind_annotate's inclusive and self listings of both.
analyse() {
  local dir="$1" measured
  measured="$(cat "$dir/messages")"
  annotate() {
    callgrind_annotate --inclusive="$2" --tree=none --auto=no --threshold=100 "$1" 2>/dev/null |
      awk '/^ *[0-9,]+ \( *[0-9.]+%\) / { ir = $1; gsub(",", "", ir)
             sub(/^ *[0-9,]+ \( *[0-9.]+%\) +/, ""); sub(/ \[[^]]*\]$/, ""); print ir "\t" $0 }'
  }
  total() { awk '/^summary:/ { print $2 }' "$1"; }
  local tmp
  tmp="$(mktemp -d)"
  annotate "$dir/base.out" yes > "$tmp/base.incl"; annotate "$dir/full.out" yes > "$tmp/full.incl"
  annotate "$dir/base.out" no > "$tmp/base.self"; annotate "$dir/full.out" no > "$tmp/full.self"
  echo
  awk -v b="$(total "$dir/base.out")" -v f="$(total "$dir/full.out")" -v n="$measured" \
    'BEGIN { printf "Ir/message: %.0f  (%d messages; totals %d and %d)\n", (f - b) / n, n, b, f }'
  echo
  printf '%12s %12s  %s\n' "incl Ir/msg" "self Ir/msg" "function"
  awk -F'\t' -v n="$measured" '
    FILENAME ~ /base.incl$/ { bi[$2] = $1; next }
    FILENAME ~ /base.self$/ { bs[$2] = $1; next }
    FILENAME ~ /full.self$/ { fs[$2] = $1; next }
    { name = $2; inc = ($1 - bi[name]) / n; self = (fs[name] - bs[name]) / n
      if (inc >= 1) printf "%12.0f %12.0f  %s\n", inc, self, name }' \
    "$tmp/base.incl" "$tmp/base.self" "$tmp/full.self" "$tmp/full.incl" | sort -k1,1nr | head -n "$TOP"
  rm -rf "$tmp"
}

if [ -n "$ANALYSE" ]; then analyse "$ANALYSE"; exit 0; fi

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then echo "callgrind.sh needs root (private namespaces)" >&2; exit 77; fi
  command -v valgrind > /dev/null || { echo "callgrind.sh needs valgrind" >&2; exit 77; }
  echo "== building (Release) in $BUILD_DIR"
  cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DTESLO_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null || exit 1
  cmake --build "$BUILD_DIR" -j2 --target teslo load_driver >/dev/null || exit 1
  export TESLO_BIN="$BUILD_DIR/teslo"
  [ -n "$KEEP" ] && mkdir -p "$KEEP" && KEEP="$(cd "$KEEP" && pwd)"
fi
. "$SOURCE_DIR/tests/integration/lib/sandbox.sh"
sandbox_enter --config "$CONFIG" --messages "$MESSAGES" --connections "$CONNECTIONS" \
  --build-dir "$BUILD_DIR" --top "$TOP" ${KEEP:+--keep "$KEEP"}

# ---------------------------------------------------------------- inside --

DRIVER="$(dirname "$TESLO_BIN")/bench/load_driver"
WARMUP=200
. "$SOURCE_DIR/tests/integration/load_setup.sh"
load_setup || exit 1
"configure_$CONFIG"

# The daemon detaches with daemon(): callgrind follows the fork, and the
# profile that matters is the detached child's (the one in the pid file).
TESLO_REAL="$TESLO_BIN"
mkdir -p "$W/cg"
cat > "$W/teslo-cg" <<EOS
#!/bin/sh
exec valgrind --tool=callgrind --callgrind-out-file=$W/cg/%p.out $TESLO_REAL "\$@"
EOS
chmod +x "$W/teslo-cg"
TESLO_BIN="$W/teslo-cg"

profile() {  # name messages -> $W/<name>.out
  local name="$1" measured="$2" pid
  sandbox_start_teslo --no-wait
  wait_until 120 _sandbox_teslo_ready || { echo "the daemon did not start under valgrind" >&2; return 1; }
  pid="$(sandbox_teslo_pid_from_file)"
  SANDBOX_TESLO_PID="$pid"
  "$DRIVER" --socket /var/run/teslo.sock --connections 1 --messages "$WARMUP" \
    --reply-timeout 60000 "${DRIVER_MESSAGE[@]}" > "$W/log/$name-warmup.log" 2>&1 ||
    { echo "warm-up failed" >&2; cat "$W/log/$name-warmup.log" >&2; return 1; }
  if [ "$measured" -gt 0 ]; then
    "$DRIVER" --socket /var/run/teslo.sock --connections "$CONNECTIONS" \
      --messages $(( measured / CONNECTIONS )) --reply-timeout 60000 "${DRIVER_MESSAGE[@]}" \
      > "$W/log/$name-run.log" 2>&1 ||
      { echo "measured run failed" >&2; cat "$W/log/$name-run.log" >&2; return 1; }
    grep -E '^  verdicts' "$W/log/$name-run.log"
  fi
  kill -TERM "$pid"
  sandbox_wait_teslo_exit 120 > /dev/null || { echo "the daemon did not stop" >&2; return 1; }
  SANDBOX_TESLO_PID=
  mv "$W/cg/$pid.out" "$W/$name.out" || return 1
}

MEASURED=$(( MESSAGES / CONNECTIONS * CONNECTIONS ))
echo "$MEASURED" > "$W/messages"
echo "== config $CONFIG: warm-up $WARMUP messages, then $MEASURED at $CONNECTIONS connections"
profile base 0 || exit 1
profile full "$MEASURED" || exit 1
[ -n "${KEEP:-}" ] && cp "$W/base.out" "$W/full.out" "$W/messages" "$KEEP/"
analyse "$W"

