#!/usr/bin/env python3
"""Draws the sample pictures shipped with Qel (deterministic, no libraries)."""
import math, os, struct, sys

def bmp(path, w, h, bpp, table, rows):
    """rows: top-down list of lists (indices, or (r,g,b) tuples for 24 bits)."""
    stride = ((w * bpp + 31) // 32) * 4
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bpp == 24:
            for r, g, b in row:
                line += bytes((b, g, r))
        elif bpp == 8:
            line += bytes(row)
        elif bpp == 4:
            for i in range(0, w, 2):
                hi = row[i]; lo = row[i + 1] if i + 1 < w else 0
                line.append((hi << 4) | lo)
        line += bytes(stride - len(line))
        data += line
    tab = b''.join(bytes((b, g, r, 0)) for r, g, b in table)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, bpp, 0, len(data), 4740, 4740, 0, 0)
    off = 14 + len(info) + len(tab)
    with open(path, 'wb') as f:
        f.write(b'BM' + struct.pack('<IHHI', off + len(data), 0, 0, off) + info + tab + data)

def device_table():
    t = [(51 * r, 51 * g, 51 * b) for r in range(6) for g in range(6) for b in range(6)]
    t += [(round(255 * k / 41),) * 3 for k in range(1, 41)]
    return t

def photo(w=240, h=180):
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            sky = y < h * 0.55
            if sky:
                r, g, b = 90 + y // 3, 150 + y // 4, 235 - y // 5
            else:
                t = (y - h * 0.55) / (h * 0.45)
                r, g, b = int(60 + 50 * t), int(140 - 40 * t), int(50 + 10 * math.sin(x / 7.0) * 2)
            # sun
            d = math.hypot(x - w * 0.75, y - h * 0.22)
            if d < 22:
                r, g, b = 255, 230 - int(d * 2), 90
            # hill
            if y > h * 0.45 + 18 * math.sin(x / 30.0) and sky:
                r, g, b = 70, 120 + (x * 3 + y) % 20, 60
            # house
            if w * 0.2 < x < w * 0.38 and h * 0.5 < y < h * 0.75:
                r, g, b = 200, 60, 50
            if w * 0.26 < x < w * 0.31 and h * 0.62 < y < h * 0.75:
                r, g, b = 90, 50, 30
            row.append((max(0, min(255, r)), max(0, min(255, g)), max(0, min(255, b))))
        rows.append(row)
    return rows

def lineart(w=200, h=150):
    img = [[215] * w for _ in range(h)]
    def dot(x, y, r):
        for yy in range(int(y - r), int(y + r) + 1):
            for xx in range(int(x - r), int(x + r) + 1):
                if 0 <= xx < w and 0 <= yy < h and (xx - x) ** 2 + (yy - y) ** 2 <= r * r:
                    img[yy][xx] = 0
    def line(x0, y0, x1, y1, r):
        n = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for i in range(n + 1):
            t = i / n
            dot(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, r)
    line(20, 130, 180, 130, 1.5)          # ground
    line(40, 130, 40, 70, 2); line(110, 130, 110, 70, 2)   # walls
    line(30, 75, 75, 30, 1.5); line(75, 30, 120, 75, 1.5)  # roof
    line(60, 130, 60, 100, 1); line(80, 130, 80, 100, 1); line(60, 100, 80, 100, 1)  # door
    for k in range(40):                    # a wavy stroke
        a = k / 40 * 2 * math.pi
        dot(150 + 20 * math.cos(a), 60 + 20 * math.sin(a), 2.5)
    line(130, 100, 190, 20, 0.8)
    return img

def sixteen(w=128, h=96):
    cols = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
            (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
            (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    rows = [[((x // 16) + (y // 16) * 3) % 16 for x in range(w)] for y in range(h)]
    for y in range(h):
        for x in range(w):
            if (x - 64) ** 2 + (y - 48) ** 2 < 30 ** 2:
                rows[y][x] = 15 if (x + y) % 12 < 6 else 9
    return cols, rows

if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else 'samples'
    os.makedirs(out, exist_ok=True)
    bmp(os.path.join(out, 'photo.bmp'), 240, 180, 24, [], photo())
    bmp(os.path.join(out, 'lineart.bmp'), 200, 150, 8, device_table(), lineart())
    cols, rows = sixteen()
    bmp(os.path.join(out, 'colours16.bmp'), 128, 96, 4, cols, rows)
