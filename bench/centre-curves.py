#!/usr/bin/python3
"""Centre-line curves against polylines and potrace on a drawing of curves, crossings and lettering.

    bench/centre-curves.py QEL_BATCH [WORK_DIR]

Draws the picture with Pillow (thick strokes), thins it with qel-batch and saves the centre lines
as polylines and as curves (--svg-curves); potrace -s traces the outlines of the unthinned drawing.
Each centre-line SVG is drawn by rsvg-convert, thinned again by qel-batch, and compared with the
original skeleton: the largest distance (pixels) from a pixel of either to the nearest of the other.
Needs potrace, librsvg2-bin, python3-pil, python3-numpy, python3-scipy.
"""
import math, os, subprocess, sys

import numpy as np
from PIL import Image, ImageDraw, ImageFont
from scipy import ndimage

qel = os.path.abspath(sys.argv[1])
work = sys.argv[2] if len(sys.argv) > 2 else '/tmp/qel-curves'
os.makedirs(work, exist_ok=True)
os.chdir(work)
W, H = 1600, 1200


def save8(mask, name):  # black strokes on white as an 8-bit picture: index 0 black, 1 white
    p = Image.fromarray(np.where(mask, 0, 1).astype(np.uint8), 'P')
    p.putpalette([0, 0, 0, 255, 255, 255] + [255] * 762)
    p.save(name)


def drawing():
    rng = np.random.default_rng(7)
    im = Image.new('L', (W, H), 255)
    d = ImageDraw.Draw(im)
    for _ in range(30):  # circles and ellipses
        x, y = rng.integers(0, W - 300), rng.integers(0, H - 300)
        d.ellipse([x, y, x + rng.integers(60, 300), y + rng.integers(60, 300)], outline=0, width=int(rng.integers(3, 8)))
    for _ in range(20):  # waves and spirals as fine polylines
        x0, y0, amp, per = rng.integers(0, W), rng.integers(0, H), rng.integers(20, 120), rng.integers(80, 400)
        a, length = rng.uniform(0, math.pi), rng.integers(200, 900)
        pts = [(x0 + t * math.cos(a) - amp * math.sin(2 * math.pi * t / per) * math.sin(a),
                y0 + t * math.sin(a) + amp * math.sin(2 * math.pi * t / per) * math.cos(a)) for t in range(0, length, 2)]
        d.line(pts, fill=0, width=int(rng.integers(3, 7)), joint='curve')
    for _ in range(25):  # straight lines crossing the rest
        d.line([tuple(rng.integers(0, [W, H])), tuple(rng.integers(0, [W, H]))], fill=0, width=int(rng.integers(3, 6)))
    font = ImageFont.truetype('/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf', 90)
    for k, text in enumerate(['Curves & Crossings', 'quick brown fox 2468', 'SVG Beziers: ok?']):
        d.text((60, 120 + 380 * k), text, fill=0, font=font)
    return np.array(im) < 128


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def skeleton(name):
    run(qel, name, '--thin', '-o', 'thin.bmp')
    return np.array(Image.open('thin.bmp').convert('L')) < 128


def render(svg):
    run('rsvg-convert', '-b', 'white', '-o', 'render.png', svg)
    save8(np.array(Image.open('render.png').convert('L')) < 128, 'render.bmp')
    return skeleton('render.bmp')


def farthest(a, b):  # largest distance from a pixel of a to the nearest pixel of b
    return float(ndimage.distance_transform_edt(~b)[a].max())


save8(drawing(), 'drawing.bmp')
run('potrace', '-s', 'drawing.bmp', '-o', 'potrace.svg')
run(qel, 'drawing.bmp', '--thin', '-o', 'poly.svg')
run(qel, 'drawing.bmp', '--thin', '--svg-curves', '-o', 'curves.svg')
orig = skeleton('drawing.bmp')
size = {n: os.path.getsize(n + '.svg') for n in ('poly', 'curves', 'potrace')}
print(f"drawing {W} x {H}, skeleton {int(orig.sum())} pixels")
for n in ('poly', 'curves'):
    again = render(n + '.svg')
    print(f"{n:7s} {size[n]:8d} bytes; drawn and thinned again: skeleton to it {farthest(orig, again):.2f} px, "
          f"it to skeleton {farthest(again, orig):.2f} px (goal <= 1.5)")
print(f"potrace {size['potrace']:8d} bytes")
print(f"curves / polylines {size['curves'] / size['poly']:.3f} (goal <= 0.6), "
      f"curves / potrace {size['curves'] / size['potrace']:.3f} (goal <= 0.3)")
