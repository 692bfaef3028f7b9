#!/usr/bin/env bash
# Installs what building, testing and the demo need, from Debian's archive.
# Idempotent: packages already present are left as they are (--no-upgrade).
# Installing sendmail-bin makes apt remove another MTA (postfix, exim) if the
# machine has one; that is the only package this script can cause to go away.
set -euo pipefail
# Interrupted: stop after the command at hand (apt-get itself stops at a safe
# point on SIGINT), through the EXIT trap below.
trap 'exit 130' INT
trap 'exit 143' TERM

packages=(
  build-essential cmake pkg-config
  libmilter-dev libxml++2.6-dev libseccomp-dev libgmime-3.0-dev libarchive-dev
  libgtest-dev googletest
  libyaml-cpp-dev  # the RFC 7208 suite's YAML, read by a unit test
  sendmail-bin sendmail-cf m4 swaks dnsmasq python3 python3-dnslib python3-prometheus-client
  iproute2 procps util-linux libio-socket-inet6-perl
  mandoc systemd systemd-container
  clang libclang-rt-14-dev clang-format clang-tidy  # fuzz targets; the style checks
  debhelper devscripts lintian  # the Debian package, hardening-check, lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
# A package's post-install must not start Sendmail or dnsmasq on the host:
# a policy-rc.d that refuses service starts does that. An existing one is kept.
own_policy=0
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
  own_policy=1
fi
trap '[ $own_policy -eq 1 ] && rm -f /usr/sbin/policy-rc.d' EXIT

apt-get update -qq </dev/null
# systemd-container (systemd-nspawn, for tests/system) must be the version of
# the installed systemd: the newest one would make apt upgrade systemd itself.
systemd_version=$(dpkg-query -W -f='${Version}' systemd 2>/dev/null || true)
for i in "${!missing[@]}"; do
  if [ "${missing[$i]}" = systemd-container ] && [ -n "$systemd_version" ]; then
    missing[$i]="systemd-container=$systemd_version"
  fi
done
apt-get install -y -qq --no-upgrade --no-install-recommends "${missing[@]}" </dev/null
