"""Corvane's edge chamfer for Python: meshes in numpy arrays or mesh files
(OBJ, PLY, OFF, STL, glTF, GLB), chamfered by the same Corvane.p module the
corvane program loads.

    import corvane
    mesh = corvane.read_obj("cube.obj")
    result = corvane.chamfer(mesh, 0.1)
    corvane.write_obj(result.mesh, "out.obj")

Whole libraries of files: corvane.batch, or `python3 -m corvane batch`.
"""

import os
from typing import Optional, Tuple, Union

from . import _corvane
from ._corvane import Mesh, Message, ModuleError, Result

# The functions are plain Python functions over the extension's: pickle
# sends a function by its module and name, which the extension's builtins
# (bound to a capsule) cannot give, so without these corvane.chamfer would
# not go through multiprocessing or a distributed scheduler; help() shows
# them as the package's functions with the stub's words.
_Path = Union[str, bytes, os.PathLike]

# help() and reprs name the types where users find them.
for _type in (Mesh, Message, Result):
    _type.__module__ = __name__


def _documented(function):
    # The extension's docstring opens with its signature line, which help()
    # shows for the wrapper from the wrapper itself.
    doc = getattr(_corvane, function.__name__).__doc__
    function.__doc__ = doc.split("\n", 1)[1].lstrip("\n") if doc else None
    return function


@_documented
def load_module(path: _Path) -> None:
    return _corvane.load_module(path)


@_documented
def module_path() -> Optional[str]:
    return _corvane.module_path()


@_documented
def read_obj(path: _Path) -> Mesh:
    return _corvane.read_obj(path)


@_documented
def write_obj(mesh: Mesh, path: _Path) -> None:
    return _corvane.write_obj(mesh, path)


@_documented
def read(path: _Path, format: Optional[str] = None, weld: bool = True) -> Mesh:
    return _corvane.read(path, format, weld)


@_documented
def write(mesh: Mesh, path: _Path, format: Optional[str] = None) -> None:
    return _corvane.write(mesh, path, format)


@_documented
def chamfer(mesh: Mesh, size: float, angle_mode: str = "disable", limit_angle: float = 90.0,
            select: Optional[Tuple[int, int]] = None, plugins_dir: Optional[_Path] = None, clamp: bool = False,
            edge: Optional[Tuple[int, int]] = None) -> Result:
    return _corvane.chamfer(mesh, size, angle_mode, limit_angle, select, plugins_dir, clamp, edge)


@_documented
def stats(mesh: Mesh, safe_size: bool = True) -> dict:
    return _corvane.stats(mesh, safe_size)


from .batch import batch  # noqa: E402  (it uses the functions above)

__all__ = [
    "Mesh",
    "Message",
    "ModuleError",
    "Result",
    "batch",
    "chamfer",
    "load_module",
    "module_path",
    "read",
    "read_obj",
    "stats",
    "write",
    "write_obj",
]
