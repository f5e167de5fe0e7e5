"""What a Python programmer expects of the module without reading its
source: help() that names the types and says what the stub says, meshes
that pickle, copy and compare, and a `pip install .` that works offline."""

import ast
import concurrent.futures
import copy
import inspect
import multiprocessing
import os
import pathlib
import pickle
import pydoc
import re
import subprocess
import sys

import numpy as np
import pytest

import corvane
from conftest import ROOT

STUB = ROOT / "python" / "corvane" / "_corvane.pyi"


def stub_entries():
    """(name, docstring, parameter names and defaults or None) for what the stub documents."""
    tree = ast.parse(STUB.read_text())
    for node in tree.body:
        if not isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            continue
        members = [(node.name, node)]
        if isinstance(node, ast.ClassDef):
            members += [(f"{node.name}.{m.name}", m) for m in node.body if isinstance(m, ast.FunctionDef)]
        for name, item in members:
            params = None
            if isinstance(item, ast.FunctionDef) and not item.decorator_list:  # not a property
                args, defaults = item.args.args, [ast.literal_eval(d) for d in item.args.defaults]
                defaults = [None] * (len(args) - len(defaults)) + defaults
                params = [(a.arg, d) for a, d in zip(args, defaults) if a.arg != "self"]
            if ast.get_docstring(item):
                yield name, ast.get_docstring(item), params


def runtime_signature(doc, name):
    """The parameter names and defaults of pybind11's signature line for `name`."""
    line = doc.splitlines()[0]
    match = re.fullmatch(rf"{re.escape(name)}\((.*)\) -> (.+)", line)
    assert match, f"{name}: no signature line in {line!r}"
    parts = [part.partition(" = ") for part in re.split(r", (?=\w+:)", match.group(1)) if part]
    return [(arg.split(":")[0], ast.literal_eval(default) if default else None)
            for arg, _, default in parts if not arg.startswith("self:")], match.group(2)


def test_help_names_the_types_and_gives_the_stubs_words():
    entries = list(stub_entries())
    assert len(entries) > 25
    for name, text, params in entries:
        target = corvane
        for part in name.split("."):
            target = inspect.getattr_static(target, part)
        doc = target.__doc__
        if inspect.isfunction(target):
            # The package's functions wrap the extension's, so that they pickle.
            signature = inspect.signature(target)
            assert [(p.name, None if p.default is p.empty else p.default)
                    for p in signature.parameters.values()] == params, f"{name}: parameters differ from the stub's"
            assert all(p.annotation is not p.empty for p in signature.parameters.values()), f"{name}: untyped"
            assert signature.return_annotation is not signature.empty, f"{name}: untyped"
        elif params is not None:
            got, returns = runtime_signature(doc, name.split(".")[-1])
            assert got == params, f"{name}: the binding's parameters differ from the stub's"
            assert not re.search(r"handle|-> object", doc.splitlines()[0]), f"{name}: untyped"
            doc = doc.split("\n", 1)[1]
        assert inspect.cleandoc(doc) == text, f"{name}: the docstring differs from the stub's"
    signature = corvane._corvane.chamfer.__doc__.splitlines()[0]
    assert signature.startswith("chamfer(mesh: Mesh, size: float, ") and signature.endswith(") -> Result")
    assert "PyCapsule" not in pydoc.render_doc(corvane.chamfer)
    assert pydoc.render_doc(corvane.chamfer).startswith("Python Library Documentation: function chamfer in module corvane")


def chamfer_in_worker(mesh):
    return corvane.chamfer(mesh, 0.02)


def test_meshes_pickle_copy_and_compare(tmp_path, examples):
    cylinder = corvane.read_obj(examples / "cylinder.obj")
    result = corvane.chamfer(cylinder, 0.1)
    # The result's new polygons have no surface name, which the host
    # reports as none rather than as "Default": a second run must see the
    # same after the trip.
    assert None in result.mesh.__getstate__()[4]
    for mesh in (cylinder, result.mesh, corvane.Mesh(np.zeros((0, 3)), [])):
        again = pickle.loads(pickle.dumps(mesh))
        assert again == mesh and hash(again) == hash(mesh) and len(again) == len(mesh.polygons)
        assert copy.copy(mesh) is mesh and copy.deepcopy([mesh])[0] is mesh
    trip = pickle.loads(pickle.dumps(result.mesh))
    corvane.write_obj(corvane.chamfer(result.mesh, 0.02).mesh, tmp_path / "direct.obj")
    corvane.write_obj(corvane.chamfer(trip, 0.02).mesh, tmp_path / "trip.obj")
    assert (tmp_path / "trip.obj").read_bytes() == (tmp_path / "direct.obj").read_bytes()

    # Equal means the same points by value, polygons and surface names.
    points, polygons = cylinder.points, cylinder.polygons
    assert corvane.Mesh(points + 0.0, polygons, cylinder.surfaces) == cylinder
    moved = points.copy()
    moved[3, 1] = np.nextafter(moved[3, 1], 9)
    rolled = [polygons[0][1:] + polygons[0][:1]] + polygons[1:]
    for other in (corvane.Mesh(moved, polygons, cylinder.surfaces), corvane.Mesh(points, rolled, cylinder.surfaces),
                  corvane.Mesh(points, polygons), corvane.Mesh(points, polygons[:-1], cylinder.surfaces[:-1])):
        assert other != cylinder
    assert cylinder != polygons and cylinder.__eq__(points) is NotImplemented
    flat = corvane.Mesh([[0.0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    assert flat == corvane.Mesh([[-0.0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])
    assert hash(flat) == hash(corvane.Mesh([[-0.0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]]))
    with pytest.raises(ValueError, match="not a state"):
        corvane.Mesh.__new__(corvane.Mesh).__setstate__((2, points))

    # Through worker processes started afresh, as a scheduler's are: the
    # mesh goes out, the Result comes back with its mask and messages.
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        back = pool.map(chamfer_in_worker, [cylinder, result.mesh])
    here = [corvane.chamfer(cylinder, 0.02), corvane.chamfer(result.mesh, 0.02)]
    for got, want in zip(back, here):
        assert got.mesh == want.mesh and got.messages == [] == want.messages
        assert np.array_equal(got.new, want.new) and got.new.sum() > 0

    # The package's own functions travel too, by name.
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=multiprocessing.get_context("spawn")) as pool:
        again = pool.submit(corvane.chamfer, cylinder, 0.02).result()
        assert again.mesh == here[0].mesh
        assert pool.submit(corvane.read, examples / "cylinder.obj").result() == cylinder
        assert pool.submit(corvane.stats, cylinder).result() == corvane.stats(cylinder)
    with multiprocessing.get_context("spawn").Pool(1) as pool:
        assert pool.starmap(corvane.chamfer, [(cylinder, 0.02)])[0].mesh == here[0].mesh


def test_pip_install_from_the_checkout_offline(tmp_path):
    """One test, as it builds the module: a fresh environment that sees
    Debian's packages, `pip install --no-build-isolation --no-index` from
    the checkout, and the installed package runs from anywhere."""
    venv = tmp_path / "venv"
    subprocess.run([pathlib.Path(sys.base_prefix) / "bin" / "python3", "-m", "venv", "--system-site-packages",
                    venv], check=True)
    python = venv / "bin" / "python"
    env = {k: v for k, v in os.environ.items() if k != "CORVANE_CMAKE_BUILD_DIR"}
    build = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", ROOT],
                           env=env, capture_output=True, text=True)
    assert build.returncode == 0, build.stdout[-3000:] + build.stderr[-3000:]
    show = subprocess.run([python, "-m", "pip", "show", "-f", "corvane"], capture_output=True, text=True, check=True)
    assert "Requires: numpy" in show.stdout
    for name in ("Corvane.p", "CorvaneLarge.p", "_corvane.pyi", "py.typed", "__init__.py"):
        assert f"corvane/{name}\n" in show.stdout
    run = subprocess.run([python, "-c", "import corvane, numpy, sysconfig; "
                          "r = corvane.chamfer(corvane.Mesh(numpy.eye(3), [[0, 1, 2]]), 0.1); "
                          "print(corvane.module_path(), len(r.mesh), sysconfig.get_paths()['platlib'])"],
                         cwd=tmp_path, capture_output=True, text=True, check=True)
    path, polygons, site = run.stdout.split()
    assert path == os.path.join(site, "corvane", "CorvaneLarge.p") and polygons == "1"
