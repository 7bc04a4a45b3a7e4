#!/usr/bin/env python3
"""Draws the images of the board skins and writes them as GIF files.

    scripts/make-images.py [--check]

The pictures are small pixel drawings (tree lines, the "new" badge and
the attachment clip) held here as tables; the buttons of the skins are
text styled by their style sheets, not pictures. The GIF89a writer below
compresses them with LZW. --check decodes every written file again and
compares it with the drawing.
"""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_SKIN = os.path.join(ROOT, "site", "skin", "default")
MOBILE_SKIN = os.path.join(ROOT, "site", "skin", "mobile")

# 5x7 capital letters for the badge text.
FONT = {
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
}

# The attachment clip, 16x16; "#" is the wire.
CLIP = [
    "................",
    ".......###......",
    "......#...#.....",
    ".....#..#..#....",
    ".....#.#.#.#....",
    ".....#.#.#.#....",
    ".....#.#.#.#....",
    ".....#.#.#.#....",
    ".....#.#.#.#....",
    ".....#.#.#.#....",
    ".....#.#.#.#....",
    ".....#.#.#.#....",
    ".....#...#.#....",
    "......###..#....",
    "................",
    "................",
]

# Colours as (r, g, b); index 0 of every palette is the transparent one.
TRANSPARENT = (255, 255, 255)
TREE = (150, 156, 166)
CLIP_WIRE = (80, 88, 100)
RED_EDGE, RED_FILL = (140, 36, 36), (186, 58, 54)
WHITE = (255, 255, 255)


class Picture:
    """A width x height grid of palette indices, all transparent at first."""

    def __init__(self, width, height, palette):
        self.width = width
        self.height = height
        self.palette = [TRANSPARENT] + list(palette)
        self.pixels = [0] * (width * height)

    def set(self, x, y, index):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = index

    def fill(self, x0, y0, x1, y1, index):
        """Fills the rectangle with corners (x0, y0) and (x1, y1) inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, index)

    def stamp(self, rows, x0, y0, index, scale=1):
        """Draws every "#" of a text drawing, each as a scale x scale block."""
        for dy, row in enumerate(rows):
            for dx, ch in enumerate(row):
                if ch == "#":
                    self.fill(x0 + dx * scale, y0 + dy * scale,
                              x0 + dx * scale + scale - 1, y0 + dy * scale + scale - 1, index)


def text_width(text, scale):
    """Width in pixels of a text in the 5x7 font with one column between letters."""
    return (6 * len(text) - 1) * scale


def draw_text(pic, text, x0, y0, index, scale):
    for i, ch in enumerate(text):
        pic.stamp(FONT[ch], x0 + i * 6 * scale, y0, index, scale)


def rounded_box(pic, edge, fill, radius):
    """A filled box over the whole picture with a one-pixel edge and corners
    cut diagonally: a corner pixel (i, j) steps in from the corner is
    transparent when i + j < radius and edge when i + j == radius."""
    w, h = pic.width, pic.height
    pic.fill(0, 0, w - 1, h - 1, edge)
    pic.fill(1, 1, w - 2, h - 2, fill)
    for i in range(radius + 1):
        for j in range(radius + 1):
            if i + j > radius:
                continue
            index = 0 if i + j < radius else edge
            for x, y in ((i, j), (w - 1 - i, j), (i, h - 1 - j), (w - 1 - i, h - 1 - j)):
                pic.set(x, y, index)


def new_badge():
    pic = Picture(text_width("NEW", 1) + 6, 11, [RED_EDGE, RED_FILL, WHITE])
    rounded_box(pic, 1, 2, 2)
    draw_text(pic, "NEW", 3, 2, 3, 1)
    return pic


def branch(kind):
    """12x16 tree line: "join" (a branch with later siblings), "vert" (a line
    passing by) or "hook" (the last branch)."""
    pic = Picture(12, 16, [TREE])
    bottom = 7 if kind == "hook" else 15
    pic.fill(5, 0, 5, bottom, 1)
    if kind != "vert":
        pic.fill(5, 7, 11, 7, 1)
    return pic


def clip():
    pic = Picture(16, 16, [CLIP_WIRE])
    pic.stamp(CLIP, 0, 0, 1)
    return pic


def spacer():
    return Picture(1, 1, [])


def lzw_encode(pixels, min_size):
    """GIF flavoured LZW: variable code width from min_size + 1 up to 12 bits,
    codes packed least significant bit first."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out = bytearray()
    acc, nbits = 0, 0

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def fresh():
        return {(i,): i for i in range(clear)}, end + 1, min_size + 1

    table, next_code, width = fresh()
    emit(clear, width)
    current = ()
    for p in pixels:
        longer = current + (p,)
        if longer in table:
            current = longer
            continue
        emit(table[current], width)
        if next_code < 4096:
            table[longer] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = fresh()
        current = (p,)
    if current:
        emit(table[current], width)
    emit(end, width)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def gif_bytes(pic):
    """The picture as a GIF89a file with palette index 0 transparent."""
    bits = 1
    while (1 << bits) < len(pic.palette):
        bits += 1
    palette = pic.palette + [(0, 0, 0)] * ((1 << bits) - len(pic.palette))
    min_size = max(2, bits)
    data = lzw_encode(pic.pixels, min_size)
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", pic.width, pic.height, 0xF0 | (bits - 1), 0, 0)
    for r, g, b in palette:
        out += bytes((r, g, b))
    out += b"\x21\xF9\x04\x01\x00\x00\x00\x00"  # transparency: index 0
    out += b"\x2C" + struct.pack("<HHHHB", 0, 0, pic.width, pic.height, 0)
    out.append(min_size)
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out += b"\x00\x3B"
    return bytes(out)


def gif_decode(blob):
    """Reads back what gif_bytes writes: (width, height, pixels)."""
    if blob[:6] != b"GIF89a":
        raise ValueError("not a GIF89a file")
    image_width, height, packed = struct.unpack("<HHB", blob[6:11])
    pos = 13 + 3 * (2 << (packed & 7))
    while blob[pos] == 0x21:
        pos += 2
        while blob[pos]:
            pos += blob[pos] + 1
        pos += 1
    if blob[pos] != 0x2C:
        raise ValueError("no image descriptor")
    pos += 10
    min_size = blob[pos]
    pos += 1
    data = bytearray()
    while blob[pos]:
        data += blob[pos + 1:pos + 1 + blob[pos]]
        pos += blob[pos] + 1
    if blob[pos + 1] != 0x3B:
        raise ValueError("no trailer")

    clear, end = 1 << min_size, (1 << min_size) + 1
    acc, nbits, i = 0, 0, 0
    table, width, prev = None, min_size + 1, None
    pixels = []
    while True:
        while nbits < width:
            acc |= data[i] << nbits
            i += 1
            nbits += 8
        code = acc & ((1 << width) - 1)
        acc >>= width
        nbits -= width
        if code == clear:
            table = [(k,) for k in range(clear)] + [None, None]
            width, prev = min_size + 1, None
            continue
        if code == end:
            break
        if code < len(table):
            entry = table[code]
            if prev is not None:
                table.append(prev + entry[:1])
        else:
            entry = prev + prev[:1]
            table.append(entry)
        pixels.extend(entry)
        prev = entry
        if len(table) == (1 << width) and width < 12:
            width += 1
    return image_width, height, pixels


def pictures():
    """Every image to write: (directory, file name, picture)."""
    items = [
        (DEFAULT_SKIN, "spacer.gif", spacer()),
        (DEFAULT_SKIN, "branch_join.gif", branch("join")),
        (DEFAULT_SKIN, "branch_vert.gif", branch("vert")),
        (DEFAULT_SKIN, "branch_hook.gif", branch("hook")),
    ]
    for skin in (DEFAULT_SKIN, MOBILE_SKIN):
        items += [(skin, "new.gif", new_badge()), (skin, "attach.gif", clip())]
    return items


def main():
    check = "--check" in sys.argv[1:]
    failed = 0
    for directory, name, pic in pictures():
        os.makedirs(directory, exist_ok=True)
        path = os.path.join(directory, name)
        blob = gif_bytes(pic)
        if check:
            with open(path, "rb") as f:
                stored = f.read()
            w, h, pixels = gif_decode(stored)
            if (w, h, pixels) != (pic.width, pic.height, pic.pixels) or stored != blob:
                print("differs: %s" % os.path.relpath(path, ROOT))
                failed += 1
        else:
            with open(path, "wb") as f:
                f.write(blob)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
