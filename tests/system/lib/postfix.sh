# Postfix inside the container: reading its queue (postcat), as an
# administrator would. Needs container.sh and mail.sh (sys_send sets
# SYS_LAST_ID to Postfix's queue id from its "queued as" reply).

# sys_pf_queue [ID]: the queue that holds a message (incoming, active,
# deferred, hold, ...), empty when none does.
sys_pf_queue() {
  ct "cd /var/spool/postfix && find incoming active deferred hold -type f -name '${1:-$SYS_LAST_ID}' 2> /dev/null" |
    cut -d/ -f1 | head -n 1
}

# sys_pf_headers [ID]: the message's headers as postcat shows them, folded
# lines joined.
sys_pf_headers() {
  ct "postcat -h -q '${1:-$SYS_LAST_ID}' 2> /dev/null" | sed -n '/^\*\*\*/d; p' |
    awk '/^[ \t]/ { line = line $0; next } { if (line != "") print line; line = $0 } END { if (line != "") print line }'
}

# sys_pf_header NAME [ID]: the values of header NAME, one per line.
sys_pf_header() { sys_pf_headers "${2:-}" | sed -n "s/^$1: *//p"; }

# sys_pf_recipients [ID]: the envelope recipients, one per line.
sys_pf_recipients() {
  ct "postcat -e -q '${1:-$SYS_LAST_ID}' 2> /dev/null" | sed -n 's/^recipient: //p'
}

# sys_pf_wait_scanned SECONDS: sends a message every 2 s until one is
# accepted with the scan header; true if that happened within SECONDS.
sys_pf_wait_scanned() {
  local deadline=$((SECONDS + $1))
  while :; do
    if sys_send 2> /dev/null && [ -n "$(sys_pf_header X-Mail-Scan-By)" ]; then return 0; fi
    [ $SECONDS -lt $deadline ] || return 1
    sleep 2
  done
}
