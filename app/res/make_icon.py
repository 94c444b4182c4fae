#!/usr/bin/env python3
"""Draws the program's icon (a database drum with a "run" arrow) and writes Brimvale.ico.

The picture is described with a few shapes in a unit square and rasterised with 4x4
supersampling at each icon size, so every size is drawn, not scaled. Run it again after
changing the drawing and commit the .ico it writes next to this script.
"""
import os
import struct

SIZES = (16, 24, 32, 48)
SUB = 4  # supersamples per axis


def ellipse(cx, cy, rx, ry, grow=0.0):
    return lambda x, y: ((x - cx) / (rx + grow)) ** 2 + ((y - cy) / (ry + grow)) ** 2 <= 1.0


def rect(x0, y0, x1, y1, grow=0.0):
    return lambda x, y: x0 - grow <= x <= x1 + grow and y0 - grow <= y <= y1 + grow


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def triangle(a, b, c, grow=0.0):
    def edge(p, q, x, y):
        # Signed distance from the line p->q (positive inside for a clockwise triangle).
        ex, ey = q[0] - p[0], q[1] - p[1]
        length = (ex * ex + ey * ey) ** 0.5
        return ((x - p[0]) * ey - (y - p[1]) * ex) / length

    sign = 1.0 if edge(a, b, c[0], c[1]) > 0 else -1.0
    return lambda x, y: all(sign * edge(p, q, x, y) >= -grow for p, q in ((a, b), (b, c), (c, a)))


def drum(grow):
    cx, rx, ry, top, bottom = 0.42, 0.32, 0.10, 0.20, 0.76
    return union(ellipse(cx, top, rx, ry, grow), rect(cx - rx, top, cx + rx, bottom, grow),
                 ellipse(cx, bottom, rx, ry, grow))


def layers(px):
    """(shape, colour) pairs from back to front; px is one pixel in unit coordinates."""
    line = max(px, 0.03)
    cx, rx, ry = 0.42, 0.32, 0.10
    arrow = ((0.58, 0.50), (0.58, 0.96), (0.98, 0.73))
    return [
        (drum(line), (24, 48, 92)),                         # outline
        (drum(0.0), (62, 120, 196)),                        # body
        (rect(cx - rx, 0.20, cx - rx + 0.12, 0.76), (98, 156, 224)),  # highlight at the left
        (lambda x, y: ellipse(cx, 0.42, rx, ry)(x, y) and not ellipse(cx, 0.42 - line, rx, ry)(x, y)
         and y > 0.42, (24, 48, 92)),                       # band
        (lambda x, y: ellipse(cx, 0.60, rx, ry)(x, y) and not ellipse(cx, 0.60 - line, rx, ry)(x, y)
         and y > 0.60, (24, 48, 92)),                       # band
        (ellipse(cx, 0.20, rx - line, ry - line * 0.6), (170, 206, 244)),  # lid
        (triangle(*arrow, grow=line), (120, 60, 0)),        # arrow outline
        (triangle(*arrow), (250, 160, 30)),                 # arrow
    ]


def render(size):
    px = 1.0 / size
    shapes = layers(px)
    pixels = []
    for row in range(size):
        out_row = []
        for col in range(size):
            r = g = b = a = 0.0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = (col + (sx + 0.5) / SUB) * px
                    y = (row + (sy + 0.5) / SUB) * px
                    colour = None
                    for shape, c in shapes:
                        if shape(x, y):
                            colour = c
                    if colour:
                        r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            n = SUB * SUB
            if a:
                out_row.append((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
            else:
                out_row.append((0, 0, 0, 0))
        pixels.append(out_row)
    return pixels


def dib(size, pixels):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(struct.pack("<BBBB", b, g, r, a)
                      for row in reversed(pixels) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(stride)
        for col, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bits
    return header + colour + bytes(mask)


def main():
    images = [dib(s, render(s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Brimvale.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
