#!/usr/bin/python3
"""Writes the .eml fixtures of eml_content_test with Python's email package into the folder given."""
import struct
import sys
import zlib
from email.message import EmailMessage
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.message import MIMEMessage
from email import policy

out = sys.argv[1]


def png(width, height, rgb):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


PNG = png(40, 20, (200, 30, 30))
PDF = b"%PDF-1.4\n" + bytes(range(256)) + b"\n%%EOF\n"


def save(name, msg):
    with open(f"{out}/{name}", "wb") as f:
        f.write(msg.as_bytes(policy=policy.SMTP))


def head(msg, subject):
    msg["From"] = "Alice <alice@example.org>"
    msg["To"] = "bob@example.org"
    msg["Subject"] = subject


# HTML with a text alternative, an inline picture and an attachment: mixed > related > alternative.
m = EmailMessage()
head(m, "Spring offers")
m.set_content("Hello Bob, see the logo.\n")
m.add_alternative('<html><body><p>Hello Bob</p><img src="cid:logo.1@example.org" alt="logo">'
                  '<img src="CID:missing@example.org"></body></html>', subtype="html")
m.get_payload()[1].add_related(PNG, "image", "png", cid="<logo.1@example.org>",
                               filename="logo.png")
m.add_attachment(PDF, maintype="application", subtype="pdf", filename="report.pdf")
save("html_inline.eml", m)

# Plain text alone in ISO-8859-1, quoted-printable.
m = EmailMessage()
head(m, "Gruesse")
m.set_content("Grüße aus Köln, à bientôt.\n", charset="iso-8859-1", cte="quoted-printable")
save("latin1_qp.eml", m)

# HTML alone in UTF-8, base64, plus an attachment whose name needs RFC 2231.
m = EmailMessage()
head(m, "base64")
m.set_content("<p>Ünïcödé body 日本</p>", subtype="html", charset="utf-8", cte="base64")
m.add_attachment(b"name test\n", maintype="text", subtype="plain", filename="Résumé Übersicht.txt")
save("base64_rfc2231.eml", m)

# Nested multiparts, an attached message, and two attachments of the same name.
inner = EmailMessage()
head(inner, "forwarded")
inner.set_content("The forwarded text.\n")
root = MIMEMultipart("mixed")
root["From"] = "Alice <alice@example.org>"
root["Subject"] = "nested"
alt = MIMEMultipart("alternative")
alt.attach(MIMEText("plain twin\n", "plain", "utf-8"))
alt.attach(MIMEText("<b>nested html</b>", "html", "utf-8"))
deeper = MIMEMultipart("mixed")
deeper.attach(alt)
root.attach(deeper)
for body in (b"first", b"second"):
    part = EmailMessage()
    part.set_content(body, maintype="application", subtype="octet-stream", filename="data.bin")
    root.attach(part)
fwd = MIMEMessage(inner)
fwd.add_header("Content-Disposition", "attachment", filename="forwarded.eml")
root.attach(fwd)
save("nested.eml", root)
