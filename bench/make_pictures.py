#!/usr/bin/env python3
"""Writes the deterministic 4000 x 3000 test pictures for the peer comparison:
photo.bmp (24-bit, smooth gradients, texture and shapes: many distinct colours),
photo2.bmp (a second photo-like picture for blending) and lines.bmp (8-bit black
strokes 1-8 px wide on white, like a scanned drawing).
   make_pictures.py [DIR [WIDTH HEIGHT]]"""
import sys
import numpy as np
from PIL import Image, ImageDraw

out = sys.argv[1] if len(sys.argv) > 1 else '.'
W, H = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (4000, 3000)
rng = np.random.default_rng(20261207)

def photo(seed):
    r = np.random.default_rng(seed)
    y, x = np.mgrid[0:H, 0:W].astype(np.float32)
    red = 128 + 90 * np.sin(x / 370.0 + seed) * np.cos(y / 510.0)
    green = 128 + 80 * np.sin((x + y) / 450.0 + 1.3 * seed)
    blue = 128 + 100 * np.cos(np.hypot(x - W / 2, y - H / 2) / 300.0)
    img = np.stack([red, green, blue], axis=-1)
    img += r.normal(0, 6, img.shape).astype(np.float32)  # sensor noise
    im = Image.fromarray(np.clip(img, 0, 255).astype(np.uint8), 'RGB')
    d = ImageDraw.Draw(im)
    for _ in range(60):
        x0, y0 = int(r.integers(0, W)), int(r.integers(0, H))
        w, h = int(r.integers(50, 600)), int(r.integers(50, 600))
        col = tuple(int(c) for c in r.integers(0, 256, 3))
        if r.random() < 0.5:
            d.ellipse([x0, y0, x0 + w, y0 + h], fill=col)
        else:
            d.rectangle([x0, y0, x0 + w, y0 + h], fill=col)
    return im

def lines():
    im = Image.new('L', (W, H), 255)
    d = ImageDraw.Draw(im)
    for _ in range(900):
        pts = [(int(rng.integers(0, W)), int(rng.integers(0, H)))]
        for _ in range(int(rng.integers(1, 5))):
            px, py = pts[-1]
            pts.append((int(np.clip(px + rng.integers(-500, 500), 0, W - 1)),
                        int(np.clip(py + rng.integers(-500, 500), 0, H - 1))))
        d.line(pts, fill=0, width=int(rng.integers(1, 9)))
    for _ in range(200):
        x0, y0 = int(rng.integers(0, W - 300)), int(rng.integers(0, H - 300))
        s = int(rng.integers(40, 300))
        d.ellipse([x0, y0, x0 + s, y0 + s], outline=0, width=int(rng.integers(1, 9)))
    # 8-bit on the device table: black is index 0, white index 215.
    a = np.where(np.array(im) < 128, 0, 215).astype(np.uint8)
    p = Image.fromarray(a, 'P')
    table = [(51 * r, 51 * g, 51 * b) for r in range(6) for g in range(6) for b in range(6)]
    table += [(round(255 * k / 41),) * 3 for k in range(1, 41)]
    p.putpalette([c for rgb in table for c in rgb])
    return p

photo(1).save(f'{out}/photo.bmp')
if len(sys.argv) > 3:  # the folder benchmark: the drawing also as 24-bit
    lines().convert('RGB').save(f'{out}/lines24.bmp')
photo(2).save(f'{out}/photo2.bmp')
lines().save(f'{out}/lines.bmp')
