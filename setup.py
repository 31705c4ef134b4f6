"""Builds the module fastreads._fastreads with CMake: the library, static, and the module alone,
for the interpreter that runs this script; pyproject.toml has the rest."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent


def version():
    header = (SOURCE / "include" / "fast.h").read_text()
    return re.search(r'#define FAST_VERSION_STRING "([^"]+)"', header).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        args = [
            f"-DPython_EXECUTABLE={sys.executable}",
            "-DCMAKE_BUILD_TYPE=Release",
            "-DFAST_BUILD_TESTS=OFF",
            "-DFAST_INSTALL=OFF",
            "-DFAST_PYTHON=on",
        ]
        try:
            import pybind11

            args.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # CMake looks for it in the usual places
        jobs = os.environ.get("JOBS") or str(os.cpu_count() or 2)
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build), *args], check=True)
        subprocess.run(
            ["cmake", "--build", str(build), "--target", "_fastreads", "-j", jobs], check=True
        )
        built = sorted((build / "python" / "fastreads").glob("_fastreads*.so"))
        if not built:
            raise RuntimeError("CMake built no module fastreads._fastreads")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    version=version(),
    ext_modules=[Extension("fastreads._fastreads", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Beside the CMake trees (build*/ is ignored), not inside build/.
    options={"build": {"build_base": "build-python"}},
)
