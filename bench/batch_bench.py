"""The batch's speed, in one run: a library of generated tori in every format
the readers take, of 1k to 100k corners (log-uniform, fixed seed), chamfered
by 1 and by 2 local worker processes; and the batch's cost per small file
against a plain loop of read, chamfer and write in one process.

    python3 bench/batch_bench.py [files] [small files] [folder]

Prints the times and the two ratios. The clusters are started before the
clock runs, so the times are the batch's own; their start-up is printed
apart. A module that holds fewer corners than the largest mesh (the host
module's 65,536) caps the sizes, and the output says so.
"""

import math
import os
import shutil
import sys
import tempfile
import time
import warnings

import numpy as np

import corvane
import distributed
from corvane.batch import batch

FORMATS = ("obj", "ply", "off", "stl", "glb", "gltf")


def torus(corners):
    """A torus of about `corners` polygon corners in quads, twice as many
    around as across, scaled so that its edges are about 1 long."""
    quads = max(corners // 4, 8)
    across = max(int(round(math.sqrt(quads / 2))), 3)
    around = max(quads // across, 3)
    a, b = np.meshgrid(np.linspace(0, 2 * np.pi, around, endpoint=False),
                       np.linspace(0, 2 * np.pi, across, endpoint=False), indexing="ij")
    r = across / (2 * np.pi)
    big = max(around / (2 * np.pi), 2 * r)
    points = np.stack([(big + r * np.cos(b)) * np.cos(a), (big + r * np.cos(b)) * np.sin(a), r * np.sin(b)], -1)
    i, j = np.meshgrid(np.arange(around), np.arange(across), indexing="ij")
    polygons = np.stack([i * across + j, (i + 1) % around * across + j, (i + 1) % around * across + (j + 1) % across,
                         i * across + (j + 1) % across], -1)
    return corvane.Mesh(points.reshape(-1, 3), polygons.reshape(-1, 4))


def module_limit():
    """The most corners the loaded module takes, among 100k and 65,536."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            corvane.chamfer(torus(100_000), 0.1)
        return 100_000
    except corvane.ModuleError:
        return 65_536


def make_library(folder, count, largest, seed=7):
    rng = np.random.default_rng(seed)
    corners = np.exp(rng.uniform(math.log(1000), math.log(largest), count)).astype(int)
    for k, n in enumerate(corners):
        write(int(n), os.path.join(folder, f"part{k:03}.{FORMATS[k % len(FORMATS)]}"))
    return int(corners.sum())


def write(corners, path):
    # STL and glTF hold triangles: a quad comes back as 6 corners, not 4.
    triangles = os.path.splitext(path)[1] in (".stl", ".glb", ".gltf")
    corvane.write(torus(corners * 2 // 3 if triangles else corners), path)


def timed_batch(client, library, out, **kwargs):
    shutil.rmtree(out, ignore_errors=True)
    start = time.perf_counter()
    result = batch([library], out, size=0.1, client=client, progress=False, **kwargs)
    seconds = time.perf_counter() - start
    assert result.exit_status == 0, [r for r in result.records if r["status"] != "ok"][:3]
    return seconds


def plain_loop(library, out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    start = time.perf_counter()
    for name in sorted(os.listdir(library)):
        result = corvane.chamfer(corvane.read(os.path.join(library, name)), 0.1)
        corvane.write(result.mesh, os.path.join(out, name))
    return time.perf_counter() - start


def cluster(workers):
    start = time.perf_counter()
    local = distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                     dashboard_address=None, scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
                                     silence_logs=40)
    client = distributed.Client(local)
    return local, client, time.perf_counter() - start


def main():
    files = int(sys.argv[1]) if len(sys.argv) > 1 else 400
    small = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    root = sys.argv[3] if len(sys.argv) > 3 else tempfile.mkdtemp(prefix="corvane-batch-bench-")
    library, smalls, out = (os.path.join(root, name) for name in ("library", "small", "out"))
    for folder in (library, smalls):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    largest = module_limit()
    total = make_library(library, files, largest * 98 // 100)  # below the limit, whatever the rounding
    for k in range(small):
        write(1000, os.path.join(smalls, f"small{k:03}.{FORMATS[k % len(FORMATS)]}"))
    print(f"library: {files} files, {total:,} corners, 1k to {largest // 1000}k corners each"
          + ("" if largest == 100_000 else " (the loaded module holds no more)"))
    print(f"cores: {os.cpu_count()}, load average before: {os.getloadavg()[0]:.1f}")

    times = {}
    for workers in (1, 2):
        local, client, startup = cluster(workers)
        try:
            timed_batch(client, smalls, out)  # the workers' first files, not timed
            times[workers] = timed_batch(client, library, out)
            if workers == 1:
                # Alternated, best of three each: the machine's other work
                # comes and goes, and the two should see the same.
                loops, batches = [], []
                for _ in range(3):
                    loops.append(plain_loop(smalls, out))
                    batches.append(timed_batch(client, smalls, out))
                loop, times["small"] = min(loops), min(batches)
        finally:
            client.close()
            local.close()
        print(f"{workers} worker{'s' if workers > 1 else ''}: {times[workers]:.1f} s for the library "
              f"(cluster start {startup:.1f} s)")
    print(f"2 workers against 1: {times[1] / times[2]:.2f}x")
    print(f"{small} files of 1k corners: plain loop {loop:.2f} s ({1000 * loop / small:.1f} ms a file), "
          f"batch on 1 worker {times['small']:.2f} s ({1000 * times['small'] / small:.1f} ms a file): "
          f"overhead {100 * (times['small'] / loop - 1):.0f}%")
    print(f"load average after: {os.getloadavg()[0]:.1f}")
    shutil.rmtree(root)


if __name__ == "__main__":
    main()
