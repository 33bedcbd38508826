#!/usr/bin/env python3
"""Draws the main window's four pictures and writes them as XPM arrays.

    python3 ui/xpm/make_xpm.py   (from the repository root, or anywhere)

image0: the six-dot Braille cell, 68 x 88, 101 colours (one transparent),
        2 characters per pixel; shaded, then reduced to 100 colours by median cut.
image1: New (blank page with a folded corner), 22 x 22, 8 colours.
image2: Open (open folder with a sheet), 22 x 22, 7 colours.
image3: Save (floppy disk), 22 x 22, 10 colours.
The program's tests check sizes, colour counts and the single transparent colour.
"""

import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# Two-character keys for the cell picture: printable, no quote or backslash.
KEY_CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"


def write_xpm(name, width, height, palette, rows, cpp):
    """palette: list of (key, colour) with colour "#rrggbb" or "None"."""
    assert len(rows) == height
    keys = {k for k, _ in palette}
    assert len(keys) == len(palette), "duplicate key"
    assert sum(1 for _, c in palette if c == "None") == 1
    used = set()
    for row in rows:
        assert len(row) == width * cpp, (name, row)
        for x in range(width):
            used.add(row[x * cpp:(x + 1) * cpp])
    assert used == keys, (name, sorted(keys - used), sorted(used - keys))
    lines = ['"%d %d %d %d"' % (width, height, len(palette), cpp)]
    lines += ['"%s c %s"' % (k, c) for k, c in palette]
    lines += ['"%s"' % row for row in rows]
    with open(os.path.join(HERE, name + ".xpm"), "w") as out:
        out.write("/* XPM */\n")
        out.write("static const char* const %s_data[] = {\n" % name)
        out.write(",\n".join(lines))
        out.write("};\n")


# ---------------------------------------------------------------- the cell


def smoothstep(e0, e1, x):
    t = min(1.0, max(0.0, (x - e0) / (e1 - e0)))
    return t * t * (3 - 2 * t)


def rounded_rect_distance(px, py, x0, y0, x1, y1, r):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0), max(qy, 0))
    return outside + min(max(qx, qy), 0) - r


def cell_pixel(px, py):
    """Colour (r, g, b) of the cell at a sample point, or None outside."""
    d = rounded_rect_distance(px, py, 2, 2, 66, 86, 11)
    if d > 0:
        return None
    # Plate: warm light grey, lit from the top left, with a darker bevelled rim.
    shade = 1.06 - 0.22 * (py / 88) - 0.06 * (px / 68)
    rim = smoothstep(-3.5, -0.5, d)
    base = (222 * shade, 214 * shade, 198 * shade)
    edge = (120, 112, 100)
    col = tuple(b * (1 - rim) + e * rim for b, e in zip(base, edge))
    # Six raised dots: columns dots 1-2-3 | 4-5-6.
    for cx in (22.5, 45.5):
        for cy in (22.5, 44.5, 66.5):
            rad = 8.5
            dist = math.hypot(px - cx, py - cy)
            # soft shadow to the lower right
            sd = math.hypot(px - cx - 2.0, py - cy - 2.5)
            shadow = 0.35 * (1 - smoothstep(rad - 1.5, rad + 2.5, sd))
            col = tuple(c * (1 - shadow) for c in col)
            if dist < rad + 0.5:
                cover = min(1.0, rad + 0.5 - dist)
                nx, ny = (px - cx) / rad, (py - cy) / rad
                nz = math.sqrt(max(0.0, 1 - nx * nx - ny * ny))
                lx, ly, lz = -0.45, -0.55, 0.70
                diffuse = max(0.0, nx * lx + ny * ly + nz * lz)
                spec = max(0.0, nz * 0.9 - 0.1 + nx * lx + ny * ly) ** 12
                dot = tuple(min(255.0, 30 + 150 * diffuse * k + 230 * spec)
                            for k in (0.55, 0.60, 0.75))
                col = tuple(c * (1 - cover) + t * cover for c, t in zip(col, dot))
    return col


def median_cut(colours, count):
    boxes = [list(colours)]
    while len(boxes) < count:
        best, best_score = None, -1
        for i, box in enumerate(boxes):
            if len(set(box)) < 2:
                continue
            spans = [max(c[ch] for c in box) - min(c[ch] for c in box) for ch in range(3)]
            score = max(spans) * len(box)
            if score > best_score:
                best, best_score = i, score
        assert best is not None, "too few distinct colours"
        box = boxes.pop(best)
        spans = [max(c[ch] for c in box) - min(c[ch] for c in box) for ch in range(3)]
        ch = spans.index(max(spans))
        box.sort(key=lambda c: c[ch])
        values = sorted({c[ch] for c in box})
        cut_value = values[len(values) // 2]
        low = [c for c in box if c[ch] < cut_value]
        high = [c for c in box if c[ch] >= cut_value]
        boxes += [low, high]
    return boxes


def make_cell():
    width, height = 68, 88
    samples = []  # 3x3 supersampling for smooth edges; coverage decides transparency
    pixels = {}
    for y in range(height):
        for x in range(width):
            acc, inside = [0.0, 0.0, 0.0], 0
            for sy in range(3):
                for sx in range(3):
                    c = cell_pixel(x + (sx + 0.5) / 3, y + (sy + 0.5) / 3)
                    if c is not None:
                        inside += 1
                        acc = [a + v for a, v in zip(acc, c)]
            if inside >= 5:
                rgb = tuple(int(round(a / inside)) for a in acc)
                pixels[(x, y)] = rgb
                samples.append(rgb)
    boxes = median_cut(samples, 100)
    lookup, palette_rgb = {}, []
    for index, box in enumerate(boxes):
        mean = tuple(int(round(sum(c[ch] for c in box) / len(box))) for ch in range(3))
        palette_rgb.append(mean)
        for c in box:
            lookup[c] = index
    assert len(set(palette_rgb)) == 100, "two boxes share a colour"
    keys = [a + b for a in KEY_CHARS for b in KEY_CHARS][:100]
    palette = [("  ", "None")] + [(k, "#%02x%02x%02x" % rgb) for k, rgb in zip(keys, palette_rgb)]
    rows = []
    for y in range(height):
        row = ""
        for x in range(width):
            rgb = pixels.get((x, y))
            row += "  " if rgb is None else keys[lookup[rgb]]
        rows.append(row)
    write_xpm("image0", width, height, palette, rows, 2)


# ---------------------------------------------------------------- the icons


class Canvas:
    def __init__(self, size=22, fill="."):
        self.size = size
        self.grid = [[fill] * size for _ in range(size)]

    def put(self, x, y, key):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.grid[y][x] = key

    def rect(self, x0, y0, x1, y1, key):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, key)

    def hline(self, x0, x1, y, key):
        self.rect(x0, y, x1, y, key)

    def vline(self, x, y0, y1, key):
        self.rect(x, y0, x, y1, key)

    def line(self, x0, y0, x1, y1, key):
        steps = max(abs(x1 - x0), abs(y1 - y0))
        for i in range(steps + 1):
            self.put(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps), key)

    def rows(self):
        return ["".join(r) for r in self.grid]


def make_new():
    c = Canvas()
    # page 4..16 x 1..19, fold of 5 at the top right, shadow right and below
    left, top, right, bottom, fold = 4, 1, 16, 19, 5
    for y in range(top, bottom + 1):
        key = "w" if y < 8 else ("p" if y < 14 else "q")
        c.hline(left, right, y, key)
    for i in range(fold):  # cut the corner away
        c.hline(right - fold + 1 + i, right, top + i, ".")
    c.vline(left, top, bottom, "k")
    c.hline(left, right - fold, top, "k")
    c.hline(left, right, bottom, "k")
    c.vline(right, top + fold, bottom, "k")
    # the folded-over flap under the diagonal crease
    for i in range(2, fold):
        c.hline(right - fold + 1, right - fold + i - 1, top + i, "g")
    c.vline(right - fold, top + 1, top + fold, "d")
    c.hline(right - fold, right - 1, top + fold, "d")
    c.line(right - fold, top, right, top + fold, "k")
    # drop shadow
    c.vline(right + 1, top + fold + 1, bottom + 1, "s")
    c.hline(left + 1, right + 1, bottom + 1, "s")
    palette = [(".", "None"), ("k", "#3c3c3c"), ("w", "#ffffff"), ("p", "#f4f4f4"),
               ("q", "#e8e8e8"), ("g", "#d4d4d4"), ("d", "#9a9a9a"), ("s", "#b8b8b8")]
    write_xpm("image1", 22, 22, palette, c.rows(), 1)


def make_open():
    c = Canvas()
    # back of the folder with its tab
    c.rect(1, 5, 18, 19, "b")
    c.rect(2, 3, 8, 4, "b")
    c.hline(2, 8, 2, "k")
    c.vline(1, 3, 19, "k")
    c.line(8, 2, 10, 4, "k")
    c.hline(10, 18, 4, "k")
    c.vline(18, 4, 9, "k")
    # a sheet of paper sticking out
    c.rect(4, 6, 16, 12, "w")
    c.hline(4, 16, 6, "k")
    c.vline(16, 6, 9, "k")
    # the front flap, opened towards the viewer
    for y in range(9, 20):
        shift = (19 - y) * 3 // 10
        x0, x1 = 2 + shift, 18 + shift + (1 if y < 12 else 0)
        c.hline(x0, min(x1, 20), y, "f" if y < 15 else "o")
        c.put(x0 - 1, y, "k")
        c.put(min(x1, 20) + 1, y, "k")
    c.hline(5, 21, 9, "k")
    c.hline(5, 20, 10, "h")
    c.hline(1, 19, 20, "k")
    palette = [(".", "None"), ("k", "#5a3a08"), ("b", "#c8962a"), ("f", "#f2c448"),
               ("h", "#fce79c"), ("o", "#dca92c"), ("w", "#ffffff")]
    write_xpm("image2", 22, 22, palette, c.rows(), 1)


def make_save():
    c = Canvas()
    # body 2..19 x 2..19 with a cut top-right corner
    c.rect(2, 2, 19, 19, "b")
    c.rect(3, 3, 5, 18, "l")
    c.rect(15, 12, 18, 18, "d")
    c.hline(2, 17, 2, "k")
    c.vline(2, 2, 19, "k")
    c.hline(2, 19, 19, "k")
    c.vline(19, 4, 19, "k")
    c.line(17, 2, 19, 4, "k")
    c.put(19, 2, ".")
    c.put(18, 2, ".")
    c.put(19, 3, ".")
    # label at the top
    c.rect(6, 3, 15, 9, "w")
    c.hline(7, 14, 5, "g")
    c.hline(7, 14, 7, "g")
    c.vline(5, 3, 9, "k")
    c.vline(16, 3, 9, "k")
    c.hline(5, 16, 10, "k")
    # metal shutter at the bottom with its slot
    c.rect(6, 13, 15, 18, "m")
    c.hline(6, 15, 13, "e")
    c.rect(11, 14, 13, 17, "n")
    c.vline(5, 13, 18, "k")
    c.vline(16, 13, 18, "k")
    c.hline(5, 16, 12, "k")
    palette = [(".", "None"), ("k", "#101028"), ("b", "#2c54ac"), ("d", "#1c3a7c"),
               ("l", "#5a82d6"), ("w", "#ffffff"), ("g", "#9ca0b4"), ("m", "#c0c2cc"),
               ("n", "#5c5e68"), ("e", "#e6e8f0")]
    write_xpm("image3", 22, 22, palette, c.rows(), 1)


if __name__ == "__main__":
    make_cell()
    make_new()
    make_open()
    make_save()
