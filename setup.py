"""Builds the package qel with CMake for pip: the extension qel._qel, __init__.py, py.typed and the
type stubs, as the CMake target qel_python makes them in BUILD/python/qel. QEL_BUILD_DIR names an
already configured CMake build to use (the tests' own); otherwise one is made in build/pip."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = pathlib.Path(__file__).parent.resolve()


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(os.environ.get("QEL_BUILD_DIR") or HERE / "build" / "pip")
        if not (build / "CMakeCache.txt").exists():
            subprocess.run(["cmake", "-S", str(HERE), "-B", str(build), "-DQEL_GUI=OFF", "-DQEL_TESTS=OFF",
                            f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "qel_python"], check=True)
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).parent
        shutil.copytree(build / "python" / "qel", target, dirs_exist_ok=True,
                        ignore=shutil.ignore_patterns("__pycache__"))


version = re.search(r"project\(Qel VERSION ([0-9.]+)", (HERE / "CMakeLists.txt").read_text()).group(1)
setup(version=version, ext_modules=[Extension("qel._qel", [])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build/setuptools"}, "egg_info": {"egg_base": "build"}})
