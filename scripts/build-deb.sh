#!/usr/bin/env bash
# Builds the Debian packages of this working tree outside it, the way the
# README's `dpkg-buildpackage` does in a checkout, for the tests that check
# and install them:
#
#   OUT/teslo-VERSION/           the source tree (tracked and new files,
#                                what .gitignore leaves out excepted)
#   OUT/teslo_UPSTREAM.orig.tar.xz, OUT/teslo_VERSION.dsc, .debian.tar.xz,
#   OUT/teslo_VERSION_ARCH.changes, .buildinfo, teslo_VERSION_ARCH.deb
#                                dpkg-buildpackage -us -uc: source and binary
#   OUT/previous/teslo_PREVIOUS_ARCH.deb
#                                the version of the changelog's second entry,
#                                whose example orvane.conf and teslo.dtd end
#                                in one more comment line than this tree's:
#                                an older package to upgrade from, with
#                                conffiles that the upgrade changes
#
# The previous version is packaged from the same compiled tree (-nc), so the
# programs are compiled once. Prints the path of the current .deb.
# Usage: scripts/build-deb.sh OUT_DIR
set -euo pipefail
[ $# = 1 ] || { echo "usage: $0 OUT_DIR" >&2; exit 64; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)

version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
previous=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -o 1 -c 1 -S Version)
upstream=${version%-*}
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
tree="$out/teslo-$upstream"
log="$out/build.log"

rm -rf "$tree" "$out"/teslo_* "$out"/teslo-dbgsym_* "$out/previous"
mkdir -p "$tree" "$out/previous"
(cd "$source_dir" && git ls-files -z -co --exclude-standard |
  while IFS= read -r -d '' f; do [ -f "$f" ] && printf '%s\0' "$f"; done |
  tar -c --null -T - -f -) | tar -x -C "$tree"
tar -cJf "$out/teslo_$upstream.orig.tar.xz" -C "$out" --exclude="teslo-$upstream/debian" \
  "teslo-$upstream"

# run_build WHAT ARGS...: dpkg-buildpackage ARGS in the tree, its output in
# the log; the log's end on failure.
run_build() {
  local what="$1"
  shift
  echo "== $what: dpkg-buildpackage $*" >> "$log"
  if ! (cd "$tree" && dpkg-buildpackage "$@") >> "$log" 2>&1; then
    echo "$what: dpkg-buildpackage $* failed; the end of $log:" >&2
    tail -n 30 "$log" >&2
    exit 1
  fi
}

: > "$log"
run_build "teslo $version" -us -uc -J2

cp -p "$tree/debian/changelog" "$tree/etc/orvane/orvane.conf" "$tree/etc/teslo/teslo.dtd" "$out/previous/"
awk 'started { print } /^ -- / { skip = 1; next } skip && !started && NF { started = 1; print }' \
  "$out/previous/changelog" > "$tree/debian/changelog"
echo "# example of teslo $previous" >> "$tree/etc/orvane/orvane.conf"
echo "<!-- teslo $previous -->" >> "$tree/etc/teslo/teslo.dtd"
run_build "teslo $previous" -us -uc -b -nc
mv "$out/teslo_${previous}_$arch.deb" "$out/previous/"
rm -f "$out/teslo_${previous}_"* "$out/teslo-dbgsym_${previous}_"*
cp -p "$out/previous/changelog" "$tree/debian/"
cp -p "$out/previous/orvane.conf" "$tree/etc/orvane/"
cp -p "$out/previous/teslo.dtd" "$tree/etc/teslo/"
rm -f "$out/previous/changelog" "$out/previous/orvane.conf" "$out/previous/teslo.dtd"

echo "$out/teslo_${version}_$arch.deb"
