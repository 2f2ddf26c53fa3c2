#!/usr/bin/env python3
"""Draws the application icon and the About box picture (no image library
needed). Run once after changing the drawing; the outputs are committed."""
import struct


def pixel(x, y, w, h):
    """A blue-grey plug with two gold pins on a light field."""
    cx, cy = x / w, y / h
    if 0.2 <= cx <= 0.8 and 0.35 <= cy <= 0.8:
        return (60, 80, 110)
    if (0.3 <= cx <= 0.4 or 0.6 <= cx <= 0.7) and 0.12 <= cy < 0.35:
        return (40, 180, 220)
    if 0.42 <= cx <= 0.58 and cy > 0.8:
        return (60, 80, 110)
    return (235, 240, 245)


def bmp_rows(w, h, bpp):
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            b, g, r = pixel(x, y, w, h)[::-1]
            row += bytes((b, g, r)) if bpp == 24 else bytes((b, g, r, 255))
        while len(row) % 4:
            row.append(0)
        rows.append(bytes(row))
    return b"".join(rows)


def write_bmp(path, w, h):
    data = bmp_rows(w, h, 24)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    open(path, "wb").write(header + info + data)


def write_ico(path, sizes):
    images = []
    for s in sizes:
        xor = bmp_rows(s, s, 32)
        mask = bytes(((s + 31) // 32) * 4 * s)
        info = struct.pack("<IiiHHIIiiII", 40, s, s * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append(info + xor + mask)
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    open(path, "wb").write(out + b"".join(images))


if __name__ == "__main__":
    import os
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, "portmeld.ico"), [16, 32, 48])
    write_bmp(os.path.join(here, "about.bmp"), 77, 60)
