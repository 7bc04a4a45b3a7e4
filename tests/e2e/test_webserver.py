"""The installed site served by real web servers on free loopback ports and
fetched with its paths exactly as written: lighttpd with the configuration
that scripts/make-site writes, and Debian's Apache with the files an owner
installs (the .htaccess files of site/ and scripts/apache-site.conf).

Every private file of a site is fetched with every path trick a visitor
could try (trailing "/", "/.", path info, encoded slashes and dots, "//",
"/./", "..", other letter cases) and must be refused, while the board, the
skin files and attachments of the allowed kinds are still served, the
attachments with nosniff, a sandbox and their exact Content-Type. Nothing
below data/ is ever run. Run as root, both servers serve the site as the
demo lays it out for an unprivileged user, and that user must not be able
to replace the programs, skins or catalogue."""
import grp
import json
import os
import pwd
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from rukcgi import BUILD_DIR, SOURCE_DIR, Demo, free_port, load_make_site, wait_for_port

LIGHTTPD = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
APACHE = shutil.which("apache2") or "/usr/sbin/apache2"
APACHE_MODULES = "/usr/lib/apache2/modules"
MAKE_SITE = os.path.join(SOURCE_DIR, "scripts", "make-site")
APACHE_SITE_CONF = os.path.join(SOURCE_DIR, "scripts", "apache-site.conf")
IS_ROOT = os.geteuid() == 0


def have_user(name):
    try:
        pwd.getpwnam(name)
        return True
    except KeyError:
        return False


# The unprivileged user the servers run as when the tests run as root
# (the demo's own choice is www-data, else a user "rukbbs" it creates).
SERVER_USER = "www-data" if have_user("www-data") else "nobody"
DEMO_USER = "www-data" if have_user("www-data") else "rukbbs"


MAKE = load_make_site()


class Reply:
    def __init__(self, code, headers, body):
        self.code = code
        self.headers = headers
        self.body = body

    def header(self, name):
        return self.headers.get(name.lower(), "")


def fetch(url, headers=()):
    """Fetches url ("http://host:port/path") with its path exactly as
    written, as curl --path-as-is would: no "." or ".." segment resolved,
    no escape added or decoded; headers are further (name, value) lines.
    One GET on a connection of its own; a server that cannot be reached
    gives code 0."""
    host, slash, path = url.split("://", 1)[1].partition("/")
    name, _, port = host.partition(":")
    extra = "".join("%s: %s\r\n" % line for line in headers)
    request = ("GET %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: curl\r\nAccept: */*\r\n%s"
               "Connection: close\r\n\r\n" % (slash + path, host, extra)).encode("latin-1")
    raw = b""
    try:
        with socket.create_connection((name, int(port or 80)), timeout=30) as s:
            s.sendall(request)
            while True:
                piece = s.recv(65536)
                if not piece:
                    break
                raw += piece
    except OSError:
        return Reply(0, {}, b"")
    return parse_reply(raw)


def parse_reply(raw):
    """A Reply from the bytes of an HTTP/1.1 response read to its end."""
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = lines[0].split()
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
    if headers.get("transfer-encoding", "").lower() == "chunked":
        body = dechunk(body)
    elif headers.get("content-length", "").isdigit():
        body = body[:int(headers["content-length"])]
    return Reply(int(status[1]) if len(status) > 1 and status[1].isdigit() else 0, headers, body)


def dechunk(data):
    """The body of a chunked transfer."""
    out = b""
    while data:
        size, _, data = data.partition(b"\r\n")
        n = int(size.split(b";")[0] or b"0", 16)
        if n == 0:
            break
        out += data[:n]
        data = data[n + 2:]
    return out


# Files below the site that a visitor must never get, relative to the site.
# The site lays out some of them; the fixture writes the others.
PRIVATE = [
    "dat-system.dat", "dat-message.dat", "dat-session.dat", "dat-throttle.dat",
    "dat-notice.dat", "default.keit", "sys-signature", "lockfile.lock",
    "ruk-bbs.cgi.log", "ruk-deny.cgi", "dat-system.dat.tmpAB12cd", ".htaccess",
    "data/demo.conf", "data/demo.keit", "data/demo.deny", "data/demo.ng",
    "data/demo.conf.tmpAB12cd", "data/.htaccess",
    "data/demo/bbs-message.dat", "data/demo/bbs-rate.dat", "data/demo/lockfile.lock",
    "data/demo/bbs-message.dat.tmpAB12cd", "data/demo/old/2026-12/bbs-message.dat",
    "data/demo/1234/x.html", "data/demo/1234/x.php", "data/demo/1234/x.phar",
    "data/demo/1234/x.svg", "data/demo/1234/a.jpg.tmpAB12cd",
    "skin/icons/demo/x.html", "skin/icons/demo/x.svg", "skin/icons/demo/1-0123abcd.png.tmp",
]

# An icon as the administration program stores an uploaded one.
ICON = ("skin/icons/demo/1-0123abcd.png", b"\x89PNG\r\n\x1a\n icon")


def _swap_ext_case(p):
    head, dot, ext = p.rpartition(".")
    return head + dot + ext.swapcase() if dot else p.swapcase()


def _inner_slashes(p, sep):
    """p with every "/" after the leading one written as sep."""
    return "/" + p[1:].replace("/", sep)


# What a visitor does to a path ("/data/demo.conf") to slip past the rules.
TRICKS = [
    ("plain", lambda p: p),
    ("trailing slash", lambda p: p + "/"),
    ("trailing /.", lambda p: p + "/."),
    ("trailing /./", lambda p: p + "/./"),
    ("path info", lambda p: p + "/x"),
    ("path info shaped like an attachment", lambda p: p + "/1234/a.jpg"),
    ("trailing %2f", lambda p: p + "%2f"),
    ("%2f for slashes", lambda p: _inner_slashes(p, "%2f")),
    ("%2F for slashes", lambda p: _inner_slashes(p, "%2F")),
    ("%2f slashes below data", lambda p: "/data%2f..%2f" + p[1:]),
    ("double slashes", lambda p: p.replace("/", "//")),
    ("leading double slash", lambda p: "/" + p),
    ("/./ segments", lambda p: p.replace("/", "/./")),
    ("up from the skin", lambda p: "/skin/default/../.." + p),
    ("up from an attachment", lambda p: "/data/demo/1234/../../.." + p),
    ("up from a program", lambda p: "/ruk-bbs.cgi/.." + p),
    ("%2e%2e up", lambda p: "/skin/%2e%2e" + p),
    ("%2E%2E%2F up", lambda p: "/skin/default/%2E%2E%2F%2E%2E" + p),
    ("%2e for dots", lambda p: p.replace(".", "%2e")),
    ("%2E for dots", lambda p: p.replace(".", "%2E")),
    ("upper case", lambda p: p.upper()),
    ("extension case", _swap_ext_case),
    ("trailing dot", lambda p: p + "."),
    ("%00 and an allowed extension", lambda p: p + "%00.jpg"),
    ("allowed extension in the query", lambda p: p + "?a.jpg"),
    ("%3f and an allowed extension", lambda p: p + "%3f.jpg"),
    ("%5c for slashes", lambda p: _inner_slashes(p, "%5c")),
]

# The programs: run, or refused, but never sent as a file.
PROGRAM_TRICKS = [
    ("trailing slash", "/ruk-bbs.cgi/"), ("path info", "/ruk-config.cgi/x"),
    ("trailing /.", "/ruk-bbs.cgi/."), ("%2e", "/ruk-bbs%2ecgi"), ("%2E", "/ruk-config%2Ecgi"),
    ("upper case", "/RUK-BBS.CGI"), ("extension case", "/ruk-bbs.CGI"),
    ("trailing %2f", "/ruk-bbs.cgi%2f"), ("leading //", "//ruk-bbs.cgi"),
    ("/./", "/./ruk-config.cgi"), ("up from data", "/data/../ruk-bbs.cgi"),
    ("below data", "/data/demo/1234/ruk-bbs.cgi"),
]

# Scripts dropped below data/: none of them may run. Running one prints
# the word whole; its text alone does not hold it.
SCRIPT = b"#!/bin/sh\nprintf 'Content-type: text/plain\\n\\nEXE%sCUTED' ''\n"
PHP = b"<?php echo 'EXE' . 'CUTED'; ?>\n"
DROPPED = [
    ("data/demo/evil.cgi", SCRIPT), ("data/demo/1234/evil.cgi", SCRIPT),
    ("data/demo/1234/ruk-bbs.cgi", SCRIPT), ("data/demo/1234/evil.sh", SCRIPT),
    ("data/demo/1234/evil.pl", SCRIPT), ("data/demo/1234/x.php", PHP),
    ("data/demo/1234/x.phar", PHP), ("data/demo/1234/x.phtml", PHP),
]

# Attachments of allowed kinds whose names or contents would make a
# careless server run, include or negotiate them: each must come back as
# the bytes it holds. (The type map points at the system settings.)
TRICKY_ATTACHMENTS = [
    ("data/demo/1234/evil.cgi.jpg", SCRIPT), ("data/demo/1234/evil.pl.png", SCRIPT),
    ("data/demo/1234/evil.sh.gif", SCRIPT), ("data/demo/1234/x.php.jpg", PHP),
    ("data/demo/1234/x.phar.txt", PHP),
    ("data/demo/1234/map.var.jpg",
     b"URI: map\n\nURI: ../../../dat-system.dat\nContent-type: image/jpeg\n"),
    ("data/demo/1234/page.shtml.txt", b'<!--#include virtual="../../../dat-system.dat" -->'
     b'<!--#printenv -->\n'),
    ("data/demo/1234/page.html.txt", b"<script>alert(1)</script>\n"),
    ("data/demo/1234/ruk-bbs.cgi.txt", SCRIPT),
]

# A stand-in for ruk-view.cgi that shows what a program gets from the
# server: the user it runs as and its time zone.
PROBE = "#!/bin/sh\nprintf 'Content-type: text/plain\\n\\nuid=%s TZ=%s\\n' \"$(id -u)\" \"$TZ\"\n"


def make_build_dir(base):
    """A build directory with the real board and administration programs
    and the probe in place of the viewer."""
    build = os.path.join(base, "build")
    os.makedirs(build)
    for name in ("ruk-bbs", "ruk-config"):
        os.symlink(os.path.join(os.path.abspath(BUILD_DIR), name), os.path.join(build, name))
    with open(os.path.join(build, "ruk-view"), "w") as f:
        f.write(PROBE)
    os.chmod(os.path.join(build, "ruk-view"), 0o755)
    return build


def make_site(base, port):
    """Lays a site out with scripts/make-site (for the unprivileged user
    when run as root), adds the private files it does not hold yet, the
    dropped scripts and one attachment of each allowed kind; returns the
    site directory."""
    args = ["python3", MAKE_SITE, base, "--build", make_build_dir(base), "--port", str(port),
            "--admin-password", "secret"]
    if IS_ROOT:
        args += ["--user", SERVER_USER]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    www = os.path.join(base, "www")
    owner = pwd.getpwnam(SERVER_USER) if IS_ROOT else None

    def write(rel, data):
        """A file as the programs would leave it: the server's own, and
        readable by it, so that only its rules keep the file back."""
        path = os.path.join(www, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(data)
            for p in (path, os.path.dirname(path), os.path.dirname(os.path.dirname(path))):
                if owner and os.stat(p).st_uid == 0 and not os.stat(p).st_mode & 0o1000:
                    os.chown(p, owner.pw_uid, owner.pw_gid)
        os.chmod(path, os.stat(path).st_mode | 0o644)

    for rel in PRIVATE:
        write(rel, b"PRIVATE " + rel.encode() + b"\n")
    write(*ICON)
    for rel, data in DROPPED + TRICKY_ATTACHMENTS:
        write(rel, data)
        os.chmod(os.path.join(www, rel), 0o755)
    for ext, _ in MAKE.ATTACHMENT_TYPES:
        for name in ("a." + ext, "B." + ext.upper()):
            write("data/demo/1234/" + name, b"attachment " + name.encode())
        write("data/demo/old/2026-12/5678/c." + ext, b"old attachment")
    return www


def start(argv, port, log):
    """Starts a server; returns the process, or None when it did not come
    up (its output is in log)."""
    out = open(log, "ab")
    # A session of its own: Apache's prefork MPM signals its whole process
    # group when it stops, which must not take the test with it.
    proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
    out.close()
    if wait_for_port(port, proc):
        return proc
    if proc.poll() is None:
        proc.terminate()
        proc.wait(timeout=10)
    return None


def log_tail(path):
    try:
        with open(path, "rb") as f:
            return f.read()[-2000:].decode("utf-8", "replace")
    except OSError:
        return "(no log)"


class ServedSite:
    """The cases shared by both servers. A subclass lays the site out in
    setUpClass (base, www, port), starts its server with serve and sets url
    (the site's URL without the final "/")."""

    @classmethod
    def serve(cls, name, argv, logs):
        """Starts the server (its output goes to the first of logs); when
        it does not come up, the class is skipped with the ends of logs."""
        cls.server = start(argv, cls.port, logs[0])
        if cls.server is None:
            reason = "%s did not start here: %s" % (name, " ".join(log_tail(l) for l in logs))
            shutil.rmtree(cls.base, ignore_errors=True)
            raise unittest.SkipTest(reason)

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(timeout=10)
        shutil.rmtree(cls.base, ignore_errors=True)

    def get(self, path, headers=()):
        return fetch(self.url + path, headers)

    def private_content(self, rel):
        with open(os.path.join(self.www, rel), "rb") as f:
            return f.read()

    def assert_refused(self, path, content):
        reply = self.get(path)
        self.assertIn(reply.code, (400, 403, 404), path)
        if len(content) >= 8:
            self.assertNotIn(content[:64], reply.body, path)

    def test_private_files_are_refused_under_every_trick(self):
        for rel in PRIVATE:
            content = self.private_content(rel)
            for trick, apply in TRICKS:
                path = apply("/" + rel)
                with self.subTest(file=rel, trick=trick, path=path):
                    self.assert_refused(path, content)

    def test_board_page(self):
        reply = self.get("/ruk-bbs.cgi?bid=demo")
        self.assertEqual(reply.code, 200, reply.body[:500])
        self.assertIn("デモ掲示板".encode("cp932"), reply.body)

    def test_revalidation_and_message_statuses_pass_through(self):
        # The page's files must have been still a second for its tag to match.
        time.sleep(1.1)
        reply = self.get("/ruk-bbs.cgi?bid=demo")
        self.assertEqual(reply.code, 200, reply.body[:300])
        self.assertEqual(reply.header("cache-control"), "public, no-cache")
        tag = reply.header("etag")
        self.assertTrue(tag.startswith('W/"'), tag)
        again = self.get("/ruk-bbs.cgi?bid=demo", [("If-None-Match", tag)])
        self.assertEqual((again.code, again.body, again.header("etag")), (304, b"", tag))
        stale = self.get("/ruk-bbs.cgi?bid=demo", [("If-None-Match", 'W/"0.n"')])
        self.assertEqual(stale.code, 200)
        missing = self.get("/ruk-bbs.cgi?bid=nosuch")
        self.assertEqual((missing.code, missing.header("cache-control")), (404, "no-store"))

    def test_shift_jis_query(self):
        # "公園" in Shift_JIS holds the byte 0xF6, which is never UTF-8.
        reply = self.get("/ruk-bbs.cgi?bid=demo&word=%8C%F6%89%80&submit_find.x=1")
        self.assertEqual(reply.code, 200, reply.body[:500])

    def test_shift_jis_query_does_not_open_private_files(self):
        for rel, path in [("dat-system.dat", "/dat-system.dat?word=%8C%F6"),
                          ("data/demo.conf", "/data/demo.conf?%F6%FF"),
                          ("ruk-bbs.cgi.log", "/ruk-bbs.cgi.log/x?word=%F6"),
                          ("data/demo/1234/x.html", "/data/demo/1234/x.html?%C0%C1"),
                          ("data/demo.conf", "/data/demo.conf/1234/a.jpg?%F6")]:
            with self.subTest(path=path):
                self.assert_refused(path, self.private_content(rel))

    def test_skin_files_are_served(self):
        for name, kind in [("ruk-bbs.css", "text/css"), ("new.gif", "image/gif")]:
            with self.subTest(name=name):
                reply = self.get("/skin/default/" + name)
                self.assertEqual(reply.code, 200)
                self.assertTrue(reply.header("content-type").startswith(kind),
                                reply.header("content-type"))

    def test_uploaded_icons_are_served_as_pictures(self):
        rel, data = ICON
        reply = self.get("/" + rel)
        self.assertEqual(reply.code, 200, reply.body[:300])
        self.assertEqual(reply.body, data)
        self.assertEqual(reply.header("content-type"), "image/png")
        self.assertEqual(reply.header("x-content-type-options"), "nosniff")
        self.assertEqual(reply.header("content-security-policy"), "sandbox")

    def test_programs_are_never_sent_as_files(self):
        cases = [("plain", p) for p in ("/ruk-bbs.cgi", "/ruk-config.cgi")] + PROGRAM_TRICKS
        for trick, path in cases:
            with self.subTest(trick=trick, path=path):
                reply = self.get(path)
                self.assertNotIn(b"\x7fELF", reply.body[:16])
                self.assertNotIn(b"EXECUTED", reply.body)

    def test_programs_take_no_path_info(self):
        for path in ["/ruk-bbs.cgi/", "/ruk-bbs.cgi/x", "/ruk-view.cgi/data/demo/1234/a.jpg"]:
            with self.subTest(path=path):
                self.assertIn(self.get(path).code, (403, 404))

    def test_programs_get_japan_time(self):
        reply = self.get("/ruk-view.cgi")
        self.assertEqual(reply.code, 200, reply.body)
        self.assertIn(b"TZ=Asia/Tokyo", reply.body)
        if IS_ROOT:
            uid = pwd.getpwnam(SERVER_USER).pw_uid
            self.assertIn(b"uid=%d " % uid, reply.body)

    def test_nothing_below_data_runs(self):
        for rel, _ in DROPPED:
            with self.subTest(rel=rel):
                reply = self.get("/" + rel)
                self.assertNotIn(b"EXECUTED", reply.body)
                self.assertIn(reply.code, (403, 404))

    def test_attachments_go_out_as_the_bytes_they_hold(self):
        for rel, data in TRICKY_ATTACHMENTS:
            with self.subTest(path=rel):
                reply = self.get("/" + rel)
                self.assertEqual(reply.code, 200)
                self.assertEqual(reply.body, data)
                self.assertEqual(reply.header("x-content-type-options"), "nosniff")

    def test_attachments_are_served_with_their_type_and_sandboxed(self):
        table = dict(MAKE.ATTACHMENT_TYPES)
        for ext, kind in MAKE.ATTACHMENT_TYPES:
            for rel in ["data/demo/1234/a." + ext, "data/demo/1234/B." + ext.upper(),
                        "data/demo/old/2026-12/5678/c." + ext]:
                with self.subTest(path=rel):
                    reply = self.get("/" + rel)
                    self.assertEqual(reply.code, 200)
                    self.assertEqual(reply.body, self.private_content(rel))
                    self.assertEqual(reply.header("content-type"), table[ext])
                    self.assertEqual(reply.header("x-content-type-options"), "nosniff")
                    self.assertEqual(reply.header("content-security-policy"), "sandbox")
                    self.assertFalse(reply.header("content-encoding"))


@unittest.skipUnless(os.path.exists(LIGHTTPD), "lighttpd is not installed")
class LighttpdTest(ServedSite, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base = tempfile.mkdtemp(prefix="ruk-www-")
        cls.port = free_port()
        cls.www = make_site(cls.base, cls.port)
        cls.serve("lighttpd",
                  [LIGHTTPD, "-D", "-f", os.path.join(cls.base, "lighttpd.conf")],
                  [os.path.join(cls.base, "lighttpd.out")])
        cls.url = "http://127.0.0.1:%d" % cls.port


# The Apache modules the shipped configuration needs, and the ones a
# Debian server has on by default that change how files are served.
APACHE_LOAD = [
    ("mpm_event_module", "mod_mpm_event.so"), ("authz_core_module", "mod_authz_core.so"),
    ("mime_module", "mod_mime.so"), ("alias_module", "mod_alias.so"),
    ("dir_module", "mod_dir.so"), ("env_module", "mod_env.so"),
    ("headers_module", "mod_headers.so"), ("rewrite_module", "mod_rewrite.so"),
    ("cgid_module", "mod_cgid.so"), ("negotiation_module", "mod_negotiation.so"),
    ("include_module", "mod_include.so"), ("autoindex_module", "mod_autoindex.so"),
]


def php_module():
    """The path of an Apache PHP module, or None."""
    if not os.path.isdir(APACHE_MODULES):
        return None
    for name in sorted(os.listdir(APACHE_MODULES)):
        if name.startswith("libphp") and name.endswith(".so"):
            return os.path.join(APACHE_MODULES, name)
    return None


def apache_conf(base, www, port, block=True):
    """A minimal server: loopback, its own pid file, logs and CGI socket in
    base, the site at /bbs/ with the shipped <Directory> block, or without
    it (block=False) as on a shared host that leaves everything to the
    .htaccess files. Around it a careless host: .cgi, .pl and .sh run
    wherever ExecCGI is on, Debian's mime.conf maps .var to type maps and
    .shtml to includes, and every option is on by default, so the site's
    own files must hold."""
    lines = ["ServerName 127.0.0.1", "Listen 127.0.0.1:%d" % port,
             "DefaultRuntimeDir " + base, "PidFile %s/apache.pid" % base,
             "ErrorLog %s/apache-error.log" % base, "LogLevel warn"]
    php = php_module()
    modules = APACHE_LOAD
    if php:
        # PHP runs only under the prefork MPM (as Debian sets it up when
        # PHP is installed), and CGI then runs through mod_cgi.
        swap = {"mpm_event_module": ("mpm_prefork_module", "mod_mpm_prefork.so"),
                "cgid_module": ("cgi_module", "mod_cgi.so")}
        modules = [swap.get(name, (name, so)) for name, so in APACHE_LOAD]
    else:
        lines.append("ScriptSock %s/cgisock" % base)
    lines += ["LoadModule %s %s/%s" % (name, APACHE_MODULES, so) for name, so in modules]
    if php:
        lines.append("LoadModule php_module " + php)
        lines.append('<FilesMatch ".+\\.ph(ar|p|tml)$">\n SetHandler application/x-httpd-php\n'
                     '</FilesMatch>')
    if IS_ROOT:
        # Started by root, Apache runs its children as this user (it
        # refuses to serve as root), as Debian's apache2 does.
        group = grp.getgrgid(pwd.getpwnam(SERVER_USER).pw_gid).gr_name
        lines += ["User " + SERVER_USER, "Group " + group]
    lines += ["TypesConfig /etc/mime.types"]
    if os.path.exists("/etc/apache2/mods-available/mime.conf"):
        lines.append("Include /etc/apache2/mods-available/mime.conf")
    empty = os.path.join(base, "htdocs")
    os.makedirs(empty, exist_ok=True)
    lines += ["DocumentRoot " + empty,
              "<Directory />\n Options All\n AllowOverride None\n Require all granted\n</Directory>",
              "AddHandler cgi-script .cgi .pl .sh",
              "Alias /bbs " + www]
    if block:
        lines += ["Define RUK_BBS_DIR " + www, "Include " + APACHE_SITE_CONF]
    else:
        lines += ['<Directory "%s">\n AllowOverride All\n</Directory>' % www]
    path = os.path.join(base, "apache.conf")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


@unittest.skipUnless(os.path.exists(APACHE) and os.path.isdir(APACHE_MODULES),
                     "Apache (Debian's apache2) is not installed")
class ApacheTest(ServedSite, unittest.TestCase):
    """The site with scripts/apache-site.conf and its .htaccess files."""
    block = True

    @classmethod
    def setUpClass(cls):
        cls.base = tempfile.mkdtemp(prefix="ruk-apache-")
        os.chmod(cls.base, 0o755)
        cls.port = free_port()
        cls.www = make_site(cls.base, free_port())
        conf = apache_conf(cls.base, cls.www, cls.port, cls.block)
        cls.serve("apache2", [APACHE, "-f", conf, "-DFOREGROUND"],
                  [os.path.join(cls.base, "apache.out"),
                   os.path.join(cls.base, "apache-error.log")])
        cls.url = "http://127.0.0.1:%d/bbs" % cls.port

    def test_site_directory_itself_is_not_listed(self):
        for path in ["/", "/data/", "/data/demo/", "/skin/default/"]:
            with self.subTest(path=path):
                self.assertIn(self.get(path).code, (403, 404))

    @unittest.skipUnless(php_module(), "PHP is not installed here (no libphp*.so in "
                         "/usr/lib/apache2/modules): uploaded .php/.phar files below data/ were "
                         "only checked to be refused, not that PHP leaves them unrun")
    def test_php_below_data_never_runs(self):
        for rel in ["data/demo/1234/x.php", "data/demo/1234/x.phar",
                    "data/demo/1234/x.php.jpg", "data/demo/1234/x.phtml"]:
            with self.subTest(rel=rel):
                self.assertNotIn(b"EXECUTED", self.get("/" + rel).body)


class ApacheHtaccessOnlyTest(ApacheTest):
    """The site on a host that allows every override but takes no
    <Directory> block: the .htaccess files alone."""
    block = False


# What the server's user tries in the demo's site directory, and whether
# it must be able to: (operation, path, allowed).
LAYOUT_CASES = [
    ("write", "ruk-bbs.cgi", False), ("write", "ruk-config.cgi", False),
    ("unlink", "ruk-view.cgi", False), ("rename-away", "ruk-bbs.cgi", False),
    ("replace", "ruk-bbs.cgi", False), ("replace", "dat-message.dat", False),
    ("replace", "default.keit", False), ("replace", "sys-signature", False),
    ("replace", ".htaccess", False), ("write", "dat-message.dat", False),
    ("write", "skin/default/ruk-bbs.css", False), ("create", "skin/default/evil.css", False),
    ("rename-away", "skin", False), ("unlink", "data/.htaccess", False),
    ("write", "data/.htaccess", False),
    ("create", "lockfile.lock", True), ("create", "dat-session.dat", True),
    ("create", "dat-system.dat.tmpAB12cd", True), ("replace", "dat-system.dat", True),
    ("replace", "data/demo.conf", True), ("replace", "data/demo/bbs-message.dat", True),
    ("create", "data/demo/1234/a.jpg", True), ("create", "data/demo.ng", True),
    ("create", "skin/icons/demo/2-89abcdef.png", True), ("rename-away", "skin/icons", False),
]

# Run as the server's user: tries each operation and prints what worked.
LAYOUT_PROBE = r'''
import json, os, sys
www, cases = sys.argv[1], json.loads(sys.argv[2])
done = []
for op, rel, _ in cases:
    path = os.path.join(www, rel)
    try:
        if op == "write":
            open(path, "r+b").close()
        elif op == "unlink":
            os.unlink(path)
        elif op == "rename-away":
            os.rename(path, path + ".old")
        elif op in ("replace", "create"):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            temp = os.path.join(os.path.dirname(path), "probe.tmpZZ99zz")
            with open(temp, "wb") as f:
                f.write(b"x")
            if op == "replace":
                try:
                    os.rename(temp, path)
                except OSError:
                    os.unlink(temp)
                    raise
            else:
                os.rename(temp, path + ".new") if os.path.exists(path) else os.rename(temp, path)
        done.append(True)
    except OSError:
        done.append(False)
print(json.dumps(done))
'''


@unittest.skipUnless(IS_ROOT and have_user(SERVER_USER),
                     "needs root and the user %s to lay the site out for an unprivileged "
                     "server" % SERVER_USER)
class DemoLayoutTest(unittest.TestCase):
    def test_server_user_writes_only_what_it_must(self):
        base = tempfile.mkdtemp(prefix="ruk-layout-")
        self.addCleanup(shutil.rmtree, base, True)
        subprocess.run(["python3", MAKE_SITE, base, "--build", make_build_dir(base),
                        "--admin-password", "secret", "--user", SERVER_USER],
                       check=True, stdout=subprocess.DEVNULL)
        www = os.path.join(base, "www")
        user = pwd.getpwnam(SERVER_USER)
        proc = subprocess.run(["python3", "-c", LAYOUT_PROBE, www, json.dumps(LAYOUT_CASES)],
                              user=user.pw_uid, group=user.pw_gid, extra_groups=[],
                              stdout=subprocess.PIPE, check=True, text=True)
        done = json.loads(proc.stdout)
        for (op, rel, allowed), did in zip(LAYOUT_CASES, done):
            with self.subTest(op=op, path=rel):
                self.assertEqual(did, allowed)


@unittest.skipUnless(os.path.exists(LIGHTTPD), "lighttpd is not installed")
class DemoTest(unittest.TestCase):
    """scripts/demo itself: who its programs run as, the time zone they
    get, and no password in plain text anywhere in the site."""

    @classmethod
    def setUpClass(cls):
        cls.demo = Demo()
        cls.demo.build = make_build_dir(cls.demo.base)
        if not cls.demo.start(seconds=60):
            cls.demo.stop()
            raise unittest.SkipTest("scripts/demo did not start lighttpd here: " +
                                    cls.demo.output)
        cls.url, cls.www = cls.demo.url, cls.demo.www
        cls.password, cls.output = cls.demo.password, cls.demo.output

    @classmethod
    def tearDownClass(cls):
        cls.demo.stop()

    def test_programs_run_unprivileged_in_japan_time(self):
        reply = fetch(self.url + "/ruk-view.cgi")
        self.assertEqual(reply.code, 200, reply.body)
        self.assertIn(b"TZ=Asia/Tokyo", reply.body)
        uid = int(reply.body.split(b"uid=")[1].split()[0])
        self.assertNotEqual(uid, 0, "the demo's programs run as root")
        self.assertEqual(uid, pwd.getpwnam(DEMO_USER).pw_uid if IS_ROOT else os.geteuid())

    def test_board_is_served(self):
        reply = fetch(self.url + "/ruk-bbs.cgi?bid=demo")
        self.assertEqual(reply.code, 200, reply.body[:500])

    def test_no_password_in_plain_text(self):
        self.assertTrue(self.password, self.output)
        for top, _, names in os.walk(self.www):
            for name in names:
                with open(os.path.join(top, name), "rb") as f:
                    self.assertNotIn(self.password.encode(), f.read(), name)

    def test_stored_codes_verify(self):
        codes = {"dat-system.dat": "admin", os.path.join("data", "demo.conf"): "passwd"}
        for rel, key in codes.items():
            with self.subTest(file=rel):
                stored = settings_value(os.path.join(self.www, rel), key)
                self.assertRegex(stored, r"^\*\$[0-9a-z]+\$[^*]+\*$")
                self.assertTrue(crypt_matches(self.password, stored[1:-1]))


def settings_value(path, key):
    """One value of a percent-encoded settings file."""
    import urllib.parse
    with open(path, "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            name, _, value = line.partition("=")
            if name == key:
                return urllib.parse.unquote_plus(value, encoding="latin-1")
    return ""


def crypt_matches(password, code):
    """Whether a crypt(3) code is the code of password (openssl knows the
    SHA-256 and SHA-512 codes)."""
    salt = code.split("$")[2]
    method = {"5": "-5", "6": "-6"}[code.split("$")[1]]
    out = subprocess.run(["openssl", "passwd", method, "-salt", salt, "-stdin"],
                         input=password + "\n", stdout=subprocess.PIPE, text=True, check=True)
    return out.stdout.strip() == code


if __name__ == "__main__":
    unittest.main()
