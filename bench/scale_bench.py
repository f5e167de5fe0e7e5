"""Object mode at the sizes users run, through the real program, as one table.

Meshes: closed tori written as binary PLY (the fast path), triangulated from
24,300 to 3,240,000 corners, and one of 16,224 quads. Each size is chamfered
at half its safe size, cold: a fresh `corvane` process per run, so that
reading, the activation, writing and the process's own start are all in the
figure. The table gives, per size, the median wall time of the whole run, the
activation time the program measured, microseconds per corner for both, the
peak resident set of the process, and the result's validity counts (border,
crowded, repeated point, zero area; all must be 0).

The peer's figures are the ones recorded on the scale issue (its bevel
operation alone: 219 ms at 16,224 quads, 20.7 s and 4.56 GB at 1,080,000
triangles). They cannot be measured here; the table gives our ratio to them.

    /usr/bin/python3 bench/scale_bench.py BUILD_DIR [--largest N] [--repeat R]

With CORVANE_BASELINE_PROGRAM naming an older corvane (its modules beside
it), each size is also run with it, in alternating order, and the table gives
the ratio of the two. Never part of the tests.
"""
import argparse
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

PEER = {"quads16k": (0.219, None), "tris1080k": (20.7, 4.56 * 1024)}


def torus(nu, nv, quads):
    u = np.arange(nu) * 2 * np.pi / nu
    v = np.arange(nv) * 2 * np.pi / nv
    uu, vv = np.meshgrid(u, v, indexing="ij")
    points = np.stack([(3 + np.cos(vv)) * np.cos(uu), (3 + np.cos(vv)) * np.sin(uu), np.sin(vv)], -1)
    i, j = np.meshgrid(np.arange(nu), np.arange(nv), indexing="ij")
    a, b = i * nv + j, ((i + 1) % nu) * nv + j
    c, d = ((i + 1) % nu) * nv + (j + 1) % nv, i * nv + (j + 1) % nv
    if quads:
        faces = np.stack([a, b, c, d], -1).reshape(-1, 4)
    else:
        faces = np.concatenate([np.stack([a, b, c], -1).reshape(-1, 3), np.stack([a, c, d], -1).reshape(-1, 3)])
    return points.reshape(-1, 3), faces


def write_ply(path, points, faces):
    n = faces.shape[1]
    head = ("ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty double x\nproperty double y\n"
            "property double z\nelement face %d\nproperty list uchar int vertex_indices\nend_header\n"
            % (len(points), len(faces)))
    records = np.zeros(len(faces), dtype=[("n", "u1"), ("i", "<i4", (n,))])
    records["n"], records["i"] = n, faces
    with open(path, "wb") as out:
        out.write(head.encode())
        out.write(points.astype("<f8").tobytes())
        out.write(records.tobytes())


def run(program, args):
    """Wall seconds, the program's --stats text and the child's peak MiB."""
    start = time.perf_counter()
    done = subprocess.run([program] + args, capture_output=True, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed: %s" % (" ".join([program] + args), done.stderr))
    return wall, done.stdout + done.stderr


def peak_mib(program, args):
    """The peak resident set of one run, from a process of its own."""
    code = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], capture_output=True); "
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", code, program] + args, capture_output=True, text=True)
    return int(out.stdout) / 1024.0


def stat(text, label):
    found = re.search(r"^%s\s+(\S+)\s+(\S+)" % re.escape(label), text, re.M)
    return found.group(2) if found else "?"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--largest", type=int, default=3240000, help="corners of the largest torus")
    parser.add_argument("--repeat", type=int, default=3)
    options = parser.parse_args()
    program = os.path.join(options.build, "corvane")
    baseline = os.environ.get("CORVANE_BASELINE_PROGRAM")
    sizes = [("quads16k", 156, 104, True)]
    for nu, nv in [(90, 45), (150, 100), (300, 280), (600, 450), (900, 600)]:
        if nu * nv * 6 <= options.largest:
            sizes.append(("tris%dk" % (nu * nv * 2 // 1000), nu, nv, False))
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        settings = os.path.join(folder, "settings")
        os.mkdir(settings)
        for name, nu, nv, quads in sizes:
            points, faces = torus(nu, nv, quads)
            path = os.path.join(folder, name + ".ply")
            write_ply(path, points, faces)
            corners = faces.size
            safe = float(re.search(r"safe bevel size: (\S+)",
                                   run(program, [path, "-o", os.path.join(folder, "x.ply"), "--size", "1e-9",
                                                 "--stats", "--plugins-dir", settings])[1]).group(1))
            args = [path, "-o", os.path.join(folder, "out.ply"), "--size", repr(safe / 2), "--angle-mode",
                    "disable", "--stats", "--plugins-dir", settings]
            walls, activations, ratios = [], [], []
            for _ in range(options.repeat):
                wall, text = run(program, args)
                walls.append(wall)
                activations.append(float(re.search(r"activation time: (\S+) ms", text).group(1)) / 1000)
                if baseline:
                    base, _ = run(baseline, args)
                    ratios.append(wall / base)
            faults = [stat(text, label) for label in ("border edges", "edges on 3 or more polygons",
                                                      "polygons with a point twice", "polygons of zero area")]
            rows.append((name, corners, statistics.median(walls), statistics.median(activations),
                         peak_mib(program, args), faults, statistics.median(ratios) if ratios else None))
            print("measured", name, file=sys.stderr)
    base_wall = rows[1][2] / rows[1][1] if len(rows) > 1 else None
    print("%-10s %9s %9s %9s %8s %8s %8s %9s %-10s %s" % (
        "mesh", "corners", "wall s", "activ. s", "us/c", "us/c act", "flat", "peak MiB", "faults", "vs peer"))
    for name, corners, wall, activation, peak, faults, ratio in rows:
        peer = PEER.get(name)
        against = ""
        if peer:
            against = "peer/wall %.1fx, peer/activation %.1fx" % (peer[0] / wall, peer[0] / activation)
            if peer[1]:
                against += ", peak %.2f of the peer's" % (peak / peer[1])
        if ratio:
            against += ", this/baseline %.2f" % ratio
        flat = "%.2f" % ((wall / corners) / base_wall) if base_wall and name.startswith("tris") else ""
        print("%-10s %9d %9.3f %9.3f %8.3f %8.3f %8s %9.0f %-10s %s" % (
            name, corners, wall, activation, wall / corners * 1e6, activation / corners * 1e6, flat, peak,
            "/".join(faults), against))


if __name__ == "__main__":
    main()
