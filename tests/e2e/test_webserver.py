"""The installed site served by a real lighttpd on a free loopback port,
fetched with curl: board pages come from the CGI program, private files
are refused and nothing below the data directory is executed."""
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from rukcgi import BUILD_DIR, SOURCE_DIR

LIGHTTPD = shutil.which("lighttpd") or "/usr/sbin/lighttpd"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def curl(url, *args):
    """Returns (HTTP status, body bytes)."""
    proc = subprocess.run(["curl", "-s", "--path-as-is", "-o", "-", "-w", "\n%{http_code}", *args, url],
                          stdout=subprocess.PIPE, timeout=30)
    body, _, code = proc.stdout.rpartition(b"\n")
    return int(code or 0), body


@unittest.skipUnless(os.path.exists(LIGHTTPD) and shutil.which("curl"), "lighttpd and curl")
class WebServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base = tempfile.mkdtemp(prefix="ruk-www-")
        cls.port = free_port()
        subprocess.run(["python3", os.path.join(SOURCE_DIR, "scripts", "make-site"), cls.base,
                        "--build", BUILD_DIR, "--port", str(cls.port),
                        "--admin-password", "secret"], check=True, stdout=subprocess.DEVNULL)
        cls.www = os.path.join(cls.base, "www")
        # A script dropped below the data directory must never run.
        evil = os.path.join(cls.www, "data", "demo", "evil.cgi")
        with open(evil, "w") as f:
            # Only running the script prints the word whole.
            f.write("#!/bin/sh\nprintf 'Content-type: text/plain\\n\\nEXE%sCUTED' ''\n")
        os.chmod(evil, 0o755)
        cls.server = subprocess.Popen([LIGHTTPD, "-D", "-f",
                                       os.path.join(cls.base, "lighttpd.conf")],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", cls.port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        cls.url = "http://127.0.0.1:%d" % cls.port

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(timeout=10)
        shutil.rmtree(cls.base, ignore_errors=True)

    def test_board_page(self):
        code, body = curl(self.url + "/ruk-bbs.cgi?bid=demo")
        self.assertEqual(code, 200, body)
        self.assertIn("デモ掲示板".encode("cp932"), body)

    def test_shift_jis_query(self):
        # "公園" in Shift_JIS holds the byte 0xF6.
        code, body = curl(self.url + "/ruk-bbs.cgi?bid=demo&word=%8C%F6%89%80&submit_find.x=1")
        self.assertEqual(code, 200, body)

    def test_private_files_are_refused(self):
        for path in ["/dat-system.dat", "/dat-message.dat", "/data/demo.conf",
                     "/data/demo%2Econf", "//dat-system.dat", "/data/x/../demo.conf",
                     "/data/demo/bbs-message.dat", "/data/demo/lockfile.lock",
                     "/lockfile.lock", "/ruk-bbs.cgi.log", "/default.keit", "/sys-signature"]:
            with self.subTest(path):
                code, _ = curl(self.url + path)
                self.assertIn(code, (403, 404), path)

    def test_nothing_below_data_runs(self):
        code, body = curl(self.url + "/data/demo/evil.cgi")
        self.assertNotIn(b"EXECUTED", body)

    def test_skin_files_are_served(self):
        skin = os.path.join(self.www, "skin", "default")
        names = [n for n in os.listdir(skin) if n.endswith((".css", ".gif"))]
        self.assertTrue(names)
        code, _ = curl(self.url + "/skin/default/" + names[0])
        self.assertEqual(code, 200)


if __name__ == "__main__":
    unittest.main()
