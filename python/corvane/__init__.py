"""Corvane's edge chamfer for Python: meshes in numpy arrays or mesh files
(OBJ, PLY, OFF, STL, glTF, GLB), chamfered by the same Corvane.p module the
corvane program loads.

    import corvane
    mesh = corvane.read_obj("cube.obj")
    result = corvane.chamfer(mesh, 0.1)
    corvane.write_obj(result.mesh, "out.obj")
"""

from ._corvane import (
    Mesh,
    Message,
    ModuleError,
    Result,
    chamfer,
    load_module,
    module_path,
    read,
    read_obj,
    stats,
    write,
    write_obj,
)

__all__ = [
    "Mesh",
    "Message",
    "ModuleError",
    "Result",
    "chamfer",
    "load_module",
    "module_path",
    "read",
    "read_obj",
    "stats",
    "write",
    "write_obj",
]
