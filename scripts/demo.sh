#!/usr/bin/env bash
# The demo: installs what is missing, builds the daemon, then runs it beside
# a real Sendmail inside a private sandbox (the integration tests' sandbox:
# private mount, network, pid and uts namespaces, nothing on the host
# changes), sends the sample messages of demo/samples.txt through it and
# shows what happened to each: the SMTP result, the headers the filter added,
# the envelope recipients, quarantine, and the daemon's log lines. Ends with
# one table of all verdicts.
#
# usage: sudo bash scripts/demo.sh      (needs root; reads no standard input)
# Environment: TESLO_BUILD_DIR (default build), DEMO_SAMPLES (default
# demo/samples.txt), SANDBOX_KEEP=1 keeps the sandbox's work directory.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "The demo needs root (it creates private namespaces): sudo bash scripts/demo.sh" >&2
    exit 1
  fi
  exec < /dev/null
  echo "== installing what is missing"
  bash "$ROOT/scripts/install-deps.sh" || exit 1
  BUILD="${TESLO_BUILD_DIR:-$ROOT/build}"
  echo "== building the daemon in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$ROOT/.demo-cmake.log" 2>&1 &&
    cmake --build "$BUILD" -j"$(nproc)" --target teslo >> "$ROOT/.demo-cmake.log" 2>&1 || {
    cat "$ROOT/.demo-cmake.log" >&2
    rm -f "$ROOT/.demo-cmake.log"
    exit 1
  }
  rm -f "$ROOT/.demo-cmake.log"
  export TESLO_BIN="$BUILD/teslo"
  export DEMO_SAMPLES="${DEMO_SAMPLES:-$ROOT/demo/samples.txt}"
fi

. "$ROOT/tests/integration/lib/sandbox.sh"
sandbox_enter "$@"
# ------------------------------------------------------------ in the sandbox

DEMO="$ROOT/demo"
CURRENT_CONFIG=""

say() { printf '%s\n' "$*"; }
if [ -t 1 ]; then
  section() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  section() { printf '\n== %s\n' "$*"; }
fi

# The daemon's log lines since the mark, with their priority spelled out.
show_daemon_log() {
  tail -n +"$((SANDBOX_LOG_MARK + 1))" "$W/log/syslog.log" | grep -E '^<[0-9]+>KORVAL\[' |
    awk -F'>' '{
      pri = substr($1, 2) + 0
      split("emerg alert crit err warning notice info debug", sev, " ")
      split("kern user mail daemon auth syslog lpr news uucp cron authpriv ftp", fac, " ")
      f = int(pri / 8); name = (f < 12) ? fac[f + 1] : "local" (f - 16)
      rest = substr($0, index($0, ">") + 1); sub(/^[^:]*: /, "", rest)
      printf "    %-12s %s\n", name "." sev[pri % 8 + 1], rest
    }'
}

# Starts the daemon with the named spam-check configuration, restarting it
# when another one runs; makes sure Sendmail consults it.
use_config() {
  [ "$1" = "$CURRENT_CONFIG" ] && return 0
  if [ -n "${SANDBOX_TESLO_PID:-}" ]; then
    say "(restarting the daemon for configuration '$1')"
    sandbox_stop_teslo > /dev/null
  fi
  cp "$DEMO/config/$1.conf" /etc/mail/orvane/orvane.conf
  CURRENT_CONFIG="$1"
  log_mark
  sandbox_start_teslo || { say "the daemon did not start"; show_daemon_log; exit 1; }
  say "daemon running, pid $SANDBOX_TESLO_PID, configuration demo/config/$1.conf"
  # The daemon installs itself into sendmail.cf and restarts Sendmail about
  # 3 s later; until that is built, the demo puts the filter in itself.
  if sandbox_wait_sendmail_restart 6; then
    say "the daemon installed itself into Sendmail and restarted it:"
  else
    if ! grep -q '^O InputMailFilters=.*TESLO' /etc/mail/sendmail.cf; then
      say "(the daemon did not install itself; the demo adds the filter to sendmail.cf)"
      sandbox_sendmail_config --with-filter
    else
      say "(the daemon installed itself but did not restart Sendmail; the demo does)"
    fi
    sandbox_stop_sendmail
    sandbox_start_sendmail
  fi
  sandbox_cf_filter_lines | sed 's/^/    sendmail.cf:/'
  grep -n "INPUT_MAIL_FILTER" /etc/mail/brin.mc | sed 's/^/    brin.mc:/'
  show_daemon_log
}

# Headers in the queue file that the client did not send (added or changed
# by the filter), skipping Sendmail's own Received line.
added_headers() {
  local qf="$1" sent="$W/demo-sent-headers"
  awk '{ sub(/\r$/, "") } /^ -> DATA/ { on = 1; next } on && /^ -> $/ { exit }
       on && /^ -> / { print substr($0, 5) }' "$SANDBOX_SWAKS_LOG" > "$sent"
  qf_headers "$qf" | grep -v -e '^Received: ' -e '^Return-Path: <M-' | grep -vxF -f "$sent"
}

# "250 2.0.0 ID Message accepted for delivery" -> "250 accepted"; a refusal
# stays as Sendmail wrote it.
short_reply() {
  case "$1" in
    "250 "*"Message accepted for delivery") echo "250 accepted" ;;
    "") echo "(no reply)" ;;
    *) echo "$1" ;;
  esac
}

declare -a TABLE
run_sample() {
  local name="$1" ip="$2" helo="$3" from="$4" to="$5" headers="$6" body="$7" config="$8"
  use_config "$config"
  section "$name: from $ip (HELO $helo), $from -> $to"
  local args=(--from "$from" --client-ip "$ip" --helo "$helo") r h
  IFS=, read -ra rcpts <<< "$to"
  for r in "${rcpts[@]}"; do args+=(--to "$r"); done
  if [ "$headers" != - ]; then
    while [ -n "$headers" ]; do
      h="${headers%% ;; *}"
      args+=(--header "$h")
      [ "$h" = "$headers" ] && break
      headers="${headers#* ;; }"
    done
  fi
  [ "$body" != - ] && args+=(--body-file "$DEMO/$body")
  log_mark
  send_mail "${args[@]}"
  sleep 0.3
  local reply id qf state added="" recipients
  reply="$(smtp_refusal)"
  [ -n "$reply" ] || reply="$(smtp_last_reply)"
  say "  SMTP:       $reply"
  id="$(smtp_queue_id)"
  state="refused"
  if [ -n "$id" ] && qf="$(qf_for_id "$id")"; then
    case "$qf" in
      */hf*) state="quarantined: $(hf_reason "$qf")" ;;
      *) state="queued" ;;
    esac
    say "  Queue:      $(basename "$qf") ($state)"
    recipients="$(qf_recipients "$qf" | tr '\n' ' ')"
    say "  Recipients: $recipients"
    added="$(added_headers "$qf")"
    if [ -n "$added" ]; then
      say "  Headers added or changed by the filter:"
      printf '%s\n' "$added" | sed 's/^/    /'
    else
      say "  Headers added or changed by the filter: none"
    fi
  fi
  say "  Daemon log:"
  show_daemon_log
  local names="-"
  [ -n "${added:-}" ] && names="$(printf '%s\n' "$added" | sed 's/:.*//' | paste -sd, -)"
  TABLE+=("$(printf '%-18s %-14s %-12s %-24s %s' "$name" "$ip" "${state%%:*}" "$(short_reply "$reply")" "$names")")
}

section "Setting up the sandbox"
mkdir -p /etc/mail/orvane /etc/mail/teslo
cp "$DEMO/teslo.xml" /etc/mail/teslo/teslo.xml
sandbox_start_dns "$DEMO/dns-records"
sandbox_sendmail_config
sandbox_start_sendmail || { sandbox_dump_diagnostics; exit 1; }
say "Sendmail listens on 127.0.0.1:25 and [::1]:25 (queue only, pid $(sandbox_sendmail_pid))"
say "DNS on 127.0.0.1:53 answers from demo/dns-records; copy rules: demo/teslo.xml"

trim() { sed -E 's/^[[:space:]]+|[[:space:]]+$//g' <<< "$1"; }
while IFS='|' read -r name ip helo from to headers body config; do
  name="$(trim "$name")"
  if [ -z "$name" ] || [[ "$name" == \#* ]]; then continue; fi
  run_sample "$name" "$(trim "$ip")" "$(trim "$helo")" "$(trim "$from")" "$(trim "$to")" \
    "$(trim "$headers")" "$(trim "$body")" "$(trim "$config")"
done < "$DEMO_SAMPLES"

section "Stopping the daemon"
log_mark
sandbox_stop_teslo > /dev/null
say "exit status $?"
show_daemon_log
sleep 0.5
say "filter lines left in sendmail.cf: $(sandbox_cf_filter_lines | wc -l)"
say "calls of /etc/init.d/sendmail: $(init_calls | tr '\n' ' ')"

section "Verdicts"
printf '%-18s %-14s %-12s %-24s %s\n' sample client queue "SMTP reply" "headers added or changed"
printf '%s\n' "${TABLE[@]}"
SANDBOX_FINISHED=1
