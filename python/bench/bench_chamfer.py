"""The Python module's cost around the activation: chamfer on a quad sphere
of 6 n^2 quads (n = 52: 16,224 quads) built from numpy arrays, the mesh made
from the arrays and the result's arrays read back, against the activation
time the module itself took. Prints one table row per mode of timing.

    python bench_chamfer.py [n] [repetitions]
"""

import statistics
import sys
import time
import warnings

import numpy as np

import corvane


def quad_sphere(n):
    """A cube split n x n per face, points pushed onto the unit sphere,
    shared points welded, every quad counter-clockwise seen from outside."""
    size = n + 1
    index = -np.ones((size, size, size), dtype=np.int64)
    grid = np.indices((size, size, size)).reshape(3, -1).T
    on_surface = ((grid == 0) | (grid == n)).any(axis=1)
    surface = grid[on_surface]
    index[tuple(surface.T)] = np.arange(len(surface))
    points = surface.astype(np.float64) * (2.0 / n) - 1.0
    points /= np.linalg.norm(points, axis=1)[:, None]

    quads = []
    a, b = np.meshgrid(np.arange(n), np.arange(n), indexing="ij")
    a, b = a.ravel(), b.ravel()
    for axis in range(3):
        u, v = (axis + 1) % 3, (axis + 2) % 3
        for side, flip in ((0, True), (n, False)):
            def at(du, dv):
                p = np.empty((len(a), 3), dtype=np.int64)
                p[:, axis] = side
                p[:, u] = a + du
                p[:, v] = b + dv
                return index[p[:, 0], p[:, 1], p[:, 2]]
            corners = [at(0, 0), at(1, 0), at(1, 1), at(0, 1)]
            if flip:
                corners.reverse()
            quads.append(np.stack(corners, axis=1))
    quads = np.concatenate(quads)
    offsets = np.arange(0, 4 * len(quads) + 1, 4, dtype=np.int64)
    return points, quads.ravel(), offsets


def timed(points, indices, offsets, size, with_mask, mesh=None):
    """One call as a pipeline makes it: the mesh from the arrays (or `mesh`,
    made once, as a live loop re-runs one input), the chamfer, the result's
    arrays (and its new mask) back. Wall seconds of all of it, and of the
    activation alone."""
    start = time.perf_counter()
    result = corvane.chamfer(mesh or corvane.Mesh(points, (indices, offsets)), size)
    out_points = result.mesh.points
    out_indices, out_offsets = result.mesh.compact
    if with_mask:
        assert len(result.new) == len(out_offsets) - 1
    wall = time.perf_counter() - start
    assert out_points.shape[1] == 3 and len(out_indices) > 0
    return wall, result.activation_seconds


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 52
    reps = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    points, indices, offsets = quad_sphere(n)
    size = 0.3 * 2.0 / n
    # Past the safe size some polygons come out invalid; one warning is enough.
    warnings.simplefilter("once")
    mesh = corvane.Mesh(points, (indices, offsets))
    timed(points, indices, offsets, size, True, mesh)  # loads the module
    labels = {
        (False, False): "Mesh from numpy, chamfer, arrays back",
        (True, False): "  the same and the new mask",
        (True, True): "  one Mesh again and again, with the mask",
    }
    rows = {key: [] for key in labels}
    # Interleaved, so that all rows see the same load on a shared machine.
    for _ in range(reps):
        for with_mask, reused in labels:
            given = mesh if reused else None
            rows[with_mask, reused].append(timed(points, indices, offsets, size, with_mask, given))
    print(f"{'Python module, object mode':44} {'quads':>7} {'call ms':>9} {'activation ms':>14} {'call/activation':>16}")
    for key, label in labels.items():
        walls = [w for w, _ in rows[key]]
        acts = [a for _, a in rows[key]]
        ratios = [w / a for w, a in rows[key]]
        print(f"{label:44} {len(offsets) - 1:>7} {statistics.median(walls) * 1e3:>9.2f} "
              f"{statistics.median(acts) * 1e3:>14.2f} {statistics.median(ratios):>16.3f}")


if __name__ == "__main__":
    main()
