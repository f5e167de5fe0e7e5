"""The batch on a local Dask cluster of two worker processes: folders, globs
and formats mixed, failures and invalid results reported line by line,
workers that die mid-file, and a batch stopped by Ctrl-C and resumed."""

import json
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import corvane

distributed = pytest.importorskip("distributed")
from corvane.batch import BatchError, batch  # noqa: E402

# Debian's distributed on its tornado.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.fixture
def library(tmp_path, examples):
    """cube.obj, parts/cylinder.off, parts/deep/torus.glb, torus.ply and
    extra/cube.stl (for a glob), a file that does not read and one whose
    result has zero-area polygons."""
    lib = tmp_path / "lib"
    (lib / "parts" / "deep").mkdir(parents=True)
    (tmp_path / "extra").mkdir()
    cube, torus = corvane.read(examples / "cube.obj"), corvane.read(examples / "torus.obj")
    corvane.write(cube, lib / "cube.obj")
    corvane.write(corvane.read(examples / "cylinder.obj"), lib / "parts" / "cylinder.off")
    corvane.write(torus, lib / "parts" / "deep" / "torus.glb")
    corvane.write(torus, lib / "torus.ply")
    corvane.write(cube, tmp_path / "extra" / "cube.stl")
    (lib / "bad.obj").write_text("v 0 0 0\nf 1 2 3\n")
    (lib / "notes.txt").write_text("not a mesh")
    # The L-shaped grid at 1/32: its safe size is 0.0140625, and at 0.0625
    # its faces fold flat.
    grid = corvane.read(examples / "lgrid.obj")
    corvane.write(corvane.Mesh(grid.points / 32, grid.polygons), lib / "parts" / "folds.obj")
    return tmp_path


def cli(*args, **kwargs):
    """`python3 -m corvane` with the package these tests import."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(corvane.__file__)))
    command = [sys.executable, "-m", "corvane", *map(str, args)]
    if kwargs.pop("start", False):
        return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                                start_new_session=True)
    return subprocess.run(command, capture_output=True, text=True, env=env, timeout=120)


def report_lines(path):
    lines = [json.loads(line) for line in path.read_text().splitlines()]
    for line in lines:
        assert line["seconds"] is None or line["seconds"] > 0
        line["seconds"] = "-"
    return sorted(lines, key=lambda line: line["input"])


OPTIONS = {"size": 0.0625, "angle_mode": "disable", "limit_angle": 90.0, "clamp": False, "clamped": False,
           "size_used": 0.0625}


def test_mixed_library_and_its_report(tmp_path, library, client):
    lib, out = library / "lib", library / "out"
    result = batch([lib, str(library / "extra" / "*.stl")], out, size=0.0625, client=client,
                   report=out / "r.jsonl")
    assert (result.count("ok"), result.count("invalid"), result.count("failed"), result.exit_status) == (5, 1, 1, 1)
    # Every worker loaded the module when it joined, the package's own.
    [loaded] = set(client.run(corvane.module_path).values())
    assert os.path.dirname(loaded) == os.path.dirname(corvane.__file__)
    assert sorted(p.relative_to(out).as_posix() for p in out.rglob("*")) == [
        "cube.obj", "cube.stl", "parts", "parts/cylinder.off", "parts/deep", "parts/deep/torus.glb",
        "parts/folds.obj", "r.jsonl", "torus.ply"]
    # Each output is the one chamfer() gives, whichever format carried it.
    for name in ("cube.obj", "parts/cylinder.off", "parts/deep/torus.glb", "torus.ply"):
        expected = tmp_path / ("expected" + os.path.splitext(name)[1])
        corvane.write(corvane.chamfer(corvane.read(lib / name), 0.0625).mesh, expected)
        assert (out / name).read_bytes() == expected.read_bytes(), name

    lines = report_lines(out / "r.jsonl")
    assert [line["input"] for line in lines] == sorted(str(p) for p in (
        library / "extra" / "cube.stl", lib / "bad.obj", lib / "cube.obj", lib / "parts" / "cylinder.off",
        lib / "parts" / "deep" / "torus.glb", lib / "parts" / "folds.obj", lib / "torus.ply"))
    valid = {"border_edges": 0, "crowded_edges": 0, "repeated_point_polygons": 0, "zero_area_polygons": 0}
    by_name = {os.path.relpath(line["input"], library): line for line in lines}
    assert by_name["lib/cube.obj"] == {
        "input": str(lib / "cube.obj"), "output": str(out / "cube.obj"), "status": "ok",
        "before": {"points": 8, "polygons": 6}, "after": {"points": 24, "polygons": 26}, "options": OPTIONS,
        "validity": valid, "warnings": [], "seconds": "-", "error": None}
    assert by_name["lib/bad.obj"] == {
        "input": str(lib / "bad.obj"), "output": None, "status": "failed", "before": None, "after": None,
        "options": OPTIONS, "validity": None, "warnings": [], "seconds": "-",
        "error": f"{lib / 'bad.obj'}:2: vertex number 2 is out of range (the file has 1)"}
    folds = by_name["lib/parts/folds.obj"]
    assert (folds["status"], folds["output"], folds["validity"]["zero_area_polygons"]) == \
        ("invalid", str(out / "parts" / "folds.obj"), 4)
    assert folds["warnings"][1:] == ["in the result 4 polygons have zero area; other tools may refuse it",
                                     "the result has 34 edges on 3 or more polygons, the input 0"]
    assert by_name["extra/cube.stl"]["after"] == {"points": 36, "polygons": 38}  # its 12 triangles chamfered

    # The command line: the same files in bytes through the scheduler, to
    # another format, its summary, and its exit statuses.
    run = cli("batch", lib, "-o", tmp_path / "glb", "--format", "glb", "--size", "0.0625", "--jobs", "2",
              "--transfer", "bytes")
    assert run.returncode == 1, run.stderr
    assert run.stdout.splitlines()[:4] == ["files            6", "  ok             4", "  invalid        1",
                                           "  failed         1"]
    assert f"failed: {lib / 'bad.obj'}: {lib / 'bad.obj'}:2: vertex number 2" in run.stdout
    corvane.write(corvane.read(out / "parts" / "cylinder.off"), tmp_path / "expected.glb")
    assert (tmp_path / "glb" / "parts" / "cylinder.glb").read_bytes() == (tmp_path / "expected.glb").read_bytes()
    for bad in (["--size", "0.1", str(tmp_path / "missing")], [str(lib)], ["--size", "-1", str(lib)]):
        run = cli("batch", "-o", tmp_path / "x", *bad)
        assert run.returncode == 2 and not (tmp_path / "x").exists(), run.stderr
    with pytest.raises(BatchError, match="would both write"):
        batch([lib / "cube.obj", library / "extra" / "cube.stl"], out, size=0.1, format="obj", client=client)


class KillOnce:
    """Kills its worker in the middle of `victim` the first time any worker
    reads it, and hangs on `hang` every time; counts the attempts."""

    name = "test-kill-once"

    def __init__(self, folder):
        self.folder = str(folder)

    def setup(self, worker=None):
        read = self.read = corvane.read

        def hooked(path, format=None):
            name = os.path.basename(path)
            with open(os.path.join(self.folder, "attempts"), "a") as f:
                f.write(name + "\n")
            if name == "victim.obj" and not os.path.exists(os.path.join(self.folder, "killed")):
                open(os.path.join(self.folder, "killed"), "w").close()
                os.kill(os.getpid(), signal.SIGKILL)
            if name == "hang.obj":
                time.sleep(60)
            return read(path, format)

        corvane.read = hooked

    def teardown(self, worker=None):
        corvane.read = self.read


def test_a_dying_worker_costs_one_attempt(tmp_path, examples, client):
    lib = tmp_path / "lib"
    lib.mkdir()
    for name in ("a", "b", "victim", "hang"):
        corvane.write(corvane.read(examples / "cube.obj"), lib / f"{name}.obj")
    client.register_worker_plugin(KillOnce(tmp_path), name=KillOnce.name)
    try:
        result = batch([lib], tmp_path / "out", size=0.1, client=client, report=tmp_path / "r.jsonl",
                       time_limit=1)
    finally:
        client.unregister_worker_plugin(KillOnce.name)
    lines = report_lines(tmp_path / "r.jsonl")
    assert [(os.path.basename(line["input"]), line["status"]) for line in lines] == [
        ("a.obj", "ok"), ("b.obj", "ok"), ("hang.obj", "failed"), ("victim.obj", "ok")]
    assert lines[2]["error"] == "the worker crashed or ran past the time limit of 1 s on it, 2 times"
    # The four small files go as one group, which dies twice on hang.obj
    # before it reaches victim.obj; split, hang.obj dies twice more alone,
    # and victim.obj once.
    attempts = (tmp_path / "attempts").read_text().split()
    assert (attempts.count("victim.obj"), attempts.count("hang.obj")) == (2, 4)
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["a.obj", "b.obj", "victim.obj"]
    assert result.exit_status == 1


def test_ctrl_c_then_resume(tmp_path):
    """Ctrl-C to the whole process group, as a terminal sends it: the batch
    stops with the report holding what was done; --skip-existing runs the
    rest, and the report ends with one line per file."""
    lib = tmp_path / "lib"
    lib.mkdir()
    u, v = np.meshgrid(np.linspace(0, 2 * np.pi, 128, endpoint=False), np.linspace(0, 2 * np.pi, 64, endpoint=False))
    points = np.stack([(3 + np.cos(v)) * np.cos(u), (3 + np.cos(v)) * np.sin(u), np.sin(v)], -1).reshape(-1, 3)
    i, j = np.meshgrid(np.arange(64), np.arange(128), indexing="ij")
    quads = np.stack([i * 128 + j, i * 128 + (j + 1) % 128, (i + 1) % 64 * 128 + (j + 1) % 128,
                      (i + 1) % 64 * 128 + j], -1).reshape(-1, 4)
    for k in range(16):
        corvane.write(corvane.Mesh(points * (1 + k / 16), quads), lib / f"torus{k:02}.ply")
    command = ["batch", lib, "-o", tmp_path / "out", "--size", "0.01", "--jobs", "2", "--report", tmp_path / "r.jsonl"]
    started = cli(*command, start=True)
    deadline = time.monotonic() + 60
    while not (tmp_path / "r.jsonl").exists() or not (tmp_path / "r.jsonl").read_text():
        assert started.poll() is None and time.monotonic() < deadline
        time.sleep(0.02)
    os.killpg(started.pid, signal.SIGINT)
    out, err = started.communicate(timeout=60)
    assert started.returncode == 130, out + err
    assert "(stopped by Ctrl-C)" in out and "Traceback" not in err, out + err
    done = report_lines(tmp_path / "r.jsonl")
    assert 0 < len(done) < 16, out
    assert all(line["status"] == "ok" and os.path.exists(line["output"]) for line in done)

    resumed = cli(*command, "--skip-existing")
    assert resumed.returncode == 0 and "Traceback" not in resumed.stderr, resumed.stderr
    assert f"  skipped {len(done):>8}" in resumed.stdout.splitlines(), resumed.stdout
    lines = report_lines(tmp_path / "r.jsonl")
    assert [line["input"] for line in lines] == [str(lib / f"torus{k:02}.ply") for k in range(16)]
    assert all(line["status"] == "ok" for line in lines)
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == [f"torus{k:02}.ply" for k in range(16)]
