# The frame of every system test: the libraries, the skip when the host
# cannot boot a container, the scratch directory in the build tree, and the
# end (summary, container torn down) however the script ends. A test defines
# dump_logs (what helps to understand a failure) and calls sys_test_begin.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$here/../integration/lib/sandbox_assert.sh"
. "$here/lib/container.sh"
. "$here/lib/packages.sh"
. "$here/lib/mail.sh"

# sys_test_begin: sets build_dir, SYS_SCRATCH and the traps; exits 77 (skip)
# without root or systemd-nspawn.
sys_test_begin() {
  : "${TESLO_BUILD_DIR:?TESLO_BUILD_DIR must name the build tree}"
  build_dir=$(cd "$TESLO_BUILD_DIR" && pwd)
  if [ "$(id -u)" != 0 ] || ! command -v systemd-nspawn > /dev/null; then
    echo "SKIP: needs root and systemd-nspawn (package systemd-container)"
    exit 77
  fi
  SYS_SCRATCH=$(mktemp -d "$build_dir/system-test.XXXXXX") || exit 1
  started=$SECONDS
  # The script's own output: a signal can run finish inside a command whose
  # output goes to /dev/null, and the summary must still be seen.
  exec {out_fd}>&1 {err_fd}>&2
  trap finish EXIT
  trap 'echo "interrupted"; SANDBOX_FAILED=$((SANDBOX_FAILED + 1)); finish' INT TERM
}

finish() {
  trap - EXIT INT TERM
  exec 1>&"$out_fd" 2>&"$err_fd"
  if [ "$SANDBOX_FAILED" != 0 ] && [ -n "$SYS_PID1" ]; then dump_logs; fi
  sys_container_destroy
  echo "wall time $((SECONDS - started)) s"
  echo "$SANDBOX_PASSED passed, $SANDBOX_FAILED failed"
  [ "$SANDBOX_FAILED" = 0 ]
  exit
}

# Stops the test when a step that every later check depends on failed.
setup_failed() {
  fail "$@"
  finish
}
