#!/usr/bin/env bash
# Builds the unit tests with ThreadSanitizer in their own build directory and
# runs the reload tests: the copy-rule stress test (many connections ending
# messages while SIGUSR1 arrives hundreds of times), the settings reload
# under load (8 threads in transactions while SIGUSR2 flips orvane.conf
# between two versions), and the reload, loader, copying and SPF cache
# tests. Exits non-zero on any test failure or TSan report.
#
#   scripts/tsan-reload-stress.sh [BUILD_DIR]     (default: build-tsan)
set -u
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$source_dir/build-tsan}"
jobs="${JOBS:-2}"

cmake -S "$source_dir" -B "$build_dir" -DTESLO_TSAN=ON -DTESLO_INTEGRATION=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESLO_WERROR=ON >/dev/null || exit 1
cmake --build "$build_dir" -j"$jobs" --target unit_tests || exit 1

# Temporary rule files go to the build directory, never the host's /tmp.
export TMPDIR="$build_dir"
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# Run without address-space randomisation: TSan cannot map its shadow
# memory under the high mmap entropy of recent kernels.
filter='reload_stress.*:settings_reload*:reload_thread.*:load_copy_rules.*:copy_phase.*:spf_cache*:spf_step*'
if command -v setarch >/dev/null; then
  setarch "$(uname -m)" -R "$build_dir/tests/unit_tests" --gtest_filter="$filter"
else
  "$build_dir/tests/unit_tests" --gtest_filter="$filter"
fi
