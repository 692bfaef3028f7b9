# The host side of the demo, the test script and the sandbox: each long step
# runs as a child that the script waits for, so an interrupt (Ctrl-C, which
# reaches the whole process group, or a SIGTERM to the script alone) is acted
# on at once, and acted on once:
#   - further INT and TERM are ignored while cleaning up;
#   - the child being waited for gets SIGINT as from Ctrl-C (its process
#     group), and every process that was below it is waited for (killed
#     after a grace time);
#   - the paths handed to host_remove_on_interrupt are removed;
#   - one line "interrupted: stopped and cleaned up" goes to standard error,
#     and the script exits 130 (INT) or 143 (TERM).
# Sourced by scripts/demo.sh, scripts/test.sh and lib/sandbox.sh. Also says,
# in one line and before anything is done, when a checkout or build lives
# where the sandbox cannot reach it (host_location_problem).

HOST_CHILD=""              # pid of the child being waited for, empty between steps
HOST_CHILD_STOP=INT        # the signal that stops that child
HOST_LEFTOVERS=()          # paths removed when interrupted

# Installs the INT and TERM traps. Call once, early. Only the outermost
# script says that it was interrupted (the test script of a test that ctest
# runs under scripts/test.sh stays quiet).
HOST_QUIET=0
HOST_STDERR=""             # a copy of standard error, made by host_trap_interrupts
host_trap_interrupts() {
  if [ -n "${HOST_INTERRUPT_OWNER:-}" ] && [ "$HOST_INTERRUPT_OWNER" != "$$" ]; then
    HOST_QUIET=1
  else
    export HOST_INTERRUPT_OWNER=$$
  fi
  # The line goes to the standard error of this moment, also when the
  # interrupt comes while a step's output goes to a log file.
  exec {HOST_STDERR}>&2
  trap '_host_interrupted INT' INT
  trap '_host_interrupted TERM' TERM
}

# host_remove_on_interrupt PATH...: removed (rm -rf) if the script is
# interrupted; host_keep PATH... forgets them again.
host_remove_on_interrupt() { HOST_LEFTOVERS+=("$@"); }
host_keep() {
  local keep kept=() path
  for path in "${HOST_LEFTOVERS[@]}"; do
    for keep in "$@"; do [ "$path" = "$keep" ] && continue 2; done
    kept+=("$path")
  done
  HOST_LEFTOVERS=("${kept[@]}")
}

# host_run [--stop-with SIGNAL] COMMAND...: runs the command as a child with
# default signal handling and waits for it; returns its status. The child
# runs in a session of its own, so that Ctrl-C reaches only this script and
# the child's tree is still whole when the trap collects it (ctest, for one,
# would end at once and leave its tests to clean up unwatched). When the
# script is interrupted meanwhile, the child's whole process tree gets SIGNAL
# (default INT, as from Ctrl-C: apt-get then stops at a safe point, and a
# shell does not report its foreground command as "Terminated").
host_run() {
  local stop=INT status=0
  if [ "${1:-}" = --stop-with ]; then stop="$2"; shift 2; fi
  # A plain "cmd &" would start with INT and QUIT ignored.
  (
    trap - INT QUIT TERM
    [ -n "$HOST_STDERR" ] && exec {HOST_STDERR}>&-
    exec setsid -w "$@"
  ) &
  HOST_CHILD=$!
  HOST_CHILD_STOP="$stop"
  wait "$HOST_CHILD" || status=$?
  HOST_CHILD=""
  return "$status"
}

# The pids of every process below $1, parents before children.
host_descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
    echo "$child"
    host_descendants "$child"
  done
}

_host_gone() {
  local state
  state="$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" || return 0
  [ -z "$state" ] || [ "$state" = Z ]
}

# host_stop_tree PID SIGNAL [SECONDS]: what Ctrl-C would do to the child of
# host_run and to its session's process group, then waits (default 90 s)
# until every process that was below it has ended, and kills what is left.
# Processes that made a session of their own (a daemon, a container) are not
# signalled: their parents stop them in their own order.
host_stop_tree() {
  local root="$1" signal="$2" limit="${3:-90}" pid i left=0
  local tree=("$root")
  mapfile -t -O 1 tree < <(host_descendants "$root")
  for pid in "$root" $(ps -o pid= --ppid "$root" 2>/dev/null); do
    kill -"$signal" -- -"$pid" 2>/dev/null
  done
  kill -"$signal" "$root" 2>/dev/null
  for ((i = 0; i < limit * 10; i++)); do
    left=0
    for pid in "${tree[@]}"; do _host_gone "$pid" || { left=1; break; }; done
    [ "$left" = 0 ] && break
    sleep 0.1
  done
  if [ "$left" = 1 ]; then
    mapfile -t -O "${#tree[@]}" tree < <(host_descendants "$root")
    kill -KILL "${tree[@]}" 2>/dev/null
  fi
  wait "$root" 2>/dev/null
  return 0
}

_host_interrupted() {
  trap '' INT TERM
  set +e  # a process that is gone already must not end the cleanup
  local status=130
  [ "$1" = TERM ] && status=143
  [ -n "$HOST_CHILD" ] && host_stop_tree "$HOST_CHILD" "$HOST_CHILD_STOP"
  HOST_CHILD=""
  [ ${#HOST_LEFTOVERS[@]} -gt 0 ] && rm -rf -- "${HOST_LEFTOVERS[@]}"
  trap - EXIT
  [ "$HOST_QUIET" = 1 ] || echo "interrupted: stopped and cleaned up" >&"${HOST_STDERR:-2}"
  exit "$status"
}

# Directories that the sandbox covers with its own, and places inside them
# that it fills itself. A checkout or build below the first kind is shown
# again at its own path inside the sandbox; the rest cannot work.
HOST_COVERED_DIRS=(/etc/mail /run /tmp /var/spool)
HOST_SANDBOX_OWNED=(/etc/mail/orvane /etc/mail/teslo /run/systemd /var/spool/mqueue
  /var/spool/clientmqueue /var/spool/mqueue-client)

# host_location_problem PATH...: prints one line and fails when the sandbox
# cannot run with any of these paths (the checkout, the build directory).
host_location_problem() {
  local path real dir
  for path in "$@"; do
    real="$(readlink -m -- "$path")"
    case "$real" in
      /dev | /dev/* | /proc | /proc/* | /sys | /sys/*)
        dir="${real#/}"
        echo "cannot run from $path: the sandbox has its own /${dir%%/*}; use a directory elsewhere" >&2
        return 1 ;;
    esac
    for dir in "${HOST_COVERED_DIRS[@]}"; do
      if [ "$real" = "$dir" ]; then
        echo "cannot run from $path: the sandbox puts its own empty $dir there; use a directory below it or elsewhere" >&2
        return 1
      fi
    done
    for dir in "${HOST_SANDBOX_OWNED[@]}"; do
      if [ "$real" = "$dir" ] || [[ "$real" == "$dir"/* ]]; then
        echo "cannot run from $path: the sandbox writes its own $dir; use a directory elsewhere" >&2
        return 1
      fi
    done
  done
  return 0
}
