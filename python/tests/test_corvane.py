"""The Python module against the program it must agree with, and the faults
a library host can add: bad input taken as a mesh, the module's failures
lost, the user's settings touched, state left behind between activations."""

import os
import subprocess
import threading
import warnings

import numpy as np
import pytest

import corvane

# (example, size, extra program options, the module's two-polygon arguments)
RUNS = [
    ("cube.obj", 0.1, [], {}),
    ("cylinder.obj", 0.1, ["--angle-mode", "lt", "--limit-angle", "120"], {}),
    ("torus.obj", 0.1, [], {}),
    ("lgrid.obj", 0.1, [], {}),
    ("cube.obj", 0.2, ["--select", "1,3"], {"select": (0, 2)}),
    ("torus.obj", 0.1, ["--select", "1,2"], {"select": (0, 1)}),
    ("torus.obj", 0.1, ["--edge", "1,2"], {"edge": (0, 1)}),
    ("cube.obj", 0.2, ["--edge", "2,6"], {"edge": (1, 5)}),
]


def chamfer_args(extra):
    kwargs = {}
    if "--angle-mode" in extra:
        kwargs["angle_mode"] = extra[extra.index("--angle-mode") + 1]
        kwargs["limit_angle"] = float(extra[extra.index("--limit-angle") + 1])
    return kwargs


@pytest.mark.parametrize("name,size,extra,pair", RUNS)
def test_same_bytes_as_the_program(tmp_path, program, examples, name, size, extra, pair):
    expected = tmp_path / "program.obj"
    subprocess.run([program, examples / name, "-o", expected, "--size", str(size), "--quiet",
                    "--plugins-dir", tmp_path / "cfg", *extra], check=True)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a valid result is not warned about
        result = corvane.chamfer(corvane.read_obj(examples / name), size, **pair, **chamfer_args(extra))
    got = tmp_path / "module.obj"
    corvane.write_obj(result.mesh, got)
    assert got.read_bytes() == expected.read_bytes()
    assert result.messages == []
    assert result.new.shape == (len(result.mesh.surfaces),)


def test_clamp_and_invalid_results(tmp_path, program, examples):
    """Past the cube's safe size (0.9) the clamp lowers the size as the
    program's --clamp does, says so, and gives a valid mesh; a result with
    invalid polygons has them counted and warned about."""
    cube = corvane.read_obj(examples / "cube.obj")
    counts = corvane.stats(cube)
    assert (counts["repeated_point_polygons"], counts["zero_area_polygons"], counts["safe_bevel_size"]) == (0, 0, 0.9)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        clamped = corvane.chamfer(cube, 1.5, clamp=True)
    assert [(m.error, m.text) for m in clamped.messages] == [(False, "bevel size 1.5 clamped to the safe size 0.9")]
    expected = tmp_path / "program.obj"
    subprocess.run([program, examples / "cube.obj", "-o", expected, "--size", "1.5", "--clamp", "--quiet",
                    "--plugins-dir", tmp_path / "cfg"], check=True)
    corvane.write_obj(clamped.mesh, tmp_path / "module.obj")
    assert (tmp_path / "module.obj").read_bytes() == expected.read_bytes()

    # Far past it, the L-shaped grid's faces fold flat: warned before as
    # past the safe size, with the way to keep to it, then counted.
    grid = corvane.read_obj(examples / "lgrid.obj")
    with pytest.warns(RuntimeWarning) as caught:
        result = corvane.chamfer(grid, 2.0)
    counts = corvane.stats(result.mesh)
    assert counts["zero_area_polygons"] > 0
    assert corvane.stats(result.mesh, safe_size=False) == dict(counts, safe_bevel_size=None)
    [past, invalid] = caught
    assert str(past.message) == ("the bevel size 2 is at or above the safe size 0.45, past which the result may "
                                 "hold polygons other tools refuse; clamp=True keeps to it")
    assert str(invalid.message) == (f"in the result {counts['zero_area_polygons']} polygons have zero area; "
                                    "other tools may refuse it")
    assert past.filename == invalid.filename == __file__

    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert corvane.chamfer(cube, 0.5, clamp=True).messages == []


def test_guards_shared_with_the_program(examples):
    """What the program refuses, Python refuses in the same words; the angle
    mode is taken in any case, as the viewer shows it."""
    cube = corvane.read_obj(examples / "cube.obj")
    with pytest.raises(ValueError, match="the bevel size must not be negative"):
        corvane.chamfer(cube, -0.1)
    with pytest.raises(ValueError, match="the bevel size must be a finite number, not nan"):
        corvane.chamfer(cube, float("nan"))
    with pytest.raises(ValueError, match="the limit angle must be from 0 to 180 degrees, not 200"):
        corvane.chamfer(cube, 0.1, limit_angle=200)
    upper = corvane.chamfer(cube, 0.1, angle_mode="LT", limit_angle=100)
    assert upper.mesh.polygons == corvane.chamfer(cube, 0.1, angle_mode="lt", limit_angle=100).mesh.polygons
    with pytest.warns(RuntimeWarning, match=r"no edge passed the angle test \(angle mode gt, limit angle 100\)"):
        corvane.chamfer(cube, 0.1, angle_mode="gt", limit_angle=100)


def test_arrays_and_file_give_the_same_mesh(tmp_path, examples):
    """The cylinder's n-gon caps and two surfaces, given in each polygon form."""
    read = corvane.read_obj(examples / "cylinder.obj")
    polygons = read.polygons
    indices, offsets = read.compact
    assert np.array_equal(indices, np.concatenate(polygons)) and offsets[-1] == len(indices)
    forms = [polygons, (indices, offsets), [np.array(p, dtype=np.uint16) for p in polygons]]
    expected = corvane.chamfer(read, 0.1, angle_mode="lt", limit_angle=120)
    for form in forms:
        built = corvane.Mesh(read.points.tolist(), form, read.surfaces)
        assert built.polygons == polygons and built.surfaces == read.surfaces
        assert np.array_equal(built.points, read.points)
        result = corvane.chamfer(built, 0.1, angle_mode="lt", limit_angle=120)
        assert np.array_equal(result.mesh.points, expected.mesh.points)
        assert result.mesh.polygons == expected.mesh.polygons
        assert result.mesh.surfaces == expected.mesh.surfaces
        assert np.array_equal(result.new, expected.new)
    # All quads as rows of one array; written out it is the file's text.
    torus = corvane.read_obj(examples / "torus.obj")
    rows = corvane.Mesh(torus.points, np.array(torus.polygons))
    corvane.write_obj(rows, tmp_path / "rows.obj")
    assert (tmp_path / "rows.obj").read_bytes() == (examples / "torus.obj").read_bytes()
    # One quad turned over: each of its four edges now joins polygons wound opposite ways.
    flipped = np.array(torus.polygons)
    flipped[0] = flipped[0][::-1]
    assert corvane.stats(corvane.Mesh(torus.points, flipped))["opposite_winding_edges"] == 4


def test_mesh_refuses_bad_input():
    points = np.zeros((3, 3))
    bad = [
        (points, [[0, 1, 3]], None, ValueError, "point index 3 is out of range"),
        (points, [[0, 1, -1]], None, ValueError, "point index -1 is out of range"),
        (points, [[0, 1, 2], []], None, ValueError, "polygon 1 has no points"),
        (points, (np.array([0, 1, 2]), np.array([0, 2])), None, ValueError, "offsets"),
        (points, (np.array([0, 1, 2]), np.array([0, 3, 1, 3])), None, ValueError, "offsets decrease"),
        (np.zeros((3, 2)), [[0, 1, 2]], None, ValueError, "(n, 3)"),
        (np.array([[0, 0, 0], [1, 0, 0], [0, np.nan, 0]]), [[0, 1, 2]], None, ValueError, "point 2"),
        (np.array([[0, 0, 0], [1, 0, np.inf], [0, 1, 0]]), [[0, 1, 2]], None, ValueError, "point 1"),
        (points, [[0, 1, 2.0]], None, TypeError, "integers"),
        (points, [[0, 1, 2]], ["a", "b"], ValueError, "2 name(s) for 1 polygon"),
        (points, [[0, 1, 2]], ["two words"], ValueError, "without blanks"),
        (points, [[0, 1, 2]], ["a\ud800"], ValueError, "stands for no byte"),
        (points, [[0, 1, 2**70]], None, ValueError, f"point index {2**70} is out of range"),
        # Every offset is checked before an index is read: 64 would read past the array.
        (np.zeros((4, 3)), (np.arange(4), np.array([0, 64, 4])), None, ValueError, "offset 1 (64) is past the end"),
    ]
    for pts, polygons, surfaces, error, text in bad:
        with pytest.raises(error) as caught:
            corvane.Mesh(pts, polygons, surfaces)
        assert text in str(caught.value), (polygons, str(caught.value))


def grid(w, h):
    """A flat w x h quad grid from arrays, no Python loop over its quads."""
    i, j = np.meshgrid(np.arange(w), np.arange(h), indexing="xy")
    first = (j * (w + 1) + i).ravel()
    quads = np.stack([first, first + 1, first + w + 2, first + w + 1], axis=1)
    x, y = np.meshgrid(np.arange(w + 1.0), np.arange(h + 1.0), indexing="xy")
    points = np.stack([x.ravel(), y.ravel(), np.zeros(x.size)], axis=1)
    return corvane.Mesh(points, quads)


@pytest.mark.parametrize("case,text", [
    ("too many corners", "more than 65536\npolygon corners"),
    ("no shared edge", "must share an edge"),
])
def test_module_failures_raise_with_its_message(examples, case, text):
    cube = corvane.read_obj(examples / "cube.obj")
    with pytest.raises(corvane.ModuleError) as caught:
        if case == "too many corners":
            # The host module keeps its limit; the package's own takes this.
            corvane.load_module(os.path.join(os.path.dirname(corvane.__file__), "Corvane.p"))
            try:
                corvane.chamfer(grid(129, 128), 0.1)  # 66,048 corners
            finally:
                corvane.load_module(os.path.join(os.path.dirname(corvane.__file__), "CorvaneLarge.p"))
        else:
            corvane.chamfer(cube, 0.1, select=(0, 1))  # the -z and +z faces
    assert text in str(caught.value) and "Nothing was changed." in str(caught.value)
    assert caught.value.result is None


def test_past_the_host_limit_the_package_module_chamfers():
    mesh = grid(129, 128)  # 66,048 corners, past what the host module takes
    result = corvane.chamfer(mesh, 0.1)
    stats = corvane.stats(result.mesh)
    assert len(result.mesh) > len(mesh) and result.mesh.points.shape[0] > 65536
    assert stats["repeated_point_polygons"] == 0 and stats["zero_area_polygons"] == 0


def test_settings_file_untouched_without_plugins_dir(tmp_path, monkeypatch, examples):
    config = tmp_path / "config"
    saved = config / "corvane" / "Corvane.cfg"
    saved.parent.mkdir(parents=True)
    saved.write_bytes(b"user's options\n")
    scratch = tmp_path / "tmp"
    scratch.mkdir()
    monkeypatch.setenv("XDG_CONFIG_HOME", str(config))
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    monkeypatch.setenv("TMPDIR", str(scratch))
    monkeypatch.chdir(tmp_path)
    cube = corvane.read_obj(examples / "cube.obj")
    corvane.chamfer(cube, 0.25)
    assert saved.read_bytes() == b"user's options\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["config", "tmp"]
    assert list(scratch.iterdir()) == [], "the private settings folder is left behind"
    # With a folder named, the module keeps its options there as it does
    # under the program.
    corvane.chamfer(cube, 0.25, plugins_dir=tmp_path / "plugins")
    assert (tmp_path / "plugins" / "Corvane.cfg").is_file()


def resident_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_thousand_activations_keep_the_resident_set_flat(examples):
    torus = corvane.read_obj(examples / "torus.obj")
    polygons = len(corvane.chamfer(torus, 0.1).mesh.surfaces)
    for _ in range(100):
        corvane.chamfer(torus, 0.1)
    before = resident_kb()
    for _ in range(1000):
        assert len(corvane.chamfer(torus, 0.1).mesh.surfaces) == polygons
    grown = resident_kb() - before
    assert grown < 1024, f"the resident set grew by {grown} KB over 1,000 activations"


def test_threads_take_turns(examples, tmp_path):
    """The emulated host serves one activation at a time; threads running
    chamfer at once must each get what a lone call gets."""
    torus = corvane.read_obj(examples / "torus.obj")
    corvane.write_obj(corvane.chamfer(torus, 0.1).mesh, tmp_path / "alone.obj")
    alone = (tmp_path / "alone.obj").read_bytes()
    failures = []

    def work(k):
        for i in range(10):
            path = tmp_path / f"t{k}-{i}.obj"
            corvane.write_obj(corvane.chamfer(torus, 0.1).mesh, path)
            if path.read_bytes() != alone:
                failures.append(path.name)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_loading_another_module(tmp_path, examples):
    cube = corvane.read_obj(examples / "cube.obj")
    corvane.chamfer(cube, 0.1)
    bundled = corvane.module_path()
    with pytest.raises(ImportError, match="no-such.p"):
        corvane.load_module(tmp_path / "no-such.p")
    with pytest.raises(ImportError):
        corvane.chamfer(cube, 0.1)  # never the bundled one behind the caller's back
    corvane.load_module(bundled)
    assert corvane.module_path() == bundled
    assert len(corvane.chamfer(cube, 0.1).mesh.surfaces) == 26
