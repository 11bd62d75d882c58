#!/usr/bin/env python3
"""Draws the program's artwork and writes it as Windows resources (ICO and 24-bit BMP files).

The pictures are drawn here from simple shapes, supersampled for smooth edges, so the files in
shell/win32/res/ can be made again at any time:  python3 tools/make_art.py
"""
import math
import os
import struct
import subprocess

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

    def ellipse(self, cx, cy, rx, ry, color):
        self.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1, color)

    def mask(self, x0, y0, coverage, color):
        """Lays `color` over the canvas through a grayscale mask given at supersampled
        resolution (rows of 0..255), with its top-left corner at pixel (x0, y0)."""
        ox, oy = round(x0 * SS), round(y0 * SS)
        cr, cg, cb, ca = color
        for j, line in enumerate(coverage):
            y = oy + j
            if not 0 <= y < self.h * SS:
                continue
            row = self.px[y]
            for i, m in enumerate(line):
                x = ox + i
                if m == 0 or not 0 <= x < self.w * SS:
                    continue
                a = m * ca // 255
                r, g, b, old = row[x]
                out = a + old * (255 - a) // 255
                if out == 0:
                    continue
                keep = old * (255 - a) // 255
                row[x] = ((cr * a + r * keep) // out, (cg * a + g * keep) // out,
                          (cb * a + b * keep) // out, out)

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


TEAL = rgba("#1E5A73")
PINS = rgba("#BFD7E0")
AMBER = rgba("#E39B2B")
WHITE = rgba("#FFFFFF")
SLATE = rgba("#2B3A48")
SLATE_LIGHT = rgba("#556575")


def paint_emblem(c, x0, y0, t):
    """A dark teal tile holding a white chip with pins, and an amber check mark on it.

    The tile is t pixels square with its top-left corner at (x0, y0); the design is laid out on
    a 30-unit grid, and the straight edges (chip, pins) are snapped to whole pixels and kept
    symmetric so they stay crisp at every size."""
    u = t / 30.0
    c.rounded_rect(x0, y0, x0 + t, y0 + t, 6 * u, TEAL)
    lead = round(4 * u)   # how far the pins stand in from the tile's edge
    inset = round(7 * u)  # how far the chip stands in
    w = max(1, round(2 * u))  # pin width
    starts = []               # pin positions from the tile's edge: two, and their mirror images
    for k in (1.5, 0.5):
        a = round(t / 2.0 - k * 4.3 * u - w / 2.0)
        starts += [a, t - a - w]
    for a in starts:
        c.rect(x0 + a, y0 + lead, x0 + a + w, y0 + t - lead, PINS)
        c.rect(x0 + lead, y0 + a, x0 + t - lead, y0 + a + w, PINS)
    c.rounded_rect(x0 + inset, y0 + inset, x0 + t - inset, y0 + t - inset, 2.5 * u, WHITE)
    check = [(11, 16.5), (13.5, 14), (15.5, 16), (20.5, 11), (23, 13.5), (15.5, 21)]
    c.polygon([(x0 + (x - 1) * u, y0 + (y - 1) * u) for x, y in check], AMBER)


def draw_icon(size):
    """The program icon: the emblem with a small margin all round (none at 16 px, where every
    pixel counts)."""
    c = Canvas(size, size)
    margin = {16: 0, 32: 1, 48: 1}.get(size, round(size / 32.0))
    paint_emblem(c, margin, margin, size - 2 * margin)
    return c


def draw_header_emblem():
    """The emblem for the white band at the top of the main window: 57 x 49, tile centred."""
    c = Canvas(57, 49)
    paint_emblem(c, 5, 1, 47)
    return c


FONT_DIRS = ["/usr/share/fonts/truetype/dejavu", "/usr/share/wine/fonts"]
CONVERT = "/usr/bin/convert"  # ImageMagick, used for nothing but turning text into a mask


def find_font(*names):
    for name in names:
        for d in FONT_DIRS:
            path = os.path.join(d, name)
            if os.path.exists(path):
                return path
    raise SystemExit("no usable font among: " + ", ".join(names))


def text_mask(text, font, em):
    """The text drawn white on black at SS times the size, em pixels per em (final pixels).

    Returns (rows, advance, baseline): supersampled coverage rows, the pen advance and the
    baseline's row, both in supersampled pixels."""
    pt = "%.2f" % (em * SS)
    pad = int(em * SS)  # room at the left for letters that reach back past the pen
    height = int(em * SS * 1.5)
    baseline = int(em * SS * 1.1)
    width = int(em * SS * (len(text) + 2))
    cmd = [CONVERT, "-density", "72", "-size", "%dx%d" % (width, height), "xc:black",
           "-font", font, "-pointsize", pt, "-fill", "white",
           "-annotate", "+%d+%d" % (pad, baseline), text, "-depth", "8", "gray:-"]
    raw = subprocess.run(cmd, check=True, stdout=subprocess.PIPE).stdout
    rows = [list(raw[y * width:(y + 1) * width]) for y in range(height)]
    rows = [r[pad:] for r in rows]  # column 0 is now where the pen started
    metrics = subprocess.run([CONVERT, "-debug", "annotate", "xc:", "-density", "72",
                              "-font", font, "-pointsize", pt, "-annotate", "0", text,
                              "null:"], check=True, stderr=subprocess.PIPE,
                             stdout=subprocess.DEVNULL).stderr.decode("utf-8", "replace")
    advance = float(metrics.split("width: ")[1].split(";")[0])
    return rows, advance, baseline


def ink_top(rows):
    for y, r in enumerate(rows):
        if any(r):
            return y
    return len(rows)


def draw_maker():
    """The maker's name, "Corvane Software", as a small word mark on white: 280 x 19, a little
    emblem at the left, the name in dark slate with "Corvane" in bold. The About window shows
    the picture at its own size in a box 154 pixels wide, so the mark keeps within the first
    152 columns and the rest stays white."""
    c = Canvas(280, 19)
    paint_emblem(c, 0, 1, 17)
    bold = find_font("DejaVuSans-Bold.ttf", "tahomabd.ttf")
    regular = find_font("DejaVuSans.ttf", "tahoma.ttf")
    words = (("Corvane", bold, SLATE, 0.3), ("Software", regular, SLATE_LIGHT, 0))
    # the size at which the tallest letter (the f of Software) reaches from row 2 to the
    # baseline at row 17, made smaller where the words would run past column 152
    top_px, base_px = 2, 17
    probe, _, probe_base = text_mask("Software", regular, 20)
    tall = (probe_base - ink_top(probe)) / SS / 20.0  # ascender height per pixel of em
    em = (base_px - top_px) / tall
    x0, right = 21, 152
    width = sum(text_mask(w, f, em)[1] / SS + g * em for w, f, _, g in words)
    em = min(em, em * (right - x0) / width)
    x = x0
    for word, font, color, gap in words:
        rows, advance, base = text_mask(word, font, em)
        c.mask(x, base_px - base / SS, rows, color)
        x += advance / SS + gap * em
    return c


def paint_facebook_like(c, cx, cy, r):
    """A blue disc with a white lower-case f made of a stem, a hooked top and a cross bar."""
    c.circle(cx, cy, r, rgba("#3B5CA8"))
    u = r / 15.0

    def X(v):
        return cx + (v - 16) * u

    def Y(v):
        return cy + (v - 16) * u
    # the f on a 32-unit grid centred at (16, 16): stem from x 13 to 17, top of the hook at 5
    c.rect(X(13), Y(12.5), X(17), Y(25.5), WHITE)
    hook_cx, hook_cy = X(20.5), Y(12.5)
    ro, ri = 7.5 * u, 3.5 * u
    c.fill(lambda x, y: x <= hook_cx and y <= hook_cy and
           ri * ri <= (x - hook_cx) ** 2 + (y - hook_cy) ** 2 <= ro * ro, WHITE)
    c.rect(hook_cx, Y(5), X(22.5), Y(9), WHITE)
    c.rect(X(10), Y(13), X(21), Y(16.5), WHITE)


def paint_twitter_like(c, cx, cy, r):
    """A light blue disc with a small white bird: round body, round head, a pointed beak, a
    raised wing and a forked tail."""
    c.circle(cx, cy, r, rgba("#33A6E8"))
    u = r / 15.0

    def P(x, y):
        return (cx + (x - 16) * u, cy + (y - 16) * u)
    c.ellipse(*P(15, 18.5), 6.5 * u, 5 * u, WHITE)                  # body
    c.circle(*P(20.5, 13), 3.3 * u, WHITE)                          # head
    c.polygon([P(22.5, 11.2), P(26.5, 12.8), P(22.8, 14.6)], WHITE)  # beak
    c.polygon([P(10, 17), P(5.5, 13.5), P(7.5, 19), P(5.5, 23.5), P(11, 20.5)], WHITE)  # tail
    c.polygon([P(11, 17), P(10.5, 8.5), P(18, 16)], WHITE)          # wing
    c.circle(*P(21.3, 12.4), 0.9 * u, rgba("#33A6E8"))               # eye


def social(painter, w, h):
    c = Canvas(w, h)
    painter(c, w / 2.0, h / 2.0, min(w, h) / 2.0 - 1)
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
    """A 24-bit bottom-up BMP (BI_RGB) with the picture blended over `background`, the kind
    LoadImage and LoadBitmap take from a resource without fuss."""
    px = canvas.pixels()
    br, bg, bb = background
    stride = (canvas.w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(px):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes(((b * a + bb * (255 - a) + 127) // 255,
                           (g * a + bg * (255 - a) + 127) // 255,
                           (r * a + br * (255 - a) + 127) // 255))
        line += bytes(stride - len(line))
        data += line
    header = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0, len(data), 2835, 2835,
                         0, 0)
    filehead = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    with open(path, "wb") as f:
        f.write(filehead + header + bytes(data))


WHITE_BG = (255, 255, 255)
BUTTON_FACE = (240, 240, 240)  # COLOR_BTNFACE on a default Windows theme


def main():
    os.makedirs(OUT, exist_ok=True)
    write_ico(os.path.join(OUT, "tolvessa.ico"), [draw_icon(n) for n in (16, 32, 48)])
    write_bmp(os.path.join(OUT, "emblem.bmp"), draw_header_emblem(), WHITE_BG)
    write_bmp(os.path.join(OUT, "maker.bmp"), draw_maker(), WHITE_BG)
    # 39 x 34 for the main window's header (white), 32 x 32 for the About window
    for name, painter in (("facebook", paint_facebook_like), ("twitter", paint_twitter_like)):
        write_bmp(os.path.join(OUT, name + "_39x34.bmp"), social(painter, 39, 34), WHITE_BG)
        write_bmp(os.path.join(OUT, name + "_32.bmp"), social(painter, 32, 32), BUTTON_FACE)


if __name__ == "__main__":
    main()
