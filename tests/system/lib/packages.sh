# The packages the system tests install inside the container: the teslo .deb
# built from the build tree, and Debian's Sendmail packages, fetched on the
# host into a cache directory of the build tree. The container has no
# network, so it installs both from these files.

# Debian's Sendmail as a host installs it (sendmail-bin with sendmail-cf, and
# sendmail-base that both need). Everything else they depend on is part of
# the machine image.
SYS_SENDMAIL_PACKAGES=(sendmail-base sendmail-bin sendmail-cf)

# sys_build_deb BUILD_DIR OUT_DIR: cpack -G DEB from the build tree into
# OUT_DIR; prints the path of the .deb.
sys_build_deb() {
  local build_dir="$1" out="$2"
  mkdir -p "$out"
  if ! cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$out" > "$out/cpack.log" 2>&1; then
    tail -n 20 "$out/cpack.log" >&2
    return 1
  fi
  ls "$out"/teslo_*.deb 2> /dev/null | head -n 1
}

# sys_fetch_sendmail CACHE_DIR: makes sure CACHE_DIR holds the .deb of each
# Sendmail package at the version installed on the host (so its dependencies
# are the ones the image already has), downloading with apt-get download what
# is missing. Prints the paths of the files.
sys_fetch_sendmail() {
  local cache="$1" p version file
  mkdir -p "$cache" || return 1
  for p in "${SYS_SENDMAIL_PACKAGES[@]}"; do
    version=$(dpkg-query -W -f='${Version}' "$p" 2> /dev/null)
    [ -n "$version" ] || version=$(apt-cache policy "$p" | awk '/Candidate:/ { print $2 }')
    # apt-get download writes an epoch colon as %3a.
    file=$(ls "$cache/${p}_${version//:/%3a}_"*.deb 2> /dev/null | head -n 1)
    if [ -z "$file" ]; then
      (cd "$cache" && apt-get download -q "$p=$version" > "$cache/download-$p.log" 2>&1) || {
        cat "$cache/download-$p.log" >&2
        return 1
      }
      file=$(ls "$cache/${p}_${version//:/%3a}_"*.deb 2> /dev/null | head -n 1)
    fi
    [ -n "$file" ] || return 1
    echo "$file"
  done
}
