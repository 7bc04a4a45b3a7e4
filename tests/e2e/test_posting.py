"""Posting, deletion and the notification mails of the board program, run
as CGI against a small site: what lands in the message file and the
attachment directories, what every refusal leaves untouched, the cookies
and the mails the mail command receives."""
import calendar
import email
import email.header
import os
import stat
import time
import unittest

from rukcgi import HeldLock, Site, multipart, record

KEYS = ["msg%02d" % i for i in range(1, 115)]
ADMIN = "adminpw"

# A compact board skin: every slot the posting pages fill, on one line each.
SKIN_BBS = (
    "<html>%USER_HEADER%\n"
    "<!--INPUT_FORM-->FORM<!--/INPUT_FORM-->\n"
    "<!--DATA_TABLE--><!--/DATA_TABLE-->\n"
    "<!--DATA_TITLE--><!--/DATA_TITLE-->\n"
    "<!--TABLE_PARENT-->{P %ID% %TITLE% #b <!--ATTACH-->%ATTACH_LINK%%BUTTON=a.gif%<!--/ATTACH-->}"
    "<!--TABLE_CHILD-->{C %ID% %TITLE% <!--ATTACH-->%ATTACH_LINK%%BUTTON=a.gif%<!--/ATTACH-->}"
    "<!--/TABLE_CHILD--><!--/TABLE_PARENT-->\n"
    "<!--TITLE_PARENT-->tp<!--TITLE_CHILD-->tc<!--/TITLE_CHILD--><!--/TITLE_PARENT-->\n"
    "<!--FOUND_WORD-->FOUND[%NUM%][%WORD%][%CPUTIME%][%STYLE%]<!--/FOUND_WORD-->\n"
    "<!--FOUND_RESULT--><!--FOUND_RESULT_HEADLINE-->HEAD(%WORD%)<!--/FOUND_RESULT_HEADLINE-->"
    "{R %ID% %PPID% %TITLE% [%MESSAGE%] w=%WORD%}<!--/FOUND_RESULT-->\n"
    "</html>\n")

# The mail command: each mail to mail/mailN.eml, its arguments to mail/argsN.
MAIL_SCRIPT = """#!/bin/sh
d="$(dirname "$0")/mail"
n=$(ls "$d" | grep -c '^mail')
printf '%s\\n' "$*" > "$d/args$n"
cat > "$d/mail$n.eml"
"""

FIELDS = ["id", "pid", "ppid", "date", "name", "mail", "home", "title", "mess", "passwd",
          "resmail", "preform"]


def make_site(**board):
    """A site with a catalogue whose texts name their keys, the compact
    skin, the capture mail command and the board "test"."""
    site = Site(full=False)
    site.write("dat-message.dat", "".join("%s=[%s]\n" % (k, k) for k in KEYS if k != "msg54")
               + "msg54=OLD(%ID%)\n")
    site.write("skin/t/templ_bbs.html", SKIN_BBS)
    site.write("skin/t/templ_ico.html", "<html>icons</html>")
    site.write("skin/t/templ_info.html", "info|%MESSAGE%|%RETURN_CGI%")
    # The page of a request refused before its skin is known.
    site.write("skin/default/templ_info.html", "info|%MESSAGE%|%RETURN_CGI%")
    script = site.write("sendmail.sh", MAIL_SCRIPT)
    os.chmod(script, stat.S_IRWXU)
    os.makedirs(site.path("mail"))
    site.write_system({"sendmail": script, "attach_max": "3",
                       "site_url": "http://bbs.example.jp/cgi-bin/"})
    conf = {"skindir": "skin/t/", "passwd": ADMIN, "attach_size": "100",
            "bbs_title": "\u30c6\u30b9\u30c8\u677f"}  # テスト板
    conf.update(board)
    site.add_board("test", **conf)
    return site


def parse_messages(data):
    """The records of a message file as dicts (text fields as str)."""
    out = []
    for line in data.split(b"\n"):
        if not line:
            continue
        f = line.split(b"\x1e")
        rec = {k: f[i].decode("cp932") for i, k in enumerate(FIELDS)}
        rec["mess"] = rec["mess"].replace("\x1d", "\n")
        rec["icon"] = f[20].decode("cp932") if len(f) > 20 else ""
        rec["attach"] = [(f[i].decode(), f[i + 1].decode()) for i in range(21, len(f) - 1, 2)]
        out.append(rec)
    return out


class BoardCase(unittest.TestCase):
    board = {}

    def setUp(self):
        self.site = make_site(**self.board)

    def tearDown(self):
        self.site.close()

    def post(self, files=(), env=None, **fields):
        """Presses the post button with these fields (defaults for a valid
        new thread)."""
        form = {"bid": "test", "submit_wri.x": "1", "name": "nm", "title": "tt",
                "mess": "body", "passwd": "pw"}
        form.update(fields)
        body, ctype = multipart(form, files)
        return self.site.run(method="POST", body=body, content_type=ctype, env=env)

    def delete(self, mid, passwd):
        return self.site.run(method="POST", body={"bid": "test", "submit_del.x": "1",
                                                  "id": mid, "passwd": passwd})

    def messages(self):
        path = self.site.path("data/test/bbs-message.dat")
        if not os.path.exists(path):
            return []
        return parse_messages(self.site.read("data/test/bbs-message.dat"))

    def ids(self):
        return [m["id"] for m in self.messages()]

    def store(self, *records):
        self.site.write_messages("data/test", records)

    def attach(self, key, name, data):
        self.site.write("data/test/%s/%s" % (key, name), data)

    def snapshot(self):
        """Every file below the board's data directory with its bytes."""
        return self.site.snapshot("data/test")

    def mails(self):
        """The mails the mail command received, in order: (args, message)."""
        out = []
        d = self.site.path("mail")
        for i in range(len([n for n in os.listdir(d) if n.startswith("mail")])):
            with open(os.path.join(d, "args%d" % i)) as f:
                args = f.read().strip()
            with open(os.path.join(d, "mail%d.eml" % i), "rb") as f:
                out.append((args, email.message_from_bytes(f.read())))
        return out

    def assertMessage(self, resp, key):
        self.assertEqual(resp.status, 1, resp.raw)
        self.assertTrue(resp.text.startswith("info|[%s]|" % key), resp.text)

    def assertOk(self, resp):
        self.assertEqual(resp.status, 0, resp.raw)
        self.assertIn("<html>", resp.text)


class PostingTest(BoardCase):
    def test_new_threads_replies_and_edits_land_in_order(self):
        self.assertOk(self.post(title="A", home="http://"))
        self.assertOk(self.post(title="B", home="http://example.jp/"))
        a, b = self.ids()[::-1]
        self.assertEqual([m["title"] for m in self.messages()], ["B", "A"])
        self.assertEqual([m["home"] for m in self.messages()], ["http://example.jp/", ""])
        # A reply puts its thread on top, newest reply first, root last.
        self.assertOk(self.post(title="R1", pid=a, ppid=a))
        self.assertOk(self.post(title="R2", pid=a, ppid=a))
        self.assertEqual([m["title"] for m in self.messages()], ["R2", "R1", "A", "B"])
        r1 = self.messages()[1]
        self.assertEqual((r1["pid"], r1["ppid"]), (a, a))
        # An edit keeps its place in the thread and moves the thread up.
        self.assertOk(self.post(id=b, title="B2"))
        self.assertEqual([m["title"] for m in self.messages()], ["B2", "R2", "R1", "A"])
        self.assertOk(self.post(id=r1["id"], pid=a, ppid=a, title="R1e"))
        self.assertEqual([m["title"] for m in self.messages()], ["R2", "R1e", "A", "B2"])
        self.assertEqual(len(set(self.ids())), 4)

        for m in self.messages():
            self.assertRegex(m["id"], r"^\d{13}$")
            self.assertNotIn(m["passwd"], ("", "pw"))
        # The board opens again after the post, showing the thread.
        resp = self.post(title="C")
        self.assertIn("{P %s C " % self.ids()[0], resp.text)

    def test_date_follows_the_time_lag(self):
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN, timelag_hh="1",
                            timelag_mm="30")
        before = time.time()
        self.assertOk(self.post(env={"TZ": "UTC"}))
        stored = calendar.timegm(time.strptime(self.messages()[0]["date"], "%Y/%m/%d %H:%M:%S"))
        self.assertLessEqual(abs(stored - (before + 5400)), 3)

    def test_refusals_in_order_leave_the_board_untouched(self):
        self.store(record("100", title="root", mess="stored", passwd="own",
                          attach=[("a.txt", "100")]))
        self.attach("100", "a.txt", b"old")
        big = ("file0", "big.php", b"x" * 2048)
        cases = [
            # label, board settings, fields, files, key
            ("no name", {}, dict(name="", title="", mess="", passwd="", icon="0"), [big],
             "msg20"),
            ("no title", {}, dict(title="", mess="", passwd=""), [], "msg21"),
            ("no body", {}, dict(mess="", passwd="", icon="0"), [], "msg22"),
            ("no password", {}, dict(passwd="", icon="0"), [big], "msg01"),
            ("icon 0", {"write_passwd": "wpw"}, dict(icon="0"), [big], "msg26"),
            ("posting password", {"write_passwd": "wpw"}, {}, [big], "msg41"),
            ("upload limit", {"attach_size": "1"}, {}, [big], "msg72"),
            ("attachment name", {}, {}, [("file0", "x.php", b"1"), ("file1", "x.php", b"2")],
             "msg23"),
            ("repeat", {}, dict(name="name", title="root", mess="stored"), [], "msg25"),
            ("edit, wrong password", {}, dict(id="100", title="changed"), [], "msg03"),
        ]
        before = self.snapshot()
        for label, board, fields, files, key in cases:
            with self.subTest(label):
                conf = {"skindir": "skin/t/", "passwd": ADMIN, "attach_size": "100"}
                conf.update(board)
                self.site.add_board("test", **conf)
                self.assertMessage(self.post(files=files, **fields), key)
                self.assertEqual(self.snapshot(), before)
        self.assertEqual(self.mails(), [])

    def test_passwords_that_pass(self):
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN, write_passwd="wpw")
        cases = [("posting password", dict(passwd="wpw")),
                 ("admin password", dict(passwd=ADMIN)),
                 ("admin icon 0", dict(passwd=ADMIN, icon="0", title="i0"))]
        for label, fields in cases:
            with self.subTest(label):
                self.assertOk(self.post(**dict(dict(title=label), **fields)))
        self.assertEqual(self.messages()[0]["icon"], "0")

    def test_upload_limit_in_whole_kb(self):
        cases = [("", 1023, True), ("", 1024, False), ("2", 3071, True), ("2", 3072, False)]
        for i, (size, length, ok) in enumerate(cases):
            with self.subTest(size=size, length=length):
                self.site.add_board("test", skindir="skin/t/", attach_size=size)
                resp = self.post(title="t%d" % i, files=[("file0", "f%d.txt" % i, b"z" * length)])
                if ok:
                    self.assertOk(resp)
                else:
                    self.assertMessage(resp, "msg72")

    def test_edits_need_the_message_or_admin_password(self):
        self.store(record("200", title="other", passwd="x"),
                   record("101", pid="100", ppid="100", title="reply", passwd="own"),
                   record("100", title="root", passwd="own"))
        self.assertMessage(self.post(id="100", title="t1", passwd="bad"), "msg03")
        self.assertMessage(self.post(id="101", pid="100", ppid="100", title="t1", passwd="x"),
                           "msg03")
        self.assertOk(self.post(id="100", title="by author", passwd="own"))
        self.assertOk(self.post(id="101", pid="100", ppid="100", title="by admin", passwd=ADMIN))
        self.assertEqual([m["title"] for m in self.messages()], ["by admin", "by author", "other"])
        # An id no message has names nothing to edit: nothing is stored
        # under the visitor's chosen key.
        before = self.snapshot()
        self.assertMessage(self.post(id="150", title="free key", passwd=ADMIN), "msg66")
        self.assertEqual(self.snapshot(), before)

    def test_edit_cannot_move_a_message_to_another_thread(self):
        self.store(record("200", title="other", passwd="x"),
                   record("101", pid="100", ppid="100", title="reply", passwd="own"),
                   record("100", title="root", passwd="own"))
        # The form names another thread; the message stays in its own.
        self.assertOk(self.post(id="101", pid="200", ppid="200", title="edited", passwd="own"))
        msgs = self.messages()
        self.assertEqual([m["id"] for m in msgs], ["101", "100", "200"])
        self.assertEqual((msgs[0]["title"], msgs[0]["pid"], msgs[0]["ppid"]),
                         ("edited", "100", "100"))

    def test_attachments_land_in_the_thread_directory_and_show(self):
        # A browser sends an unused file field with an empty name.
        resp = self.post(title="with files", files=[("file0", "a.png", b"P" * 500),
                                                     ("file1", "", b""),
                                                     ("file2", "c.txt", b"C" * 2048)])
        self.assertOk(resp)
        root = self.messages()[0]
        key = root["id"]
        self.assertEqual(root["attach"], [("a.png", key), ("c.txt", key)])
        self.assertEqual(self.site.read("data/test/%s/a.png" % key), b"P" * 500)
        self.assertEqual(self.site.read("data/test/%s/c.txt" % key), b"C" * 2048)
        url = "data/test/%s/c.txt" % key
        self.assertIn("ruk-view.cgi?url=%s\"" % url, resp.text)
        self.assertIn('<a href="%s"><span class="pAttach">c.txt</span></a>(2KB)' % url, resp.text)
        # A reply's files go to its thread's directory.
        resp = self.post(title="re", pid=key, ppid=key, files=[("file1", "r.txt", b"r")])
        self.assertIn('<span class="cAttach">r.txt</span></a>(1KB)', resp.text)
        self.assertEqual(self.messages()[0]["attach"], [("r.txt", key)])
        self.assertEqual(sorted(os.listdir(self.site.path("data/test", key))),
                         ["a.png", "c.txt", "r.txt"])
        # An edit keeps the message's files but those ticked for removal;
        # a new file of a name the thread holds is numbered.
        self.assertOk(self.post(id=key, title="edited", delattach1="1",
                                files=[("file0", "a.png", b"new")]))
        root = next(m for m in self.messages() if m["id"] == key)
        self.assertEqual(root["attach"], [("a.png", key), ("a-2.png", key)])
        self.assertEqual(self.site.read("data/test/%s/a.png" % key), b"P" * 500)
        self.assertEqual(self.site.read("data/test/%s/a-2.png" % key), b"new")
        self.assertFalse(os.path.exists(self.site.path("data/test", key, "c.txt")))
        self.assertTrue(os.path.exists(self.site.path("data/test", key, "r.txt")))

    def test_dangerous_attachment_names_are_refused(self):
        names = ["x.cgi", "x.PHP", "x.pl", "x.phtml", "x.shtml", "x.html", "x.Htm", "x.svg",
                 "x.js", "x.py", "x.sh", ".htaccess", "x.jsp", "x.aspx", "x.xhtml", "x.php5"]
        for name in names:
            with self.subTest(name):
                resp = self.post(title=name, files=[("file0", name, b"<?php ?>")])
                self.assertMessage(resp, "msg23")
        self.assertEqual(self.snapshot(), {})
        # Harmless names pass.
        for name in ["a.jpg", "Read_me-1.txt", "x.php.txt"]:
            with self.subTest(name):
                self.assertOk(self.post(title=name, files=[("file0", name, b"ok")]))

    def test_repeat_resets_the_page(self):
        self.assertOk(self.post())
        resp = self.post(page="3")
        self.assertMessage(resp, "msg25")
        self.assertIn("&page=0", resp.text)
        self.assertEqual(len(self.messages()), 1)

    def test_quick_successive_posts_all_survive(self):
        for i in range(4):
            self.assertOk(self.post(title="quick %d" % i))
        self.assertEqual([m["title"] for m in self.messages()],
                         ["quick 3", "quick 2", "quick 1", "quick 0"])
        self.assertEqual(len(set(self.ids())), 4)

    def test_new_key_taken_moves_to_the_next_free_one(self):
        # Every key of the next seconds is taken, so the clock's key is too.
        now = int(time.time() * 1000)
        span = 8000
        self.store(*[record(str(k), title="t%d" % k) for k in range(now + span, now - 1, -1)])
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN, attach_size="100",
                            use_mail="1", owner_mail="owner@example.jp")
        self.assertOk(self.post(title="fresh", files=[("file0", "f.txt", b"f")]))
        top = self.messages()[0]
        self.assertEqual(top["id"], str(now + span + 1))
        self.assertEqual(top["attach"], [("f.txt", top["id"])])
        self.assertTrue(os.path.exists(self.site.path("data/test", top["id"], "f.txt")))
        self.assertEqual(len(set(self.ids())), span + 2)
        (_, mail), = self.mails()
        self.assertRegex(mail["Message-ID"],
                         r"^<%s\.test\.owner\.[0-9a-f]{16}@bbs\.example\.jp>$" % top["id"])

    def test_store_failures_are_reported(self):
        # A file that cannot be written is the site's failure (msg114, 500);
        # a lock another request holds is a busy board (msg90, 503).
        cases = [("data file unreadable", "data/test/bbs-message.dat"),
                 ("lock file unusable", "data/test/lockfile.lock")]
        for label, rel in cases:
            with self.subTest(label):
                if os.path.exists(self.site.path(rel)):
                    os.unlink(self.site.path(rel))
                os.makedirs(self.site.path(rel))
                self.assertMessage(self.post(files=[("file0", "f.txt", b"f")]), "msg114")
                os.rmdir(self.site.path(rel))
                self.assertEqual(self.snapshot(), {})
        with HeldLock(self.site.path("data/test/lockfile.lock")):
            self.assertMessage(self.post(), "msg90")
        self.assertEqual(self.messages(), [])

    def test_oversized_body(self):
        resp = self.site.run(query="bid=test&submit_wri.x=1", method="POST", body=b"",
                             env={"CONTENT_LENGTH": "%d" % (64 * 1024 * 1024 + 1)})
        self.assertMessage(resp, "msg24")
        self.assertEqual(self.snapshot(), {})

    def test_reply_to_a_vanished_parent(self):
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN, use_mail="1",
                            owner_mail="owner@example.jp")
        resp = self.post(title="orphan", pid="999", cookie="1")
        self.assertMessage(resp, "msg99")
        self.assertEqual(resp.header("Set-Cookie"), [])
        # Nothing was stored; no mail left.
        self.assertEqual(self.messages(), [])
        self.assertEqual(self.mails(), [])

    def test_cookies_remember_the_author(self):
        resp = self.post(cookie="1", name="Taro", mail="t@example.jp", home="http://t.jp/",
                         icon="3", resmail="1", passwd="p w", env={"HTTP_COOKIE": "seen=1"})
        self.assertOk(resp)
        cookies = resp.header("Set-Cookie")
        self.assertEqual([c.split(";")[0] for c in cookies],
                         ["seen=1", "name=Taro", "mail=t%40example.jp", "home=http%3A%2F%2Ft.jp%2F",
                          "icon=3", "resmail=1", "passwd=p+w"])
        for c in cookies:
            attrs = c.split("; ")
            expires = [a for a in attrs if a.startswith("expires=")][0][8:]
            when = calendar.timegm(time.strptime(expires, "%a, %d-%b-%Y %H:%M:%S GMT"))
            self.assertLessEqual(abs(when - (time.time() + 30 * 86400)), 5)
            # No script may read them, no other site's form or image sends them.
            self.assertIn("HttpOnly", attrs)
            self.assertIn("SameSite=Lax", attrs)
            self.assertNotIn("Secure", attrs)
        self.assertEqual(resp.header("Content-type"), ["text/html"])
        # Without the switch no cookie is set.
        self.assertEqual(self.post(title="x2").header("Set-Cookie"), [])


class DeletionTest(BoardCase):
    def setUp(self):
        super().setUp()
        self.store(record("300", title="solo", passwd="s"),
                   record("102", pid="101", ppid="100", title="r2", passwd="r"),
                   record("101", pid="100", ppid="100", title="r1", passwd="r",
                          attach=[("b.txt", "100")]),
                   record("100", title="root", passwd="own", attach=[("a.txt", "100")]))
        self.attach("100", "a.txt", b"a")
        self.attach("100", "b.txt", b"b")

    def test_refusals_change_nothing(self):
        cases = [
            ("empty password", "300", "", "msg01"),
            ("wrong password", "300", "x", "msg03"),
            ("other message's password", "300", "own", "msg03"),
            ("unknown id", "999", "s", "msg66"),
            ("no id", "", ADMIN, "msg66"),
            ("author of a message with replies", "101", "r", "msg30"),
            ("author of a thread root", "100", "own", "msg30"),
        ]
        before = self.snapshot()
        for label, mid, passwd, key in cases:
            with self.subTest(label):
                self.assertMessage(self.delete(mid, passwd), key)
                self.assertEqual(self.snapshot(), before)
        with HeldLock(self.site.path("data/test/lockfile.lock")):
            self.assertMessage(self.delete("300", "s"), "msg90")
        self.assertEqual(self.snapshot(), before)

    def test_author_and_admin_deletions(self):
        self.assertOk(self.delete("102", "r"))
        self.assertEqual(self.ids(), ["300", "101", "100"])
        self.assertOk(self.delete("300", "s"))
        self.assertEqual(self.ids(), ["101", "100"])
        # An unknown id with the admin password writes nothing.
        before = self.snapshot()
        for mid in ("999", ""):
            with self.subTest(mid):
                self.assertMessage(self.delete(mid, ADMIN), "msg66")
                self.assertEqual(self.snapshot(), before)

    def test_admin_deletes_a_reply_with_its_subtree_and_files(self):
        self.assertOk(self.delete("101", ADMIN))
        self.assertEqual(self.ids(), ["300", "100"])
        self.assertEqual(os.listdir(self.site.path("data/test/100")), ["a.txt"])

    def test_admin_deletes_a_thread_with_its_directory(self):
        resp = self.delete("100", ADMIN)
        self.assertOk(resp)
        self.assertEqual(self.ids(), ["300"])
        self.assertFalse(os.path.exists(self.site.path("data/test/100")))
        self.assertIn("{P 300 solo ", resp.text)


class MailTest(BoardCase):
    board = {"use_mail": "1", "owner_mail": "owner@example.jp", "cc_mail": "cc@example.jp"}

    def body_text(self, msg):
        """The body as a format=flowed reader shows it: stuffing blanks
        dropped, soft lines joined without their final blank."""
        self.assertEqual(msg.get_content_charset(), "iso-2022-jp")
        self.assertEqual(msg.get_param("format"), "flowed")
        text, soft = "", False
        for line in msg.get_payload(decode=True).decode("iso-2022-jp").splitlines():
            line = line[1:] if line.startswith(" ") else line
            soft = line.endswith(" ")
            text += line[:-1] if soft else line + "\n"
        return text

    def subject(self, msg):
        return str(email.header.make_header(email.header.decode_header(msg["Subject"])))

    def expected_body(self, title, author, mess, key, root, attach_lines=None):
        rule = "\u2500" * 35 + "\n"
        text = ("\u66f8\u304d\u8fbc\u307f\u304c\u3042\u308a\u307e\u3057\u305f\u3002\n"  # 書き込みがありました。
                + rule + "\u984c\u3000\u540d\uff1a" + title + "\n"  # 題　名：
                + rule + "\u6295\u7a3f\u8005\uff1a" + author + "\n"  # 投稿者：
                + "  / 192.0.2.10\n Mozilla/5.0 (X11; Linux x86_64)\n"
                + rule + "\u30e1\u30c3\u30bb\u30fc\u30b8\uff1a\n\n" + mess + "\n")  # メッセージ：
        if attach_lines:
            text += rule + "\u6dfb\u4ed8\u30c7\u30fc\u30bf\uff1a\n\n"  # 添付データ：
            text += "".join(line + "\n" for line in attach_lines)
        board = "http://bbs.example.jp/cgi-bin/ruk-bbs.cgi?bid=test"
        return (text + rule + "BBS\uff1a " + board + "\n"
                + "\u30b9\u30ec\u30c3\u30c9\uff1a %s&style=1&ppid=%s#m%s\n"  # スレッド：
                % (board, root, key))

    def test_reply_mails_the_parent_author_and_the_owner(self):
        self.store(record("100", title="root", mail="parent@example.jp", resmail="1"))
        title = "\u8fd4\u4fe1\u3067\u3059"  # 返信です
        resp = self.post(pid="100", ppid="100", title=title, name="Hanako",
                         mail="hanako@example.jp", mess="line 1\nline 2",
                         files=[("file0", "small.txt", b"s" * 500),
                                ("file1", "edge.txt", b"e" * 2047),
                                ("file2", "two.txt", b"t" * 2048)])
        self.assertOk(resp)
        key = self.messages()[0]["id"]
        mails = self.mails()
        self.assertEqual(len(mails), 2)
        base = "http://bbs.example.jp/cgi-bin/data/test/100/"
        body = self.expected_body(title, "Hanako <hanako@example.jp>", "line 1\nline 2", key,
                                  "100", [base + "small.txt(1KB)", base + "edge.txt(1KB)",
                                   base + "two.txt(2KB)"])
        for (args, msg), to, cc, kind in zip(mails, ["parent@example.jp", "owner@example.jp"],
                                             [None, "cc@example.jp"], ["reply", "owner"]):
            with self.subTest(to):
                self.assertEqual(args, "-t")
                self.assertEqual(msg["To"], to)
                self.assertEqual(msg["Cc"], cc)
                # The site sends; the visitor's address is where answers go.
                self.assertEqual(msg["From"], "CGI@bbs.example.jp")
                self.assertEqual(msg["Reply-To"], "hanako@example.jp")
                self.assertRegex(msg["Message-ID"], r"^<%s\.test\.%s\.[0-9a-f]{16}"
                                 r"@bbs\.example\.jp>$" % (key, kind))
                self.assertEqual(msg["In-Reply-To"], "<100.test.ruk-bbs@bbs.example.jp>")
                self.assertEqual(msg["References"], "<100.test.ruk-bbs@bbs.example.jp>")
                self.assertEqual(self.subject(msg), "[\u30c6\u30b9\u30c8\u677f] " + title)
                self.assertEqual(self.body_text(msg), body)

    def test_root_mail_and_sender_fallback(self):
        self.assertOk(self.post(title="root", name="Jiro", mail="not-an-address"))
        (_, msg), = self.mails()
        self.assertEqual(msg["To"], "owner@example.jp")
        self.assertEqual(msg["From"], "CGI@bbs.example.jp")
        self.assertIsNone(msg["References"])
        key = self.messages()[0]["id"]
        self.assertEqual(self.body_text(msg),
                         self.expected_body("root", "Jiro <not-an-address>", "body", key, key))
        # A list of addresses is no sender either.
        for n in os.listdir(self.site.path("mail")):
            os.unlink(self.site.path("mail", n))
        self.assertOk(self.post(title="root 2", name="Jiro", mail="a@example.jp,b@example.jp"))
        (_, msg), = self.mails()
        self.assertEqual(msg["From"], "CGI@bbs.example.jp")

    def test_who_gets_mail(self):
        cases = [
            # label, board settings, parent resmail, parent mail, recipients (To, Cc)
            ("mail off", {"use_mail": "0"}, "0", "p@example.jp", []),
            ("owner only", {"cc_mail": ""}, "0", "p@example.jp",
             [("owner@example.jp", None)]),
            ("cc only", {"owner_mail": "bad"}, "0", "p@example.jp", [("cc@example.jp", None)]),
            ("parent asked", {"use_mail": "0"}, "1", "p@example.jp", [("p@example.jp", None)]),
            ("parent without address", {"use_mail": "0"}, "1", "p@localhost", []),
            ("parent naming others", {"use_mail": "0"}, "1", "p@example.jp,q@example.jp", []),
            ("parent with a list", {"use_mail": "0"}, "1", "p@example.jp q@example.jp", []),
            ("parent with two @", {"use_mail": "0"}, "1", "p@q@example.jp", []),
        ]
        for i, (label, board, resmail, pmail, want) in enumerate(cases):
            with self.subTest(label):
                conf = dict(self.board, skindir="skin/t/", passwd=ADMIN)
                conf.update(board)
                self.site.add_board("test", **conf)
                self.store(record("100", title="root", mail=pmail, resmail=resmail))
                for n in os.listdir(self.site.path("mail")):
                    os.unlink(self.site.path("mail", n))
                self.assertOk(self.post(pid="100", ppid="100", title="re %d" % i))
                self.assertEqual([(m["To"], m["Cc"]) for _, m in self.mails()], want)

    def test_visitor_text_adds_no_header(self):
        self.store(record("100", title="root", mail="parent@example.jp", resmail="1"))
        evil = "x\r\nBcc: spy@example.jp\r\nX-Evil: 1"
        self.assertOk(self.post(pid="100", ppid="100", name=evil, title=evil,
                                mail="a@example.jp\r\nBcc: spy@example.jp"))
        mails = self.mails()
        self.assertEqual(len(mails), 2)
        for _, msg in mails:
            self.assertIsNone(msg["Bcc"])
            self.assertIsNone(msg["X-Evil"])
            self.assertEqual(sorted(set(msg.keys())),
                             sorted({"Date", "From", "To", "Cc", "Message-ID", "In-Reply-To",
                                     "References", "Subject", "MIME-Version", "Content-Type",
                                     "Content-Transfer-Encoding"} - ({"Cc"} if msg["Cc"] is None
                                                                     else set())))


if __name__ == "__main__":
    unittest.main()
