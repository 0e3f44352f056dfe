#!/usr/bin/python3
"""Times the Python module `qel` against what Python users would otherwise call, on the 4000 x 3000
pictures of the peer benchmark, the arrays already in memory (no file I/O): thinning, grey, to-256,
scale, quantize, the formula transform, turns and flips; each peer gets its own in-memory form ready (a numpy
array, a Pillow image). Best of N runs, each on a fresh copy made outside the timing. Also the cost of one call on a
1 x 1 picture, and small pictures on a thread pool against one after another.
    bench/python-peers.py [--runs N]
Builds the module (release) in build-bench and installs the peers from Debian when missing.
Not part of the tests."""
import concurrent.futures
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUNS = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
WORK = os.path.join(os.environ.get("TMPDIR", "/tmp"), "qel-peers")

subprocess.run(["bash", "-c", ". bench/peers-setup.sh python3-pil python3-numpy python3-opencv python3-skimage && "
                "cmake --build build-bench --target qel_python >/dev/null"], cwd=ROOT, check=True)
sys.path.insert(0, os.path.join(ROOT, "build-bench", "python"))
os.makedirs(WORK, exist_ok=True)
if not all(os.path.exists(os.path.join(WORK, f)) for f in ("photo.bmp", "lines.bmp", "photo2.bmp")):
    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_pictures.py"), WORK], check=True)

import cv2  # noqa: E402
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402
from skimage.morphology import skeletonize  # noqa: E402

import qel  # noqa: E402

cv2.setNumThreads(os.cpu_count() or 1)
photo_rgb = np.asarray(Image.open(os.path.join(WORK, "photo.bmp")).convert("RGB")).copy()
photo_bgr = photo_rgb[..., ::-1].copy()
lines_img = Image.open(os.path.join(WORK, "lines.bmp"))
lines_idx = np.asarray(lines_img).copy()
lines_pal = np.array(lines_img.getpalette()[:768], np.uint8).reshape(-1, 3)
lines_ink = lines_idx == 0


def once(prepare, run):
    """Wall time of run(prepare()), the preparation untimed."""
    x = prepare()
    t = time.perf_counter()
    run(x)
    return time.perf_counter() - t


def best(prepare, run):
    """Best wall time of RUNS runs of run(prepare()), the preparation untimed."""
    return min(once(prepare, run) for _ in range(RUNS))


def qel_photo():
    return qel.Picture(photo_rgb)


def qel_lines():
    return qel.Picture(lines_idx, lines_pal)


def numpy_remap(a):
    h, w = a.shape[:2]
    ys, xs = np.mgrid[0:h, 0:w].astype(np.float32)
    out = cv2.remap(a, xs + 10 * np.sin(np.radians(ys)), ys, cv2.INTER_NEAREST)
    return np.clip(out.astype(np.int32) + (np.abs(xs - ys) / 8).astype(np.int32)[..., None], 0, 255).astype(np.uint8)


def blocks_mean(a):
    h, w = a.shape[:2]
    return a.reshape(h // 4, 4, w // 4, 4, 3).mean(axis=(1, 3)).astype(np.uint8)


jobs = [
    ("thin", (qel_lines, lambda p: p.thin()),
     [("scikit-image skeletonize", lambda: lines_ink.copy(), skeletonize)]),
    ("grey", (qel_photo, lambda p: p.grey()),
     [("opencv cvtColor", lambda: photo_bgr, lambda a: cv2.cvtColor(a, cv2.COLOR_BGR2GRAY)),
      ("pillow convert L", lambda: Image.fromarray(photo_rgb), lambda im: im.convert("L")),
      ("numpy weights", lambda: photo_rgb, lambda a: (a @ np.array([0.299, 0.587, 0.114], np.float32)).astype(np.uint8))]),
    ("to-256", (qel_photo, lambda p: p.to_256()),
     [("pillow quantize octree", lambda: Image.fromarray(photo_rgb),
       lambda im: im.quantize(256, method=Image.Quantize.FASTOCTREE)),
      ("numpy 3-3-2 bits", lambda: photo_rgb,
       lambda a: (a[..., 0] & 0xE0) | ((a[..., 1] & 0xE0) >> 3) | (a[..., 2] >> 6))]),
    ("scale 1/4", (qel_photo, lambda p: p.scale(1000, 750)),
     [("opencv resize area", lambda: photo_bgr, lambda a: cv2.resize(a, (1000, 750), interpolation=cv2.INTER_AREA)),
      ("pillow resize box", lambda: Image.fromarray(photo_rgb), lambda im: im.resize((1000, 750), Image.Resampling.BOX)),
      ("pillow reduce 4", lambda: Image.fromarray(photo_rgb), lambda im: im.reduce(4)),
      ("numpy block mean", lambda: photo_rgb, blocks_mean)]),
    ("quantize", (qel_photo, lambda p: p.quantize(256)),
     [("pillow quantize octree", lambda: Image.fromarray(photo_rgb),
       lambda im: im.quantize(256, method=Image.Quantize.FASTOCTREE))]),
    ("transform", (qel_photo, lambda p: p.transform("x+10*sin(y)", "y", "abs(x-y)/8")),
     [("numpy + opencv remap", lambda: photo_bgr, numpy_remap)]),
]

print(f"4000 x 3000, best of {RUNS}, seconds | ratio of qel to the fastest peer (goal <= 0.5)")
for name, (prepare, run), peers in jobs:
    q = best(prepare, run)
    times = [(peer, best(p, r)) for peer, p, r in peers]
    fastest = min(times, key=lambda t: t[1])
    line = " | ".join(f"{peer} {t:.3f}" for peer, t in times)
    print(f"{name:10} qel {q:.3f} | {line} | ratio to {fastest[0]}: {q / fastest[1]:.2f}")

# The averaging scale against OpenCV's area resize alone (goal <= 0.5), and the quantizer against
# Pillow's fast octree (goal <= 2), each pair timed in turns so that other load falls on both.
for name, (prepare, run), (peer, peer_prepare, peer_run), goal in [
        ("scale 1/4", jobs[3][1], jobs[3][2][0], 0.5), ("quantize", jobs[4][1], jobs[4][2][0], 2.0)]:
    q, p = [], []
    for _ in range(RUNS):
        q.append(once(prepare, run))
        p.append(once(peer_prepare, peer_run))
    print(f"{name:10} qel {min(q):.3f} | {peer} {min(p):.3f} | ratio {min(q) / min(p):.2f} (goal <= {goal})")

# Quarter turns and mirror images against a copy of the picture (goal <= 1.2 x numpy's copy), with
# numpy's own turns and flips (made contiguous, as a picture's rows are) beside them.
copy = best(lambda: photo_rgb, lambda a: a.copy())
print(f"numpy copy {copy:.4f} | qel copy {best(qel_photo, lambda p: p.copy()):.4f}")
for name, peer in [("flip_vertical", lambda a: np.ascontiguousarray(a[::-1])),
                   ("flip_horizontal", lambda a: np.ascontiguousarray(a[:, ::-1])),
                   ("rotate_180", lambda a: np.ascontiguousarray(a[::-1, ::-1])),
                   ("rotate_90", lambda a: np.ascontiguousarray(np.rot90(a, -1))),
                   ("rotate_270", lambda a: np.ascontiguousarray(np.rot90(a)))]:
    q = best(qel_photo, lambda p: getattr(p, name)())
    print(f"{name:15} qel {q:.4f} | numpy {best(lambda: photo_rgb, peer):.4f} | qel / copy {q / copy:.2f} (goal <= 1.2)")

one = qel.Picture(np.zeros((1, 1, 3), np.uint8))
for label, call in [("grey", one.grey), ("width", lambda: one.width)]:
    n = 200000
    t = time.perf_counter()
    for _ in range(n):
        call()
    print(f"one call on a 1 x 1 picture ({label}): {(time.perf_counter() - t) / n * 1e6:.2f} us (goal < 5)")

# Pictures small enough that each operation runs on one thread: the pool's gain is the GIL's release.
tiles = [(lines_idx[y:y + 250, x:x + 250].copy()) for y in range(0, 3000, 250) for x in range(0, 4000, 250)][:64]
pictures = lambda: [qel.Picture(t, lines_pal) for t in tiles]  # noqa: E731
serial = best(pictures, lambda ps: [p.thin() for p in ps])
with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
    threaded = best(pictures, lambda ps: list(pool.map(lambda p: p.thin(), ps)))
print(f"64 thinnings of 250 x 250: one after another {serial:.3f} s, on a pool of {os.cpu_count()} threads "
      f"{threaded:.3f} s")
