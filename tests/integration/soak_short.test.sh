#!/usr/bin/env bash
# The short concurrency soak: the daemon built with AddressSanitizer and
# UndefinedBehaviorSanitizer (in soak-asan beside the daemon under test), 64
# concurrent connections, 12,000 messages after a warm-up of 3,000, some cut off
# mid-message and some abandoned, SIGUSR1 every 5 ms; every other message
# answered with its changes, no sanitizer report (leak check at exit
# included), no memory growth after the warm-up. scripts/soak.sh does the
# work; `sudo scripts/soak.sh` is the long run (50,000 messages under each
# sanitizer).
set -u
: "${TESLO_BIN:?TESLO_BIN must name the daemon binary}"
[ "$(id -u)" = 0 ] || { echo "SKIP: the sandbox needs root" >&2; exit 77; }
bin_dir="$(cd "$(dirname "$TESLO_BIN")" && pwd)"
source_dir="${TESLO_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
driver="$bin_dir/bench/load_driver"
[ -x "$driver" ] || { echo "load driver $driver not built" >&2; exit 1; }
exec bash "$source_dir/scripts/soak.sh" --sanitizer asan --messages 12000 --connections 64 \
  --drop-every 7 --abort-every 10 --build-dir "$bin_dir/soak-asan" --driver "$driver"
