#!/usr/bin/python3
"""The campaign acceptance matrix: whole campaigns sent by quillmark-cli through the real engine to
real servers, every received message checked by tools that share no code with ours.

Each feature has tests of its own; this one exists for the faults that sit where features meet
(a DKIM signature that broke once List-Unsubscribe was on). The rows are a pairwise design over
the factors below (pairwise.py), so every pair of option values is sent at least once.

Per received message:
  parse    Python's email package and GMime see the same leaf parts with the same decoded bytes
  dkim     dkimpy verifies the signature; for RSA, Perl's Mail::DKIM too (its keys from dnsmasq)
  vars     the dynamic variables are filled with this recipient's values, no token is left
  unsub    List-Unsubscribe names the footer's address and the recipient's group; One-Click URL
           filled with the recipient and group, with its Post field
  cid      every cid: reference of the HTML has a part with that Content-ID
  postfix  a strict Postfix (bare newlines forbidden, discard transport) accepts the bytes
  once     each recipient got it exactly once per group it was sent for (in rows with a refusal,
           one recipient's first RCPT is refused with 451, so its second offer must come after
           RSET on the same connection)
and once per campaign:
  spam     SpamAssassin (offline) fires no structural rule (MIME, header, encoding)

Runs inside a private network and mount namespace (run_matrix.sh) so exchangers can listen on
port 25 of loopback and Postfix needs nothing of the system's configuration.

    matrix.py CLI SOURCE_DIR            exit 0 when every check of every row passed
Environment: QM_MATRIX_ROWS=1,5,9 runs only those rows; QM_MATRIX_KEEP=1 keeps the work folder.
"""
import base64
import email
import email.policy
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

import dkim

import pairwise

FACTORS = [
    ("body", ["html", "plain", "wizard", "eml"]),
    ("dynamic", ["no", "yes"]),
    ("nonascii", ["no", "yes"]),
    ("attach", ["none", "inline", "big", "dots"]),
    ("unsub", ["none", "mailto", "oneclick"]),
    ("textpart", ["source", "readable"]),
    ("dkim", ["none", "rsa", "ed25519"]),
    ("delivery", ["relay", "relay-tls-auth", "mx-answer", "mx-preference"]),
    ("perconn", ["1", "10"]),
    ("recipients", ["typed", "group", "two-groups"]),
    ("refusal", ["none", "once"]),
]

SENDER = "ann@good.test"
UNSUB = "leave@good.test"
ONE_CLICK = "https://good.test/u?e=[**EMAIL**]&g=[**GROUP**]"
GROUP_A = "Northern Region Spring Customers of the Long Running Newsletter"
GROUP_B = "Partners"
# Exchanger domains of the test DNS: order.test answers localhost (20) first and a dead exchanger
# (10, nothing listens) second, so "as answered" goes straight to localhost and "by preference"
# meets a refused connection first.
MX_DOMAIN = "order.test"
RELAY_DOMAIN = "example.test"

# SpamAssassin rules about the structure of a message (MIME, headers, encodings), the ones that our
# builder alone can cause; content rules about the sample text are not ours to judge here.
STRUCTURAL = re.compile(
    r"^(MIME_|MISSING_|INVALID_|BAD_ENC|MPART_|CTYPE_|FROM_EXCESS|SUBJ_ILLEGAL|HEADER_|"
    r"HTML_MIME_NO_HTML_TAG|TVD_SPACE_ENC|UNPARSEABLE|FORGED_|MSGID_|DATE_IN_|__)|"
    r"_8BIT|BASE64|QP_|ENCOD|BOUNDARY|CHARSET|NO_HTML_TAG|MIXED_ES")


def log(*args):
    print(*args, flush=True)


# ---------------------------------------------------------------------------------------- servers

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, proc, what, udp=False):
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError(f"{what} exited at start")
        flag = "-Hlun" if udp else "-Hltn"
        out = subprocess.run(["ss", flag, f"sport = :{port}"], capture_output=True, text=True)
        if out.stdout.strip():
            return
        time.sleep(0.05)
    raise RuntimeError(f"{what} did not listen on {port}")


class Servers:
    def __init__(self, work, source):
        self.work, self.source, self.procs = work, source, []

    def start(self, argv, log_name, **kw):
        f = open(os.path.join(self.work, log_name), "wb")
        p = subprocess.Popen(argv, stdout=f, stderr=subprocess.STDOUT, **kw)
        self.procs.append(p)
        return p

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
        if getattr(self, "postfix_dir", None):
            pid_file = os.path.join(self.work, "pf-spool/pid/master.pid")
            try:
                os.kill(int(open(pid_file).read().split()[0]), signal.SIGTERM)
            except (OSError, ValueError):
                pass
            if self.postfix_proc:
                try:
                    self.postfix_proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    self.postfix_proc.kill()

    def aiosmtpd(self, name, port):
        out = os.path.join(self.work, name)
        cert, key = os.path.join(self.work, "cert.pem"), os.path.join(self.work, "key.pem")
        p = self.start(["/usr/bin/python3", os.path.join(self.source, "tests/peers/authsmtpd.py"),
                        str(port), out, cert, key], name + ".log")
        wait_listening(port, p, name)
        return out

    def dnsmasq(self, port, records):
        conf = os.path.join(self.work, "dnsmasq.conf")
        with open(os.path.join(self.source, "tests/peers/dnsmasq-test.conf.in")) as f:
            text = f.read().replace("@PORT@", str(port))
        with open(conf, "w") as f:
            f.write(text + "\n" + "\n".join(records) + "\n")
        p = self.start(["dnsmasq", "--keep-in-foreground", f"--conf-file={conf}"], "dns.log")
        wait_listening(port, p, "dnsmasq", udp=True)

    def postfix(self, port):
        """A private Postfix that accepts everything from loopback and discards it, with the
        checks of a strict receiver on; its queue and configuration live in the work folder."""
        pf, q = os.path.join(self.work, "pf"), os.path.join(self.work, "pf-spool")
        os.makedirs(pf)
        os.makedirs(q)
        with open(os.path.join(pf, "main.cf"), "w") as f:
            f.write(f"""compatibility_level = 3.6
queue_directory = {q}
data_directory = {self.work}/pf-data
maillog_file = {self.work}/maillog
maillog_file_prefixes = {self.work}
mail_owner = postfix
setgid_group = postdrop
myhostname = strict.test
mydestination =
local_recipient_maps =
alias_maps =
alias_database =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_relay_restrictions = permit_mynetworks, reject
smtpd_peername_lookup = no
default_transport = discard:strict test
relay_transport = discard:strict test
smtpd_forbid_bare_newline = yes
smtpd_forbid_bare_newline_exclusions =
smtpd_forbid_bare_newline_reject_code = 554
smtpd_forbid_unauth_pipelining = yes
strict_rfc821_envelopes = yes
smtpd_reject_unlisted_recipient = no
message_size_limit = 20480000
""")
        with open(os.path.join(pf, "master.cf"), "w") as f:
            f.write(f"""127.0.0.1:{port} inet n - n - - smtpd
pickup     unix  n - n 60    1 pickup
cleanup    unix  n - n -     0 cleanup
qmgr       unix  n - n 300   1 qmgr
rewrite    unix  - - n -     - trivial-rewrite
bounce     unix  - - n -     0 bounce
defer      unix  - - n -     0 bounce
trace      unix  - - n -     0 bounce
verify     unix  - - n -     1 verify
proxymap   unix  - - n -     - proxymap
error      unix  - - n -     - error
discard    unix  - - n -     - discard
anvil      unix  - - n -     1 anvil
scache     unix  - - n -     1 scache
postlog    unix-dgram n - n - 1 postlogd
""")
        old = time.time() - 120  # Postfix waits for config files younger than a second to settle
        for name in ("main.cf", "master.cf"):
            os.utime(os.path.join(pf, name), (old, old))
        self.postfix_dir = pf
        self.postfix_proc = subprocess.Popen(
            ["postfix", "-c", pf, "start-fg"], stdout=open(os.path.join(self.work, "pf.log"), "wb"),
            stderr=subprocess.STDOUT)
        wait_listening(port, self.postfix_proc, "postfix")


def smtp_offer(port, sender, rcpt, data):
    """Offers `data` byte for byte (dot-stuffed, no line end changed) and returns the final reply."""
    with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
        f = s.makefile("rb")

        def reply():
            lines = []
            while True:
                line = f.readline()
                if not line:
                    return "(connection closed)"
                lines.append(line.decode(errors="replace").rstrip())
                if line[3:4] != b"-":
                    return " ".join(lines)

        def say(cmd):
            s.sendall(cmd + b"\r\n")
            return reply()

        reply()
        say(b"EHLO matrix.test")
        for cmd in (b"MAIL FROM:<" + sender.encode() + b">", b"RCPT TO:<" + rcpt.encode() + b">",
                    b"DATA"):
            r = say(cmd)
            if not r[:1] in "23":
                return r
        body = re.sub(rb"(^|\n)\.", rb"\1..", data)
        if not body.endswith(b"\r\n"):
            body += b"\r\n"
        s.sendall(body + b".\r\n")
        r = reply()
        say(b"QUIT")
        return r


# ---------------------------------------------------------------------------------------- checks

def gmime_leaves(data):
    import gi
    gi.require_version("GMime", "3.0")
    from gi.repository import GMime
    GMime.init()
    parser = GMime.Parser.new_with_stream(GMime.StreamMem.new_with_buffer(data))
    message = parser.construct_message(None)
    leaves = []

    def walk(part):
        if isinstance(part, GMime.Multipart):
            for i in range(part.get_count()):
                walk(part.get_part(i))
        elif isinstance(part, GMime.MessagePart):
            walk(part.get_message().get_mime_part())
        else:
            mem = GMime.StreamMem.new()
            content = part.get_content()
            if content is not None:
                content.write_to_stream(mem)
            leaves.append((part.get_content_type().get_mime_type().lower(),
                           bytes(mem.get_byte_array() or b"")))

    walk(message.get_mime_part())
    return leaves


def python_leaves(msg):
    return [(p.get_content_type(), p.get_payload(decode=True) or b"")
            for p in msg.walk() if not p.is_multipart()]


def text_of(msg, subtype):
    for p in msg.walk():
        if p.get_content_type() == "text/" + subtype:
            return p.get_content()
    return None


def check_parse(data, msg):
    ours, theirs = python_leaves(msg), gmime_leaves(data)
    if len(ours) != len(theirs):
        return f"email has {len(ours)} parts, GMime {len(theirs)}"
    for n, ((t1, b1), (t2, b2)) in enumerate(zip(ours, theirs)):
        # GMime keeps a text part's own line ends; the email package does too for base64 and
        # quoted-printable, so the bytes must agree exactly.
        if t1 != t2 or b1 != b2:
            return f"part {n}: email {t1} {len(b1)} bytes, GMime {t2} {len(b2)} bytes"
    return None


def check_dkim(data, algorithm, keys, dns_port):
    if algorithm == "none":
        return "signed although DKIM is off" if b"\nDKIM-Signature:" in b"\n" + data else None
    records = {sel.encode(): txt.encode() for sel, txt in keys.items()}

    def dnsfunc(name, timeout=5):
        return records.get(name.split(b"._domainkey.")[0])

    try:
        if not dkim.verify(data, dnsfunc=dnsfunc):
            return "dkimpy: signature does not verify"
    except dkim.DKIMException as e:
        return f"dkimpy: {e}"
    if algorithm == "rsa":
        perl = r"""
use strict; use warnings; use Mail::DKIM::Verifier; use Net::DNS;
Mail::DKIM::DNS::resolver(Net::DNS::Resolver->new(nameservers => ['127.0.0.1'], port => $ARGV[0], recurse => 1));
my $v = Mail::DKIM::Verifier->new(); local $/; my $m = <STDIN>; $m =~ s/\r?\n/\r\n/g;
$v->PRINT($m); $v->CLOSE; print $v->result, " ", ($v->result_detail // ""), "\n";
"""
        r = subprocess.run(["perl", "-e", perl, str(dns_port)], input=data, capture_output=True)
        out = r.stdout.decode(errors="replace").strip()
        if not out.startswith("pass"):
            return f"Mail::DKIM: {out or r.stderr.decode(errors='replace')[-200:]}"
    return None


def check_vars(msg, row, rcpt):
    expected = rcpt["name"] if row["dynamic"] == "yes" else "customer"
    address = rcpt["email"] if row["dynamic"] == "yes" else "(no address)"
    for kind in ("html", "plain"):
        text = text_of(msg, kind)
        if text is None:
            continue
        if kind == "plain" and row["body"] != "plain" and row["textpart"] == "source":
            continue  # the HTML source as text: checked through the HTML part
        if "[**" in text:
            return f"text/{kind} keeps a variable token"
        flat = re.sub(r"\s+", " ", text)
        if f"Dear {expected}," not in flat and not (expected == "" and "Dear ," in flat):
            return f"text/{kind} does not greet {expected!r}"
        if address not in flat:
            return f"text/{kind} lacks {address!r}"
    return None


def check_unsub(msg, row, rcpt, group):
    header = msg.get("List-Unsubscribe")
    post = msg.get("List-Unsubscribe-Post")
    if row["unsub"] == "none":
        return "List-Unsubscribe without an unsubscribe address" if header or post else None
    if not header:
        return "no List-Unsubscribe"
    urls = re.findall(r"<([^>]*)>", str(header))
    mailto = [u for u in urls if u.startswith("mailto:")]
    if len(mailto) != 1:
        return f"List-Unsubscribe has no single mailto: {header}"
    parsed = urllib.parse.urlsplit(mailto[0])
    query = urllib.parse.parse_qs(parsed.query)
    subject = query.get("subject", query.get("Subject", [""]))[0]
    if parsed.path != UNSUB:
        return f"List-Unsubscribe mails {parsed.path}"
    want = "Unsubscribe-" + group.replace(" ", ":") if group else "Unsubscribe"
    if subject.replace(" ", ":") != want:
        return f"List-Unsubscribe subject {subject!r}, want {want!r}"
    html, plain = text_of(msg, "html"), text_of(msg, "plain")
    if html is not None:
        link = re.search(r'href="(mailto:[^"]*)"', html, re.I)
        if not link:
            return "the HTML has no unsubscribe link"
        footer = urllib.parse.urlsplit(link.group(1))
        fq = urllib.parse.parse_qs(footer.query)
        fsub = fq.get("Subject", fq.get("subject", [""]))[0]
        if footer.path != UNSUB or (group and fsub.replace(" ", ":") != want):
            return f"footer link {link.group(1)!r} disagrees with the header"
    elif plain is not None:
        line = f"Mail To:- {UNSUB}" + (f" with Subject: {want}" if group else "") + " to unsubscribe."
        if line not in re.sub(r"\s+", " ", plain):  # a long footer line is wrapped
            return f"the text lacks the footer line {line!r}"
    https = [u for u in urls if u.startswith("https:")]
    if row["unsub"] == "oneclick":
        want_url = ONE_CLICK.replace("[**EMAIL**]", urllib.parse.quote(rcpt["email"], safe="")) \
                            .replace("[**GROUP**]", urllib.parse.quote(group or "", safe=""))
        if https != [want_url]:
            return f"One-Click URL {https}, want {want_url}"
        if str(post or "") != "List-Unsubscribe=One-Click":
            return f"List-Unsubscribe-Post is {post!r}"
    elif https or post:
        return "a One-Click URL without a template"
    return None


def check_cids(msg):
    html = text_of(msg, "html")
    if html is None:
        return None
    ids = {str(p.get("Content-ID", "")).strip().strip("<>") for p in msg.walk()}
    for cid in re.findall(r'cid:([^"\'\s>)]+)', html):
        if urllib.parse.unquote(cid) not in ids and cid not in ids:
            return f"cid:{cid} names no part"
    return None


def spam_rules(work, data):
    prefs = os.path.join(work, "sa-prefs.cf")
    if not os.path.exists(prefs):
        with open(prefs, "w") as f:
            f.write("required_score 0.0\nuse_bayes 0\nbayes_auto_learn 0\ndns_available no\n"
                    "skip_rbl_checks 1\n")
    env = dict(os.environ, PERL_HASH_SEED="0", HOME=work)
    r = subprocess.run(["spamassassin", "-L", f"--prefs-file={prefs}", "-t"], input=data,
                       capture_output=True, env=env)
    out = r.stdout.decode(errors="replace")
    return re.findall(r"^\s*-?\d+\.\d\s+([A-Z0-9_]+)\s", out, re.M)


# ---------------------------------------------------------------------------------------- campaigns

PNG = base64.b64decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGA"
                       "WjR9awAAAABJRU5ErkJggg==")


def recipients_of(row, n):
    """Returns (typed addresses, groups {name: [recipient]}, expected [(recipient, group)])."""
    domain = MX_DOMAIN if row["delivery"].startswith("mx") else RELAY_DOMAIN
    nonascii = row["nonascii"] == "yes"

    def r(local, name, company="Acme"):
        return {"email": f"{local}@{domain}", "name": name, "company": company}

    # The server refuses this one's first RCPT (451) and takes the next: the second offer must
    # start with RSET, or the server answers its MAIL with 503 inside the open transaction. Its
    # address is new in each row, as the server refuses each address once.
    typed = row["recipients"] == "typed"
    busy = [r(f"busy.row{n}", "" if typed else "Bea Busy")] if row["refusal"] == "once" else []
    if typed:
        typed = [r("tina", ""), r("tom", "")] + busy
        return typed, {}, [(t, None) for t in typed]
    a = [r("gina", "Gina Rossi"), r("jurgen", "Jürgen Groß" if nonascii else "Juergen Gross"),
         r("shared", "Sam Shared")] + busy
    groups = {GROUP_A: a}
    if row["recipients"] == "two-groups":
        groups[GROUP_B] = [r("paul", "Paul Partner"), r("shared", "Sam Shared")]
    return [], groups, [(x, g) for g, members in groups.items() for x in members]


def write_group(home, name, members):
    folder = os.path.join(home, "GroupRecipients")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"_{name}.sbz"), "wb") as f:
        for m in members:
            fields = [m["email"], m["name"], "", "", "", m["company"]] + [""] * 7 + ["E"]
            f.write(",".join(fields).encode() + b"\r\n")


def body_texts(row):
    greeting = "Dear [**USER**]," if row["dynamic"] == "yes" else "Dear customer,"
    address = "Your address is [**EMAIL**]." if row["dynamic"] == "yes" else \
        "Your address is (no address)."
    extra = "Grüße aus Köln – €5 Rabatt für 日本 customers." if row["nonascii"] == "yes" else \
        "Greetings from Cologne with a discount of 5 euros."
    return greeting, address, extra


def make_campaign(row, n, folder, cli, env):
    """Writes the body and its files into `folder`; returns the send arguments for them."""
    greeting, address, extra = body_texts(row)
    args = []
    attach = []
    if row["body"] == "plain":
        with open(os.path.join(folder, "body.txt"), "w", encoding="utf-8") as f:
            f.write(f"{greeting}\r\n\r\n{address}\r\n{extra}\r\n.a line that starts with a dot\r\n")
        args += ["--text", "body.txt"]
    elif row["body"] == "html":
        with open(os.path.join(folder, "logo.png"), "wb") as f:
            f.write(PNG)
        attach.append("logo.png")
        with open(os.path.join(folder, "body.html"), "w", encoding="utf-8") as f:
            f.write(f"<html><head><title>Offers</title></head><body><p><img src=\"logo.png\"></p>"
                    f"<p>{greeting}</p><p>{address}</p><p>{extra}</p>"
                    f"<p>Our spring offers are here, with new colours for every room.</p>"
                    f"</body></html>\n")
        args += ["--html", "body.html"]
    elif row["body"] == "wizard":
        design = str(1 + (n % 8))
        r = subprocess.run([cli, "template", "generate", "--design", design, "--out", "page.htm",
                            "--description", f"{greeting} {address} {extra}",
                            "--first-description", f"{greeting} {address} {extra}"],
                           cwd=folder, env=env, capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError("template generate: " + r.stdout + r.stderr)
        attach += [os.path.join("Images", p) for p in sorted(os.listdir(os.path.join(folder, "Images")))]
        args += ["--html", "page.htm"]
    else:  # eml
        from email.message import EmailMessage
        src = EmailMessage()
        src["From"], src["To"], src["Subject"] = "Old <old@good.test>", "x@good.test", "Old"
        src.set_content(f"{greeting}\n{address}\n{extra}\n")
        src.add_alternative(f"<html><body><p><img src=\"cid:pic1@good.test\"></p><p>{greeting}</p>"
                            f"<p>{address}</p><p>{extra}</p></body></html>\n", subtype="html")
        src.get_payload()[1].add_related(PNG, "image", "png", cid="<pic1@good.test>",
                                         filename="image001.png")
        with open(os.path.join(folder, "source.eml"), "wb") as f:
            f.write(bytes(src))
        r = subprocess.run([cli, "eml", "extract", "source.eml", "--out", "eml"], cwd=folder,
                           env=env, capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError("eml extract: " + r.stdout + r.stderr)
        body = re.search(r"^body file: (.*)$", r.stdout, re.M).group(1)
        files = re.findall(r"^file: (.*)$", r.stdout, re.M)
        attach += [os.path.join("eml", x) for x in files]
        args += ["--html" if body.endswith(".html") else "--text", body]

    if row["attach"] == "inline":
        with open(os.path.join(folder, "inline.png"), "wb") as f:
            f.write(PNG)
        attach.append("inline.png")
        for name in ("body.html", "page.htm", "eml/body.html"):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                text = open(path, encoding="utf-8", errors="surrogateescape").read()
                image = '<p><img src="inline.png" alt="inline"></p>'
                text = text.replace("</body>", image + "</body>", 1) if "</body>" in text \
                    else text + image
                open(path, "w", encoding="utf-8", errors="surrogateescape").write(text)
    elif row["attach"] == "big":
        with open(os.path.join(folder, "price-list.bin"), "wb") as f:
            f.write(os.urandom(1536 * 1024))
        attach.append("price-list.bin")
    elif row["attach"] == "dots":
        with open(os.path.join(folder, "dots.txt"), "wb") as f:
            f.write(b".first line starts with a dot\r\n..two dots\r\n.\r\nend\r\n.")
        attach.append("dots.txt")
    for a in attach:
        args += ["--attach", a]
    return args


def delivery_args(row, ports):
    d = row["delivery"]
    if d == "relay":
        return ["--server", "127.0.0.1", "--port", str(ports["relay"]), "--security", "none"]
    if d == "relay-tls-auth":
        return ["--server", "localhost", "--port", str(ports["relay"]), "--security", "starttls",
                "--verify-cert", "n", "--user", "alice", "--password-env", "QM_MATRIX_PASSWORD"]
    return ["--mx", "--mx-order", "answer" if d == "mx-answer" else "preference"]


def received(folder, before):
    """Messages stored by an aiosmtpd listener since `before` (a set of names)."""
    out = []
    for name in sorted(set(os.listdir(folder)) - before, key=lambda s: int(s.split(".")[0])):
        if not name.endswith(".eml"):
            continue
        env = open(os.path.join(folder, name[:-4] + ".env")).read()
        rcpts = re.findall(r"^rcpt (.*)$", env, re.M)
        auth = re.search(r"^auth (.*)$", env, re.M).group(1)
        out.append((open(os.path.join(folder, name), "rb").read(), rcpts, auth))
    return out


def run_row(n, row, ctx):
    folder = os.path.join(ctx["work"], f"row{n}")
    home = os.path.join(folder, "home")
    os.makedirs(home)
    env = dict(os.environ, QUILLMARK_HOME=home, QUILLMARK_CONFIG=os.path.join(folder, "s.ini"),
               QUILLMARK_RESOLV_CONF=ctx["resolv"], QM_MATRIX_PASSWORD="s3cret")
    typed, groups, expected = recipients_of(row, n)
    for name, members in groups.items():
        write_group(home, name, members)
    results = {}
    try:
        args = make_campaign(row, n, folder, ctx["cli"], env)
    except RuntimeError as e:
        return {"build": str(e)}
    nonascii = row["nonascii"] == "yes"
    args = [ctx["cli"], "send", "--from-name", "Änne Müller" if nonascii else "Ann Example",
            "--from", SENDER, "--subject", "Frühlingsangebote für Sie" if nonascii else
            "Spring offers", "--threads", "2", "--wait", "0", "--per-connection", row["perconn"],
            "--rate", "0"] + args
    if row["dynamic"] == "yes":
        args.append("--dynamic")
    if row["body"] != "plain":
        args += ["--text-part", row["textpart"]]
    if row["unsub"] != "none":
        args += ["--unsubscribe", UNSUB, "--scope", "single"]
        args += ["--unsubscribe-url", ONE_CLICK if row["unsub"] == "oneclick" else ""]
    if row["dkim"] == "none":
        args.append("--no-dkim")
    else:
        sel = ctx["selectors"][row["dkim"]]
        args += ["--dkim-domain", "good.test", "--dkim-selector", sel, "--dkim-key",
                 ctx["keyfiles"][row["dkim"]], "--dkim-algorithm", row["dkim"]]
    if typed:
        args += ["--to", "; ".join(t["email"] for t in typed)]
    if groups:
        args += ["--groups", "".join(g + ";" for g in groups)]
    args += delivery_args(row, ctx["ports"])
    inbox = ctx["mx_dir"] if row["delivery"].startswith("mx") else ctx["relay_dir"]
    before = set(os.listdir(inbox)) if os.path.isdir(inbox) else set()
    t0 = time.monotonic()
    r = subprocess.run(args, cwd=folder, env=env, capture_output=True, text=True, timeout=600)
    ctx["times"]["send"] = ctx["times"].get("send", 0) + time.monotonic() - t0
    if r.returncode != 0:
        results["send"] = f"exit {r.returncode}: {(r.stdout + r.stderr)[-400:]}"
    got = received(inbox, before)

    # Which copy belongs to which (recipient, group): the List-Unsubscribe subject names the group
    # when there is one; without it, the group follows from the recipient, except for the shared
    # address, whose two copies are told apart by order of arrival (either order is fine).
    counts = {}
    spam_done = False
    failures = {}

    def fail(check, text):
        failures.setdefault(check, text)

    for data, rcpts, auth in got:
        if len(rcpts) != 1:
            fail("once", f"one copy for {rcpts}")
            continue
        msg = email.message_from_bytes(data, policy=email.policy.default)
        candidates = [(x, g) for x, g in expected if x["email"] == rcpts[0]]
        if not candidates:
            fail("once", f"a copy for {rcpts[0]}, who is not a recipient")
            continue
        header = str(msg.get("List-Unsubscribe") or "")
        match = None
        for x, g in candidates:
            tag = "Unsubscribe-" + urllib.parse.quote(g.replace(" ", ":"), safe=":") if g else None
            if tag and tag in header:
                match = (x, g)
        if match is None:
            taken = [c for c in candidates if counts.get((c[0]["email"], c[1]), 0) == 0]
            match = taken[0] if taken else candidates[0]
        key = (match[0]["email"], match[1])
        counts[key] = counts.get(key, 0) + 1
        if row["delivery"] == "relay-tls-auth" and auth != "True":
            fail("send", "relay copy without AUTH")
        for check, outcome in (("parse", lambda: check_parse(data, msg)),
                               ("dkim", lambda: check_dkim(data, row["dkim"], ctx["keys"],
                                                           ctx["dns_port"])),
                               ("vars", lambda: check_vars(msg, row, match[0])),
                               ("unsub", lambda: check_unsub(msg, row, match[0], match[1])),
                               ("cid", lambda: check_cids(msg)),
                               ("postfix", lambda: None if (rep := smtp_offer(
                                   ctx["ports"]["postfix"], SENDER, rcpts[0], data)).startswith(
                                   "250") else rep)):
            t0 = time.monotonic()
            try:
                text = outcome()
            except Exception as e:  # a checker that trips over the message is a failed check
                text = f"{type(e).__name__}: {e}"
            ctx["times"][check] = ctx["times"].get(check, 0) + time.monotonic() - t0
            if text:
                fail(check, text)
        if not spam_done:
            spam_done = True
            t0 = time.monotonic()
            hits = [rule for rule in spam_rules(ctx["work"], data) if STRUCTURAL.search(rule)]
            ctx["times"]["spam"] = ctx["times"].get("spam", 0) + time.monotonic() - t0
            if hits:
                fail("spam", "structural rules: " + " ".join(hits))
    for x, g in expected:
        c = counts.get((x["email"], g), 0)
        if c != 1:
            fail("once", f"{x['email']} ({g or 'typed'}) got {c} copies")
    results.update(failures)
    return results


CHECKS = ["send", "parse", "dkim", "vars", "unsub", "cid", "postfix", "spam", "once"]


def main():
    cli, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    work = tempfile.mkdtemp(prefix="qm-matrix.")
    os.chmod(work, 0o755)
    servers = Servers(work, source)
    rows = pairwise.pairwise(FACTORS)
    assert not pairwise.uncovered_pairs(FACTORS, rows)
    only = {int(x) for x in os.environ.get("QM_MATRIX_ROWS", "").split(",") if x}
    started = time.monotonic()
    try:
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                        "-keyout", os.path.join(work, "key.pem"), "-out",
                        os.path.join(work, "cert.pem")], check=True, capture_output=True)
        keys, keyfiles, selectors, records = {}, {}, {"rsa": "mrsa", "ed25519": "med"}, []
        for alg, sel in selectors.items():
            keyfiles[alg] = os.path.join(work, f"{alg}.key")
            r = subprocess.run([cli, "dkim", "keygen", "--domain", "good.test", "--selector", sel,
                                "--algorithm", alg, "--out", keyfiles[alg]], check=True,
                               capture_output=True, text=True,
                               env=dict(os.environ, QUILLMARK_HOME=os.path.join(work, "kh"),
                                        QUILLMARK_CONFIG=os.path.join(work, "kh.ini")))
            keys[sel] = "".join(re.findall(r'"([^"]*)"', r.stdout))
            chunks = [keys[sel][i:i + 250] for i in range(0, len(keys[sel]), 250)]
            records.append(f"txt-record={sel}._domainkey.good.test," +
                           ",".join(f'"{c}"' for c in chunks))
        ports = {"relay": free_port(), "postfix": free_port()}
        dns_port = free_port()
        servers.dnsmasq(dns_port, records)
        resolv = os.path.join(work, "resolv.conf")
        with open(resolv, "w") as f:
            f.write(f"nameserver 127.0.0.1#{dns_port}\n")
        relay_dir = servers.aiosmtpd("relay", ports["relay"])
        mx_dir = servers.aiosmtpd("mx", 25)
        servers.postfix(ports["postfix"])
        ctx = dict(work=work, cli=cli, ports=ports, dns_port=dns_port, resolv=resolv, keys=keys,
                   keyfiles=keyfiles, selectors=selectors, relay_dir=relay_dir, mx_dir=mx_dir,
                   times={})
        log(f"{len(rows)} campaigns cover every pair of {len(FACTORS)} factors "
            f"(servers up after {time.monotonic() - started:.1f} s)")
        header = ["row"] + [n for n, _ in FACTORS] + CHECKS
        log(" | ".join(header))
        failed = ran = 0
        for n, row in enumerate(rows, 1):
            if only and n not in only:
                continue
            ran += 1
            t0 = time.monotonic()
            res = run_row(n, row, ctx)
            cells = [str(n)] + [row[k] for k, _ in FACTORS] + \
                    ["FAIL" if c in res else "ok" for c in CHECKS]
            log(" | ".join(cells) + f"  ({time.monotonic() - t0:.1f} s)")
            for check, text in res.items():
                log(f"    row {n} {check}: {text}")
            failed += bool(res)
        log(f"campaigns: {ran - failed} passed, {failed} failed")
        log(f"({time.monotonic() - started:.0f} s in all; by step: " +
            ", ".join(f"{k} {v:.1f} s" for k, v in ctx["times"].items()) + ")")
        return 1 if failed else 0
    finally:
        servers.stop()
        if os.environ.get("QM_MATRIX_KEEP"):
            log("work folder kept:", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
