"""Thins every picture of a folder on a Dask cluster, one task per file, each opening, running and
saving its picture with qel. The outputs are what `qel-batch --to-256 --thin` writes for each file.

    python3 examples/dask_thin.py IN_DIR OUT_DIR [SCHEDULER]

SCHEDULER is a running cluster's address (tcp://host:8786); without it a local cluster of this
machine's cores runs the files. Each worker must be able to `import qel` and read and write the
folders (a shared file system). Each input keeps its own output (a.gif becomes a.gif.png, beside
a.png); a file that cannot be read or thinned is reported at the end and the others go on. Exit
status as qel-batch's: 0 all done, 4 some failed.
"""
import pathlib
import sys

import dask.bag
from dask.distributed import Client, LocalCluster

PICTURES = {".bmp", ".png", ".jpg", ".jpeg", ".tif", ".tiff", ".webp", ".gif"}


def thin_file(path, out_dir):
    """Thins one picture into out_dir (adding .png when qel cannot write its format); returns the
    output, or the reason it failed as ("failed", reason)."""
    import qel  # imported on the worker

    try:
        pic = qel.open(path)
        if pic.depth < 8:
            pic.to_24bit()
        if pic.depth == 24:
            pic.to_256()
        pic.thin()
        out = pathlib.Path(out_dir) / pathlib.Path(path).name
        if out.suffix.lower() == ".gif":
            out = out.with_name(out.name + ".png")
        pic.save(str(out))
        return str(out)
    except (OSError, qel.Refused) as error:
        return ("failed", f"{path}: {error}")


def thin_folder(in_dir, out_dir, client):
    """Thins the pictures of in_dir on the client's cluster; returns the outputs in file order and
    the failures."""
    files = sorted(str(p) for p in pathlib.Path(in_dir).iterdir() if p.suffix.lower() in PICTURES)
    pathlib.Path(out_dir).mkdir(parents=True, exist_ok=True)
    workers = max(1, len(client.scheduler_info()["workers"]))
    bag = dask.bag.from_sequence(files, npartitions=min(len(files), 4 * workers) or 1)
    results = bag.map(thin_file, str(out_dir)).compute()
    return [r for r in results if isinstance(r, str)], [r[1] for r in results if not isinstance(r, str)]


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    with Client(sys.argv[3]) if len(sys.argv) == 4 else Client(LocalCluster()) as client:
        outputs, failures = thin_folder(sys.argv[1], sys.argv[2], client)
    for out in outputs:
        print(out)
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"{len(outputs)} done, {len(failures)} failed", file=sys.stderr)
    sys.exit(4 if failures else 0)
