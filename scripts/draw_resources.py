#!/usr/bin/env python3
"""Draws the kelm window's logo (src/ui/logo.bmp) and the application icon (src/ui/kelm.ico).

Standard library only, and deterministic: running it again gives the same bytes, so the images
in the tree can always be checked against it.

    python3 scripts/draw_resources.py [output folder, default src/ui]

The logo is 167 x 125 pixels, 8 bits per pixel with a 256-colour palette (the static control
shows it at its own size, which at 96 dpi is about its 111 x 77 dialog-unit frame). The icon is
32 x 32 pixels in 16 colours.
"""

import os
import struct
import sys

LOGO_W, LOGO_H = 167, 125
ICON_SIZE = 32

# 5 x 7 glyphs, one string per row, '#' set.
GLYPHS = {
    "k": ["#....", "#....", "#..#.", "#.#..", "##...", "#.#..", "#..#."],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "l": [".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "m": [".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    "f": ["..##.", ".#...", "####.", ".#...", ".#...", ".#...", ".#..."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "s": [".....", ".....", ".####", "#....", ".###.", "....#", "####."],
    "h": ["#....", "#....", "#.##.", "##..#", "#...#", "#...#", "#...#"],
}


def lerp(a, b, t):
    return int(round(a + (b - a) * t))


def ramp(start, end, count):
    return [tuple(lerp(s, e, i / (count - 1)) for s, e in zip(start, end)) for i in range(count)]


# Palette of the logo: 128 background shades, 64 greys for the chip, 64 golds for the letters.
BG, GREY, GOLD = 0, 128, 192
LOGO_PALETTE = (
    ramp((12, 18, 58), (46, 78, 150), 128)
    + ramp((28, 30, 36), (225, 228, 235), 64)
    + ramp((120, 72, 8), (255, 226, 120), 64)
)


def text_width(text, scale):
    return len(text) * 6 * scale - scale


def draw_text(put, text, left, top, scale, colour):
    """colour(row of the glyph, 0..6) gives the palette index of that row."""
    for n, ch in enumerate(text):
        glyph = GLYPHS[ch]
        for gy, row in enumerate(glyph):
            for gx, cell in enumerate(row):
                if cell != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        put(left + (n * 6 + gx) * scale + dx, top + gy * scale + dy, colour(gy))


def draw_logo():
    pixels = [[BG + y * 127 // (LOGO_H - 1) for _ in range(LOGO_W)] for y in range(LOGO_H)]

    def put(x, y, index):
        if 0 <= x < LOGO_W and 0 <= y < LOGO_H:
            pixels[y][x] = index

    def box(x0, y0, x1, y1, index):
        for y in range(y0, y1):
            for x in range(x0, x1):
                put(x, y, index)

    # "kelm", gold from dark at the foot to light at the top, on a one-pixel shadow.
    scale = 5
    left = (LOGO_W - text_width("kelm", scale)) // 2
    draw_text(put, "kelm", left + 2, 8, scale, lambda gy: BG + 2)
    draw_text(put, "kelm", left, 6, scale, lambda gy: GOLD + 63 - gy * 7)

    # The flash chip: a body with eight pins above and below and, on it, the 8 x 4 slot grid of
    # the window with slot 0 lit as the BIOS.
    cx0, cy0, cx1, cy1 = 22, 56, 145, 100
    for n in range(8):
        px = cx0 + 8 + n * 15
        box(px, cy0 - 5, px + 6, cy0, GREY + 50)
        box(px, cy1, px + 6, cy1 + 5, GREY + 50)
    box(cx0, cy0, cx1, cy1, GREY + 50)
    box(cx0 + 1, cy0 + 1, cx1 - 1, cy1 - 1, GREY + 6)
    for slot in range(32):
        row, column = divmod(slot, 8)
        x = cx0 + 6 + column * 14
        y = cy0 + 5 + row * 9
        box(x, y, x + 12, y + 7, GOLD + 50 if slot == 0 else GREY + 20 + row * 4)
    box(cx0 + 3, cy1 - 5, cx0 + 6, cy1 - 2, GREY + 40)  # pin 1 mark

    # "flash" under the chip.
    scale = 2
    draw_text(put, "flash", (LOGO_W - text_width("flash", scale)) // 2, 109, scale,
              lambda gy: GREY + 60)
    return pixels


def write_bmp(path, pixels, palette):
    height, width = len(pixels), len(pixels[0])
    stride = (width + 3) & ~3
    header_size = 14 + 40 + 4 * len(palette)
    image_size = stride * height
    out = bytearray()
    out += struct.pack("<2sIHHI", b"BM", header_size + image_size, 0, 0, header_size)
    out += struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, image_size, 2835, 2835,
                       len(palette), 0)
    for r, g, b in palette:
        out += bytes((b, g, r, 0))
    for row in reversed(pixels):
        out += bytes(row) + bytes(stride - width)
    with open(path, "wb") as f:
        f.write(out)


# The standard 16-colour palette.
ICON_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY_DARK, YELLOW, WHITE = 0, 4, 7, 8, 11, 15


def draw_icon():
    """Returns (colour indices, transparent flags), 32 rows of 32."""
    colour = [[BLACK] * ICON_SIZE for _ in range(ICON_SIZE)]
    clear = [[True] * ICON_SIZE for _ in range(ICON_SIZE)]

    def box(x0, y0, x1, y1, index):
        for y in range(y0, y1):
            for x in range(x0, x1):
                colour[y][x] = index
                clear[y][x] = False

    # A chip seen from above, pins left and right, a yellow "k" on it.
    for n in range(6):
        y = 5 + n * 4
        box(2, y, 6, y + 2, SILVER)
        box(26, y, 30, y + 2, SILVER)
    box(5, 3, 27, 29, GREY_DARK)
    box(6, 4, 26, 28, NAVY)
    box(7, 5, 9, 7, WHITE)  # pin 1 mark
    for gy, row in enumerate(GLYPHS["k"]):
        for gx, cell in enumerate(row):
            if cell == "#":
                box(11 + gx * 2, 9 + gy * 2, 13 + gx * 2, 11 + gy * 2, YELLOW)
    return colour, clear


def write_ico(path, colour, clear):
    size = len(colour)
    xor_stride = size // 2  # 4 bits per pixel; 16 bytes, already a multiple of 4
    and_stride = ((size + 31) // 32) * 4
    image = bytearray()
    image += struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (xor_stride + and_stride) * size, 0, 0, 16, 0)
    for r, g, b in ICON_PALETTE:
        image += bytes((b, g, r, 0))
    for row in reversed(colour):
        image += bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
    for row in reversed(clear):
        bits = 0
        for x, transparent in enumerate(row):
            if transparent:
                bits |= 1 << (and_stride * 8 - 1 - x)
        image += bits.to_bytes(and_stride, "big")
    out = bytearray()
    out += struct.pack("<HHH", 0, 1, 1)
    out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    out += image
    with open(path, "wb") as f:
        f.write(out)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui")
    write_bmp(os.path.join(folder, "logo.bmp"), draw_logo(), LOGO_PALETTE)
    write_ico(os.path.join(folder, "kelm.ico"), *draw_icon())


if __name__ == "__main__":
    main()
