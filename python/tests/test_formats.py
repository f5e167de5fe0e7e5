"""Mesh files of every format through the module: the same bytes as the
program writes, the weld of STL corners, and the errors a caller can act on."""

import subprocess

import numpy as np
import pytest

import corvane

FORMATS = ["obj", "ply", "off", "stl", "gltf", "glb"]


@pytest.mark.parametrize("fmt", FORMATS)
def test_program_and_module_write_the_same_bytes(tmp_path, program, examples, fmt):
    expected = tmp_path / f"program.{fmt}"
    subprocess.run([program, examples / "cylinder.obj", "-o", expected, "--size", "0.1", "--quiet",
                    "--plugins-dir", tmp_path / "cfg"], check=True)
    result = corvane.chamfer(corvane.read(examples / "cylinder.obj"), 0.1)
    corvane.write(result.mesh, tmp_path / f"module.{fmt}")
    assert (tmp_path / f"module.{fmt}").read_bytes() == expected.read_bytes()
    # read back: exact where the format keeps doubles, float32 elsewhere
    again = corvane.read(expected)
    if fmt in ("obj", "ply", "off"):
        assert np.array_equal(again.points, result.mesh.points)
        assert len(again.compact[1]) == len(result.mesh.compact[1])
    else:
        assert np.array_equal(np.unique(again.points.astype(np.float32), axis=0),
                              np.unique(result.mesh.points.astype(np.float32), axis=0))


def test_stl_cube_welds_and_chamfers_closed(tmp_path, examples):
    cube = corvane.read_obj(examples / "cube.obj")
    corvane.write(cube, tmp_path / "cube.dat", format="STL")
    soup = corvane.read(tmp_path / "cube.dat", format="stl")
    assert soup.points.shape == (8, 3)
    assert len(soup.compact[1]) == 13  # 12 triangles
    result = corvane.chamfer(soup, 0.1)
    s = corvane.stats(result.mesh)
    assert s["border_edges"] == 0 and s["crowded_edges"] == 0 and s["opposite_winding_edges"] == 0


def test_weld_false_keeps_every_corner_and_results_keep_used_points(tmp_path, examples):
    cube = corvane.read_obj(examples / "cube.obj")
    corvane.write(cube, tmp_path / "cube.stl")
    assert corvane.read(tmp_path / "cube.stl", weld=False).points.shape == (36, 3)
    # Two-polygon mode: only used points, and the map back to the module's numbers.
    torus = corvane.read_obj(examples / "torus.obj")
    pair = corvane.chamfer(torus, 0.1, select=(0, 1))
    indices, _ = pair.mesh.compact
    assert np.array_equal(np.unique(indices), np.arange(len(pair.mesh.points)))
    kept = pair.point_map < len(torus.points)
    assert kept.sum() > 0 and np.array_equal(pair.mesh.points[kept], torus.points[pair.point_map[kept]])
    assert np.all(np.diff(pair.point_map) > 0)


def test_errors(tmp_path, examples):
    cube = corvane.read_obj(examples / "cube.obj")
    with pytest.raises(ValueError, match="unknown mesh format"):
        corvane.write(cube, tmp_path / "cube.fbx")
    with pytest.raises(ValueError, match="unknown mesh format"):
        corvane.read(examples / "cube.obj", format="fbx")
    assert not (tmp_path / "cube.fbx").exists()
    (tmp_path / "short.stl").write_bytes(b"\0" * 80 + b"\x02\0\0\0" + b"\0" * 60)
    with pytest.raises(ValueError, match=r"short\.stl: byte 80: .*2 triangles"):
        corvane.read(tmp_path / "short.stl")
    with pytest.raises(FileNotFoundError):
        corvane.read(tmp_path / "missing.ply")
    # a face the PLY list count cannot hold
    fan = corvane.Mesh(np.array([[np.cos(a), np.sin(a), 0.0] for a in np.linspace(0, 6, 300)]),
                       [list(range(300))])
    with pytest.raises(ValueError, match="at most 255"):
        corvane.write(fan, tmp_path / "fan.ply")
    assert list(tmp_path.iterdir()) == [tmp_path / "short.stl"]
