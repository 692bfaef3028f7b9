#!/usr/bin/env bash
# The sandbox runs from any checkout: a copy of the harness below each of the
# directories the sandbox covers with its own (/tmp, /run, /var/spool,
# /etc/mail), in a path with spaces and through a symbolic link, runs a
# sandbox of its own that still sees the checkout, the daemon and the work
# directory. A build directory that is /tmp itself is refused in one line
# before anything is made. An interrupt (SIGINT to the process group, or
# SIGTERM to the script alone) stops the inner sandbox, says so in one line
# and leaves no process, mount or file behind. All of it happens inside this
# test's own sandbox, so the host's /tmp and /run are never touched.
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"

LIB_SOURCE="$SANDBOX_LIB"
# The probes start as if from a shell on the host: a sandbox of their own.
FRESH=(env -u SANDBOX_INSIDE -u SANDBOX_DIR -u HOST_INTERRUPT_OWNER)

# make_checkout DIR: a copy of the harness and of the daemon at DIR, with a
# probe script that checks what it can see from inside its own sandbox.
make_checkout() {
  local dir="$1"
  mkdir -p "$dir/tests/integration" "$dir/build"
  cp -r "$LIB_SOURCE" "$dir/tests/integration/lib"
  cp "$TESLO_BIN" "$dir/build/teslo"
  echo "marker" > "$dir/marker"
  cat > "$dir/tests/integration/probe.test.sh" <<'EOF'
#!/usr/bin/env bash
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
sandbox_enter "$@"
top="$(cd "$SANDBOX_LIB/../../.." && pwd -P)"
assert_eq "the checkout is visible" marker "$(cat "$top/marker" 2>/dev/null)"
assert_ok "the daemon is visible" test -x "$TESLO_BIN"
assert_ok "the work directory is visible" test -s "$W/log/syslog.ready"
assert_ok "/tmp is the sandbox's own" test "$(stat -c %i /tmp)" = "$(stat -c %i "$W/tmp")"
if [ "${PROBE_WAIT:-0}" = 1 ]; then
  sandbox_start_dns
  touch "$top/ready"
  sleep 60
fi
sandbox_finish
EOF
}

# run_probe DIR [SCRIPT_DIR]: runs the probe of the checkout at DIR (reached
# as SCRIPT_DIR, default DIR); prints its output.
run_probe() {
  local top="${2:-$1}"
  "${FRESH[@]}" TESLO_BIN="$top/build/teslo" bash "$top/tests/integration/probe.test.sh" 2>&1
}

for dir in "/tmp/check out/teslo" "/run/user/0/teslo" "/var/spool/src/teslo" "/etc/mail/src/teslo"; do
  test_case "a checkout at '$dir'"
  make_checkout "$dir"
  output="$(run_probe "$dir")"
  status=$?
  assert_eq "the probe passes" 0 "$status"
  assert_match "all of its checks pass" '4 passed, 0 failed' "$output"
  assert_eq "its work directory is gone" "" "$(find "$dir/build" -name 'sandbox.*')"
done

test_case "a checkout reached through a symbolic link below /tmp"
ln -s "/var/spool/src/teslo" /tmp/teslo-link
output="$(run_probe "/var/spool/src/teslo" /tmp/teslo-link)"
assert_eq "the probe passes" 0 "$?"
assert_match "all of its checks pass" '4 passed, 0 failed' "$output"

test_case "a build directory that is /tmp itself"
cp "$TESLO_BIN" /tmp/teslo
output="$("${FRESH[@]}" TESLO_BIN=/tmp/teslo bash "/tmp/check out/teslo/tests/integration/probe.test.sh" 2>&1)"
assert_eq "refused" 2 "$?"
assert_eq "in one line" 1 "$(printf '%s\n' "$output" | wc -l)"
assert_match "saying why" '^cannot run from /tmp: the sandbox puts its own empty /tmp there' "$output"
assert_eq "nothing made" "" "$(find /tmp -maxdepth 1 -name 'sandbox.*')"

# interrupt_probe SIGNAL TARGET: starts the probe of "/tmp/check out/teslo"
# in a session of its own, waits until its inner sandbox runs, then sends
# SIGNAL to the whole group (TARGET group) or to the script alone (script).
interrupt_probe() {
  local top="/tmp/check out/teslo" pid
  rm -f "$top/ready"
  # As from a terminal: INT not ignored (a plain "cmd &" would ignore it).
  (trap - INT QUIT
    exec "${FRESH[@]}" PROBE_WAIT=1 TESLO_BIN="$top/build/teslo" \
      setsid bash "$top/tests/integration/probe.test.sh" > "$W/probe.out" 2>&1) &
  pid=$!
  wait_until 30 test -e "$top/ready"
  local tree=()
  mapfile -t tree < <(host_descendants "$pid")
  INNER=${#tree[@]}
  if [ "$2" = group ]; then kill -"$1" -- -"$pid"; else kill -"$1" "$pid"; fi
  PROBE_STATUS=0
  wait "$pid" || PROBE_STATUS=$?
  LEFT=""
  for pid in "${tree[@]}"; do
    sandbox_pid_alive "$pid" && LEFT+="$(ps -o pid=,args= -p "$pid") "
  done
}

test_case "Ctrl-C: SIGINT to the process group"
interrupt_probe INT group
assert_ok "the inner sandbox had processes" test "$INNER" -gt 2
assert_eq "exit status" 130 "$PROBE_STATUS"
assert_eq "one line says so, at the end" "interrupted: stopped and cleaned up" "$(tail -n 1 "$W/probe.out")"
assert_eq "and nothing else after the probe's checks" "" \
  "$(grep -v -e '^ok - ' -e '^interrupted: stopped and cleaned up$' "$W/probe.out")"
assert_eq "no process left" "" "$LEFT"
assert_eq "no work directory left" "" "$(find "/tmp/check out/teslo/build" -name 'sandbox.*')"
assert_eq "no mount left" "" "$(grep -F 'check\040out' /proc/self/mountinfo)"  # mountinfo writes a blank as \040

test_case "SIGTERM to the script alone"
interrupt_probe TERM script
assert_eq "exit status" 143 "$PROBE_STATUS"
assert_eq "one line says so, at the end" "interrupted: stopped and cleaned up" "$(tail -n 1 "$W/probe.out")"
assert_eq "and nothing else after the probe's checks" "" \
  "$(grep -v -e '^ok - ' -e '^interrupted: stopped and cleaned up$' "$W/probe.out")"
assert_eq "no process left" "" "$LEFT"
assert_eq "no work directory left" "" "$(find "/tmp/check out/teslo/build" -name 'sandbox.*')"

sandbox_finish
