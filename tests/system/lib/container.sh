# The throw-away Debian host of the system tests: this machine's own root,
# booted under systemd by systemd-nspawn on an overlay whose upper layer is a
# tmpfs, with a private network (loopback only). Nothing the container does
# reaches the host's files, network or packages.
#
# Layout under the scratch directory $SYS_SCRATCH (inside the build tree):
#   fs/           tmpfs, private; holds everything below
#   fs/lower/     read-only bind of / (the overlay's lower layer)
#   fs/upper/, fs/work/   the overlay's writable layer
#   fs/root/      the overlay: the container's /
#   console.log   systemd-nspawn's output, one section per boot
#
# sys_container_create prepares the root, sys_container_boot boots it (again
# after a reboot), ct runs a command inside, sys_container_destroy stops
# everything and unmounts in the reverse order: container, overlay, bind,
# tmpfs. Only processes started here are signalled, each by its pid.

SYS_MACHINE=teslo-system            # the container's machine name
SYS_HOST=mx                         # its host name ...
SYS_DOMAIN=example.test             # ... qualified by this domain (Sendmail
                                    # waits 60 s at start for an unqualified one)
SYS_NSPAWN_PID=""                   # systemd-nspawn, a child of this shell
SYS_PID1=""                         # the container's init as the host sees it
SYS_BOOTS=0
SYS_NSPAWN_STATUS=""
SYS_OLD_CGROUPS=""                  # nspawn's cgroups that were there before

sys_fs() { echo "$SYS_SCRATCH/fs"; }
sys_root() { echo "$SYS_SCRATCH/fs/root"; }

# wait_until SECONDS COMMAND...: runs COMMAND every half second until it
# succeeds; false if it did not within SECONDS.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.5
  done
}

# Is PATH a mount point right now?
sys_is_mounted() { findmnt -rn --mountpoint "$1" > /dev/null 2>&1; }

# sys_container_create: mounts the tmpfs, the read-only lower bind and the
# overlay, then edits the container's root before its first boot.
sys_container_create() {
  local fs
  fs=$(sys_fs)
  mkdir -p "$fs" || return 1
  sys_note_cgroups
  mount -t tmpfs -o size=3g,mode=0755 teslo-system "$fs" || return 1
  mount --make-private "$fs"
  mkdir "$fs/lower" "$fs/upper" "$fs/work" "$fs/root"
  mount --bind / "$fs/lower" || return 1
  mount -o remount,bind,ro "$fs/lower" || return 1
  mount --make-private "$fs/lower"
  mount -t overlay teslo-system \
    -o "lowerdir=$fs/lower,upperdir=$fs/upper,workdir=$fs/work" "$fs/root" || return 1
  sys_prepare_root "$(sys_root)"
}

# sys_prepare_root ROOT: what turns a copy of this machine into a host that
# boots cleanly in a container and runs Sendmail at once.
sys_prepare_root() {
  local root="$1"
  # Only ever the overlay: these edits on the host's own / would be harmful.
  [ -n "$root" ] && [ "$root" != / ] && sys_is_mounted "$root" || return 1
  # The image refuses every service start through policy-rc.d; a real host
  # does not.
  rm -f "$root/usr/sbin/policy-rc.d"
  # Services of the image that have nothing to do with mail, and the host's
  # own units that cannot run in a container.
  local unit
  for unit in dnsmasq.service postgresql.service e2scrub_reap.service \
              systemd-networkd-wait-online.service; do
    ln -sf /dev/null "$root/etc/systemd/system/$unit"
  done
  echo "$SYS_HOST" > "$root/etc/hostname"
  echo "$SYS_HOST.$SYS_DOMAIN" > "$root/etc/mailname"
  cat > "$root/etc/hosts" <<EOF
127.0.0.1	localhost
127.0.1.1	$SYS_HOST.$SYS_DOMAIN $SYS_HOST
::1	localhost ip6-localhost ip6-loopback
EOF
  # No name server inside: lookups fail at once instead of timing out.
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "$root/etc/resolv.conf"
  # Only to save time: man-db would rebuild its index at every apt run.
  rm -f "$root/var/lib/man-db/auto-update"
  # A persistent journal, so the logs of the boot before a reboot stay.
  mkdir -p "$root/var/log/journal"
  # Mail and logs of the host image are not the container's.
  rm -rf "$root/var/spool/mqueue"/* "$root/var/spool/mqueue-client"/* 2> /dev/null
  rm -rf "$root/var/log/journal"/*
  # A machine id of its own, the same in every boot of this container.
  od -An -N16 -tx1 /dev/urandom | tr -d ' \n' > "$root/etc/machine-id"
  echo >> "$root/etc/machine-id"
}

# The cgroups that systemd-nspawn makes for itself and its container beside
# the caller's own cgroup, in every hierarchy that it uses (named systemd and
# unified on a host without systemd). They outlive it, empty; the teardown
# removes those that were not there before the first boot.
sys_nspawn_cgroups() {
  local hier own name
  for hier in /sys/fs/cgroup/systemd /sys/fs/cgroup/unified /sys/fs/cgroup; do
    [ -e "$hier/cgroup.procs" ] || continue
    case "$hier" in
      */systemd) own=$(sed -n 's/^[0-9]*:name=systemd://p' /proc/self/cgroup) ;;
      *) own=$(sed -n 's/^0:://p' /proc/self/cgroup) ;;
    esac
    for name in payload supervisor; do
      if [ -d "$hier${own%/}/$name" ]; then echo "$hier${own%/}/$name"; fi
    done
  done
}

# Those that exist before the first boot belong to someone else: kept.
sys_note_cgroups() { SYS_OLD_CGROUPS=" $(sys_nspawn_cgroups | tr '\n' ' ') "; }

sys_remove_cgroups() {
  local dir
  for dir in $(sys_nspawn_cgroups); do
    case "$SYS_OLD_CGROUPS" in *" $dir "*) continue ;; esac
    # rmdir only: a cgroup that still holds a process stays.
    find "$dir" -depth -type d -exec rmdir {} + 2> /dev/null || true
  done
}

# sys_container_boot: starts systemd-nspawn in the background and waits until
# systemd inside reports the system up (running or degraded).
sys_container_boot() {
  SYS_BOOTS=$((SYS_BOOTS + 1))
  echo "==== boot $SYS_BOOTS" >> "$SYS_SCRATCH/console.log"
  systemd-nspawn -q -D "$(sys_root)" -b --private-network --register=no --keep-unit \
    --machine="$SYS_MACHINE" --hostname="$SYS_HOST" --resolv-conf=off --timezone=off \
    --link-journal=no --console=passive < /dev/null >> "$SYS_SCRATCH/console.log" 2>&1 &
  SYS_NSPAWN_PID=$!
  SYS_PID1=""
  for _ in $(seq 1 100); do
    SYS_PID1=$(sys_find_pid1)
    [ -n "$SYS_PID1" ] && break
    sys_nspawn_alive || return 1
    sleep 0.2
  done
  [ -n "$SYS_PID1" ] || return 1
  # is-system-running --wait returns once the boot job queue is empty; until
  # systemd listens on its socket it fails at once.
  local state="" deadline=$((SECONDS + 90))
  while [ $SECONDS -lt $deadline ] && sys_nspawn_alive; do
    state=$(ct 'systemctl is-system-running --wait' 2> /dev/null)
    case "$state" in
      running | degraded) return 0 ;;
      stopping | offline | maintenance) break ;;
    esac
    sleep 0.5
  done
  echo "container boot ended in state '$state'" >&2
  return 1
}

# The container's systemd: the child process of systemd-nspawn named systemd.
sys_find_pid1() {
  local child
  for child in $(cat "/proc/$SYS_NSPAWN_PID/task/"*/children 2> /dev/null); do
    if [ "$(cat "/proc/$child/comm" 2> /dev/null)" = systemd ]; then
      echo "$child"
      return
    fi
  done
}

sys_nspawn_alive() { [ -n "$SYS_NSPAWN_PID" ] && kill -0 "$SYS_NSPAWN_PID" 2> /dev/null; }

# ct 'SHELL COMMANDS': runs them inside the container (all its namespaces,
# a clean environment) and returns their status.
ct() {
  [ -n "$SYS_PID1" ] || { echo "ct: the container is not running" >&2; return 125; }
  nsenter -t "$SYS_PID1" -m -u -i -n -p -C -- \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root \
    DEBIAN_FRONTEND=noninteractive bash -c "$1"
}

# sys_wait_nspawn_exit SECONDS: waits for systemd-nspawn to end and sets
# SYS_NSPAWN_STATUS to its exit status (124 if it still runs after SECONDS).
# Not in $(...): only this shell can collect its child.
sys_wait_nspawn_exit() {
  local deadline=$((SECONDS + $1))
  while sys_nspawn_alive && [ $SECONDS -lt $deadline ]; do sleep 0.5; done
  if sys_nspawn_alive; then SYS_NSPAWN_STATUS=124; return 1; fi
  wait "$SYS_NSPAWN_PID"
  SYS_NSPAWN_STATUS=$?
  SYS_NSPAWN_PID=""
  SYS_PID1=""
}

# sys_container_reboot: "systemctl reboot" inside, then boots the same overlay
# again. SYS_NSPAWN_STATUS is systemd-nspawn's exit status of the first boot
# (133 for a reboot); non-zero if that is not 133 or the next boot failed.
sys_container_reboot() {
  ct 'systemctl reboot' > /dev/null 2>&1
  sys_wait_nspawn_exit 60
  [ "$SYS_NSPAWN_STATUS" = 133 ] || return 1
  sys_container_boot
}

# sys_container_stop: powers the container off (SIGTERM to systemd-nspawn
# makes it shut the container down; SIGKILL if that takes over 30 s).
sys_container_stop() {
  sys_nspawn_alive || return 0
  kill -TERM "$SYS_NSPAWN_PID" 2> /dev/null
  if ! sys_wait_nspawn_exit 30; then
    kill -KILL "$SYS_NSPAWN_PID" 2> /dev/null
    sys_wait_nspawn_exit 10
  fi
}

# sys_container_destroy: stops the container, unmounts overlay, bind and
# tmpfs, and removes the scratch directory once nothing is mounted below it.
sys_container_destroy() {
  [ -n "${SYS_SCRATCH:-}" ] || return 1
  local fs
  fs=$(sys_fs)
  sys_container_stop
  sys_remove_cgroups
  # The mount namespace that systemd-nspawn copied from the host holds the
  # lower bind until the kernel frees it, a moment after nspawn's exit:
  # each unmount is retried for up to 15 s.
  local m
  for m in "$fs/root" "$fs/lower" "$fs"; do
    for _ in $(seq 1 30); do
      sys_is_mounted "$m" || break
      umount "$m" 2> /dev/null || sleep 0.5
    done
    if sys_is_mounted "$m"; then echo "system test: could not unmount $m" >&2; fi
  done
  # The lower layer is the host's /: never remove anything while a mount is
  # left below the scratch directory.
  if findmnt -rn -o TARGET | grep -q "^$SYS_SCRATCH\(/\|$\)"; then
    echo "system test: mounts left under $SYS_SCRATCH; not removing it" >&2
    return 1
  fi
  [ -n "${SYS_KEEP_SCRATCH:-}" ] || rm -rf --one-file-system "$SYS_SCRATCH"
}
