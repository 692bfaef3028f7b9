# Sendmail inside the sandbox: its configuration, start and stop, the test
# init script that `service sendmail ...` reaches, the SMTP client (swaks)
# and the queue inspection helpers. Sourced by sandbox.sh; runs inside the
# namespaces, where $W is the test's work directory.

# ------------------------------------------------------------ configuration --

# sandbox_sendmail_config [--with-filter] [--filter-flags FLAGS]
#                         [--log-level N] [--milter-log-level N] [--mc-line LINE]...
# Writes /etc/mail/sendmail.mc and the macro file /etc/mail/brin.mc (the same
# source), generates /etc/mail/sendmail.cf from it with m4, the aliases
# database, the queue directories and service.switch. --with-filter adds the
# daemon as input mail filter "TESLO" (flags F= empty unless --filter-flags).
sandbox_sendmail_config() {
  local with_filter=0 flags="" level=9 milter_level="" extra=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --with-filter) with_filter=1 ;;
      --filter-flags) flags="$2"; shift ;;
      --log-level) level="$2"; shift ;;
      --milter-log-level) milter_level="$2"; shift ;;
      --mc-line) extra+=("$2"); shift ;;
      *) echo "sandbox_sendmail_config: unknown option $1" >&2; return 2 ;;
    esac
    shift
  done
  local mc="$W/etc-mail/sendmail.mc"
  {
    echo 'divert(-1)dnl'
    echo 'divert(0)dnl'
    echo "VERSIONID(\`teslo test sandbox')dnl"
    echo "OSTYPE(\`linux')dnl"
    echo "define(\`confDOMAIN_NAME', \`$SANDBOX_HOSTNAME')dnl"
    echo "define(\`confDONT_PROBE_INTERFACES', \`True')dnl"
    echo "define(\`confDELIVERY_MODE', \`queueonly')dnl"
    echo "define(\`confQUEUE_LA', \`999')dnl"
    echo "define(\`confREFUSE_LA', \`999')dnl"
    echo "define(\`confDELAY_LA', \`0')dnl"
    echo "define(\`confLOG_LEVEL', \`$level')dnl"
    [ -n "$milter_level" ] && echo "define(\`confMILTER_LOG_LEVEL', \`$milter_level')dnl"
    echo "define(\`confTO_IDENT', \`0s')dnl"
    echo "define(\`confPID_FILE', \`/var/run/sendmail.pid')dnl"
    echo "define(\`ALIAS_FILE', \`/etc/mail/aliases')dnl"
    echo "define(\`STATUS_FILE', \`/etc/mail/statistics')dnl"
    echo "define(\`confSERVICE_SWITCH_FILE', \`/etc/mail/service.switch')dnl"
    echo "define(\`confHOSTS_FILE', \`/etc/hosts')dnl"
    echo "define(\`confDEF_USER_ID', \`mail:mail')dnl"
    echo "define(\`confTRUSTED_USER', \`smmta')dnl"
    echo "FEATURE(\`no_default_msa')dnl"
    echo "FEATURE(\`nocanonify')dnl"
    echo "FEATURE(\`accept_unresolvable_domains')dnl"
    echo "FEATURE(\`accept_unqualified_senders')dnl"
    echo "FEATURE(\`promiscuous_relay')dnl"
    echo "DAEMON_OPTIONS(\`Family=inet, Name=MTA-v4, Port=smtp, Addr=127.0.0.1')dnl"
    echo "DAEMON_OPTIONS(\`Family=inet6, Name=MTA-v6, Port=smtp, Addr=::1')dnl"
    local line
    for line in "${extra[@]}"; do echo "$line"; done
    if [ "$with_filter" = 1 ]; then
      echo "INPUT_MAIL_FILTER(\`TESLO', \`S=unix:/var/run/teslo.sock, F=$flags, T=S:240s;R:240s;E:5m')dnl"
    fi
    echo 'MAILER(local)dnl'
    echo 'MAILER(smtp)dnl'
  } > "$mc"
  cp "$mc" "$W/etc-mail/brin.mc"
  m4 /usr/share/sendmail/cf/m4/cf.m4 "$mc" > "$W/etc-mail/sendmail.cf" 2> "$W/log/m4.err" || {
    echo "m4 failed:" >&2; cat "$W/log/m4.err" >&2; return 1
  }
  printf 'hosts files dns\naliases files\n' > "$W/etc-mail/service.switch"
  printf 'postmaster: root\nMAILER-DAEMON: postmaster\nabuse: postmaster\n' > "$W/etc-mail/aliases"
  : > "$W/etc-mail/statistics"
  mkdir -p "$W/spool/mqueue" "$W/spool/clientmqueue" "$W/spool/mqueue-client"
  chown smmta:smmsp "$W/spool/mqueue" 2>/dev/null || true
  chmod 2750 "$W/spool/mqueue"
  chown smmsp:smmsp "$W/spool/clientmqueue" "$W/spool/mqueue-client" 2>/dev/null || true
  chmod 2770 "$W/spool/clientmqueue" "$W/spool/mqueue-client"
  sendmail -bi > "$W/log/newaliases.log" 2>&1 || {
    echo "newaliases failed:" >&2; cat "$W/log/newaliases.log" >&2; return 1
  }
}

# The filter-related lines of the current sendmail.cf (for messages).
sandbox_cf_filter_lines() {
  grep -nE '^(O InputMailFilters|XTESLO|O Milter\.macros)' /etc/mail/sendmail.cf
}

# ---------------------------------------------------------- start and stop --

# The control script that both the harness and the init script use.
_sandbox_write_init_script() {
  cat > "$W/bin/sendmail-ctl" <<'EOF'
#!/bin/bash
# Starts, stops, restarts and reloads the sandbox's Sendmail.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
pid_of() { local p; p="$(head -n 1 /var/run/sendmail.pid 2>/dev/null)"; [[ "$p" =~ ^[0-9]+$ ]] && echo "$p"; }
alive() { local s; s="$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)"; [ -n "$s" ] && [ "$s" != Z ]; }
listening() { ss -Hltn 'sport = :25' 2>/dev/null | grep -q '127\.0\.0\.1:25'; }
wait_for() { local i; for ((i = 0; i < 150; i++)); do "$@" && return 0; sleep 0.1; done; return 1; }
not_listening() { ! listening; }
dead() { ! alive "$1"; }
do_start() {
  local p; p="$(pid_of)"
  if [ -n "$p" ] && alive "$p" && listening; then return 0; fi
  /usr/sbin/sendmail -bd -L sm-mta || return 1
  wait_for listening
}
do_stop() {
  local p; p="$(pid_of)"
  [ -n "$p" ] && alive "$p" || return 0
  kill -TERM "$p"
  wait_for dead "$p" || kill -KILL "$p"
  wait_for not_listening
  rm -f /var/run/sendmail.pid
}
do_reload() {
  local p; p="$(pid_of)"
  [ -n "$p" ] && alive "$p" || return 0
  kill -HUP "$p"
  sleep 0.5
  wait_for listening
}
case "$1" in
  start) do_start ;;
  stop) do_stop ;;
  restart | force-reload) do_stop; do_start ;;
  reload) do_reload ;;
  status) p="$(pid_of)"; [ -n "$p" ] && alive "$p" ;;
  *) echo "usage: $0 start|stop|restart|reload|status" >&2; exit 2 ;;
esac
EOF
  {
    echo '#!/bin/bash'
    echo '# The sandbox stand-in for Sendmail'"'"'s init script: records each'
    echo '# call once it has been carried out.'
    printf '/bin/bash %q "$@" >> %q 2>&1\n' "$W/bin/sendmail-ctl" "$W/log/init-script.log"
    echo 'status=$?'
    printf 'echo "$*" >> %q\n' "$W/log/init-calls.log"
    echo 'exit $status'
  } > "$W/bin/init-sendmail"
  chmod 755 "$W/bin/sendmail-ctl" "$W/bin/init-sendmail"
  : > "$W/log/init-calls.log"
}

# Starts Sendmail (sendmail -bd -L sm-mta) and waits until it listens.
sandbox_start_sendmail() {
  [ -s /etc/mail/sendmail.cf ] || sandbox_sendmail_config || return 1
  bash "$W/bin/sendmail-ctl" start >> "$W/log/init-script.log" 2>&1 || {
    echo "Sendmail did not start" >&2; return 1
  }
}
sandbox_stop_sendmail() { bash "$W/bin/sendmail-ctl" stop >> "$W/log/init-script.log" 2>&1; }
sandbox_sendmail_pid() { head -n 1 /var/run/sendmail.pid 2>/dev/null; }
sandbox_sendmail_listening() { ss -Hltn 'sport = :25' 2>/dev/null | grep -q '127\.0\.0\.1:25'; }

# sandbox_start_mail_system [SENDMAIL_CONFIG_OPTION... --] SETTING...
# The whole mail system with the daemon consulted: writes the settings to
# /etc/mail/orvane/orvane.conf (one per line), generates sendmail.cf with the
# filter (plus the options before "--", see sandbox_sendmail_config), starts
# the daemon, then Sendmail once the daemon's one-shot Sendmail restart has
# passed (it finds no Sendmail to restart). Non-zero if a step failed.
sandbox_start_mail_system() {
  local options=() arg
  for arg in "$@"; do
    if [ "$arg" = -- ]; then
      while [ "$1" != -- ]; do options+=("$1"); shift; done
      shift
      break
    fi
  done
  mkdir -p /etc/mail/orvane
  printf '%s\n' "$@" > /etc/mail/orvane/orvane.conf
  sandbox_sendmail_config --with-filter "${options[@]}" || return 1
  sandbox_start_teslo || return 1
  sleep 4
  sandbox_start_sendmail
}

# Stops Sendmail, then the daemon (its exit status is not looked at).
sandbox_stop_mail_system() {
  sandbox_stop_sendmail
  sandbox_stop_teslo > /dev/null
}

# The calls that reached /etc/init.d/sendmail, one per line ("restart", ...),
# each written when the script has finished it.
init_calls() { cat "$W/log/init-calls.log"; }
init_call_count() { grep -cx -- "$1" "$W/log/init-calls.log"; }
# wait_for_init_call ACTION [COUNT [TIMEOUT]]: until ACTION was called COUNT
# times (default 1) and Sendmail listens again.
wait_for_init_call() {
  local action="$1" count="${2:-1}" limit="${3:-15}"
  wait_until "$limit" _sandbox_init_call_done "$action" "$count"
}
_sandbox_init_call_done() {
  [ "$(init_call_count "$1")" -ge "$2" ] && sandbox_sendmail_listening
}

# -------------------------------------------------------------- SMTP client --

SANDBOX_MAIL_COUNT=0
# send_mail --from A --to B [--to C] [--client-ip IP] [--helo NAME]
#           [--header 'X: y']... [--body-file F | --body TEXT] [--data-file F]
#           [-- more swaks options]
# A --header replaces swaks' own header of that name (To, Subject, ...) or
# adds one.
# Sends one message with swaks to Sendmail (127.0.0.1:25, or ::1:25 for an
# IPv6 client address), from the client address (default 192.0.2.7).
# Returns swaks' status (0 accepted). The transcript is in $SANDBOX_SWAKS_LOG;
# see smtp_last_reply and smtp_queue_id.
send_mail() {
  local from="" client=192.0.2.7 helo="client.example.net" args=() tos=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --from) from="$2"; shift ;;
      --to) tos+=("$2"); shift ;;
      --client-ip) client="$2"; shift ;;
      --helo) helo="$2"; shift ;;
      --header) args+=(--header "$2"); shift ;;
      --body-file) args+=(--body "$2"); shift ;;
      --body) printf '%s\n' "$2" > "$W/swaks/body.$SANDBOX_MAIL_COUNT"
              args+=(--body "$W/swaks/body.$SANDBOX_MAIL_COUNT"); shift ;;
      --data-file) args+=(--data "$2"); shift ;;
      --) shift; args+=("$@"); break ;;
      *) echo "send_mail: unknown option $1" >&2; return 2 ;;
    esac
    shift
  done
  local server=127.0.0.1
  [[ "$client" == *:* ]] && server=::1
  SANDBOX_MAIL_COUNT=$((SANDBOX_MAIL_COUNT + 1))
  SANDBOX_SWAKS_LOG="$W/swaks/$SANDBOX_MAIL_COUNT.log"
  local to_list
  to_list="$(IFS=,; echo "${tos[*]}")"
  local status=0
  swaks --server "$server" --port 25 --local-interface "$client" \
    --helo "$helo" --from "$from" --to "$to_list" --timeout 60 \
    "${args[@]}" < /dev/null > "$SANDBOX_SWAKS_LOG" 2>&1 || status=$?
  echo "swaks status $status" >> "$SANDBOX_SWAKS_LOG"
  return "$status"
}

# The last reply line the server sent in the last transaction, e.g.
# "250 2.0.0 4AB1cd000123 Message accepted for delivery" or the refusal.
smtp_last_reply() {
  grep -E '^ *<(-|\*\*) +[0-9]{3}' "$SANDBOX_SWAKS_LOG" | grep -v ' 221 ' | tail -n 1 |
    sed -E 's/^ *<(-|\*\*) +//'
}
# The first refused reply of the last transaction (empty if none).
smtp_refusal() {
  grep -E '^ *<\*\* +[0-9]{3}' "$SANDBOX_SWAKS_LOG" | head -n 1 | sed -E 's/^ *<\*\* +//'
}
# The queue identifier from the acceptance reply of the last transaction.
smtp_queue_id() {
  grep -E '^ *<- +250 [0-9.]+ [A-Za-z0-9]+ Message accepted' "$SANDBOX_SWAKS_LOG" |
    tail -n 1 | awk '{print $4}'
}

# ------------------------------------------------------------ queue files --

SANDBOX_QUEUE=/var/spool/mqueue
# All qf files, oldest first.
queue_files() { ls -1tr "$SANDBOX_QUEUE"/qf* 2>/dev/null; }
# The newest qf file.
last_qf() { ls -1t "$SANDBOX_QUEUE"/qf* 2>/dev/null | head -n 1; }
# The qf (or hf, when quarantined) file of a queue identifier.
qf_for_id() {
  local f
  for f in "$SANDBOX_QUEUE/qf$1" "$SANDBOX_QUEUE/hf$1"; do
    [ -e "$f" ] && { echo "$f"; return 0; }
  done
  return 1
}
# Quarantined messages (hf files), oldest first, and the newest.
hf_files() { ls -1tr "$SANDBOX_QUEUE"/hf* 2>/dev/null; }
last_hf() { ls -1t "$SANDBOX_QUEUE"/hf* 2>/dev/null | head -n 1; }
# The quarantine reason of a queue file (its "q" line without the q).
hf_reason() { grep -m 1 '^q' "${1:-$(last_hf)}" | cut -c2-; }

# The headers of a queue file as "Name: value", continuation lines joined
# with a line feed written as \n; other control bytes as cat -v shows them
# (Sendmail's macro marker in "Return-Path: <M-^Ag>"). Default: newest qf.
qf_headers() {
  local f="${1:-$(last_qf)}"
  [ -n "$f" ] && [ -e "$f" ] || return 1
  awk '
    /^H/ { if (h != "") print h; h = substr($0, 2); sub(/^\?[^?]*\?/, "", h); next }
    /^\t/ && h != "" { h = h "\\n" $0; next }
    { if (h != "") print h; h = "" }
    END { if (h != "") print h }' < <(cat -v "$f")
}
# qf_has_header 'X-Name: exact value' [FILE]
qf_has_header() { qf_headers "${2:-}" | grep -qFx -- "$1"; }
# qf_header_value NAME [FILE]: the values of every header with that name.
qf_header_value() {
  qf_headers "${2:-}" | awk -v n="$1" 'index($0, n ": ") == 1 { print substr($0, length(n) + 3) }'
}
# The envelope recipients of a queue file, one per line (as Sendmail wrote
# them, usually "<a@b>" or "a@b").
qf_recipients() {
  local f="${1:-$(last_qf)}"
  [ -n "$f" ] && [ -e "$f" ] || return 1
  grep '^R' "$f" | sed -E 's/^R[^:]*://'
}
# The envelope sender of a queue file.
qf_sender() { grep -m 1 '^S' "${1:-$(last_qf)}" | cut -c2-; }
