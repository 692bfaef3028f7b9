#!/bin/bash
# The cost of one fresh SPF evaluation, this tree's against another tree's
# (an older build's spf_evaluation_bench), in one run, in the sandbox
# (private namespaces, the sandbox's DNS server on 127.0.0.1; needs root):
#   1. DNS answering at once: CPU per evaluation of a plain record
#      ("v=spf1 ip4:192.0.2.0/24 -all") and of a record with one include:
#      and one mx;
#   2. DNS answering after 50 ms: the wall time of the include-and-mx
#      record, in round trips of 50 ms (its record, the include's record and
#      the MX names, the exchange's address: three when independent
#      questions travel together).
# The two programs take turns, RUNS times each. With --instructions, section
# 1 also counts instructions per evaluation under callgrind (repeatable
# where CPU time on a shared machine is not).
#
# usage: sudo bench/spf_evaluation.sh --baseline OLD_SPF_EVALUATION_BENCH [--runs N]
#            [--instructions] [--build-dir DIR]
set -u

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$SOURCE_DIR/build-bench"
BASELINE=""
RUNS=3
INSTRUCTIONS=0
while [ $# -gt 0 ]; do
  case "$1" in
    --baseline) BASELINE="$(realpath "$2")"; shift ;;
    --runs) RUNS="$2"; shift ;;
    --instructions) INSTRUCTIONS=1 ;;
    --build-dir) BUILD_DIR="$2"; shift ;;
    -h | --help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "spf_evaluation.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then echo "spf_evaluation.sh needs root (private namespaces)" >&2; exit 77; fi
  cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DTESLO_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null || exit 1
  cmake --build "$BUILD_DIR" -j2 --target teslo spf_evaluation_bench >/dev/null || exit 1
  export TESLO_BIN="$BUILD_DIR/teslo"
  [ -n "$BASELINE" ] && export SANDBOX_VISIBLE="$(dirname "$BASELINE")"
fi
. "$SOURCE_DIR/tests/integration/lib/sandbox.sh"
args=(--runs "$RUNS" --build-dir "$BUILD_DIR")
[ "$INSTRUCTIONS" = 1 ] && args+=(--instructions)
[ -n "$BASELINE" ] && args+=(--baseline "$BASELINE")
sandbox_enter "${args[@]}"

# ---- inside the sandbox from here on ----

NEW="$BUILD_DIR/bench/spf_evaluation_bench"
cat > "$W/records" <<'RECORDS'
plain.bench.test TXT "v=spf1 ip4:192.0.2.0/24 -all"
mixed.bench.test TXT "v=spf1 include:inc.bench.test mx -all"
inc.bench.test TXT "v=spf1 ip4:198.51.100.1 -all"
mixed.bench.test MX 10 mx.bench.test.
mx.bench.test A 192.0.2.7
RECORDS

# run LABEL BINARY SENDER COUNT: one line of figures.
run() {
  printf '  %-9s %-22s %s\n' "$1" "$3" "$("$2" "$3" 192.0.2.7 "$4")"
}

programs=("new:$NEW")
[ -n "$BASELINE" ] && programs+=("baseline:$BASELINE")

echo "== 1. DNS answering at once: CPU per evaluation"
sandbox_start_dns "$W/records" || exit 1
for ((n = 1; n <= RUNS; n++)); do
  for program in "${programs[@]}"; do
    for sender in x@plain.bench.test x@mixed.bench.test; do
      run "${program%%:*}" "${program#*:}" "$sender" 2000
    done
  done
done
# instructions LABEL BINARY SENDER: instructions per evaluation (200 of
# them, less one evaluation's worth of start-up measured with 1).
instructions() {
  local total one
  total="$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$2" "$3" 192.0.2.7 201 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p')"
  one="$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$2" "$3" 192.0.2.7 1 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p')"
  printf '  %-9s %-22s instructions per evaluation %d\n' "$1" "$3" $(((total - one) / 200))
}
if [ "$INSTRUCTIONS" = 1 ]; then
  for program in "${programs[@]}"; do
    for sender in x@plain.bench.test x@mixed.bench.test; do
      instructions "${program%%:*}" "${program#*:}" "$sender"
    done
  done
fi
sandbox_kill_pid "$SANDBOX_DNS_PID" 5

echo "== 2. DNS answering after 50 ms: wall time of the include-and-mx record"
rm -f "$W/dns.ready"
"$SANDBOX_PYTHON" "$SOURCE_DIR/bench/delayed_dns.py" "$W/records" 0.05 "$W/dns.ready" \
  > "$W/log/delayed-dns.log" 2>&1 &
sandbox_track_pid "$!"
wait_until 10 test -s "$W/dns.ready" || { echo "delayed DNS did not start" >&2; exit 1; }
for ((n = 1; n <= RUNS; n++)); do
  for program in "${programs[@]}"; do
    run "${program%%:*}" "${program#*:}" x@mixed.bench.test 5
  done
done
