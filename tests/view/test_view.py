"""`corvane view` in a real headless Chromium, and its server's defences,
against the running program."""
import io
import math
import os
import re
import select
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from PIL import Image
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from viewlib import (BUILD, PROGRAM, Server, chromium, example, program, program_counts, quit_chromium,  # noqa: E402
                     set_value, text, wait_ready)


def options_of(driver):
    """The page's angle mode, limit angle and clamp, as the program's arguments."""
    mode = driver.find_element(By.ID, 'angle-mode').get_attribute('value')
    limit = driver.find_element(By.ID, 'limit-angle').get_attribute('value')
    clamp = driver.find_element(By.ID, 'clamp').is_selected()
    return ['--angle-mode', mode, '--limit-angle', limit] + (['--clamp'] if clamp else [])


def write_obj(path, points, faces):
    with open(path, 'w') as f:
        f.writelines([f'v {x!r} {y!r} {z!r}\n' for x, y, z in points] +
                     ['f ' + ' '.join(str(i + 1) for i in face) + '\n' for face in faces])
    return path


def torus(path, n):
    """A quad torus of n x n quads, large enough that a run takes a while."""
    angle = [2 * math.pi * k / n for k in range(n)]
    points = [((2 + math.cos(b)) * math.cos(a), (2 + math.cos(b)) * math.sin(a), math.sin(b))
              for a in angle for b in angle]
    quad = [(0, 0), (1, 0), (1, 1), (0, 1)]
    return write_obj(path, points, [[(i + di) % n * n + (j + dj) % n for di, dj in quad]
                                    for i in range(n) for j in range(n)])


def send_quietly(s, data):
    try:
        s.sendall(data)
    except OSError:
        pass   # the server stopped reading, as it should


def wait_settled(driver, timeout=30):
    """The status once the page is no longer busy."""
    WebDriverWait(driver, timeout, poll_frequency=0.02).until(
        lambda d: text(d, 'status') not in ('running', 'loading'))
    return text(driver, 'status')


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = chromium()

    @classmethod
    def tearDownClass(cls):
        quit_chromium(cls.driver)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix='corvane-view-test-')

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def serve(self, mesh, output=None):
        server = Server(mesh if os.path.isabs(mesh) else example(mesh), output)
        self.addCleanup(server.stop)
        return server

    def test_the_token_leaves_the_address_and_travels_in_a_header(self):
        server = self.serve('cube.obj')
        self.driver.get(f'http://127.0.0.1:{server.port}/')
        self.assertEqual(wait_settled(self.driver), 'error')
        self.assertIn('valid token', text(self.driver, 'messages'))
        self.driver.get(server.url)
        wait_ready(self.driver)
        self.assertIn('Result: 24 points, 26 polygons', text(self.driver, 'stats'))
        self.assertEqual(self.driver.current_url, f'http://127.0.0.1:{server.port}/', 'the token left the address')
        self.assertEqual(self.driver.get_cookies(), [], 'no cookie: other local servers would get it')
        # The tab keeps it for a reload.
        self.driver.refresh()
        wait_ready(self.driver)

    def test_a_failed_run_is_not_ready(self):
        server = self.serve('cube.obj')
        self.driver.get(server.url)
        wait_ready(self.driver)
        server.stop()
        set_value(self.driver, 'size', '0.2')
        self.assertEqual(wait_settled(self.driver), 'failed')
        self.assertIn('The run failed', text(self.driver, 'messages'))

    def test_a_concave_polygon_covers_only_itself(self):
        # An L whose first corner sees the inner corner from outside: a fan
        # from it would cover the notch and wind one triangle backwards.
        l_shape = [(2, 0, 0), (2, 1, 0), (1, 1, 0), (1, 2, 0), (0, 2, 0), (0, 0, 0)]
        server = self.serve(write_obj(os.path.join(self.work, 'l.obj'), l_shape, [range(6)]))
        self.driver.get(server.url)
        wait_ready(self.driver)
        # The signed area of each triangle the page draws of it.
        areas = self.driver.execute_async_script('''
            const [points, done] = arguments;
            import('/app/scene.js').then(({ triangulate }) => {
              const { geometry } = triangulate({ positions: new Float32Array(points.flat()), counts: [6],
                                                 indices: [0, 1, 2, 3, 4, 5], starts: [0, 6] }, null);
              const p = geometry.getAttribute('position').array, t = [...geometry.getIndex().array].map((i) => i * 3);
              done(t.flatMap((a, k) => k % 3 ? [] : [((p[t[k + 1]] - p[a]) * (p[t[k + 2] + 1] - p[a + 1]) -
                                                      (p[t[k + 1] + 1] - p[a + 1]) * (p[t[k + 2]] - p[a])) / 2]));
            }, (e) => done(String(e)));''', l_shape)
        self.assertEqual(len(areas), 4, areas)
        self.assertTrue(all(a > 0 for a in areas), f'every triangle wound as the polygon: {areas}')
        self.assertEqual(sum(areas), 3.0, 'the L and nothing more')

    def test_clamp_and_the_results_validity_in_the_programs_words(self):
        output = os.path.join(self.work, 'cube.obj')
        server = self.serve('cube.obj', output)
        self.driver.get(server.url)
        wait_ready(self.driver)
        self.assertTrue(self.driver.find_element(By.ID, 'clamp').is_selected(), 'on by default')
        set_value(self.driver, 'size', '1.5')
        wait_ready(self.driver)
        expected = os.path.join(self.work, 'expected.obj')
        status, out, err = program(example('cube.obj'), '-o', expected, '--size', '1.5', *options_of(self.driver),
                                   '--plugins-dir', self.work, '--stats')
        self.assertEqual(status, 0, err)
        note = next(line for line in err.splitlines() if 'clamped' in line).split('note: ')[-1]
        self.assertEqual(note, 'bevel size 1.5 clamped to the safe size 0.9')
        self.assertIn(note, text(self.driver, 'stats'))
        twice = re.search(r'^polygons with a point twice\s+\d+\s+(\d+)$', out, re.M).group(1)
        flat = re.search(r'^polygons of zero area\s+\d+\s+(\d+)$', out, re.M).group(1)
        self.assertIn(f'{twice} polygons with a repeated point, {flat} of zero area', text(self.driver, 'stats'))
        warned = re.search(r'in the result (.*); other tools may refuse it', err)
        self.assertEqual(text(self.driver, 'result-warnings'),
                         f'In the result {warned.group(1)}; other tools may refuse it.' if warned else '')
        self.driver.find_element(By.ID, 'save').click()
        WebDriverWait(self.driver, 30).until(lambda d: 'written' in text(d, 'save-result'))
        with open(output, 'rb') as a, open(expected, 'rb') as b:
            self.assertEqual(a.read(), b.read(), 'Save writes what --clamp writes')
        self.driver.find_element(By.ID, 'clamp').click()
        wait_ready(self.driver)
        self.assertNotIn('clamped', text(self.driver, 'stats'))
        # One warning, in the program's words and its four digits.
        self.assertIn('is at or above the safe size 0.9,', text(self.driver, 'result-warnings'))
        self.assertEqual(text(self.driver, 'result-warnings').count('safe'), 2, 'said once, with its remedy')
        self.assertNotIn('safe', text(self.driver, 'warnings'))


    def test_size_changes_the_stats_to_the_programs_counts(self):
        server = self.serve('cylinder.obj')
        self.driver.get(server.url)
        wait_ready(self.driver)
        for size in ['0.05', '0', '0.125']:
            set_value(self.driver, 'size', size)
            wait_ready(self.driver)
            status, out, err = program(example('cylinder.obj'), '-o', os.path.join(self.work, 'c.obj'),
                                       '--size', size, *options_of(self.driver), '--stats',
                                       '--plugins-dir', self.work)
            self.assertEqual(status, 0, err)
            stats = text(self.driver, 'stats')
            if size == '0':
                self.assertIn('changes nothing', out)
                self.assertIn('Result: unchanged', stats)
            else:
                points, polygons = program_counts(out)
                self.assertIn(f'Result: {points} points, {polygons} polygons', stats, f'size {size}')

    def test_selected_pair_saves_the_programs_bytes(self):
        output = os.path.join(self.work, 'torus-pair.obj')
        server = self.serve('torus.obj', output)
        self.driver.get(server.url)
        wait_ready(self.driver)
        set_value(self.driver, 'size', '0.1')
        # Quads 1 and 2 of the torus share an edge (around its tube).
        self.driver.execute_script('corvaneSelect(1, 2)')
        wait_ready(self.driver)
        self.assertIn('two-polygon mode', text(self.driver, 'selection'))
        # The picture of the README: the loop through the selected pair.
        self.driver.save_screenshot(os.path.join(BUILD, 'viewer.png'))
        self.driver.find_element(By.ID, 'save').click()
        WebDriverWait(self.driver, 30).until(lambda d: 'written' in text(d, 'save-result'))
        expected = os.path.join(self.work, 'expected.obj')
        status, _, err = program(example('torus.obj'), '-o', expected, '--select', '1,2', '--size', '0.1',
                                 *options_of(self.driver), '--plugins-dir', self.work)
        self.assertEqual(status, 0, err)
        with open(output, 'rb') as a, open(expected, 'rb') as b:
            self.assertEqual(a.read(), b.read())
        # The points the run replaced are not in the file: every point is used.
        with open(output) as f:
            lines = f.read().splitlines()
        used = {int(w) for line in lines if line.startswith('f ') for w in line.split()[1:]}
        self.assertEqual(used, set(range(1, sum(line.startswith('v ') for line in lines) + 1)))
        # Save kept the options in the settings file, as an activation does.
        self.assertTrue(os.path.exists(os.path.join(server.settings, 'Corvane.cfg')))
        # Polygons 1 and 3 share no edge: the module's own words.
        self.driver.execute_script('corvaneSelect(1, 3)')
        wait_ready(self.driver)
        self.assertEqual(text(self.driver, 'messages'),
                         'The two selected polygons must share an edge. Nothing was changed.',
                         'on one line, without the title the module gives its message box')
        self.driver.find_element(By.ID, 'clear-selection').click()
        wait_ready(self.driver)
        self.assertEqual(text(self.driver, 'messages'), '')

    def test_clicks_pick_a_polygon_or_the_two_at_an_edge(self):
        server = self.serve('cube.obj')
        self.driver.get(server.url)
        wait_ready(self.driver)
        view = self.driver.find_element(By.ID, 'view')
        # From the middle of the +z face (polygon 2) rightwards across its
        # edge with the +x face (polygon 6): one polygon, then both, then
        # the other, each as a plain click.
        seen = []
        for dx in range(21, 100, 3):
            ActionChains(self.driver).move_to_element_with_offset(view, dx, 0).click().perform()
            wait_ready(self.driver)
            selection = text(self.driver, 'selection')
            if not seen or seen[-1][0] != selection:
                seen.append([selection, 0])
            seen[-1][1] += 1
        self.assertEqual([s for s, _ in seen][:3],
                         ['polygon 2', 'polygon 2 and polygon 6 (two-polygon mode)', 'polygon 6'], seen)
        self.assertLessEqual(seen[1][1], 5, 'the edge takes a few pixels, not the face')
        # Shift-click adds a second polygon.
        ActionChains(self.driver).move_to_element_with_offset(view, -40, 0).click().perform()
        ActionChains(self.driver).move_to_element_with_offset(view, 200, 0).key_down(Keys.SHIFT).click() \
            .key_up(Keys.SHIFT).perform()
        wait_ready(self.driver)
        self.assertEqual(text(self.driver, 'selection'), 'polygon 2 and polygon 6 (two-polygon mode)')

    def pixels(self, kind):
        """How many pixels of the view are of `kind`: 'back' (magenta), 'selected' (blue) or 'front' (grey)."""
        shot = Image.open(io.BytesIO(self.driver.find_element(By.ID, 'view').screenshot_as_png)).convert('RGB')
        test = {'back': lambda r, g, b: r > g + 60 and b > g + 60,
                'selected': lambda r, g, b: b > r + 60 and b > g + 30,
                'front': lambda r, g, b: max(r, g, b) - min(r, g, b) < 30 and 80 < g < 240}[kind]
        return sum(n for n, rgb in shot.getcolors(1 << 20) if test(*rgb))

    def runs(self):
        return self.driver.execute_script(
            "return performance.getEntriesByType('resource').filter((e) => e.name.includes('/api/run')).length")

    def test_faces_show_their_side_and_edges_are_drawn_once(self):
        # Two unit quads apart, one facing the camera and one turned away.
        points = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (1.5, 0, 0), (2.5, 0, 0), (2.5, 1, 0), (1.5, 1, 0)]
        server = self.serve(write_obj(os.path.join(self.work, 'sides.obj'), points, [[0, 1, 2, 3], [7, 6, 5, 4]]))
        self.driver.get(server.url)
        wait_ready(self.driver)
        self.assertGreater(self.pixels('front'), 2000)
        self.assertGreater(self.pixels('back'), 2000)
        # Two quads sharing an edge, and a point twice in a row: each edge
        # once, the border's too.
        pairs = self.driver.execute_async_script('''
            const done = arguments[0];
            import('/app/scene.js').then(({ edgeGeometry }) => {
              const mesh = { positions: new Float32Array(18), counts: [4, 4, 3],
                             indices: [0, 1, 4, 3, 1, 2, 5, 4, 0, 0, 5], starts: [0, 4, 8, 11] };
              // Again after a result of the same polygons, and of others.
              const pairs = [[...mesh.indices], [0, 1, 4, 3, 1, 2, 5, 4, 0, 0, 4]].map((indices) => {
                const i = [...edgeGeometry(mesh, edgeGeometry({ ...mesh, indices }).edges).geometry.getIndex().array];
                return i.flatMap((a, k) => k % 2 ? [] : [[a, i[k + 1]]]).sort();
              });
              done(pairs[0].join() === pairs[1].join() ? pairs[0] : pairs);
            }, (e) => done(String(e)));''')
        self.assertEqual(pairs, [[0, 0], [0, 1], [0, 3], [0, 5], [1, 2], [1, 4], [2, 5], [3, 4], [4, 5]])

    def test_one_click_redraws_the_selection_without_a_run(self):
        server = self.serve('cube.obj')
        self.driver.get(server.url)
        wait_ready(self.driver)
        view = self.driver.find_element(By.ID, 'view')
        before = self.runs()
        self.assertEqual(self.pixels('selected'), 0)
        ActionChains(self.driver).move_to_element_with_offset(view, -40, 0).click().perform()
        wait_ready(self.driver)
        self.assertEqual(text(self.driver, 'selection'), 'polygon 2')
        self.assertGreater(self.pixels('selected'), 2000, 'the selection is drawn')
        self.assertEqual(self.runs(), before, 'one polygon leaves the object-mode run as it was')
        ActionChains(self.driver).move_to_element_with_offset(view, 200, 0).key_down(Keys.SHIFT).click() \
            .key_up(Keys.SHIFT).perform()
        wait_ready(self.driver)
        self.assertEqual(self.runs(), before + 1)
        self.assertIn('. Two-polygon mode, activation', text(self.driver, 'stats'))
        self.driver.find_element(By.ID, 'clear-selection').click()
        wait_ready(self.driver)
        self.assertEqual(self.runs(), before + 2)
        self.assertIn('. Object mode, activation', text(self.driver, 'stats'))
        self.assertEqual(self.pixels('selected'), 0)

    def test_progress_shows_while_a_slow_run_goes_on_and_the_page_answers(self):
        # Every monitor step of the module slowed down: a run of the cube
        # takes a few seconds, as one of a million triangles takes longer.
        server = Server(example('cube.obj'), env={'CORVANE_STEP_DELAY_US': '20000'})
        self.addCleanup(server.stop)
        self.driver.get(server.url)
        WebDriverWait(self.driver, 30, poll_frequency=0.02).until(
            lambda d: re.search(r' of \d+ \(\d+%\)', text(d, 'progress-text')))
        shown = text(self.driver, 'progress-text')
        self.assertRegex(shown, r'^Running the module: Corvane.+, \d+ of \d+ \(\d+%\), \d+\.\d s$')
        self.assertEqual(text(self.driver, 'status'), 'running')
        # The page answers meanwhile: frames keep coming, and a change of
        # the size is taken at once and waits for the run in flight.
        frames = self.driver.execute_async_script('''
            const done = arguments[0], until = performance.now() + 500;
            let frames = 0;
            const count = () => (performance.now() < until ? (frames++, requestAnimationFrame(count)) : done(frames));
            requestAnimationFrame(count);''')
        self.assertGreater(frames, 10, 'frames in half a second of the run')
        asked = time.time()
        set_value(self.driver, 'size', '0.2')
        self.assertLess(time.time() - asked, 1, 'seconds the page took to take a change')
        self.assertEqual(text(self.driver, 'status'), 'running')
        wait_ready(self.driver, 60)
        self.assertFalse(self.driver.find_element(By.ID, 'progress').is_displayed())
        self.assertIn('Result: 24 points, 26 polygons', text(self.driver, 'stats'))
        self.assertEqual(self.runs(), 2, 'the first run and the change, nothing queued between')
        status, _, body = server.api('GET', '/api/progress')
        self.assertEqual((status, body), (200, b'{"ready":true,"task":""}'))

    def test_view_is_drawn_and_follows_a_change(self):
        server = self.serve('torus.obj')
        self.driver.get(server.url)
        wait_ready(self.driver)
        view = self.driver.find_element(By.ID, 'view')
        before = Image.open(io.BytesIO(view.screenshot_as_png)).convert('RGB')
        self.assertGreater(len(before.getcolors(1 << 20)), 50, 'a blank or flat view')
        set_value(self.driver, 'size', '0.3')
        wait_ready(self.driver)
        after = Image.open(io.BytesIO(view.screenshot_as_png)).convert('RGB')
        self.assertNotEqual(before.tobytes(), after.tobytes(), 'the view did not follow the size')


class UnreadableInput(unittest.TestCase):
    def test_the_server_stops_with_the_programs_message_and_status(self):
        # The page is served while the input is read: a file that turns out
        # bad must still end the program, as the command line ends.
        work = tempfile.mkdtemp(prefix='corvane-view-test-')
        self.addCleanup(shutil.rmtree, work, True)
        bad = write_obj(os.path.join(work, 'bad.obj'), [(0, 0, 0)], [[0, 1, 2]])
        expected = program(bad, '-o', os.path.join(work, 'out.obj'), '--size', '0.1')
        for mesh in [bad, os.path.join(work, 'missing.obj')]:
            done = subprocess.run([PROGRAM, 'view', mesh, '--plugins-dir', work], capture_output=True, text=True,
                                  timeout=30)
            self.assertEqual(done.returncode, expected[0], mesh)
            self.assertEqual(done.stderr.splitlines()[-1:], [f'corvane: {bad}:2: vertex number 2 is out of range '
                                                             '(the file has 1)'] if mesh == bad else
                             [f'corvane: {mesh}: cannot open: No such file or directory'])
        self.assertEqual(done.stdout, '', 'no address for an input that is not there')


class WithoutWebGL(unittest.TestCase):
    def test_the_page_says_it_cannot_draw_and_what_to_do(self):
        driver = chromium(extra=['--disable-webgl', '--disable-3d-apis'])
        self.addCleanup(quit_chromium, driver)
        server = Server(example('cube.obj'))
        self.addCleanup(server.stop)
        driver.get(server.url)
        self.assertEqual(wait_settled(driver), 'cannot draw')
        message = text(driver, 'messages')
        self.assertIn('WebGL is turned off or not available', message)
        self.assertIn('another browser', message)


class Defences(unittest.TestCase):
    """The server is a door: it answers only its own page, on loopback."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='corvane-view-test-')
        cls.output = os.path.join(cls.work, 'out.obj')
        cls.server = Server(example('cube.obj'), cls.output)
        cls.host = {'Host': f'127.0.0.1:{cls.server.port}'}
        cls.auth = {**cls.host, 'X-Corvane-Token': cls.server.token}
        cls.run_path = '/api/run?size=0.1&mode=disable&limit=30'

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def status(self, method, path, headers, body=None):
        return self.server.request(method, path, headers, body)[0]

    def test_bound_to_127_0_0_1_only(self):
        for address in ['127.0.0.2', '::1']:
            family = socket.AF_INET6 if ':' in address else socket.AF_INET
            with socket.socket(family) as s:
                s.settimeout(5)
                self.assertNotEqual(s.connect_ex((address, self.server.port)), 0, address)

    def test_api_takes_the_token_only_from_its_header(self):
        token, port = self.server.token, self.server.port
        # A cookie reaches this server from pages of other local servers too,
        # and a query string ends up in histories.
        save = self.run_path.replace('run', 'save')
        for method, path in [('GET', '/api/input'), ('GET', '/api/progress'), ('POST', self.run_path), ('POST', save)]:
            for headers in [self.host, {**self.host, 'X-Corvane-Token': '0' * 64},
                            {**self.host, 'Cookie': f'corvane_token_{port}={token}'}]:
                self.assertEqual(self.status(method, path, headers), 403, (path, headers))
            self.assertIn(self.status(method, path + ('&' if '?' in path else '?') + f'token={token}', self.host),
                          (400, 403), path)
        # Another origin's page must ask before it sends the header: refused.
        status, headers, _ = self.server.request('OPTIONS', '/api/save', {
            **self.host, 'Origin': 'http://127.0.0.1:1', 'Access-Control-Request-Method': 'POST',
            'Access-Control-Request-Headers': 'x-corvane-token'})
        self.assertEqual((status, [h for h in headers if h.lower().startswith('access-control-')]), (403, []))
        for method in ['PUT', 'DELETE', 'PATCH']:
            self.assertEqual(self.status(method, self.run_path, self.auth), 405, method)
        # The page itself holds no secret: it loads without the token, and sets no cookie.
        status, headers, _ = self.server.request('GET', '/', self.host)
        self.assertEqual((status, 'Set-Cookie' in headers), (200, False))
        self.assertEqual(self.status('POST', self.run_path, self.auth), 200)
        self.assertFalse(os.path.exists(self.output), 'a run writes nothing')

    def test_only_its_own_host_names(self):
        port = self.server.port
        for host in [f'evil.example:{port}', f'127.0.0.1:{port + 1}', '127.0.0.1', f'localhost.evil.example:{port}']:
            self.assertEqual(self.status('POST', self.run_path, {**self.auth, 'Host': host}), 403, host)
        self.assertEqual(self.status('POST', self.run_path, {**self.auth, 'Host': f'localhost:{port}'}), 200)

    def test_bad_requests_get_4xx_and_the_server_goes_on(self):
        stray = os.path.join(self.work, 'x.obj')
        cases = [
            ('POST', '/api/run?size=nan&mode=disable&limit=30', None),
            ('POST', '/api/run?size=0.1&mode=sideways&limit=30', None),
            ('POST', '/api/run?size=0.1&mode=disable&limit=30&select=1,99', None),
            ('POST', f'/api/save?size=0.1&mode=disable&limit=30&output={stray}', None),
            ('POST', self.run_path, b'x' * 100000),                         # a body past the limit
            ('GET', '/app/..%2F..%2Fetc%2Fpasswd', None),
            ('GET', '/app/' + 'a' * 5000, None),
        ]
        for method, path, body in cases:
            status = self.status(method, path, self.auth, body)
            self.assertTrue(400 <= status < 500, f'{path[:60]}: {status}')
        for garbage in [b'GARBAGE\r\n\r\n', b'GET / HTTP/1.1\r\nHost: \xff\xfe\r\nContent-Length: -5\r\n\r\n',
                        b'POST /api/run HTTP/1.1\r\n' + b'X: ' + b'y' * 100000 + b'\r\n\r\n']:
            with socket.create_connection(('127.0.0.1', self.server.port), timeout=10) as s:
                s.sendall(garbage)
                answer = s.recv(64)
            self.assertRegex(answer, rb'^HTTP/1\.1 4\d\d', garbage[:30])
        self.assertEqual(self.status('POST', self.run_path, self.auth), 200, 'still serving')
        self.assertFalse(os.path.exists(stray))
        self.assertFalse(os.path.exists(self.output))


class Folders(unittest.TestCase):
    """What the server writes, and what it shows other local users."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix='corvane-view-test-')
        self.addCleanup(shutil.rmtree, self.work, True)

    def test_live_runs_keep_to_a_folder_of_their_own(self):
        tmp = os.path.join(self.work, 'tmp')
        os.mkdir(tmp)
        server = Server(example('cube.obj'), env={'TMPDIR': tmp})
        [private] = [os.path.join(tmp, name) for name in os.listdir(tmp)]
        self.assertEqual(stat.S_IMODE(os.stat(private).st_mode), 0o700)
        self.assertEqual(server.api('POST', '/api/run?size=0.1&mode=disable&limit=90')[0], 200)
        self.assertTrue(os.path.exists(os.path.join(private, 'Corvane.cfg')), 'the live run kept its options')
        self.assertFalse(os.path.exists(os.path.join(server.settings, 'Corvane.cfg')), "the user's file is Save's")
        server.stop()
        self.assertEqual(os.listdir(tmp), [], 'the folder goes with the server')

    def test_the_folder_goes_on_sigterm_and_sighup_too(self):
        for sig in [signal.SIGTERM, signal.SIGHUP]:
            tmp = tempfile.mkdtemp(dir=self.work)
            server = Server(example('cube.obj'), env={'TMPDIR': tmp})
            self.assertEqual(len(os.listdir(tmp)), 1)
            server.proc.send_signal(sig)
            server.proc.wait(timeout=15)
            server.stop()
            self.assertEqual(os.listdir(tmp), [], sig)

    def test_open_keeps_the_token_off_the_command_line(self):
        # A stand-in for the user's browser opener that records what it got.
        log = os.path.join(self.work, 'opened')
        with open(os.path.join(self.work, 'xdg-open'), 'w') as f:
            f.write(f'#!/bin/sh\nstat -c %a "$1" > {log}.mode\ncp "$1" {log}.html\necho "$@" > {log}\n')
        os.chmod(f.name, 0o755)
        server = Server(example('cube.obj'), env={'PATH': f'{self.work}:{os.environ["PATH"]}'}, extra=['--open'])
        self.addCleanup(server.stop)
        for _ in range(200):
            if not os.path.exists(log):
                time.sleep(0.05)
        with open(log) as a, open(log + '.mode') as mode, open(log + '.html') as page:
            self.assertNotIn(server.token, a.read(), 'every local user can read a command line')
            self.assertEqual(mode.read().strip(), '600')
            self.assertIn(f'url={server.url}"', page.read())


class Limits(unittest.TestCase):
    """No client holds the server's workers or memory for long."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='corvane-view-test-')
        # 15,376 quads: a run takes long enough for others to queue behind it.
        cls.server = Server(torus(os.path.join(cls.work, 'torus.obj'), 124))
        # The token as a cookie too: ignored here, it lets these tests reach
        # the limits of a server that would take it from there.
        cls.cookie = f'corvane_token_{cls.server.port}={cls.server.token}'
        cls.host = {'Host': f'127.0.0.1:{cls.server.port}', 'Cookie': cls.cookie}

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def memory_kb(self):
        with open(f'/proc/{self.server.proc.pid}/status') as f:
            return int(next(line for line in f if line.startswith('VmRSS')).split()[1])

    def answer_to(self, head, then=b''):
        """The first bytes of the answer to `head`, with `then` sent alongside."""
        with socket.create_connection(('127.0.0.1', self.server.port), timeout=15) as s:
            s.sendall(head)
            sender = threading.Thread(target=send_quietly, args=(s, then))
            sender.start()
            answer = s.recv(64)
            sender.join()
            return answer

    def test_headers_are_capped_in_count_and_size(self):
        start = f'GET / HTTP/1.1\r\nHost: 127.0.0.1:{self.server.port}\r\nCookie: {self.cookie}\r\n'.encode()
        self.assertRegex(self.answer_to(start + b'X-A: b\r\n' * 200 + b'\r\n'), rb'^HTTP/1\.1 431')
        before = self.memory_kb()
        endless = b''.join(b'X-%d: %s\r\n' % (i, b'y' * 100) for i in range(300000))   # 32 MB
        self.assertRegex(self.answer_to(start, endless), rb'^HTTP/1\.1 431')
        self.assertLess(self.memory_kb() - before, 8000, 'kilobytes the server grew by')
        self.assertEqual(self.server.request('GET', '/app/style.css', self.host)[0], 200)

    def test_saves_take_turns_too(self):
        results = []
        threads = [threading.Thread(target=lambda i=i: results.append(self.server.api(
            'POST', f'/api/save?size={0.001 * (i + 1)}&mode=disable&limit=30', {'Cookie': self.cookie})))
            for i in range(8)]
        for t in threads:
            t.start()
            time.sleep(0.005)
        for t in threads:
            t.join()
        statuses = sorted(status for status, _, _ in results)
        self.assertGreaterEqual(statuses.count(409), 4, statuses)
        self.assertTrue(all(b'superseded by a newer save' in body for status, _, body in results if status == 409))

    def test_ranges_and_a_second_host_are_refused(self):
        before = self.memory_kb()
        ranges = ','.join(['0-'] * 1024)
        for _ in range(4):
            status, _, body = self.server.request('GET', '/app/three.module.js', {**self.host, 'Range': f'bytes={ranges}'})
            self.assertEqual(status, 416)
            self.assertLess(len(body), 1000)
        self.assertLess(self.memory_kb() - before, 8000, 'kilobytes the server grew by')
        twice = f'GET / HTTP/1.1\r\nHost: 127.0.0.1:{self.server.port}\r\nHost: evil.example\r\n\r\n'.encode()
        self.assertRegex(self.answer_to(twice), rb'^HTTP/1\.1 400')

    def test_chunked_bodies_are_refused(self):
        head = (f'POST /api/run?size=0.1&mode=disable&limit=30 HTTP/1.1\r\nHost: 127.0.0.1:{self.server.port}\r\n'
                f'X-Corvane-Token: {self.server.token}\r\nCookie: {self.cookie}\r\n'
                'Transfer-Encoding: chunked\r\n\r\n').encode()
        body = (b'1000\r\n' + b'z' * 0x1000 + b'\r\n') * 256 + b'0\r\n\r\n'   # 1 MB in 4 KB chunks
        self.assertRegex(self.answer_to(head, body), rb'^HTTP/1\.1 411')

    def test_slow_clients_are_cut_off(self):
        answers = []

        def trickle():   # a byte every half second, more clients than workers
            with socket.create_connection(('127.0.0.1', self.server.port), timeout=15) as s:
                for byte in b'GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n' * 4:
                    if select.select([s], [], [], 0.5)[0]:
                        break
                    s.send(bytes([byte]))
                answers.append((time.time() - started, s.recv(64)))

        started = time.time()
        clients = [threading.Thread(target=trickle) for _ in range(24)]
        for c in clients:
            c.start()
        time.sleep(1)
        self.assertEqual(self.server.request('GET', '/app/style.css', self.host)[0], 200)
        self.assertLess(time.time() - started, 8, 'seconds a normal request waited behind the slow ones')
        for c in clients:
            c.join()
        self.assertEqual(len(answers), 24)
        for took, answer in answers:
            self.assertLess(took, 8, f'a slow client held on for {took:.1f} s')
            self.assertRegex(answer, rb'^HTTP/1\.1 408')

    def test_one_run_in_flight_and_one_waiting(self):
        results = []
        threads = [threading.Thread(target=lambda i=i: results.append(self.server.api(
            'POST', f'/api/run?size={0.001 * (i + 1)}&mode=disable&limit=30', {'Cookie': self.cookie})))
            for i in range(10)]
        for t in threads:
            t.start()
            time.sleep(0.005)
        asked = time.time()
        self.assertEqual(self.server.request('GET', '/app/style.css', self.host)[0], 200)
        self.assertLess(time.time() - asked, 2, 'seconds a page file waited behind the runs')
        for t in threads:
            t.join()
        statuses = sorted(status for status, _, _ in results)
        self.assertEqual(set(statuses), {200, 409}, statuses)
        self.assertGreaterEqual(statuses.count(200), 2, 'the first and the newest run')
        self.assertGreaterEqual(statuses.count(409), 5, statuses)
        self.assertTrue(all(b'superseded by a newer run' in body for status, _, body in results if status == 409))

if __name__ == '__main__':
    unittest.main(verbosity=2)
