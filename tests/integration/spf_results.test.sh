#!/bin/bash
# SPF results reported as themselves, against the real daemon beside a real
# Sendmail with the result cache on: a sender whose DNS never answers gives
# temperror and a record with a syntax error permerror, each in the log and
# in Received-SPF, and neither is cached (the next message asks DNS again);
# a policy that uses the local part gives each local part its own result;
# the SPF spawner killed is replaced, unprivileged, for the very next
# message, and a replaced filter process gets a spawner of its own; the
# archive listers' spawner, forked by the root monitor too, killed costs
# neither the next SPF result nor the next archive's listing.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

sandbox_start_dns <(
  echo 'temp.test TIMEOUT'
  echo 'perm.test TXT "v=spf1 ip4:192.0.2.0/24 nonsense:here -all"'
  echo 'local.test TXT "v=spf1 exists:%{l}.allow.local.test -all"'
  echo 'alice.allow.local.test A 127.0.0.2'
  echo 'pass.test TXT "v=spf1 ip4:192.0.2.0/24 -all"'
)
sandbox_start_mail_system 'spf header' 'disposition header' 'ttl 36000' ||
  { echo "could not start the daemon and Sendmail" >&2; exit 1; }

status_field() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
spawners() { local d; for d in /proc/[0-9]*; do [ "$(cat "$d/comm" 2>/dev/null)" = teslo-spawner ] && echo "${d#/proc/}"; done; }
txt_questions() { grep -c "^$1\. TXT\$" "$W/log/dns-queries.log"; }
tail_of() { echo "192\\.0\\.2\\.7, [^,]*, client\\.example\\.net, <$1>"; }

# SENDER twice: each message logs RESULT afresh with the header's WORD, and
# each asks DNS for the sender's record.
assert_never_cached() {
  local sender="$1" result="$2" word="$3" domain="${1#*@}" round before
  for round in first second; do
    log_mark
    before="$(txt_questions "$domain")"
    send_mail --from "$sender" --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
    assert_accepted "$round message from $sender passes"
    assert_log_re mail.notice "SPF $result: $(tail_of "$sender")"
    assert_not "$round: no cached result" log_has_re mail.info "SPF [a-z]+ \\(cached\\): .*<$sender>"
    assert_match "$round: Received-SPF $word" "^$word \\(mail\\.sandbox\\.test: " \
      "$(qf_header_value Received-SPF "$(qf_for_id "$(smtp_queue_id)")" | head -n 1)"
    assert_ok "$round: DNS asked for $domain" [ "$(txt_questions "$domain")" -gt "$before" ]
  done
}

test_case "a sender whose DNS never answers: temperror, not cached"
assert_never_cached a@temp.test temperror TempError
assert_log_re mail.info 'SPF temperror for temp\.test: .+'

test_case "a record with a syntax error: permerror, not cached"
assert_never_cached a@perm.test permerror PermError
assert_log_re mail.info 'SPF permerror for perm\.test: .+'

test_case "a policy using the local part: one result per local part"
log_mark
send_mail --from alice@local.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_log_re mail.notice "SPF pass: $(tail_of alice@local.test)"
send_mail --from bob@local.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_log_re mail.notice "SPF fail: $(tail_of bob@local.test)"
assert_ok "bob's own question was asked" dns_was_queried bob.allow.local.test

test_case "the spawner killed: the next message is evaluated"
send_mail --from a@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
old="$(spawners)"
assert_match "one spawner runs" '^[0-9]+$' "$old"
log_mark
killed_at="$(date +%s%N)"
kill -KILL "$old"
# Another client: the cache holds the first one's result.
send_mail --from b@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.8
assert_log_re mail.notice "SPF pass: 192\\.0\\.2\\.8, [^,]*, client\\.example\\.net, <b@pass\\.test>"
seconds="$(awk -v ns="$(($(date +%s%N) - killed_at))" 'BEGIN { printf "%.2f", ns / 1e9 }')"
assert_no_log mail.err "[ERROR] SPF evaluation for pass.test failed: no evaluation process available"
assert_log mail.err "SPF spawner $old ended by signal SIGKILL"
new="$(spawners)"
assert_match "a new spawner runs" '^[0-9]+$' "$new"
assert_not "the new spawner is another process" [ "$new" = "$old" ]
# The root monitor starts it, by exec of its own program: it must hold no
# more than the filter process.
assert_eq "the new spawner is its own program" teslo-spawner "$(basename "$(readlink "/proc/$new/exe")")"
assert_not "the new spawner is not root" [ "$(status_field "$new" Uid | cut -f1)" = 0 ]
assert_eq "the new spawner has no capabilities" 0000000000000000 "$(status_field "$new" CapEff)"
assert_eq "the new spawner has no new privileges" 1 "$(status_field "$new" NoNewPrivs)"
assert_eq "the new spawner has a seccomp filter" 2 "$(status_field "$new" Seccomp)"
assert_ok "its SPF line within 1 s of the kill, the SMTP client included ($seconds s)" \
  awk -v s="$seconds" 'BEGIN { exit !(s < 1) }'

test_case "the filter process replaced: one spawner, for the new one"
filter="$(sandbox_filter_pid)"
log_mark
kill -KILL "$filter"
wait_until 3 eval '[ "$(sandbox_filter_pid)" != "$filter" ]'
send_mail --from c@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.9
assert_log_re mail.notice "SPF pass: 192\\.0\\.2\\.9, [^,]*, client\\.example\\.net, <c@pass\\.test>"
assert_ok "one spawner runs" wait_until 2 eval '[ "$(spawners | wc -l)" = 1 ]'

test_case "the archive spawner killed: SPF and the next archive go on"
arspawners() { local d; for d in /proc/[0-9]*; do [ "$(cat "$d/comm" 2>/dev/null)" = teslo-arspawner ] && echo "${d#/proc/}"; done; }
# A message from SENDER carrying a zip that holds invoice.exe.
zip_message() {
  python3 - "$1" <<'PY'
import email.message, io, sys, zipfile
z = io.BytesIO()
with zipfile.ZipFile(z, "w") as f:
    f.writestr("invoice.exe", b"MZ")
m = email.message.EmailMessage()
m["From"], m["To"], m["Subject"] = sys.argv[1], "postmaster@mail.sandbox.test", "invoice"
m.set_content("see the attachment")
m.add_attachment(z.getvalue(), maintype="application", subtype="zip", filename="invoice.zip")
sys.stdout.write(m.as_string().replace("\n", "\r\n") + ".\r\n")
PY
}
zip_message d@pass.test > "$W/zip-d.eml"
zip_message e@pass.test > "$W/zip-e.eml"
log_mark
send_mail --from d@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.10 \
  --data-file "$W/zip-d.eml"
assert_log mail.info 'harmful attachment in archive: "invoice.zip" holds "invoice.exe"'
old="$(arspawners)"
assert_match "one archive spawner runs" '^[0-9]+$' "$old"
assert_eq "the root monitor forked it" "$SANDBOX_TESLO_PID" "$(status_field "$old" PPid)"
assert_not "it is not root" [ "$(status_field "$old" Uid | cut -f1)" = 0 ]
assert_eq "it has a seccomp filter" 2 "$(status_field "$old" Seccomp)"
spf_spawner="$(spawners)"
log_mark
kill -KILL "$old"
send_mail --from e@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.11 \
  --data-file "$W/zip-e.eml"
assert_accepted
assert_log_re mail.notice "SPF pass: 192\\.0\\.2\\.11, [^,]*, client\\.example\\.net, <e@pass\\.test>"
assert_log mail.info 'harmful attachment in archive: "invoice.zip" holds "invoice.exe"'
assert_log mail.err "archive spawner $old ended by signal SIGKILL"
assert_eq "the SPF spawner is the same" "$spf_spawner" "$(spawners)"
new="$(arspawners)"
assert_match "a new archive spawner runs" '^[0-9]+$' "$new"
assert_not "the new archive spawner is another process" [ "$new" = "$old" ]

sandbox_stop_mail_system
sandbox_finish
