#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest:
# first the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the concurrency tests under ThreadSanitizer, then the whole suite (unit,
# sandbox integration and system tests) on the normal
# build. Ends with ctest's summary; exits non-zero on any failure.
set -euo pipefail
cd -P "$(dirname "$0")/.."
# Ctrl-C or SIGTERM at any moment: the steps below run as one child that
# this shell waits for; when interrupted it stops that child and everything
# under it, and says so in one line.
if [ -z "${TESLO_TEST_STEPS:-}" ]; then
  . tests/integration/lib/host_jobs.sh
  host_location_problem "$PWD" || exit 2
  host_trap_interrupts
  export TESLO_TEST_STEPS=1
  host_run bash scripts/test.sh "$@"
  exit 0
fi
jobs=$(nproc)

bash scripts/install-deps.sh

echo "== unit tests under ASan and UBSan =="
cmake -S . -B build-asan -DTESLO_SANITIZE=ON -DTESLO_INTEGRATION=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DTESLO_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -L unit --output-on-failure -j"$jobs"

echo "== reload and cache concurrency under ThreadSanitizer =="
bash scripts/tsan-reload-stress.sh build-tsan

echo "== Release build, warnings as errors =="
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTESLO_WERROR=ON \
  -DTESLO_INTEGRATION=OFF -DTESLO_SYSTEM=OFF >/dev/null
cmake --build build-release -j"$jobs"

echo "== all tests =="
cmake -S . -B build -DTESLO_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure
