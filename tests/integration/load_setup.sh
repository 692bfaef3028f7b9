# Shared set-up of the daemon under the milter load driver, sourced inside
# the sandbox (after sandbox_enter) by bench/load.sh, bench/callgrind.sh,
# scripts/soak.sh, scripts/valgrind-run.sh and
# the integration tests load_smoke and file_limit: the realistic message, the local DNS
# server, the configuration directories, and the daemon configurations (the
# two of the benchmark, "off" and "on", "on" with the metrics file, and the
# pieces they are made of).

LOAD_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# The realistic message: 8 headers, 2 KB body, 2 recipients, from a client
# whose address the blocklist lists and whose sender domain has an SPF record.
DRIVER_MESSAGE=(--client-ip 192.0.2.7 --client-name mail.example.net --helo mail.example.net
  --sender '<alice@pass.test>' --rcpt '<bob@example.com>' --rcpt '<carol@example.org>'
  --body-bytes 2048)

# The DNS answers it needs: the blocklist entry of the client and the sender
# domain's SPF record.
LOAD_BLOCKLIST_ENTRY=7.2.0.192.bl.test
LOAD_SPF_DOMAIN=pass.test
LOAD_SPF_RECORD="v=spf1 ip4:192.0.2.0/24 -all"

# start_dnsmasq SPF_RECORD: dnsmasq, answering for the zone "test" only: the
# blocklist entry of the client and SPF_RECORD for the sender domain; every
# other name under "test" is NXDOMAIN. (The harness's scripted Python server
# answers a few thousand queries a second and would be the bottleneck.)
start_dnsmasq() {
  dnsmasq --keep-in-foreground --no-resolv --no-hosts --no-poll --bind-interfaces \
    --listen-address=127.0.0.1 --port=53 --user=root --group=root --pid-file="$W/dnsmasq.pid" \
    --local=/test/ --cache-size=1000 \
    --host-record="$LOAD_BLOCKLIST_ENTRY",127.0.0.2 \
    --txt-record="$LOAD_SPF_DOMAIN","$1" \
    > "$W/log/dnsmasq.log" 2>&1 &
  sandbox_track_pid $!
  wait_until 10 test -s "$W/dnsmasq.pid"
}

# start_scripted_dns SPF_RECORD: the same answers from the harness's scripted
# DNS server (slower, but it logs every query).
start_scripted_dns() {
  printf '%s A 127.0.0.2\n%s TXT "%s"\n' "$LOAD_BLOCKLIST_ENTRY" "$LOAD_SPF_DOMAIN" "$1" \
    > "$W/records"
  sandbox_start_dns "$W/records"
}

# load_setup [--scripted-dns] [--spf RECORD] [-- SENDMAIL_CONFIG_OPTION...]
# The DNS server (dnsmasq, or the scripted one), the sandbox's sendmail.cf and
# macro file (the daemon edits them at start and stop; the options go to
# sandbox_sendmail_config, e.g. --with-filter when a real Sendmail is to
# consult the daemon), and the configuration directories with the copy-rule
# DTD. --spf replaces the sender domain's SPF record.
load_setup() {
  local scripted=0 spf="$LOAD_SPF_RECORD"
  while [ $# -gt 0 ]; do
    case "$1" in
      --scripted-dns) scripted=1 ;;
      --spf) spf="$2"; shift ;;
      --) shift; break ;;
      *) echo "load_setup: unknown option $1" >&2; return 2 ;;
    esac
    shift
  done
  if [ "$scripted" = 1 ]; then
    start_scripted_dns "$spf" || return 1
  else
    start_dnsmasq "$spf" || { echo "dnsmasq did not start" >&2; cat "$W/log/dnsmasq.log" >&2; return 1; }
  fi
  sandbox_sendmail_config "$@" || return 1
  mkdir -p /etc/mail/orvane /etc/mail/teslo
  cp "$LOAD_SOURCE_DIR/etc/teslo/teslo.dtd" /etc/mail/teslo/teslo.dtd
}

# write_config LINE...: the spam-check file, one setting per argument.
write_config() { printf '%s\n' "$@" > /etc/mail/orvane/orvane.conf; }

# write_rules 'DOMAIN|MAILADDR|DIRECTION'...: the copy-rule file.
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

# Every check with the action "header", the blocklist zone of the client.
CHECKS_HEADER=('helocheck header' 'tocheck header' 'spf header' 'ddns header'
  'disposition header' 'dnsblserv header' 'dnsbldou bl.test')
# Address and name lists that are consulted but do not match the message.
UNMATCHED_LISTS=('ttl 10h' 'whitelistip 10.0.0.0/8' 'blacklistip 198.51.100.0/24'
  'whitelistptr .trusted.test' 'blacklistptr .bad.test' 'whitelistfrom @trusted.test')
# Two copy rules that match the message: its sender and one recipient.
COPY_RULES=('pass.test|sender-copy@archive.test|S' 'example.com|rcpt-copy@archive.test|R')

configure_off() {
  write_config 'helocheck off' 'tocheck off' 'spf off' 'ddns off' 'disposition off' \
    'dnsblserv off' 'dnsbldou bl.test'
  write_rules
}

# Every check on with the action "header"; lists that are consulted but do
# not match; two copy rules that match (sender and one recipient).
configure_on() {
  write_config "${CHECKS_HEADER[@]}" "${UNMATCHED_LISTS[@]}" 'whitelistto postmaster@trusted.test'
  write_rules "${COPY_RULES[@]}"
}

# "on" with the metrics file (counting on, the file written every 15 s).
configure_metrics() {
  configure_on
  mkdir -p "$W/node-exporter"
  echo "metricsfile $W/node-exporter/teslo.prom" >> /etc/mail/orvane/orvane.conf
}
