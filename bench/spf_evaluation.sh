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
#      questions travel together);
#   3. DNS answering at once, through the daemon's own path (the evaluator
#      pool and a real spawner, spf_pool_bench): the first question (the
#      spawner's start included), wall time per question asked one after
#      another, CPU time of the whole process tree per question (the asking
#      process, the spawner and the evaluation processes it reaped), and
#      the latency of questions asked 10 ms apart. Here each question gets
#      a fresh teslo-spf started by exec, four started ahead; the
#      baseline's spawner forks processes in place and reuses them.
# The two programs take turns, RUNS times each. With --instructions, section
# 1 also counts instructions per evaluation under callgrind (repeatable
# where CPU time on a shared machine is not).
#
# The baselines are the same programs built in the older tree (for
# spf_pool_bench, copy bench/spf_pool_bench.cpp into its bench/ and add the
# target there as bench/CMakeLists.txt has it here); both baselines must be
# in one directory.
#
# usage: sudo bench/spf_evaluation.sh --baseline OLD_SPF_EVALUATION_BENCH
#            [--baseline-pool OLD_SPF_POOL_BENCH] [--runs N] [--instructions]
#            [--build-dir DIR]
#
# Figures (Release builds, 2 shared cores, --runs 3; more in bench/README.md):
# section 3, new against 4ff1a66: about 1.6 ms of CPU per question against
# 0.05 ms (a process's start); questions 10 ms apart 690 to 1030 us against
# 440 to 1080 us (processes started ahead; 1920 to 2190 us without).
set -u

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$SOURCE_DIR/build-bench"
BASELINE=""
BASELINE_POOL=""
RUNS=3
INSTRUCTIONS=0
while [ $# -gt 0 ]; do
  case "$1" in
    --baseline) BASELINE="$(realpath "$2")"; shift ;;
    --baseline-pool) BASELINE_POOL="$(realpath "$2")"; shift ;;
    --runs) RUNS="$2"; shift ;;
    --instructions) INSTRUCTIONS=1 ;;
    --build-dir) BUILD_DIR="$2"; shift ;;
    -h | --help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "spf_evaluation.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then echo "spf_evaluation.sh needs root (private namespaces)" >&2; exit 77; fi
  cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DTESLO_BENCH=ON -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null || exit 1
  cmake --build "$BUILD_DIR" -j2 --target teslo spf_evaluation_bench spf_pool_bench >/dev/null || exit 1
  export TESLO_BIN="$BUILD_DIR/teslo"
  [ -n "$BASELINE" ] && export SANDBOX_VISIBLE="$(dirname "$BASELINE")"
  [ -n "$BASELINE_POOL" ] && export SANDBOX_VISIBLE="$(dirname "$BASELINE_POOL")"
fi
. "$SOURCE_DIR/tests/integration/lib/sandbox.sh"
args=(--runs "$RUNS" --build-dir "$BUILD_DIR")
[ "$INSTRUCTIONS" = 1 ] && args+=(--instructions)
[ -n "$BASELINE" ] && args+=(--baseline "$BASELINE")
[ -n "$BASELINE_POOL" ] && args+=(--baseline-pool "$BASELINE_POOL")
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
delayed_dns_pid=$!
sandbox_track_pid "$delayed_dns_pid"
wait_until 10 test -s "$W/dns.ready" || { echo "delayed DNS did not start" >&2; exit 1; }
for ((n = 1; n <= RUNS; n++)); do
  for program in "${programs[@]}"; do
    run "${program%%:*}" "${program#*:}" x@mixed.bench.test 5
  done
done
sandbox_kill_pid "$delayed_dns_pid" 5

echo "== 3. DNS answering at once: through the evaluator pool and a real spawner"
sandbox_start_dns "$W/records" || exit 1
pool_programs=("new:$BUILD_DIR/bench/spf_pool_bench:$BUILD_DIR")
[ -n "$BASELINE_POOL" ] && pool_programs+=("baseline:$BASELINE_POOL:")
for ((n = 1; n <= RUNS; n++)); do
  for program in "${pool_programs[@]}"; do
    IFS=: read -r label binary directory <<< "$program"
    printf '  %-9s %-22s %s\n' "$label" x@plain.bench.test \
      "$("$binary" x@plain.bench.test 192.0.2.7 500 $directory)"
  done
done
