"""The Python module's build for pip: CMake builds the package folder (the
extension and the Corvane.p beside it) for the interpreter pip runs, and
its two binaries join the Python files in the wheel. pyproject.toml holds
the rest; see the README for the command."""
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
# setuptools' own folders go inside the CMake build folder the README's
# commands use, not beside it or in the sources.
BUILD_BASE = "build/pip"


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        # CORVANE_CMAKE_BUILD_DIR: a tree configured already (scripts/python.sh
        # names the checkout's build/), built as it is; else a tree of the
        # wheel's own, for the interpreter running pip.
        tree = os.environ.get("CORVANE_CMAKE_BUILD_DIR")
        if tree:
            tree = pathlib.Path(tree).resolve()
        else:
            tree = pathlib.Path(self.build_temp).resolve() / "cmake"
            self.configure(tree)
        subprocess.run(["cmake", "--build", str(tree), "--target", "corvane_python", "-j", str(os.cpu_count() or 1)],
                       check=True)
        built = tree / "python" / "corvane"
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(next(built.glob("_corvane.*.so")), target)
        for module in ("Corvane.p", "CorvaneLarge.p"):
            shutil.copyfile(built / module, target.parent / module)

    def configure(self, tree):
        configure = ["cmake", "-S", str(ROOT), "-B", str(tree), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                     f"-DPython_EXECUTABLE={sys.executable}", "-DCORVANE_TESTS=OFF", "-DCORVANE_BENCH=OFF",
                     "-DCORVANE_CLI=OFF"]
        if shutil.which("ninja") and not (tree / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)


# Without wheel, pip's only words are "invalid command 'bdist_wheel'"; the
# usual cause is an interpreter other than Debian's first on PATH.
if importlib.util.find_spec("wheel") is None and {"bdist_wheel", "dist_info"} & set(sys.argv):
    sys.exit(f"corvane: {sys.executable} has no 'wheel' package, which pip needs without build isolation; "
             "install from an environment made by Debian's interpreter: "
             "/usr/bin/python3 -m venv --system-site-packages ENV && ENV/bin/python -m pip install "
             "--no-build-isolation --no-index .")

(ROOT / BUILD_BASE).mkdir(parents=True, exist_ok=True)
setup(
    ext_modules=[Extension("corvane._corvane", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": BUILD_BASE}, "egg_info": {"egg_base": BUILD_BASE}},
)
