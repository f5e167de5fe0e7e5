"""Running `corvane view` and a headless Chromium on its page, for the
browser tests and the viewer's benchmark."""
import atexit
import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

BUILD = os.environ.get('CORVANE_BUILD_DIR', 'build')
SOURCE = os.environ.get('CORVANE_SOURCE_DIR', '.')
PROGRAM = os.path.join(BUILD, 'corvane')


def example(name):
    return os.path.join(SOURCE, 'examples', name)


class Server:
    """`corvane view INPUT [-o OUTPUT]` on a free port, with its own settings folder."""

    def __init__(self, mesh, output=None, settings=None, env=None, extra=(), program_path=None):
        self.settings = settings or tempfile.mkdtemp(prefix='corvane-view-')
        args = [program_path or PROGRAM, 'view', mesh, '--port', '0', '--plugins-dir', self.settings, *extra]
        if output:
            args += ['-o', output]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     env={**os.environ, **(env or {})})
        self.url = self.proc.stdout.readline().strip()
        match = re.fullmatch(r'http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{64})', self.url)
        if not match:
            self.proc.kill()
            raise RuntimeError(f'unexpected first line {self.url!r}: {self.proc.stderr.read()}')
        self.port = int(match.group(1))
        self.token = match.group(2)
        # A test run that dies half-way must not leave the server behind.
        atexit.register(lambda: self.proc.poll() is None and self.proc.kill())
        # The page is served while the input is read; the tests start from a
        # server that has read it (a slow build reads for a while).
        deadline = time.monotonic() + 120
        while self.proc.poll() is None and time.monotonic() < deadline:
            status, _, body = self.api('GET', '/api/progress')
            if status == 200 and json.loads(body).get('ready'):
                break
            time.sleep(0.02)

    def request(self, method, path, headers=None, body=None):
        """One request; (status, headers, body bytes)."""
        connection = http.client.HTTPConnection('127.0.0.1', self.port, timeout=10)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def api(self, method, path, headers=None, body=None):
        """A request as the page makes it: its Host, and the token in its header."""
        return self.request(method, path, {'Host': f'127.0.0.1:{self.port}', 'X-Corvane-Token': self.token,
                                           **(headers or {})}, body)

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        try:
            self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()
        shutil.rmtree(self.settings, ignore_errors=True)


def chromium(width=1200, height=800, extra=(), gpu=False):
    """Headless Chromium. With `gpu`, the software renderer stands in for a
    GPU, compositing included, as a browser with a GPU composites; without
    it the page's thread reads every WebGL frame back for the software
    compositor and waits for it."""
    profile = tempfile.mkdtemp(prefix='corvane-chromium-')
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which('chromium') or '/usr/bin/chromium'
    graphics = ['--use-angle=swiftshader', '--ignore-gpu-blocklist'] if gpu else ['--disable-gpu']
    for flag in ['--headless', '--no-sandbox', *graphics, '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--enable-unsafe-swiftshader', f'--user-data-dir={profile}',
                 f'--window-size={width},{height}', *extra]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(shutil.which('chromedriver') or '/usr/bin/chromedriver'),
                              options=options)
    driver.corvane_profile = profile
    return driver


def quit_chromium(driver):
    driver.quit()
    shutil.rmtree(driver.corvane_profile, ignore_errors=True)


def text(driver, element_id):
    return driver.find_element(By.ID, element_id).text


def wait_ready(driver, timeout=30):
    WebDriverWait(driver, timeout, poll_frequency=0.02).until(lambda d: text(d, 'status') == 'ready')


def set_value(driver, element_id, value):
    """Types a value as the user would end up with it: the field's value, then its input event."""
    driver.execute_script(
        "const e = document.getElementById(arguments[0]); e.value = arguments[1];"
        "e.dispatchEvent(new Event(e.tagName === 'SELECT' ? 'change' : 'input'));", element_id, str(value))


def program(*args):
    """Runs the corvane program; (status, stdout, stderr)."""
    done = subprocess.run([PROGRAM, *args], capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def program_counts(stats):
    """The output's points and polygons from --stats."""
    points = re.search(r'^points\s+\d+\s+(\d+)$', stats, re.M)
    polygons = re.search(r'^polygons\s+\d+\s+(\d+)$', stats, re.M)
    return int(points.group(1)), int(polygons.group(1))
