#!/usr/bin/env python3
"""Reads one mail from the file named on the command line the way a mail
reader does (Python's email package) and prints what it found, one
"key hex-value" line each; texts are given as UTF-8.

For each text part: its charset, transfer encoding and format parameters,
the decoded text ("text"), and the text joined again as a format=flowed
reader joins it ("text.unflowed"). With nkf installed, an ISO-2022-JP part
is also decoded by nkf ("text.nkf", joined the same way), a second reader
to compare with."""
import email
import re
import shutil
import subprocess
import sys
from email.header import decode_header, make_header

HEADERS = ("Return-Path", "Sender", "From", "To", "Cc", "Bcc", "Reply-To",
           "Message-ID", "In-Reply-To", "References", "Subject", "Date")


def put(key, value):
    if isinstance(value, str):
        value = value.encode("utf-8")
    sys.stdout.write("%s %s\n" % (key, value.hex()))


def decoded(value):
    """A header value unfolded (RFC 5322) and its encoded words decoded."""
    value = re.sub(r"\r?\n(?=[ \t])", "", str(value))
    return str(make_header(decode_header(value)))


def unflow(text, delsp):
    """Joins the soft lines of a format=flowed text (RFC 3676): a line
    ending in a space goes on in the next one, the space dropped with
    delsp; one leading space of a line is stuffing."""
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    out, pending = [], None
    for line in lines:
        if line.startswith(" "):
            line = line[1:]
        if pending is not None:
            line = pending + line
            pending = None
        if line.endswith(" ") and line != "-- ":
            pending = line[:-1] if delsp else line
        else:
            out.append(line)
    if pending is not None:
        out.append(pending)
    return "".join(l + "\n" for l in out)


def nkf_text(raw):
    nkf = shutil.which("nkf")
    if not nkf:
        return None
    proc = subprocess.run([nkf, "-J", "-w", "-m0"], input=raw,
                          stdout=subprocess.PIPE, check=True)
    return proc.stdout.decode("utf-8")


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
            flowed = part.get_param("format", "").lower() == "flowed"
            delsp = part.get_param("delsp", "").lower() == "yes"
            put("text.charset", charset)
            put("text.cte", part.get("Content-Transfer-Encoding", ""))
            put("text.format", part.get_param("format", ""))
            put("text.delsp", part.get_param("delsp", ""))
            text = data.decode(charset or "ascii")
            put("text", text)
            put("text.unflowed", unflow(text, delsp) if flowed else text)
            if charset == "iso-2022-jp":
                other = nkf_text(data)
                if other is not None:
                    put("text.nkf", unflow(other, delsp) if flowed else other)
        else:
            put("attach.%d.name" % count, decoded(name))
            put("attach.%d.data" % count, data)
            count += 1
    put("attach.count", str(count))
    put("parts.defects", str(sum(len(p.defects) for p in msg.walk())))


main()
