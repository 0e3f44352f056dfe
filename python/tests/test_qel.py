"""The Python module on tiny pictures: numpy round trips, qel-batch's bytes, refusals, threads."""
import concurrent.futures
import os
import subprocess

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
    assert np.array_equal(np.asarray(pic), array.astype(np.uint8))
    pic.save(str(tmp_path / "p.png"))
    assert np.array_equal(np.asarray(qel.open(str(tmp_path / "p.png"))), array.astype(np.uint8))


def test_palette_and_view_without_copy():
    palette = np.array([[9, 9, 0], [0, 9, 9], [9, 0, 9]], np.uint8)
    pic = qel.Picture(np.array([[2, 0]], np.uint8), palette)
    assert np.array_equal(pic.palette[:3], palette)
    view = np.asarray(pic)
    view[0, 0] = 1
    assert np.asarray(pic)[0, 0] == 1


def test_operations_give_qel_batch_bytes(tmp_path):
    bar = np.full((5, 6, 3), 255, np.uint8)
    bar[1:4, :5] = 0
    qel.Picture(bar).save(str(tmp_path / "in.bmp"))
    cases = [(["--reduce-256", "--to-256"], lambda p: (p.reduce_256(), p.to_256())),
             (["--to-256", "--thin"], lambda p: (p.to_256(), p.thin())),
             (["--transform=y;x;x*40"], lambda p: p.transform("y", "x", "x*40")),
             (["--scale=4x3;nearest"], lambda p: p.scale(4, 3, nearest=True))]
    for options, run in cases:
        subprocess.run([BATCH, str(tmp_path / "in.bmp"), *options, "-o", str(tmp_path / "batch.bmp")], check=True)
        pic = qel.open(str(tmp_path / "in.bmp"))
        run(pic)
        pic.save(str(tmp_path / "py.bmp"))
        assert (tmp_path / "py.bmp").read_bytes() == (tmp_path / "batch.bmp").read_bytes(), options


def test_refusal_raises_with_the_reason():
    with pytest.raises(qel.Refused, match="thin: needs a 8-bit picture; this picture is 24-bit"):
        qel.Picture(np.zeros((2, 2, 3), np.uint8)).thin()
    assert qel.calc("sin(30)+2^3") == "8.500000"


def test_threads_run_pictures_side_by_side():
    pictures = [qel.Picture(np.full((300, 300, 3), i * 40, np.uint8)) for i in range(4)]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        list(pool.map(lambda p: (p.grey(), p.scale(200, 200)), pictures))
    assert [np.asarray(p)[0, 0, 0] for p in pictures] == [0, 40, 80, 120]
