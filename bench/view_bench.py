"""The viewer's speed, from one run, as one table:

- the server's time to answer a re-run (request sent to the last byte of the
  encoded result read, a connection each, as the server closes every one
  after its answer) against the bare
  activation time the server measured for that same run;
- in headless Chromium, the time from a change of #size until #status reads
  "ready" and the next frame is painted with the new result.

Meshes: quad spheres (a cube split n x n per face, pushed onto the unit
sphere) of 1,536 and 16,224 quads, as in the module's benchmarks. Medians of
REPEAT runs, alternating between two sizes so that every run changes the
result. Run by scripts/view-bench.sh; never part of the tests.
"""
import math
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'view'))
from viewlib import Server, chromium, quit_chromium, wait_ready  # noqa: E402

REPEAT = 30
SIZES = ('0.01', '0.011')


def quad_sphere(n, path):
    """6 n^2 quads, points welded, written as OBJ."""
    index, points, faces = {}, [], []

    def point(face, i, j):
        u, v = -1 + 2 * i / n, -1 + 2 * j / n
        axis, sign = face // 2, 1 if face % 2 else -1
        p = [0.0, 0.0, 0.0]
        p[axis] = sign
        p[(axis + 1) % 3], p[(axis + 2) % 3] = (u, v) if sign > 0 else (v, u)
        key = tuple(round(c * n * 2) for c in p)
        if key not in index:
            length = math.sqrt(sum(c * c for c in p))
            index[key] = len(points) + 1
            points.append([c / length for c in p])
        return index[key]

    for face in range(6):
        for i in range(n):
            for j in range(n):
                faces.append((point(face, i, j), point(face, i + 1, j), point(face, i + 1, j + 1),
                              point(face, i, j + 1)))
    with open(path, 'w') as f:
        f.writelines(f'v {x!r} {y!r} {z!r}\n' for x, y, z in points)
        f.writelines(f'f {a} {b} {c} {d}\n' for a, b, c, d in faces)
    return len(faces)


def server_times(server):
    """(answer ms, activation ms) medians over REPEAT re-runs."""
    import http.client
    import json
    import struct
    connection = http.client.HTTPConnection('127.0.0.1', server.port, timeout=30)
    headers = {'X-Corvane-Token': server.token, 'Content-Length': '0'}
    answers, activations = [], []
    for k in range(REPEAT + 2):
        path = f'/api/run?size={SIZES[k % 2]}&mode=disable&limit=30'
        start = time.perf_counter()
        connection.request('POST', path, headers=headers)
        body = connection.getresponse().read()
        elapsed = (time.perf_counter() - start) * 1000
        length = struct.unpack_from('<I', body, 4)[0]
        info = json.loads(body[8:8 + length])
        if k >= 2:  # the first two warm the connection and the caches
            answers.append(elapsed)
            activations.append(info['activationMs'])
    connection.close()
    return statistics.median(answers), statistics.median(activations)


CHANGE_UNTIL_DRAWN = """
const [size, done] = arguments;
const status = document.getElementById('status');
const field = document.getElementById('size');
const start = performance.now();
const observer = new MutationObserver(() => {
  if (status.textContent !== 'ready') return;
  observer.disconnect();
  requestAnimationFrame(() => done(performance.now() - start));
});
observer.observe(status, { childList: true, characterData: true, subtree: true });
field.value = size;
field.dispatchEvent(new Event('input'));
"""


def page_time(driver, server):
    driver.get(server.url)
    wait_ready(driver, 60)
    driver.set_script_timeout(60)
    times = []
    for k in range(REPEAT + 2):
        ms = driver.execute_async_script(CHANGE_UNTIL_DRAWN, SIZES[k % 2])
        if k >= 2:
            times.append(ms)
    return statistics.median(times)


def main():
    work = tempfile.mkdtemp(prefix='corvane-view-bench-')
    driver = chromium()
    rows = []
    try:
        for n, page_target in ((16, 50), (52, 150)):
            mesh = os.path.join(work, f'sphere{n}.obj')
            quads = quad_sphere(n, mesh)
            server = Server(mesh)
            try:
                answer, activation = server_times(server)
                page = page_time(driver, server)
            finally:
                server.stop()
            rows.append((quads, activation, answer, answer / activation, page, page_target))
    finally:
        quit_chromium(driver)
    print(f'corvane view, medians of {REPEAT} re-runs alternating size {SIZES[0]} and {SIZES[1]}')
    print(f'{"quads":>8} {"activation ms":>14} {"answer ms":>10} {"answer/act":>11} {"target":>7} '
          f'{"page ms":>8} {"target":>7}')
    for quads, activation, answer, ratio, page, target in rows:
        print(f'{quads:>8,} {activation:>14.2f} {answer:>10.2f} {ratio:>11.2f} {"1.5":>7} {page:>8.1f} '
              f'{target:>7}')


if __name__ == '__main__':
    main()
