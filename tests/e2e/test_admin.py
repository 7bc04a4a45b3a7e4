"""The administration program run as a web server would: logins and
sessions, the refusals of forged and unauthenticated requests, passwords,
the system settings and the board registry, a board's settings and icons,
and the old-log operations, each with its refusals (by catalogue key) and
what it writes."""
import os
import re
import stat
import time
import unittest
import urllib.parse

from rukcgi import SITE_DIR, HeldLock, Site, record

KEYS = ["msg%02d" % i for i in range(1, 120)]
ADMIN = "secret"
BOARD_PW = "bpw"
HOST = "bbs.example.jp"
SAME_ORIGIN = {"HTTP_HOST": HOST, "HTTP_ORIGIN": "http://" + HOST}

TEMPLATES = {
    "skin/default/templ_info.html": "info|%MESSAGE%|%RETURN_CGI%",
    "skin/default/templ_bbs.html": "<html>bbs</html>",
    "skin/default/templ_ico.html": "<html>ico</html>",
    "skin/config/templ_login.html": "login|%PASSWD%|%PASSWD2%|%PASSWD%|bid=%BOARD_ID%|tok=%TOKEN%%NOTICE%",
    "skin/config/templ_config_sys.html":
        "sys|%SELECT_BBS%|%SELECT_F_MODE%|%SELECT_D_MODE%|pw=%PASSWD%|"
        '<input value="%BBS_TITLE%">|hdr=%USER_HEADER%|order=%NEW_ORDER_CHECKED%|'
        "max=%LOG_MAX%|%LOG_MAX%|send=%SENDMAIL%|from=%MAIL_FROM%|site=%SITE_URL%|"
        "def=%DEFAULT_PASSWD_STATE%|tok=%TOKEN%|note=%NOTICE%"
        "<!--ASK_DEL-->|ask=%ASK_TEXT%/%ASK_BBSID%/%ASK_DATA%<!--/ASK_DEL-->",
    "skin/config/templ_config_bbs.html":
        'bbs|%BID%|%BID%|<input value="%BBS_TITLE%">|dir=%DATADIR%|url=%SKINURL%|'
        "wp=%WRITE_PASSWD%|amax=%ATTACH_MAX%|mail=%MAIL_CHECKED%|pw=%PASSWD%|mail=%OWNER_MAIL%|"
        "cc=%CC_MAIL%|mess=%MESS_MAX%|gap=%POST_INTERVAL%|burst=%POST_BURST%|links=%LINK_MAX%|"
        "jp=%JAPANESE_CHECKED%|ng=%NGFILE%|arc=%ARCHIVE_CHECKED%|redir=%REDIRECT_CHECKED%|"
        "name=%ADMIN_NAME%|wps=%WRITE_PASSWD_STATE%|bps=%BOARD_PASSWD_STATE%|tok=%TOKEN%|"
        "note=%NOTICE%",
    "skin/config/templ_config_ico.html":
        "ico|pw=%PASSWD%|<!--TR_ICON-->[%No%:%NAME%:%URL%:%No%]<!--/TR_ICON-->|tok=%TOKEN%|end"
        "%NOTICE%",
    "skin/config/templ_config_old.html":
        "old|total=%TOTAL%|%SELECT_LOG%|%SELECT_LOG2%|tok=%TOKEN%|note=%NOTICE%"
        "<!--ASK_DEL-->|ask=%ASK_TEXT%/%ASK_LOG%<!--/ASK_DEL-->",
    "skin/config/templ_config_mod.html":
        "mod|<!--LIST-->p=%PAGE_NO%/%PAGE_COUNT%/%TOTAL%|<!--TR_POST-->[%ID%|%DATE%|%KIND%|"
        "%NAME%|%TITLE%|%EXCERPT%|%REMOTE%]<!--/TR_POST-->|<!--PREV-->prev=%PREV_PAGE%|"
        "<!--/PREV--><!--NEXT-->next=%NEXT_PAGE%|<!--/NEXT--><!--/LIST--><!--EMPTY-->empty|"
        "<!--/EMPTY--><!--DENY_FILE-->deny=%DENY_FILE%:%DENY_COUNT%|<!--/DENY_FILE-->"
        "<!--NO_DENY_FILE-->nodeny|<!--/NO_DENY_FILE-->tok=%TOKEN%|note=%NOTICE%",
}

# Every action, with a body that would change something when accepted.
ACTIONS = [
    ("submit_sys", {"bbs_title": "changed"}),
    ("submit_add", {"bbsid": "new1", "passwd": "n", "passwd2": "n", "datadir_make": "1"}),
    ("submit_del", {"bbsid": "tech", "datadir_del": "1", "confirm": "1"}),
    ("submit_passwd", {"passwd": ADMIN, "passwd_new": "x", "passwd_new2": "x"}),
    ("submit_config", {"bid": "tech", "datadir": "data/tech", "skindir": "skin/default",
                       "bbs_title": "changed"}),
    ("submit_icon", {"bid": "tech", "ico_name1": "changed"}),
    ("submit_kako", {"bid": "tech", "opt": "new", "kako_id": "k1"}),
    ("submit_moddel", {"bid": "tech", "del_3": "1", "del_1": "1"}),
    ("submit_deny", {"bid": "tech", "deny_entry": "192.0.2.66"}),
    ("submit_logout", {}),
    ("submit_login", {"passwd": ADMIN}),
]

# Every page.
PAGES = ["", "submit_read=1", "bid=tech", "bid=tech&mode=icon", "bid=tech&mode=kako",
         "bid=tech&mode=mod"]


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


def token_of(resp):
    m = re.search(r"tok=([0-9a-f]*)", resp.text)
    return m.group(1) if m else ""


def cookies_of(resp):
    """name -> (value, attributes) of the Set-Cookie lines."""
    out = {}
    for line in resp.header("Set-Cookie"):
        first, _, attrs = line.partition(";")
        name, _, value = first.partition("=")
        out[name.strip()] = (value, attrs)
    return out


class Login:
    """A browser's login: its session cookie and its form token."""

    def __init__(self, cookie, token):
        self.cookie = cookie
        self.token = token


class AdminCase(unittest.TestCase):
    def setUp(self):
        self.site = Site(full=False)
        # Every catalogue text names its key, so a page shows which check ran.
        self.site.write("dat-message.dat", "".join("%s=[%s]\n" % (k, k) for k in KEYS))
        for rel, text in TEMPLATES.items():
            self.site.write(rel, text)
        self.system = {"admin": ADMIN, "opt_trace": "0", "passwd": "defpw",
                       "bbs_title": "Sys Title", "attach_max": "5", "log_limit": "500",
                       "icon_max": "3", "page_ppnum": "10", "log_max": "100",
                       "sendmail": "/usr/sbin/sendmail-mailcmd"}
        self.site.write_system(self.system)

    def tearDown(self):
        self.site.close()

    # --- requests as a browser sends them

    def get(self, query="", login=None, env=None):
        e = dict(SAME_ORIGIN)
        e.pop("HTTP_ORIGIN")
        if login:
            e["HTTP_COOKIE"] = "ruk_session=" + login.cookie
        e.update(env or {})
        return self.site.run(program="ruk-config", query=query, env=e)

    def post(self, body, login=None, env=None, token=True):
        """A POST from the site's own page; with a login, its cookie and
        (unless token is False) its form token."""
        e = dict(SAME_ORIGIN)
        body = dict(body)
        if login:
            e["HTTP_COOKIE"] = "ruk_session=" + login.cookie
            if token:
                body.setdefault("token", login.token)
        e.update(env or {})
        return self.site.run(program="ruk-config", method="POST", body=body, env=e)

    def login(self, passwd=ADMIN, bid=None, env=None):
        """Opens the login page and logs in; returns the Login or the
        refusing response."""
        page = self.get("bid=%s" % bid if bid else "")
        value, _ = cookies_of(page)["ruk_login"]
        body = {"submit_login": "1", "passwd": passwd, "token": token_of(page)}
        if bid:
            body["bid"] = bid
        e = {"HTTP_COOKIE": "ruk_login=" + value}
        e.update(env or {})
        resp = self.post(body, env=e)
        cookies = cookies_of(resp)
        if "ruk_session" not in cookies:
            return resp
        return Login(cookies["ruk_session"][0], token_of(resp))

    def admin(self):
        login = self.login()
        self.assertIsInstance(login, Login)
        return login

    # --- checks

    def assertMessage(self, resp, key):
        self.assertEqual(resp.status, 1, resp.raw)
        self.assertTrue(resp.text.startswith("info|[%s]|" % key), resp.text)

    def assertPage(self, resp, name):
        self.assertEqual(resp.status, 0, resp.raw)
        self.assertEqual(resp.header("Content-type"), ["text/html"], resp.raw)
        self.assertTrue(resp.text.startswith(name + "|"), resp.text)

    def assertPrivate(self, resp):
        self.assertIn("X-Frame-Options: DENY", resp.headers)
        self.assertIn("Cache-Control: no-store", resp.headers)

    def snapshot(self):
        """Every file below the site with its bytes (lock, session and
        throttle files aside)."""
        return self.site.snapshot(skip=lambda n: n.endswith(".lock") or
                                  n in ("dat-session.dat", "dat-throttle.dat"))

    def sessions(self):
        """The lines of the session file, split into fields."""
        path = self.site.path("dat-session.dat")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [l.split() for l in f.read().splitlines() if l]

    def write_sessions(self, rows):
        with open(self.site.path("dat-session.dat"), "w") as f:
            f.write("".join(" ".join(r) + "\n" for r in rows))


class LoginTest(AdminCase):
    def setUp(self):
        super().setUp()
        self.site.add_board("tech", passwd=BOARD_PW, owner_mail="owner@example.jp",
                            cc_mail="cc@example.jp", write_passwd="*wpcode*")
        self.site.add_board("other", passwd="opw")

    def test_nothing_private_without_a_login(self):
        secrets = ["owner@example.jp", "cc@example.jp", "data/tech", "sendmail-mailcmd",
                   "*wpcode*", BOARD_PW, ADMIN, "defpw"]
        before = self.snapshot()
        for query in PAGES:
            for cookie in [None, "ruk_session=" + "0" * 64, "ruk_session=../x"]:
                with self.subTest(query=query, cookie=cookie):
                    resp = self.get(query, env={"HTTP_COOKIE": cookie} if cookie else None)
                    self.assertPage(resp, "login")
                    self.assertPrivate(resp)
                    for s in secrets:
                        self.assertNotIn(s, resp.text)
        for button, fields in ACTIONS[:-1]:
            with self.subTest(button):
                resp = self.post(dict(fields, **{button: "1"}))
                self.assertMessage(resp, "msg68")
                self.assertPrivate(resp)
        self.assertEqual(self.snapshot(), before)

    def test_login_page_keeps_the_board_id_and_no_password(self):
        resp = self.get("bid=tech")
        self.assertTrue(resp.text.startswith("login||||bid=tech|tok="), resp.text)
        value, attrs = cookies_of(resp)["ruk_login"]
        self.assertEqual(token_of(resp), value)
        self.assertRegex(value, r"^[0-9a-f]{64}$")
        # A second page keeps the browser's token.
        again = self.get("", env={"HTTP_COOKIE": "ruk_login=" + value})
        self.assertEqual(token_of(again), value)
        self.assertNotIn("ruk_login", cookies_of(again))

    def test_admin_login_and_its_cookie(self):
        cases = [
            ({}, "; Path=/cgi-bin/; HttpOnly; SameSite=Strict"),
            ({"HTTPS": "on"}, "; Path=/cgi-bin/; HttpOnly; SameSite=Strict; Secure"),
            ({"REQUEST_SCHEME": "https"}, "; Path=/cgi-bin/; HttpOnly; SameSite=Strict; Secure"),
            ({"SCRIPT_NAME": "/bbs/admin/ruk-config.cgi"},
             "; Path=/bbs/admin/; HttpOnly; SameSite=Strict"),
        ]
        for env, attrs in cases:
            with self.subTest(env):
                page = self.get("", env=env)
                value, _ = cookies_of(page)["ruk_login"]
                e = dict(env, HTTP_COOKIE="ruk_login=" + value)
                resp = self.post({"submit_login": "1", "passwd": ADMIN,
                                  "token": token_of(page)}, env=e)
                self.assertPage(resp, "sys")
                self.assertPrivate(resp)
                cookies = cookies_of(resp)
                token, got = cookies["ruk_session"]
                self.assertRegex(token, r"^[0-9a-f]{64}$")
                self.assertEqual(";" + got, attrs)
                self.assertIn("Max-Age=0", cookies["ruk_login"][1])
                # The server keeps the session's hash only.
                with open(self.site.path("dat-session.dat")) as f:
                    self.assertNotIn(token, f.read())
                self.assertEqual(stat.S_IMODE(os.stat(self.site.path("dat-session.dat")).st_mode),
                                 0o600)
                self.assertNotEqual(token_of(resp), token)

    def test_login_refusals(self):
        page = self.get("")
        value, _ = cookies_of(page)["ruk_login"]
        good = {"submit_login": "1", "passwd": ADMIN, "token": token_of(page)}
        cookie = {"HTTP_COOKIE": "ruk_login=" + value}
        cases = [
            ("no cookie", good, {}, "msg64"),
            ("no token", dict(good, token=""), cookie, "msg64"),
            ("other token", dict(good, token="1" * 64), cookie, "msg64"),
            ("foreign origin", good, dict(cookie, HTTP_ORIGIN="http://evil.example"), "msg64"),
            ("empty password", dict(good, passwd=""), cookie, "msg01"),
            ("wrong password", dict(good, passwd="nope"), cookie, "msg03"),
            ("board password", dict(good, passwd=BOARD_PW), cookie, "msg03"),
            ("unknown board", dict(good, bid="nosuch"), cookie, "msg11"),
            ("other board's password", dict(good, bid="tech", passwd="opw"), cookie, "msg03"),
        ]
        for label, body, env, key in cases:
            with self.subTest(label):
                resp = self.post(body, env=env)
                self.assertMessage(resp, key)
                self.assertNotIn("ruk_session", cookies_of(resp))
        self.assertEqual(self.sessions(), [])
        # A login sent by GET is refused too.
        query = urllib.parse.urlencode(good)
        self.assertMessage(self.get(query, env=cookie), "msg64")

    def test_plain_stored_password_becomes_a_code_at_login(self):
        for passwd, bid, rel, key in [(ADMIN, None, "dat-system.dat", "admin"),
                                      (BOARD_PW, "tech", "data/tech.conf", "passwd")]:
            with self.subTest(rel):
                self.assertIsInstance(self.login(passwd, bid), Login)
                stored = dict(read_settings(self.site, rel))[key]
                self.assertNotEqual(stored, passwd)
                self.assertNotIn(passwd, stored)
                self.assertIsInstance(self.login(passwd, bid), Login)
                self.assertNotIsInstance(self.login(passwd + "x", bid), Login)
        # The other settings are kept.
        self.assertEqual(dict(read_settings(self.site, "dat-system.dat"))["sendmail"],
                         "/usr/sbin/sendmail-mailcmd")
        self.assertEqual(dict(read_settings(self.site, "data/tech.conf"))["owner_mail"],
                         "owner@example.jp")

    def test_board_login_opens_that_board_only(self):
        board = self.login(BOARD_PW, "tech")
        self.assertIsInstance(board, Login)
        resp = self.get("", login=board)
        self.assertPage(resp, "bbs")
        self.assertIn("mail=owner@example.jp", resp.text)
        for query in ["bid=tech&mode=icon", "bid=tech&mode=kako"]:
            self.assertFalse(self.get(query, login=board).text.startswith("login|"))
        for query in ["submit_read=1", "bid=other", "bid=other&mode=kako"]:
            with self.subTest(query):
                resp = self.get(query, login=board)
                self.assertPage(resp, "login")
                self.assertNotIn("sendmail-mailcmd", resp.text)
        before = self.snapshot()
        for button, fields in ACTIONS[:3]:
            with self.subTest(button):
                self.assertMessage(self.post(dict(fields, **{button: "1"}), login=board), "msg68")
        self.assertMessage(self.post({"submit_config": "1", "bid": "other", "datadir": "data/other",
                                      "skindir": "skin/default", "bbs_title": "x"},
                                     login=board), "msg68")
        self.assertMessage(self.post({"submit_passwd": "1", "passwd": BOARD_PW,
                                      "passwd_new": "x", "passwd_new2": "x"}, login=board),
                           "msg68")
        self.assertEqual(self.snapshot(), before)

    def test_logout_ends_the_session(self):
        login = self.admin()
        other = self.admin()
        resp = self.post({"submit_logout": "1"}, login=login)
        self.assertPage(resp, "login")
        self.assertIn("Max-Age=0", cookies_of(resp)["ruk_session"][1])
        self.assertPage(self.get("submit_read=1", login=login), "login")
        self.assertMessage(self.post({"submit_sys": "1"}, login=login), "msg68")
        self.assertPage(self.get("submit_read=1", login=other), "sys")
        self.assertEqual(len(self.sessions()), 1)

    def test_sessions_expire(self):
        login = self.admin()
        (row,) = self.sessions()
        now = int(time.time())
        cases = [
            ("idle under 2 hours", now - 7000, now - 7000, "sys"),
            ("idle over 2 hours", now - 7300, now - 7300, "login"),
            ("logged in 13 hours ago", now - 60, now - 13 * 3600, "login"),
            ("from the future", now + 3 * 3600, now, "login"),
        ]
        for label, last, created, page in cases:
            with self.subTest(label):
                self.write_sessions([[str(last), str(created)] + row[2:]])
                self.assertPage(self.get("submit_read=1", login=login), page)
        # A request notes itself; ended sessions are dropped when the file
        # is written.
        self.write_sessions([[str(now - 600), str(now - 600)] + row[2:],
                             [str(now - 9000), str(now - 9000), "*", "a" * 64, "$5$x"],
                             ["garbage"]])
        self.assertPage(self.get("submit_read=1", login=login), "sys")
        (kept,) = self.sessions()
        self.assertGreaterEqual(int(kept[0]), now)
        self.assertEqual(kept[1:], [str(now - 600)] + row[2:])

    def test_password_guessing_is_held_off(self):
        for i in range(10):
            resp = self.login("wrong%d" % i)
            self.assertMessage(resp, "msg03")
        for passwd, bid in [(ADMIN, None), (BOARD_PW, "tech")]:
            resp = self.login(passwd, bid)
            self.assertMessage(resp, "msg65")
        # Another client is not held off.
        self.assertIsInstance(self.login(env={"REMOTE_ADDR": "192.0.2.99"}), Login)

    def test_dispatch_order_and_bad_board_ids(self):
        page = self.get("")
        value, _ = cookies_of(page)["ruk_login"]
        resp = self.post({"submit_login": "1", "passwd": ADMIN, "token": token_of(page),
                          "submit_sys": "1", "bbs_title": "changed"},
                         env={"HTTP_COOKIE": "ruk_login=" + value})
        self.assertPage(resp, "sys")
        self.assertEqual(dict(read_settings(self.site, "dat-system.dat"))["bbs_title"],
                         "Sys Title")
        for bid in ["../x", "a/b", "tech=../../x", "<script>"]:
            with self.subTest(bid):
                resp = self.post({"bid": bid})
                self.assertMessage(resp, "msg11")
                self.assertNotIn("<script>", resp.text)


class ForgeryTest(AdminCase):
    """Every action of a logged-in administrator, sent as another site or
    a link would send it, changes nothing."""

    def setUp(self):
        super().setUp()
        self.site.add_board("tech", passwd=BOARD_PW)
        self.site.write_messages("data/tech", [record("3"), record("2"), record("1")])

    def test_forged_actions_change_nothing(self):
        login = self.admin()
        before = self.snapshot()
        sessions = self.sessions()
        forgeries = [
            ("GET", lambda b: self.get(urllib.parse.urlencode(dict(b, token=login.token)),
                                       login=login)),
            ("foreign origin", lambda b: self.post(b, login=login,
                                                   env={"HTTP_ORIGIN": "https://evil.example"})),
            ("null origin", lambda b: self.post(b, login=login, env={"HTTP_ORIGIN": "null"})),
            ("foreign referer", lambda b: self.post(b, login=login, env={
                "HTTP_ORIGIN": "", "HTTP_REFERER": "http://evil.example/x.html"})),
            ("no token", lambda b: self.post(b, login=login, token=False)),
            ("other token", lambda b: self.post(dict(b, token="f" * 64), login=login)),
            ("token as cookie value", lambda b: self.post(dict(b, token=login.cookie),
                                                          login=login)),
        ]
        for label, send in forgeries:
            for button, fields in ACTIONS:
                if button == "submit_login":
                    continue
                with self.subTest(label=label, action=button):
                    self.assertMessage(send(dict(fields, **{button: "1"})), "msg64")
                    self.assertEqual(self.snapshot(), before)
        self.assertEqual([r[2:] for r in self.sessions()], [r[2:] for r in sessions])
        # The same requests from the site's own pages are accepted.
        self.assertPage(self.post({"submit_icon": "1", "bid": "tech", "ico_name1": "x"},
                                  login=login), "ico")

    def test_token_of_one_session_does_not_serve_another(self):
        one = self.admin()
        two = self.admin()
        resp = self.post({"submit_sys": "1", "bbs_title": "x", "token": two.token}, login=one)
        self.assertMessage(resp, "msg64")


class PasswordTest(AdminCase):
    def setUp(self):
        super().setUp()
        self.site.add_board("tech", passwd=BOARD_PW)

    def change(self, login, current, new, new2=None, bid=None):
        body = {"submit_passwd": "1", "passwd": current, "passwd_new": new,
                "passwd_new2": new if new2 is None else new2}
        if bid:
            body["bid"] = bid
        return self.post(body, login=login)

    def test_refusals_write_nothing(self):
        login = self.admin()
        cases = [
            (("", "n"), "msg01"),
            ((ADMIN, ""), "msg02"),
            ((ADMIN, "n", "m"), "msg69"),
            (("wrong", "n"), "msg03"),
            ((BOARD_PW, "n"), "msg03"),
        ]
        before = self.snapshot()
        for args, key in cases:
            with self.subTest(args):
                self.assertMessage(self.change(login, *args), key)
                self.assertEqual(self.snapshot(), before)
        self.assertPage(self.get("submit_read=1", login=login), "sys")

    def test_admin_password_change_ends_every_admin_session(self):
        login = self.admin()
        other = self.admin()
        board = self.login(BOARD_PW, "tech")
        new = "*ab*cd"
        resp = self.change(login, ADMIN, new)
        self.assertPage(resp, "sys")
        stored = dict(read_settings(self.site, "dat-system.dat"))["admin"]
        self.assertNotIn(stored, (new, "*ab*", ADMIN))
        # The changer goes on under a new session; the others are over.
        renewed = Login(cookies_of(resp)["ruk_session"][0], token_of(resp))
        self.assertNotEqual(renewed.cookie, login.cookie)
        self.assertPage(self.get("submit_read=1", login=renewed), "sys")
        for gone in [login, other]:
            self.assertPage(self.get("submit_read=1", login=gone), "login")
        self.assertPage(self.get("bid=tech", login=board), "bbs")
        self.assertNotIsInstance(self.login(ADMIN), Login)
        self.assertIsInstance(self.login(new), Login)

    def test_board_password_change(self):
        board = self.login(BOARD_PW, "tech")
        board2 = self.login(BOARD_PW, "tech")
        admin = self.admin()
        # By the board's session: the current password is the board's.
        self.assertMessage(self.change(board, ADMIN, "b2", bid="tech"), "msg03")
        resp = self.change(board, BOARD_PW, "b2", bid="tech")
        self.assertPage(resp, "bbs")
        self.assertPage(self.get("bid=tech", login=board2), "login")
        self.assertPage(self.get("submit_read=1", login=admin), "sys")
        self.assertIsInstance(self.login("b2", "tech"), Login)
        # By the administrator's: the current password is the
        # administrator's, and the administrator stays logged in.
        self.assertMessage(self.change(admin, "b2", "b3", bid="tech"), "msg03")
        resp = self.change(admin, ADMIN, "b3", bid="tech")
        self.assertPage(resp, "bbs")
        self.assertNotIn("ruk_session", cookies_of(resp))
        self.assertPage(self.get("submit_read=1", login=admin), "sys")
        self.assertNotIsInstance(self.login("b2", "tech"), Login)
        self.assertIsInstance(self.login("b3", "tech"), Login)
        stored = dict(read_settings(self.site, "data/tech.conf"))["passwd"]
        self.assertNotIn("b3", stored)


class SystemTest(AdminCase):
    def test_submit_sys_clamps_and_keeps_other_keys(self):
        login = self.admin()
        form = {"submit_sys": "1", "fmode666": "644",
                "fmode777": "", "sendmail": "  /usr/sbin/sendmail  ", "passwd": " newpw ",
                "passwd2": " newpw ",
                "icon_max": "0", "attach_max": "0", "log_limit": "300",
                "page_ppnum": "-3", "page_ppnum2": "abc", "attach_num": "9",
                "attach_size": "0", "embed_size": "20", "log_max": "999",
                "new_time": "-1", "timelag_hh": "-30", "timelag_mm": "75",
                "bbs_title": 'Say "hi" <b>', "user_header": "<h1>x</h1>",
                "user_footer": "", "new_order": "1", "use_icon": "1",
                "mail_from": " bbs@example.jp ", "site_url": "https://bbs.example.jp:8443/bbs"}
        resp = self.post(form, login=login)
        self.assertPage(resp, "sys")
        stored = read_settings(self.site, "dat-system.dat")
        s = dict(stored)
        expect = {"fmode666": "644", "fmode777": "", "sendmail": "/usr/sbin/sendmail",
                  "icon_max": "1", "attach_max": "1", "log_limit": "300",
                  "page_ppnum": "1", "page_ppnum2": "1", "attach_num": "1",
                  "attach_size": "1", "embed_size": "20", "log_max": "300", "new_time": "0",
                  "timelag_hh": "-24", "timelag_mm": "60", "bbs_title": 'Say "hi" <b>',
                  "user_header": "<h1>x</h1>", "new_order": "1", "use_attach": "",
                  "use_icon": "1", "opt_trace": "0", "mail_from": "bbs@example.jp",
                  "site_url": "https://bbs.example.jp:8443/bbs/"}
        for k, v in expect.items():
            self.assertEqual(s.get(k), v, k)
        # The default board password is stored as a code, never shown.
        self.assertNotIn("newpw", s["passwd"])
        self.assertIn("pw=|", resp.text)
        # The keys that were there keep their place.
        self.assertEqual([k for k, _ in stored][:3], ["admin", "opt_trace", "passwd"])
        # Values go into the page escaped; the new file mode is selected.
        self.assertIn('<input value="Say &quot;hi&quot; &lt;b&gt;">', resp.text)
        self.assertIn("hdr=&lt;h1&gt;x&lt;/h1&gt;", resp.text)
        self.assertIn('<select id="sys_fmode" name=fmode666>\n<option value=666>666（', resp.text)
        self.assertIn("order=checked", resp.text)
        self.assertIn("max=300|%LOG_MAX%", resp.text)
        # An empty default password and a malformed mode keep the stored values.
        code = s["passwd"]
        self.post({"submit_sys": "1", "passwd": "", "fmode666": "9x9", "bbs_title": "t"},
                  login=login)
        s = dict(read_settings(self.site, "dat-system.dat"))
        self.assertEqual((s["passwd"], s["fmode666"]), (code, "644"))

    def test_submit_sys_refusals_write_nothing(self):
        login = self.admin()
        cases = [
            ({"passwd": "a", "passwd2": "b"}, "msg69"),
            ({"passwd": "a"}, "msg69"),
            ({"site_url": "ftp://bbs.example.jp/"}, "msg80"),
            ({"site_url": "bbs.example.jp/bbs/"}, "msg80"),
            ({"site_url": "https://user:pw@bbs.example.jp/"}, "msg80"),
            ({"site_url": "https://bbs.example.jp/bbs/?x=1"}, "msg80"),
            ({"site_url": "https://bbs.example.jp/bbs/#top"}, "msg80"),
            ({"site_url": 'https://bbs.example.jp/"><script>'}, "msg80"),
            ({"site_url": "https://bbs.example.jp:99999/"}, "msg80"),
            ({"site_url": "https:///bbs/"}, "msg80"),
            ({"site_url": "javascript:alert(1)"}, "msg80"),
            ({"mail_from": "a@example.jp, b@example.jp"}, "msg81"),
            ({"mail_from": "a@example.jp\r\nBcc: b@example.jp"}, "msg81"),
            ({"mail_from": "Admin <a@example.jp>"}, "msg81"),
            ({"mail_from": "nobody"}, "msg81"),
        ]
        before = self.snapshot()
        for fields, key in cases:
            with self.subTest(fields):
                resp = self.post(dict(fields, submit_sys="1", bbs_title="t"), login=login)
                self.assertMessage(resp, key)
                self.assertEqual(self.snapshot(), before)

    def test_system_page_shows_no_password(self):
        login = self.admin()
        resp = self.get("submit_read=1", login=login)
        self.assertPage(resp, "sys")
        self.assertPrivate(resp)
        self.assertIn("pw=|", resp.text)
        self.assertNotIn("defpw", resp.text)
        self.assertNotIn(ADMIN, resp.text)
        self.assertIn("send=/usr/sbin/sendmail-mailcmd|", resp.text)
        self.assertIn('<option value=666 selected>666（すべて読み書き可）</option>', resp.text)
        self.assertIn('<option value=777 selected>777（すべて読み書き可）</option>', resp.text)
        self.assertEqual(token_of(resp), login.token)

    def test_board_list(self):
        login = self.admin()
        self.site.write("data/foo.conf", "")
        self.site.write("data/foo.ng", "")
        self.site.write("data/bare", "")
        self.site.write("data/lockfile.lock", "")
        os.makedirs(self.site.path("data/foo"), exist_ok=True)
        resp = self.get("submit_read=1", login=login)
        self.assertIn('<select name=bid>\n<option value="foo" >foo</option>\n</select>\n',
                      resp.text)

    def add(self, login, bbsid="news", **fields):
        body = {"submit_add": "1", "bbsid": bbsid, "passwd": "newpw", "passwd2": "newpw",
                "datadir_make": "1"}
        body.update(fields)
        return self.post({k: v for k, v in body.items() if v is not None}, login=login)

    def test_add_board(self):
        self.site.write_system(dict(self.system, fmode666="640", fmode777="750"))
        login = self.admin()
        resp = self.add(login)
        self.assertPage(resp, "sys")
        self.assertIn('<option value="news" selected>news</option>', resp.text)
        conf = read_settings(self.site, "data/news.conf")
        self.assertEqual([k for k, _ in conf], [
            "passwd", "owner_mail", "use_mail", "bbs_title", "datadir", "skindir", "skinurl",
            "stylesheet", "new_image", "new_time", "timelag_hh", "timelag_mm", "user_header",
            "user_footer", "home_url", "page_ppnum", "page_ppnum2", "new_order", "attach_num",
            "attach_size", "embed_size", "use_attach", "attach_embed", "use_icon", "log_max",
            "log_del", "denyfile", "mess_max", "post_interval", "post_burst", "need_japanese",
            "link_max", "ngfile", "log_archive", "post_redirect", "admin_name"])
        c = dict(conf)
        self.assertEqual((c["bbs_title"], c["datadir"], c["skindir"], c["skinurl"],
                          c["page_ppnum"], c["log_max"], c["denyfile"]),
                         ("Sys Title", "data/news/", "skin/default/", "skin/default/", "10",
                          "100", "ruk-deny.cgi"))
        self.assertEqual((c["attach_size"], c["embed_size"], c["mess_max"], c["post_interval"],
                          c["post_burst"], c["need_japanese"], c["link_max"], c["ngfile"],
                          c["log_archive"], c["post_redirect"], c["admin_name"]),
                         ("10240", "10240", "10000", "20", "10", "1", "3", "data/news.ng",
                          "1", "1", ""))
        self.assertNotIn("newpw", c["passwd"])
        self.assertEqual(self.site.read("data/news.ng"), b"")
        self.assertEqual(stat.S_IMODE(os.stat(self.site.path("data/news.conf")).st_mode), 0o640)
        self.assertTrue(os.path.isdir(self.site.path("data/news")))
        self.assertEqual(stat.S_IMODE(os.stat(self.site.path("data/news")).st_mode), 0o750)
        # The new board's password opens it.
        self.assertIsInstance(self.login("newpw", "news"), Login)
        # A login to an earlier board of the same id, whose settings were
        # removed by hand, does not open a new one.
        old = self.login("newpw", "news")
        os.unlink(self.site.path("data/news.conf"))
        self.assertPage(self.add(login, datadir_make=None), "sys")
        self.assertPage(self.get("bid=news", login=old), "login")

        cases = [("news", {}, "msg04"), ("", {}, "msg05"), ("../x", {}, "msg98"),
                 ("a b", {}, "msg98"), ("x/../../y", {}, "msg98"),
                 ("two", {"passwd2": "other"}, "msg69"), ("two", {"passwd2": ""}, "msg69")]
        before = self.snapshot()
        for bbsid, fields, key in cases:
            with self.subTest(bbsid=bbsid, fields=fields):
                self.assertMessage(self.add(login, bbsid, **fields), key)
                self.assertEqual(self.snapshot(), before)
        # An empty settings file does not count as a board.
        self.site.write("data/empty.conf", "")
        self.assertPage(self.add(login, "empty", datadir_make=None), "sys")
        self.assertEqual(dict(read_settings(self.site, "data/empty.conf"))["datadir"], "")

    def test_new_board_password_left_empty(self):
        # With a default board password the board gets its code; a plain
        # default of an older installation is stored as a code.
        login = self.admin()
        self.assertPage(self.add(login, "one", passwd="", passwd2=""), "sys")
        code = dict(read_settings(self.site, "data/one.conf"))["passwd"]
        self.assertNotEqual(code, "defpw")
        self.assertIsInstance(self.login("defpw", "one"), Login)
        # A fresh installation has none: the board password must be typed.
        self.site.write_system(dict(self.system, passwd=""))
        before = self.snapshot()
        self.assertMessage(self.add(login, "two", passwd="", passwd2=""), "msg01")
        self.assertEqual(self.snapshot(), before)
        # Typed, it opens the board, and the administrator saves the board
        # without knowing it.
        self.assertPage(self.add(login, "two", passwd="tpw", passwd2="tpw"), "sys")
        self.assertIsInstance(self.login("tpw", "two"), Login)
        resp = self.post({"submit_config": "1", "bid": "two", "datadir": "data/two",
                          "skindir": "skin/default", "bbs_title": "Two"}, login=login)
        self.assertPage(resp, "bbs")

    def test_delete_board(self):
        login = self.admin()
        self.site.add_board("keep", passwd="kpw")
        self.site.add_board("gone")
        self.site.write("data/gone/bbs-message.dat", record("1"))
        self.site.write("data/gone/1/a.png", b"x")
        keeper = self.login("kpw", "keep")
        self.assertPage(self.post({"submit_del": "1", "bbsid": "keep", "confirm": "1"},
                                  login=login), "sys")
        self.assertFalse(os.path.exists(self.site.path("data/keep.conf")))
        self.assertTrue(os.path.isdir(self.site.path("data/keep")))
        # The removed board's sessions are over.
        self.assertPage(self.get("bid=keep", login=keeper), "login")
        self.post({"submit_del": "1", "bbsid": "gone", "datadir_del": "1", "confirm": "1"},
                  login=login)
        self.assertEqual(sorted(os.listdir(self.site.path("data"))), ["keep"])
        for bbsid, key in [("gone", "msg11"), ("../x", "msg98"), (None, "msg05")]:
            body = {"submit_del": "1"}
            if bbsid is not None:
                body["bbsid"] = bbsid
            self.assertMessage(self.post(body, login=login), key)

    def test_delete_removes_nothing_outside_its_own_data(self):
        login = self.admin()
        parent = os.path.dirname(self.site.dir)
        os.makedirs(self.site.path("skin/mine"))
        os.makedirs(self.site.path("outside/x"))
        self.site.add_board("tech", datadir="data/tech/")
        os.makedirs(self.site.path("data/shared/inner"))
        self.site.add_board("user", datadir="data/shared/inner/")
        os.symlink(self.site.path("outside"), self.site.path("data/link-out"))
        os.symlink(self.site.path("data/tech"), self.site.path("data/link-tech"))
        cases = [".", "./", "..", self.site.dir, parent, "/", "/etc", "data", "data/..",
                 "skin", "data/../skin/..", "skin/config", "outside", "../x",
                 "data/../outside", "data/tech", "data/tech/", "data/tech/sub", "data/shared",
                 "data/link-out", "data/link-tech", self.site.path("data/tech")]
        os.makedirs(self.site.path("data/tech/sub"))
        for datadir in cases:
            with self.subTest(datadir):
                self.site.add_board("evil", datadir=datadir)
                conf = self.site.read("data/evil.conf")
                before = self.snapshot()
                resp = self.post({"submit_del": "1", "bbsid": "evil", "datadir_del": "1",
                                  "confirm": "1"},
                                 login=login)
                self.assertMessage(resp, "msg10")
                self.assertEqual(self.snapshot(), before)
                self.assertEqual(self.site.read("data/evil.conf"), conf)
        # Its own directory, also named through a link inside data/, goes.
        os.makedirs(self.site.path("data/real"))
        os.symlink(self.site.path("data/real"), self.site.path("data/alias"))
        self.site.add_board("evil", datadir="data/alias/")
        self.site.write("data/real/bbs-message.dat", record("1"))
        self.assertPage(self.post({"submit_del": "1", "bbsid": "evil", "datadir_del": "1",
                                   "confirm": "1"},
                                  login=login), "sys")
        self.assertFalse(os.path.exists(self.site.path("data/real")))
        # Without its data a board whose data lies elsewhere is removed.
        self.site.add_board("evil", datadir="/etc/")
        self.assertPage(self.post({"submit_del": "1", "bbsid": "evil", "confirm": "1"},
                                  login=login), "sys")
        self.assertFalse(os.path.exists(self.site.path("data/evil.conf")))
        self.assertTrue(os.path.isdir(self.site.path("outside/x")))
        self.assertTrue(os.path.isdir(self.site.path("data/tech/sub")))


class BoardTest(AdminCase):
    def setUp(self):
        super().setUp()
        self.site.add_board("tech", passwd=BOARD_PW, skindir="skin/default/",
                            owner_mail="o@example.jp", write_passwd="")
        os.makedirs(self.site.path("skin/blue"))
        for name in ["templ_bbs.html", "templ_ico.html", "templ_info.html"]:
            self.site.write("skin/blue/" + name, TEMPLATES["skin/default/" + name])
        os.makedirs(self.site.path("data/other"))
        self.login_ = self.admin()

    def config(self, login=None, **fields):
        body = {"submit_config": "1", "bid": "tech",
                "datadir": "data/other", "skindir": "skin/blue", "skinurl": "",
                "bbs_title": "New Title", "page_ppnum": "0", "attach_num": "9",
                "log_max": "9999", "timelag_hh": "99", "write_passwd": "wp"}
        body.update(fields)
        return self.post(body, login=login or self.login_)

    def test_refusals_write_nothing(self):
        os.makedirs(self.site.path("skin/half"))
        self.site.write("skin/half/templ_bbs.html", "x")
        self.site.write("outer/skin/x", "")
        self.site.add_board("mine", datadir="data/mine/")
        os.makedirs(self.site.path("data/mine/sub"))
        os.makedirs(self.site.path("data/holder/inner"))
        self.site.add_board("held", datadir="data/holder/inner/")
        os.symlink("/etc", self.site.path("data/etc-link"))
        os.symlink(self.site.path("data/mine"), self.site.path("data/mine-link"))
        self.site.write("data/file", "x")
        cases = [
            ("no data dir", {"datadir": " "}, "msg07"),
            ("no skin dir", {"skindir": ""}, "msg16"),
            ("root", {"datadir": "/"}, "msg10"),
            ("/etc", {"datadir": "/etc"}, "msg10"),
            ("up", {"datadir": "../x"}, "msg10"),
            ("up inside", {"datadir": "data/../etc"}, "msg10"),
            ("up after", {"datadir": "data/other/.."}, "msg10"),
            ("registry", {"datadir": "data"}, "msg10"),
            ("registry with slash", {"datadir": "data\\"}, "msg10"),
            ("script directory", {"datadir": self.site.dir}, "msg10"),
            ("absolute inside", {"datadir": self.site.path("data/other")}, "msg10"),
            ("working directory", {"datadir": "."}, "msg10"),
            ("skin tree", {"datadir": "skin"}, "msg10"),
            ("admin templates", {"datadir": "skin/config"}, "msg10"),
            ("outside data", {"datadir": "outer", "skindir": "outer/skin"}, "msg10"),
            ("another board's", {"datadir": "data/mine"}, "msg10"),
            ("inside another board's", {"datadir": "data/mine/sub"}, "msg10"),
            ("holding another board's", {"datadir": "data/holder"}, "msg10"),
            ("link out of data", {"datadir": "data/etc-link"}, "msg10"),
            ("link to another board's", {"datadir": "data/mine-link"}, "msg10"),
            ("a file", {"datadir": "data/file"}, "msg10"),
            ("a settings file", {"datadir": "data/mine.conf"}, "msg10"),
            ("odd name", {"datadir": "data/a b"}, "msg10"),
            ("missing data dir", {"datadir": "data/none"}, "msg08"),
            ("missing skin", {"skindir": "skin/none"}, "msg17"),
            ("incomplete skin", {"skindir": "skin/half"}, "msg18"),
            ("no title", {"bbs_title": ""}, "msg15"),
            ("unsafe skin url", {"skinurl": 'x"><script>'}, "msg80"),
            ("unsafe style sheet", {"stylesheet": "a b"}, "msg80"),
            ("unsafe home", {"home_url": "http://x/'onmouseover='"}, "msg80"),
            ("NG file outside", {"ngfile": "/etc/passwd"}, "msg82"),
            ("NG file up", {"ngfile": "data/../dat-system.dat"}, "msg82"),
            ("NG file settings", {"ngfile": "data/mine.conf"}, "msg82"),
            ("NG file a directory", {"ngfile": "data/mine.ng/"}, "msg82"),
            ("NG file through a link", {"ngfile": "data/etc-link/passwd.txt"}, "msg82"),
        ]
        os.makedirs(self.site.path("data/mine.ng"))
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
                           stylesheet="  s.css  ", datadir="./data//other/")
        self.assertPage(resp, "bbs")
        conf = read_settings(self.site, "data/tech.conf")
        c = dict(conf)
        # The board password is untouched by a save; the posting password is
        # stored as a code and never shown.
        self.assertEqual(c["passwd"], BOARD_PW)
        self.assertNotIn("wp", c["write_passwd"])
        self.assertTrue(c["write_passwd"])
        self.assertIn("wp=|", resp.text)
        self.assertNotIn(c["write_passwd"], resp.text)
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

        # The posting password: empty keeps it, a new one replaces it, the
        # check box clears it.
        code = c["write_passwd"]
        for fields, want in [({"write_passwd": ""}, code), ({"write_passwd": "w2"}, None),
                             ({"write_passwd": "w3", "write_passwd_clear": "1"}, "")]:
            with self.subTest(fields):
                self.assertPage(self.config(**fields), "bbs")
                got = dict(read_settings(self.site, "data/tech.conf"))["write_passwd"]
                if want is None:
                    self.assertNotIn(got, (code, "", "w2"))
                else:
                    self.assertEqual(got, want)
        self.assertPage(self.config(skinurl="http://cdn.example.jp/s/"), "bbs")
        self.assertEqual(dict(read_settings(self.site, "data/tech.conf"))["skinurl"],
                         "http://cdn.example.jp/s/")

    def test_board_session_saves_its_board(self):
        board = self.login(BOARD_PW, "tech")
        self.assertPage(self.config(login=board), "bbs")
        self.assertEqual(dict(read_settings(self.site, "data/tech.conf"))["bbs_title"],
                         "New Title")

    def test_board_session_cannot_put_a_script_on_the_sites_pages(self):
        # A board's owner who could write markup into the board's pages
        # could run a script on the site's origin while the administrator
        # views them, and act in the administrator's session.
        self.config(user_header="<p>site admin's header</p>", user_footer="<p>foot</p>")
        script = "<script>fetch('ruk-config.cgi')</script>"
        board = self.login(BOARD_PW, "tech")
        self.assertPage(self.config(login=board, user_header=script, user_footer=script,
                                    bbs_title=script), "bbs")
        stored = dict(read_settings(self.site, "data/tech.conf"))
        self.assertEqual((stored["user_header"], stored["user_footer"]),
                         ("<p>site admin's header</p>", "<p>foot</p>"))
        for name, text in [("templ_bbs.html", "<title>%BBS_TITLE%</title>%USER_HEADER%"),
                           ("templ_ico.html", "i"), ("templ_info.html", "%MESSAGE%")]:
            self.site.write("skin/plain/" + name, text)
        page = self.site.run(query={"bid": "tech", "skin": "skin/plain"})
        self.assertIn("<p>site admin's header</p>", page.text)
        self.assertNotIn("<script>", page.text)
        self.assertIn("&lt;script&gt;", page.text)  # the title, as text

    def test_posting_limits(self):
        # A board written before these settings shows them off and keeps
        # them off until the page is saved; then what the page showed is
        # stored.
        resp = self.get("bid=tech", login=self.login_)
        for tag in ["mess=|", "gap=|", "burst=|", "links=|", "jp=|", "ng=|", "arc=|",
                    "redir=|", "name=|"]:
            self.assertIn(tag, resp.text)
        self.assertNotIn("mess_max", dict(read_settings(self.site, "data/tech.conf")))
        self.config()
        c = dict(read_settings(self.site, "data/tech.conf"))
        for key in ["mess_max", "post_interval", "post_burst", "link_max", "need_japanese",
                    "ngfile", "log_archive", "post_redirect", "admin_name"]:
            self.assertEqual(c[key], "", key)

        self.site.write("data/tech.ng", "spam\n")
        cases = [
            ({"mess_max": "5000", "post_interval": "30", "post_burst": "5", "link_max": "0",
              "need_japanese": "1", "log_archive": "1", "post_redirect": "1",
              "ngfile": " data/tech.ng ", "admin_name": " 管理人 "},
             {"mess_max": "5000", "post_interval": "30", "post_burst": "5", "link_max": "0",
              "need_japanese": "1", "log_archive": "1", "post_redirect": "1",
              "ngfile": "data/tech.ng", "admin_name": "管理人"}),
            ({"mess_max": "10", "post_interval": "-5", "post_burst": "0", "link_max": "999",
              "need_japanese": "yes", "ngfile": "data/new.txt"},
             {"mess_max": "100", "post_interval": "0", "post_burst": "1", "link_max": "100",
              "need_japanese": "", "ngfile": "data/new.txt"}),
            ({"mess_max": "9999999", "post_interval": "99999", "post_burst": "5000"},
             {"mess_max": "200000", "post_interval": "3600", "post_burst": "1000"}),
        ]
        for fields, want in cases:
            with self.subTest(fields):
                resp = self.config(**fields)
                self.assertPage(resp, "bbs")
                c = dict(read_settings(self.site, "data/tech.conf"))
                for k, v in want.items():
                    self.assertEqual(c[k], v, k)
        resp = self.config(admin_name='"><b>', mess_max="500")
        self.assertIn("name=&quot;&gt;&lt;b&gt;|", resp.text)
        self.assertIn("mess=500|", resp.text)

    def test_pages_by_mode(self):
        self.site.add_board("tech", passwd=BOARD_PW, bbs_title='T"<', ico_name1="<b>one",
                            ico_url2="two.gif", mode="x", ico_name3="%TOKEN%")
        login = self.login_
        self.assertPage(self.get("bid=tech", login=login), "bbs")
        resp = self.get("bid=tech&mode=icon", login=login)
        self.assertEqual(resp.text, "ico|pw=|[0:::0][1:&lt;b&gt;one::1][2::two.gif:2]"
                                    "[3:%TOKEN%::3]|tok=" + login.token + "|end")
        self.assertPage(self.get("bid=tech&mode=kako", login=login), "old")
        self.assertMessage(self.get("bid=nosuch", login=login), "msg11")

    def test_unsafe_stored_addresses_stay_out_of_the_pages(self):
        # Stored by an older version: a board's owner could have put script
        # into the administrator's message pages.
        self.site.add_board("tech", passwd=BOARD_PW, stylesheet='x"><script>alert(1)</script>',
                            skinurl='"><script>alert(2)</script>')
        self.site.write("skin/default/templ_info.html",
                        '<link href="a.css">info|%MESSAGE%|%RETURN_CGI%')
        resp = self.post({"submit_kako": "1", "bid": "tech", "opt": "zip"}, login=self.login_)
        self.assertIn("[msg53]", resp.text)
        self.assertNotIn("<script>", resp.text)

    def test_submit_icon(self):
        login = self.login_
        resp = self.post({"submit_icon": "1", "bid": "tech",
                          "ico_name0": " zero ", "ico_url0": " 0.gif", "ico_name3": "three",
                          "ico_name4": "beyond", "mode": "icon"}, login=login)
        self.assertPage(resp, "ico")
        c = dict(read_settings(self.site, "data/tech.conf"))
        self.assertEqual((c["ico_name0"], c["ico_url0"], c["ico_name3"], c["ico_url1"]),
                         ("zero", "0.gif", "three", ""))
        self.assertNotIn("ico_name4", c)
        self.assertEqual(c["passwd"], BOARD_PW)
        resp = self.get("bid=tech&mode=icon", login=login)
        self.assertIn("[0:zero:0.gif:0]", resp.text)
        # A refused save echoes the mode escaped in its return link.
        resp = self.post({"submit_icon": "1", "bid": "tech", "token": "bad",
                          "mode": '"><script>alert(1)</script>'}, login=login)
        self.assertMessage(resp, "msg64")
        self.assertNotIn("<script>", resp.text)


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
        self.board = self.login(BOARD_PW, "tech")

    def kako(self, opt, **fields):
        body = {"submit_kako": "1", "bid": "tech", "opt": opt}
        body.update(fields)
        return self.post(body, login=self.board)

    def ids(self, rel):
        path = self.site.path(rel, "bbs-message.dat")
        with open(path, "rb") as f:
            return [l.split(b"\x1e")[0].decode() for l in f.read().split(b"\n") if l]

    def test_refusals(self):
        os.makedirs(self.site.path("data/tech/old/2005"))
        cases = [
            ("new", {}, "msg50"),
            ("new", {"kako_id": "2005"}, "msg52"),
            ("new", {"kako_id": "../../x"}, "msg98"),
            ("div", {"kako_id": "x"}, "msg51"),
            ("div", {"sel_id": "2005"}, "msg50"),
            ("div", {"sel_id": "2005", "kako_id": "2005"}, "msg52"),
            ("mrg", {"sel_id2": "2005"}, "msg51"),
            ("mrg", {"sel_id": "2005"}, "msg51"),
            ("del", {}, "msg51"),
            ("del", {"sel_id": "../.."}, "msg98"),
            ("del", {"sel_id": ".."}, "msg98"),
            ("mrg", {"sel_id": "2005", "sel_id2": "../../../data"}, "msg98"),
            ("ren", {"sel_id": "2005"}, "msg50"),
            ("ren", {"sel_id": "2005", "kako_id": "2005"}, "msg52"),
            ("ren", {"sel_id": "2005", "kako_id": "a/b"}, "msg98"),
            ("ren", {"sel_id": "nosuch", "kako_id": "b"}, "msg51"),
            ("zip", {}, "msg53"),
        ]
        before = self.snapshot()
        for opt, fields, key in cases:
            with self.subTest(opt=opt, fields=fields):
                self.assertMessage(self.kako(opt, **fields), key)
                self.assertEqual(self.snapshot(), before)
        with HeldLock(self.site.path("data/tech/lockfile.lock")):
            self.assertMessage(self.kako("new", kako_id="x"), "msg90")
        self.assertEqual(self.snapshot(), before)

    def test_no_move_without_the_board_lock(self):
        # A lock file that cannot be opened: nothing moves unlocked.
        os.makedirs(self.site.path("data/tech/lockfile.lock"))
        before = self.snapshot()
        self.assertMessage(self.kako("new", kako_id="2005"), "msg09")
        self.assertEqual(self.snapshot(), before)

    def test_new_div_merge_rename_delete(self):
        resp = self.kako("new", kako_id="2005")
        self.assertPage(resp, "old")
        self.assertIn("total=4|", resp.text)
        self.assertEqual(self.ids("data/tech"), ["410", "400", "310", "300"])
        self.assertEqual(self.ids("data/tech/old/2005"), ["220", "210", "200", "100"])
        self.assertEqual(self.site.read("data/tech/old/2005/200/a.png"), b"png")
        self.assertFalse(os.path.exists(self.site.path("data/tech/200")))
        self.assertIn('<select id="o_sel1" name=sel_id>\n<option value="2005" >2005</option>\n'
                      '</select>\n|<select id="o_sel2" name=sel_id2>\n'
                      '<option value="2005" >2005</option>\n',
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
        self.assertMessage(self.kako("del", sel_id="nosuch", confirm="1"), "msg51")
        self.assertPage(self.kako("del", sel_id="y2005", mode="kako", confirm="1"), "old")
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
            site.write_system({"admin": ADMIN, "icon_max": "2"})
            site.add_board("tech", passwd=BOARD_PW, write_passwd="*wpcode*")
            run = lambda **kw: site.run(program="ruk-config", **kw)
            page = run(env=SAME_ORIGIN)
            login_cookie = page.header("Set-Cookie")[0].split(";")[0]
            token = re.search(r'name="token" value="([0-9a-f]{64})"', page.text).group(1)
            resp = run(method="POST", body={"submit_login": "1", "passwd": ADMIN,
                                            "token": token},
                       env=dict(SAME_ORIGIN, HTTP_COOKIE=login_cookie))
            cookie = [h for h in resp.header("Set-Cookie") if h.startswith("ruk_session=")][0]
            env = dict(SAME_ORIGIN, HTTP_COOKIE=cookie.split(";")[0])
            for query in ["", "submit_read=1", "bid=tech", "bid=tech&mode=icon",
                          "bid=tech&mode=kako", "bid=tech&mode=mod"]:
                with self.subTest(query):
                    resp = run(query=query, env=env)
                    self.assertEqual(resp.status, 0, resp.raw)
                    self.assertNotRegex(resp.text, r"%[A-Z_0-9]+%")
                    self.assertNotIn("admin_passwd", resp.text)
                    self.assertNotIn("*wpcode*", resp.text)
                    # Every form that posts carries the session's token.
                    forms = re.findall(r"<form[^>]*>.*?</form>", resp.text, re.S)
                    posts = [f for f in forms if 'method="post"' in f]
                    self.assertTrue(posts)
                    for f in posts:
                        self.assertRegex(f, r'name="token" value="[0-9a-f]{64}"')
        finally:
            site.close()


if __name__ == "__main__":
    unittest.main()
