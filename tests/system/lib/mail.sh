# Mail and logs inside the container: sending through the system Sendmail,
# reading Sendmail's queue files (local delivery fails on this image, so
# accepted mail stays in /var/spool/mqueue as qf/df files) and the journal.
# Needs container.sh.

SYS_GUEST_DIR=/root/teslo-system    # files copied into the container
SYS_LAST_ID=""                      # queue id of the last accepted message
SYS_LOG_CURSOR=""                   # journal position of the last sys_log_mark

# sys_send [--from A] [--to B]... [--helo NAME] [--size N]: one message
# through Sendmail on 127.0.0.1:25. Sets SYS_LAST_ID; returns the client's
# status (0 accepted). Default sender and recipient are local addresses.
sys_send() {
  local args=() has_from=0 has_to=0 a
  for a in "$@"; do
    case "$a" in --from) has_from=1 ;; --to) has_to=1 ;; esac
    args+=("$(printf '%q' "$a")")
  done
  [ $has_from = 1 ] || args+=(--from "admin@$SYS_HOST.$SYS_DOMAIN")
  [ $has_to = 1 ] || args+=(--to "root@$SYS_HOST.$SYS_DOMAIN")
  # Sendmail is briefly away while it restarts: a refused connection (2) is
  # tried again for up to 15 s.
  local out status tries=0
  while :; do
    out=$(ct "/usr/bin/python3 $SYS_GUEST_DIR/send_mail.py ${args[*]}" 2>&1)
    status=$?
    [ $status = 2 ] && [ $tries -lt 15 ] || break
    tries=$((tries + 1))
    sleep 1
  done
  if [ $status = 0 ]; then SYS_LAST_ID=$out; else SYS_LAST_ID=""; echo "$out" >&2; fi
  return $status
}

# sys_qf [ID]: the queue control file of a message (default the last one).
sys_qf() { ct "cat /var/spool/mqueue/qf${1:-$SYS_LAST_ID}" 2> /dev/null; }

# sys_qf_header NAME [ID]: the values of header NAME ("H??Name: value"
# lines of the qf file), one per line.
sys_qf_header() {
  sys_qf "${2:-}" | sed -n "s/^H\(?[^?]*?\)\?$1: *//p"
}

# sys_qf_headers [ID]: all headers, "Name: value", printable characters
# only (Sendmail writes its macro codes as bytes above 127); for messages.
sys_qf_headers() { sys_qf "${1:-}" | sed -n 's/^H\(?[^?]*?\)\?//p' | LC_ALL=C tr -d '\200-\377'; }

# sys_qf_recipients [ID]: the envelope recipients, one per line.
sys_qf_recipients() { sys_qf "${1:-}" | sed -n 's/^R[^:]*:<\?\([^>]*\)>\?$/\1/p'; }

# sys_scanned [ID]: the message carries the daemon's scan header.
sys_scanned() { [ -n "$(sys_qf_header X-Mail-Scan-By "${1:-}")" ]; }

# sys_wait_scanned SECONDS: sends a message every 2 s until one is accepted
# with the scan header; true if that happened within SECONDS.
sys_wait_scanned() {
  local deadline=$((SECONDS + $1))
  while :; do
    sys_send 2> /dev/null && sys_scanned && return 0
    [ $SECONDS -lt $deadline ] || return 1
    sleep 2
  done
}

# sys_log_mark: later sys_log_* calls see only journal entries after now.
sys_log_mark() {
  SYS_LOG_CURSOR=$(ct 'journalctl -q -n 1 -o export | sed -n "s/^__CURSOR=//p"')
  [ -n "$SYS_LOG_CURSOR" ]
}

# sys_log_since: the journal text ("ident[pid]: message") since the mark;
# fails when the journal cannot be read from there. The cursor is used
# without field matches (with one, systemd 252 skips the first entry).
sys_log_since() {
  [ -n "$SYS_LOG_CURSOR" ] || return 1
  ct "journalctl -q --no-pager -o short --after-cursor='$SYS_LOG_CURSOR'"
}

# sys_log_has TEXT: a journal line since the mark contains TEXT.
sys_log_has() {
  local text
  text=$(sys_log_since) || return 1
  grep -qF -- "$1" <<< "$text"
}

# sys_log_lines TEXT: the journal lines since the mark that contain TEXT, or
# a complaint when the journal could not be read (so that a check for "no
# such line" cannot pass on an unreadable journal).
sys_log_lines() {
  local text
  text=$(sys_log_since) || { echo "(the journal could not be read since the mark)"; return; }
  grep -F -- "$1" <<< "$text"
}

# The filter lines of sendmail.cf, for messages.
sys_cf_filter_lines() {
  ct "grep -nE '^O InputMailFilters|^XTESLO|^O Milter' /etc/mail/sendmail.cf"
}

# sys_systemd_status UNIT: one line: active state, main pid.
sys_unit_state() { ct "systemctl show -p ActiveState --value $1"; }
sys_unit_pid() { ct "systemctl show -p MainPID --value $1"; }
