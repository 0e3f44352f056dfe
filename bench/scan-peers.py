#!/usr/bin/python3
"""Times the scan clean-up against what Python users would otherwise call, on 4000 x 3000 pictures:
  adaptive-bw   qel adaptive_bw() (window 31, k 0.2) from the 24-bit picture, grey included, against
                scikit-image threshold_sauvola + compare and OpenCV adaptiveThreshold (mean, same window),
                both given the grey array ready (cvtColor untimed);
  despeckle     qel despeckle(64) on the black-and-white result against scikit-image
                remove_small_objects (8-connected), alone and with remove_small_holes.
In memory (best of N runs, each on a fresh copy made outside the timing), then whole processes
(read the file, threshold, write a PNG). The pictures: the peer benchmark's photo, and a drawing
(its lines.bmp) photographed under light falling from one corner, with sensor noise.
    bench/scan-peers.py [--runs N] [--build DIR]
Without --build, builds the module (release) in build-bench and installs the peers from Debian when
missing. Not part of the tests."""
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUNS = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
BUILD = sys.argv[sys.argv.index("--build") + 1] if "--build" in sys.argv else None
WORK = os.path.join(os.environ.get("TMPDIR", "/tmp"), "qel-peers")

if BUILD is None:
    BUILD = os.path.join(ROOT, "build-bench")
    subprocess.run(["bash", "-c", ". bench/peers-setup.sh python3-pil python3-numpy python3-opencv python3-skimage && "
                    "cmake --build build-bench --target qel_python >/dev/null"], cwd=ROOT, check=True)
BUILD = os.path.abspath(BUILD)
sys.path.insert(0, os.path.join(BUILD, "python"))
os.makedirs(WORK, exist_ok=True)
if not all(os.path.exists(os.path.join(WORK, f)) for f in ("photo.bmp", "lines.bmp")):
    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_pictures.py"), WORK], check=True)

import cv2  # noqa: E402
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402
from skimage.filters import threshold_sauvola  # noqa: E402
from skimage.morphology import remove_small_holes, remove_small_objects  # noqa: E402

import qel  # noqa: E402

cv2.setNumThreads(os.cpu_count() or 1)
WINDOW, K, SPECK = 31, 0.2, 64

# The drawing photographed: light from 250 at the top left down to 110 at the bottom right, ink at a
# third of the light, noise of 8 grey levels.
scan_path = os.path.join(WORK, "scan.png")
if not os.path.exists(scan_path):
    ink = np.asarray(Image.open(os.path.join(WORK, "lines.bmp"))) == 0
    h, w = ink.shape
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    light = 250 - 140 * (x / w + y / h) / 2
    grey = light * np.where(ink, 0.33, 1.0) + np.random.default_rng(5).normal(0, 8, ink.shape)
    rgb = np.clip(np.stack([grey * 1.02, grey, grey * 0.95], -1), 0, 255).astype(np.uint8)
    Image.fromarray(rgb).save(scan_path)
pictures = {"photo": np.asarray(Image.open(os.path.join(WORK, "photo.bmp")).convert("RGB")).copy(),
            "scan": np.asarray(Image.open(scan_path).convert("RGB")).copy()}


def best(prepare, run):
    """Best wall time and best processor time (all threads) of RUNS runs of run(prepare()), the
    preparation untimed: on a busy machine the processor time still compares the work done."""
    wall, cpu = [], []
    for _ in range(RUNS):
        x = prepare()
        t, c = time.perf_counter(), time.process_time()
        run(x)
        wall.append(time.perf_counter() - t)
        cpu.append(time.process_time() - c)
    return min(wall), min(cpu)


def line(name, q, peers):
    print(f"{name:22} qel {q[0]:.3f} ({q[1]:.3f}) | " + " | ".join(
        f"{p} {t[0]:.3f} ({t[1]:.3f}), qel/peer {q[0] / t[0]:.2f} ({q[1] / t[1]:.2f})" for p, t in peers))


print(f"4000 x 3000 in memory, best of {RUNS}, seconds of wall (processor) time; goals: <= 0.5 x scikit-image, <= 1 x OpenCV")
for name, rgb in pictures.items():
    grey = cv2.cvtColor(rgb, cv2.COLOR_RGB2GRAY)
    q = best(lambda: qel.Picture(rgb), lambda p: p.adaptive_bw(WINDOW, K))
    line(f"adaptive-bw {name}", q, [
        ("scikit-image sauvola", best(lambda: grey, lambda g: g < threshold_sauvola(g, window_size=WINDOW, k=K))),
        ("opencv adaptiveThreshold mean", best(lambda: grey, lambda g: cv2.adaptiveThreshold(
            g, 255, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, WINDOW, 10)))])
    bw = qel.Picture(rgb).adaptive_bw(WINDOW, K)
    idx, pal = np.asarray(bw).copy(), np.asarray(bw.palette, np.uint8)
    ink = idx == 0
    q = best(lambda: qel.Picture(idx, pal), lambda p: p.despeckle(SPECK))
    line(f"despeckle {name}", q, [
        ("remove_small_objects", best(lambda: ink.copy(), lambda a: remove_small_objects(a, SPECK, connectivity=2))),
        ("+ remove_small_holes", best(lambda: ink.copy(), lambda a: remove_small_holes(
            remove_small_objects(a, SPECK, connectivity=2), SPECK, connectivity=1)))])

# Whole processes: read the picture, threshold it, write a PNG.
out = os.path.join(WORK, "scan-out.png")
qel_batch = os.path.join(BUILD, "qel-batch")
peers = {
    "qel-batch": [qel_batch, scan_path, f"--adaptive-bw={WINDOW},{K}", "-o", out],
    "python + opencv": [sys.executable, "-c",
                        "import cv2,sys; g=cv2.imread(sys.argv[1], cv2.IMREAD_GRAYSCALE); "
                        f"cv2.imwrite(sys.argv[2], cv2.adaptiveThreshold(g, 255, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, {WINDOW}, 10))",
                        scan_path, out],
    "python + scikit-image": [sys.executable, "-c",
                              "import sys, numpy as np; from skimage import io; from skimage.filters import threshold_sauvola; "
                              "g=io.imread(sys.argv[1], as_gray=True)*255; "
                              f"io.imsave(sys.argv[2], ((g >= threshold_sauvola(g, window_size={WINDOW}, k={K}))*255).astype(np.uint8), check_contrast=False)",
                              scan_path, out],
}


def whole(cmd):
    """Best wall time and the children's processor time of RUNS runs of a process."""
    wall, cpu = [], []
    for _ in range(RUNS):
        before, t = os.times(), time.perf_counter()
        subprocess.run(cmd, check=True)
        after = os.times()
        wall.append(time.perf_counter() - t)
        cpu.append(after.children_user + after.children_system - before.children_user - before.children_system)
    return min(wall), min(cpu)


times = {name: whole(cmd) for name, cmd in peers.items()}
q = times["qel-batch"]
print("whole process, scan.png -> PNG: " + " | ".join(f"{n} {t[0]:.3f} ({t[1]:.3f})" for n, t in times.items()) +
      "".join(f" | qel-batch / {n} {q[0] / t[0]:.2f} ({q[1] / t[1]:.2f})" for n, t in times.items() if n != "qel-batch"))
