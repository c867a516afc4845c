#!/usr/bin/python3
# dkverify.py SELECTOR=RECORDFILE... < message: checks every DKIM-Signature of the message with
# dkimpy, the key records read from files instead of DNS. Prints "sigN=pass|fail" per signature;
# exit 0 only when there is at least one signature and every one passes.
import sys, dkim
keys = {s.encode(): open(f, "rb").read().strip() for s, f in (a.split("=", 1) for a in sys.argv[1:])}
dnsfunc = lambda name, timeout=5: keys.get(name.split(b"._domainkey.")[0])
d = dkim.DKIM(sys.stdin.buffer.read())
ok = []
for i in range(sum(k.lower() == b"dkim-signature" for k, _ in d.headers)):
    try:
        ok.append(d.verify(idx=i, dnsfunc=dnsfunc))
    except dkim.DKIMException as e:
        ok.append(False)
        print(f"sig{i}: {e}", file=sys.stderr)
print(" ".join(f"sig{i}={'pass' if r else 'fail'}" for i, r in enumerate(ok)))
sys.exit(0 if ok and all(ok) else 1)
