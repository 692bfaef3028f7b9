#!/usr/bin/env bash
# Packaging: the install layout (cmake --install with DESTDIR), that existing
# configuration files are kept, the example spam-check file, the manual pages
# (lint), that no installed program holds a test hook (nm), the systemd
# unit (required settings, systemd-analyze verify) and
# the Debian package that dpkg-buildpackage builds: control data, contents,
# conffiles, lintian --pedantic on the binary and the source package (no
# error, no warning) and hardening-check on every program. Installing,
# upgrading, removing and purging the package are the system tier's
# (tests/system), on a booted Debian.
#
# Needs a configured and built tree: the one $TESLO_BIN lives in. The
# packages are the ones in $TESLO_DEB_DIR (scripts/build-deb.sh, run once by
# ctest for this test and the system tier), or else built here. Nothing
# outside a scratch directory in that build tree is written.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox_assert.sh"

: "${TESLO_BIN:?TESLO_BIN must name the built daemon}"
: "${TESLO_SOURCE_DIR:?TESLO_SOURCE_DIR must name the source tree}"
build_dir=$(cd "$(dirname "$TESLO_BIN")" && pwd)
source_dir=$(cd "$TESLO_SOURCE_DIR" && pwd)
if [ ! -f "$build_dir/cmake_install.cmake" ]; then
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
# The programs the daemon starts.
program_files+=(usr/libexec/teslo/teslo-filter usr/libexec/teslo/teslo-spawner
  usr/libexec/teslo/teslo-spf usr/libexec/teslo/teslo-archive)
# The keys of the spam-check file; the example must document each one.
spam_keys=(whitelistip blacklistip whitelistptr blacklistptr whitelistfrom whitelistto
  refusefail tagsubject tag addheader quarantine quarantinebox ttl user socket
  helocheck tocheck spf ddns disposition dnsblserv dnsbldou syslog spfcachesize socketgroup
  metricsfile spftimeout harmfulext)

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
    usr/sbin/* | usr/libexec/*) assert_eq "/$f installed, mode 755" 755 "$(file_mode "$dest/$f")" ;;
    *) assert_eq "/$f installed, mode 644" 644 "$(file_mode "$dest/$f")" ;;
  esac
done
man_pages=(teslo.8 orvane.conf.5 teslo.xml.5)
[ -f "$source_dir/man/teslo-check.8" ] && man_pages+=(teslo-check.8)
for page in "${man_pages[@]}"; do
  section=${page##*.}
  # man/ holds templates: the build fills in the version.
  if gzip -dc "$dest/usr/share/man/man$section/$page.gz" 2>/dev/null |
    cmp -s - <(sed "s/@TESLO_VERSION@/$TESLO_VERSION/g" "$source_dir/man/$page"); then
    pass "$page.gz decompresses to man/$page with the version filled in"
  else
    fail "$page.gz decompresses to man/$page with the version filled in"
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
test_case "the installed programs hold none of the tests' stand-ins"
# The unit tests, fuzz targets and benchmarks link replacements for the log
# sink, the allocation wrappers, the blocklist resolver, the SPF asker and
# the SPF evaluation's DNS source (tests/support); none of their hooks may
# reach an installed program, nor the in-process evaluation's one-call SPF
# step.
test_hooks='set_log_writer|set_alloc_fault_hook|set_dnsbl_resolver|set_spf_dns_maker|set_syslog_writer_path|spf_step\('
# Nor a lister function set at run time (the stand-in's, tests/support).
test_hooks+='|set_archive_lister|script_archive_listings|list_archive_here'
programs=$(find "$dest/usr/sbin" "$dest/usr/libexec/teslo" -type f -perm -u+x 2> /dev/null | sort)
for program in $programs; do
  name=${program#"$dest/"}
  symbols=$(nm -C --defined-only "$program" 2> /dev/null)
  # An unstripped program (cmake --install) names at least its main.
  assert_ok "/$name has its symbols" grep -qE '^[0-9a-f]+ T main$' <<< "$symbols"
  assert_eq "/$name defines no test hook" "" "$(grep -E "$test_hooks" <<< "$symbols")"
done

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
test_case "the Debian package"
deb_dir=${TESLO_DEB_DIR:-$scratch/package}
if [ -z "${TESLO_DEB_DIR:-}" ] && ! bash "$source_dir/scripts/build-deb.sh" "$deb_dir" > /dev/null; then
  fail "scripts/build-deb.sh builds the package"
  finish
fi
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
deb="$deb_dir/teslo_${version}_$arch.deb"
changes="$deb_dir/teslo_${version}_$arch.changes"
if [ ! -f "$deb" ] || [ ! -f "$changes" ]; then
  fail "the package and its .changes are built" "$(ls "$deb_dir" 2>&1 | tr '\n' ' ')"
  finish
fi
assert_eq "Version is the daemon's version" "teslo $(dpkg-deb -f "$deb" Version)" "$("$TESLO_BIN" --version)"
assert_eq "Section" mail "$(dpkg-deb -f "$deb" Section)"
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libmilter1.0.1 'libxml\+\+2\.6-2v5'; do
  assert_match "Depends names $dependency" "(^|, )$dependency( |,|$)" "$depends"
done
assert_eq "Depends names no libspf2" "" "$(grep -o 'libspf2' <<< "$depends")"
# Beside either MTA: none is depended on, so removing one never removes teslo.
assert_eq "Depends names no MTA" "" "$(grep -oE 'sendmail|postfix|mail-transport-agent' <<< "$depends")"
assert_eq "Recommends Sendmail or Postfix, and sendmail-cf" "sendmail-bin | postfix, sendmail-cf" \
  "$(dpkg-deb -f "$deb" Recommends)"
assert_eq "the description holds no CMake list (;word;)" "" \
  "$(dpkg-deb -f "$deb" Description | grep -E ';[[:alnum:]]+;')"

listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's#^\./#/#')
for f in "${program_files[@]}"; do
  assert_ok "package holds /$f" grep -qxF "/$f" <<< "$listing"
done
assert_eq "conffiles lists the configuration files" \
  "$(printf '%s\n' "${conffiles[@]}")" "$(dpkg-deb -I "$deb" conffiles | sort)"

# Every tag at error or warning level fails; the rest is shown.
if command -v lintian > /dev/null; then
  lintian --pedantic -I -E --show-overrides "$changes" > "$scratch/lintian.log" 2>&1
  sed 's/^/       lintian: /' "$scratch/lintian.log"
  assert_eq "lintian --pedantic on the .deb, .dsc and .changes: no error, no warning" "" \
    "$(grep -E '^[EW]: ' "$scratch/lintian.log")"
  assert_ok "lintian checked the source package" grep -q '^teslo_.*\.dsc$' <(awk '{ print $5 }' "$changes")
else
  fail "lintian is installed (scripts/install-deps.sh)"
fi

mkdir -p "$scratch/extract"
dpkg-deb -x "$deb" "$scratch/extract"
# Control-flow protection cannot show: Debian 12's C start files (Scrt1.o,
# crti.o) carry no IBT/SHSTK property, so the linker leaves it out of every
# program. That the compiler had -fcf-protection is read from the build log.
if command -v hardening-check > /dev/null; then
  for program in sbin/teslo sbin/teslo-check sbin/teslo-try libexec/teslo/teslo-filter \
    libexec/teslo/teslo-spawner libexec/teslo/teslo-spf libexec/teslo/teslo-archive; do
    if out=$(hardening-check --nocfprotection "$scratch/extract/usr/$program" 2>&1); then
      pass "hardening-check $program"
    else
      fail "hardening-check $program" "$out"
    fi
  done
else
  fail "hardening-check is installed (devscripts, scripts/install-deps.sh)"
fi
if [ "$arch" = amd64 ] && [ -f "$deb_dir/build.log" ]; then
  compiles=$(grep -E '(c\+\+|g\+\+|cc) .* -c ' "$deb_dir/build.log")
  assert_ok "the package build's log shows its compiler commands" test -n "$compiles"
  assert_eq "every compiler command of the package build has -fcf-protection" "" \
    "$(grep -v -e '-fcf-protection' <<< "$compiles")"
fi

finish
