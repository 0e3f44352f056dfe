"""The Python module on tiny pictures: numpy round trips, qel-batch's bytes, refusals, threads."""
import ast
import concurrent.futures
import copy
import io
import os
import pathlib
import pickle
import subprocess
import sys
import threading

import numpy as np
import pytest

import qel

BATCH = os.environ.get("QEL_BATCH", "qel-batch")


@pytest.mark.parametrize("array, depth", [
    (np.array([[[255, 0, 0], [0, 0, 255]], [[1, 2, 3], [4, 5, 6]]], np.uint8), 24),
    (np.array([[0, 1, 2], [2, 1, 0]], np.uint8), 8),
    (np.array([[True, False, True], [False, True, False]]), 1),
])
def test_round_trip_each_depth(array, depth, tmp_path):
    pic = qel.Picture(array)
    assert (pic.width, pic.height, pic.depth) == (array.shape[1], array.shape[0], depth)
    assert np.asarray(pic).dtype == array.dtype and np.array_equal(np.asarray(pic), array)
    pic.save(str(tmp_path / "p.png"))
    assert np.array_equal(np.asarray(qel.open(str(tmp_path / "p.png"))), array)
    assert np.array_equal(np.asarray(qel.Picture(np.asarray(pic))), array)  # 1-bit stays 1-bit


def test_palette_and_views_over_the_rows():
    palette = np.array([[9, 9, 0], [0, 9, 9], [9, 0, 9]], np.uint8)
    pic = qel.Picture(np.array([[2, 0]], np.uint8), palette)
    assert np.array_equal(pic.palette[:3], palette)
    view = np.asarray(pic)
    view[0, 0] = 1
    assert np.asarray(pic)[0, 0] == 1
    # An operation that replaces the rows leaves a view holding them as they were.
    pic = qel.Picture(np.full((64, 64, 3), 200, np.uint8))
    view = np.asarray(pic)
    pic.scale(8, 8)
    pic.to_256()
    assert view.shape == (64, 64, 3) and (view == 200).all()


def test_arrays_outlive_their_picture_and_half_made_pictures_refuse(tmp_path):
    # Pictures nobody keeps (rows of 1 MB: freed memory is returned to the system at once).
    qel.Picture(np.full((600, 600, 3), 7, np.uint8)).save(str(tmp_path / "p.png"))
    arrays = [np.asarray(qel.Picture(np.full((600, 600, 3), 7, np.uint8))), np.asarray(qel.open(str(tmp_path / "p.png")))]
    litter = [np.full((600, 600, 3), 99, np.uint8) for _ in range(4)]
    assert all((a == 7).all() for a in arrays) and len(litter) == 4
    blank = qel.Picture.__new__(qel.Picture)
    for use in (lambda: blank.width, lambda: np.asarray(blank), blank.thin, lambda: qel.Picture.depth.fget(3)):
        with pytest.raises(TypeError):
            use()


def test_files_paths_bytes_copies_and_errors_as_python_has_them(tmp_path):
    pic = qel.Picture(np.array([[[255, 0, 0], [0, 9, 255]]], np.uint8))
    pic.save(tmp_path / "p.png")
    stream = io.BytesIO()
    pic.save(stream, format="bmp")
    same = [qel.open(tmp_path / "p.png"), qel.open(stream.getvalue()), qel.open(io.BytesIO(pic.to_bytes("tif"))),
            qel.from_bytes(bytearray(pic.to_bytes("webp"))), pickle.loads(pickle.dumps(pic)), copy.deepcopy(pic), pic.copy()]
    assert all(np.array_equal(np.asarray(p), np.asarray(pic)) for p in same) and repr(pic) == "<qel.Picture 2x1 24-bit>"
    assert same[0].copy().info["format"] == "PNG"
    same[-1].grey()
    assert np.asarray(pic)[0, 1, 1] == 9
    pic.save(tmp_path / "e.png", effort=1)
    assert np.array_equal(np.asarray(qel.open(tmp_path / "e.png")), np.asarray(pic))
    assert pic.to_bytes("png", effort=7) == pic.to_bytes("png") != pic.to_bytes("png", effort=1)
    for path, effort, says in ((tmp_path / "e.png", 10, "effort must be from 1 to 9"), (tmp_path / "e.bmp", 3, "PNG files only")):
        with pytest.raises(OSError, match=says):
            pic.save(path, effort=effort)
    with pytest.raises(FileNotFoundError) as missing:
        qel.open(tmp_path / "missing.png")
    assert missing.value.filename == str(tmp_path / "missing.png")
    with pytest.raises(FileNotFoundError):
        pic.save(tmp_path / "no" / "p.png")
    with pytest.raises(OSError, match="not a picture"):
        qel.open(b"not a picture")
    for call, error in ((lambda: pic.mix(tmp_path / "missing.png"), FileNotFoundError),
                        (lambda: qel.open(tmp_path / "p.png").to_16().load_palette(tmp_path), IsADirectoryError),
                        (lambda: qel.open(tmp_path / "p.png").to_16().save_palette(tmp_path / "no" / "p.pal"), FileNotFoundError)):
        with pytest.raises(error):
            call()
    assert np.array_equal(np.asarray(pic.copy().mix(tmp_path / "p.png", 1.0)), np.asarray(pic))  # any format mixes


def test_operations_give_qel_batch_bytes(tmp_path):
    bar = np.full((5, 6, 3), 255, np.uint8)
    bar[1:4, :5] = 0
    qel.Picture(bar).save(str(tmp_path / "in.bmp"))
    cases = [(["--reduce-256", "--to-256"], lambda p: (p.reduce_256(), p.to_256())),
             (["--to-256", "--thin"], lambda p: (p.to_256(), p.thin())),
             (["--transform=y;x;x*40"], lambda p: p.transform("y", "x", "x*40")),
             (["--scale=4x3;nearest"], lambda p: p.scale(4, 3, nearest=True)),
             (["--to-256", "--merge-near=20000", "--organise"], lambda p: (p.to_256(), p.merge_near(distance=20000), p.organise())),
             ([f"--mix={tmp_path / 'in.bmp'};0.25;1,1,3,2"], lambda p: p.mix(str(tmp_path / "in.bmp"), 0.25, area=(1, 1, 3, 2))),
             (["--to-256", "--black-white=128"], lambda p: (p.to_256(), p.black_white(threshold=128))),
             (["--quantize=3;dither"], lambda p: p.quantize(3, dither=True)),
             (["--rotate-90", "--crop=1,0,3,4"], lambda p: (p.rotate_90(), p.crop(1, 0, 3, 4))),
             (["--adaptive-bw=3", "--despeckle=2", "--to-24bit", "--to-256", "--black-white-auto"],
              lambda p: (p.adaptive_bw(3), p.despeckle(2), p.to_24bit(), p.to_256(), p.black_white_auto())),
             (["--deskew"], lambda p: p.deskew())]
    for options, run in cases:
        subprocess.run([BATCH, str(tmp_path / "in.bmp"), *options, "-o", str(tmp_path / "batch.bmp")], check=True)
        pic = qel.open(str(tmp_path / "in.bmp"))
        run(pic)
        pic.save(str(tmp_path / "py.bmp"))
        assert (tmp_path / "py.bmp").read_bytes() == (tmp_path / "batch.bmp").read_bytes(), options


def test_rand_gives_qel_batch_bytes_on_any_thread(tmp_path):
    qel.Picture(np.full((9, 7, 3), 40, np.uint8)).save(str(tmp_path / "in.bmp"))
    rand = "--transform=x;y;rand(255);1,1,1"
    subprocess.run([BATCH, str(tmp_path / "in.bmp"), rand, "-o", str(tmp_path / "one.bmp")], check=True)
    for jobs in ("1", "2"):
        subprocess.run([BATCH, rand, "-j", jobs, "--force", "--out-dir", str(tmp_path / jobs), str(tmp_path / "in.bmp")], check=True)
        assert (tmp_path / jobs / "in.bmp").read_bytes() == (tmp_path / "one.bmp").read_bytes()
    pictures = [qel.open(str(tmp_path / "in.bmp")) for _ in range(6)]
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        list(pool.map(lambda p: p.transform("x", "y", "rand(255)"), pictures))
    for i, pic in enumerate(pictures):
        pic.save(str(tmp_path / f"py{i}.bmp"))
        assert (tmp_path / f"py{i}.bmp").read_bytes() == (tmp_path / "one.bmp").read_bytes()


def test_reports_and_every_option_is_a_method(tmp_path):
    qel.Picture(np.zeros((2, 3, 3), np.uint8)).save(str(tmp_path / "in.png"))
    batch = subprocess.run([BATCH, str(tmp_path / "in.png"), "--info", "--count-colours"], check=True,
                           capture_output=True, text=True).stdout
    pic = qel.open(str(tmp_path / "in.png"))
    assert pic.info == {"width": 3, "height": 2, "depth": 24, "pixel_bytes": 24, "colours": 1 << 24, "format": "PNG"}
    assert pic.count_colours() == int(batch.splitlines()[-1]) == 1
    usage = subprocess.run([BATCH, "--help"], capture_output=True, text=True).stdout
    options = [line.split()[0][2:].split("=")[0].rstrip("[") for line in usage.split("Operations:")[1].splitlines()
               if line.startswith("  --")]
    names = [{"palette": "load_palette"}.get(o, o.replace("-", "_")) for o in options]
    assert len(names) > 20
    assert [n for n in names if not hasattr(qel.Picture, n) and not hasattr(qel, n)] == []
    stubs = ast.parse(pathlib.Path(qel.__file__).with_name("__init__.pyi").read_text())
    picture = next(node for node in stubs.body if getattr(node, "name", "") == "Picture")
    assert {f.name for f in picture.body if isinstance(f, ast.FunctionDef)} >= {
        n for n in dir(qel.Picture) if not n.startswith("_")}


def test_values_are_taken_as_they_are_or_refused():
    pixels = np.zeros((2, 2), np.uint8)
    for palette, error in (([[0, 0, 255]], TypeError), (np.array([[0.5, 0.5, 1.0]]), TypeError),
                           (np.array([[300, -1, 0]]), TypeError), (np.zeros((2, 4), np.uint8), ValueError)):
        with pytest.raises(error):
            qel.Picture(pixels, palette)
    for array in (np.zeros((2, 2, 3), np.uint8), np.zeros((2, 2), bool)):
        with pytest.raises(ValueError, match="palette goes with"):
            qel.Picture(array, np.zeros((2, 3), np.uint8))
    huge = np.lib.stride_tricks.as_strided(np.zeros(1, np.uint8), (20000, 20000), (0, 0))
    with pytest.raises(ValueError, match="268435456"):
        qel.Picture(huge)


def test_operations_chain_and_tell_what_they_did():
    pic = qel.Picture(np.zeros((4, 4, 3), np.uint8))
    assert pic.to_256().thin() is pic and pic.changed and pic.thinned
    assert pic.merge_near(distance=5) is pic and not pic.changed and pic.reason == "merged in the working palette"


def test_refusal_raises_with_the_reason():
    with pytest.raises(qel.Refused, match="thin needs a 8-bit picture; this picture is 24-bit"):
        qel.Picture(np.zeros((2, 2, 3), np.uint8)).thin()
    for array in (np.zeros((0, 3, 3), np.uint8), np.zeros((2, 70000), np.uint8)):
        with pytest.raises(ValueError):
            qel.Picture(array)
    assert qel.calc("sin(30)+2^3") == "8.500000"
    with pytest.raises(ValueError, match="not a valid formula"):
        qel.calc("1+")


def test_threads_run_pictures_side_by_side():
    pictures = [qel.Picture(np.full((300, 300, 3), i * 40, np.uint8)) for i in range(4)]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        list(pool.map(lambda p: (p.grey(), p.scale(200, 200)), pictures))
    assert [np.asarray(p)[0, 0, 0] for p in pictures] == [0, 40, 80, 120]
    # Python runs on while an operation works. The counter gives the interpreter up at every turn and
    # the switch interval is made long, so an operation holding it would let the counter run not once;
    # how often it runs depends on the machine's load, so once is all that is asked.
    started, stop, count = threading.Event(), False, 0

    def counter():
        nonlocal count
        started.set()
        while not stop:
            count += 1
            os.sched_yield()

    pic = qel.Picture(np.full((3000, 3000, 3), 90, np.uint8))
    interval, thread = sys.getswitchinterval(), threading.Thread(target=counter)
    sys.setswitchinterval(1000)
    try:
        thread.start()
        started.wait()
        before = count
        pic.scale(2999, 2999)
        during = count - before
    finally:
        stop = True
        thread.join()
        sys.setswitchinterval(interval)
    assert during > 0


def test_deskew_returns_the_picture_and_notes_the_tilt():
    pic = qel.Picture(np.full((5, 6, 3), 255, np.uint8))
    assert pic.deskew() is pic and (pic.note, pic.changed) == ("0.00", False)
