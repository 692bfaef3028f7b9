#!/usr/bin/env bash
# Installs what is missing, checks the style, builds, and runs every test
# through ctest. Style first: clang-format (no change) over the C++ sources
# and clang-tidy (no finding) over src/. Then
# the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the concurrency tests under ThreadSanitizer, a Release build of the
# programs (its warnings are errors), then the whole suite (unit,
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

echo "== style: clang-format over the sources, clang-tidy over src/ =="
find src tests bench fuzz \( -name '*.cpp' -o -name '*.hpp' \) -print0 |
  xargs -0 clang-format --dry-run -Werror
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTESLO_WERROR=ON \
  -DTESLO_INTEGRATION=OFF -DTESLO_SYSTEM=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
tidy_log=build-release/clang-tidy.log
tidy_status=0
run-clang-tidy -p build-release -j"$jobs" -quiet "$PWD/src/" >"$tidy_log" 2>&1 || tidy_status=$?
if [ "$tidy_status" -ne 0 ] || grep -E '(warning|error):' "$tidy_log"; then
  echo "clang-tidy: findings above (whole output in $tidy_log)" >&2
  exit 1
fi

echo "== unit tests under ASan and UBSan =="
cmake -S . -B build-asan -DTESLO_SANITIZE=ON -DTESLO_INTEGRATION=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DTESLO_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -L unit --output-on-failure -j"$jobs"

echo "== reload and cache concurrency under ThreadSanitizer =="
bash scripts/tsan-reload-stress.sh build-tsan

# The programs only: the tests are built and run in the builds around it.
echo "== Release build of the programs, warnings as errors =="
cmake --build build-release -j"$jobs" --target teslo teslo-check teslo-try

echo "== all tests =="
cmake -S . -B build -DTESLO_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure
