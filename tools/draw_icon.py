#!/usr/bin/env python3
"""Draws the SorelCheck icon: a loudspeaker sending sound waves, above a drive.

Writes assets/icon/sorelcheck.ico (16, 24, 32 and 48 px, each at 8 and 32 bits
per pixel) and assets/icon/sorelcheck-<size>.png for the Linux window icon and
the desktop entry. Standard library only, so the build needs no imaging
package; the output depends on nothing but this file (and zlib for the PNGs).

The picture is described once, on a 16-unit grid, as signed distance
functions. Straight edges are snapped to whole pixels at each size so that the
16 and 24 px images stay sharp; anti-aliasing then only softens curves.
"""

import math
import os
import struct
import sys
import zlib

ICO_SIZES = (16, 24, 32, 48)
PNG_SIZES = (16, 24, 32, 48)

# High contrast on both light and dark panels: a deep blue tile with a darker
# rim, a white speaker, yellow waves, a light grey drive with a green lamp.
TILE = (0x1A, 0x3A, 0x8F)
TILE_RIM = (0x0A, 0x17, 0x3D)
SPEAKER = (0xFF, 0xFF, 0xFF)
WAVE = (0xFF, 0xCC, 0x2E)
DRIVE = (0xD5, 0xDB, 0xE4)
DRIVE_SLOT = (0x4A, 0x55, 0x68)
LAMP = (0x2E, 0xE0, 0x5A)


# --- signed distance functions (negative inside, in pixels) -----------------

def sd_round_box(px, py, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    qx = abs(px - cx) - (x1 - x0) / 2 + r
    qy = abs(py - cy) - (y1 - y0) / 2 + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_convex(px, py, pts):
    """Distance to a convex polygon given clockwise on screen (y down).

    The maximum over the edge half-planes is exact along the edges, which is
    all the anti-aliasing needs.
    """
    d = -1e9
    n = len(pts)
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        length = math.hypot(ex, ey)
        # Outward normal of a clockwise (screen) polygon is (ey, -ex).
        d = max(d, ((px - ax) * ey - (py - ay) * ex) / length)
    return d


def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_arc(px, py, cx, cy, radius, half_angle, width):
    """A ring segment opening to the right, with round ends."""
    dx, dy = px - cx, py - cy
    if abs(math.atan2(dy, dx)) <= half_angle:
        return abs(math.hypot(dx, dy) - radius) - width / 2
    ex = cx + radius * math.cos(half_angle)
    ey = radius * math.sin(half_angle)
    return min(math.hypot(px - ex, py - (cy - ey)),
               math.hypot(px - ex, py - (cy + ey))) - width / 2


def coverage(d):
    # A straight edge through the pixel centre covers half the pixel.
    return min(1.0, max(0.0, 0.5 - d))


# --- the picture -------------------------------------------------------------

def layers(size):
    """Returns (colour, sdf) pairs, painted in order, for one pixel size."""
    k = size / 16.0

    def snap(v):
        # Whole pixels for straight edges; at 16 px this is the grid itself.
        # (Not round(): banker's rounding would snap 0.5 and 1.5 alike.)
        return math.floor(v * k + 0.5)

    rim = max(1, snap(0.75))
    corner = 3 * k

    def tile_outer(x, y):
        return sd_round_box(x, y, 0, 0, size, size, corner)

    def tile_inner(x, y):
        return sd_round_box(x, y, rim, rim, size - rim, size - rim,
                            corner - rim)

    # Speaker on the axis y = 6.5: a magnet box and a cone whose corners run
    # clockwise on screen, as sd_convex expects.
    axis = 6.5 * k
    mx0, mx1 = snap(2), snap(4)
    my0, my1 = snap(5), snap(8)
    cone = [(mx1, my0), (snap(7), snap(2)), (snap(7), snap(11)), (mx1, my1)]

    def magnet(x, y):
        # Reaches under the cone so no seam shows between the two.
        return sd_round_box(x, y, mx0, my0, mx1 + 0.5, my1, 0.0)

    def cone_sd(x, y):
        return sd_convex(x, y, cone)

    # Waves, concentric about a point inside the cone. The radii put each
    # stroke on whole pixel columns at 16 px; a third wave only where the gaps
    # between strokes stay at least as wide as the strokes.
    wcx = 5 * k
    if size < 48:
        radii, width = (4.5, 7.5), 1.0
    else:
        radii, width = (3.8, 5.4, 7.0), 0.8

    def wave(r):
        # Outer waves are cut shorter: no end rises more than 4.3 units from
        # the axis, which keeps the round ends clear of the rim.
        spread = min(math.radians(40), math.asin(min(1.0, 4.3 / r)))

        def sdf(x, y):
            return sd_arc(x, y, wcx, axis, r * k, spread, width * k)

        if width * k > 1.0:
            return sdf
        # A one-pixel stroke anti-aliased across two columns reads as a
        # dotted smear: keep only the best-covered pixel of each row, at full
        # strength, so each wave becomes a clean stepped line. Wider strokes
        # look better left anti-aliased.
        pixels = set()
        for py in range(size):
            best = max(range(size),
                       key=lambda px: (coverage(sdf(px + 0.5, py + 0.5)), -px))
            if coverage(sdf(best + 0.5, py + 0.5)) >= 0.5:
                pixels.add((best, py))
        return lambda x, y: -1.0 if (int(x), int(y)) in pixels else 1.0

    # Drive: a grey front plate across the bottom with a green lamp, and a
    # slot once there is room to draw one.
    dx0, dx1 = snap(2), size - snap(2)
    dy0, dy1 = snap(12), snap(14)
    lamp_x, lamp_y = dx1 - 2 * k, (dy0 + dy1) / 2

    def drive(x, y):
        return sd_round_box(x, y, dx0, dy0, dx1, dy1, max(0.0, 0.5 * k - 0.5))

    if size < 32:
        # A square lamp the height of the plate: a 16 px circle would blur.
        def lamp(x, y):
            return sd_round_box(x, y, dx1 - snap(3), dy0, dx1 - snap(1), dy1,
                                0.0)
    else:
        def lamp(x, y):
            return sd_circle(x, y, lamp_x, lamp_y, 0.7 * k)

    slot_h = snap(0.5)
    slot_y = (dy0 + dy1) // 2 - slot_h // 2

    def slot(x, y):
        return sd_round_box(x, y, dx0 + snap(1), slot_y,
                            lamp_x - 2 * k, slot_y + slot_h, 0.0)

    out = [(TILE_RIM, tile_outer), (TILE, tile_inner),
           (SPEAKER, magnet), (SPEAKER, cone_sd)]
    out += [(WAVE, wave(r)) for r in radii]
    out += [(DRIVE, drive)]
    if size >= 32:
        out += [(DRIVE_SLOT, slot)]
    out += [(LAMP, lamp)]
    return out


def render(size):
    """Returns rows of straight (non-premultiplied) RGBA tuples."""
    paint = layers(size)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            r = g = b = a = 0.0  # premultiplied
            for colour, sdf in paint:
                c = coverage(sdf(px, py))
                if c <= 0.0:
                    continue
                r = colour[0] * c + r * (1 - c)
                g = colour[1] * c + g * (1 - c)
                b = colour[2] * c + b * (1 - c)
                a = c + a * (1 - c)
            if a <= 0.0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a),
                            round(a * 255)))
        rows.append(row)
    return rows


# --- 256-colour reduction ----------------------------------------------------

def median_cut(counts, limit):
    """Deterministic median cut; returns at most `limit` colours."""
    boxes = [sorted(counts.items())]
    while len(boxes) < limit:
        best, best_range, best_ch = None, 0, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                vals = [c[ch] for c, _ in box]
                rng = max(vals) - min(vals)
                if rng > best_range:
                    best, best_range, best_ch = i, rng, ch
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda e: (e[0][best_ch], e[0]))
        total = sum(n for _, n in box)
        acc, cut = 0, 1
        for j, (_, n) in enumerate(box[:-1]):
            acc += n
            if acc * 2 >= total:
                cut = j + 1
                break
        boxes[best:best] = [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(n for _, n in box)
        palette.append(tuple(round(sum(c[ch] * n for c, n in box) / total)
                             for ch in range(3)))
    return palette


def to_indexed(rows):
    """Maps an RGBA image onto a palette; alpha becomes on/off at 50 %.

    Index 0 is black and stands for the transparent pixels: with the AND mask
    set there, black leaves the screen unchanged.
    """
    counts = {}
    for row in rows:
        for r, g, b, a in row:
            if a >= 128:
                counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    if len(counts) <= 255:
        colours = sorted(counts)
    else:
        colours = median_cut(counts, 255)
    palette = [(0, 0, 0)] + colours
    lookup = {}

    def nearest(c):
        if c not in lookup:
            lookup[c] = min(range(1, len(palette)), key=lambda i: (
                sum((palette[i][ch] - c[ch]) ** 2 for ch in range(3)), i))
        return lookup[c]

    indices = [[nearest((r, g, b)) if a >= 128 else 0 for r, g, b, a in row]
               for row in rows]
    mask = [[a < 128 for _, _, _, a in row] for row in rows]
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette, indices, mask


# --- file formats ------------------------------------------------------------

def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def and_mask_bytes(mask):
    out = b""
    for row in reversed(mask):  # BMP rows run bottom-up
        bits = bytearray((len(row) + 7) // 8)
        for x, transparent in enumerate(row):
            if transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += pad4(bytes(bits))
    return out


def bmp_header(size, bpp, image_bytes):
    # Height counts the colour bitmap and the AND mask together.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                       image_bytes, 0, 0, 0, 0)


def ico_image_8bpp(rows):
    size = len(rows)
    palette, indices, mask = to_indexed(rows)
    colour_table = b"".join(struct.pack("<BBBB", b, g, r, 0)
                            for r, g, b in palette)
    pixels = b"".join(pad4(bytes(row)) for row in reversed(indices))
    masks = and_mask_bytes(mask)
    return (bmp_header(size, 8, len(pixels) + len(masks)) + colour_table
            + pixels + masks)


def ico_image_32bpp(rows):
    size = len(rows)
    pixels = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a))
                      for row in reversed(rows))
    masks = and_mask_bytes([[a < 128 for _, _, _, a in row] for row in rows])
    return bmp_header(size, 32, len(pixels) + len(masks)) + pixels + masks


def write_ico(path, images):
    """images: list of (size, bpp, bitmap bytes)."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for size, bpp, blob in images:
        # Width/height 0 would mean 256; colour count 0 means "256 or more".
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bpp,
                               len(blob), offset)
        offset += len(blob)
        blobs += blob
    with open(path, "wb") as f:
        f.write(header + entries + blobs)


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png(path, rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr)
                + png_chunk(b"IDAT", zlib.compress(raw, 9))
                + png_chunk(b"IEND", b""))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, "..", "assets",
                                                     "icon")
    os.makedirs(out, exist_ok=True)
    rendered = {size: render(size) for size in sorted(set(ICO_SIZES)
                                                      | set(PNG_SIZES))}
    images = []
    for size in ICO_SIZES:
        images.append((size, 8, ico_image_8bpp(rendered[size])))
        images.append((size, 32, ico_image_32bpp(rendered[size])))
    write_ico(os.path.join(out, "sorelcheck.ico"), images)
    for size in PNG_SIZES:
        write_png(os.path.join(out, "sorelcheck-%d.png" % size),
                  rendered[size])


if __name__ == "__main__":
    main(sys.argv)
