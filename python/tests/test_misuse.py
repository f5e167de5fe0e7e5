"""What a careless or hostile caller meets: objects that were never made,
numbers and names that do not fit, paths that are not paths, Ctrl-C in a
long run. Each ends in a Python exception that says what is wrong, never in
a crash or a message that says nothing."""

import errno
import os
import signal
import statistics
import subprocess
import threading
import time

import pytest

import corvane
from test_corvane import grid


def test_objects_never_initialised_are_refused(tmp_path):
    mesh = corvane.Mesh.__new__(corvane.Mesh)
    uses = [lambda: corvane.stats(mesh), lambda: corvane.chamfer(mesh, 0.1),
            lambda: corvane.write_obj(mesh, tmp_path / "out.obj")]
    for cls, names in ((corvane.Mesh, ["points", "polygons", "compact", "surfaces"]),
                       (corvane.Result, ["mesh", "new", "messages", "activation_seconds"]),
                       (corvane.Message, ["text", "error"])):
        blank = mesh if cls is corvane.Mesh else cls.__new__(cls)
        uses += [lambda blank=blank: repr(blank)]
        uses += [lambda name=name, blank=blank: getattr(blank, name) for name in names]
    for use in uses:
        with pytest.raises(TypeError, match="never initialised"):
            use()
    assert list(tmp_path.iterdir()) == []


def test_errors_name_what_is_wrong(tmp_path, examples):
    cube = corvane.read_obj(examples / "cube.obj")
    with pytest.raises(ValueError, match=f"polygon index {2**70} is out of range"):
        corvane.chamfer(cube, 0.1, select=(2**70, 0))
    with pytest.raises(ValueError, match="angle_mode"):
        corvane.chamfer(cube, 0.1, angle_mode="lt\udcff")

    # Bytes of a file that are not UTF-8: a bad token shown escaped with its
    # line, a Latin-1 surface name decoded with surrogateescape and written
    # back as the same bytes.
    (tmp_path / "bad.obj").write_bytes(b"v 0 0 0\nv 1 0 0\nv 0 1 \xe9\nf 1 2 3\n")
    with pytest.raises(ValueError) as caught:
        corvane.read_obj(tmp_path / "bad.obj")
    assert "bad.obj:3" in str(caught.value) and "\\xe9" in str(caught.value)
    latin1 = b"v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl caf\xe9\nf 1 2 3\n"
    (tmp_path / "latin1.obj").write_bytes(latin1)
    mesh = corvane.read_obj(tmp_path / "latin1.obj")
    assert mesh.surfaces == ["caf\udce9"]
    corvane.write_obj(corvane.Mesh(mesh.points, mesh.polygons, mesh.surfaces), tmp_path / "latin1.obj")
    assert (tmp_path / "latin1.obj").read_bytes() == latin1

    # A NUL would cut the path short: nothing is read, written or made.
    corvane.chamfer(cube, 0.1)  # loads the bundled module, whose path is used below
    for call in (lambda: corvane.read_obj(str(examples / "cube.obj") + "\0x"),
                 lambda: corvane.write_obj(cube, str(tmp_path / "out.obj") + "\0x"),
                 lambda: corvane.load_module(corvane.module_path() + "\0x"),
                 lambda: corvane.chamfer(cube, 0.1, plugins_dir=str(tmp_path / "cfg") + "\0x")):
        with pytest.raises(ValueError, match="null byte"):
            call()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.obj", "latin1.obj"]

    result = corvane.chamfer(cube, 0.1)
    assert repr(result).startswith("<corvane.Result: <corvane.Mesh with 24 points and 26 polygons>, no messages, "
                                   "activation ")
    assert repr(corvane.Mesh(cube.points[:3], [[0, 1, 2]])) == "<corvane.Mesh with 3 points and 1 polygon>"

    # In Python's words: arguments, not the program's options, and no host
    # prompt to select polygons for a mesh that has none.
    with pytest.raises(ValueError, match=r"unknown mesh format.*; name it with format=") as caught:
        corvane.read(tmp_path / "scan.dat")
    assert "--" not in str(caught.value)
    with pytest.raises(ValueError, match="^chamfer: the mesh has no polygons$"):
        corvane.chamfer(corvane.Mesh(cube.points, []), 0.1)
    for edge, text in (((0, 6), r"edge=\(0, 6\): no polygon has this edge"),
                       ((0, 8), "point index 8 is out of range \\(the mesh has 8 points\\)"),
                       ((3, 3), "the two points must be different")):
        with pytest.raises(ValueError, match=text):
            corvane.chamfer(cube, 0.1, edge=edge)
    square = corvane.Mesh(cube.points[:4], [[0, 1, 2, 3]])
    with pytest.raises(ValueError, match=r"the edge is shared by 1 polygon, not 2"):
        corvane.chamfer(square, 0.1, edge=(0, 1))
    with pytest.raises(ValueError, match="select or edge, not both"):
        corvane.chamfer(cube, 0.1, select=(0, 2), edge=(1, 5))


def test_write_obj_failures_carry_errno_and_filename(tmp_path, examples):
    cube = corvane.read_obj(examples / "cube.obj")
    os.mkfifo(tmp_path / "fifo")
    cases = [
        ("", FileNotFoundError, errno.ENOENT, "empty path"),
        (tmp_path / "missing" / "out.obj", FileNotFoundError, errno.ENOENT, "does not exist"),
        (tmp_path, IsADirectoryError, errno.EISDIR, "folder"),
        (tmp_path / "fifo", OSError, errno.EINVAL, "not a regular file"),
    ]
    for path, kind, number, text in cases:
        with pytest.raises(kind) as caught:
            corvane.write_obj(cube, path)
        assert caught.value.errno == number and caught.value.filename == path, str(caught.value)
        assert text in str(caught.value)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["fifo"] and (tmp_path / "fifo").is_fifo()


def test_module_path_waits_without_the_gil(tmp_path, examples):
    """An activation holds the module lock while the module reads its
    settings file, here a FIFO that a child process opens only after a
    second. Meanwhile module_path() in another thread waits for the lock;
    the main thread must keep running."""
    cube = corvane.read_obj(examples / "cube.obj")
    corvane.chamfer(cube, 0.1)
    os.mkfifo(tmp_path / "Corvane.cfg")
    opener = subprocess.Popen(["sh", "-c", 'sleep 1; : > "$1"; cat "$1" > /dev/null', "sh",
                               tmp_path / "Corvane.cfg"])
    try:
        run = threading.Thread(target=corvane.chamfer, args=(cube, 0.1), kwargs={"plugins_dir": tmp_path})
        run.start()
        time.sleep(0.1)
        asker = threading.Thread(target=corvane.module_path)
        start = time.monotonic()
        asker.start()
        time.sleep(0.01)
        stalled = time.monotonic() - start
        assert stalled < 0.5, f"the main thread stalled {stalled:.2f} s while module_path waited"
        assert opener.poll() is None, "the FIFO was opened before the check"
        run.join()
        asker.join()
    finally:
        opener.kill()
        opener.wait()


def test_ctrl_c_interrupts_chamfer(tmp_path, monkeypatch):
    """SIGINT during a long run raises KeyboardInterrupt long before the run
    would end, and leaves no settings folder behind and no state that
    changes the next run."""
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    mesh = grid(128, 127)
    first = corvane.chamfer(mesh, 0.1)
    whole = []
    for _ in range(3):
        start = time.perf_counter()
        corvane.chamfer(mesh, 0.1)
        whole.append(time.perf_counter() - start)
    whole = statistics.median(whole)
    interrupted = []
    for _ in range(2):  # the better of two, on a shared machine
        timer = threading.Timer(0.005, os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        start = time.perf_counter()
        with pytest.raises(KeyboardInterrupt):
            corvane.chamfer(mesh, 0.1)
        interrupted.append(time.perf_counter() - start)
        timer.join()
    assert min(interrupted) < 0.6 * whole, f"interrupted after {interrupted} s, a whole run takes {whole:.3f} s"
    assert list(tmp_path.iterdir()) == []
    again = corvane.chamfer(mesh, 0.1)
    assert again.mesh.polygons == first.mesh.polygons



def test_ctrl_c_soon_when_the_chamfer_throws_points_far_out():
    """Points thrown out to 1e308 once made the weld, which steps no
    monitor, take seconds; KeyboardInterrupt now comes soon after the signal."""
    mesh, sent = grid(123, 123), []
    with pytest.warns(RuntimeWarning):
        start = time.perf_counter()
        corvane.chamfer(mesh, 1e308)
    timer = threading.Timer((time.perf_counter() - start) / 2,
                            lambda: sent.append(time.perf_counter()) or os.kill(os.getpid(), signal.SIGINT))
    with pytest.raises(KeyboardInterrupt), pytest.warns(RuntimeWarning):
        timer.start()
        corvane.chamfer(mesh, 1e308)
        timer.join()  # raises here when the run ended first
    assert time.perf_counter() - sent[0] < 1.0


def test_read_of_a_fifo_waits_without_the_gil_and_devices_are_refused(tmp_path, examples):
    """A FIFO's writer may come late: the interpreter goes on meanwhile. A
    device would be read until memory ran out."""
    os.mkfifo(tmp_path / "late.obj")
    result = []
    reader = threading.Thread(target=lambda: result.append(corvane.read(tmp_path / "late.obj")))
    start = time.monotonic()
    reader.start()
    time.sleep(0.2)
    assert time.monotonic() - start < 1, "the interpreter stalled while the read waited"
    assert reader.is_alive()
    (tmp_path / "late.obj").write_bytes((examples / "cube.obj").read_bytes())
    reader.join(10)
    assert len(result) == 1 and len(result[0].polygons) == 6
    with pytest.raises(ValueError, match="/dev/zero: is not a regular file or a pipe"):
        corvane.read("/dev/zero", format="ply")


def test_max_corners_bounds_every_read(tmp_path, examples):
    cube = examples / "cube.obj"
    assert len(corvane.read_obj(cube, max_corners=24).polygons) == 6
    for read in (lambda m: corvane.read_obj(cube, max_corners=m), lambda m: corvane.read(cube, max_corners=m)):
        with pytest.raises(ValueError, match="more than the 23 polygon corners a file may make"):
            read(23)
    with pytest.raises(ValueError, match="at least 1"):
        corvane.read(cube, max_corners=0)
    with pytest.raises(TypeError, match="max_corners"):
        corvane.read(cube, max_corners="24")
