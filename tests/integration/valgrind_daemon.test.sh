#!/usr/bin/env bash
# The daemon under test, run whole under valgrind memcheck in the sandbox:
# start, a few hundred messages of every kind (load driver and Sendmail),
# SIGUSR1 reloads, stop; no memcheck error in any of its processes and no
# definitely or indirectly lost byte in the daemon. scripts/valgrind-run.sh
# does the work (about 15 s).
set -u
: "${TESLO_BIN:?TESLO_BIN must name the daemon binary}"
[ "$(id -u)" = 0 ] || { echo "SKIP: the sandbox needs root" >&2; exit 77; }
command -v valgrind > /dev/null || { echo "SKIP: valgrind is not installed" >&2; exit 77; }
source_dir="${TESLO_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
export TESLO_BIN
exec bash "$source_dir/scripts/valgrind-run.sh" --messages 150
