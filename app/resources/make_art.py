#!/usr/bin/env python3
"""Draws the application icon and the About box picture (no image library
needed). Run once after changing the drawing; the outputs are committed."""
import math
import struct


def pixel(x, y, w, h):
    """The icon: a blue-grey plug with two gold pins on a light field."""
    cx, cy = x / w, y / h
    if 0.2 <= cx <= 0.8 and 0.35 <= cy <= 0.8:
        return (60, 80, 110)
    if (0.3 <= cx <= 0.4 or 0.6 <= cx <= 0.7) and 0.12 <= cy < 0.35:
        return (40, 180, 220)
    if 0.42 <= cx <= 0.58 and cy > 0.8:
        return (60, 80, 110)
    return (235, 240, 245)


SHELL = (62, 84, 116)
SHELL_EDGE = (150, 166, 188)
METAL = (196, 201, 208)
SLOT = (70, 74, 82)
CABLE = (44, 54, 72)
GOLD = (232, 182, 64)


def about_pixel(x, y):
    """The About picture at one point (77 x 60 units): a USB-to-serial
    adapter, its USB plug on the left, a cable, and a nine-pin connector."""
    # Nine-pin connector: a trapezoid shell with a light rim and gold pins.
    top, bottom = 17.0, 43.0
    if top <= y <= bottom:
        t = (y - top) / (bottom - top)
        left, right = 41.0 + 4.0 * t, 73.0 - 4.0 * t
        if left <= x <= right:
            for row_y, xs in ((25.0, (47.5, 52.5, 57.5, 62.5, 67.5)), (34.5, (50.0, 55.0, 60.0, 65.0))):
                if any((x - px) ** 2 + (y - row_y) ** 2 <= 2.6 for px in xs):
                    return GOLD
            inner = x - left > 2.0 and right - x > 2.0 and y - top > 2.0 and bottom - y > 2.0
            return SHELL if inner else SHELL_EDGE
    # USB plug: metal head with its two slots, then the moulded body.
    if 2.0 <= x <= 12.0 and 24.0 <= y <= 36.0:
        if 4.0 <= x <= 7.0 and (26.5 <= y <= 28.5 or 31.5 <= y <= 33.5):
            return SLOT
        return METAL
    if 12.0 < x <= 24.0 and 22.0 <= y <= 38.0:
        return SHELL
    # The cable between them, one gentle wave.
    if 24.0 < x < 41.0:
        middle = 30.0 + 5.0 * math.sin((x - 24.0) / 17.0 * 2.0 * math.pi)
        if abs(y - middle) <= 1.8:
            return CABLE
    # Background: a light field that darkens a little downwards.
    shade = int(14 * y / 60.0)
    return (242 - shade, 245 - shade, 249 - shade)


def about_rows(w, h, samples=3):
    """Bottom-up 24-bit rows of the About picture, each pixel the mean of
    samples x samples points so that edges are smooth."""
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            total = [0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    colour = about_pixel(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples)
                    for i in range(3):
                        total[i] += colour[i]
            r, g, b = (round(c / samples ** 2) for c in total)
            row += bytes((b, g, r))
        while len(row) % 4:
            row.append(0)
        rows.append(bytes(row))
    return b"".join(rows)


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
    data = about_rows(w, h)
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
