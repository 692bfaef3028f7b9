# Sandbox for the integration tests: runs the real daemon at its real fixed
# paths beside a real Sendmail, inside private mount, network, pid and uts
# namespaces, so nothing reaches the host's /etc, /run, /tmp, /var/spool or
# any non-loopback address.
#
# A test script sources this file and calls `sandbox_enter "$@"` first. Outside
# the namespaces that call creates the work directory, re-runs the script
# inside `unshare` (with reaper.py as process 1) and, when it ends, removes
# the work directory and exits with the script's status. Inside, it mounts the
# test's own directories over the system ones, starts the syslog receiver and
# returns, so the rest of the script runs in the sandbox. Every process that
# the sandbox starts is stopped by pid when the script exits (EXIT trap).
#
# See README.md next to this file for the whole API.

SANDBOX_LIB="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)"
SANDBOX_PYTHON=/usr/bin/python3         # the Debian python with python3-dnslib and python3-prometheus-client
SANDBOX_HOSTNAME=mail.sandbox.test      # Sendmail's fixed domain and host name

# shellcheck source=host_jobs.sh
. "$SANDBOX_LIB/host_jobs.sh"
# shellcheck source=sandbox_mail.sh
. "$SANDBOX_LIB/sandbox_mail.sh"
# shellcheck source=sandbox_assert.sh
. "$SANDBOX_LIB/sandbox_assert.sh"

# ---------------------------------------------------------------- entering --

sandbox_enter() {
  if [ "${SANDBOX_INSIDE:-}" = 1 ]; then
    _sandbox_setup
    return 0
  fi
  if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the sandbox needs root (unshare, mounts)" >&2
    exit 77
  fi
  : "${TESLO_BIN:?TESLO_BIN must name the daemon binary}"
  [ -x "$TESLO_BIN" ] || { echo "TESLO_BIN=$TESLO_BIN is not executable" >&2; exit 2; }
  # Real paths only: a symbolic link may live where the sandbox hides it.
  TESLO_BIN="$(readlink -f "$TESLO_BIN")"
  [ -n "${TESLO_SOURCE_DIR:-}" ] && export TESLO_SOURCE_DIR="$(readlink -f "$TESLO_SOURCE_DIR")"
  local script parent work status=0
  script="$(readlink -f "$0")"
  parent="$(readlink -f "${SANDBOX_TMPDIR:-$(dirname "$TESLO_BIN")}")"
  host_location_problem "$parent" "$(dirname "$TESLO_BIN")" "$(dirname "$script")" \
    "$(cd "$SANDBOX_LIB/../../.." && pwd -P)" ${TESLO_SOURCE_DIR:+"$TESLO_SOURCE_DIR"} \
    ${SANDBOX_VISIBLE:+"$SANDBOX_VISIBLE"} || exit 2
  work="$(mktemp -d "$parent/sandbox.XXXXXX")" || exit 2
  # The work directory goes when the script ends, however it ends.
  [ "${SANDBOX_KEEP:-0}" = 1 ] || host_remove_on_interrupt "$work"
  host_trap_interrupts
  trap '[ "${SANDBOX_KEEP:-0}" = 1 ] || rm -rf "$work"' EXIT
  host_run unshare --mount --net --pid --uts --ipc --kill-child=SIGTERM --mount-proc \
    --propagation private \
    env SANDBOX_INSIDE=1 SANDBOX_DIR="$work" TESLO_BIN="$TESLO_BIN" \
    "$SANDBOX_PYTHON" "$SANDBOX_LIB/reaper.py" "$work/reaped.log" \
    bash "$script" "$@" || status=$?
  trap '' INT TERM
  if [ "${SANDBOX_KEEP:-0}" = 1 ]; then echo "work directory kept: $work" >&2; else rm -rf "$work"; fi
  [ -n "${SANDBOX_DONE_HOOK:-}" ] && "$SANDBOX_DONE_HOOK" "$status"
  exit "$status"
}

# Everything below runs inside the namespaces.

_sandbox_setup() {
  set -u
  umask 022
  W="$SANDBOX_DIR"
  SANDBOX_PIDS=()
  mkdir -p "$W"/{etc-mail,run,tmp,spool,dev,log,bin,swaks}
  chmod 755 "$W" "$W"/etc-mail "$W"/run
  chmod 1777 "$W/tmp"
  trap _sandbox_cleanup EXIT
  trap '_sandbox_interrupted 143' TERM
  trap '_sandbox_interrupted 130' INT

  ip link set lo up
  # Documentation networks are local addresses here, so clients can connect
  # from them; nothing is routed anywhere else.
  local net
  for net in 192.0.2.0/24 198.51.100.0/24 203.0.113.0/24; do
    ip route add local "$net" dev lo table local
  done
  # IPv6 has no "local route means local address" rule for bind(): allow
  # binding any address (this namespace's setting only).
  ip -6 route add local 2001:db8::/32 dev lo table local 2>/dev/null &&
    echo 1 > /proc/sys/net/ipv6/ip_nonlocal_bind
  hostname "$SANDBOX_HOSTNAME"

  printf '127.0.0.1\tlocalhost\n127.0.0.1\t%s mail\n::1\tlocalhost ip6-localhost\n' \
    "$SANDBOX_HOSTNAME" > "$W/hosts"
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:2\n' > "$W/resolv.conf"
  touch "$W/dns-records" "$W/log/dns-queries.log" "$W/log/syslog.log"

  # Files under /etc first: /etc/resolv.conf may be a link into /run.
  mount --bind "$W/hosts" /etc/hosts
  mount --bind "$W/resolv.conf" /etc/resolv.conf
  _sandbox_keep_visible
  mount --rbind "$W/etc-mail" /etc/mail
  mount --rbind "$W/run" /run
  mount --rbind "$W/tmp" /tmp
  mount --rbind "$W/spool" /var/spool
  cd "$(pwd -P 2>/dev/null)" 2>/dev/null || cd /
  _sandbox_make_dev
  _sandbox_write_init_script
  mount --bind "$W/bin/init-sendmail" /etc/init.d/sendmail

  sandbox_start_syslog
}

# The checkout, the build directory and the work directory may lie below a
# directory that the sandbox covers with its own (a checkout under /tmp):
# each such path is bound into the sandbox's own directory at the same
# relative place, so that it stays visible at its real path. The host's
# paths were checked before (host_location_problem).
_sandbox_keep_visible() {
  local paths=("$W" "$(dirname "$TESLO_BIN")" "$(cd "$SANDBOX_LIB/../../.." && pwd -P)"
    "$(dirname "$(readlink -f "$0")")")
  [ -n "${TESLO_SOURCE_DIR:-}" ] && paths+=("$TESLO_SOURCE_DIR")
  [ -n "${SANDBOX_VISIBLE:-}" ] && paths+=("$SANDBOX_VISIBLE")
  local path real covered own kept=() k mount_point
  while IFS= read -r path; do
    real="$(readlink -f "$path")" || continue
    for covered in "${HOST_COVERED_DIRS[@]}"; do
      [[ "$real" == "$covered"/* ]] || continue
      # Below a path already kept, on the same mount: nothing more to do.
      mount_point="$(stat -c %m "$real")"
      for k in "${kept[@]}"; do
        if [[ "$real/" == "$k/"* ]] && [ "$(stat -c %m "$k")" = "$mount_point" ]; then continue 3; fi
      done
      case "$covered" in
        /etc/mail) own="$W/etc-mail" ;; /run) own="$W/run" ;;
        /tmp) own="$W/tmp" ;; /var/spool) own="$W/spool" ;;
      esac
      mkdir -p "$own/${real#"$covered"/}"
      mount --bind "$real" "$own/${real#"$covered"/}"
      kept+=("$real")
    done
  done < <(printf '%s\n' "${paths[@]}" | awk '{ print length($0) "\t" $0 }' | sort -n | cut -f2-)
}

# A private /dev: the device nodes programs need, and the test's /dev/log.
_sandbox_make_dev() {
  mount -t tmpfs -o mode=0755,size=1m sandbox-dev "$W/dev"
  local node
  for node in null zero full random urandom tty; do
    [ -e "/dev/$node" ] || continue
    touch "$W/dev/$node"
    mount --bind "/dev/$node" "$W/dev/$node"
  done
  ln -s /proc/self/fd "$W/dev/fd"
  ln -s /proc/self/fd/0 "$W/dev/stdin"
  ln -s /proc/self/fd/1 "$W/dev/stdout"
  ln -s /proc/self/fd/2 "$W/dev/stderr"
  mkdir "$W/dev/shm" "$W/dev/pts"
  mount -t tmpfs -o mode=1777,size=4m sandbox-shm "$W/dev/shm"
  mount --move "$W/dev" /dev
}

# ------------------------------------------------------------ processes --

# Remembers a pid that the cleanup must stop.
sandbox_track_pid() { SANDBOX_PIDS+=("$1"); }

# sandbox_filter_pid: the process that serves the milter connections, the
# daemon's child "teslo-filter" (the daemon itself when it has none).
sandbox_filter_pid() {
  pgrep -P "$SANDBOX_TESLO_PID" -x teslo-filter || echo "$SANDBOX_TESLO_PID"
}

# True while the process runs (a zombie counts as ended).
sandbox_pid_alive() {
  local state
  state="$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# Sends SIGTERM to a pid and waits up to $2 seconds (default 10) for it to
# end, then sends SIGKILL.
sandbox_kill_pid() {
  local pid="$1" limit="${2:-10}" i
  sandbox_pid_alive "$pid" || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < limit * 10; i++)); do
    sandbox_pid_alive "$pid" || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

# The exit status of a detached process that ended, from the reaper's log
# (empty when it has not ended yet).
sandbox_reaped_status() {
  awk -v pid="$1" '$1 == pid { status = $2 } END { if (status != "") print status }' \
    "$W/reaped.log" 2>/dev/null
}

# Polls until a condition command succeeds; fails after $1 seconds.
wait_until() {
  local limit="$1" i
  shift
  for ((i = 0; i < limit * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# An interrupt ends the script quietly: the cleanup runs once (later INT and
# TERM are ignored) and the host side says that it was interrupted.
SANDBOX_INTERRUPTED=0
_sandbox_interrupted() {
  trap '' INT TERM
  SANDBOX_INTERRUPTED=1
  exit "$1"
}

_sandbox_cleanup() {
  local status=$?
  trap '' INT TERM
  trap - EXIT
  [ -n "${SANDBOX_TESLO_PID:-}" ] && sandbox_kill_pid "$SANDBOX_TESLO_PID" 10
  local pid
  pid="$(sandbox_teslo_pid_from_file)"
  [ -n "$pid" ] && sandbox_kill_pid "$pid" 10
  sandbox_stop_sendmail >/dev/null 2>&1
  for pid in "${SANDBOX_PIDS[@]}"; do
    sandbox_kill_pid "$pid" 3
  done
  if [ "$status" != 0 ] && [ "${SANDBOX_FINISHED:-0}" != 1 ] && [ "$SANDBOX_INTERRUPTED" = 0 ]; then
    echo "test script ended early with status $status" >&2
    sandbox_dump_diagnostics >&2
  fi
  exit "$status"
}

# --------------------------------------------------------------- syslog --

# Starts the /dev/log receiver (sandbox_enter already did); lines go to
# $W/log/syslog.log as "<PRI>TAG: TEXT".
sandbox_start_syslog() {
  [ -n "${SANDBOX_SYSLOG_PID:-}" ] && return 0
  rm -f "$W/log/syslog.ready"
  "$SANDBOX_PYTHON" "$SANDBOX_LIB/syslog_receiver.py" /dev/log \
    "$W/log/syslog.log" "$W/log/syslog.ready" &
  SANDBOX_SYSLOG_PID=$!
  sandbox_track_pid "$SANDBOX_SYSLOG_PID"
  wait_until 10 test -s "$W/log/syslog.ready" || { echo "syslog receiver did not start" >&2; return 1; }
}

SANDBOX_LOG_MARK=0
# Later log_* queries see only lines logged after this call.
log_mark() { SANDBOX_LOG_MARK="$(wc -l < "$W/log/syslog.log")"; }

# "mail.notice" -> 21 (facility * 8 + severity).
sandbox_priority() {
  local facility="${1%%.*}" severity="${1#*.}" f s
  case "$facility" in
    kern) f=0 ;; user) f=1 ;; mail) f=2 ;; daemon) f=3 ;; auth) f=4 ;; syslog) f=5 ;;
    lpr) f=6 ;; news) f=7 ;; uucp) f=8 ;; cron) f=9 ;; authpriv) f=10 ;; ftp) f=11 ;;
    local[0-7]) f=$((16 + ${facility#local})) ;;
    *) echo "unknown facility $facility" >&2; return 1 ;;
  esac
  case "$severity" in
    emerg) s=0 ;; alert) s=1 ;; crit) s=2 ;; err | error) s=3 ;; warning | warn) s=4 ;;
    notice) s=5 ;; info) s=6 ;; debug) s=7 ;;
    *) echo "unknown severity $severity" >&2; return 1 ;;
  esac
  echo $((f * 8 + s))
}

SANDBOX_LOG_IDENT=KORVAL
# Prints the texts of the lines since the mark with this priority and this
# identity (a regex for the tag, default "KORVAL[pid]").
log_texts() {
  local pri tag="${2:-$SANDBOX_LOG_IDENT\[[0-9]+\]}"
  pri="$(sandbox_priority "$1")" || return 2
  tail -n +"$((SANDBOX_LOG_MARK + 1))" "$W/log/syslog.log" |
    grep -E "^<$pri>$tag: " | sed -E 's/^<[0-9]+>[^:]*: //'
}

# log_has mail.notice "KORVAL $TESLO_VERSION starting" : a line with exactly this text
# (a line feed inside the text is written \n), priority and the daemon's
# identity with its pid.
log_has() { log_texts "$1" | grep -qFx -- "$2"; }
# The same with an extended regex that must match the whole text.
log_has_re() { log_texts "$1" | grep -qEx -- "$2"; }
# The number of such lines.
log_count() { log_texts "$1" | grep -cFx -- "$2"; }
# log_has_from IDENT_REGEX PRIORITY TEXT: any identity, e.g. 'sm-mta\[[0-9]+\]'.
log_has_from() { log_texts "$2" "$1" | grep -qFx -- "$3"; }

# wait_for_log [--timeout S] mail.notice 'text'
wait_for_log() {
  local limit=10
  if [ "$1" = --timeout ]; then limit="$2"; shift 2; fi
  wait_until "$limit" log_has "$1" "$2"
}

# ------------------------------------------------------------------ DNS --

# Starts the DNS server on 127.0.0.1:53 with a copy of the records file (see
# dns_server.py for the format). Change records later with sandbox_dns_records.
sandbox_start_dns() {
  [ -n "${1:-}" ] && cp "$1" "$W/dns-records"
  rm -f "$W/log/dns.ready"
  "$SANDBOX_PYTHON" "$SANDBOX_LIB/dns_server.py" "$W/dns-records" \
    "$W/log/dns-queries.log" "$W/log/dns.ready" 2> "$W/log/dns-server.err" &
  SANDBOX_DNS_PID=$!
  sandbox_track_pid "$SANDBOX_DNS_PID"
  wait_until 10 test -s "$W/log/dns.ready" || { echo "DNS server did not start" >&2; return 1; }
}

# Replaces the records with standard input (picked up at the next query).
sandbox_dns_records() {
  cat > "$W/dns-records.new" && mv -f "$W/dns-records.new" "$W/dns-records"
}

# Forgets the queries logged so far.
dns_clear_log() { : > "$W/log/dns-queries.log"; }
# dns_was_queried NAME [TYPE]: NAME with or without trailing dot, any case.
dns_was_queried() {
  local name="${1,,}"
  name="${name%.}."
  if [ -n "${2:-}" ]; then
    grep -qFx -- "$name ${2^^}" "$W/log/dns-queries.log"
  else
    grep -qF -- "$name " "$W/log/dns-queries.log"
  fi
}
dns_query_count() { wc -l < "$W/log/dns-queries.log"; }

# --------------------------------------------------------------- daemon --

sandbox_teslo_pid_from_file() {
  local pid
  pid="$(head -n 1 /var/run/teslo.pid 2>/dev/null)"
  [[ "$pid" =~ ^[0-9]+$ ]] && echo "$pid"
  return 0
}

# sandbox_start_teslo [--no-wait] [args...]: runs $TESLO_BIN with the args.
# Sets SANDBOX_TESLO_LAUNCH_STATUS (the launching command's status; it
# returns as soon as the daemon has detached) and $W/log/teslo.stderr. Unless
# --no-wait, waits until the socket /var/run/teslo.sock exists and the pid
# file holds a live pid, sets SANDBOX_TESLO_PID and fails after 10 seconds.
sandbox_start_teslo() {
  local wait=1
  if [ "${1:-}" = --no-wait ]; then wait=0; shift; fi
  SANDBOX_REAP_MARK="$(wc -l < "$W/reaped.log" 2>/dev/null || echo 0)"
  SANDBOX_TESLO_PID=
  SANDBOX_TESLO_LAUNCH_STATUS=0
  SANDBOX_RESTARTS_BEFORE_TESLO="$(init_call_count restart)"
  "$TESLO_BIN" "$@" < /dev/null > "$W/log/teslo.stdout" 2> "$W/log/teslo.stderr" ||
    SANDBOX_TESLO_LAUNCH_STATUS=$?
  [ "$wait" = 1 ] || return 0
  if ! wait_until 10 _sandbox_teslo_ready; then
    echo "the daemon did not come up (socket or pid file missing)" >&2
    return 1
  fi
  SANDBOX_TESLO_PID="$(sandbox_teslo_pid_from_file)"
}

_sandbox_teslo_ready() {
  local pid
  pid="$(sandbox_teslo_pid_from_file)"
  [ -S /var/run/teslo.sock ] && [ -n "$pid" ] && sandbox_pid_alive "$pid"
}

# The daemon restarts a running Sendmail about 3 s after it starts, so that
# Sendmail reads the configuration the daemon installed itself into. Waits
# (default 6 s) until that restart has happened since the last
# sandbox_start_teslo and Sendmail listens again; fails when it did not.
sandbox_wait_sendmail_restart() {
  wait_until "${1:-6}" _sandbox_init_call_done restart "$((SANDBOX_RESTARTS_BEFORE_TESLO + 1))"
}

# Waits (default 15 s) until the daemon started last has ended and prints its
# exit status; fails when it is still running. Works also when it never
# wrote a pid file: then the first process named like the binary that ended
# after the start counts.
sandbox_wait_teslo_exit() {
  local limit="${1:-15}" i status
  for ((i = 0; i <= limit * 10; i++)); do
    status="$(_sandbox_teslo_exit_status)"
    if [ -n "$status" ]; then echo "$status"; return 0; fi
    sleep 0.1
  done
  return 1
}

_sandbox_teslo_exit_status() {
  if [ -n "${SANDBOX_TESLO_PID:-}" ]; then
    sandbox_reaped_status "$SANDBOX_TESLO_PID"
    return
  fi
  local comm status
  comm="$(basename "$TESLO_BIN" | cut -c1-15)"
  status="$(tail -n +"$((SANDBOX_REAP_MARK + 1))" "$W/reaped.log" 2>/dev/null |
    awk -v comm="$comm" '$3 == comm { print $2; exit }')"
  # A daemon that ended before it was ready was reaped by the launching
  # command, which exited with its status; once the launcher has returned,
  # no process of that name means that is what happened.
  if [ -z "$status" ] && ! pgrep -x "$comm" > /dev/null; then status="$SANDBOX_TESLO_LAUNCH_STATUS"; fi
  echo "$status"
}

# sandbox_stop_teslo [SIGNAL]: sends SIGTERM (or the signal) to the daemon,
# waits for it to end and returns its exit status (prints it too). Returns
# 124 when it did not end within 15 seconds.
sandbox_stop_teslo() {
  local signal="${1:-TERM}" status
  [ -n "${SANDBOX_TESLO_PID:-}" ] || { echo "no daemon running" >&2; return 125; }
  kill -"$signal" "$SANDBOX_TESLO_PID"
  if ! status="$(sandbox_wait_teslo_exit 15)"; then
    echo "the daemon did not stop within 15 s" >&2
    return 124
  fi
  SANDBOX_TESLO_PID=
  echo "$status"
  return "$status"
}
