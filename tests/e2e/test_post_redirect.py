"""The answer after a post, an edit or a deletion on a board with
post_redirect=1: "303 See Other" to the page to show, at an absolute
address built only from checked parts, with the post's cookies, so that
reloading never sends the post again. A board without the setting answers
with the page, as it always did."""
import re
import unittest
import urllib.parse

from rukcgi import record
from test_posting import ADMIN, BoardCase

SITE = "http://bbs.example.jp/cgi-bin/ruk-bbs.cgi"


class RedirectCase(BoardCase):
    board = {"post_redirect": "1"}

    def assertRedirect(self, resp, location):
        self.assertEqual(resp.status, 0, resp.raw)
        self.assertEqual(resp.header("Status"), ["303 See Other"], resp.raw)
        self.assertEqual(resp.header("Location"), [location], resp.raw)
        self.assertNotIn("{P ", resp.text)  # no board page
        self.assertIn('href="%s"' % location.replace("&", "&amp;"), resp.text)

    def use_request_address(self):
        """The system settings without site_url."""
        self.site.write_system({"attach_max": "3"})


class RedirectTest(RedirectCase):
    def test_changes_lead_to_the_page_to_show(self):
        self.assertRedirect(self.post(title="A"), self.thread_url())
        root = self.ids()[0]
        self.assertRedirect(self.post(title="R", pid=root, ppid=root), self.thread_url(root))
        reply = self.ids()[0]
        self.assertRedirect(self.post(id=reply, title="R2", passwd="pw"),
                            self.thread_url(root, reply))
        self.assertRedirect(self.delete(reply, "pw"), SITE + "?bid=test")
        resp = self.site.run(method="POST", body={"bid": "test", "submit_del.x": "1", "id": root,
                                                  "passwd": "pw", "style": "1"})
        self.assertRedirect(resp, SITE + "?bid=test&style=1")
        self.assertEqual(self.ids(), [])

    def thread_url(self, root=None, mid=None):
        root = root or self.ids()[0]
        return "%s?bid=test&style=1&ppid=%s#m%s" % (SITE, root, mid or self.ids()[0])

    def test_the_cookies_come_with_the_redirect(self):
        resp = self.post(cookie="1", name="nm", passwd="pw")
        self.assertRedirect(resp, self.thread_url())
        cookies = resp.header("Set-Cookie")
        self.assertTrue(any(c.startswith("name=nm;") for c in cookies), cookies)
        self.assertTrue(any(c.startswith("passwd=pw;") for c in cookies), cookies)
        self.assertEqual(resp.header("Cache-Control"), ["no-store"])

    def test_refusals_are_pages(self):
        resp = self.post(title="")
        self.assertMessage(resp, "msg21")
        self.assertEqual(resp.header("Status"), ["400 Bad Request"])
        self.store(record("100", passwd="own"))
        resp = self.delete("100", "bad")
        self.assertMessage(resp, "msg03")
        self.assertEqual(resp.header("Location"), [])

    def test_a_board_without_the_setting_shows_the_page(self):
        for setting in [None, "0", ""]:
            with self.subTest(setting=setting):
                conf = {"skindir": "skin/t/", "passwd": ADMIN, "attach_size": "100"}
                if setting is not None:
                    conf["post_redirect"] = setting
                self.site.add_board("test", **conf)
                resp = self.post(cookie="1", title="t%s" % setting)
                self.assertOk(resp)
                self.assertEqual((resp.header("Status"), resp.header("Location")), ([], []))
                self.assertIn("{P %s " % self.ids()[0], resp.text)
                self.assertTrue(any(c.startswith("name=nm;") for c in resp.header("Set-Cookie")))


class RedirectAddressTest(RedirectCase):
    def location(self, env):
        self.count = getattr(self, "count", 0) + 1
        resp = self.post(env=env, title="t%d" % self.count)
        self.assertEqual(resp.header("Status"), ["303 See Other"], resp.raw)
        # One header per line, never a line a request made.
        names = [h.split(":", 1)[0].lower() for h in resp.headers]
        self.assertEqual(sorted(set(names)), sorted(names), resp.headers)
        self.assertNotIn("x-evil", names)
        loc = resp.header("Location")
        self.assertEqual(len(loc), 1)
        self.assertRegex(loc[0], r"^https?://[^\s\"'<>\\]+$")
        return loc[0].split("?")[0]

    def test_site_url_decides(self):
        cases = [
            ("http://bbs.example.jp/cgi-bin/", SITE),
            ("https://bbs.example.jp:8443/bbs", "https://bbs.example.jp:8443/bbs/ruk-bbs.cgi"),
            # Not a site URL: the request's address is used.
            ("javascript:alert(1)//", "http://evil.example/cgi-bin/ruk-bbs.cgi"),
            ("http://bbs.example.jp/x\r\nX-Evil: 1", "http://evil.example/cgi-bin/ruk-bbs.cgi"),
        ]
        for url, program in cases:
            with self.subTest(url):
                self.site.write_system({"site_url": url})
                self.assertEqual(self.location({"HTTP_HOST": "evil.example"}), program)

    def test_the_request_address_is_checked(self):
        self.use_request_address()
        own = "http://bbs.example.jp/cgi-bin/ruk-bbs.cgi"  # from SERVER_NAME
        cases = [
            # label, environment, program URL
            ("host", {"HTTP_HOST": "board.example.jp"},
             "http://board.example.jp/cgi-bin/ruk-bbs.cgi"),
            ("host and port", {"HTTP_HOST": "Board.Example.jp:8080"},
             "http://board.example.jp:8080/cgi-bin/ruk-bbs.cgi"),
            ("IPv6", {"HTTP_HOST": "[::1]:8080"}, "http://[::1]:8080/cgi-bin/ruk-bbs.cgi"),
            ("https", {"HTTP_HOST": "a.example", "HTTPS": "on"},
             "https://a.example/cgi-bin/ruk-bbs.cgi"),
            ("no host", {}, own),
            ("server port", {"SERVER_PORT": "8080"},
             "http://bbs.example.jp:8080/cgi-bin/ruk-bbs.cgi"),
            # Hostile Host headers: the server's own name instead.
            ("line break", {"HTTP_HOST": "evil.example\r\nX-Evil: 1"}, own),
            ("path", {"HTTP_HOST": "evil.example/x"}, own),
            ("user", {"HTTP_HOST": "a@evil.example"}, own),
            ("quote", {"HTTP_HOST": 'a"b'}, own),
            ("bad port", {"HTTP_HOST": "a.example:99999"}, own),
            ("bad IPv6", {"HTTP_HOST": "[::1\r\nX-Evil: 1]"}, own),
            ("both bad", {"HTTP_HOST": "a b", "SERVER_NAME": "c\nd"},
             "http://localhost/cgi-bin/ruk-bbs.cgi"),
            # A script name that is no plain path.
            ("script", {"SCRIPT_NAME": "/x\r\nX-Evil: 1"}, "http://bbs.example.jp/ruk-bbs.cgi"),
            ("relative script", {"SCRIPT_NAME": "ruk-bbs.cgi"},
             "http://bbs.example.jp/ruk-bbs.cgi"),
        ]
        for label, env, program in cases:
            with self.subTest(label):
                self.assertEqual(self.location(env), program)

    def test_the_query_holds_only_checked_values(self):
        # The board id and the message ids are checked before anything is
        # stored; a hostile one never reaches the redirect.
        self.use_request_address()
        for field, value in [("bid", "test\r\nX-Evil: 1"), ("ppid", "1\r\nX-Evil: 1"),
                             ("pid", "1 2")]:
            with self.subTest(field):
                resp = self.post(**{field: value})
                self.assertEqual(resp.status, 1)
                self.assertEqual(resp.header("Location"), [])
        self.assertEqual(self.ids(), [])


if __name__ == "__main__":
    unittest.main()
