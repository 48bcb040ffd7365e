#!/usr/bin/env python3
"""Draws the window's pictures and writes them as PNG files beside this script.

    python3 make_images.py

Everything is computed here, pixel by pixel, with the standard library only,
so the pictures can be redrawn anywhere and reviewed as code:

- background.png  381 x 283: a pale topographic map with a faint route, light
  enough for the light-green labels and the green button to sit on it;
- ostrevane-32.png (and -48, -128 for desktop menus, ostrevane.ico for the
  Windows program file): the program icon, a folded map with a red route and
  a marker;
- globe-16.png, globe-32.png, globe-48.png: the globe that opens the KML file;
- background.bmp and globe.ico for the native Windows window: the same
  background as a 24-bit bitmap resource, and the globe as one icon with nine
  images (16, 32 and 48 pixels, each in 16 colours, 256 colours and 32-bit
  colour with alpha), so that Windows picks the one that suits the screen.

The output is deterministic: the same script always gives the same bytes.
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


# --- PNG output -------------------------------------------------------------


def write_png(path, width, height, rows, alpha):
    """Writes 8-bit RGB or RGBA rows (lists of 0..1 float tuples)."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for px in row:
            channels = px if alpha else px[:3]
            raw.extend(max(0, min(255, int(round(c * 255)))) for c in channels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    colour_type = 6 if alpha else 2
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


def write_ico(path, png_paths):
    """Writes a Windows icon whose images are the given PNG files."""
    images = [open(p, "rb").read() for p in png_paths]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for data in images:
        width, height = struct.unpack(">II", data[16:24])
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as out:
        out.write(header + entries + b"".join(images))


def write_bmp(path, width, height, rows):
    """Writes 8-bit RGB rows as a bottom-up 24-bit Windows bitmap."""
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for px in row:
            r, g, b = (max(0, min(255, int(round(c * 255)))) for c in px[:3])
            line += bytes((b, g, r))
        pixels += line + b"\0" * (stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as out:
        out.write(header + info + pixels)


# The 16 colours of the standard Windows palette, and 256 made of a 6 x 6 x 6
# colour cube and 40 greys.
PALETTE_16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
              (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
              (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
PALETTE_256 = ([(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)] +
               [(int(round(i * 255 / 41)),) * 3 for i in range(1, 41)])


def icon_dib(size, rows, bits):
    """One icon image as a DIB: colours at `bits` per pixel, then the 1-bit
    mask of transparent pixels. 32-bit images keep their alpha."""
    palette = {4: PALETTE_16, 8: PALETTE_256}.get(bits, [])
    colour = bytearray()
    mask = bytearray()
    stride = ((size * bits + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        bytes_rgba = [tuple(max(0, min(255, int(round(c * 255)))) for c in px) for px in row]
        line = bytearray()
        if bits == 32:
            for r, g, b, a in bytes_rgba:
                line += bytes((b, g, r, a))
        else:
            indexes = [min(range(len(palette)), key=lambda i: sum((p - q) ** 2 for p, q in
                                                                   zip(palette[i], px[:3])))
                       for px in bytes_rgba]
            if bits == 4:
                indexes += [0] * (len(indexes) % 2)
                line += bytes(hi << 4 | lo for hi, lo in zip(indexes[0::2], indexes[1::2]))
            else:
                line += bytes(indexes)
        colour += line + b"\0" * (stride - len(line))
        bits_row = 0
        for x, px in enumerate(bytes_rgba):
            if px[3] < 128:
                bits_row |= 1 << (size - 1 - x)
        mask_line = bits_row.to_bytes((size + 7) // 8, "big")
        mask += mask_line + b"\0" * (mask_stride - len(mask_line))
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, len(colour) + len(mask),
                       0, 0, len(palette), 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return info + table + colour + mask


def write_icon_dibs(path, canvases):
    """Writes a Windows icon from (size, rows) pairs, each in 16, 256 and
    true colours."""
    images = []
    for size, rows in canvases:
        for bits in (4, 8, 32):
            images.append((size, bits, icon_dib(size, rows, bits)))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for size, bits, data in images:
        colours = {4: 16, 8: 0}.get(bits, 0)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    with open(path, "wb") as out:
        out.write(header + entries + b"".join(data for _, _, data in images))


# --- small helpers ----------------------------------------------------------


def clamp(x, lo=0.0, hi=1.0):
    return lo if x < lo else hi if x > hi else x


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def rgb(hex_text):
    v = int(hex_text, 16)
    return ((v >> 16) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0)


def smoothstep(e0, e1, x):
    t = clamp((x - e0) / (e1 - e0))
    return t * t * (3 - 2 * t)


def hash2(ix, iy, salt):
    n = (ix * 374761393 + iy * 668265263 + salt * 2147483647) & 0xFFFFFFFF
    n = ((n ^ (n >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((n ^ (n >> 16)) & 0xFFFF) / 65535.0


def value_noise(x, y, salt):
    ix, iy = math.floor(x), math.floor(y)
    fx, fy = x - ix, y - iy
    ux, uy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
    a = hash2(ix, iy, salt)
    b = hash2(ix + 1, iy, salt)
    c = hash2(ix, iy + 1, salt)
    d = hash2(ix + 1, iy + 1, salt)
    return a + (b - a) * ux + (c - a) * uy + (a - b - c + d) * ux * uy


def fbm(x, y, salt, octaves=4):
    total, amp, norm = 0.0, 1.0, 0.0
    for o in range(octaves):
        total += amp * value_noise(x, y, salt + o * 17)
        norm += amp
        x, y, amp = x * 2.03, y * 2.03, amp * 0.5
    return total / norm


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else clamp(((px - ax) * dx + (py - ay) * dy) / length2)
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy), t


def catmull_rom(points, steps):
    """A smooth curve through `points`, as a dense polyline."""
    pts = [points[0]] + list(points) + [points[-1]]
    out = []
    for i in range(1, len(pts) - 2):
        p0, p1, p2, p3 = pts[i - 1], pts[i], pts[i + 1], pts[i + 2]
        for s in range(steps):
            t = s / steps
            t2, t3 = t * t, t * t * t
            out.append(tuple(
                0.5 * (2 * p1[k] + (-p0[k] + p2[k]) * t + (2 * p0[k] - 5 * p1[k] + 4 * p2[k] - p3[k]) * t2
                       + (-p0[k] + 3 * p1[k] - 3 * p2[k] + p3[k]) * t3) for k in range(2)))
    out.append(points[-1])
    return out


class Canvas:
    """RGBA pixels in 0..1 with antialiased shapes drawn over them."""

    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width, self.height = width, height
        self.px = [[tuple(fill) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, colour, coverage):
        if coverage <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        r, g, b, a = colour if len(colour) == 4 else colour + (1.0,)
        sa = a * clamp(coverage)
        dr, dg, db, da = self.px[y][x]
        oa = sa + da * (1 - sa)
        if oa == 0:
            return
        self.px[y][x] = tuple((s * sa + d * da * (1 - sa)) / oa
                              for s, d in zip((r, g, b), (dr, dg, db))) + (oa,)

    def stroke(self, polyline, width, colour, dash=None):
        """Draws a polyline `width` pixels wide; `dash` is (on, off) in pixels."""
        half = width / 2.0
        xs = [p[0] for p in polyline]
        ys = [p[1] for p in polyline]
        lengths = [0.0]
        for (ax, ay), (bx, by) in zip(polyline, polyline[1:]):
            lengths.append(lengths[-1] + math.hypot(bx - ax, by - ay))
        for y in range(max(0, int(min(ys) - width - 1)), min(self.height, int(max(ys) + width + 2))):
            for x in range(max(0, int(min(xs) - width - 1)), min(self.width, int(max(xs) + width + 2))):
                best, along = 1e9, 0.0
                for i in range(len(polyline) - 1):
                    (ax, ay), (bx, by) = polyline[i], polyline[i + 1]
                    d, t = segment_distance(x + 0.5, y + 0.5, ax, ay, bx, by)
                    if d < best:
                        best, along = d, lengths[i] + t * (lengths[i + 1] - lengths[i])
                coverage = clamp(half - best + 0.5)
                if dash and coverage > 0:
                    on, off = dash
                    phase = along % (on + off)
                    coverage *= clamp(on - phase + 0.5) if phase < on else clamp(phase - (on + off) + 0.5)
                self.blend(x, y, colour, coverage)

    def disc(self, cx, cy, radius, colour):
        for y in range(max(0, int(cy - radius - 1)), min(self.height, int(cy + radius + 2))):
            for x in range(max(0, int(cx - radius - 1)), min(self.width, int(cx + radius + 2))):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                self.blend(x, y, colour, clamp(radius - d + 0.5))

    def polygon(self, points, colour, samples=4):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        step = 1.0 / samples
        for y in range(max(0, int(min(ys))), min(self.height, int(max(ys)) + 1)):
            for x in range(max(0, int(min(xs))), min(self.width, int(max(xs)) + 1)):
                inside = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if point_in_polygon(x + (sx + 0.5) * step, y + (sy + 0.5) * step, points):
                            inside += 1
                self.blend(x, y, colour, inside / (samples * samples))

    def rows(self):
        return self.px


def point_in_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


# --- background picture -----------------------------------------------------

BG_W, BG_H = 381, 283

LOWLAND = rgb("EEF5E4")
UPLAND = rgb("F4EEDC")
CONTOUR = rgb("C3D3AE")
INDEX_CONTOUR = rgb("AFC398")
WATER = rgb("D7E9F3")
SHORE = rgb("9FC3D8")
GRID = rgb("D3DEE6")


def terrain_height(x, y):
    """Height 0..1 of the imaginary landscape at picture point (x, y)."""
    hills = (0.55 * math.exp(-((x - 300) ** 2 + (y - 60) ** 2) / 9000.0)
             + 0.45 * math.exp(-((x - 120) ** 2 + (y - 215) ** 2) / 7000.0)
             + 0.30 * math.exp(-((x - 40) ** 2 + (y - 40) ** 2) / 5000.0)
             - 0.30 * math.exp(-((x - 215) ** 2 + (y - 200) ** 2) / 1500.0))
    return 0.18 + hills + 0.28 * fbm(x / 90.0, y / 90.0, 7)


def background():
    heights = [[terrain_height(x, y) for x in range(BG_W + 1)] for y in range(BG_H + 1)]
    interval = 0.035
    water_level = 0.33
    canvas = Canvas(BG_W, BG_H)
    for y in range(BG_H):
        for x in range(BG_W):
            h = heights[y][x]
            gx = heights[y][x + 1] - h
            gy = heights[y + 1][x] - h
            slope = math.hypot(gx, gy) + 1e-9
            if h < water_level:
                # Water: pale blue, deepening a little, with a soft shore line.
                colour = mix(WATER, rgb("CCE1EE"), smoothstep(water_level, water_level - 0.08, h))
                shore = clamp(1.2 - (water_level - h) / slope)
                colour = mix(colour, SHORE, 0.8 * shore)
            else:
                colour = mix(LOWLAND, UPLAND, smoothstep(0.40, 0.75, h))
                # Hill shading lit from the upper left, kept very soft.
                light = clamp(0.5 + (-gx - gy) * 18.0)
                colour = mix(colour, (1.0, 1.0, 1.0) if light > 0.5 else rgb("DCE3CC"),
                             abs(light - 0.5) * 0.35)
                level = h / interval
                distance = abs(level - round(level)) * interval / slope
                index = int(round(level)) % 5 == 0
                width = 0.9 if index else 0.55
                line = clamp(width - distance + 0.5)
                colour = mix(colour, INDEX_CONTOUR if index else CONTOUR, line * 0.85)
            # A faint map grid every 64 pixels.
            for v in (x, y):
                d = abs(((v + 32) % 64) - 32)
                if d < 1:
                    colour = mix(colour, GRID, 0.55)
            canvas.px[y][x] = colour + (1.0,)

    # A faint route walked across the map, with its start and end marked.
    waypoints = [(-10, 250), (30, 205), (70, 190), (95, 150), (70, 105), (110, 85),
                 (170, 92), (215, 60), (262, 78), (300, 120), (285, 170), (330, 205),
                 (395, 190)]
    route = catmull_rom(waypoints, 14)
    canvas.stroke(route, 4.0, (1.0, 1.0, 1.0, 0.55))
    canvas.stroke(route, 1.8, rgb("D9775F") + (0.75,), dash=(7.0, 4.0))
    for cx, cy in waypoints[2:-2:3]:
        canvas.disc(cx, cy, 2.6, (1.0, 1.0, 1.0, 0.9))
        canvas.disc(cx, cy, 1.7, rgb("D9775F") + (0.9,))

    compass(canvas, 284, 30, 13)
    return canvas


def compass(canvas, cx, cy, r):
    """A small four-pointed compass rose, north up."""
    ink = rgb("8AA3B5") + (0.75,)
    pale = rgb("C9D7E1") + (0.75,)
    s = r * 0.28
    for (dx, dy) in ((0, -1), (1, 0), (0, 1), (-1, 0)):
        tip = (cx + dx * r, cy + dy * r)
        left = (cx - dy * s, cy + dx * s)
        right = (cx + dy * s, cy - dx * s)
        canvas.polygon([(cx, cy), left, tip], ink)
        canvas.polygon([(cx, cy), tip, right], pale)
    canvas.disc(cx, cy, 1.6, (1.0, 1.0, 1.0, 0.9))
    # An "N" above the north point, drawn with strokes.
    nx, ny, h, w = cx - 2.5, cy - r - 9, 6.0, 5.0
    canvas.stroke([(nx, ny + h), (nx, ny), (nx + w, ny + h), (nx + w, ny)], 1.1, ink)


# --- program icon -----------------------------------------------------------


def program_icon(size):
    """A folded map in three panels, a red route and a marker pin."""
    k = size / 32.0
    canvas = Canvas(size, size)
    panel_fill = [rgb("D4EFC4"), rgb("BFE3AA"), rgb("D4EFC4")]
    top, bottom = 6.5 * k, 28.5 * k
    xs = [2.5 * k, 11.5 * k, 20.5 * k, 29.5 * k]
    offsets = [0.0, 1.8 * k, 0.0, 1.8 * k]  # the zigzag of the folds
    for i in range(3):
        quad = [(xs[i], top + offsets[i]), (xs[i + 1], top + offsets[i + 1]),
                (xs[i + 1], bottom + offsets[i + 1] - 1.8 * k), (xs[i], bottom + offsets[i] - 1.8 * k)]
        canvas.polygon(quad, panel_fill[i])
    outline = rgb("2F7D32")
    border = [(xs[0], top), (xs[1], top + offsets[1]), (xs[2], top), (xs[3], top + offsets[3]),
              (xs[3], bottom), (xs[2], bottom - 1.8 * k), (xs[1], bottom), (xs[0], bottom - 1.8 * k),
              (xs[0], top)]
    canvas.stroke(border, 1.1 * k, outline)
    for i in (1, 2):
        canvas.stroke([(xs[i], top + offsets[i]), (xs[i], bottom + offsets[i] - 1.8 * k)],
                      0.7 * k, outline + (0.6,))
    # Faint contour lines on the map.
    for j, base in enumerate((13.0, 18.5, 24.0)):
        line = [(xs[0] + 1.5 * k, base * k + 1.2 * k * math.sin(j)),
                (11 * k, (base - 1.5) * k), (19 * k, (base + 1.0) * k), (xs[3] - 1.5 * k, (base - 0.5) * k)]
        canvas.stroke(catmull_rom(line, 6), 0.6 * k, rgb("8DBF7A") + (0.8,))
    route = catmull_rom([(5 * k, 24 * k), (10 * k, 19 * k), (15 * k, 22 * k), (20 * k, 15 * k),
                         (24 * k, 14 * k)], 8)
    canvas.stroke(route, 1.9 * k, (1.0, 1.0, 1.0, 0.9))
    canvas.stroke(route, 1.3 * k, rgb("D32F2F"))
    canvas.disc(5 * k, 24 * k, 1.6 * k, rgb("D32F2F"))
    pin(canvas, 24 * k, 14 * k, k)
    return canvas


def pin(canvas, tip_x, tip_y, k):
    """A map marker whose point rests on (tip_x, tip_y)."""
    r = 4.6 * k
    cx, cy = tip_x, tip_y - 7.6 * k
    body = [(tip_x, tip_y)]
    for a in range(-150, 151, 10):
        t = math.radians(a - 90)
        body.append((cx + r * math.cos(t), cy + r * math.sin(t)))
    shadow = [(x + 0.6 * k, y + 0.6 * k) for x, y in body]
    canvas.polygon(shadow, (0.0, 0.0, 0.0, 0.25))
    canvas.polygon(body, rgb("C62828"))
    canvas.disc(cx - 1.2 * k, cy - 1.2 * k, 2.4 * k, rgb("E57373") + (0.6,))
    canvas.disc(cx, cy, 1.7 * k, (1.0, 1.0, 1.0, 1.0))


# --- globe icon -------------------------------------------------------------


def globe(size):
    """A shaded globe with green continents, blue seas and a light graticule."""
    samples = 4
    radius = size / 2.0 - 0.6
    centre = size / 2.0
    tilt = math.radians(23.0)
    spin = math.radians(-20.0)
    sea, deep = rgb("4FA3E0"), rgb("1C5FA8")
    land, land_dark = rgb("6CC04A"), rgb("3C8A2E")
    canvas = Canvas(size, size)
    for y in range(size):
        for x in range(size):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples - centre) / radius
                    v = (y + (sy + 0.5) / samples - centre) / radius
                    rr = u * u + v * v
                    if rr > 1.0:
                        continue
                    covered += 1
                    z = math.sqrt(1.0 - rr)
                    # Tilt the axis towards the viewer, then read longitude and latitude.
                    yy = v * math.cos(tilt) - z * math.sin(tilt)
                    zz = v * math.sin(tilt) + z * math.cos(tilt)
                    lat = -math.asin(clamp(yy, -1.0, 1.0))
                    lon = math.atan2(u, zz) + spin
                    continents = fbm(lon * 1.0 + 5.0, lat * 1.4 + 3.0, 11, 3)
                    is_land = continents > 0.45 and abs(lat) < 1.25
                    light = clamp(0.35 + 0.75 * (-0.45 * u - 0.55 * v + 0.70 * z))
                    colour = mix(land_dark, land, light) if is_land else mix(deep, sea, light)
                    if abs(lat) > 1.3:
                        colour = mix(colour, (0.95, 0.97, 1.0), 0.8)  # polar ice
                    if size >= 32:
                        grid = math.radians(30.0)
                        for a in (lat, lon):
                            d = abs(((a + grid / 2) % grid) - grid / 2)
                            if d < 0.03:
                                colour = mix(colour, (1.0, 1.0, 1.0), 0.22)
                    # A glossy shine at the upper left.
                    shine = clamp(1.0 - math.hypot(u + 0.38, v + 0.42) / 0.45) ** 2
                    colour = mix(colour, (1.0, 1.0, 1.0), 0.55 * shine)
                    for k in range(3):
                        acc[k] += colour[k]
            if covered:
                canvas.px[y][x] = tuple(c / covered for c in acc) + (covered / samples ** 2,)
    # A dark rim that keeps the globe readable on light backgrounds.
    rim = max(0.8, size / 40.0)
    for y in range(size):
        for x in range(size):
            d = abs(math.hypot(x + 0.5 - centre, y + 0.5 - centre) - (radius - rim / 2))
            canvas.blend(x, y, rgb("0F3F73") + (0.85,), clamp(rim / 2 - d + 0.5))
    return canvas


def main():
    bg = background()
    write_png(os.path.join(HERE, "background.png"), BG_W, BG_H, bg.rows(), alpha=False)
    write_bmp(os.path.join(HERE, "background.bmp"), BG_W, BG_H, bg.rows())
    for size in (32, 48, 128):
        icon = program_icon(size)
        write_png(os.path.join(HERE, "ostrevane-%d.png" % size), size, size, icon.rows(), alpha=True)
    write_ico(os.path.join(HERE, "ostrevane.ico"), [os.path.join(HERE, "ostrevane-32.png")])
    globes = []
    for size in (16, 32, 48):
        g = globe(size)
        write_png(os.path.join(HERE, "globe-%d.png" % size), size, size, g.rows(), alpha=True)
        globes.append((size, g.rows()))
    write_icon_dibs(os.path.join(HERE, "globe.ico"), globes)


if __name__ == "__main__":
    main()
