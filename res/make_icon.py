#!/usr/bin/env python3
"""Writes zantrel.ico: a 32x32 and a 16x16 image, 16 colours each (a merge sign:
two stacked sheets and an arrow). Run once; the result is committed."""
import struct
import sys

PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
           (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
           (255, 0, 255), (0, 255, 255), (255, 255, 255)]
WHITE, GREY, BLUE, NAVY, RED = 15, 8, 12, 4, 9


def picture(n):
    px = [[None] * n for _ in range(n)]  # None: transparent
    s = n / 32
    def rect(x0, y0, x1, y1, c, border=None):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                edge = y in (int(y0 * s), int(y1 * s) - 1) or x in (int(x0 * s), int(x1 * s) - 1)
                px[y][x] = border if (border is not None and edge) else c
    rect(2, 2, 20, 22, WHITE, GREY)
    rect(6, 6, 24, 26, WHITE, NAVY)
    for y in range(10, 22, 4):
        rect(9, y, 21, y + 2, BLUE)
    rect(22, 12, 30, 16, RED)
    rect(26, 8, 28, 20, RED)
    return px


def image(n):
    px = picture(n)
    header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = b""
    for row in reversed(px):
        line = bytearray()
        for x in range(0, n, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            line.append((hi << 4) | lo)
        while len(line) % 4:
            line.append(0)
        xor += bytes(line)
    mask = b""
    for row in reversed(px):
        bits = bytearray((n + 31) // 32 * 4)
        for x, c in enumerate(row):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + palette + xor + mask


def main(path):
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "zantrel.ico")
