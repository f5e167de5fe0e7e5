"""The viewer's speed, from one run, as one table:

- the server's time to answer a re-run (request sent to the last byte of the
  encoded result read, a connection each, as the server closes every one
  after its answer) against the bare
  activation time the server measured for that same run;
- in headless Chromium, the page's time from a user's action until #status
  reads "ready" and the next frame is painted: a change of #size with the
  edges shown and without them, and a click and a shift-click on two
  neighbouring polygons. With CORVANE_BASELINE_PROGRAM naming an older
  corvane (its Corvane.p beside it), the page of each program is timed in
  the same run, in alternating rounds, and the table gives both and their
  ratio.

Meshes: quad spheres (a cube split n x n per face, pushed onto the unit
sphere) of 1,536 and 16,224 quads, as in the module's benchmarks. Medians of
REPEAT runs, alternating between two sizes so that every run changes the
result. Run by scripts/view-bench.sh; never part of the tests.

    bench/view_bench.py --large MESH [--size S1,S2] [--gpu]

times instead the page on one large mesh (e.g. the torus of 1,080,000
triangles bench/scale_bench.py makes), once each: from opening the address
until the input is drawn and until the first result is "ready", then a
change of the size until "ready" and drawn; the longest task the page's
thread ran (its "long tasks") and the longest gap between its frames, in
each; the progress texts the page showed; the server's resident set after
each and its peak. With CORVANE_BASELINE_PROGRAM the older program's page
too, first. `--gpu` composites as a browser with a GPU does (see chromium()
in tests/view/viewlib.py): without it every frame of a large mesh is a long
task of the page's thread.
"""
import argparse
import math
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'view'))
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402
from viewlib import Server, chromium, quit_chromium, wait_ready  # noqa: E402

REPEAT = 30
SIZES = ('0.01', '0.011')
ROUNDS = 10         # page timings: rounds alternating the programs
PER_ROUND = 2       # timings of each kind in a round


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


# Resolves with [ms from the action until #status reads "ready" and the
# frame after it is drawn, ms of that spent waiting for runs (request to
# the answer's last byte)]. #status must not read "ready" while the
# action's work is pending, as the page promises.
UNTIL_DRAWN = """
const [action, arg, done] = arguments;
const status = document.getElementById('status');
performance.clearResourceTimings();
const start = performance.now();
const observer = new MutationObserver(() => {
  if (status.textContent === 'failed') { observer.disconnect(); done([-1, 0]); }
  if (status.textContent !== 'ready') return;
  observer.disconnect();
  // The second frame begins once the first, the new picture, is drawn.
  requestAnimationFrame(() => requestAnimationFrame(() => {
    const total = performance.now() - start;
    const runs = performance.getEntriesByType('resource').filter((e) => e.name.includes('/api/run'));
    done([total, runs.reduce((sum, e) => sum + e.responseEnd - e.startTime, 0)]);
  }));
});
observer.observe(status, { childList: true, characterData: true, subtree: true });
if (action === 'size') {
  const field = document.getElementById('size');
  field.value = arg;
  field.dispatchEvent(new Event('input'));
} else {
  // A click on the canvas' centre, then a shift-click arg pixels to its
  // right, as the user's pointer gives them.
  const canvas = document.getElementById('view');
  const r = canvas.getBoundingClientRect();
  const x = r.left + r.width / 2, y = r.top + r.height / 2;
  const click = (dx, shiftKey) => {
    const at = { clientX: x + dx, clientY: y, button: 0, shiftKey, bubbles: true, pointerId: 1 };
    canvas.dispatchEvent(new PointerEvent('pointerdown', at));
    canvas.dispatchEvent(new PointerEvent('pointerup', at));
  };
  click(0, false);
  setTimeout(() => click(arg, true), 0);
}
"""


def until_drawn(driver, action, arg):
    """(total ms, ms of it the page worked: the total less the runs)."""
    ms, runs = driver.execute_async_script(UNTIL_DRAWN, action, arg)
    if ms < 0:
        raise RuntimeError(f'the run after {action} {arg} failed: {driver.find_element("id", "messages").text}')
    return ms, ms - runs


def set_edges(driver, on):
    driver.execute_script("const e = document.getElementById('show-edges');"
                          "if (e.checked !== arguments[0]) e.click();", on)


def page_round(driver, server, times):
    """One round of page timings on `server`, appended to `times` by kind."""
    driver.get(server.url)
    wait_ready(driver, 120)
    driver.set_script_timeout(120)
    until_drawn(driver, 'size', SIZES[1])  # warms the page up
    for edges in (True, False):
        set_edges(driver, edges)
        for k in range(PER_ROUND):
            times['size, edges' if edges else 'size, no edges'].append(until_drawn(driver, 'size', SIZES[k % 2]))
    set_edges(driver, True)
    for k in range(PER_ROUND):
        times['select two'].append(until_drawn(driver, 'select', 14))
        if 'two-polygon' not in driver.find_element('id', 'selection').text:
            raise RuntimeError('the clicks did not select two polygons: ' +
                               driver.find_element('id', 'selection').text)
        driver.execute_script("document.getElementById('clear-selection').click()")
        wait_ready(driver, 120)


KINDS = ('size, edges', 'size, no edges', 'select two')


# Installed before the page's own scripts: the page's long tasks, the
# longest gap between two frames, and every text the progress line showed.
WATCH = """
window.corvaneWatch = { longest: 0, gap: 0, texts: [] };
new PerformanceObserver((list) => {
  for (const e of list.getEntries()) corvaneWatch.longest = Math.max(corvaneWatch.longest, e.duration);
}).observe({ type: 'longtask', buffered: true });
let lastFrame = performance.now();
const frame = (now) => {
  corvaneWatch.gap = Math.max(corvaneWatch.gap, now - lastFrame);
  lastFrame = now;
  requestAnimationFrame(frame);
};
requestAnimationFrame(frame);
document.addEventListener('DOMContentLoaded', () => {
  const text = document.getElementById('progress-text');
  if (!text) return;
  new MutationObserver(() => {
    const t = text.textContent.replace(/[0-9.,]+ s$/, '').replace(/[0-9,]+ of [0-9,]+ \\([0-9]+%\\)/, 'N of M');
    if (corvaneWatch.texts[corvaneWatch.texts.length - 1] !== t) corvaneWatch.texts.push(t);
  }).observe(text, { childList: true, characterData: true, subtree: true });
});
"""


def rss_mb(pid):
    """(resident, peak resident) of a process, in MB."""
    with open(f'/proc/{pid}/status') as f:
        fields = dict(line.split(':', 1) for line in f)
    return int(fields['VmRSS'].split()[0]) / 1024, int(fields['VmHWM'].split()[0]) / 1024


def watch_reset(driver):
    """The page's longest task and frame gap since the last reset; resets them."""
    return driver.execute_script('const w = corvaneWatch, r = [w.longest, w.gap, w.texts]; '
                                 'corvaneWatch.longest = 0; corvaneWatch.gap = 0; corvaneWatch.texts = []; '
                                 'return r;')


def large(mesh, sizes, gpu):
    """One page on a large mesh, as the docstring says; prints its lines."""
    baseline = os.environ.get('CORVANE_BASELINE_PROGRAM')
    driver = chromium(gpu=gpu)
    driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': WATCH})
    driver.set_script_timeout(600)
    try:
        for name, path in ([('before', baseline)] if baseline else []) + [('after', None)]:
            server = Server(mesh, program_path=path)
            try:
                start = time.perf_counter()
                driver.get(server.url)
                WebDriverWait(driver, 600, poll_frequency=0.05).until(
                    lambda d: d.find_element('id', 'file-name').text != '')
                drawn = time.perf_counter() - start
                wait_ready(driver, 600)
                ready = time.perf_counter() - start
                longest, gap, texts = watch_reset(driver)
                rss = rss_mb(server.proc.pid)
                print(f'{name}: open {mesh}: input drawn {drawn:.1f} s, first result ready {ready:.1f} s; '
                      f'longest task {longest:.0f} ms, longest frame gap {gap:.0f} ms; '
                      f'server {rss[0]:.0f} MB resident')
                print(f'{name}:   progress shown: {texts}')
                for size in sizes:
                    ms, _ = until_drawn(driver, 'size', size)
                    longest, gap, texts = watch_reset(driver)
                    rss = rss_mb(server.proc.pid)
                    print(f'{name}: size {size}: ready and drawn {ms / 1000:.1f} s; longest task {longest:.0f} ms, '
                          f'longest frame gap {gap:.0f} ms; server {rss[0]:.0f} MB resident, {rss[1]:.0f} MB peak')
                    print(f'{name}:   progress shown: {texts}')
            finally:
                server.stop()
    finally:
        quit_chromium(driver)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--large')
    parser.add_argument('--size', default='0.002,0.003')
    parser.add_argument('--gpu', action='store_true')
    args = parser.parse_args()
    if args.large:
        return large(args.large, args.size.split(','), args.gpu)
    work = tempfile.mkdtemp(prefix='corvane-view-bench-')
    baseline = os.environ.get('CORVANE_BASELINE_PROGRAM')
    programs = [('before', baseline), ('after', None)] if baseline else [('page', None)]
    driver = chromium()
    rows, page_rows = [], []
    try:
        for n in (16, 52):
            mesh = os.path.join(work, f'sphere{n}.obj')
            quads = quad_sphere(n, mesh)
            server = Server(mesh)
            try:
                answer, activation = server_times(server)
            finally:
                server.stop()
            rows.append((quads, activation, answer, answer / activation))
            times = {name: {kind: [] for kind in KINDS} for name, _ in programs}
            for r in range(ROUNDS):
                for name, path in (programs if r % 2 == 0 else programs[::-1]):
                    server = Server(mesh, program_path=path)
                    try:
                        page_round(driver, server, times[name])
                    finally:
                        server.stop()
            page_rows.append((quads, {name: {kind: [statistics.median(x) for x in zip(*t)]
                                             for kind, t in kinds.items()}
                                      for name, kinds in times.items()}))
    finally:
        quit_chromium(driver)
    print(f'corvane view server, medians of {REPEAT} re-runs alternating size {SIZES[0]} and {SIZES[1]}')
    print(f'{"quads":>8} {"activation ms":>14} {"answer ms":>10} {"answer/act":>11} {"target":>7}')
    for quads, activation, answer, ratio in rows:
        print(f'{quads:>8,} {activation:>14.2f} {answer:>10.2f} {ratio:>11.2f} {"1.5":>7}')
    print()
    print(f'page, action to "ready" and painted, ms: medians of {ROUNDS * PER_ROUND} in {ROUNDS} alternating '
          'rounds; "page" leaves out the time spent waiting for runs')
    names = [name for name, _ in programs]
    header = f'{"quads":>8} {"action":<16}' + ''.join(f'{name + " total":>14}{name + " page":>14}' for name in names)
    print(header + (f'{"after/before total":>20}{"page":>8}' if baseline else ''))
    for quads, medians in page_rows:
        for kind in KINDS:
            line = f'{quads:>8,} {kind:<16}' + ''.join(f'{medians[name][kind][0]:>14.1f}{medians[name][kind][1]:>14.1f}'
                                                       for name in names)
            if baseline:
                line += ''.join(f'{medians["after"][kind][i] / medians["before"][kind][i]:>{w}.2f}'
                                for i, w in ((0, 20), (1, 8)))
            print(line)


if __name__ == '__main__':
    main()
