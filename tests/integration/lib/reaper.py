#!/usr/bin/python3
"""Process 1 of a test's private pid namespace.

Runs the test script as its only direct child and reaps every process that
ends in the namespace: the daemon and Sendmail detach, so they become this
process's children, and the test could not learn their exit status otherwise.
Each reaped process is recorded as one line "PID STATUS COMM" in the status
log (STATUS is the exit code, or 128 + signal number for a killed process).
Exits with the test script's status. When it exits the kernel kills whatever
is left in the namespace, a last safety net behind the test's own cleanup.

usage: reaper.py STATUS_LOG COMMAND [ARGS...]
"""
import os
import signal
import sys


def main():
    status_log, command = sys.argv[1], sys.argv[2:]
    child = os.fork()
    if child == 0:
        os.execvp(command[0], command)

    def forward(signum, _frame):
        try:
            os.kill(child, signum)
        except ProcessLookupError:
            pass

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, forward)

    result = 1
    with open(status_log, "a", buffering=1) as log:
        while True:
            try:
                # Peek first: a zombie still has its /proc/PID/comm.
                info = os.waitid(os.P_ALL, 0, os.WEXITED | os.WNOWAIT)
            except ChildProcessError:
                break
            if info is None:
                continue
            pid = info.si_pid
            try:
                with open(f"/proc/{pid}/comm") as f:
                    comm = f.read().strip()
            except OSError:
                comm = "?"
            _, status = os.waitpid(pid, 0)
            code = os.waitstatus_to_exitcode(status)
            if code < 0:
                code = 128 - code
            log.write(f"{pid} {code} {comm}\n")
            if pid == child:
                result = code
                break
    sys.exit(result)


if __name__ == "__main__":
    main()
