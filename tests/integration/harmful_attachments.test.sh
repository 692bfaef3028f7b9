#!/bin/bash
# Harmful attachments as mail programs write them, through the real daemon
# beside a real Sendmail with "disposition header" and every other check
# off: twelve ways of naming invoice.exe (or a script or disk image) in a
# MIME part header, each caught once; a zip whose member is an executable,
# caught with the member named; an archive lister killed mid-listing costs
# that archive's verdict only, and the next message's archive is listed.
set -u
. "$(dirname "$0")/lib/sandbox.sh"
sandbox_enter "$@"

TO=postmaster@mail.sandbox.test
HIT="harmful attachment: [192.0.2.7], <a@example.test> -> <$TO>"

# message FILE PART_HEADER_LINES [BODY]: a multipart message whose second
# part has the given header lines (\n between them) and body.
message() {
  local file="$1" head="$2" body="${3:-TVqQAAMAAAAEAAAA//8AALgAAAAAAAAAQAAAAAAAAAAAAAAA}"
  {
    printf 'From: a@example.test\r\nTo: %s\r\nSubject: invoice\r\nMIME-Version: 1.0\r\n' "$TO"
    printf 'Content-Type: multipart/mixed;\r\n\tboundary="----=_Part_1"\r\n\r\n'
    printf 'This is a multi-part message in MIME format.\r\n\r\n------=_Part_1\r\n'
    printf 'Content-Type: text/plain; charset=utf-8\r\n\r\nPlease see the attached invoice.\r\n\r\n'
    printf -- '------=_Part_1\r\n'
    printf '%b\n' "$head" | sed 's/$/\r/'
    printf 'Content-Transfer-Encoding: base64\r\n\r\n%s\r\n------=_Part_1--\r\n.\r\n' "$body"
  } > "$file"
}

forms=(
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="invoice.exe"'
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="INVOICE.EXE"'
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="invoice.exe"; size=4096;\n\tcreation-date="Mon, 04 Mar 2024 09:12:44 GMT";\n\tmodification-date="Mon, 04 Mar 2024 09:12:44 GMT"'
  'Content-Type: application/octet-stream\nContent-Disposition: attachment;\n\tfilename="invoice.exe"'
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="invoice.exe" '
  "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename*=UTF-8''rechnung%C3%BC.exe"
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename*0="in";\n filename*1="voice.exe"'
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="=?UTF-8?B?aW52b2ljZS5leGU=?="'
  'Content-Type: application/octet-stream; name="invoice.exe"\nContent-Disposition: attachment'
  'Content-Type: application/octet-stream; name="invoice.exe"'
  'Content-Type: application/javascript\nContent-Disposition: attachment; filename="invoice.js"'
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="invoice.iso"'
)

# A zip holding an executable, and a tar whose one member takes seconds to
# skip (2 GB of zeros as 30 concatenated gzip members): long enough to kill
# its lister mid-listing.
python3 - "$W" <<'PY'
import base64, io, sys, tarfile, zipfile, zlib
w = sys.argv[1]
def b64(data):
    text = base64.b64encode(data).decode()
    return "\r\n".join(text[i:i + 76] for i in range(0, len(text), 76))
z = io.BytesIO()
with zipfile.ZipFile(z, "w", zipfile.ZIP_DEFLATED) as f:
    f.writestr("readme.txt", "hello")
    f.writestr("invoice.exe", b"MZ" + bytes(2000))
open(w + "/zip.b64", "w").write(b64(z.getvalue()))
piece = 64 * 1024 * 1024
head = tarfile.TarInfo("zeros.bin")
head.size = 30 * piece
def gz(data):
    c = zlib.compressobj(9, zlib.DEFLATED, 31)
    return c.compress(data) + c.flush()
zeros = bytes(piece)
slow = gz(head.tobuf(format=tarfile.GNU_FORMAT) + zeros) + gz(zeros) * 29
open(w + "/slow.b64", "w").write(b64(slow))
PY

sandbox_start_dns <(printf 'example.test A 192.0.2.1\n')
sandbox_start_mail_system 'disposition header' 'ttl 0' ||
  { echo "could not start the daemon and Sendmail" >&2; exit 1; }

test_case "twelve ways of naming an executable in a part header"
for i in "${!forms[@]}"; do
  message "$W/form$i.eml" "${forms[$i]}"
  log_mark
  send_mail --from a@example.test --to "$TO" --data-file "$W/form$i.eml"
  assert_accepted "form $((i + 1)) accepted"
  assert_log mail.notice "$HIT"
  assert_eq "form $((i + 1)): one line" 1 "$(log_count mail.notice "$HIT")"
  assert_header "form $((i + 1)) marked" 'X-QZ-SPAM-HARMFUL: SPAM' "$(qf_for_id "$(smtp_queue_id)")"
done

test_case "names in other charsets (converted in the filter process under its seccomp list)"
charset_forms=(
  "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename*=iso-8859-1''rechnung%FC.exe"
  'Content-Type: application/octet-stream\nContent-Disposition: attachment; filename="=?Shift_JIS?B?kL+LgY+RLmV4ZQ==?="'
)
charset_names=($'rechnung\xc3\xbc.exe' $'\xe8\xab\x8b\xe6\xb1\x82\xe6\x9b\xb8.exe')
for i in "${!charset_forms[@]}"; do
  message "$W/charset$i.eml" "${charset_forms[$i]}"
  log_mark
  send_mail --from a@example.test --to "$TO" --data-file "$W/charset$i.eml"
  assert_accepted "charset form $((i + 1)) accepted"
  assert_log mail.notice "$HIT"
  assert_log mail.info "harmful attachment name: \"${charset_names[$i]}\""
done
assert_ok "the filter process still serves" sandbox_pid_alive "$(sandbox_filter_pid)"

test_case "a harmless attachment is not caught"
message "$W/pdf.eml" 'Content-Type: application/pdf\nContent-Disposition: attachment; filename="invoice.pdf"'
log_mark
send_mail --from a@example.test --to "$TO" --data-file "$W/pdf.eml"
assert_accepted
assert_no_log mail.notice "$HIT"

test_case "an executable inside a zip"
message "$W/zip.eml" 'Content-Type: application/zip; name="invoice.zip"' "$(cat "$W/zip.b64")"
log_mark
send_mail --from a@example.test --to "$TO" --data-file "$W/zip.eml"
assert_accepted
assert_log mail.notice "$HIT"
assert_log mail.info 'harmful attachment in archive: "invoice.zip" holds "invoice.exe"'

test_case "an archive lister killed mid-listing costs that archive's verdict only"
# The lister at work on it: listers started ahead (waiting for an archive) have
# used next to no CPU; this one uses seconds.
busy_lister() {
  local d stat
  for d in /proc/[0-9]*; do
    [ "$(cat "$d/comm" 2>/dev/null)" = teslo-archive ] || continue
    stat="$(cat "$d/stat" 2>/dev/null)" || continue
    stat="${stat##*) }"
    [ "$(awk '{ print $12 + $13 }' <<< "$stat")" -ge 30 ] && echo "${d#/proc/}"
  done
}
lister_busy() { [ -n "$(busy_lister)" ]; }
message "$W/slow.eml" 'Content-Type: application/x-tar; name="zeros.tar"' "$(cat "$W/slow.b64")"
log_mark
send_mail --from a@example.test --to "$TO" --data-file "$W/slow.eml" &
mail_pid=$!
wait_until 20 lister_busy
lister="$(busy_lister | head -n 1)"
assert_match "a lister is at work" '^[0-9]+$' "$lister"
assert_eq "its seccomp filter" 2 "$(awk '$1 == "Seccomp:" { print $2 }' "/proc/$lister/status")"
assert_not "not root" [ "$(awk '$1 == "Uid:" { print $2 }' "/proc/$lister/status")" = 0 ]
kill -KILL "$lister"
wait "$mail_pid"
assert_eq "the message passes" 0 "$?"
assert_log mail.info 'archive not listed: "zeros.tar": the lister was killed by signal 9'
log_mark
send_mail --from a@example.test --to "$TO" --data-file "$W/zip.eml"
assert_log mail.info 'harmful attachment in archive: "invoice.zip" holds "invoice.exe"'

sandbox_stop_mail_system
sandbox_finish
