"""The administration program run as a web server would: login and the
administrator password, the system settings and the board registry, a
board's settings and icons, and the old-log operations, each with its
refusals (by catalogue key) and what it writes."""
import os
import stat
import unittest
import urllib.parse

from rukcgi import SITE_DIR, HeldLock, Site, record

KEYS = ["msg%02d" % i for i in range(1, 100)]
ADMIN = "secret"
BOARD_PW = "bpw"

TEMPLATES = {
    "skin/default/templ_info.html": "info|%MESSAGE%|%RETURN_CGI%",
    "skin/default/templ_bbs.html": "<html>bbs</html>",
    "skin/default/templ_ico.html": "<html>ico</html>",
    "skin/config/templ_login.html": "login|%PASSWD%|%PASSWD2%|%PASSWD%",
    "skin/config/templ_config_sys.html":
        "sys|%SELECT_BBS%|%SELECT_F_MODE%|%SELECT_D_MODE%|pw=%PASSWD%|"
        '<input value="%BBS_TITLE%">|hdr=%USER_HEADER%|order=%NEW_ORDER_CHECKED%|'
        "max=%LOG_MAX%|%LOG_MAX%",
    "skin/config/templ_config_bbs.html":
        'bbs|%BID%|%BID%|<input value="%BBS_TITLE%">|dir=%DATADIR%|url=%SKINURL%|'
        "wp=%WRITE_PASSWD%|amax=%ATTACH_MAX%|mail=%MAIL_CHECKED%|pw=%PASSWD%|mail=%OWNER_MAIL%",
    "skin/config/templ_config_ico.html":
        "ico|pw=%PASSWD%|<!--TR_ICON-->[%No%:%NAME%:%URL%:%No%]<!--/TR_ICON-->|end",
    "skin/config/templ_config_old.html": "old|total=%TOTAL%|%SELECT_LOG%|%SELECT_LOG2%",
}


def decode(b):
    return urllib.parse.unquote_to_bytes(b.replace(b"+", b" ")).decode("cp932")


def read_settings(site, rel):
    """The pairs of an encoded settings file, in file order."""
    pairs = []
    for line in site.read(rel).split(b"\n"):
        if b"=" in line:
            k, v = line.split(b"=", 1)
            pairs.append((decode(k), decode(v)))
    return pairs


class AdminCase(unittest.TestCase):
    def setUp(self):
        self.site = Site(full=False)
        # Every catalogue text names its key, so a page shows which check ran.
        self.site.write("dat-message.dat", "".join("%s=[%s]\n" % (k, k) for k in KEYS))
        for rel, text in TEMPLATES.items():
            self.site.write(rel, text)
        self.system = {"admin": ADMIN, "opt_trace": "0", "passwd": "defpw",
                       "bbs_title": "Sys Title", "attach_max": "5", "log_limit": "500",
                       "icon_max": "3", "page_ppnum": "10", "log_max": "100"}
        self.site.write_settings("dat-system.dat", self.system)

    def tearDown(self):
        self.site.close()

    def post(self, body, **kw):
        return self.site.run(program="ruk-config", method="POST", body=body, **kw)

    def assertMessage(self, resp, key):
        self.assertEqual(resp.status, 1, resp.raw)
        self.assertTrue(resp.text.startswith("info|[%s]|" % key), resp.text)

    def assertPage(self, resp, name):
        self.assertEqual(resp.status, 0, resp.raw)
        self.assertEqual(resp.header("Content-type"), ["text/html"], resp.raw)
        self.assertTrue(resp.text.startswith(name + "|"), resp.text)

    def snapshot(self):
        """Every file below the site with its bytes."""
        files = {}
        for root, _, names in os.walk(self.site.dir):
            for n in names:
                p = os.path.join(root, n)
                if not n.endswith(".lock"):
                    with open(p, "rb") as f:
                        files[os.path.relpath(p, self.site.dir)] = f.read()
        return files


class LoginTest(AdminCase):
    def test_no_fields_login_page_and_silent_requests(self):
        resp = self.site.run(program="ruk-config")
        self.assertPage(resp, "login")
        self.assertEqual(resp.text, "login|||%PASSWD%")
        # Fields but no button and no board: no output at all.
        resp = self.post({"x": "1"})
        self.assertEqual((resp.status, resp.raw), (0, b""))
        self.assertPage(self.post({"submit_read": "1"}), "sys")

    def test_first_password_flow_of_the_demo(self):
        # A plain-text stored password matches as it is, and the change
        # stores it hashed; the demo runs it without SCRIPT_FILENAME.
        body = "submit_passwd=1&passwd=%s&passwd2=%s" % (ADMIN, ADMIN)
        resp = self.site.run(program="ruk-config", method="POST", body=body.encode(),
                             env={"SCRIPT_NAME": "/ruk-config.cgi", "SCRIPT_FILENAME": ""})
        self.assertPage(resp, "login")
        self.assertTrue(resp.text.startswith("login|%s||" % ADMIN), resp.text)
        stored = dict(read_settings(self.site, "dat-system.dat"))
        self.assertRegex(stored["admin"], r"^\*\$[^*]+\*$")
        self.assertEqual(stored["opt_trace"], "0")
        self.assertPage(self.post({"submit_login": "1", "passwd": ADMIN}), "sys")
        self.assertMessage(self.post({"submit_login": "1", "passwd": "other"}), "msg03")

    def test_password_refusals_write_nothing(self):
        cases = [
            ({"passwd": "", "passwd2": "n"}, "msg01"),
            ({"passwd": ADMIN, "passwd2": ""}, "msg02"),
            ({"passwd": "wrong", "passwd2": "n"}, "msg03"),
        ]
        before = self.site.read("dat-system.dat")
        for fields, key in cases:
            with self.subTest(key):
                self.assertMessage(self.post(dict(fields, submit_passwd="1")), key)
                self.assertEqual(self.site.read("dat-system.dat"), before)
        self.assertMessage(self.post({"submit_login": "1"}), "msg01")

    def test_password_holding_asterisks_still_logs_in(self):
        new = "*ab*cd"
        self.assertPage(self.post({"submit_passwd": "1", "passwd": ADMIN, "passwd2": new}),
                        "login")
        self.assertNotEqual(dict(read_settings(self.site, "dat-system.dat"))["admin"], "*ab*")
        self.assertPage(self.post({"submit_login": "1", "passwd": new}), "sys")

    def test_dispatch_order_and_bad_board_ids(self):
        before = self.site.read("dat-system.dat")
        resp = self.post({"submit_login": "1", "passwd": ADMIN, "submit_sys": "1",
                          "admin_passwd": ADMIN, "bbs_title": "changed"})
        self.assertPage(resp, "sys")
        self.assertEqual(self.site.read("dat-system.dat"), before)
        for bid in ["../x", "a/b", "tech=../../x", "<script>"]:
            with self.subTest(bid):
                resp = self.post({"bid": bid})
                self.assertMessage(resp, "msg11")
                self.assertNotIn("<script>", resp.text)


class SystemTest(AdminCase):
    def test_changes_need_the_admin_password(self):
        self.site.add_board("tech")
        cases = [
            ("submit_sys", {"bbs_title": "x"}),
            ("submit_add", {"bbsid": "new1", "datadir_make": "1"}),
            ("submit_del", {"bbsid": "tech", "datadir_del": "1"}),
        ]
        before = self.snapshot()
        for button, fields in cases:
            for pw, key in [(None, "msg01"), ("", "msg01"), ("wrong", "msg03"),
                            ("defpw", "msg03")]:
                with self.subTest(button=button, pw=pw):
                    body = dict(fields, **{button: "1"})
                    if pw is not None:
                        body["admin_passwd"] = pw
                    self.assertMessage(self.post(body), key)
                    self.assertEqual(self.snapshot(), before)

    def test_submit_sys_clamps_and_keeps_other_keys(self):
        form = {"submit_sys": "1", "admin_passwd": ADMIN, "fmode666": "644",
                "fmode777": "", "sendmail": "  /usr/sbin/sendmail  ", "passwd": " newpw ",
                "icon_max": "0", "attach_max": "0", "log_limit": "300",
                "page_ppnum": "-3", "page_ppnum2": "abc", "attach_num": "9",
                "attach_size": "0", "embed_size": "20", "log_max": "999",
                "new_time": "-1", "timelag_hh": "-30", "timelag_mm": "75",
                "bbs_title": 'Say "hi" <b>', "user_header": "<h1>x</h1>",
                "user_footer": "", "new_order": "1", "use_icon": "1"}
        resp = self.post(form)
        self.assertPage(resp, "sys")
        stored = read_settings(self.site, "dat-system.dat")
        s = dict(stored)
        expect = {"fmode666": "644", "fmode777": "", "sendmail": "/usr/sbin/sendmail",
                  "passwd": "newpw", "icon_max": "1", "attach_max": "1", "log_limit": "300",
                  "page_ppnum": "1", "page_ppnum2": "1", "attach_num": "1",
                  "attach_size": "1", "embed_size": "20", "log_max": "300", "new_time": "0",
                  "timelag_hh": "-24", "timelag_mm": "60", "bbs_title": 'Say "hi" <b>',
                  "user_header": "<h1>x</h1>", "new_order": "1", "use_attach": "",
                  "use_icon": "1", "admin": ADMIN, "opt_trace": "0"}
        for k, v in expect.items():
            self.assertEqual(s.get(k), v, k)
        # The keys that were there keep their place.
        self.assertEqual([k for k, _ in stored][:3], ["admin", "opt_trace", "passwd"])
        # Values go into the page escaped; the new file mode is selected.
        self.assertIn('<input value="Say &quot;hi&quot; &lt;b&gt;">', resp.text)
        self.assertIn("hdr=&lt;h1&gt;x&lt;/h1&gt;", resp.text)
        self.assertIn("<select name=fmode666>\n<option value=666>666</option>", resp.text)
        self.assertIn("order=checked", resp.text)
        self.assertIn("max=300|%LOG_MAX%", resp.text)
        # An empty default password and a malformed mode keep the stored values.
        self.post({"submit_sys": "1", "admin_passwd": ADMIN, "passwd": "",
                   "fmode666": "9x9", "bbs_title": "t"})
        s = dict(read_settings(self.site, "dat-system.dat"))
        self.assertEqual((s["passwd"], s["fmode666"]), ("newpw", "644"))

    def test_system_page_shows_default_password_only_after_login(self):
        resp = self.post({"submit_read": "1"})
        self.assertIn("pw=|", resp.text)
        resp = self.post({"submit_login": "1", "passwd": ADMIN})
        self.assertIn("pw=defpw|", resp.text)
        self.assertIn('<option value=666 selected>666</option>', resp.text)
        self.assertIn('<option value=777 selected>777</option>', resp.text)

    def test_board_list(self):
        self.site.write("data/foo.conf", "")
        self.site.write("data/bare", "")
        os.makedirs(self.site.path("data/foo"), exist_ok=True)
        resp = self.post({"submit_read": "1"})
        self.assertIn('<select name=bid>\n<option value="bare" >bare</option>\n'
                      '<option value="foo" >foo</option>\n</select>\n', resp.text)

    def test_add_board(self):
        self.site.write_settings("dat-system.dat", dict(self.system, fmode666="640",
                                                         fmode777="750"))
        resp = self.post({"submit_add": "1", "admin_passwd": ADMIN, "bbsid": "news",
                          "datadir_make": "1"})
        self.assertPage(resp, "sys")
        self.assertIn('<option value="news" selected>news</option>', resp.text)
        conf = read_settings(self.site, "data/news.conf")
        self.assertEqual([k for k, _ in conf], [
            "passwd", "owner_mail", "use_mail", "bbs_title", "datadir", "skindir", "skinurl",
            "stylesheet", "new_image", "new_time", "timelag_hh", "timelag_mm", "user_header",
            "user_footer", "home_url", "page_ppnum", "page_ppnum2", "new_order", "attach_num",
            "attach_size", "embed_size", "use_attach", "attach_embed", "use_icon", "log_max",
            "log_del", "denyfile"])
        c = dict(conf)
        self.assertEqual((c["passwd"], c["bbs_title"], c["datadir"], c["skindir"],
                          c["skinurl"], c["page_ppnum"], c["log_max"], c["denyfile"]),
                         ("defpw", "Sys Title", "data/news/", "skin/default/",
                          "skin/default/", "10", "100", "ruk-deny.cgi"))
        self.assertEqual(stat.S_IMODE(os.stat(self.site.path("data/news.conf")).st_mode), 0o640)
        self.assertTrue(os.path.isdir(self.site.path("data/news")))
        self.assertEqual(stat.S_IMODE(os.stat(self.site.path("data/news")).st_mode), 0o750)

        cases = [("news", "msg04"), ("", "msg05"), ("../x", "msg98"), ("a b", "msg98"),
                 ("x/../../y", "msg98")]
        for bbsid, key in cases:
            with self.subTest(bbsid):
                self.assertMessage(self.post({"submit_add": "1", "admin_passwd": ADMIN,
                                              "bbsid": bbsid, "datadir_make": "1"}), key)
        self.assertEqual(sorted(os.listdir(self.site.path("data"))), ["news", "news.conf"])
        # An empty settings file does not count as a board.
        self.site.write("data/empty.conf", "")
        self.assertPage(self.post({"submit_add": "1", "admin_passwd": ADMIN,
                                   "bbsid": "empty"}), "sys")
        self.assertEqual(dict(read_settings(self.site, "data/empty.conf"))["datadir"], "")

    def test_delete_board(self):
        self.site.add_board("keep")
        self.site.add_board("gone")
        self.site.write("data/gone/bbs-message.dat", record("1"))
        self.site.write("data/gone/1/a.png", b"x")
        self.assertPage(self.post({"submit_del": "1", "admin_passwd": ADMIN,
                                   "bbsid": "keep"}), "sys")
        self.assertFalse(os.path.exists(self.site.path("data/keep.conf")))
        self.assertTrue(os.path.isdir(self.site.path("data/keep")))
        self.post({"submit_del": "1", "admin_passwd": ADMIN, "bbsid": "gone",
                   "datadir_del": "1"})
        self.assertEqual(sorted(os.listdir(self.site.path("data"))), ["keep"])
        self.assertMessage(self.post({"submit_del": "1", "admin_passwd": ADMIN,
                                      "bbsid": "gone"}), "msg11")
        self.assertMessage(self.post({"submit_del": "1", "admin_passwd": ADMIN,
                                      "bbsid": "../x"}), "msg98")
        self.assertMessage(self.post({"submit_del": "1", "admin_passwd": ADMIN}), "msg05")

    def test_delete_never_removes_the_site(self):
        parent = os.path.dirname(self.site.dir)
        os.makedirs(self.site.path("skin/mine"))
        cases = [".", "", "./", "..", self.site.dir, parent, "/", "data", "data/..", "skin",
                 "data/../skin/..", "skin/config"]
        for datadir in cases:
            with self.subTest(datadir):
                self.site.add_board("evil", datadir=datadir or "./")
                conf = self.site.read("data/evil.conf")
                before = self.snapshot()
                resp = self.post({"submit_del": "1", "admin_passwd": ADMIN, "bbsid": "evil",
                                  "datadir_del": "1"})
                self.assertMessage(resp, "msg10")
                self.assertEqual(self.snapshot(), before)
                self.assertEqual(self.site.read("data/evil.conf"), conf)
        # The board's own skin directory inside the data directory.
        self.site.add_board("evil", datadir="mine/", skindir="mine/skin/")
        os.makedirs(self.site.path("mine/skin"))
        self.assertMessage(self.post({"submit_del": "1", "admin_passwd": ADMIN,
                                      "bbsid": "evil", "datadir_del": "1"}), "msg10")
        self.assertTrue(os.path.isdir(self.site.path("mine/skin")))


class BoardTest(AdminCase):
    def setUp(self):
        super().setUp()
        self.site.add_board("tech", passwd=BOARD_PW, skindir="skin/default/",
                            owner_mail="o@example.jp", write_passwd="")
        os.makedirs(self.site.path("skin/blue"))
        for name in ["templ_bbs.html", "templ_ico.html", "templ_info.html"]:
            self.site.write("skin/blue/" + name, TEMPLATES["skin/default/" + name])
        os.makedirs(self.site.path("data/other"))

    def config(self, **fields):
        body = {"submit_config": "1", "bid": "tech", "passwd": BOARD_PW,
                "datadir": "data/other", "skindir": "skin/blue", "skinurl": "",
                "bbs_title": "New Title", "page_ppnum": "0", "attach_num": "9",
                "log_max": "9999", "timelag_hh": "99", "write_passwd": "wp"}
        body.update(fields)
        return self.post(body)

    def test_refusals_write_nothing(self):
        os.makedirs(self.site.path("skin/half"))
        self.site.write("skin/half/templ_bbs.html", "x")
        self.site.write("outer/skin/x", "")
        cases = [
            ("no password", {"passwd": ""}, "msg01"),
            ("wrong password", {"passwd": "nope"}, "msg03"),
            ("no data dir", {"datadir": "/"}, "msg07"),
            ("no skin dir", {"skindir": ""}, "msg16"),
            ("registry", {"datadir": "data"}, "msg10"),
            ("registry with slash", {"datadir": "data\\"}, "msg10"),
            ("script directory", {"datadir": self.site.dir}, "msg10"),
            ("working directory", {"datadir": "."}, "msg10"),
            ("ancestor", {"datadir": ".."}, "msg10"),
            ("skin tree", {"datadir": "skin"}, "msg10"),
            ("registry by dots", {"datadir": "data/other/.."}, "msg10"),
            ("admin templates", {"datadir": "skin/config"}, "msg10"),
            ("same as skin", {"datadir": "skin/blue", "skindir": "skin/blue/"}, "msg19"),
            ("skin inside data", {"datadir": "outer", "skindir": "outer/skin"}, "msg10"),
            ("missing data dir", {"datadir": "data/none"}, "msg08"),
            ("missing skin", {"skindir": "skin/none"}, "msg17"),
            ("incomplete skin", {"skindir": "skin/half"}, "msg18"),
            ("no title", {"bbs_title": ""}, "msg15"),
        ]
        before = self.snapshot()
        for label, fields, key in cases:
            with self.subTest(label):
                self.assertMessage(self.config(**fields), key)
                self.assertEqual(self.snapshot(), before)
        self.assertFalse(os.path.exists(self.site.path("data/other/lockfile.lock")))
        with HeldLock(self.site.path("data/other/lockfile.lock")):
            self.assertMessage(self.config(), "msg90")

    def test_saves_and_shows_the_board(self):
        resp = self.config(bbs_title='A "quoted" <title>', owner_mail="x@y",
                           stylesheet="  s.css  ")
        self.assertPage(resp, "bbs")
        conf = read_settings(self.site, "data/tech.conf")
        c = dict(conf)
        # A plain stored password matched and is stored hashed now.
        self.assertRegex(c["passwd"], r"^\*[^*]+\*$")
        self.assertRegex(c["write_passwd"], r"^\*[^*]+\*$")
        self.assertEqual((c["datadir"], c["skindir"], c["skinurl"], c["stylesheet"]),
                         ("data/other/", "skin/blue/", "skin/blue/", "s.css"))
        # Bounds: the system's attach_max and log_limit.
        self.assertEqual((c["page_ppnum"], c["attach_num"], c["log_max"], c["timelag_hh"]),
                         ("1", "5", "500", "24"))
        # The keys already there keep their place; new ones follow.
        self.assertEqual([k for k, _ in conf][:3], ["bbs_title", "datadir", "skindir"])
        self.assertTrue(resp.text.startswith("bbs|tech=|tech=|"), resp.text)
        self.assertIn('<input value="A &quot;quoted&quot; &lt;title&gt;">', resp.text)
        self.assertIn("amax=5|", resp.text)
        self.assertIn("pw=|mail=x@y", resp.text)
        self.assertFalse(os.path.exists(self.site.path("data/other/lockfile.lock")))

        # Saving again with the shown write password stores a code; the
        # board password is now checked against its hash.
        resp = self.config(write_passwd=c["write_passwd"])
        self.assertPage(resp, "bbs")
        self.assertRegex(dict(read_settings(self.site, "data/tech.conf"))["write_passwd"],
                         r"^\*\$[^*]+\*$")
        self.assertMessage(self.config(passwd="other"), "msg03")
        # A new board password from passwd2.
        self.config(passwd2="fresh")
        self.assertMessage(self.config(), "msg03")
        self.assertPage(self.config(passwd="fresh", skinurl="http://cdn.example.jp/s/"), "bbs")
        self.assertEqual(dict(read_settings(self.site, "data/tech.conf"))["skinurl"],
                         "http://cdn.example.jp/s/")

    def test_pages_by_mode(self):
        self.site.add_board("tech", passwd=BOARD_PW, bbs_title='T"<', ico_name1="<b>one",
                            ico_url2="two.gif", mode="x")
        self.assertPage(self.post({"bid": "tech"}), "bbs")
        resp = self.post({"bid": "tech", "mode": "icon"})
        self.assertEqual(resp.text, "ico|pw=|[0:::0][1:&lt;b&gt;one::1][2::two.gif:2]"
                                    "[3:::3]|end")
        self.assertPage(self.post({"bid": "tech", "mode": "kako"}), "old")
        self.assertMessage(self.post({"bid": "nosuch"}), "msg11")

    def test_submit_icon(self):
        resp = self.post({"submit_icon": "1", "bid": "tech", "passwd": BOARD_PW,
                          "ico_name0": " zero ", "ico_url0": " 0.gif", "ico_name3": "three",
                          "ico_name4": "beyond", "mode": "icon"})
        self.assertPage(resp, "bbs")
        c = dict(read_settings(self.site, "data/tech.conf"))
        self.assertEqual((c["ico_name0"], c["ico_url0"], c["ico_name3"], c["ico_url1"]),
                         ("zero", "0.gif", "three", ""))
        self.assertNotIn("ico_name4", c)
        resp = self.post({"bid": "tech", "mode": "icon"})
        self.assertIn("[0:zero:0.gif:0]", resp.text)
        # A refused save echoes the mode escaped in its return link.
        resp = self.post({"submit_icon": "1", "bid": "tech", "passwd": "bad",
                          "mode": '"><script>alert(1)</script>'})
        self.assertMessage(resp, "msg03")
        self.assertNotIn("<script>", resp.text)
        self.assertIn("&lt;script&gt;", resp.text)


class OldLogTest(AdminCase):
    """Board tech with page_ppnum 2 and four threads, newest first; the
    third thread has an attachment directory."""

    def setUp(self):
        super().setUp()
        self.site.add_board("tech", passwd=BOARD_PW, page_ppnum="2")
        self.threads = {
            "400": [record("410", "400", "400"), record("400")],
            "300": [record("310", "300", "300"), record("300")],
            "200": [record("220", "210", "200"), record("210", "200", "200"),
                    record("200", attach=[("a.png", "200")])],
            "100": [record("100")],
        }
        self.site.write_messages("data/tech", [r for t in ["400", "300", "200", "100"]
                                               for r in self.threads[t]])
        self.site.write("data/tech/200/a.png", b"png")

    def kako(self, opt, **fields):
        body = {"submit_kako": "1", "bid": "tech", "passwd": BOARD_PW, "opt": opt}
        body.update(fields)
        return self.post(body)

    def ids(self, rel):
        path = self.site.path(rel, "bbs-message.dat")
        with open(path, "rb") as f:
            return [l.split(b"\x1e")[0].decode() for l in f.read().split(b"\n") if l]

    def test_refusals(self):
        os.makedirs(self.site.path("data/tech/old/2005"))
        cases = [
            ({"passwd": ""}, "new", {"kako_id": "x"}, "msg01"),
            ({"passwd": "bad"}, "new", {"kako_id": "x"}, "msg03"),
            ({}, "new", {}, "msg50"),
            ({}, "new", {"kako_id": "2005"}, "msg52"),
            ({}, "new", {"kako_id": "../../x"}, "msg98"),
            ({}, "div", {"kako_id": "x"}, "msg51"),
            ({}, "div", {"sel_id": "2005"}, "msg50"),
            ({}, "div", {"sel_id": "2005", "kako_id": "2005"}, "msg52"),
            ({}, "mrg", {"sel_id2": "2005"}, "msg51"),
            ({}, "mrg", {"sel_id": "2005"}, "msg51"),
            ({}, "del", {}, "msg51"),
            ({}, "del", {"sel_id": "../.."}, "msg98"),
            ({}, "del", {"sel_id": ".."}, "msg98"),
            ({}, "mrg", {"sel_id": "2005", "sel_id2": "../../../data"}, "msg98"),
            ({}, "ren", {"sel_id": "2005"}, "msg50"),
            ({}, "ren", {"sel_id": "2005", "kako_id": "2005"}, "msg52"),
            ({}, "ren", {"sel_id": "2005", "kako_id": "a/b"}, "msg98"),
            ({}, "zip", {}, "msg53"),
        ]
        before = self.snapshot()
        for over, opt, fields, key in cases:
            with self.subTest(opt=opt, fields=fields):
                body = dict(fields, **over)
                self.assertMessage(self.kako(opt, **body), key)
                self.assertEqual(self.snapshot(), before)
        with HeldLock(self.site.path("data/tech/lockfile.lock")):
            self.assertMessage(self.kako("new", kako_id="x"), "msg90")

    def test_new_div_merge_rename_delete(self):
        resp = self.kako("new", kako_id="2005")
        self.assertPage(resp, "old")
        self.assertIn("total=4|", resp.text)
        self.assertEqual(self.ids("data/tech"), ["410", "400", "310", "300"])
        self.assertEqual(self.ids("data/tech/old/2005"), ["220", "210", "200", "100"])
        self.assertEqual(self.site.read("data/tech/old/2005/200/a.png"), b"png")
        self.assertFalse(os.path.exists(self.site.path("data/tech/200")))
        self.assertIn('<select name=sel_id>\n<option value="2005" >2005</option>\n</select>\n'
                      '|<select name=sel_id2>\n<option value="2005" >2005</option>\n',
                      resp.text)
        # Nothing beyond the first page: no change, no directory.
        self.assertPage(self.kako("new", kako_id="2006"), "old")
        self.assertFalse(os.path.exists(self.site.path("data/tech/old/2006")))

        # Split: the first half of the two threads (by file order, which is
        # by id descending in an old log) moves.
        self.assertPage(self.kako("div", sel_id="2005", kako_id="half"), "old")
        self.assertEqual(self.ids("data/tech/old/half"), ["220", "210", "200"])
        self.assertEqual(self.ids("data/tech/old/2005"), ["100"])
        self.assertTrue(os.path.isdir(self.site.path("data/tech/old/half/200")))
        # A log of one thread is not split.
        self.kako("div", sel_id="2005", kako_id="none")
        self.assertFalse(os.path.exists(self.site.path("data/tech/old/none")))

        # Merge into another log: the source goes, its attachments move.
        before = self.snapshot()
        self.assertPage(self.kako("mrg", sel_id="half", sel_id2="half"), "old")
        self.assertEqual(self.snapshot(), before)
        self.assertPage(self.kako("mrg", sel_id="half", sel_id2="2005"), "old")
        self.assertEqual(self.ids("data/tech/old/2005"), ["220", "210", "200", "100"])
        self.assertFalse(os.path.exists(self.site.path("data/tech/old/half")))
        self.assertEqual(self.site.read("data/tech/old/2005/200/a.png"), b"png")

        self.assertPage(self.kako("ren", sel_id="2005", kako_id="y2005"), "old")
        self.assertEqual(os.listdir(self.site.path("data/tech/old")), ["y2005"])
        self.assertPage(self.kako("del", sel_id="nosuch"), "old")
        self.assertPage(self.kako("del", sel_id="y2005", mode="kako"), "old")
        self.assertEqual(os.listdir(self.site.path("data/tech/old")), [])

    def test_failed_target_write_leaves_the_source(self):
        # "old" is a file, so neither the attachments nor the messages can
        # go there.
        self.site.write("data/tech/old", "not a directory")
        before = self.snapshot()
        self.assertMessage(self.kako("new", kako_id="2005"), "msg90")
        self.assertEqual(self.snapshot(), before)
        self.assertEqual(self.site.read("data/tech/200/a.png"), b"png")

    def test_failed_merge_keeps_both_logs(self):
        os.makedirs(self.site.path("data/tech/old/a/7"))
        os.makedirs(self.site.path("data/tech/old/b/7"))
        self.site.write_messages("data/tech/old/a", [record("7")])
        self.site.write_messages("data/tech/old/b", [record("7")])
        before = self.snapshot()
        self.assertMessage(self.kako("mrg", sel_id="a", sel_id2="b"), "msg90")
        self.assertEqual(self.snapshot(), before)
        # A target whose message file cannot be replaced.
        os.rmdir(self.site.path("data/tech/old/b/7"))
        os.unlink(self.site.path("data/tech/old/b/bbs-message.dat"))
        os.makedirs(self.site.path("data/tech/old/b/bbs-message.dat"))
        self.assertMessage(self.kako("mrg", sel_id="a", sel_id2="b"), "msg90")
        self.assertEqual(self.ids("data/tech/old/a"), ["7"])
        self.assertTrue(os.path.isdir(self.site.path("data/tech/old/a/7")))


@unittest.skipUnless(os.path.isfile(os.path.join(SITE_DIR, "skin", "config", "templ_login.html")),
                     "site templates not installed")
class RealTemplatesTest(unittest.TestCase):
    def test_pages_render_with_the_site_templates(self):
        site = Site(full=True)
        try:
            site.write("dat-system.dat", "admin=%s\nicon_max=2\n" % ADMIN)
            site.add_board("tech", passwd=BOARD_PW)
            run = lambda body: site.run(program="ruk-config", method="POST", body=body)
            for body in [{"submit_login": "1", "passwd": ADMIN},
                         {"bid": "tech"}, {"bid": "tech", "mode": "icon"},
                         {"bid": "tech", "mode": "kako"}]:
                with self.subTest(body):
                    resp = run(body)
                    self.assertEqual(resp.status, 0, resp.raw)
                    self.assertNotRegex(resp.text, r"%[A-Z_0-9]+%")
            resp = run({"submit_login": "1", "passwd": ADMIN})
            self.assertIn("admin_passwd", resp.text)
        finally:
            site.close()


if __name__ == "__main__":
    unittest.main()
