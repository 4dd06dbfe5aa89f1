#!/usr/bin/env python3
"""Draws the updater's embedded images into res/.

The images are committed; run this only to change them:  python3 tools/draw_images.py [outdir]

Nothing beyond the Python standard library is used, so the PNG, BMP and ICO containers are
written here directly. Shapes are described as coverage functions over the unit square and
supersampled, which keeps the small icon sizes smooth without an imaging library.
"""

import math
import os
import struct
import sys
import zlib

# --- colours and shapes --------------------------------------------------------------------

LOGO_TOP = (231, 76, 60)        # warm red, the reader's colour
LOGO_BOTTOM = (176, 38, 28)
PAGE = (255, 255, 255)
PAGE_LINES = (214, 214, 214)
FOLD = (226, 226, 226)
ARROW_RING = (255, 255, 255)
ARROW_DISC = (39, 174, 96)      # green: "something new is coming up"
ARROW = (255, 255, 255)
INFO_BLUE_TOP = (52, 152, 219)
INFO_BLUE_BOTTOM = (31, 97, 171)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def rounded_rect(x, y, x0, y0, x1, y1, r):
    """True when (x, y) lies inside the rectangle with corners rounded by r."""
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_polygon(x, y, pts):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def mix(a, b, t):
    return tuple(a[k] + (b[k] - a[k]) * t for k in range(3))


def logo_sample(x, y):
    """Colour and alpha of the updater icon at a point of the unit square."""
    # Rounded tile with a vertical gradient.
    if not rounded_rect(x, y, 0.04, 0.04, 0.96, 0.96, 0.18):
        return None
    colour = mix(LOGO_TOP, LOGO_BOTTOM, clamp01((y - 0.04) / 0.92))
    # A white page with a folded corner, slightly left of centre.
    page = [(0.20, 0.16), (0.56, 0.16), (0.70, 0.30), (0.70, 0.84), (0.20, 0.84)]
    if in_polygon(x, y, page):
        colour = PAGE
        if in_polygon(x, y, [(0.56, 0.16), (0.70, 0.30), (0.56, 0.30)]):
            colour = FOLD
        for ly in (0.40, 0.50, 0.60):
            if 0.28 <= x <= 0.56 and abs(y - ly) <= 0.025:
                colour = PAGE_LINES
    # The upward arrow on a green disc in the lower right corner.
    dx, dy = x - 0.70, y - 0.70
    d = math.hypot(dx, dy)
    if d <= 0.25:
        colour = ARROW_RING
    if d <= 0.215:
        colour = ARROW_DISC
        arrow = [(0.70, 0.53), (0.83, 0.68), (0.75, 0.68), (0.75, 0.85), (0.65, 0.85),
                 (0.65, 0.68), (0.57, 0.68)]
        if in_polygon(x, y, arrow):
            colour = ARROW
    return colour


def info_sample(x, y):
    """A white letter i on a blue square."""
    if not rounded_rect(x, y, 0.03, 0.03, 0.97, 0.97, 0.16):
        return None
    colour = mix(INFO_BLUE_TOP, INFO_BLUE_BOTTOM, clamp01(y))
    if math.hypot(x - 0.5, y - 0.25) <= 0.09:
        return (255, 255, 255)
    if rounded_rect(x, y, 0.42, 0.40, 0.58, 0.82, 0.05):
        return (255, 255, 255)
    if rounded_rect(x, y, 0.34, 0.40, 0.58, 0.48, 0.03):
        return (255, 255, 255)
    if rounded_rect(x, y, 0.34, 0.75, 0.66, 0.82, 0.03):
        return (255, 255, 255)
    return colour


def render(sample, size, grid=4):
    """Supersamples a shape into rows of (r, g, b, a) bytes, premultiplication undone."""
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(grid):
                for sx in range(grid):
                    c = sample((px + (sx + 0.5) / grid) / size, (py + (sy + 0.5) / grid) / size)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            acc[k] += c[k]
            if hits:
                row += bytes(int(round(acc[k] / hits)) for k in range(3))
                row.append(int(round(255 * hits / (grid * grid))))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


# --- a small bitmap font for the banner ----------------------------------------------------

GLYPHS = {
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001"],
    "d": ["00001", "00001", "01101", "10011", "10001", "10001", "01111"],
    "r": ["00000", "00000", "10110", "11001", "10000", "10000", "10000"],
    "o": ["00000", "00000", "01110", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "p": ["00000", "11110", "10001", "10001", "11110", "10000", "10000"],
    "t": ["01000", "01000", "11100", "01000", "01000", "01001", "00110"],
    " ": ["00000"] * 7,
}


def text_sample(text, x0, y0, cell):
    """Returns a point test for the text drawn from (x0, y0) with square dots of size cell."""
    advance = 6 * cell

    def inside(x, y):
        if y < y0 or y >= y0 + 7 * cell or x < x0:
            return False
        index = int((x - x0) // advance)
        if index >= len(text):
            return False
        col = int((x - x0 - index * advance) // cell)
        row = int((y - y0) // cell)
        if col > 4:
            return False
        return GLYPHS[text[index]][row][col] == "1"

    return inside


def banner_rows(width=677, height=51):
    """Rows of (r, g, b) for the title banner: logo, product name, a coloured bar."""
    title = text_sample("Zandro Reader", 62.0, 9.5, 4.6)
    subtitle = text_sample("Update", 500.0, 22.0, 2.6)
    grid = 3
    rows = []
    for py in range(height):
        row = bytearray()
        for px in range(width):
            acc = [0.0, 0.0, 0.0]
            for sy in range(grid):
                for sx in range(grid):
                    x = px + (sx + 0.5) / grid
                    y = py + (sy + 0.5) / grid
                    colour = mix(LOGO_TOP, LOGO_BOTTOM, y / height)
                    colour = mix(colour, (120, 20, 14), clamp01((x - 380) / 300) * 0.6)
                    if y >= height - 3:
                        colour = ARROW_DISC
                    if title(x, y) or subtitle(x, y):
                        colour = (255, 255, 255)
                    # The product logo at the left end, on a white disc.
                    lx, ly = (x - 8) / 42.0, (y - 4.5) / 42.0
                    if 0 <= lx <= 1 and 0 <= ly <= 1:
                        c = logo_sample(lx, ly)
                        if c is not None:
                            colour = c
                    for k in range(3):
                        acc[k] += colour[k]
            row += bytes(int(round(a / (grid * grid))) for a in acc)
        rows.append(bytes(row))
    return rows


# --- containers ----------------------------------------------------------------------------

def png_bytes(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + r for r in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def padded(row):
    return row + b"\0" * ((4 - len(row) % 4) % 4)


def bmp_file(rows, width, height):
    """A 24-bit bottom-up BMP."""
    pixels = b"".join(padded(bytes(b for i in range(0, len(r), 3) for b in (r[i + 2], r[i + 1], r[i])))
                      for r in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


def palette_256():
    """A fixed palette: the 6x6x6 colour cube, then a grey ramp."""
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(int(i * 255 / 39),) * 3 for i in range(40)]
    return colours


def nearest(palette, c):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - c[0]) ** 2 + (p[1] - c[1]) ** 2 + (p[2] - c[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def ico_image(rows, size, bpp, palette):
    """One icon image in the classic DIB form: header, colours, XOR bitmap, AND mask."""
    colours = b""
    xor = []
    for r in reversed(rows):
        pixels = [r[i:i + 4] for i in range(0, len(r), 4)]
        if bpp == 32:
            line = b"".join(bytes((p[2], p[1], p[0], p[3])) for p in pixels)
        elif bpp == 24:
            line = b"".join(bytes((p[2], p[1], p[0])) if p[3] >= 128 else b"\0\0\0" for p in pixels)
        else:
            line = bytes(nearest(palette, p[:3]) if p[3] >= 128 else 0 for p in pixels)
        xor.append(padded(line))
    if bpp == 8:
        colours = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    mask = []
    for r in reversed(rows):
        bits = bytearray((size + 7) // 8)
        for x in range(size):
            if r[4 * x + 3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask.append(padded(bytes(bits)))
    body = b"".join(xor) + b"".join(mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(body), 0, 0,
                         256 if bpp == 8 else 0, 0)
    return header + colours + body


def ico_file(images):
    """images: list of (size, bpp, data)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    blobs = b""
    for size, bpp, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
        blobs += data
    return out + entries + blobs


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "res")
    os.makedirs(outdir, exist_ok=True)

    def write(name, data):
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)

    logos = {}
    for size in (16, 20, 24, 32, 48, 64, 128, 256):
        logos[size] = render(logo_sample, size)
        write("ZandroReaderUpgrade-%dx%d.png" % (size, size), png_bytes(logos[size], size))

    palette = palette_256()
    images = []
    for size in (16, 24, 32, 48, 128):
        for bpp in (8, 24, 32):
            images.append((size, bpp, ico_image(logos[size], size, bpp, palette)))
    write("ZandroReaderUpgrade.ico", ico_file(images))

    write("tana_32.png", png_bytes(render(info_sample, 32), 32))
    write("updatebaner_de_de.bmp", bmp_file(banner_rows(), 677, 51))


if __name__ == "__main__":
    main()
