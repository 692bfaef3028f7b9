# Shared set-up of the load benchmark and its callgrind profile, sourced by
# bench/load.sh and bench/callgrind.sh inside the sandbox (after
# sandbox_enter): the realistic message, the local DNS server, and the two
# daemon configurations "off" and "on".

# The realistic message: 8 headers, 2 KB body, 2 recipients, from a client
# whose address the blocklist lists and whose sender domain has an SPF record.
DRIVER_MESSAGE=(--client-ip 192.0.2.7 --client-name mail.example.net --helo mail.example.net
  --sender '<alice@pass.test>' --rcpt '<bob@example.com>' --rcpt '<carol@example.org>'
  --body-bytes 2048)

# The local DNS server is dnsmasq, answering for the zone "test" only: the
# blocklist entry of the client and the sender domain's SPF record; every
# other name under "test" is NXDOMAIN. (The harness's scripted Python server
# answers a few thousand queries a second and would be the bottleneck.)
start_dnsmasq() {
  dnsmasq --keep-in-foreground --no-resolv --no-hosts --no-poll --bind-interfaces \
    --listen-address=127.0.0.1 --port=53 --user=root --group=root --pid-file="$W/dnsmasq.pid" \
    --local=/test/ --cache-size=1000 \
    --host-record=7.2.0.192.bl.test,127.0.0.2 \
    --txt-record=pass.test,"v=spf1 ip4:192.0.2.0/24 -all" \
    > "$W/log/dnsmasq.log" 2>&1 &
  sandbox_track_pid $!
  wait_until 10 test -s "$W/dnsmasq.pid"
}

# dnsmasq, the sandbox's sendmail.cf and macro file (the daemon edits them at
# start and stop; no Sendmail runs, so its restart finds nothing to restart)
# and the copy-rule DTD.
load_setup() {
  start_dnsmasq || { echo "dnsmasq did not start" >&2; cat "$W/log/dnsmasq.log" >&2; return 1; }
  sandbox_sendmail_config || return 1
  mkdir -p /etc/mail/orvane /etc/mail/teslo
  cp "$SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd
}

write_rules() {
  {
    printf '<?xml version="1.0"?>\n<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">\n<teslo>\n'
    local spec domain mailaddr direction
    for spec in "$@"; do
      IFS='|' read -r domain mailaddr direction <<< "$spec"
      printf '  <rule><domain>%s</domain><mailaddr>%s</mailaddr><direction>%s</direction></rule>\n' \
        "$domain" "$mailaddr" "$direction"
    done
    printf '</teslo>\n'
  } > /etc/mail/teslo/teslo.xml
}

configure_off() {
  cat > /etc/mail/orvane/orvane.conf <<'CONF'
helocheck off
tocheck off
spf off
ddns off
disposition off
dnsblserv off
dnsbldou bl.test
CONF
  write_rules
}

# Every check on with the action "header"; lists that are consulted but do
# not match; two copy rules that match (sender and one recipient).
configure_on() {
  cat > /etc/mail/orvane/orvane.conf <<'CONF'
helocheck header
tocheck header
spf header
ddns header
disposition header
dnsblserv header
dnsbldou bl.test
ttl 10h
whitelistip 10.0.0.0/8
blacklistip 198.51.100.0/24
whitelistptr .trusted.test
blacklistptr .bad.test
whitelistfrom @trusted.test
whitelistto postmaster@trusted.test
CONF
  write_rules 'pass.test|sender-copy@archive.test|S' 'example.com|rcpt-copy@archive.test|R'
}
