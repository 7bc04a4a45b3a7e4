#!/usr/bin/env python3
"""Reads one mail from the file named on the command line the way a mail
reader does (Python's email package) and prints what it found, one
"key hex-value" line each; texts are given as UTF-8."""
import email
import sys
from email.header import decode_header, make_header

HEADERS = ("Return-Path", "Sender", "From", "To", "Cc", "Bcc", "Reply-To",
           "Message-Id", "References", "Subject")


def put(key, value):
    if isinstance(value, str):
        value = value.encode("utf-8")
    sys.stdout.write("%s %s\n" % (key, value.hex()))


def decoded(value):
    return str(make_header(decode_header(value)))


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_bytes(f.read())
    put("keys", ",".join(msg.keys()))
    put("defects", str(len(msg.defects)))
    put("type", msg.get_content_type())
    for name in HEADERS:
        value = msg.get(name)
        if value is not None:
            put("h." + name, decoded(value))
    count = 0
    for part in msg.walk():
        if part.is_multipart():
            continue
        data = part.get_payload(decode=True)
        name = part.get_filename()
        if name is None:
            charset = part.get_content_charset() or ""
            put("text.charset", charset)
            put("text", data.decode(charset or "ascii"))
        else:
            put("attach.%d.name" % count, decoded(name))
            put("attach.%d.data" % count, data)
            count += 1
    put("attach.count", str(count))


main()
