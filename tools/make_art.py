#!/usr/bin/env python3
"""Draws the program's artwork and writes it as Windows resources (ICO and 32-bit BMP files).

The pictures are drawn here from simple shapes, supersampled for smooth edges, so the files in
shell/win32/res/ can be made again at any time:  python3 tools/make_art.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "shell", "win32", "res")
SS = 4  # supersampling factor


def rgba(hexcolor, alpha=255):
    hexcolor = hexcolor.lstrip("#")
    return (int(hexcolor[0:2], 16), int(hexcolor[2:4], 16), int(hexcolor[4:6], 16), alpha)


class Canvas:
    def __init__(self, w, h, background=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[background for _ in range(w * SS)] for _ in range(h * SS)]

    def fill(self, inside, color):
        for y in range(self.h * SS):
            fy = (y + 0.5) / SS
            row = self.px[y]
            for x in range(self.w * SS):
                if inside((x + 0.5) / SS, fy):
                    row[x] = color

    def rounded_rect(self, x0, y0, x1, y1, r, color):
        def inside(x, y):
            if not (x0 <= x <= x1 and y0 <= y <= y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.fill(inside, color)

    def rect(self, x0, y0, x1, y1, color):
        self.fill(lambda x, y: x0 <= x <= x1 and y0 <= y <= y1, color)

    def circle(self, cx, cy, r, color):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, color)

    def ring(self, cx, cy, r0, r1, color):
        self.fill(lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1, color)

    def polygon(self, points, color):
        def inside(x, y):
            n, c = len(points), False
            j = n - 1
            for i in range(n):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c
        self.fill(inside, color)

    def pixels(self):
        """Downsampled RGBA rows, top to bottom."""
        out = []
        for y in range(self.h):
            row = []
            for x in range(self.w):
                acc = [0, 0, 0, 0]
                for sy in range(SS):
                    for sx in range(SS):
                        r, g, b, a = self.px[y * SS + sy][x * SS + sx]
                        acc[0] += r * a
                        acc[1] += g * a
                        acc[2] += b * a
                        acc[3] += a
                a = acc[3]
                if a == 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append((acc[0] // a, acc[1] // a, acc[2] // a, a // (SS * SS)))
            out.append(row)
        return out


def draw_emblem(size):
    """A dark teal tile holding a white chip with pins, and an amber check mark on it."""
    c = Canvas(size, size)
    s = size / 32.0
    c.rounded_rect(1 * s, 1 * s, 31 * s, 31 * s, 6 * s, rgba("#1E5A73"))
    for i in range(4):
        p = (9.5 + i * 4.3) * s
        c.rect(p, 5 * s, p + 2 * s, 27 * s, rgba("#BFD7E0"))
        c.rect(5 * s, p, 27 * s, p + 2 * s, rgba("#BFD7E0"))
    c.rounded_rect(8 * s, 8 * s, 24 * s, 24 * s, 2.5 * s, rgba("#FFFFFF"))
    c.polygon([(11 * s, 16.5 * s), (13.5 * s, 14 * s), (15.5 * s, 16 * s), (20.5 * s, 11 * s),
               (23 * s, 13.5 * s), (15.5 * s, 21 * s)], rgba("#E39B2B"))
    return c


def bmp_rows_bgra(pixels):
    return b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)


def write_ico(path, canvases):
    images = []
    for c in canvases:
        px = c.pixels()
        xor = bmp_rows_bgra(px)
        mask_stride = ((c.w + 31) // 32) * 4
        mask = bytearray(mask_stride * c.h)  # alpha decides; the AND mask stays clear
        header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(xor) + len(mask),
                             0, 0, 0, 0)
        images.append((c.w, c.h, header + xor + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, data in images:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def write_bmp(path, canvas, background):
    """A 32-bit top-down-stored BMP with the picture blended over `background`."""
    px = canvas.pixels()
    br, bg, bb = background
    flat = [[(r * a + br * (255 - a)) // 255, (g * a + bg * (255 - a)) // 255,
             (b * a + bb * (255 - a)) // 255, 255] for row in px for (r, g, b, a) in row]
    rows = [flat[y * canvas.w:(y + 1) * canvas.w] for y in range(canvas.h)]
    data = b"".join(bytes((b, g, r, 255)) for row in reversed(rows) for (r, g, b, _) in row)
    header = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 32, 0, len(data), 2835, 2835,
                         0, 0)
    filehead = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    with open(path, "wb") as f:
        f.write(filehead + header + data)


def main():
    os.makedirs(OUT, exist_ok=True)
    write_ico(os.path.join(OUT, "tolvessa.ico"), [draw_emblem(n) for n in (16, 32, 48)])


if __name__ == "__main__":
    main()
