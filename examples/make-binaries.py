#!/usr/bin/env python3
"""Writes the binary files of the sample site (images and zip archives).

The files are committed; run this only to regenerate them. The output is
deterministic: the same bytes on every run.
    python3 examples/make-binaries.py
"""
import io
import os
import struct
import zipfile
import zlib

SITE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site")


def png(width, height, palette, rows):
    """An 8-bit indexed PNG. rows: list of lists of palette indexes."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\x00" + bytes(r) for r in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0))
            + chunk(b"PLTE", b"".join(bytes(c) for c in palette))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def gif(width, height, palette, rows):
    """A GIF89a with a global colour table of 4 entries and LZW-coded pixels."""
    min_code = 2
    clear, end = 1 << min_code, (1 << min_code) + 1
    pixels = [p for r in rows for p in r]
    table = {(i,): i for i in range(clear)}
    next_code, width_bits = end + 1, min_code + 1
    codes = [(clear, width_bits)]
    prefix = (pixels[0],)
    for p in pixels[1:]:
        cand = prefix + (p,)
        if cand in table:
            prefix = cand
            continue
        codes.append((table[prefix], width_bits))
        if next_code < 4096:
            table[cand] = next_code
            next_code += 1
            if next_code > (1 << width_bits) and width_bits < 12:
                width_bits += 1
        else:
            codes.append((clear, width_bits))
            table = {(i,): i for i in range(clear)}
            next_code, width_bits = end + 1, min_code + 1
        prefix = (p,)
    codes.append((table[prefix], width_bits))
    codes.append((end, width_bits))
    acc = nbits = 0
    out = bytearray()
    for code, bits in codes:
        acc |= code << nbits
        nbits += bits
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        out.append(acc & 0xFF)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + bytes(out[i:i + 255])
                      for i in range(0, len(out), 255))
    pal = b"".join(bytes(c) for c in palette)
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x81, 0, 0) + pal
            + b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
            + bytes([min_code]) + blocks + b"\x00\x3b")


def picture(width, height, art):
    """Pads ASCII art ('#' body, '+' detail, anything else background) to a grid."""
    rows = []
    for y in range(height):
        line = art[y] if y < len(art) else ""
        rows.append([{"#": 1, "+": 2}.get(line[x] if x < len(line) else " ", 0)
                     for x in range(width)])
    return rows


FERRET = [
    "",
    "",
    "                ##  ",
    "               #+## ",
    "  ############ #####",
    " ################## ",
    "################### ",
    "#  #############    ",
    "   ##         ##    ",
    "   ++         ++    ",
]
PAW = [
    "",
    "  #  #  ",
    " #    # ",
    "   ##   ",
    "  ####  ",
    "  ####  ",
    "   ##   ",
    "",
]
STOAT = [
    "",
    "                  # ",
    "                 ###",
    "  ###############+# ",
    " ################## ",
    "+# ############     ",
    "    #          #    ",
]
OTTER = [
    "",
    "  ++++++++++++++++  ",
    "    ##              ",
    "   ####             ",
    "  ####  ##########  ",
    "  ################# ",
    " ++++++++++++++++++ ",
    "++++++++++++++++++++",
]
LOGO = [
    "                    ",
    "  ++++++++++++++++  ",
    "  +              +  ",
    "  +     ##  ##   +  ",
    "  +    ########  +  ",
    "  +  ##########  +  ",
    "  +  #  ####     +  ",
    "  +              +  ",
    "  ++++++++++++++++  ",
]


def write(rel, data):
    path = os.path.join(SITE, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def zip_bytes(members):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=(2024, 10, 12, 9, 30, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, data)
    return buf.getvalue()


def main():
    cream, brown, dark = (251, 248, 242), (122, 82, 44), (43, 33, 24)
    water, otter = (120, 160, 190), (90, 62, 40)
    write("images/logo.png", png(20, 10, [cream, brown, dark], picture(20, 10, LOGO)))
    write("images/pawprint.gif", gif(8, 8, [cream, dark, brown, cream], picture(8, 8, PAW)))
    write("gallery/sable.png", png(20, 10, [cream, brown, dark], picture(20, 10, FERRET)))
    write("gallery/stoat.gif", gif(20, 8, [(200, 215, 230), (255, 255, 255), dark, cream],
                                   picture(20, 8, STOAT)))
    write("gallery/otter.png", png(20, 8, [(210, 225, 235), otter, water], picture(20, 8, OTTER)))

    def site_file(rel):
        with open(os.path.join(SITE, rel), "rb") as f:
            return f.read()

    write("gallery/photos.zip", zip_bytes([
        ("photos/sable.png", site_file("gallery/sable.png")),
        ("photos/stoat.gif", site_file("gallery/stoat.gif")),
        ("photos/otter.png", site_file("gallery/otter.png")),
    ]))
    write("files/club-kit.zip", zip_bytes([
        ("club-kit/rules.txt",
         b"Fenwick Mustelid Club - rules\n\n"
         b"1. Animals come to meetings only on handling nights.\n"
         b"2. Keep to footpaths; close every gate behind you.\n"
         b"3. Record what you see on the sightings table, not just what is rare.\n"),
        ("club-kit/map-notes.txt",
         b"Map notes\n\nFen Drove: park at the pumping station.\n"
         b"Holloway Farm: ask at the farmhouse first.\n"
         b"Ketton Bridge: the east bank path floods after rain.\n"),
        ("club-kit/membership-form.txt",
         b"Membership form\n\nName:\nAddress:\nNumber of ferrets:\n"
         b"Subscription enclosed (6 pounds a year): yes / no\n"),
    ]))


if __name__ == "__main__":
    main()
