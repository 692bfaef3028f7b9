# Checks for the integration tests: each assert_* prints "ok - ..." or a
# clear "FAIL - ..." line and counts it; sandbox_finish prints
# "N passed, N failed", dumps the logs and transcripts when something failed
# and exits 0 only when every check passed. Sourced by sandbox.sh.

SANDBOX_PASSED=0
SANDBOX_FAILED=0
SANDBOX_CASE=""

# Names the group of checks that follows (printed, and prefixed to failures).
test_case() {
  SANDBOX_CASE="$1"
  echo "== $1"
}

pass() {
  SANDBOX_PASSED=$((SANDBOX_PASSED + 1))
  echo "ok - $1"
}
fail() {
  SANDBOX_FAILED=$((SANDBOX_FAILED + 1))
  echo "FAIL - ${SANDBOX_CASE:+$SANDBOX_CASE: }$1"
  shift
  local detail
  for detail in "$@"; do echo "       $detail"; done
}

# assert_eq DESCRIPTION EXPECTED ACTUAL
assert_eq() {
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1" "expected: '$2'" "got:      '$3'"; fi
}
# assert_match DESCRIPTION EXTENDED_REGEX ACTUAL
assert_match() {
  if [[ "$3" =~ $2 ]]; then pass "$1"; else fail "$1" "expected to match: $2" "got: '$3'"; fi
}
# assert_ok DESCRIPTION COMMAND...: the command succeeds.
assert_ok() {
  local description="$1"
  shift
  if "$@"; then pass "$description"; else fail "$description" "command failed: $*"; fi
}
# assert_not DESCRIPTION COMMAND...: the command fails.
assert_not() {
  local description="$1"
  shift
  if "$@"; then fail "$description" "command succeeded: $*"; else pass "$description"; fi
}

# assert_log PRIORITY TEXT: the daemon logged exactly TEXT at PRIORITY
# ("mail.notice") since the last log_mark. Waits up to 5 s for it.
assert_log() {
  if wait_until 5 log_has "$1" "$2"; then
    pass "log $1 '$2'"
  else
    fail "log $1 '$2'" "not found; daemon lines at that priority:" \
      "$(log_texts "$1" | sed 's/^/  /')"
  fi
}
# assert_log_re PRIORITY REGEX
assert_log_re() {
  if wait_until 5 log_has_re "$1" "$2"; then
    pass "log $1 /$2/"
  else
    fail "log $1 /$2/" "not found; daemon lines at that priority:" \
      "$(log_texts "$1" | sed 's/^/  /')"
  fi
}
# assert_no_log PRIORITY TEXT
assert_no_log() {
  if log_has "$1" "$2"; then fail "no log $1 '$2'" "it was logged"; else pass "no log $1 '$2'"; fi
}

# assert_file_mode DESCRIPTION PATH EXPECTED_LS_MODE (e.g. srw-------)
assert_file_mode() {
  local mode
  mode="$(stat -c %A "$2" 2>/dev/null)"
  assert_eq "$1" "$3" "$mode"
}

# The last send_mail was accepted (swaks 0 and a queue id) / refused.
assert_accepted() {
  local id
  id="$(smtp_queue_id)"
  if [ -n "$id" ] && ! grep -q '^ *<\*\*' "$SANDBOX_SWAKS_LOG"; then
    pass "${1:-message accepted} ($id)"
  else
    fail "${1:-message accepted}" "last reply: $(smtp_last_reply)" "transcript: $SANDBOX_SWAKS_LOG"
  fi
}
# assert_refused DESCRIPTION [EXPECTED_REPLY_REGEX]: the server refused
# something in the last transaction (the first refusal must match).
assert_refused() {
  local refusal
  refusal="$(smtp_refusal)"
  if [ -z "$refusal" ]; then
    fail "$1" "nothing was refused; last reply: $(smtp_last_reply)"
  elif [ -n "${2:-}" ] && ! [[ "$refusal" =~ $2 ]]; then
    fail "$1" "expected refusal: $2" "got: $refusal"
  else
    pass "$1"
  fi
}
# assert_header DESCRIPTION 'Name: value' [QUEUE_FILE]
assert_header() {
  if qf_has_header "$2" "${3:-}"; then
    pass "$1"
  else
    fail "$1" "header '$2' not in ${3:-$(last_qf)}; headers:" "$(qf_headers "${3:-}" | sed 's/^/  /')"
  fi
}
assert_no_header_named() {
  local values
  values="$(qf_header_value "$2" "${3:-}")"
  if [ -z "$values" ]; then pass "$1"; else fail "$1" "found: $2: $values"; fi
}
# assert_recipients DESCRIPTION 'r1 r2 ...' [QUEUE_FILE]: exactly these, in
# any order.
assert_recipients() {
  local want got
  want="$(tr ' ' '\n' <<< "$2" | sed '/^$/d' | sort | tr '\n' ' ')"
  got="$(qf_recipients "${3:-}" | sort | tr '\n' ' ')"
  assert_eq "$1" "$want" "$got"
}

# Prints what helps to understand a failure: the syslog capture, the swaks
# transcripts, Sendmail's and the init script's logs, the reaper's record and
# the filter lines of sendmail.cf.
sandbox_dump_diagnostics() {
  local f
  echo "---- syslog capture ($W/log/syslog.log)"
  tail -n 200 "$W/log/syslog.log" 2>/dev/null
  for f in "$W"/swaks/*.log; do
    [ -e "$f" ] || continue
    echo "---- swaks transcript $f"
    tail -n 60 "$f"
  done
  for f in init-calls.log init-script.log teslo.stderr dns-server.err; do
    [ -s "$W/log/$f" ] || continue
    echo "---- $f"
    tail -n 40 "$W/log/$f"
  done
  echo "---- processes reaped (pid status name)"
  cat "$W/reaped.log" 2>/dev/null
  if [ -e /etc/mail/sendmail.cf ]; then
    echo "---- filter lines of sendmail.cf"
    sandbox_cf_filter_lines
  fi
  if [ -s "$W/log/dns-queries.log" ]; then
    echo "---- DNS queries"
    tail -n 40 "$W/log/dns-queries.log"
  fi
}

# Ends the script: summary line and exit status.
sandbox_finish() {
  SANDBOX_FINISHED=1
  if [ "$SANDBOX_FAILED" != 0 ]; then
    sandbox_dump_diagnostics
  fi
  echo "$SANDBOX_PASSED passed, $SANDBOX_FAILED failed"
  [ "$SANDBOX_FAILED" = 0 ] && exit 0
  exit 1
}
