"""Installed the ways Python programmers install: pip install . into a virtual environment (offline,
with Debian's setuptools) and cmake --install into a prefix; each imports from there, and mypy
finds the types of the installed package."""
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).parents[2]
BUILD = os.environ.get("QEL_BUILD_DIR")


@pytest.mark.skipif(not BUILD, reason="needs the CMake build the tests run from (QEL_BUILD_DIR)")
def test_pip_and_cmake_install_where_python_looks(tmp_path):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    venv = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    subprocess.run([python, "-m", "pip", "install", "-q", "--no-build-isolation", "--no-index", str(ROOT)],
                   check=True, env=env, cwd=tmp_path)
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", BUILD, "--component", "python", "--prefix", str(prefix)], check=True)
    site = prefix / "lib" / f"python{sys.version_info.major}.{sys.version_info.minor}" / "site-packages"
    use = tmp_path / "use.py"
    use.write_text("import numpy\nimport qel\n"
                   "pic: qel.Picture = qel.Picture(numpy.zeros((2, 2, 3), numpy.uint8)).to_256()\n"
                   "width: int = pic.width\nprint(qel.__file__)\n")
    for where, extra in ((venv, {}), (site, {"PYTHONPATH": str(site)})):
        out = subprocess.run([python, str(use)], check=True, capture_output=True, text=True, env={**env, **extra}).stdout
        assert out.startswith(str(where)), out
    if shutil.which("mypy"):
        check = ["mypy", "--no-incremental", "--python-executable", python, str(use)]
        subprocess.run(check, check=True, cwd=tmp_path, env=env)
        use.write_text("import qel\nname: str = qel.open('p.png').width\n")
        assert subprocess.run(check, cwd=tmp_path, env=env, capture_output=True).returncode == 1
