#!/usr/bin/env python3
"""Draws KOV's pictures: the two 32 x 32, 256-colour icons and the 318 x 99,
32-bit About logo. The motif is the chart itself: a yellow bitrate curve over
a grey grid with its red average line, and the letters KOV.

    make_art.py [OUTPUT_DIR]      (default: the directory of this script)

Needs python3 with PIL (Debian: python3-pil). The output is deterministic, so
the committed files change only when this script does. The .ico and .bmp files
are written by hand rather than by PIL so that their formats are exactly the
classic ones the resource compiler and every Windows version read: an ICO entry
as a 256-colour DIB with its AND mask, the logo as a bottom-up BI_RGB DIB.
"""
import math
import os
import struct
import sys

from PIL import Image, ImageDraw

BACKGROUND = (74, 74, 74)
GRID = (85, 85, 85)
FRAME = (140, 140, 140)
WHITE = (255, 255, 255)
YELLOW = (255, 255, 0)
RED = (255, 0, 0)
SHADOW = (40, 40, 40)

# A 4 x 5 pixel font for the three letters we need.
GLYPHS = {
    "K": ["X..X",
          "X.X.",
          "XX..",
          "X.X.",
          "X..X"],
    "O": [".XX.",
          "X..X",
          "X..X",
          "X..X",
          ".XX."],
    "V": ["X..X",
          "X..X",
          "X..X",
          ".XX.",
          ".XX."],
}


def draw_text(draw, text, left, top, scale, colour, shadow=None):
    """Draws text in the pixel font, each font pixel a scale x scale block."""
    for offset, colour_now in ((1, shadow), (0, colour)):
        if colour_now is None:
            continue
        x = left + offset * max(1, scale // 4)
        for letter in text:
            for row, line in enumerate(GLYPHS[letter]):
                for column, cell in enumerate(line):
                    if cell == "X":
                        x0 = x + column * scale
                        y0 = top + offset * max(1, scale // 4) + row * scale
                        draw.rectangle([x0, y0, x0 + scale - 1, y0 + scale - 1], fill=colour_now)
            x += 5 * scale


def bitrate_curve(count, seed_phase):
    """A varying bitrate in 0..1: slow swell plus faster wobble."""
    values = []
    for i in range(count):
        t = i / max(1, count - 1)
        v = 0.45 + 0.25 * math.sin(2 * math.pi * (1.3 * t + seed_phase)) \
            + 0.15 * math.sin(2 * math.pi * (5.7 * t + 2 * seed_phase)) \
            + 0.08 * math.sin(2 * math.pi * (13.1 * t))
        values.append(min(1.0, max(0.0, v)))
    return values


def draw_chart(draw, box, grid_step, points, line_width):
    """Grid, axes, average line and curve inside box = (left, top, right, bottom)."""
    left, top, right, bottom = box
    for y in range(bottom - grid_step, top, -grid_step):
        draw.line([(left, y), (right, y)], fill=GRID)
    for x in range(left + grid_step, right, grid_step):
        draw.line([(x, top), (x, bottom)], fill=GRID)
    values = bitrate_curve(points, 0.1)
    height = bottom - top
    average = sum(values) / len(values)
    y_avg = bottom - round(average * height)
    draw.line([(left, y_avg), (right, y_avg)], fill=RED)
    step = (right - left) / (points - 1)
    line = [(left + round(i * step), bottom - round(v * height)) for i, v in enumerate(values)]
    draw.line(line, fill=YELLOW, width=line_width)
    draw.line([(left, top), (left, bottom), (right, bottom)], fill=WHITE)


def main_icon():
    image = Image.new("RGB", (32, 32), BACKGROUND)
    draw = ImageDraw.Draw(image)
    draw.rectangle([0, 0, 31, 31], outline=FRAME)
    draw_chart(draw, (3, 14, 29, 29), 5, 9, 1)
    draw_text(draw, "KOV", 3, 2, 2, WHITE, SHADOW)
    return image


def small_icon():
    # Shown at 16 x 16 in the title bar: a bolder curve and a single letter.
    image = Image.new("RGB", (32, 32), BACKGROUND)
    draw = ImageDraw.Draw(image)
    draw.rectangle([0, 0, 31, 31], outline=FRAME)
    draw_chart(draw, (3, 14, 29, 29), 8, 6, 3)
    draw_text(draw, "K", 12, 2, 2, WHITE, SHADOW)
    return image


def about_logo():
    width, height = 318, 99
    image = Image.new("RGB", (width, height), BACKGROUND)
    draw = ImageDraw.Draw(image)
    # A dark band on the left for the letters, the chart on the right.
    draw.rectangle([0, 0, 111, height - 1], fill=(52, 52, 52))
    draw_text(draw, "KOV", 10, 24, 7, WHITE, SHADOW)
    draw.line([(10, 70), (101, 70)], fill=YELLOW, width=2)
    draw_chart(draw, (126, 10, width - 10, height - 12), 14, 40, 2)
    draw.rectangle([0, 0, width - 1, height - 1], outline=FRAME)
    return image


def ico_bytes(image):
    """One 32 x 32 entry, 8 bits per pixel with a 256-colour table, no transparency."""
    width, height = image.size
    colours = sorted(set(image.getdata()))
    if len(colours) > 256:
        raise ValueError("icon uses more than 256 colours")
    index = {c: i for i, c in enumerate(colours)}
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in colours)
    palette += b"\0" * (4 * (256 - len(colours)))
    pixels = image.load()
    xor_rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytes(index[pixels[x, y]] for x in range(width))
        xor_rows.append(row + b"\0" * (-len(row) % 4))
    and_row = b"\0" * (((width + 31) // 32) * 4)  # every pixel opaque
    xor = b"".join(xor_rows)
    mask = and_row * height
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    dib = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, 1, 8, len(dib), 6 + 16)
    return directory + entry + dib


def bmp32_bytes(image):
    width, height = image.size
    pixels = image.load()
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        rows.append(b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in
                             (pixels[x, y] for x in range(width))))
    bits = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(bits), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    return file_header + info + bits


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    outputs = {
        "kov.ico": ico_bytes(main_icon()),
        "kov_small.ico": ico_bytes(small_icon()),
        "about_logo.bmp": bmp32_bytes(about_logo()),
    }
    for name, data in outputs.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print(os.path.join(out, name))


if __name__ == "__main__":
    main()
