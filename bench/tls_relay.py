#!/usr/bin/python3
"""A relay for benchmarks: aiosmtpd with STARTTLS required before AUTH (LOGIN and PLAIN,
alice/s3cret), PIPELINING offered, every message counted and dropped (no disk writes, so the
relay measures the conversation, not a file system).

usage: tls_relay.py PORT CERT KEY     (prints "ready"; on SIGTERM "messages N sessions N")"""
import asyncio, signal, ssl, sys
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

port = int(sys.argv[1])
tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
tls.load_cert_chain(sys.argv[2], sys.argv[3])
counts = {"messages": 0, "sessions": 0}


def authenticator(server, session, envelope, mechanism, data):
    ok = isinstance(data, LoginPassword) and data.login == b"alice" and data.password == b"s3cret"
    return AuthResult(success=ok, handled=False)


class Handler:
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        # aiosmtpd reads commands from a stream, so it takes pipelined groups as they come.
        return responses[:-1] + ["250-PIPELINING", responses[-1]]

    async def handle_DATA(self, server, session, envelope):
        counts["messages"] += 1
        return "250 2.0.0 Ok: queued"


class CountingSMTP(SMTP):
    def connection_made(self, transport):
        if not getattr(self, "_counted", False):
            self._counted = True
            counts["sessions"] += 1
        super().connection_made(transport)


async def main():
    loop = asyncio.get_running_loop()
    factory = lambda: CountingSMTP(Handler(), hostname="relay.test", authenticator=authenticator,
                                   auth_require_tls=True, require_starttls=True, tls_context=tls)
    server = await loop.create_server(factory, "127.0.0.1", port, backlog=1024)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    print("ready", flush=True)
    await stop.wait()
    server.close()
    print(f"messages {counts['messages']} sessions {counts['sessions']}", flush=True)


asyncio.run(main())
