"""Corvane's edge chamfer on meshes held in numpy arrays, run by the real Corvane.p."""

import os
from typing import Literal, Sequence, Tuple, TypedDict, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Polygons = Union[
    Sequence[Sequence[int]],
    npt.NDArray[np.integer],
    Tuple[npt.NDArray[np.integer], npt.NDArray[np.integer]],
]

class ModuleError(RuntimeError):
    """A failure the module reported; str() is its message.

    `result` is None when the module refused and changed nothing (an info
    message), or the Result of a run that went on past an error message,
    for a caller who wants the faulty mesh anyway.
    """

    result: Union["Result", None]

class Mesh:
    """An immutable polygon mesh: points, polygons and one surface name per polygon.

    len(mesh) is its polygon count; two meshes are == when their points
    (by value), polygons and surfaces are the same, and equal meshes hash
    alike. It pickles (so it goes through multiprocessing and distributed
    schedulers) and copy.copy or copy.deepcopy give the mesh itself, which
    never changes.
    """

    def __init__(
        self,
        points: npt.ArrayLike,
        polygons: _Polygons,
        surfaces: Union[Sequence[str], None] = None,
    ) -> None:
        """Builds a mesh, checking everything.

        points: an (n, 3) array of finite numbers (float64 after conversion).
        polygons: a list of index sequences (0-based); or an (m, k) integer
          array, one polygon per row; or the compact pair (indices, offsets), a
          tuple of two integer arrays where polygon i is
          indices[offsets[i]:offsets[i + 1]], offsets[0] == 0 and
          offsets[-1] == len(indices).
        surfaces: one name per polygon (no blanks), or None for "Default".
          Written as UTF-8; the surrogates that surrogateescape decoding
          makes of other bytes (see `surfaces`) are written as those bytes.

        Raises ValueError for an index out of range, a polygon without
        points, a coordinate that is NaN or infinite (the OBJ reader refuses
        them too), offsets that do not fit, or a bad surface name; TypeError
        for arguments of the wrong kind. A Mesh made by Mesh.__new__ without
        __init__ is refused with TypeError wherever it is used.
        """
    @property
    def points(self) -> npt.NDArray[np.float64]:
        """The points as a read-only (n, 3) float64 array."""
    @property
    def polygons(self) -> list[list[int]]:
        """The polygons as lists of 0-based point indices."""
    @property
    def compact(self) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.int64]]:
        """The polygons as (indices, offsets): polygon i is indices[offsets[i]:offsets[i + 1]]."""
    @property
    def surfaces(self) -> list[str]:
        """One surface name per polygon.

        A name that is not UTF-8 in the file (a Latin-1 `usemtl`) is decoded
        with surrogateescape, as os.fsdecode decodes file names: each such
        byte becomes a surrogate from U+DC80 to U+DCFF, and Mesh() and
        write_obj turn it back into the same byte.
        """
    def __len__(self) -> int:
        """The number of polygons."""
    def __eq__(self, other: object) -> bool:
        """True for a Mesh with the same points (compared as numbers), polygons and surfaces."""
    def __hash__(self) -> int:
        """A hash of the points, polygons and surfaces: equal meshes hash alike."""
    def __copy__(self) -> "Mesh":
        """The mesh itself: it never changes."""
    def __deepcopy__(self, memo: object) -> "Mesh":
        """The mesh itself: it never changes."""

class Message:
    """A message the module gave; it pickles."""

    @property
    def error(self) -> bool:
        """True for an error message (a pass went on with a fault), False for an info message.

        The info messages of a Result are notes of the run, such as
        "bevel size 0.22 clamped to the safe size 0.0656"; the module's own
        info messages end its edit without change and raise ModuleError.
        """
    @property
    def text(self) -> str:
        """Its lines, joined by line breaks."""

class Result:
    """What one chamfer made; its repr gives the mesh's size, the message count and the activation time.

    It pickles, so a worker process can hand it back; the pickle carries
    `new` worked out, not the input it is found from.
    """

    @property
    def mesh(self) -> Mesh:
        """The rebuilt object (object mode) or the edited input (two-polygon mode).

        When the module ended its edit without change (a bevel size of 0),
        the input itself.
        """
    @property
    def new(self) -> npt.NDArray[np.bool_]:
        """Per polygon of `mesh`: True for a strip, patch or cap the run made."""
    @property
    def point_map(self) -> npt.NDArray[np.int64]:
        """Per point of `mesh`: its number in the mesh the module left.

        The module leaves the points it replaced in its result (in the
        two-polygon mode, the input's points the chamfer moved off); `mesh`
        holds only the points its polygons use, as the files the program
        writes do. point_map[i] is the number point i had there. In the
        two-polygon mode the module numbers the input's points as the input
        does and its new points after them, so point_map[i] <
        len(input.points) says that point i is the input's point
        point_map[i], at its position. A read-only int64 array.
        """
    @property
    def messages(self) -> list[Message]:
        """What the module said, in order."""
    @property
    def activation_seconds(self) -> float:
        """Wall time of the module's activation alone."""

class Stats(TypedDict):
    points: int
    polygons: int
    triangles: int
    quads: int
    ngons: int
    degenerate: int
    edges: int
    border_edges: int
    crowded_edges: int
    opposite_winding_edges: int
    repeated_point_polygons: int
    zero_area_polygons: int
    safe_bevel_size: Union[float, None]

def load_module(path: _Path) -> None:
    """Loads the module at `path` in place of the one loaded before.

    Without it the first chamfer loads the CorvaneLarge.p installed beside
    this package: the module's passes without the host's limit of 65,536
    corners. Corvane.p beside it is the host module itself, limit and all.
    Raises ImportError when the file is not a module this host can
    load; chamfer then raises too until a module is loaded.
    """

def module_path() -> Union[str, None]:
    """The path of the loaded module, or None before the first chamfer.

    Waits, with the GIL released, for a chamfer running in another thread.
    """

def read_obj(path: _Path) -> Mesh:
    """Reads an OBJ file exactly as the corvane program does.

    Raises OSError when it cannot be opened and ValueError, naming the line,
    when it is not a mesh the program reads (bytes of the file that are not
    UTF-8 shown as backslash escapes). A path holding a NUL is a ValueError.
    """

def write_obj(mesh: Mesh, path: _Path) -> None:
    """Writes `mesh` as an OBJ file, atomically, byte for byte as the corvane program does.

    An existing file keeps its mode and a symbolic link is written through
    to its target. Raises OSError with errno and filename on failure (the
    subclass of its errno: FileNotFoundError for an empty path or a missing
    folder, IsADirectoryError, PermissionError, ...); a device, pipe or
    socket is refused (EINVAL), never replaced. A path holding a NUL is a
    ValueError. Nothing is left behind on failure.
    """

def read(path: _Path, format: Union[str, None] = None, weld: bool = True) -> Mesh:
    """Reads a mesh file exactly as the corvane program does: OBJ, PLY
    (ASCII or binary), OFF, STL (ASCII or binary), glTF or GLB, by the
    path's extension unless `format` ("obj", "ply", "off", "stl", "gltf",
    "glb") names one.

    STL and glTF corners at the same position are welded into one point,
    and so are a PLY's points where its vertices carry texture coordinates,
    normals or colours (exporters split points at seams of those). With
    weld=False every point or corner the file gives stays a point of its
    own, as the program's --no-weld keeps them.
    Raises OSError when the file cannot be opened and ValueError, naming the
    line or byte offset where it can, when it is not a mesh the program
    reads or the format is unknown.
    """

def write(mesh: Mesh, path: _Path, format: Union[str, None] = None) -> None:
    """Writes `mesh` in the format of the path's extension (or `format`),
    atomically, byte for byte as the corvane program does.

    PLY is binary with double coordinates, OFF text with exact numbers; STL
    and glTF hold float32 triangles, so polygons are cut into triangles
    (glTF keeps the surfaces as one primitive and material each). Raises
    ValueError for an unknown format or a mesh the format cannot hold (a PLY
    face of more than 255 points), and OSError as write_obj does.
    """

def chamfer(
    mesh: Mesh,
    size: float,
    angle_mode: Literal["disable", "lt", "gt"] = "disable",
    limit_angle: float = 90.0,
    select: Union[Tuple[int, int], None] = None,
    plugins_dir: Union[_Path, None] = None,
    clamp: bool = False,
    edge: Union[Tuple[int, int], None] = None,
) -> Result:
    """Chamfers `mesh` with the module, releasing the GIL while it runs.

    Object mode: every shared edge (or those passing the angle test, the
    limit angle in degrees) chamfered by `size`. With select=(i, j), two
    0-based polygon indices, the two-polygon mode: the edge loop through
    their shared edge. edge=(a, b), two 0-based point indices, selects the
    two polygons that share the edge between them instead.

    Without plugins_dir the module keeps its settings file in a private
    temporary folder, so the user's saved options are never changed; with
    it, in that folder, created when missing, as the program does.

    With clamp=True a size above the mesh's safe bevel size (see stats) is
    lowered to it, and Result.messages begins with the info message "bevel
    size 0.22 clamped to the safe size 0.0656".

    A result with polygons other tools may refuse (through one point twice,
    or of zero area; see stats) is warned about with a RuntimeWarning in
    the words `corvane` prints.

    Raises corvane.ModuleError with the module's message when it reports a
    failure (too many corners, two polygons that share no edge, a bevel size
    that is not a finite number, ...), ValueError for a bad angle_mode,
    select or edge (an edge that is not on exactly two polygons) and for a
    mesh without polygons. Ctrl-C in the main thread aborts the run within
    milliseconds and raises KeyboardInterrupt; nothing of the run is kept.
    """

def stats(mesh: Mesh, safe_size: bool = True) -> Stats:
    """The counts `corvane --stats` prints, and the safe bevel size (inf when no edge is chamfered).

    repeated_point_polygons counts the polygons that hold one point twice
    (in a row or apart), zero_area_polygons those of three or more points
    whose Newell normal is zero: the polygons other tools refuse.

    With safe_size=False, safe_bevel_size is None: it costs many times the
    counts, which is all a check of a result needs.
    """
