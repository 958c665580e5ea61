"""Builds the compiled core shapescale._core with the project's CMake build
(option SHAPESCALE_PYTHON) for the interpreter that runs pip, in build-pip/.
Needs cmake, a C++20 compiler, pybind11 and the Python headers (Debian:
scripts/setup-deps); no network."""

import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = ROOT / "build-pip"
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 2))
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir),
                        "-DCMAKE_BUILD_TYPE=Release", "-DSHAPESCALE_PYTHON=ON",
                        "-DSHAPESCALE_TESTS=OFF", f"-DPython3_EXECUTABLE={sys.executable}"],
                       check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "shapescale_python",
                        "-j", jobs], check=True)
        # The module built for this interpreter, not one left by another's build.
        built = build_dir / "python" / "shapescale" / ("_core" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not built.is_file():
            raise RuntimeError(f"the build left no {built.name} in {built.parent}")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[Extension("shapescale._core", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
