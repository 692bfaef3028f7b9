#!/usr/bin/python3
"""The sandbox's syslog: a datagram socket at /dev/log.

Writes every message it receives as one line to LOG_FILE:
"<PRI>TAG: TEXT" where PRI is facility * 8 + severity as the sender put it,
TAG is the identity with its pid (e.g. "KORVAL[42]") and TEXT the message.
The time stamp is dropped. A trailing line feed of a message is dropped and
any other line feed is written as the two characters backslash n, so one
message is always one line. Runs until killed.

usage: syslog_receiver.py SOCKET_PATH LOG_FILE READY_FILE
"""
import os
import re
import socket
import sys

STAMP = re.compile(rb"^<(\d+)>(?:[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d )?(.*)$", re.S)


def main():
    path, log_path, ready_path = sys.argv[1:4]
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    sock.bind(path)
    os.chmod(path, 0o666)
    with open(ready_path, "w") as ready:
        ready.write(f"{os.getpid()}\n")
    with open(log_path, "ab", buffering=0) as log:
        while True:
            data = sock.recv(65536)
            match = STAMP.match(data)
            if match:
                line = b"<" + match.group(1) + b">" + match.group(2)
            else:
                line = data
            if line.endswith(b"\n"):
                line = line[:-1]
            line = line.replace(b"\n", b"\\n").replace(b"\0", b"")
            log.write(line + b"\n")


if __name__ == "__main__":
    main()
