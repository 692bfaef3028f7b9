# The packages the system tests install inside the container: the teslo
# packages that dpkg-buildpackage built from this tree, and Debian's Sendmail
# or Postfix packages, fetched on the host into a cache directory of the
# build tree. The container has no network, so it installs them from these
# files.

# Debian's Sendmail as a host installs it (sendmail-bin with sendmail-cf, and
# sendmail-base that both need). Everything else they depend on is part of
# the machine image.
SYS_SENDMAIL_PACKAGES=(sendmail-base sendmail-bin sendmail-cf)
# Debian's Postfix, and cpio, the one package it depends on that the image
# lacks.
SYS_POSTFIX_PACKAGES=(postfix cpio)

# sys_package_dir OUT_DIR: prints the directory that holds the teslo
# packages of this tree (scripts/build-deb.sh): teslo_VERSION_ARCH.deb, and
# previous/teslo_PREVIOUS_ARCH.deb to upgrade from. That is $TESLO_DEB_DIR
# when ctest's package.build made them, or else OUT_DIR, built there now.
sys_package_dir() {
  if [ -n "${TESLO_DEB_DIR:-}" ]; then
    echo "$TESLO_DEB_DIR"
  elif bash "$here/../../scripts/build-deb.sh" "$1" > /dev/null; then
    echo "$1"
  else
    return 1
  fi
}

# sys_deb DIR [previous]: the path of the current (or the previous) teslo
# .deb in DIR.
sys_deb() {
  ls "$1/${2:+$2/}"teslo_*.deb 2> /dev/null | head -n 1
}

# sys_fetch_sendmail CACHE_DIR: the Sendmail packages (sys_fetch_debs).
sys_fetch_sendmail() { sys_fetch_debs "$1" "${SYS_SENDMAIL_PACKAGES[@]}"; }

# sys_fetch_postfix CACHE_DIR: the Postfix packages (sys_fetch_debs).
sys_fetch_postfix() { sys_fetch_debs "$1" "${SYS_POSTFIX_PACKAGES[@]}"; }

# sys_fetch_debs CACHE_DIR PACKAGE...: makes sure CACHE_DIR holds the .deb of
# each package at the version installed on the host, or else apt's candidate
# (so its dependencies are the ones the image already has), downloading with
# apt-get download what is missing. Prints the paths of the files.
sys_fetch_debs() {
  local cache="$1" p version file
  shift
  mkdir -p "$cache" || return 1
  for p in "$@"; do
    version=$(dpkg-query -W -f='${Version}' "$p" 2> /dev/null)
    [ -n "$version" ] || version=$(apt-cache policy "$p" | awk '/Candidate:/ { print $2 }')
    if [ -z "$version" ] || [ "$version" = "(none)" ]; then
      echo "apt knows no version of $p: run apt-get update" >&2
      return 1
    fi
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
