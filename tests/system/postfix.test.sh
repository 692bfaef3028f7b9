#!/usr/bin/env bash
# teslo behind Postfix on a real Debian host: this machine's Debian booted
# under systemd in a throw-away container. teslo is installed from the .deb
# built from this tree beside the image's Sendmail; then the administrator
# switches the host to Debian's Postfix (which removes Sendmail, not teslo),
# purges what is left of Sendmail and wires teslo into Postfix exactly as the
# README's "Behind Postfix" section says. The same messages as the Sendmail
# tests follow (marks and subject tag, a copy rule with X-TESLO-ID, the hold
# queue, each refusal reachable without DNS), read where an administrator
# reads them: Postfix's queue files (postcat) and the journal.
#
# Needs root, systemd-nspawn (systemd-container) and apt access for
# `apt-get download` on the host. TESLO_BUILD_DIR names a configured and
# built tree; the package is that of $TESLO_DEB_DIR, or else built under the
# scratch directory with scripts/build-deb.sh. Everything the test writes
# is under a scratch directory of that tree (removed at the end) and the
# download cache $TESLO_BUILD_DIR/system-cache.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib/tier.sh"
. "$here/lib/postfix.sh"
sys_test_begin

dump_logs() {
  echo "---- journal of teslo and postfix (this boot)"
  ct 'journalctl -b --no-pager -q -o short -u teslo.service -t KORVAL -t teslo -t postfix/smtpd -t postfix/cleanup | tail -n 60'
  echo "---- postconf -n"
  ct 'postconf -n 2>&1 | tail -n 40'
}

ct_write() { printf '%s\n' "$2" | ct "cat > $1"; }

# ct_ok DESCRIPTION COMMANDS: COMMANDS succeed in the container; on failure
# the tail of LOG (third argument, a file in the container) is shown.
ct_ok() {
  if ct "$2" > /dev/null 2>&1; then pass "$1"; else fail "$1" "$(ct "tail -n 15 ${3:-/dev/null}")"; fi
}

package_status() { ct "dpkg-query -W -f='\${Status}' $1 2> /dev/null"; }

# refusal ARGS...: the client's report of a refused message (empty when
# the message was accepted).
refusal() {
  local report
  report=$(sys_send "$@" 2>&1 > /dev/null) && return 0
  echo "$report"
}

# Mail to copy.example goes to the archive too.
copy_rules='<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE teslo SYSTEM "/etc/mail/teslo/teslo.dtd">
<teslo>
  <rule title="copies of mail to copy.example">
    <domain>copy.example</domain>
    <mailaddr>archive@archive.example</mailaddr>
    <direction>R</direction>
  </rule>
</teslo>'
harmful_body='See the attachment.
Content-Disposition: attachment; filename="run.exe"'

# ---------------------------------------------------------------------------
test_case "the host"
package_dir=$(sys_package_dir "$SYS_SCRATCH/deb") || setup_failed "dpkg-buildpackage builds the packages"
deb=$(sys_deb "$package_dir")
[ -n "$deb" ] || setup_failed "the teslo package is built" "$(ls "$package_dir" 2>&1 | tr '\n' ' ')"
postfix_debs=$(sys_fetch_postfix "$build_dir/system-cache") ||
  setup_failed "apt-get download of ${SYS_POSTFIX_PACKAGES[*]}"
sys_container_create || setup_failed "overlay root of the container"
guest="$(sys_root)$SYS_GUEST_DIR"
mkdir -p "$guest"
cp "$deb" "$here/lib/send_mail.py" "$guest/"
# apt fetches a local .deb of a package that its lists know as user _apt,
# which cannot read /root: Postfix's files go where it can.
postfix_dir=/srv/teslo-postfix
install -d -m 0755 "$(sys_root)$postfix_dir"
# shellcheck disable=SC2086 # one path per line
install -m 0644 $postfix_debs "$(sys_root)$postfix_dir/"
sys_container_boot || setup_failed "the container boots" "$(tail -n 30 "$SYS_SCRATCH/console.log")"
pass "the container boots (host name $(ct 'hostname -f'))"

# ---------------------------------------------------------------------------
test_case "from Sendmail to Postfix"
# teslo on the image's Sendmail host first, as before the switch.
ct_ok "apt-get install ./$(basename "$deb") beside Sendmail" \
  "apt-get install -y -q $SYS_GUEST_DIR/$(basename "$deb") > /root/teslo-install.log 2>&1" /root/teslo-install.log
ct 'echo "postfix postfix/main_mailer_type select Internet Site" | debconf-set-selections'
ct_ok "apt-get install ./postfix ./cpio (apt removes sendmail-bin)" \
  "apt-get install -y -q $postfix_dir/*.deb > /root/postfix-install.log 2>&1" /root/postfix-install.log
assert_eq "sendmail-bin is gone, teslo stays installed" \
  "sendmail-bin: deinstall ok config-files; teslo: install ok installed" \
  "sendmail-bin: $(package_status sendmail-bin); teslo: $(package_status teslo)"
# A Postfix host: what is left of Sendmail goes, its configuration too.
ct_ok "apt-get purge of Sendmail's packages" \
  "apt-get purge -y -q ${SYS_SENDMAIL_PACKAGES[*]} > /root/sendmail-purge.log 2>&1 &&
   rm -f /etc/mail/sendmail.cf /etc/mail/sendmail.mc /etc/mail/brin.mc" /root/sendmail-purge.log
assert_eq "teslo stays installed" "install ok installed" "$(package_status teslo)"
assert_eq "removing Postfix would remove Postfix alone (apt-get -s remove postfix)" "Remv postfix" \
  "$(ct 'apt-get -s remove postfix 2>&1 | grep -o "^Remv [^ ]*"')"

# ---------------------------------------------------------------------------
test_case "Postfix set up as the README says, without socketgroup"
ct "cat >> /etc/mail/orvane/orvane.conf <<'CONF'
helocheck header
disposition eject
tocheck quarantine
CONF"
ct_write /etc/mail/teslo/teslo.xml "$copy_rules"
# The README's lines. qmgr is switched off only for the test: mail stays in
# the incoming queue, where postcat reads it (held mail goes to hold).
ct_ok "postconf: smtpd_milters, milter_default_action, smtpd without chroot" \
  "postconf -e 'smtpd_milters = unix:/var/run/teslo.sock' 'milter_default_action = accept' &&
   postconf -F 'smtp/inet/chroot = n' &&
   postconf -e 'master_service_disable = qmgr/unix' && systemctl restart postfix"
ct 'systemctl restart teslo' > /dev/null 2>&1
assert_eq "/run/teslo.sock: root root 600" "root root 600" \
  "$(ct 'stat -c "%U %G %a" /run/teslo.sock')"
sys_log_mark
sys_send
sleep 1
assert_eq "smtpd may not connect: mail passes unfiltered" \
  "incoming, X-Mail-Scan-By: ''" "$(sys_pf_queue), X-Mail-Scan-By: '$(sys_pf_header X-Mail-Scan-By)'"
assert_ok "Postfix logs Permission denied for the socket" \
  sys_log_has "connect to Milter service unix:/var/run/teslo.sock: Permission denied"

# ---------------------------------------------------------------------------
test_case "socketgroup postfix"
ct "echo 'socketgroup postfix' >> /etc/mail/orvane/orvane.conf"
sys_log_mark
ct 'systemctl restart teslo' > /dev/null 2>&1
sleep 1
assert_eq "/run/teslo.sock: root postfix 660" "root postfix 660" \
  "$(ct 'stat -c "%U %G %a" /run/teslo.sock')"
assert_eq "stop and start log Sendmail's err lines (sendmail.cf absent)" \
  "sendmail.cf configuration error|can not milter configuraiton" \
  "$(sys_log_lines 'KORVAL' | grep -oE 'sendmail.cf configuration error|can not milter configuraiton' | paste -sd '|')"
check_report=$(ct 'teslo-check' 2>&1)
assert_match "teslo-check says the err lines are harmless behind Postfix" \
  'sendmail.cf: absent: .*Behind Postfix.*harmless' "$check_report"
if sys_pf_wait_scanned 15; then
  pass "mail through Postfix carries X-Mail-Scan-By within 15 s"
else
  setup_failed "mail through Postfix carries X-Mail-Scan-By within 15 s" \
    "last id '$SYS_LAST_ID', headers: $(sys_pf_headers | tr '\n' '|')" \
    "$(sys_log_lines 'postfix/' | tail -n 20)"
fi

# ---------------------------------------------------------------------------
test_case "marks and subject tag"
sys_send --helo localhost --subject hello
assert_eq "X-QZ-SPAM-HELO, tagged Subject, in the incoming queue" \
  "SPAM|[SPAM] hello|incoming" \
  "$(sys_pf_header X-QZ-SPAM-HELO)|$(sys_pf_header Subject)|$(sys_pf_queue)"

# ---------------------------------------------------------------------------
test_case "copy rule"
if sys_send --to user@copy.example; then
  assert_eq "the archive is an extra envelope recipient" "archive@archive.example" \
    "$(sys_pf_recipients | grep -x archive@archive.example)"
  assert_eq "X-TESLO-ID holds Postfix's queue id" "$SYS_LAST_ID" "$(sys_pf_header X-TESLO-ID)"
else
  fail "a message to copy.example is accepted"
fi

# ---------------------------------------------------------------------------
test_case "quarantine"
sys_log_mark
if sys_send --to-header ''; then
  assert_eq "a message without To or CC is in the hold queue" hold "$(sys_pf_queue)"
  sleep 1
  assert_eq "teslo logs the reason with the queue id" \
    "quarantined $SYS_LAST_ID: To or CC header unknown" \
    "$(sys_log_lines "quarantined $SYS_LAST_ID" | sed 's/.*: quarantined/quarantined/')"
  assert_ok "Postfix logs the HOLD" sys_log_has "$SYS_LAST_ID: milter-hold:"
else
  fail "a message without To or CC is accepted"
fi

# ---------------------------------------------------------------------------
test_case "refusals"
assert_match "harmful attachment under eject" \
  "554.*5\.7\.1 Executable attachments are not allowed" "$(refusal --body "$harmful_body")"
ct "sed -i -e 's/^helocheck header/helocheck eject/' -e 's/^tocheck quarantine/tocheck eject/' \
      /etc/mail/orvane/orvane.conf && echo 'blacklistip 127.0.0.2' >> /etc/mail/orvane/orvane.conf"
ct 'systemctl restart teslo' > /dev/null 2>&1
sys_pf_wait_scanned 15 > /dev/null
assert_match "malformed HELO under eject" \
  "550.*5\.7\.1 Unwanted contents of the HELO command" "$(refusal --helo localhost)"
assert_match "undisclosed recipients under eject" \
  "554.*5\.7\.1 Message for undisclosed recipients" \
  "$(refusal --to-header 'undisclosed-recipients:;')"
sys_log_mark
assert_match "blacklisted client refused" "^refused: .*5[0-9][0-9]" "$(refusal --source 127.0.0.2)"
sleep 1
assert_ok "Postfix logs the filter's refusal at connect" sys_log_has "milter-reject: CONNECT from"

# ---------------------------------------------------------------------------
test_case "stop"
sys_log_mark
ct 'systemctl stop teslo' > /dev/null 2>&1
sys_send
assert_eq "with the filter stopped, mail is accepted unfiltered (milter_default_action = accept)" \
  "incoming, no scan header" "$(sys_pf_queue), $( [ -z "$(sys_pf_header X-Mail-Scan-By)" ] && echo no scan header)"

finish
