#!/usr/bin/python3
"""A small scriptable DNS server for the sandbox (UDP and TCP, 127.0.0.1:53).

Answers from RECORDS_FILE, re-read whenever the file changes. One record per
line, blank lines and lines starting with # ignored:

    NAME A 127.0.0.2
    NAME AAAA 2001:db8::1
    NAME TXT "v=spf1 ip4:192.0.2.7 -all"   (one or more quoted strings)
    NAME MX 10 mx.example.org.
    NAME PTR host.example.org.
    NAME CNAME other.example.org.
    NAME SERVFAIL                           every query for NAME fails
    NAME REFUSED
    NAME TIMEOUT                            queries for NAME get no answer

Names are matched without case and with or without the trailing dot; a
name may start with "*." to match every name below it. A name that has no
line gets NXDOMAIN; a known name without records of the asked type gets an
empty answer. Every query is appended to QUERY_LOG as "NAME TYPE"
(name with its trailing dot, lower case) before it is answered. A UDP
answer longer than 512 bytes is sent truncated (TC set, no records), so the
client asks again over TCP.

usage: dns_server.py RECORDS_FILE QUERY_LOG READY_FILE [ADDRESS [PORT]]
"""
import os
import shlex
import socket
import socketserver
import sys
import threading

from dnslib import AAAA, CNAME, MX, PTR, QTYPE, RCODE, RR, TXT, A, DNSRecord

FAILURES = {"SERVFAIL", "REFUSED", "TIMEOUT"}


class Zone:
    def __init__(self, path):
        self.path = path
        self.mtime = None
        self.records = {}
        self.lock = threading.Lock()

    def _load(self):
        records = {}
        with open(self.path) as f:
            for raw in f:
                line = raw.strip()
                if not line or line.startswith("#"):
                    continue
                parts = line.split(None, 2)
                name = parts[0].lower().rstrip(".") + "."
                kind = parts[1].upper()
                value = parts[2] if len(parts) > 2 else ""
                records.setdefault(name, []).append((kind, value))
        return records

    def lookup(self, name):
        with self.lock:
            try:
                mtime = os.stat(self.path).st_mtime_ns
            except FileNotFoundError:
                mtime = None
            if mtime != self.mtime:
                self.records = self._load() if mtime is not None else {}
                self.mtime = mtime
            if name in self.records:
                return self.records[name]
            labels = name.split(".")
            for i in range(1, len(labels) - 1):
                wild = "*." + ".".join(labels[i:])
                if wild in self.records:
                    return self.records[wild]
            return None


def make_rdata(kind, value):
    if kind == "A":
        return QTYPE.A, A(value)
    if kind == "AAAA":
        return QTYPE.AAAA, AAAA(value)
    if kind == "TXT":
        texts = shlex.split(value)
        return QTYPE.TXT, TXT([t.encode() for t in texts])
    if kind == "MX":
        pref, host = value.split()
        return QTYPE.MX, MX(host, int(pref))
    if kind == "PTR":
        return QTYPE.PTR, PTR(value)
    if kind == "CNAME":
        return QTYPE.CNAME, CNAME(value)
    raise ValueError(kind)


class Resolver:
    def __init__(self, zone, query_log):
        self.zone = zone
        self.log = open(query_log, "a", buffering=1)
        self.log_lock = threading.Lock()

    def answer(self, data, udp=False):
        """The reply bytes for one query, or None when it must go unanswered."""
        reply = self._answer(data)
        if udp and reply is not None and len(reply) > 512:
            truncated = DNSRecord.parse(reply)
            truncated.rr = []
            truncated.header.tc = 1
            return truncated.pack()
        return reply

    def _answer(self, data):
        try:
            request = DNSRecord.parse(data)
        except Exception:
            return None
        qname = str(request.q.qname).lower()
        qtype = QTYPE.get(request.q.qtype)
        with self.log_lock:
            self.log.write(f"{qname} {qtype}\n")
        reply = request.reply()
        reply.header.ra = 0
        records = self.zone.lookup(qname)
        if records is None:
            reply.header.rcode = RCODE.NXDOMAIN
            return reply.pack()
        kinds = {kind for kind, _ in records}
        if "TIMEOUT" in kinds:
            return None
        if "SERVFAIL" in kinds:
            reply.header.rcode = RCODE.SERVFAIL
            return reply.pack()
        if "REFUSED" in kinds:
            reply.header.rcode = RCODE.REFUSED
            return reply.pack()
        for kind, value in records:
            rtype, rdata = make_rdata(kind, value)
            if rtype == request.q.qtype or rtype == QTYPE.CNAME or qtype == "ANY":
                reply.add_answer(RR(request.q.qname, rtype, rdata=rdata, ttl=60))
        return reply.pack()


def main():
    records, query_log, ready = sys.argv[1:4]
    address = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
    port = int(sys.argv[5]) if len(sys.argv) > 5 else 53
    resolver = Resolver(Zone(records), query_log)

    class UdpHandler(socketserver.BaseRequestHandler):
        def handle(self):
            data, sock = self.request
            reply = resolver.answer(data, udp=True)
            if reply is not None:
                sock.sendto(reply, self.client_address)

    class TcpHandler(socketserver.BaseRequestHandler):
        def handle(self):
            head = self.request.recv(2)
            if len(head) < 2:
                return
            size = int.from_bytes(head, "big")
            data = b""
            while len(data) < size:
                chunk = self.request.recv(size - len(data))
                if not chunk:
                    return
                data += chunk
            reply = resolver.answer(data)
            if reply is not None:
                self.request.sendall(len(reply).to_bytes(2, "big") + reply)

    socketserver.ThreadingUDPServer.allow_reuse_address = True
    socketserver.ThreadingTCPServer.allow_reuse_address = True
    udp = socketserver.ThreadingUDPServer((address, port), UdpHandler)
    tcp = socketserver.ThreadingTCPServer((address, port), TcpHandler)
    udp.daemon_threads = tcp.daemon_threads = True
    threading.Thread(target=tcp.serve_forever, daemon=True).start()
    with open(ready, "w") as f:
        f.write(f"{os.getpid()}\n")
    udp.serve_forever()


if __name__ == "__main__":
    main()
