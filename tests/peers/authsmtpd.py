#!/usr/bin/python3
"""Test SMTP server: AUTH LOGIN/PLAIN without TLS (alice/s3cret), AUTH XOAUTH2 (alice with the
access token good-token; another token gets the error report as a 334 challenge, then 535 after
the client's answer), optional STARTTLS, optional
second listener with implicit TLS. Stores each message as OUTDIR/N.eml (raw DATA bytes, dot
removed) + OUTDIR/N.env (envelope).
usage: authsmtpd.py PORT OUTDIR [CERT KEY [TLSPORT]]
(RCPT to reject-*@... or reject.*@... gets 550; the second passes the program's address rule;
the first RCPT to each busy.*@... gets 451, every later one is accepted)"""
import asyncio, base64, binascii, ssl, sys, os, itertools
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

port, outdir = int(sys.argv[1]), sys.argv[2]
os.makedirs(outdir, exist_ok=True)
seq = itertools.count(1)
refused_once = set()

def authenticator(server, session, envelope, mechanism, data):
    ok = isinstance(data, LoginPassword) and data.login == b"alice" and data.password == b"s3cret"
    return AuthResult(success=ok, handled=False)   # failure -> "535 5.7.8 ..."

class Handler:
    async def auth_XOAUTH2(self, server, args):
        try:
            raw = base64.b64decode(args[1], validate=True) if len(args) > 1 else b""
        except binascii.Error:
            return AuthResult(success=False, handled=False)
        if raw == b"user=alice\x01auth=Bearer good-token\x01\x01":
            return AuthResult(success=True, auth_data=raw)
        # As the large providers answer a refused token: a JSON report, then 535.
        await server.challenge_auth(b'{"status":"401","schemes":"bearer","scope":"mail"}')
        return AuthResult(success=False, handled=False)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith(("reject-", "reject.")):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        if address.startswith("busy.") and address not in refused_once:
            refused_once.add(address)
            return "451 4.2.1 <%s>: Mailbox busy, try again later" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"
    async def handle_DATA(self, server, session, envelope):
        n = next(seq)
        with open(f"{outdir}/{n}.eml", "wb") as f:
            f.write(envelope.original_content)
        with open(f"{outdir}/{n}.env", "w") as f:
            f.write(f"helo {session.host_name}\nauth {session.authenticated}\nfrom {envelope.mail_from}\n"
                    + "".join(f"rcpt {r}\n" for r in envelope.rcpt_tos))
        return "250 2.0.0 Ok: queued as %d" % n

tls = None
if len(sys.argv) >= 5:
    tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls.load_cert_chain(sys.argv[3], sys.argv[4])
loop = asyncio.new_event_loop()
def factory(starttls):
    return lambda: SMTP(Handler(), hostname="authsmtpd.test", authenticator=authenticator,
                        auth_require_tls=False, tls_context=starttls, loop=loop)
loop.run_until_complete(loop.create_server(factory(tls), "127.0.0.1", port))
if len(sys.argv) >= 6:
    loop.run_until_complete(loop.create_server(factory(None), "127.0.0.1", int(sys.argv[5]), ssl=tls))
print("ready", flush=True)
loop.run_forever()
