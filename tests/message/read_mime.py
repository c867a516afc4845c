#!/usr/bin/python3
"""Reads one message file with Python's email package and prints what it understood, one item a
line, every text as hex so nothing needs escaping:
  header <name> <hex of the decoded value>
  part <depth> <content type> <hex charset> <hex filename> <hex content id> <hex decoded bytes>
  defect <text>
"""
import email
import email.policy
import email.utils
import sys


def hexs(text):
    if text is None:
        return "-"
    if isinstance(text, str):
        text = text.encode("utf-8")
    return text.hex() or "-"


def walk(part, depth, out):
    for defect in part.defects:
        out.append("defect " + type(defect).__name__)
    if part.is_multipart():
        out.append("part %d %s - - - -" % (depth, part.get_content_type()))
        for child in part.iter_parts() if hasattr(part, "iter_parts") else part.get_payload():
            walk(child, depth + 1, out)
        return
    cid = part.get("Content-ID")
    out.append("part %d %s %s %s %s %s" % (
        depth, part.get_content_type(), hexs(part.get_param("charset")),
        hexs(part.get_filename()), hexs(str(cid) if cid is not None else None),
        hexs(part.get_payload(decode=True))))


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    out = []
    for name in ("Subject", "Message-ID", "X-Mailer", "List-Unsubscribe", "List-Unsubscribe-Post"):
        out.append("header %s %s" % (name, hexs(str(msg[name]) if msg[name] is not None else None)))
    if msg["List-Id"] is not None:
        # The decoded field (encoded words undone) read as "phrase <id>".
        name, ident = email.utils.parseaddr(str(msg["List-Id"]))
        out.append("header List-Id-Name %s" % hexs(name))
        out.append("header List-Id %s" % hexs(ident))
    sender = msg["From"].addresses[0]
    out.append("header From-Name %s" % hexs(sender.display_name))
    out.append("header From-Address %s" % hexs(sender.addr_spec))
    walk(msg, 0, out)
    print("\n".join(out))


main()
