"""Headless Chromium, driven by playwright-core, against the board that
scripts/demo serves: what a visitor and an administrator do, step by step,
the redirect after a post, the feed and old logs as a visitor meets them,
and what forged requests from a message or another site cannot do.
Screenshots go to tests/browser/screenshots/."""
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from rukcgi import BUILD_DIR, SOURCE_DIR

BROWSER_DIR = os.path.join(SOURCE_DIR, "tests", "browser")
CHROMIUM = "/usr/bin/chromium"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def have_browser():
    return (os.path.exists(CHROMIUM) and shutil.which("node") and
            os.path.isdir(os.path.join(BROWSER_DIR, "node_modules", "playwright-core")))


@unittest.skipUnless(have_browser() or os.environ.get("CI"),
                     "chromium, node and tests/browser/node_modules (scripts/test installs them)")
class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base = tempfile.mkdtemp(prefix="ruk-demo-")
        cls.port = free_port()
        cls.demo = subprocess.Popen(
            [os.path.join(SOURCE_DIR, "scripts", "demo"), "--port", str(cls.port),
             "--dir", cls.base, "--build", BUILD_DIR],
            cwd=SOURCE_DIR, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        out = ""
        deadline = time.time() + 120
        while "Ctrl-C" not in out and time.time() < deadline:
            line = cls.demo.stdout.readline()
            if not line:
                break
            out += line
        match = re.search(r"Administrator password: (\S+)", out)
        cls.password = match.group(1) if match else ""
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", cls.port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.1)
        cls.url = "http://127.0.0.1:%d" % cls.port
        cls.www = os.path.join(cls.base, "www")
        cls.shots = os.path.join(BROWSER_DIR, "screenshots")
        os.makedirs(cls.shots, exist_ok=True)
        cls.output = out

    @classmethod
    def tearDownClass(cls):
        cls.demo.terminate()
        try:
            cls.demo.wait(timeout=10)
        except subprocess.TimeoutExpired:
            cls.demo.kill()
        shutil.rmtree(cls.base, ignore_errors=True)

    def drive(self, script, *args):
        proc = subprocess.run(["node", os.path.join(BROWSER_DIR, script), self.url, self.www,
                               self.shots, *args],
                              cwd=BROWSER_DIR, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=300)
        self.assertEqual(proc.returncode, 0, proc.stdout)

    def test_demo_prints_its_urls(self):
        self.assertIn("/ruk-bbs.cgi?bid=demo", self.output)
        self.assertIn("/ruk-config.cgi", self.output)
        self.assertTrue(self.password, self.output)

    def test_visitor(self):
        self.drive("visitor.mjs")

    def test_posting_and_reading_features(self):
        self.drive("features.mjs")

    def test_forged_requests(self):
        self.drive("forgery.mjs")

    def test_site_owner(self):
        self.drive("admin.mjs", self.password)


if __name__ == "__main__":
    unittest.main()
