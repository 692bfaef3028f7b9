#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each one for a
# bounded time, then prints executions and coverage per target.
#
#   fuzz/run.sh [seconds-per-target] [target...]
#
# Default: 20 seconds for each of the targets. The build goes to
# $FUZZ_BUILD_DIR (default <repo>/build-fuzz). Each target fuzzes a working
# corpus under the build directory, seeded from fuzz/corpus/<target>/ (the
# seeds in the tree are only read). A crash, leak or timeout leaves its input
# in <build>/fuzz-artifacts/ and makes the script exit 1. The log of each
# run is <build>/fuzz-logs/<target>.log.
set -euo pipefail

seconds=${1:-20}
[ $# -gt 0 ] && shift
all_targets=(spam_config copy_rules sendmail_cf macro_file body_scanner addresses callbacks
  spf_evaluation dns_answer mime_walker archive_listing)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$repo/build-fuzz}
jobs=${FUZZ_BUILD_JOBS:-2}

CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DTESLO_FUZZ=ON -DTESLO_INTEGRATION=OFF \
  -DBUILD_TESTING=OFF >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 2; }
rm -f "$build.configure.log"
cmake --build "$build" -j"$jobs" --target teslo_fuzz_targets >"$build/fuzz-build.log" 2>&1 ||
  { tail -40 "$build/fuzz-build.log"; exit 2; }

mkdir -p "$build/fuzz-work" "$build/fuzz-artifacts" "$build/fuzz-logs"

# Longest input per target: the callback and body targets take chunk
# sequences; the others are one file or one text.
max_len() {
  case $1 in
    callbacks) echo 16384 ;;
    body_scanner | mime_walker) echo 65536 ;;
    archive_listing) echo 262144 ;;
    *) echo 8192 ;;
  esac
}

failed=0
printf '%-13s %12s %8s %8s %8s  %s\n' target executions cov ft corpus result
for target in "${targets[@]}"; do
  binary=$build/fuzz/fuzz_$target
  seeds=$repo/fuzz/corpus/$target
  corpus=$build/fuzz-corpus/$target
  log=$build/fuzz-logs/$target.log
  mkdir -p "$corpus"
  status=0
  # The archive lister's own address-space bound (archive_lister/archive_lister.hpp).
  limits=()
  [ "$target" = archive_listing ] && limits=(-malloc_limit_mb=256)
  TMPDIR=$build/fuzz-work "$binary" "${limits[@]}" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -max_len="$(max_len "$target")" -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/$target-" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  result=ok
  if [ "$status" -ne 0 ]; then
    result="FAILED (exit $status, see $log)"
    failed=1
  fi
  printf '%-13s %12s %8s %8s %8s  %s\n' "$target" "${executions:-?}" "${cov:-?}" "${ft:-?}" \
    "${units:-?}" "$result"
  if [ "$status" -ne 0 ]; then
    grep -m8 -E 'ERROR|SUMMARY|runtime error|#[0-9]+ .*/(src|fuzz)/' "$log" | sed 's/^/    /' || true
  fi
done
exit $failed
