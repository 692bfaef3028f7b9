#!/usr/bin/env bash
# A short bounded run of every libFuzzer target (fuzz/run.sh): the parsers,
# the Sendmail file editors, the body scanner, the address handling and the
# callbacks through the fake libmilter, each for a few seconds under ASan
# and UBSan. Needs no sandbox: the targets only touch a private directory
# under their build directory and never the network.
#
# The targets are built with clang in their own build directory beside the
# daemon under test ($TESLO_BIN), reused by later runs. FUZZ_SMOKE_SECONDS
# sets the seconds per target (default 5).
set -euo pipefail

source_dir=${TESLO_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
if [ -n "${TESLO_BIN:-}" ]; then
  build_dir=$(cd "$(dirname "$TESLO_BIN")" && pwd)/fuzz-smoke
else
  build_dir=$PWD/fuzz-smoke
fi

if ! command -v clang++ >/dev/null; then
  echo "FAIL: clang++ is not installed (scripts/install-deps.sh installs it)"
  exit 1
fi

echo "building and running the fuzz targets in $build_dir"
if FUZZ_BUILD_DIR=$build_dir bash "$source_dir/fuzz/run.sh" "${FUZZ_SMOKE_SECONDS:-5}"; then
  echo "1 passed, 0 failed"
else
  echo "FAIL: a fuzz target failed; inputs in $build_dir/fuzz-artifacts, logs in $build_dir/fuzz-logs"
  echo "0 passed, 1 failed"
  exit 1
fi
