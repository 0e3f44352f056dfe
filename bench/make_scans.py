#!/usr/bin/python3
"""Makes line drawings with known ink and turns them into "scans": strokes 1 to 6 pixels wide,
straight and curved, crossing, with lettering; then a tilt, a margin, blur, uneven light (a linear
and a radial gradient, a shadow along one edge), paper grain and JPEG at quality 70. The same seed
gives the same files.
    bench/make_scans.py OUTDIR [--seed N] [--tilt DEGREES] [--size WxH] [--margin PX] [--count N]
writes OUTDIR/scanK.jpg (the scan) and OUTDIR/truthK.png (its ink: 0, paper: 255, tilted and
framed like the scan) for K = 1..N. The tilt is anticlockwise, in degrees (3 by default).
Imported, make_scan(seed, tilt, width, height, margin) gives (RGB array of the scan before JPEG,
the JPEG's bytes, ink mask as bool) without writing files. Not part of the tests."""
import io
import math
import os
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

FONTS = ["/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
         "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf"]
WORDS = ["PLAN A-A", "SECTION 3", "North wall", "detail 1:20", "scale 1:50", "door", "window W2", "R 1200",
         "stairs up", "shaft", "Sheet 4 of 9", "drawn by", "rev. C", "beam 300x600", "level +3.50"]


def font(size, rng):
    path = [f for f in FONTS if os.path.exists(f)]
    return ImageFont.truetype(path[int(rng.integers(len(path)))], size) if path else ImageFont.load_default()


def bezier(p0, p1, p2, p3, n=80):
    t = np.linspace(0, 1, n)[:, None]
    pts = (1 - t) ** 3 * p0 + 3 * (1 - t) ** 2 * t * p1 + 3 * (1 - t) * t ** 2 * p2 + t ** 3 * p3
    return [tuple(p) for p in pts]


def drawing(rng, width, height):
    """The upright drawing: 0 ink, 255 paper."""
    img = Image.new("L", (width, height), 255)
    d = ImageDraw.Draw(img)
    s = min(width, height)
    stroke = lambda: int(rng.integers(1, 7))  # noqa: E731
    # A frame and a title block: long straight lines set the page's rows and columns.
    d.rectangle([s // 30, s // 30, width - s // 30, height - s // 30], outline=0, width=4)
    bx, by = int(width * 0.62), int(height * 0.82)
    d.rectangle([bx, by, width - s // 30, height - s // 30], outline=0, width=3)
    d.line([bx, (by + height - s // 30) // 2, width - s // 30, (by + height - s // 30) // 2], fill=0, width=2)
    # Walls and dimension lines: horizontal, vertical and a few slanted, crossing one another.
    for _ in range(14):
        w = stroke()
        if rng.random() < 0.45:
            y = int(rng.integers(s // 10, int(height * 0.78)))
            x0, x1 = sorted(rng.integers(s // 10, width - s // 10, 2))
            d.line([int(x0), y, int(x1), y], fill=0, width=w)
        elif rng.random() < 0.8:
            x = int(rng.integers(s // 10, width - s // 10))
            y0, y1 = sorted(rng.integers(s // 10, int(height * 0.78), 2))
            d.line([x, int(y0), x, int(y1)], fill=0, width=w)
        else:
            p = rng.integers([s // 10, s // 10, s // 10, s // 10], [width - s // 10, int(height * 0.78)] * 2)
            d.line([int(v) for v in p], fill=0, width=w)
    # Curves, circles and arcs.
    for _ in range(6):
        pts = rng.uniform([s * 0.1, s * 0.1], [width - s * 0.1, height * 0.78], (4, 2))
        d.line(bezier(*pts), fill=0, width=stroke(), joint="curve")
    for _ in range(4):
        r = int(rng.integers(s // 30, s // 8))
        cx, cy = int(rng.integers(r + s // 10, width - r - s // 10)), int(rng.integers(r + s // 10, int(height * 0.78) - r))
        start = int(rng.integers(0, 360))
        d.arc([cx - r, cy - r, cx + r, cy + r], start, start + int(rng.integers(90, 361)), fill=0, width=stroke())
    # Lettering: labels over the drawing and lines of text in the title block.
    for _ in range(8):
        f = font(int(rng.integers(s // 60 + 8, s // 25 + 10)), rng)
        x, y = int(rng.integers(s // 10, int(width * 0.7))), int(rng.integers(s // 10, int(height * 0.75)))
        d.text((x, y), WORDS[int(rng.integers(len(WORDS)))], fill=0, font=f)
    f = font(max(10, s // 45), rng)
    for k in range(3):
        d.text((bx + s // 60, by + s // 60 + k * (s // 40)), WORDS[int(rng.integers(len(WORDS)))], fill=0, font=f)
    return img


def tilt_and_frame(img, tilt, margin, fill):
    """Turns anticlockwise about the centre keeping the size, then adds the margin on every side."""
    turned = img.rotate(tilt, resample=Image.BILINEAR, fillcolor=fill)
    framed = Image.new(img.mode, (img.width + 2 * margin, img.height + 2 * margin), fill)
    framed.paste(turned, (margin, margin))
    return framed


def make_scan(seed=1, tilt=3.0, width=2000, height=1500, margin=40):
    rng = np.random.default_rng(seed)
    ideal = tilt_and_frame(drawing(rng, width - 2 * margin, height - 2 * margin), tilt, margin, 255)
    truth = np.asarray(ideal) < 128
    grey = np.asarray(ideal.filter(ImageFilter.GaussianBlur(1.1)), np.float32) / 255.0
    h, w = grey.shape
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    # Light: brighter on one side, darker towards the corners, a shadow along the left edge.
    light = 1.0 - 0.25 * xx / w
    light *= 1.0 - 0.25 * (((xx - w / 2) / (w / 2)) ** 2 + ((yy - h / 2) / (h / 2)) ** 2) / 2
    light *= 1.0 - 0.5 * np.exp(-xx / (0.06 * w))
    # Paper: a slight tint, fine grain and blotches of a few pixels.
    blotch = np.asarray(Image.fromarray((rng.random((h // 8 + 1, w // 8 + 1)) * 255).astype(np.uint8))
                        .resize((w, h), Image.BICUBIC), np.float32) / 255.0
    paper = 0.93 + 0.04 * blotch
    ink = 0.12
    value = (ink + (paper - ink) * grey) * light
    rgb = np.stack([value * 1.0, value * 0.97, value * 0.9], axis=-1) * 255.0
    rgb += rng.normal(0, 5.0, rgb.shape)
    rgb = np.clip(rgb + 0.5, 0, 255).astype(np.uint8)
    jpeg = io.BytesIO()
    Image.fromarray(rgb, "RGB").save(jpeg, "JPEG", quality=70)
    return rgb, jpeg.getvalue(), truth


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        sys.exit(__doc__)

    def opt(name, default):
        return args[args.index(name) + 1] if name in args else default
    out = args[0]
    seed, tilt, count = int(opt("--seed", "1")), float(opt("--tilt", "3")), int(opt("--count", "1"))
    width, height = (int(v) for v in opt("--size", "2000x1500").split("x"))
    margin = int(opt("--margin", "40"))
    os.makedirs(out, exist_ok=True)
    for k in range(1, count + 1):
        _, jpeg, truth = make_scan(seed + k - 1, tilt, width, height, margin)
        with open(os.path.join(out, f"scan{k}.jpg"), "wb") as f:
            f.write(jpeg)
        Image.fromarray(np.where(truth, 0, 255).astype(np.uint8)).save(os.path.join(out, f"truth{k}.png"))
        print(f"{out}/scan{k}.jpg: {width}x{height}, tilt {tilt:g} degrees, seed {seed + k - 1}")


if __name__ == "__main__":
    main()
