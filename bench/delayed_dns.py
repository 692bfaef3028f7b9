#!/usr/bin/python3
"""A DNS server whose every answer arrives DELAY seconds after the question.

The answers are those of the sandbox's scriptable server
(tests/integration/lib/dns_server.py, same RECORDS_FILE format); only the
timing differs: each reply is scheduled on one event loop instead of a
thread sleeping per question, so thousands of questions can wait at once.
UDP only, on 127.0.0.1:53.

usage: delayed_dns.py RECORDS_FILE DELAY_SECONDS READY_FILE
"""
import asyncio
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tests", "integration", "lib"))
from dns_server import Resolver, Zone  # noqa: E402


class DelayedAnswers(asyncio.DatagramProtocol):
    def __init__(self, resolver, delay):
        self.resolver = resolver
        self.delay = delay
        self.transport = None

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, address):
        reply = self.resolver.answer(data)
        if reply is not None:
            asyncio.get_running_loop().call_later(self.delay, self.transport.sendto, reply, address)


async def serve(records, delay, ready):
    resolver = Resolver(Zone(records), os.devnull)
    loop = asyncio.get_running_loop()
    await loop.create_datagram_endpoint(lambda: DelayedAnswers(resolver, delay),
                                        local_addr=("127.0.0.1", 53))
    with open(ready, "w") as f:
        f.write(f"{os.getpid()}\n")
    await asyncio.Event().wait()


if __name__ == "__main__":
    asyncio.run(serve(sys.argv[1], float(sys.argv[2]), sys.argv[3]))
