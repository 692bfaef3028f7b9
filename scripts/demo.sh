#!/usr/bin/env bash
# The demo: installs what is missing, builds the daemon, then runs it beside
# a real Sendmail inside a private sandbox (the integration tests' sandbox:
# private mount, network, pid and uts namespaces, nothing on the host
# changes), sends the sample messages of demo/samples.txt through it and
# shows what happened to each: the SMTP result, what the filter did (from
# Sendmail's own log of each filter action), the headers it added as Sendmail
# stored them, the envelope recipients, quarantine, the daemon's log lines
# and one sentence on why. Ends with one table of all verdicts and the time
# the demo took.
#
# usage: sudo bash scripts/demo.sh      (needs root; reads no standard input)
# Environment: TESLO_BUILD_DIR (default build), DEMO_SAMPLES (default
# demo/samples.txt), SANDBOX_KEEP=1 keeps the sandbox's work directory.
# Ctrl-C or SIGTERM at any moment stops everything the demo started.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)"
. "$ROOT/tests/integration/lib/sandbox.sh"

demo_took() {
  [ "$1" = 0 ] && printf '\nThe demo took %d s.\n' "$SECONDS"
  return 0
}

if [ "${SANDBOX_INSIDE:-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "The demo needs root (it creates private namespaces): sudo bash scripts/demo.sh" >&2
    exit 1
  fi
  BUILD="${TESLO_BUILD_DIR:-$ROOT/build}"
  export DEMO_SAMPLES="${DEMO_SAMPLES:-$ROOT/demo/samples.txt}"
  host_location_problem "$ROOT" "$BUILD" "$(dirname "$DEMO_SAMPLES")" || exit 2
  exec < /dev/null
  host_trap_interrupts
  echo "== installing what is missing"
  host_run bash "$ROOT/scripts/install-deps.sh" || exit 1
  echo "== building the daemon in $BUILD"
  mkdir -p "$BUILD" || exit 1
  BUILD="$(cd "$BUILD" && pwd -P)"
  build_log="$BUILD/demo-build.log"
  host_remove_on_interrupt "$build_log"
  if ! { host_run cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    host_run cmake --build "$BUILD" -j"$(nproc)" --target teslo; } > "$build_log" 2>&1; then
    cat "$build_log" >&2
    rm -f "$build_log"
    exit 1
  fi
  rm -f "$build_log"
  host_keep "$build_log"
  export TESLO_BIN="$BUILD/teslo"
  export SANDBOX_VISIBLE
  SANDBOX_VISIBLE="$(readlink -f "$(dirname "$DEMO_SAMPLES")")"
  SANDBOX_DONE_HOOK=demo_took
fi

sandbox_enter "$@"
# ------------------------------------------------------------ in the sandbox

DEMO="$ROOT/demo"
. "$DEMO/explain.sh"
CURRENT_CONFIG=""

say() { printf '%s\n' "$*"; }
if [ -t 1 ]; then
  section() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  section() { printf '\n== %s\n' "$*"; }
fi

# The daemon's log lines since the mark, with their priority spelled out.
daemon_log() {
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

# Sendmail's own lines about the filter since the mark (what the filter did
# to the message), without the "sm-mta[pid]: QUEUEID: " prefix.
filter_actions() {
  tail -n +"$((SANDBOX_LOG_MARK + 1))" "$W/log/syslog.log" |
    grep -E '^<[0-9]+>sm-mta\[[0-9]+\]: ' | sed -E 's/^<[0-9]+>sm-mta\[[0-9]+\]: ([A-Za-z0-9]+: )?//' |
    grep -E '^(Milter \(TESLO\) |milter=TESLO, |Milter: )'
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
  sandbox_start_teslo || { say "the daemon did not start"; daemon_log; exit 1; }
  say "daemon running, pid $SANDBOX_TESLO_PID, configuration demo/config/$1.conf"
  # The daemon installs itself into sendmail.cf and restarts Sendmail about
  # 3 s later; until that is built, the demo puts the filter in itself.
  if sandbox_wait_sendmail_restart 6; then
    say "the daemon installed itself into Sendmail and restarted it:"
  else
    if ! grep -q '^O InputMailFilters=.*TESLO' /etc/mail/sendmail.cf; then
      say "(the daemon did not install itself; the demo adds the filter to sendmail.cf)"
      sandbox_sendmail_config --with-filter --milter-log-level 10
    else
      say "(the daemon installed itself but did not restart Sendmail; the demo does)"
    fi
    sandbox_stop_sendmail
    sandbox_start_sendmail
  fi
  sandbox_cf_filter_lines | sed 's/^/    sendmail.cf:/'
  grep -n "INPUT_MAIL_FILTER" /etc/mail/brin.mc | sed 's/^/    brin.mc:/'
  daemon_log
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

# Prints the filter's actions one per line, headers as Sendmail stored them
# in the queue file (folded ones on several lines); sets ACTION_SUMMARY.
show_actions() {
  local actions="$1" qf="$2" line name value stored old
  ACTION_SUMMARY=""
  if [ -z "$actions" ]; then
    say "  The filter: changed nothing"
    ACTION_SUMMARY="-"
    return
  fi
  say "  The filter (as Sendmail logged each of its actions):"
  while IFS= read -r line; do
    case "$line" in
      "Milter (TESLO) add: header: "* | "Milter (TESLO) insert ("*"): header: "*)
        value="${line#*header: }"
        name="${value%%:*}"
        stored="$(stored_header "$qf" "$value")"
        # Not stored (a refused message): folded as the log gives it.
        [ -n "$stored" ] || stored="$(printf '%s\n' "$value" | sed 's/\\n/\n/g; s/\\t/\t/g')"
        printf '%s\n' "$stored" | sed '1s/^/    added header     /; 2,$s/^/                     /'
        ACTION_SUMMARY+="+$name " ;;
      "Milter (TESLO) change: header "*)
        value="${line#Milter (TESLO) change: header }"
        name="${value%%: from *}"
        stored="$(qf_header_value "$name" "$qf" | tail -n 1)"
        old="${value#"$name: from "}"
        old="${old%" to $stored"}"
        say "    changed header   $name: $stored   (before:$old)"
        ACTION_SUMMARY+="~$name " ;;
      "Milter (TESLO) add: rcpt: "*)
        say "    added recipient  ${line#*rcpt: }"
        ACTION_SUMMARY+="+rcpt " ;;
      "Milter (TESLO) delete: rcpt "*)
        say "    removed recipient ${line#*rcpt }"
        ACTION_SUMMARY+="-rcpt " ;;
      "milter=TESLO, quarantine="*)
        say "    quarantined      ${line#*quarantine=}"
        ACTION_SUMMARY+="quarantine " ;;
      "Milter: connect: "*"rejecting commands")
        say "    refused          the connection: Sendmail refuses every command from this client"
        ACTION_SUMMARY+="refuse " ;;
      "Milter: "*"reject="*)
        say "    refused          ${line#*reject=}"
        ACTION_SUMMARY+="refuse " ;;
      *)
        say "    $line" ;;
    esac
  done <<< "$actions"
  ACTION_SUMMARY="${ACTION_SUMMARY% }"
}

# The header "Name: value" (a line feed written \n) as the queue file holds
# it, on as many lines as it was stored; empty when not found.
stored_header() {
  local qf="$1" wanted="$2"
  [ -n "$qf" ] || return 0
  # Sendmail's log writes a tab inside a value as \t.
  qf_headers "$qf" | WANT="$wanted" awk '{ seen = $0; gsub(/\t/, "\\t", seen) }
    seen == ENVIRON["WANT"] { n = split($0, part, /\\n/); for (i = 1; i <= n; i++) print part[i]; exit }'
}

TABLE=$'sample\tclient\tverdict\twhat the filter did\tSMTP reply'
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
  local reply id qf="" state="refused" actions log why
  reply="$(smtp_refusal)"
  [ -n "$reply" ] || reply="$(smtp_last_reply)"
  say "  SMTP:       $reply"
  id="$(smtp_queue_id)"
  if [ -n "$id" ] && qf="$(qf_for_id "$id")"; then
    case "$qf" in
      */hf*) state="quarantined: $(hf_reason "$qf")" ;;
      *) state="queued" ;;
    esac
    say "  Queue:      $(basename "$qf") ($state)"
    say "  Recipients: $(qf_recipients "$qf" | paste -sd ' ' -)"
  else
    qf=""
  fi
  actions="$(filter_actions)"
  show_actions "$actions" "$qf"
  log="$(daemon_log)"
  if [ -n "$log" ]; then
    say "  Daemon log:"
    printf '%s\n' "$log"
  else
    say "  Daemon log: nothing"
  fi
  why="$(explain_verdict "/etc/mail/orvane/orvane.conf" "$ip" "$helo" "$from" "$actions" "$log")"
  say "  Why:        $why"
  TABLE+=$'\n'"$name"$'\t'"$ip"$'\t'"${why%%:*}"$'\t'"$ACTION_SUMMARY"$'\t'"$(short_reply "$reply")"
}

section "Setting up the sandbox"
mkdir -p /etc/mail/orvane /etc/mail/teslo
cp "$DEMO/teslo.xml" /etc/mail/teslo/teslo.xml
sandbox_start_dns "$DEMO/dns-records"
# Milter log level 10: Sendmail logs every change a filter makes.
sandbox_sendmail_config --milter-log-level 10
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
daemon_log
sleep 0.5
say "filter lines left in sendmail.cf: $(sandbox_cf_filter_lines | wc -l)"
say "calls of /etc/init.d/sendmail: $(init_calls | paste -sd ' ' -)"

section "Verdicts"
# Columns as wide as their widest cell; the reply, the longest, comes last.
# The filter's actions: +Name added header, ~Name changed header, +rcpt
# added recipient, quarantine, refuse.
printf '%s\n' "$TABLE" | awk -F'\t' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } n = NR }
  END { for (r = 1; r <= n; r++) {
          printf "%-*s  %-*s  %-*s  %-*s  %s\n", w[1], cell[r, 1], w[2], cell[r, 2],
                 w[3], cell[r, 3], w[4], cell[r, 4], cell[r, 5] } }'
say "(+Name: header added, ~Name: header changed, +rcpt: recipient added; from Sendmail's log)"
SANDBOX_FINISHED=1
