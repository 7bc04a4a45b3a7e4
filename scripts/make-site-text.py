#!/usr/bin/env python3
"""Writes the text files of site/ in Shift_JIS from their UTF-8 sources in
site-text/, which mirrors site/ file for file: the message catalogue, the
sample system settings, the mobile-phone table, the signatures, the style
sheet and the templates of the skins and of the administration pages.

    scripts/make-site-text.py [--check]

site-text/ is where these files are edited; site/ holds what is installed.
Settings files are written in UTF-8 as plain "name=value" lines and
percent-encoded here, as the programs store them. Before writing, every
file is checked: it must encode in Shift_JIS (CP932), an HTML file must
declare the charset, hold no run of two blanks (the template reader
deletes them) and have every block marker paired, and a catalogue must
name each key once. --check writes nothing and fails when a file of site/
differs from what would be written (the test suite runs it).
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE = os.path.join(ROOT, "site")
SOURCE = os.path.join(ROOT, "site-text")
SAFE = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789*-._")

# Files written percent-encoded, as the programs write their settings.
ENCODED = {"dat-system.sample.dat", "default.keit"}
CATALOGUE = "dat-message.dat"

MARKER = re.compile(rb"<!--(/?)([A-Z][A-Z0-9_]*)-->")


def per_hex(data: bytes) -> bytes:
    """Percent-encodes as the settings files are written: letters, digits and
    *-._ as they are, a blank as "+", every other byte as %XX."""
    out = bytearray()
    for c in data:
        if c == 0x20:
            out += b"+"
        elif c in SAFE:
            out.append(c)
        else:
            out += b"%%%02X" % c
    return bytes(out)


def pairs(text):
    """The name=value lines of a settings source."""
    for line in text.splitlines():
        if line and not line.startswith("#"):
            name, _, value = line.partition("=")
            yield name, value


def encoded_settings(text):
    return b"".join(per_hex(k.encode("cp932")) + b"=" + per_hex(v.encode("cp932")) + b"\n"
                    for k, v in pairs(text))


def check_html(data):
    """Problems of a template: missing charset, double blanks, unpaired or
    crossed block markers."""
    problems = []
    if b'<meta charset="Shift_JIS">' not in data:
        problems.append("no Shift_JIS charset declaration")
    if b"  " in data:
        line = data[:data.index(b"  ")].count(b"\n") + 1
        problems.append("two blanks in a row on line %d" % line)
    open_blocks = []
    for m in MARKER.finditer(data):
        closing, block = m.group(1) == b"/", m.group(2).decode()
        if not closing:
            if block in open_blocks:
                problems.append("block %s opened inside itself" % block)
            open_blocks.append(block)
        elif not open_blocks or open_blocks[-1] != block:
            problems.append("block %s closed out of order" % block)
        else:
            open_blocks.pop()
    if open_blocks:
        problems.append("blocks left open: %s" % ", ".join(open_blocks))
    return problems


def check_catalogue(text):
    problems = []
    keys = [k for k, _ in pairs(text)]
    if len(set(keys)) != len(keys):
        problems.append("a key occurs twice")
    for key, value in pairs(text):
        if not re.fullmatch(r"msg[0-9]{2,3}", key):
            problems.append("%s is not a catalogue key" % key)
        if "  " in value:
            problems.append("%s holds two blanks in a row" % key)
    return problems


def sources():
    """The relative paths of every source file, sorted."""
    for top, _, names in os.walk(SOURCE):
        for name in names:
            yield os.path.relpath(os.path.join(top, name), SOURCE)


def build(rel):
    """The installed bytes of one source and the problems found in it."""
    with open(os.path.join(SOURCE, rel), encoding="utf-8", newline="") as f:
        text = f.read()
    problems = []
    if rel in ENCODED:
        data = encoded_settings(text)
    else:
        data = text.encode("cp932")
    if rel.endswith(".html"):
        problems = check_html(data)
    elif rel == CATALOGUE:
        problems = check_catalogue(text)
    return data, problems


def main():
    check = "--check" in sys.argv[1:]
    failed = False
    for rel in sorted(sources()):
        try:
            data, problems = build(rel)
        except UnicodeEncodeError as e:
            print("%s: not encodable in Shift_JIS: %s" % (rel, e))
            failed = True
            continue
        for p in problems:
            print("%s: %s" % (rel, p))
        failed = failed or bool(problems)
        path = os.path.join(SITE, rel)
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() != data:
                        print("%s: differs from its source in site-text/" % rel)
                        failed = True
            except OSError:
                print("%s: missing" % rel)
                failed = True
        elif not problems:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
