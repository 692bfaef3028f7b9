#!/bin/bash
# SPF records made to hurt the filter, against the real daemon beside a real
# Sendmail, every answer from the sandbox's DNS server: records that crashed
# libspf2 1.2.10 (a stack overflow while it compiled macro strings, through
# the explanation and through a mechanism), an include tree that took
# libspf2 111,111 questions, a sender whose DNS never answers (the time
# limit), and an evaluation process killed mid-question. The first three get
# their result and no more questions than the limits allow; the last two
# cost their own message's SPF result only: the message passes with a
# temperror (the check failed, not the sender's policy), and the next
# message is checked as usual by the same daemon.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

macros="$(printf '%%{d}x%.0s' {1..42})%{d}y"
literal="$(printf 'q%.0s' {1..4000})"
# TXT strings hold at most 255 bytes: the long record in 250-byte pieces.
quoted_pieces() { local text="$1" i; for ((i = 0; i < ${#text}; i += 250)); do printf '"%s" ' "${text:i:250}"; done; }
tree_name() { echo "b$2.l$1.tree.test"; }
{
  echo 'pass.test TXT "v=spf1 ip4:192.0.2.0/24 -all"'
  echo 'crash.test TXT "v=spf1 -all exp=exp.%{d}"'
  echo "exp.crash.test TXT \"$macros\""
  echo "mech.test TXT $(quoted_pieces "v=spf1 a:$macros$literal")"
  for level in 0 1 2 3 4 5; do
    record="v=spf1"
    if [ "$level" -lt 5 ]; then
      for branch in {0..9}; do record+=" include:$(tree_name $((level + 1)) "$branch")"; done
    fi
    if [ "$level" -eq 0 ]; then
      echo "tree.test TXT \"$record -all\""
    else
      for branch in {0..9}; do echo "$(tree_name "$level" "$branch") TXT \"$record ?all\""; done
    fi
  done
  echo 'slow.test TIMEOUT'
} > "$W/records"
sandbox_start_dns "$W/records"
# A resolver that waits 10 s for a silent server, longer than spftimeout.
printf 'nameserver 127.0.0.1\noptions timeout:5 attempts:2\n' > /etc/resolv.conf

sandbox_start_mail_system 'spf header' 'ttl 0' 'spftimeout 3' ||
  { echo "could not start the daemon and Sendmail" >&2; exit 1; }
daemon_pid="$SANDBOX_TESLO_PID"

# The evaluation processes, by their name.
evaluators() { local d; for d in /proc/[0-9]*; do [ "$(cat "$d/comm" 2>/dev/null)" = teslo-spf ] && echo "${d#/proc/}"; done; }
status_field() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

# One message from SENDER passes with a temperror, with LINE logged at
# PRIORITY.
assert_contained() {
  local sender="$1" priority="$2" line="$3"
  log_mark
  send_mail --from "$sender" --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
  assert_accepted "$sender: message passes"
  assert_log "$priority" "$line"
  assert_match "$sender: temperror in the header" '^TempError ' "$(qf_header_value Received-SPF | head -n 1)"
  assert_ok "$sender: the daemon still serves" sandbox_pid_alive "$daemon_pid"
  log_mark
  send_mail --from a@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
  assert_log_re mail.notice 'SPF pass: 192\.0\.2\.7, [^,]*, client\.example\.net, <a@pass\.test>'
}

test_case "evaluation processes hold nothing worth taking"
send_mail --from a@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
evaluator="$(evaluators | head -n 1)"
assert_match "an evaluation process exists" '^[0-9]+$' "$evaluator"
assert_eq "its own program" teslo-spf "$(basename "$(readlink "/proc/$evaluator/exe")")"
assert_not "not root" [ "$(status_field "$evaluator" Uid | cut -f1)" = 0 ]
assert_eq "no capabilities" 0000000000000000 "$(status_field "$evaluator" CapEff)"
assert_eq "no new privileges" 1 "$(status_field "$evaluator" NoNewPrivs)"
assert_eq "seccomp filter" 2 "$(status_field "$evaluator" Seccomp)"

test_case "records that crashed libspf2 get their result"
log_mark
send_mail --from a@crash.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
send_mail --from a@mech.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_log_re mail.notice 'SPF fail: 192\.0\.2\.7, [^,]*, client\.example\.net, <a@crash\.test>'
assert_log_re mail.notice 'SPF permerror: 192\.0\.2\.7, [^,]*, client\.example\.net, <a@mech\.test>'
assert_not "no evaluation process died" log_has_re mail.err '.*SPF evaluation for .* failed.*'

test_case "an include tree ends at ten terms"
dns_clear_log
log_mark
send_mail --from a@tree.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_accepted "tree.test message passes"
assert_log_re mail.notice 'SPF permerror: 192\.0\.2\.7, [^,]*, client\.example\.net, <a@tree\.test>'
# The sender's record, the 10 terms the limit allows, and at most 10 more
# asked ahead that a match or the limit made needless.
tree_questions="$(grep -c 'tree\.test\. ' "$W/log/dns-queries.log")"
assert_ok "at most 21 questions for the tree ($tree_questions)" [ "$tree_questions" -le 21 ]

test_case "a sender whose DNS never answers is given up at the time limit"
assert_contained a@slow.test mail.info "SPF temperror for slow.test: DNS failure fetching the record of slow.test"

test_case "an evaluation process killed mid-question costs its message only"
log_mark
dns_clear_log
send_mail --from b@slow.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7 &
mail_pid=$!
wait_until 5 dns_was_queried slow.test TXT
for pid in $(evaluators); do kill -KILL "$pid"; done
wait "$mail_pid"
assert_accepted "b@slow.test message passes"
assert_log mail.err \
  "[ERROR] SPF evaluation for slow.test failed: evaluation process killed by signal 9 (KILL)"
log_mark
send_mail --from b@pass.test --to postmaster@mail.sandbox.test --client-ip 192.0.2.7
assert_log_re mail.notice 'SPF pass: 192\.0\.2\.7, [^,]*, client\.example\.net, <b@pass\.test>'

sandbox_stop_mail_system
sandbox_finish
