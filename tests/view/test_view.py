"""`corvane view` in a real headless Chromium, and its server's defences,
against the running program."""
import io
import os
import shutil
import socket
import sys
import tempfile
import unittest

from PIL import Image
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from viewlib import (BUILD, Server, chromium, example, program, program_counts, quit_chromium,  # noqa: E402
                     set_value, text, wait_ready)


def options_of(driver):
    """The page's angle mode and limit angle, as the program's arguments."""
    mode = driver.find_element(By.ID, 'angle-mode').get_attribute('value')
    limit = driver.find_element(By.ID, 'limit-angle').get_attribute('value')
    return ['--angle-mode', mode, '--limit-angle', limit]


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
        server = Server(example(mesh), output)
        self.addCleanup(server.stop)
        return server

    def test_loads_with_the_token_and_is_refused_without(self):
        server = self.serve('cube.obj')
        self.driver.get(f'http://127.0.0.1:{server.port}/')
        self.assertIn('valid token', self.driver.find_element(By.TAG_NAME, 'body').text)
        self.driver.get(server.url)
        wait_ready(self.driver)
        self.assertIn('Result: 24 points, 26 polygons', text(self.driver, 'stats'))
        # The token became a cookie: a reload without it still loads.
        self.driver.get(f'http://127.0.0.1:{server.port}/')
        wait_ready(self.driver)

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
                self.assertIn('changes nothing', err)
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
        # Save kept the options in the settings file, as an activation does.
        self.assertTrue(os.path.exists(os.path.join(server.settings, 'Corvane.cfg')))
        # Polygons 1 and 3 share no edge: the module's own words.
        self.driver.execute_script('corvaneSelect(1, 3)')
        wait_ready(self.driver)
        self.assertIn('must share an edge', text(self.driver, 'messages'))
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


class Defences(unittest.TestCase):
    """The server is a door: it answers only its own page, on loopback."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='corvane-view-test-')
        cls.output = os.path.join(cls.work, 'out.obj')
        cls.server = Server(example('cube.obj'), cls.output)
        cls.host = {'Host': f'127.0.0.1:{cls.server.port}'}
        cls.auth = {**cls.host, 'Cookie': f'corvane_token_{cls.server.port}={cls.server.token}'}
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

    def test_every_request_needs_the_token(self):
        forged = {**self.host, 'Cookie': f'corvane_token_{self.server.port}=' + '0' * 64}
        for method, path in [('GET', '/'), ('GET', '/app/main.js'), ('GET', '/api/input'), ('POST', self.run_path),
                             ('POST', self.run_path.replace('run', 'save')), ('GET', '/nothing')]:
            self.assertEqual(self.status(method, path, self.host), 403, path)
            self.assertEqual(self.status(method, path, forged), 403, path)
        self.assertEqual(self.status('GET', f'/?token={self.server.token}', self.host), 200)
        self.assertEqual(self.status('POST', self.run_path, self.auth), 200)
        self.assertFalse(os.path.exists(self.output), 'a run writes nothing')

    def test_only_its_own_host_names(self):
        port = self.server.port
        for host in [f'evil.example:{port}', f'127.0.0.1:{port + 1}', '127.0.0.1', f'localhost.evil.example:{port}']:
            self.assertEqual(self.status('POST', self.run_path, {**self.auth, 'Host': host}), 403, host)
        self.assertEqual(self.status('POST', self.run_path, {**self.auth, 'Host': f'localhost:{port}'}), 200)

    def test_bad_requests_get_4xx_and_the_server_goes_on(self):
        cases = [
            ('POST', '/api/run?size=nan&mode=disable&limit=30', None),
            ('POST', '/api/run?size=0.1&mode=sideways&limit=30', None),
            ('POST', '/api/run?size=0.1&mode=disable&limit=30&select=1,99', None),
            ('POST', '/api/save?size=0.1&mode=disable&limit=30&output=/tmp/x.obj', None),
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
        self.assertFalse(os.path.exists('/tmp/x.obj'))
        self.assertFalse(os.path.exists(self.output))


if __name__ == '__main__':
    unittest.main(verbosity=2)
