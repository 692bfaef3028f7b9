#!/usr/bin/env bash
# Packaging: the install layout (cmake --install with DESTDIR), that existing
# configuration files are kept, the example spam-check file, the manual pages
# (lint), the systemd unit (required settings, systemd-analyze verify) and
# the Debian package: control data, contents, conffiles, maintainer scripts,
# and a real dpkg install, upgrade over a changed conffile, remove and purge
# into a scratch root.
#
# Needs a configured and built tree: the one $TESLO_BIN lives in. Nothing
# outside a scratch directory in that build tree is written; dpkg only ever
# runs with --root on the scratch root, whose maintainer scripts run chrooted
# there with a shell copied in.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox_assert.sh"

: "${TESLO_BIN:?TESLO_BIN must name the built daemon}"
: "${TESLO_SOURCE_DIR:?TESLO_SOURCE_DIR must name the source tree}"
build_dir=$(cd "$(dirname "$TESLO_BIN")" && pwd)
source_dir=$(cd "$TESLO_SOURCE_DIR" && pwd)
if [ ! -f "$build_dir/cmake_install.cmake" ] || [ ! -f "$build_dir/CPackConfig.cmake" ]; then
  echo "FAIL - $build_dir is not the top of a configured build tree"
  exit 1
fi

scratch=$(mktemp -d "$build_dir/packaging-test.XXXXXX")
[ -n "${KEEP_SCRATCH:-}" ] || trap 'rm -rf "$scratch"' EXIT
dest="$scratch/dest"

finish() {
  echo "$SANDBOX_PASSED passed, $SANDBOX_FAILED failed"
  [ "$SANDBOX_FAILED" = 0 ]
  exit
}

# The configuration files that must be installed and marked as conffiles.
conffiles=(/etc/mail/orvane/orvane.conf /etc/mail/teslo/teslo.dtd /etc/mail/teslo/teslo.xml)
# Every other installed file, relative to the root.
program_files=(
  usr/sbin/teslo
  lib/systemd/system/teslo.service
  usr/share/man/man8/teslo.8.gz
  usr/share/man/man5/orvane.conf.5.gz
  usr/share/man/man5/teslo.xml.5.gz
)
# The configuration checker, the trial client and their pages, once the tree
# has them.
[ -x "$build_dir/teslo-check" ] && program_files+=(usr/sbin/teslo-check)
[ -f "$source_dir/man/teslo-check.8" ] && program_files+=(usr/share/man/man8/teslo-check.8.gz)
[ -x "$build_dir/teslo-try" ] && program_files+=(usr/sbin/teslo-try)
[ -f "$source_dir/man/teslo-try.8" ] && program_files+=(usr/share/man/man8/teslo-try.8.gz)
# The keys of the spam-check file; the example must document each one.
spam_keys=(whitelistip blacklistip whitelistptr blacklistptr whitelistfrom whitelistto
  refusefail tagsubject tag addheader quarantine quarantinebox ttl user socket
  helocheck tocheck spf ddns disposition dnsblserv dnsbldou syslog spfcachesize socketgroup
  metricsfile spftimeout)

file_mode() { stat -c '%a' "$1" 2>/dev/null; }

# ---------------------------------------------------------------------------
test_case "cmake --install with DESTDIR puts every file in its place"
if ! DESTDIR="$dest" cmake --install "$build_dir" > "$scratch/install1.log" 2>&1; then
  fail "cmake --install" "$(tail -n 20 "$scratch/install1.log")"
  finish
fi
assert_eq "daemon in /usr/sbin, executable" 755 "$(file_mode "$dest/usr/sbin/teslo")"
assert_ok "installed daemon is the built one" cmp -s "$TESLO_BIN" "$dest/usr/sbin/teslo"
for f in "${conffiles[@]}"; do
  # Read by the filter process's group (the package's postinst gives it
  # the group teslo), by no one else.
  assert_eq "$f installed, mode 640" 640 "$(file_mode "$dest$f")"
done
assert_ok "orvane.conf is the example from the source tree" \
  cmp -s "$source_dir/etc/orvane/orvane.conf" "$dest/etc/mail/orvane/orvane.conf"
assert_ok "teslo.xml is the example from the source tree" \
  cmp -s "$source_dir/etc/teslo/teslo.xml" "$dest/etc/mail/teslo/teslo.xml"
for f in "${program_files[@]:1}"; do
  case "$f" in
    usr/sbin/*) assert_eq "/$f installed, mode 755" 755 "$(file_mode "$dest/$f")" ;;
    *) assert_eq "/$f installed, mode 644" 644 "$(file_mode "$dest/$f")" ;;
  esac
done
man_pages=(teslo.8 orvane.conf.5 teslo.xml.5)
[ -f "$source_dir/man/teslo-check.8" ] && man_pages+=(teslo-check.8)
for page in "${man_pages[@]}"; do
  section=${page##*.}
  if gzip -dc "$dest/usr/share/man/man$section/$page.gz" 2>/dev/null | cmp -s - "$source_dir/man/$page"; then
    pass "$page.gz decompresses to man/$page"
  else
    fail "$page.gz decompresses to man/$page"
  fi
done
unexpected=$(cd "$dest" && find . -type f ! -path './usr/share/doc/teslo/*' | sed 's#^\./##' | sort |
  grep -vxF -f <(printf '%s\n' "${program_files[@]}" "${conffiles[@]#/}") || true)
assert_eq "nothing else is installed" "" "$unexpected"

# ---------------------------------------------------------------------------
test_case "a second install keeps configuration files that exist"
echo "spf eject" >> "$dest/etc/mail/orvane/orvane.conf"
changed_conf=$(cat "$dest/etc/mail/orvane/orvane.conf")
echo "<!-- local rules -->" >> "$dest/etc/mail/teslo/teslo.xml"
changed_xml=$(cat "$dest/etc/mail/teslo/teslo.xml")
rm "$dest/etc/mail/teslo/teslo.dtd"
echo "old program" > "$dest/usr/sbin/teslo"
if DESTDIR="$dest" cmake --install "$build_dir" > "$scratch/install2.log" 2>&1; then
  assert_eq "changed orvane.conf is kept" "$changed_conf" "$(cat "$dest/etc/mail/orvane/orvane.conf")"
  assert_eq "changed teslo.xml is kept" "$changed_xml" "$(cat "$dest/etc/mail/teslo/teslo.xml")"
  assert_ok "the install says it kept orvane.conf" \
    grep -qF "Keeping existing: $dest/etc/mail/orvane/orvane.conf" "$scratch/install2.log"
  assert_ok "a missing teslo.dtd is installed again" \
    cmp -s "$source_dir/etc/teslo/teslo.dtd" "$dest/etc/mail/teslo/teslo.dtd"
  assert_ok "the program itself is replaced" cmp -s "$TESLO_BIN" "$dest/usr/sbin/teslo"
else
  fail "second cmake --install" "$(tail -n 20 "$scratch/install2.log")"
fi

# ---------------------------------------------------------------------------
test_case "the example orvane.conf"
example="$source_dir/etc/orvane/orvane.conf"
long_lines=$(awk 'length($0) > 254 { print FILENAME ":" NR }' "$example")
assert_eq "no line longer than 254 characters" "" "$long_lines"
for key in "${spam_keys[@]}"; do
  if grep -qiE "^#? ?$key[[:space:]]" "$example"; then
    pass "key $key is shown"
  else
    fail "key $key is shown (as a setting or a commented line)"
  fi
done
# Active lines: a known key and exactly one value, no trailing words.
bad_lines=$(sed 's/#.*//' "$example" | awk -v keys="${spam_keys[*]}" '
  BEGIN { n = split(keys, k, " "); for (i = 1; i <= n; i++) known[k[i]] = 1 }
  NF == 0 { next }
  NF != 2 || !(tolower($1) in known) { print NR ": " $0 }')
assert_eq "every active line is one known key and one value" "" "$bad_lines"

# ---------------------------------------------------------------------------
test_case "manual pages"
for page in "${man_pages[@]}"; do
  if command -v mandoc > /dev/null; then
    out=$(mandoc -T lint -W style "$source_dir/man/$page" 2>&1)
    assert_eq "mandoc -T lint -W style $page" "" "$out"
  else
    echo "skip - mandoc is not installed"
  fi
  if command -v man > /dev/null; then
    out=$(MANWIDTH=80 man --warnings -l "$source_dir/man/$page" 2>&1 > /dev/null)
    assert_eq "man --warnings $page" "" "$out"
  fi
done
assert_ok "teslo(8) lists the exit statuses" grep -q '^\.SH EXIT STATUS' "$source_dir/man/teslo.8"
for status in 0 1 64 69 255; do
  assert_ok "teslo(8) explains exit status $status" grep -qx "\.B $status" "$source_dir/man/teslo.8"
done
for key in "${spam_keys[@]}"; do
  assert_ok "orvane.conf(5) describes $key" grep -qE "^\.BI? $key( |$)" "$source_dir/man/orvane.conf.5"
done

# ---------------------------------------------------------------------------
test_case "the systemd unit"
unit="$dest/lib/systemd/system/teslo.service"
for line in 'Type=forking' 'PIDFile=/run/teslo.pid' 'ExecStart=/usr/sbin/teslo' \
            'ExecReload=/usr/sbin/teslo-check --reload -r /etc/mail/teslo/teslo.xml' \
            'ExecReload=/bin/kill -USR1 $MAINPID' \
            'ExecReload=/usr/sbin/teslo-check --reload -c /etc/mail/orvane/orvane.conf' \
            'ExecReload=/bin/kill -USR2 $MAINPID' 'Restart=on-failure' \
            'Documentation=man:teslo(8) man:orvane.conf(5) man:teslo.xml(5)' \
            'Before=sendmail.service' 'ReadWritePaths=/etc/mail /run -/var/lib/prometheus/node-exporter' 'WantedBy=multi-user.target'; do
  assert_ok "unit has $line" grep -qxF -- "$line" "$unit"
done
assert_not "unit does not make /etc read-only as a whole" grep -qxE 'ProtectSystem=(full|yes|true)' "$unit"
if command -v systemd-analyze > /dev/null; then
  # Verified as installed, except that the commands name the DESTDIR copies
  # (the verifier wants the programs to exist) and man finds the DESTDIR pages.
  mkdir -p "$scratch/unit"
  sed "s#^\(Exec[A-Za-z]*\)=/usr/sbin/teslo#\1=$dest/usr/sbin/teslo#" "$unit" > "$scratch/unit/teslo.service"
  if out=$(MANPATH="$dest/usr/share/man" systemd-analyze verify "$scratch/unit/teslo.service" 2>&1); then
    pass "systemd-analyze verify"
  else
    fail "systemd-analyze verify" "$out"
  fi
  [ -z "$out" ] || echo "       (systemd-analyze said: $out)"
else
  echo "skip - systemd-analyze is not installed; the unit is not verified"
fi

# ---------------------------------------------------------------------------
test_case "cpack builds the Debian package"
if ! cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$scratch/package" > "$scratch/cpack.log" 2>&1; then
  fail "cpack -G DEB" "$(tail -n 20 "$scratch/cpack.log")"
  finish
fi
debs=("$scratch"/package/*.deb)
assert_eq "one package" 1 "${#debs[@]}"
deb=${debs[0]}
assert_eq "file name" teslo_0.3-2_amd64.deb "$(basename "$deb")"
assert_eq "Package" teslo "$(dpkg-deb -f "$deb" Package)"
assert_eq "Version is the daemon's version" 0.3-2 "$(dpkg-deb -f "$deb" Version)"
assert_eq "Section" mail "$(dpkg-deb -f "$deb" Section)"
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libmilter1.0.1 libspf2-2 'libxml\+\+2\.6-2v5'; do
  assert_match "Depends names $dependency" "(^|, )$dependency( |,|$)" "$depends"
done
# Beside either MTA: none is depended on, so removing one never removes teslo.
assert_eq "Depends names no MTA" "" "$(grep -oE 'sendmail|postfix|mail-transport-agent' <<< "$depends")"
assert_eq "Recommends Sendmail or Postfix, and sendmail-cf" "sendmail-bin | postfix, sendmail-cf" \
  "$(dpkg-deb -f "$deb" Recommends)"

listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's#^\./#/#')
for f in "${program_files[@]}"; do
  assert_ok "package holds /$f" grep -qxF "/$f" <<< "$listing"
done
assert_eq "conffiles lists the configuration files" \
  "$(printf '%s\n' "${conffiles[@]}")" "$(dpkg-deb -I "$deb" conffiles | sort)"
for script in postinst prerm postrm; do
  dpkg-deb -I "$deb" "$script" > "$scratch/$script" 2>/dev/null
  assert_ok "$script is a valid shell script" sh -n "$scratch/$script"
done
assert_ok "postinst starts the unit through deb-systemd-invoke (policy-rc.d)" \
  grep -q 'deb-systemd-invoke "\$action" teslo.service' "$scratch/postinst"
assert_ok "prerm stops the daemon on removal" grep -q 'deb-systemd-invoke stop teslo.service' "$scratch/prerm"

mkdir -p "$scratch/extract"
dpkg-deb -x "$deb" "$scratch/extract"
for f in "${conffiles[@]}"; do
  assert_ok "$f unpacks in place" test -f "$scratch/extract$f"
done
assert_eq "unpacked daemon is executable" 755 "$(file_mode "$scratch/extract/usr/sbin/teslo")"
assert_ok "unpacked daemon is an ELF program" \
  sh -c "head -c 4 '$scratch/extract/usr/sbin/teslo' | grep -q ELF"

# ---------------------------------------------------------------------------
test_case "dpkg installs, upgrades, removes and purges the package in a scratch root"
root="$scratch/root"
if [ "$(id -u)" != 0 ] || ! command -v dpkg > /dev/null; then
  echo "skip - needs root and dpkg"
  finish
fi
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers" \
         "$root/bin" "$root/tmp" "$root/etc"
: > "$root/var/lib/dpkg/status"
: > "$root/var/lib/dpkg/available"
# A shell for the maintainer scripts, which dpkg runs chrooted in the root.
shell=$(readlink -f /bin/sh)
cp "$shell" "$root/bin/sh"
for lib in $(ldd "$shell" | grep -oE '/[^ ]+'); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
in_root() {
  [ -d "$root/var/lib/dpkg" ] && [ "$root" != / ] || return 99
  dpkg --root="$root" --log="$root/dpkg.log" --force-depends --force-bad-path "$@" \
    >> "$scratch/dpkg.log" 2>&1
}
status_of() { dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' teslo 2>/dev/null; }

if in_root -i "$deb"; then pass "dpkg -i into the scratch root"; else fail "dpkg -i" "$(tail -n 20 "$scratch/dpkg.log")"; fi
assert_eq "package is installed" "install ok installed" "$(status_of)"
registered=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Conffiles}\n' teslo | awk 'NF { print $1 }' | sort)
assert_eq "dpkg registered the conffiles" "$(printf '%s\n' "${conffiles[@]}")" "$registered"
for f in "${program_files[@]}" "${conffiles[@]#/}"; do
  assert_ok "/$f installed by dpkg" test -f "$root/$f"
done

echo "spf eject" >> "$root/etc/mail/orvane/orvane.conf"
changed_conf=$(cat "$root/etc/mail/orvane/orvane.conf")
if in_root --force-confold -i "$deb"; then pass "reinstall over a changed conffile"; else fail "reinstall" "$(tail -n 20 "$scratch/dpkg.log")"; fi
assert_eq "the changed orvane.conf is kept" "$changed_conf" "$(cat "$root/etc/mail/orvane/orvane.conf")"

if in_root -r teslo; then pass "dpkg -r"; else fail "dpkg -r" "$(tail -n 20 "$scratch/dpkg.log")"; fi
assert_not "the daemon is gone after remove" test -e "$root/usr/sbin/teslo"
assert_ok "the configuration stays after remove" test -f "$root/etc/mail/orvane/orvane.conf"

if in_root -P teslo; then pass "dpkg -P"; else fail "dpkg -P" "$(tail -n 20 "$scratch/dpkg.log")"; fi
assert_not "purge removes /etc/mail/orvane" test -e "$root/etc/mail/orvane"
assert_not "purge removes /etc/mail/teslo" test -e "$root/etc/mail/teslo"
assert_eq "package is gone" "" "$(status_of)"

finish
