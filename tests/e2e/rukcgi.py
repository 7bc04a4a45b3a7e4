"""What the end-to-end tests share.

Runs the built programs as a web server would: a temporary site as the
working directory, the CGI environment, the request body on standard
input; the response is split into status, header lines and page. Also a
lock held by another process (HeldLock), the message file's lines
(record), request bodies and pictures (multipart, png), scripts/make-site
as a module, and scripts/demo serving a site on a free port (Demo)."""
import fcntl
import importlib.machinery
import importlib.util
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import urllib.parse
import zlib

SOURCE_DIR = os.environ.get("RUK_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_DIR = os.environ.get("RUK_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
SITE_DIR = os.path.join(SOURCE_DIR, "site")

# How long the programs of a test site wait for a lock another process
# holds (the system setting lock_wait, in milliseconds) before they answer
# that the board is busy: a test holding a lock (HeldLock) is answered in
# a fraction of a second rather than after the ten seconds of a site that
# does not set it. Tests about the waiting itself set their own.
LOCK_WAIT = "300"

_SAFE = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789*-._")


def per_hex(text):
    """Percent-encodes bytes as the settings files do (blank as "+")."""
    if isinstance(text, str):
        text = text.encode("cp932")
    out = bytearray()
    for c in text:
        if c == 0x20:
            out += b"+"
        elif c in _SAFE:
            out.append(c)
        else:
            out += b"%%%02X" % c
    return bytes(out)


def sjis(text):
    return text.encode("cp932")


def multipart(fields, files=(), boundary=b"----ruk-test-boundary-7",
              file_type="application/octet-stream"):
    """A multipart/form-data body as browsers write it and its content
    type; fields is a dict, files are (field, file name, bytes), text is
    sent in Shift_JIS."""
    def enc(v):
        return v if isinstance(v, bytes) else v.encode("cp932")
    out = b""
    for name, value in fields.items():
        out += (b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"" + enc(name) +
                b"\"\r\n\r\n" + enc(value) + b"\r\n")
    for name, fname, data in files:
        out += (b"--" + boundary + b"\r\nContent-Disposition: form-data; name=\"" + enc(name) +
                b"\"; filename=\"" + enc(fname) + b"\"\r\nContent-Type: " + file_type.encode() +
                b"\r\n\r\n" + data + b"\r\n")
    out += b"--" + boundary + b"--\r\n"
    return out, "multipart/form-data; boundary=" + boundary.decode()


def png(width, height, pixel, alpha=False):
    """A PNG file of pixel(x, y) -> (r, g, b), or (r, g, b, a) with alpha."""
    rows = b"".join(b"\0" + bytes(c for x in range(width) for c in pixel(x, y))
                    for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def load_make_site():
    """scripts/make-site as a module (for its tables, such as the
    attachment types)."""
    path = os.path.join(SOURCE_DIR, "scripts", "make-site")
    loader = importlib.machinery.SourceFileLoader("make_site", path)
    spec = importlib.util.spec_from_loader("make_site", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


class Response:
    def __init__(self, status, raw):
        self.status = status
        self.raw = raw
        head, sep, body = raw.partition(b"\n\n")
        if not sep:
            head, body = b"", raw
        self.headers = [l.decode("latin-1") for l in head.split(b"\n") if l]
        self.body = body

    def header(self, name):
        name = name.lower() + ":"
        return [h.split(":", 1)[1].strip() for h in self.headers if h.lower().startswith(name)]

    @property
    def text(self):
        return self.body.decode("cp932", errors="replace")


def record(mid, pid="", ppid="", date="2026/01/01 00:00:00", name="name", mail="", home="",
           title="title", mess="body", passwd="", resmail="", preform="", icon="",
           attach=()):
    """One message file line (str fields are Shift_JIS-encoded)."""
    def b(v):
        return v.encode("cp932") if isinstance(v, str) else v
    fields = [b(mid), b(pid), b(ppid), b(date), b(name), b(mail), b(home), b(title),
              b(mess).replace(b"\n", b"\x1d"), b(passwd), b(resmail), b(preform)]
    fields += [b""] * 8 + [b(icon)]
    for fname, key in attach:
        fields += [b(fname), b(key)]
    return b"\x1e".join(fields) + b"\n"


class Site:
    """A temporary site directory. With full=True it holds the installed
    files of site/; otherwise only what a test writes."""

    def __init__(self, full=True):
        self.dir = tempfile.mkdtemp(prefix="ruk-site-")
        if full and os.path.isdir(SITE_DIR):
            for entry in os.listdir(SITE_DIR):
                src = os.path.join(SITE_DIR, entry)
                if os.path.isdir(src):
                    shutil.copytree(src, os.path.join(self.dir, entry))
                elif entry != "dat-system.sample.dat":
                    shutil.copy2(src, os.path.join(self.dir, entry))
        os.makedirs(os.path.join(self.dir, "data"), exist_ok=True)
        self.write_system()

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, rel, data):
        path = self.path(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("cp932"))
        return path

    def read(self, rel):
        with open(self.path(rel), "rb") as f:
            return f.read()

    def snapshot(self, rel=".", skip=lambda name: name == "lockfile.lock"):
        """Every file below rel with its bytes, by its path relative to rel;
        files whose names skip(name) accepts (lock files) are left out."""
        files = {}
        root = self.path(rel)
        for top, _, names in os.walk(root):
            for name in names:
                if skip(name):
                    continue
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, root)] = f.read()
        return files

    def write_settings(self, rel, pairs):
        """An encoded settings file from a dict or list of pairs."""
        items = pairs.items() if isinstance(pairs, dict) else pairs
        self.write(rel, b"".join(per_hex(k) + b"=" + per_hex(v) + b"\n" for k, v in items))

    def write_system(self, settings=()):
        """The system settings file dat-system.dat with the given settings
        (a dict or pairs) and, unless they set it, the tests' lock_wait."""
        items = list(settings.items() if isinstance(settings, dict) else settings)
        if not any(k == "lock_wait" for k, _ in items):
            items.append(("lock_wait", LOCK_WAIT))
        self.write_settings("dat-system.dat", items)

    def add_board(self, bid="test", datadir=None, **settings):
        datadir = datadir if datadir is not None else "data/%s/" % bid
        conf = {"bbs_title": "Test Board", "datadir": datadir, "skindir": "skin/default/",
                "skinurl": "", "page_ppnum": "10", "page_ppnum2": "30", "log_max": "1000"}
        conf.update(settings)
        self.write_settings("data/%s.conf" % bid, conf)
        if datadir:
            os.makedirs(self.path(datadir), exist_ok=True)
        return conf

    def write_messages(self, datadir, records):
        self.write(os.path.join(datadir, "bbs-message.dat"), b"".join(records))

    def run(self, program="ruk-bbs", query="", method="GET", body=b"", content_type=None,
            env=None, timeout=30):
        """Runs a program as CGI in the site; returns a Response."""
        if isinstance(query, dict):
            query = urllib.parse.urlencode(query, encoding="cp932")
        if isinstance(body, dict):
            body = urllib.parse.urlencode(body, encoding="cp932").encode()
            content_type = content_type or "application/x-www-form-urlencoded"
        e = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "GATEWAY_INTERFACE": "CGI/1.1",
            "REQUEST_METHOD": method,
            "QUERY_STRING": query,
            "SCRIPT_NAME": "/cgi-bin/%s.cgi" % program,
            "SCRIPT_FILENAME": os.path.join(self.dir, "%s.cgi" % program),
            "SERVER_NAME": "bbs.example.jp",
            "REMOTE_ADDR": "192.0.2.10",
            "HTTP_USER_AGENT": "Mozilla/5.0 (X11; Linux x86_64)",
        }
        if method.upper() == "POST":
            e["CONTENT_LENGTH"] = str(len(body))
            e["CONTENT_TYPE"] = content_type or "application/x-www-form-urlencoded"
        if env:
            e.update(env)
        proc = subprocess.run([os.path.join(BUILD_DIR, program)], input=body, env=e,
                              cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout)
        return Response(proc.returncode, proc.stdout)


class HeldLock:
    """Holds an fcntl lock on a lock file from a separate process, as a
    concurrent request would, until release (or the end of a with block).
    The child holds it until the parent tells it to let go: no timer
    stands in for either side."""

    def __init__(self, path, shared=False):
        self.path = path
        ready_r, ready_w = os.pipe()
        hold_r, hold_w = os.pipe()
        self.pid = os.fork()
        if self.pid == 0:
            os.close(ready_r)
            os.close(hold_w)
            fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o666)
            fcntl.lockf(fd, fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
            os.write(ready_w, b"x")
            os.read(hold_r, 1)  # a byte from release, or the parent's end
            os._exit(0)
        os.close(ready_w)
        os.close(hold_r)
        os.read(ready_r, 1)
        os.close(ready_r)
        self._hold = hold_w

    def release(self):
        os.write(self._hold, b"x")
        os.close(self._hold)
        os.waitpid(self.pid, 0)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()


def free_port():
    """A TCP port of the loopback interface that nothing listens on now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, seconds=10):
    """True once a web server answers an HTTP request on the port; False
    when its process ended or the time ran out."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                s.sendall(b"HEAD / HTTP/1.0\r\n\r\n")
                if s.recv(5) == b"HTTP/":
                    return proc is None or proc.poll() is None
        except OSError:
            pass
        time.sleep(0.05)
    return False


class Demo:
    """scripts/demo laying a site out in a new temporary directory and
    serving it with lighttpd on a free loopback port, with the programs of
    the build directory given. After start: output (what the demo printed
    up to the line that says it serves), password (the administrator's
    password it printed), url, www (the site) and base (the directory)."""

    def __init__(self, build=BUILD_DIR):
        self.base = tempfile.mkdtemp(prefix="ruk-demo-")
        self.port = free_port()
        self.url = "http://127.0.0.1:%d" % self.port
        self.www = os.path.join(self.base, "www")
        self.build = build
        self.proc = None
        self.output = ""
        self.password = ""

    def start(self, seconds=120):
        """Starts the demo and waits until it serves: True, or False when
        it did not come up (the output says why)."""
        self.proc = subprocess.Popen(
            [os.path.join(SOURCE_DIR, "scripts", "demo"), "--port", str(self.port),
             "--dir", self.base, "--build", self.build],
            cwd=SOURCE_DIR, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        deadline = time.time() + seconds
        while "Ctrl-C" not in self.output and time.time() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            self.output += line
        match = re.search(r"Administrator password: (\S+)", self.output)
        self.password = match.group(1) if match else ""
        return wait_for_port(self.port, self.proc)

    def stop(self):
        """Stops the server and removes the site."""
        if self.proc is not None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
            self.proc.stdout.close()
        shutil.rmtree(self.base, ignore_errors=True)
