#!/usr/bin/env python3
"""Draws Numbrel's pointer images and icon. The outputs are committed; run this again after a change.

HAND-M.CUR  the hand shown over push buttons (hot spot at the tip of the index finger)
drag.ico    the pointer shown while a row of the file list is dragged
numbrel.png the program's icon (64 x 64, compiled into the window)
icons/      the same icon in the sizes a desktop asks for, and numbrel.svg to scale
"""
import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent

# '#' black outline, '.' white fill, ' ' transparent. 32 x 32.
HAND = """
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
  ## #..#..#..#.#
 #..##........#.#
 #...#..........#
  #..#..........#
  #.............#
   #............#
   #...........#
    #..........#
    #.........#
     #........#
     #........#
     ##########
"""

DRAG = """
#
##
#.#
#..#
#...#
#....#
#.....#
#......#
#.......#
#........#
#.....#####
#..#..#
#.# #..#
##  #..#
#    #..#
     #..#    ##########
      ##     #........#
             #.######.#
             #.#    #.#
             #.######.#
             #........#
             #.######.#
             #.#    #.#
             #.######.#
             #........#
             ##########
"""


def grid(art, size=32):
    rows = art.strip("\n").split("\n")
    pixels = []
    for y in range(size):
        row = rows[y] if y < len(rows) else ""
        line = []
        for x in range(size):
            c = row[x] if x < len(row) else " "
            line.append({"#": (0, 0, 0, 255), ".": (255, 255, 255, 255)}.get(c, (0, 0, 0, 0)))
        pixels.append(line)
    return pixels


def icon_file(pixels, kind, hot=(0, 0)):
    """An .ico (kind 1) or .cur (kind 2) holding one 32-bit image with its AND mask."""
    size = len(pixels)
    xor = b"".join(struct.pack("<4B", b, g, r, a) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_rows = []
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        mask_rows.append(struct.pack(">I", bits))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask_rows) * 4, 0, 0, 0, 0)
    image = header + xor + b"".join(mask_rows)
    planes_or_x, bits_or_y = (1, 32) if kind == 1 else hot
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, planes_or_x, bits_or_y, len(image), 6 + 16)
    return struct.pack("<HHH", 0, kind, 1) + entry + image


def png(width, height, rgba_rows):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rgba_rows)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def app_icon_pixels(size=64):
    """A white page with a folded corner and a blue page number near its foot."""
    digit = ["###", "  #", "###", "#  ", "###"]  # a "2"
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            inside = 10 <= x < 54 and 4 <= y < 60 and not (x - 40 > y - 4 + 0 and y < 18)
            edge = inside and (x in (10, 53) or y in (4, 59) or (x - 40 == y - 4 and y < 18))
            px = (255, 255, 255, 255) if inside else (0, 0, 0, 0)
            if edge:
                px = (60, 60, 60, 255)
            if inside and 16 <= x < 48 and y in (14, 20, 26, 32) and not edge:
                px = (170, 170, 170, 255)
            dx, dy = (x - 26) // 4, (y - 38) // 4
            if 0 <= dx < 3 and 0 <= dy < 5 and x >= 26 and y >= 38 and digit[dy][dx] == "#":
                px = (30, 90, 200, 255)
            row.append(px)
        rows.append(row)
    return rows


def app_icon():
    return png(64, 64, app_icon_pixels())


def resized(rows, size):
    """The 64-pixel drawing at another size: each pixel the area average of what it covers (alpha
    weighted), so small sizes stay smooth and large ones keep the drawing's crisp pixels."""
    src = len(rows)
    out = []
    for y in range(size):
        line = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            y0, y1, x0, x1 = y * src / size, (y + 1) * src / size, x * src / size, (x + 1) * src / size
            for sy in range(int(y0), min(src, int(-(-y1 // 1)))):
                wy = min(y1, sy + 1) - max(y0, sy)
                for sx in range(int(x0), min(src, int(-(-x1 // 1)))):
                    w = wy * (min(x1, sx + 1) - max(x0, sx))
                    r, g, b, a = rows[sy][sx]
                    acc[0] += r * a * w
                    acc[1] += g * a * w
                    acc[2] += b * a * w
                    acc[3] += a * w
            area = (src / size) ** 2
            alpha = acc[3] / area
            px = (0, 0, 0, 0) if acc[3] == 0 else tuple(round(c / acc[3]) for c in acc[:3]) + (round(alpha),)
            line.append(px)
        out.append(line)
    return out


def app_icon_svg():
    digit = ["###", "  #", "###", "#  ", "###"]
    blocks = "".join(f'<rect x="{26 + 4 * dx}" y="{38 + 4 * dy}" width="4" height="4"/>'
                     for dy in range(5) for dx in range(3) if digit[dy][dx] == "#")
    lines = "".join(f'<rect x="16" y="{y}" width="32" height="1"/>' for y in (14, 20, 26, 32))
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">\n'
            '<path d="M10.5 4.5H40.5L53.5 17.5V59.5H10.5Z" fill="#fff" stroke="#3c3c3c"/>\n'
            f'<g fill="#aaa">{lines}</g>\n<g fill="#1e5ac8">{blocks}</g>\n</svg>\n')


(HERE / "HAND-M.CUR").write_bytes(icon_file(grid(HAND), 2, hot=(6, 0)))
(HERE / "drag.ico").write_bytes(icon_file(grid(DRAG), 1))
(HERE / "numbrel.png").write_bytes(app_icon())
(HERE / "icons").mkdir(exist_ok=True)
for size in (16, 22, 24, 32, 48, 64, 128, 256):
    (HERE / "icons" / f"numbrel-{size}.png").write_bytes(png(size, size, resized(app_icon_pixels(), size)))
(HERE / "icons" / "numbrel.svg").write_text(app_icon_svg())
