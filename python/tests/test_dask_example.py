"""The Dask example on a local cluster of two workers writes what qel-batch writes for each file."""
import os
import pathlib
import subprocess
import sys

import numpy as np
from dask.distributed import Client, LocalCluster

import qel

sys.path.insert(0, str(pathlib.Path(__file__).parents[2] / "examples"))
import dask_thin  # noqa: E402

BATCH = os.environ.get("QEL_BATCH", "qel-batch")


def test_two_workers_give_the_one_file_results(tmp_path):
    (tmp_path / "in").mkdir()
    for i in range(6):
        bar = np.full((12, 14, 3), 255, np.uint8)
        bar[2 + i % 3:9, 1:12 - i] = 0
        qel.Picture(bar).save(str(tmp_path / "in" / f"p{i}.{['png', 'bmp', 'tif'][i % 3]}"))
    # A GIF beside a PNG of the same name keeps its own output; a damaged file is reported, not fatal.
    (tmp_path / "in" / "p0.gif").write_bytes(subprocess.run(
        ["convert", str(tmp_path / "in" / "p0.png"), "gif:-"], check=True, capture_output=True).stdout)
    (tmp_path / "in" / "bad.png").write_bytes((tmp_path / "in" / "p0.png").read_bytes()[:60])
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, Client(cluster) as client:
        outputs, failures = dask_thin.thin_folder(tmp_path / "in", tmp_path / "out", client)
    assert [pathlib.Path(o).name for o in outputs] == ["p0.gif.png", "p0.png", "p1.bmp", "p2.tif", "p3.png", "p4.bmp", "p5.tif"]
    assert len(failures) == 1 and "bad.png" in failures[0]
    outputs = outputs[1:]
    for out in outputs:
        one = tmp_path / ("one" + pathlib.Path(out).suffix)
        subprocess.run([BATCH, str(tmp_path / "in" / pathlib.Path(out).name), "--to-256", "--thin", "-o", str(one)],
                       check=True)
        assert pathlib.Path(out).read_bytes() == one.read_bytes(), out
