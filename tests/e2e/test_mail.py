"""The notice mails of the board program, run as CGI: the address they
come from and the server their links and ids name, whatever the request's
Host header says; the ids that thread them; how many one address may get;
and a real mail server (Debian's exim, run by the test as a local
delivery-only instance) accepting and delivering them, each read back to
its text."""
import email
import email.header
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from rukcgi import multipart, per_hex, record
from test_posting import ADMIN, make_site

# 掲示板への書き込みは、いつでも歓迎します。 x 24: 504 characters, one line.
PARAGRAPH = "\u63b2\u793a\u677f\u3078\u306e\u66f8\u304d\u8fbc\u307f\u306f\u3001\u3044\u3064" \
    "\u3067\u3082\u6b53\u8fce\u3057\u307e\u3059\u3002" * 24
# ①Ⅲ㈱№髙: NEC's row 13 and a Windows extension kanji, none in JIS X 0208.
OUTSIDE = "\u2460\u2162\u3231\u2116\u9ad9"
TITLE = "\u8fd4\u4fe1\u3067\u3059"  # 返信です

SITE_URL = "https://bbs.example.jp:8443/bbs/"
EVIL = {"HTTP_HOST": "evil.example", "SERVER_NAME": "evil.example"}


def unflow(text):
    """A format=flowed; delsp=yes text as a reader shows it (RFC 3676)."""
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    out, pending = [], ""
    for line in lines:
        line = pending + (line[1:] if line.startswith(" ") else line)
        pending = ""
        if line.endswith(" ") and line != "-- ":
            pending = line[:-1]
        else:
            out.append(line)
    if pending:
        out.append(pending)
    return "".join(l + "\n" for l in out)


def header(msg, name):
    value = msg[name]
    return None if value is None else str(email.header.make_header(
        email.header.decode_header(re.sub(r"\n(?=[ \t])", "", value))))


def body_text(msg):
    part = msg
    data = part.get_payload(decode=True)
    text = data.decode(part.get_content_charset())
    return unflow(text) if part.get_param("format") == "flowed" else text


def host_name():
    """The machine's host name as the board uses it, or "localhost" when
    it is not one."""
    name = socket.gethostname().lower()
    if re.fullmatch(r"[a-z0-9-]+(\.[a-z0-9-]+)*", name) and not name.startswith("-"):
        return name
    return "localhost"


class NoticeCase(unittest.TestCase):
    """A board with owner notices on; the mail command captures each mail."""

    def setUp(self):
        self.site = make_site(use_mail="1", owner_mail="owner@example.jp")
        self.system = {"sendmail": self.site.path("sendmail.sh"), "attach_max": "3",
                       "site_url": SITE_URL}
        self.set_system()

    def tearDown(self):
        self.site.close()

    def set_system(self, **settings):
        conf = dict(self.system)
        conf.update(settings)
        self.site.write_system({k: v for k, v in conf.items() if v is not None})

    def set_board(self, **settings):
        conf = {"skindir": "skin/t/", "passwd": ADMIN, "attach_size": "100",
                "use_mail": "1", "owner_mail": "owner@example.jp"}
        conf.update(settings)
        self.site.add_board("test", **conf)

    def post(self, env=None, **fields):
        form = {"bid": "test", "submit_wri.x": "1", "name": "nm", "title": "tt",
                "mess": "body", "passwd": "pw"}
        form.update(fields)
        body, ctype = multipart(form)
        resp = self.site.run(method="POST", body=body, content_type=ctype, env=env)
        self.assertEqual(resp.status, 0, resp.raw)
        return resp

    def store(self, *records):
        self.site.write_messages("data/test", records)

    def new_id(self):
        data = self.site.read("data/test/bbs-message.dat")
        return data.split(b"\x1e", 1)[0].decode()

    def raw_mails(self):
        d = self.site.path("mail")
        names = sorted((n for n in os.listdir(d) if n.startswith("mail")),
                       key=lambda n: int(n[4:-4]))
        out = []
        for n in names:
            with open(os.path.join(d, n), "rb") as f:
                out.append(f.read())
        return out

    def mails(self):
        return [email.message_from_bytes(raw) for raw in self.raw_mails()]

    def clear_mails(self, keep_count=False):
        """Forgets the mails sent, and unless kept the notices counted for
        the limit."""
        for n in os.listdir(self.site.path("mail")):
            os.unlink(self.site.path("mail", n))
        if not keep_count and os.path.exists(self.site.path("dat-notice.dat")):
            os.unlink(self.site.path("dat-notice.dat"))


class SenderTest(NoticeCase):
    def test_from_links_and_ids_name_the_site_never_the_host_header(self):
        gethost = host_name()
        cases = [
            # label, system settings, From, board link, id domain
            ("site_url and mail_from", {"mail_from": "notice@example.jp"},
             "notice@example.jp", SITE_URL + "ruk-bbs.cgi?bid=test", "bbs.example.jp"),
            ("site_url", {}, "CGI@bbs.example.jp", SITE_URL + "ruk-bbs.cgi?bid=test",
             "bbs.example.jp"),
            ("neither", {"site_url": None}, "CGI@" + gethost,
             "http://%s/cgi-bin/ruk-bbs.cgi?bid=test" % gethost, gethost),
            ("site_url with a query, mail_from a list",
             {"site_url": "https://bbs.example.jp/bbs/?x=\"><", "mail_from": "a@b.jp,c@d.jp"},
             "CGI@" + gethost, "http://%s/cgi-bin/ruk-bbs.cgi?bid=test" % gethost, gethost),
            ("site_url not http", {"site_url": "javascript:alert(1)//evil.example/"},
             "CGI@" + gethost, "http://%s/cgi-bin/ruk-bbs.cgi?bid=test" % gethost, gethost),
            ("site_url with user information",
             {"site_url": "http://evil.example@bbs.example.jp/"},
             "CGI@" + gethost, "http://%s/cgi-bin/ruk-bbs.cgi?bid=test" % gethost, gethost),
        ]
        for i, (label, system, sender, link, domain) in enumerate(cases):
            with self.subTest(label):
                self.set_system(**system)
                self.store(record("100", title="root", mail="parent@example.jp", resmail="1"))
                self.clear_mails()
                self.post(pid="100", ppid="100", title="re %d" % i, name="Hanako",
                          mail="hanako@example.jp", env=EVIL)
                key = self.new_id()
                raws = self.raw_mails()
                self.assertEqual(len(raws), 2)
                for raw, kind in zip(raws, ["reply", "owner"]):
                    self.assertNotIn(b"evil.example", raw)
                    msg = email.message_from_bytes(raw)
                    self.assertEqual(msg["From"], sender)
                    self.assertEqual(msg["Reply-To"], "hanako@example.jp")
                    self.assertIsNone(msg["Sender"])
                    self.assertIsNone(msg["Return-Path"])
                    self.assertRegex(msg["Message-ID"], r"^<%s\.test\.%s\.[0-9a-f]{16}@%s>$"
                                     % (key, kind, re.escape(domain)))
                    self.assertEqual(msg["In-Reply-To"], "<100.test.ruk-bbs@%s>" % domain)
                    text = body_text(msg)
                    self.assertIn("BBS\uff1a %s\n" % link, text)  # BBS：
                    self.assertIn("\u30b9\u30ec\u30c3\u30c9\uff1a %s&style=1&ppid=100#m%s\n"
                                  % (link, key), text)  # スレッド：

    def test_visitor_address_only_in_reply_to(self):
        cases = [
            ("one address", "hanako@example.jp", "hanako@example.jp"),
            ("two addresses", "a@example.jp,b@example.jp", None),
            ("header injection", "a@example.jp\r\nBcc: spy@example.jp", None),
            ("no dot", "hanako@localhost", None),
        ]
        for i, (label, mail, reply_to) in enumerate(cases):
            with self.subTest(label):
                self.clear_mails()
                self.post(title="root %d" % i, mail=mail)
                (msg,) = self.mails()
                self.assertEqual(msg["From"], "CGI@bbs.example.jp")
                self.assertEqual(msg["Reply-To"], reply_to)
                self.assertIsNone(msg["Bcc"])
                self.assertEqual(msg["To"], "owner@example.jp")

    def test_owner_addresses_without_a_dot(self):
        self.set_board(owner_mail="owner@localhost", cc_mail="cc@localhost, bad address")
        self.post(title="root")
        (msg,) = self.mails()
        self.assertEqual(msg["To"], "owner@localhost")
        self.assertEqual(msg["Cc"], "cc@localhost")


class ThreadTest(NoticeCase):
    def test_each_notice_its_own_id_replies_point_at_their_parent(self):
        self.store(record("101", pid="100", ppid="100", title="r1", mail="p1@example.jp",
                          resmail="1"),
                   record("100", title="root", mail="p0@example.jp", resmail="1"))
        domain = "bbs.example.jp"
        cases = [
            # label, pid, ppid, In-Reply-To, References
            ("new thread", "", "", None, None),
            ("reply to the root", "100", "100", "<100.test.ruk-bbs@%s>" % domain,
             "<100.test.ruk-bbs@%s>" % domain),
            ("reply to a reply", "101", "100", "<101.test.ruk-bbs@%s>" % domain,
             "<100.test.ruk-bbs@%s> <101.test.ruk-bbs@%s>" % (domain, domain)),
        ]
        seen = set()
        for label, pid, ppid, in_reply_to, references in cases:
            with self.subTest(label):
                self.clear_mails()
                self.post(pid=pid, ppid=ppid, title=label)
                mails = self.mails()
                self.assertEqual(len(mails), 1 if not pid else 2)
                for msg in mails:
                    self.assertEqual(msg["In-Reply-To"], in_reply_to)
                    self.assertEqual(header(msg, "References"), references)
                    self.assertNotIn(msg["Message-ID"], seen)
                    seen.add(msg["Message-ID"])


class LimitTest(NoticeCase):
    def notice_log(self, events):
        """dat-notice.dat with (seconds ago, address) events."""
        now = int(time.time())
        self.site.write("dat-notice.dat", b"".join(
            b"%d %s\n" % (now - ago, per_hex(addr)) for ago, addr in events))

    def recipients(self):
        return [(m["To"], m["Cc"]) for m in self.mails()]

    def test_sixth_notice_to_an_address_within_the_hour_is_not_sent(self):
        # The parent's author and the owner have had four notices this
        # hour (and older ones that no longer count); the address is
        # counted whatever its case.
        self.set_board(cc_mail="cc@example.jp")
        self.store(record("100", title="root", mail="Victim@Example.JP", resmail="1"))
        self.notice_log([(7200, "victim@example.jp")] * 3 + [(60, "victim@example.jp")] * 4
                        + [(60, "owner@example.jp")] * 5)
        self.post(pid="100", ppid="100", title="fifth")
        # The owner is over the limit: the copy address gets the notice.
        self.assertEqual(self.recipients(), [("Victim@Example.JP", None), ("cc@example.jp", None)])
        self.clear_mails(keep_count=True)
        self.post(pid="100", ppid="100", title="sixth")
        self.assertEqual(self.recipients(), [("cc@example.jp", None)])
        # Both replies were stored.
        self.assertEqual(self.site.read("data/test/bbs-message.dat").count(b"\n"), 3)
        log = self.site.read("dat-notice.dat").decode().split()
        self.assertEqual(log.count("victim%40example.jp"), 5)
        self.assertEqual(log.count("owner%40example.jp"), 5)
        self.assertEqual(log.count("cc%40example.jp"), 2)

    def test_no_notice_when_the_log_cannot_be_used(self):
        os.makedirs(self.site.path("dat-notice.dat"))
        self.post(title="root")
        self.assertEqual(self.mails(), [])
        self.assertIn(b"root", self.site.read("data/test/bbs-message.dat"))


# A mail server for the test alone: exim with its own configuration, spool
# and log in a temporary directory, taking mail on standard input
# ("-t", delivered at once with "-odi", errors on standard error with
# "-oep") and delivering every address into one maildir, never to the
# network. It refuses mail over 1 MB and lines over 998 bytes, as
# Debian's own configuration does for mail it receives.
EXIM_CONF = """keep_environment =
primary_hostname = bbs.example.jp
qualify_domain = bbs.example.jp
spool_directory = {dir}/spool
log_file_path = {dir}/log/%slog
message_size_limit = 1M
acl_not_smtp = acl_check_lines

begin acl
acl_check_lines:
  deny condition = ${{if >{{$max_received_linelength}}{{998}}}}
       message = maximum allowed line length is 998 octets, got $max_received_linelength
  accept

begin routers
deliver_here:
  driver = accept
  transport = maildir

begin transports
maildir:
  driver = appendfile
  directory = {dir}/maildir
  maildir_format = true
  create_directory = true
  envelope_to_add = true
  user = {user}
  group = {group}
  mode = 0644
"""


class Exim:
    def __init__(self):
        self.binary = shutil.which("exim4") or shutil.which("exim", path="/usr/sbin:/usr/bin")
        self.dir = tempfile.mkdtemp(prefix="ruk-exim-")
        os.chmod(self.dir, 0o777)
        # Run by root, exim drops to its own user for a configuration of
        # the caller's; run by anyone else, it stays that user.
        if os.geteuid() == 0:
            user, group = "${exim_uid}", "${exim_gid}"
        else:
            user, group = str(os.getuid()), str(os.getgid())
        self.conf = os.path.join(self.dir, "exim.conf")
        with open(self.conf, "w") as f:
            f.write(EXIM_CONF.format(dir=self.dir, user=user, group=group))
        os.chmod(self.conf, 0o644)

    @property
    def command(self):
        return "%s -C %s -odi -oep" % (self.binary, self.conf)

    def send(self, message):
        return subprocess.run(self.command.split() + ["-t"], input=message,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)

    def delivered(self):
        new = os.path.join(self.dir, "maildir", "new")
        if not os.path.isdir(new):
            return []
        out = []
        for n in sorted(os.listdir(new)):
            with open(os.path.join(new, n), "rb") as f:
                out.append(f.read())
        return out

    def clear(self):
        shutil.rmtree(os.path.join(self.dir, "maildir"), ignore_errors=True)

    def log(self):
        path = os.path.join(self.dir, "log", "mainlog")
        try:
            with open(path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class EximTest(NoticeCase):
    @classmethod
    def setUpClass(cls):
        cls.exim = None
        binary = shutil.which("exim4") or shutil.which("exim", path="/usr/sbin:/usr/bin")
        if not binary:
            raise unittest.SkipTest("exim4 is not installed (Debian's exim4-daemon-light)")
        exim = Exim()
        probe = exim.send(b"To: probe@example.jp\nSubject: probe\n\nprobe\n")
        if probe.returncode != 0 or len(exim.delivered()) != 1:
            reason = "exim cannot run a configuration of its own here (-C): %s %s" % (
                probe.stderr.decode("utf-8", "replace").strip(), exim.log()[-500:])
            exim.close()
            raise unittest.SkipTest(reason)
        exim.clear()
        cls.exim = exim

    @classmethod
    def tearDownClass(cls):
        if cls.exim:
            cls.exim.close()

    def setUp(self):
        super().setUp()
        self.exim.clear()
        self.set_system(sendmail=self.exim.command)

    def test_the_server_refuses_long_lines(self):
        # The check the notices pass is active: a mail with a line of 999
        # bytes or more is refused and nothing delivered.
        result = self.exim.send(b"To: a@example.jp\nSubject: long\n\n" + b"x" * 999 + b"\n")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"maximum allowed line length is 998 octets", result.stderr)
        self.assertEqual(self.exim.delivered(), [])

    def test_notices_accepted_delivered_and_read_back(self):
        cases = [
            # label, title, message, body charset
            ("504-character paragraph", TITLE, PARAGRAPH + "\n" + PARAGRAPH, "iso-2022-jp"),
            ("characters outside JIS X 0208", TITLE + OUTSIDE, OUTSIDE + "\n" + PARAGRAPH,
             "utf-8"),
        ]
        for label, title, mess, charset in cases:
            with self.subTest(label):
                self.exim.clear()
                self.clear_mails()
                self.store(record("100", title="root", mail="parent@example.jp", resmail="1"))
                self.post(pid="100", ppid="100", title=title, name="Hanako",
                          mail="hanako@example.jp", mess=mess, env=EVIL)
                raws = self.exim.delivered()
                self.assertEqual(len(raws), 2, self.exim.log()[-2000:])
                got = set()
                for raw in raws:
                    self.assertNotIn(b"evil.example", raw)
                    self.assertLessEqual(max(len(l) for l in raw.split(b"\n")), 998)
                    msg = email.message_from_bytes(raw)
                    got.add(msg["Envelope-to"])
                    self.assertEqual(msg["From"], "CGI@bbs.example.jp")
                    self.assertEqual(header(msg, "Subject"),
                                     "[\u30c6\u30b9\u30c8\u677f] " + title)  # テスト板
                    self.assertEqual(msg.get_content_charset(), charset)
                    text = body_text(msg)
                    self.assertIn("\n\n" + mess + "\n", text)
                    self.assertIn("\u984c\u3000\u540d\uff1a" + title + "\n", text)  # 題　名：
                    if charset == "iso-2022-jp":
                        # Lines holding Japanese are folded to 76 bytes (a
                        # link alone may be longer).
                        body = raw.split(b"\n\n", 1)[1]
                        self.assertLessEqual(max(len(l) for l in body.split(b"\n")
                                                 if b"\x1b$B" in l), 76)
                        nkf = subprocess.run(["nkf", "-J", "-w", "-m0"], input=body,
                                             stdout=subprocess.PIPE)
                        self.assertEqual(unflow(nkf.stdout.decode()), text)
                self.assertEqual(got, {"parent@example.jp", "owner@example.jp"})


if __name__ == "__main__":
    unittest.main()
