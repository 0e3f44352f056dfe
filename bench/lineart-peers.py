#!/usr/bin/python3
"""Line art from scans: Qel against what people would otherwise use, on the generated scans of
bench/make_scans.py (ink known exactly). Prints Markdown tables:
  - binarisation F-measure against the ink: qel-batch --adaptive-bw, scikit-image Sauvola (window 31,
    k 0.2), OpenCV adaptiveThreshold (Gaussian, window 31, C 10), Otsu (scikit-image) for reference;
  - speed on a 4000 x 3000 scan: in memory (Python: `import qel`, numpy arrays for the peers) and whole
    process (qel-batch; python3 -c for the peers), best of N runs; deskew too;
  - deskew accuracy over tilts from -10 to 10 degrees;
  - end to end: qel-batch scan.jpg --deskew --adaptive-bw --despeckle=8 --thin --tidy2 -o lines.svg,
    the SVG drawn by rsvg-convert and skeletonised: the share of its skeleton within 2 px of the ink's
    skeleton (and the other way round).
Rows for options this qel-batch refuses are left out with a note.
    bench/lineart-peers.py [--batch PATH] [--pythonpath DIR] [--runs N] [--step DEGREES] [--quick]
--batch picks qel-batch (default: build-bench/qel-batch, else build/qel-batch), --pythonpath the folder
holding the `qel` module (default: the python folder beside that qel-batch). Not part of the tests."""
import io
import os
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np
from PIL import Image
from scipy import ndimage
from skimage.filters import threshold_otsu, threshold_sauvola
from skimage.morphology import skeletonize

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from make_scans import make_scan  # noqa: E402

ARGS = sys.argv[1:]


def option(name, default):
    return ARGS[ARGS.index(name) + 1] if name in ARGS else default


QUICK = "--quick" in ARGS
RUNS = int(option("--runs", "1" if QUICK else "3"))
STEP = float(option("--step", "2" if QUICK else "1"))
default_batch = next((p for p in (os.path.join(ROOT, d, "qel-batch") for d in ("build-bench", "build")) if os.path.exists(p)),
                     "qel-batch")
BATCH = option("--batch", default_batch)
PYTHONPATH = option("--pythonpath", os.path.join(os.path.dirname(os.path.abspath(BATCH)), "python"))
sys.path.insert(0, PYTHONPATH)
try:
    import qel  # noqa: E402
except ImportError:
    qel = None
WORK = tempfile.mkdtemp(prefix="qel-lineart-")
WINDOW, SAUVOLA_K, CV_C = 31, 0.2, 10
notes = []


def batch(*args):
    return subprocess.run([BATCH, *args], capture_output=True, text=True)


def refused(result, what):
    """True, with a note, when qel-batch did not run `what` (an option it lacks, or a failure)."""
    if result.returncode == 0:
        return False
    why = (result.stderr.strip().splitlines() or ["exit status %d" % result.returncode])[0]
    notes.append(f"{what}: skipped ({why})")
    return True


def grey_of(rgb):
    return cv2.cvtColor(rgb, cv2.COLOR_RGB2GRAY)


def decoded(jpeg):
    return np.asarray(Image.open(io.BytesIO(jpeg)).convert("RGB"))


# Binarisations: the scan's JPEG file and its decoded pixels in, ink (bool) out; None when not available.
def qel_adaptive(path, rgb, k=None):
    out = os.path.join(WORK, "bw.png")
    option = "--adaptive-bw" if k is None else f"--adaptive-bw={WINDOW},{k}"
    if refused(batch(path, option, "-o", out), "qel " + option):
        return None
    return np.asarray(Image.open(out).convert("L")) < 128


def sauvola(path, rgb, k=SAUVOLA_K):
    g = grey_of(rgb)
    return g < threshold_sauvola(g, window_size=WINDOW, k=k)


def opencv(path, rgb):
    return cv2.adaptiveThreshold(grey_of(rgb), 255, cv2.ADAPTIVE_THRESH_GAUSSIAN_C, cv2.THRESH_BINARY, WINDOW, CV_C) == 0


def otsu(path, rgb):
    g = grey_of(rgb)
    return g < threshold_otsu(g)


# k 0.2 (the default) keeps faint strokes; Sauvola's own k 0.5 draws strokes closer to their true width.
METHODS = [("Qel `--adaptive-bw`", qel_adaptive), (f"scikit-image Sauvola (window {WINDOW}, k {SAUVOLA_K})", sauvola),
           (f"Qel `--adaptive-bw={WINDOW},0.5`", lambda p, rgb: qel_adaptive(p, rgb, 0.5)),
           (f"scikit-image Sauvola (window {WINDOW}, k 0.5)", lambda p, rgb: sauvola(p, rgb, 0.5)),
           (f"OpenCV adaptiveThreshold (Gaussian, {WINDOW}, C {CV_C})", opencv), ("Otsu (scikit-image), global", otsu)]


def f_measure(ink, truth):
    tp = np.count_nonzero(ink & truth)
    precision = tp / max(np.count_nonzero(ink), 1)
    recall = tp / max(np.count_nonzero(truth), 1)
    return precision, recall, 2 * precision * recall / max(precision + recall, 1e-12)


def write_scan(name, seed, tilt, w, h):
    rgb, jpeg, truth = make_scan(seed, tilt, w, h)
    path = os.path.join(WORK, name)
    with open(path, "wb") as f:
        f.write(jpeg)
    return path, decoded(jpeg), truth


def binarisation():
    seeds = [1] if QUICK else [1, 2, 3]
    scans = [write_scan(f"scan{s}.jpg", s, 3.0, 2000, 1500) for s in seeds]
    print(f"### Binarisation F-measure ({len(seeds)} scans of 2000 x 1500, tilt 3 degrees, JPEG q70)\n")
    print("| method | precision | recall | F-measure |")
    print("|---|---:|---:|---:|")
    for label, method in METHODS:
        scores = []
        for path, rgb, truth in scans:
            ink = method(path, rgb)
            if ink is None:
                break
            scores.append(f_measure(ink, truth))
        if len(scores) == len(scans):
            p, r, f = np.mean(scores, axis=0)
            print(f"| {label} | {p:.3f} | {r:.3f} | {f:.3f} |")
    print()


def best(run, prepare=lambda: None):
    times = []
    for _ in range(RUNS):
        x = prepare()
        t = time.perf_counter()
        run(x)
        times.append(time.perf_counter() - t)
    return min(times)


def speed():
    path, rgb, _ = write_scan("big.jpg", 7, 3.0, 4000, 3000)
    g = grey_of(rgb)
    print(f"### Speed on a 4000 x 3000 scan (best of {RUNS}, seconds)\n")
    print("| method | in memory | whole process |")
    print("|---|---:|---:|")
    py = sys.executable
    peer = ("import cv2, numpy as np, sys; from skimage.filters import {f}; g = cv2.imread(sys.argv[1], cv2.IMREAD_GRAYSCALE); "
            "cv2.imwrite(sys.argv[2], np.where(g < {call}, 0, 255).astype(np.uint8))")
    out = os.path.join(WORK, "speed.png")
    rows = []
    has_adaptive = qel is not None and hasattr(qel.Picture, "adaptive_bw")
    adaptive_ran = batch(path, "--adaptive-bw", "-o", out)
    if not refused(adaptive_ran, "qel --adaptive-bw speed"):
        memory = best(lambda p: p.adaptive_bw(), lambda: qel.Picture(rgb)) if has_adaptive else None
        rows.append(("Qel `--adaptive-bw`", memory, best(lambda _: batch(path, "--adaptive-bw", "-o", out))))
    rows.append((f"Sauvola ({WINDOW})", best(lambda _: g < threshold_sauvola(g, window_size=WINDOW, k=SAUVOLA_K)),
                 best(lambda _: subprocess.run([py, "-c", peer.format(f="threshold_sauvola", call=f"threshold_sauvola(g, window_size={WINDOW}, k={SAUVOLA_K})"), path, out], check=True))))
    rows.append((f"OpenCV adaptiveThreshold ({WINDOW})",
                 best(lambda _: cv2.adaptiveThreshold(g, 255, cv2.ADAPTIVE_THRESH_GAUSSIAN_C, cv2.THRESH_BINARY, WINDOW, CV_C)),
                 best(lambda _: subprocess.run([py, "-c", peer.format(f="threshold_otsu", call=f"cv2.adaptiveThreshold(g, 255, cv2.ADAPTIVE_THRESH_GAUSSIAN_C, cv2.THRESH_BINARY, {WINDOW}, {CV_C})"), path, out], check=True))))
    rows.append(("Otsu", best(lambda _: g < threshold_otsu(g)),
                 best(lambda _: subprocess.run([py, "-c", peer.format(f="threshold_otsu", call="threshold_otsu(g)"), path, out], check=True))))
    memory = best(lambda p: p.deskew(), lambda: qel.Picture(rgb)) if qel is not None else None
    # BMP out: writing a 4000 x 3000 24-bit PNG would cost several times the deskew itself.
    rows.append(("Qel `--deskew` (to BMP)", memory, best(lambda _: batch(path, "--deskew", "-o", os.path.join(WORK, "upright.bmp")))))
    for label, memory, whole in rows:
        print(f"| {label} | {'-' if memory is None else f'{memory:.3f}'} | {whole:.3f} |")
    print()


def deskew_accuracy():
    tilts = np.round(np.arange(-10, 10 + STEP / 2, STEP), 3)
    print(f"### Deskew accuracy (scans of 2000 x 1500, seed 11, JPEG q70; tilt anticlockwise, degrees)\n")
    print("| true | found | error |")
    print("|---:|---:|---:|")
    errors = []
    for t in tilts:
        path, _, _ = write_scan("tilt.jpg", 11, float(t), 2000, 1500)
        r = batch(path, "--deskew")
        if refused(r, "qel --deskew"):
            return
        found = float(r.stdout.split()[0])
        errors.append(abs(found - t))
        print(f"| {t:g} | {found:.2f} | {found - t:+.2f} |")
    print(f"\nLargest error {max(errors):.2f} degrees over {len(errors)} tilts.\n")


def end_to_end():
    print("### End to end: scan to centre lines (2000 x 1500, tilt 3 degrees)\n")
    seed = 5
    path, _, _ = write_scan("e2e.jpg", seed, 3.0, 2000, 1500)
    upright = make_scan(seed, 0.0, 2000, 1500)[2]  # deskew turns about the centre, keeping the size
    truth = skeletonize(upright)
    pipelines = [("`--deskew --adaptive-bw --despeckle=8 --thin --tidy2`",
                  ["--deskew", "--adaptive-bw", "--despeckle=8", "--thin", "--tidy2"]),
                 # A stand-in with a global threshold on the colour table, for the trace and the comparison.
                 ("stand-in: `--deskew --to-256 --black-white=110 --thin --tidy2`",
                  ["--deskew", "--to-256", "--black-white=110", "--thin", "--tidy2"])]
    print("| pipeline | seconds | skeleton near the ink's (precision) | ink's skeleton found (recall) |")
    print("|---|---:|---:|---:|")
    near_truth = ndimage.distance_transform_edt(~truth) <= 2
    for label, options in pipelines:
        svg, png = os.path.join(WORK, "lines.svg"), os.path.join(WORK, "lines.png")
        t = time.perf_counter()
        r = batch(path, *options, "-o", svg)
        seconds = time.perf_counter() - t
        if refused(r, "end to end " + " ".join(options)):
            continue
        subprocess.run(["rsvg-convert", "-b", "white", svg, "-o", png], check=True)
        drawn = np.asarray(Image.open(png).convert("L")) < 128
        skeleton = skeletonize(drawn)
        precision = np.count_nonzero(skeleton & near_truth) / max(np.count_nonzero(skeleton), 1)
        recall = np.count_nonzero(truth & (ndimage.distance_transform_edt(~skeleton) <= 2)) / max(np.count_nonzero(truth), 1)
        print(f"| {label} | {seconds:.2f} | {precision:.3f} | {recall:.3f} |")
    print()


if __name__ == "__main__":
    print(f"qel-batch: {BATCH}; module: {qel.__file__ if qel else 'not found in ' + PYTHONPATH}\n")
    binarisation()
    speed()
    deskew_accuracy()
    end_to_end()
    for n in dict.fromkeys(notes):
        print(f"- {n}")
