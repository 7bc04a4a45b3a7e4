"""HTTP validation of the board's pages: every page a visitor GETs carries
an ETag that changes whenever the page would, a request naming it is
answered 304 without the board being read, caches are told what they may
keep, and every message page answers with its true status."""
import os
import re
import time
import unittest
import urllib.parse

from rukcgi import HeldLock, Site, multipart, record
from test_posting import ADMIN, BoardCase

# How long the files of a page must have been still before its tag can
# match: a change within the same tick of the file system's clock would
# keep their times.
STILL = 1.1

NEW_MARK = "\u65b0\u7740"  # 新着, the "new" mark's text
HOST = "bbs.example.jp"


def local_date(t):
    return time.strftime("%Y/%m/%d %H:%M:%S", time.localtime(t))


class CacheCase(unittest.TestCase):
    """The installed site with the board "test" of two threads."""

    def setUp(self):
        self.site = Site()
        self.site.add_board("test", new_time="1")
        self.site.write_messages("data/test", [
            record("200", title="second", date="2026/01/02 00:00:00"),
            record("100", title="first"),
        ])

    def tearDown(self):
        self.site.close()

    def get(self, query="bid=test", tag=None, cookie=None, since=None, env=None):
        e = dict(env or {})
        if tag is not None:
            e["HTTP_IF_NONE_MATCH"] = tag
        if cookie is not None:
            e["HTTP_COOKIE"] = cookie
        if since is not None:
            e["HTTP_IF_MODIFIED_SINCE"] = since
        return self.site.run(query=query, env=e)

    def tag(self, query="bid=test", **kw):
        resp = self.get(query, **kw)
        self.assertEqual(resp.status, 0, resp.raw[:300])
        (etag,) = resp.header("ETag")
        return etag

    def assertNotModified(self, resp, tag):
        self.assertEqual(resp.header("Status"), ["304 Not Modified"], resp.raw[:300])
        self.assertEqual(resp.header("ETag"), [tag])
        self.assertEqual(resp.header("Content-type"), [])
        self.assertEqual(resp.body, b"")

    def assertFull(self, resp):
        self.assertEqual(resp.status, 0, resp.raw[:300])
        self.assertEqual(resp.header("Status"), ["200 OK"])
        self.assertIn(b"</html>", resp.body)


class RevalidationTest(CacheCase):
    def test_an_unchanged_page_is_not_sent_again(self):
        time.sleep(STILL)
        page = self.get()
        tag = self.tag()
        self.assertRegex(tag, r'^W/"[0-9a-f]{32}\.n"$')
        self.assertEqual(page.header("ETag"), [tag])
        # The tag as sent, in a list, without "W/", with the suffix a web
        # server's compression adds, and "*".
        fields = [tag, '"x", ' + tag, 'W/"other", ' + tag.replace("W/", ""),
                  tag[:-1] + '-gzip"', "*"]
        for field in fields:
            with self.subTest(field=field):
                resp = self.get(tag=field)
                self.assertEqual(resp.header("Status"), ["304 Not Modified"])
                self.assertEqual(resp.body, b"")
                self.assertEqual(resp.header("Cache-Control"), ["public, no-cache"])
        # The same tag for another page, a foreign or a broken one: the page.
        for query, field in [("bid=test&page=1", tag), ("bid=test", 'W/"0123.n"'),
                             ("bid=test", tag + ", junk"), ("bid=test", tag[:-2]),
                             ("bid=test", tag[:-2] + '1"'), ("bid=test", tag[:-1] + '-"'),
                             ("bid=test", tag[:-1] + '-GZIP"')]:
            with self.subTest(query=query, field=field):
                self.assertFull(self.get(query, tag=field))

    def test_the_board_is_not_read_for_a_304(self):
        # Another process holds the board's lock: a page that read the
        # message file would wait for it and answer that the board is busy.
        time.sleep(STILL)
        tag = self.tag()
        with HeldLock(self.site.path("data/test/lockfile.lock")):
            self.assertNotModified(self.get(tag=tag), tag)
            busy = self.get(tag='W/"stale.n"')
            self.assertEqual(busy.header("Status")[0][:3], "503", busy.raw[:300])

    def test_a_page_just_changed_gets_a_tag_that_never_matches(self):
        tag = self.tag()  # the files were written a moment ago
        self.assertRegex(tag, r'^W/"[0-9a-f]{32}\.[0-9]+"$')
        self.assertFull(self.get(tag=tag))

    def test_the_tag_follows_what_the_page_is_made_of(self):
        cookie = "name=" + urllib.parse.quote("taro".encode("cp932"))

        def post():
            body, ctype = multipart({"bid": "test", "submit_wri.x": "1", "name": "nm",
                                     "title": "posted", "mess": "body", "passwd": "pw"})
            resp = self.site.run(method="POST", body=body, content_type=ctype,
                                 env={"HTTP_HOST": HOST})
            self.assertEqual(resp.status, 0, resp.raw[:300])

        def rewrite(rel, old, new):
            self.site.write(rel, self.site.read(rel).replace(old, new))

        cases = [
            ("a post", post),
            ("the board's settings saved",
             lambda: self.site.add_board("test", new_time="1", bbs_header="<p>hello</p>")),
            ("the site's settings saved",
             lambda: self.site.write_system({"site_url": "http://%s/" % HOST})),
            ("the board template", lambda: rewrite("skin/default/templ_bbs.html",
                                                   b"</body>", b"<!-- x --></body>")),
            ("the catalogue", lambda: rewrite("dat-message.dat", b"msg54=", b"msg54=x")),
            ("an old log made", lambda: os.makedirs(self.site.path("data/test/old/2026-01"))),
            ("the skin's signature",
             lambda: self.site.write("skin/default/signature", "<p>sig</p>")),
            ("the phone table",
             lambda: self.site.write("data/test.keit", "Nokia=skin%2Fmobile\n")),
        ]
        for label, change in cases:
            with self.subTest(label):
                time.sleep(STILL)
                before = self.tag()
                self.assertEqual(self.get(tag=before).header("Status"), ["304 Not Modified"])
                change()
                resp = self.get(tag=before)
                self.assertFull(resp)
                self.assertNotEqual(resp.header("ETag"), [before])
        # A cookie the page shows: another visitor's value, another tag.
        time.sleep(STILL)
        mine = self.tag("bid=test&mode=new", cookie=cookie)
        self.assertNotModified(self.get("bid=test&mode=new", tag=mine, cookie=cookie), mine)
        for other in ["name=jiro", "", "name=taro; mail=a%40example.jp", "name=taro; passwd=x"]:
            with self.subTest(cookie=other):
                resp = self.get("bid=test&mode=new", tag=mine, cookie=other)
                self.assertEqual(resp.status, 0)
                self.assertNotEqual(resp.header("Status"), ["304 Not Modified"])

    def test_a_thread_page_follows_the_old_logs(self):
        # Thread 300 is on neither the board nor its old log: the page says
        # it is gone. Once the old log holds it, the page links there; the
        # old logs' directory itself did not change.
        thread = "bid=test&style=1&ppid=300"
        self.site.write_messages("data/test/old/2025", [record("50", title="old")])
        time.sleep(STILL)
        before = self.tag(thread)
        self.assertEqual(self.get(thread, tag=before).header("Status"), ["304 Not Modified"])
        self.site.write_messages("data/test/old/2025", [record("300", title="moved")])
        resp = self.get(thread, tag=before)
        self.assertFull(resp)
        self.assertIn("bid=test=2025", resp.text)
        # The old log shown is read like the board.
        time.sleep(STILL)
        shown = self.tag("bid=test=2025")
        self.site.write_messages("data/test/old/2025", [record("301", title="again")])
        self.assertFull(self.get("bid=test=2025", tag=shown))

    def test_a_mark_that_goes_ends_the_tag(self):
        # A post that stops being new six seconds from now (new_time=1).
        goes = int(time.time()) + 6
        self.site.write_messages("data/test", [
            record("300", title="fresh", date=local_date(goes - 3600)),
            record("100", title="first")])
        time.sleep(STILL)
        marked = self.get()
        self.assertIn(NEW_MARK, marked.text)
        (tag,) = marked.header("ETag")
        self.assertTrue(tag.endswith('.%d"' % goes), tag)
        self.assertNotModified(self.get(tag=tag), tag)
        time.sleep(max(0, goes - time.time()) + 0.2)
        resp = self.get(tag=tag)
        self.assertFull(resp)
        self.assertNotIn(NEW_MARK, resp.text)
        self.assertTrue(resp.header("ETag")[0].endswith('.n"'), resp.header("ETag"))

    def test_if_modified_since_only_for_the_feed_without_cookies(self):
        time.sleep(2.1)  # a Last-Modified date is sent once the files were still 2 s
        feed = self.get("bid=test&mode=atom")
        (date,) = feed.header("Last-Modified")
        self.assertRegex(date, r"^\w{3}, \d\d \w{3} \d{4} \d\d:\d\d:\d\d GMT$")
        resp = self.get("bid=test&mode=atom", since=date)
        self.assertEqual(resp.header("Status"), ["304 Not Modified"])
        self.assertEqual(resp.body, b"")
        (board_date,) = self.get().header("Last-Modified")
        for label, query, since, cookie, tag in [
            ("a board page", "bid=test", board_date, None, None),
            ("the feed with cookies", "bid=test&mode=atom", date, "name=x", None),
            ("another date", "bid=test&mode=atom", "Sun, 06 Nov 1994 08:49:37 GMT", None, None),
            ("an If-None-Match beside it", "bid=test&mode=atom", date, None, 'W/"x.n"'),
            ("a date of another form", "bid=test&mode=atom", date.replace(" GMT", " UTC"),
             None, None),
        ]:
            with self.subTest(label):
                resp = self.get(query, since=since, cookie=cookie, tag=tag)
                self.assertEqual(resp.header("Status"), ["200 OK"])
                self.assertTrue(resp.body)
        # A post changes the feed's date.
        self.site.write_messages("data/test", [record("300", title="new")])
        self.assertEqual(self.get("bid=test&mode=atom", since=date).header("Status"),
                         ["200 OK"])


class CacheControlTest(CacheCase):
    def post(self, fields, env=None):
        body, ctype = multipart(dict({"bid": "test"}, **fields))
        return self.site.run(method="POST", body=body, content_type=ctype,
                             env=dict({"HTTP_HOST": HOST}, **(env or {})))

    def test_what_caches_may_keep(self):
        phone = {"HTTP_USER_AGENT": "DoCoMo/2.0 P903i"}
        write = {"submit_wri.x": "1", "name": "nm", "title": "t", "mess": "m", "passwd": "pw"}
        cases = [
            # label, request, Cache-Control, validated
            ("board page", lambda: self.get(), "public, no-cache", True),
            ("title view of a thread", lambda: self.get("bid=test&style=1&ppid=100"),
             "public, no-cache", True),
            ("search results", lambda: self.get("bid=test&word=first"), "public, no-cache", True),
            ("feed", lambda: self.get("bid=test&mode=atom"), "public, no-cache", True),
            ("icon list", lambda: self.get("bid=test&mode=icon"), "public, no-cache", True),
            ("phone page", lambda: self.get(env=phone), "public, no-cache", True),
            ("old log", lambda: self.get("bid=test=2025"), "public, no-cache", True),
            ("another site's cookie", lambda: self.get(cookie="ruk_session=x; other=1"),
             "public, no-cache", True),
            ("remembered name", lambda: self.get(cookie="name=taro"), "private, no-cache", True),
            ("new form, remembered name", lambda: self.get("bid=test&mode=new",
                                                           cookie="name=taro"),
             "private, no-cache", True),
            ("new form, remembered password",
             lambda: self.get("bid=test&mode=new", cookie="name=taro; passwd=secret"),
             "no-store", False),
            ("reply form, remembered password",
             lambda: self.get("bid=test&submit_res.x=1&id=100", cookie="passwd=secret"),
             "no-store", False),
            ("edit form", lambda: self.post({"submit_upd.x": "1", "id": "100", "passwd": ""}),
             "no-store", False),
            ("post", lambda: self.post(write), "no-store", False),
            ("message page", lambda: self.get("bid=nosuch"), "no-store", False),
            ("administration", lambda: self.site.run("ruk-config"), "no-store", False),
        ]
        self.site.write_messages("data/test/old/2025", [record("50", title="old")])
        for label, request, control, validated in cases:
            with self.subTest(label):
                resp = request()
                self.assertEqual(resp.header("Cache-Control"), [control], resp.raw[:300])
                self.assertEqual(bool(resp.header("ETag")), validated)
                if validated:
                    self.assertEqual(resp.header("Vary"), ["Cookie"])
                    self.assertNotIn(b"secret", resp.raw)
                if "password" in label:
                    self.assertIn(b'value="secret"', resp.body)

    def test_a_redirect_after_a_post_is_kept_by_none(self):
        self.site.add_board("test", new_time="1", post_redirect="1")
        resp = self.post({"submit_wri.x": "1", "name": "nm", "title": "t", "mess": "m",
                          "passwd": "pw", "cookie": "1"})
        self.assertEqual(resp.header("Status"), ["303 See Other"], resp.raw[:300])
        self.assertEqual((resp.header("Cache-Control"), resp.header("ETag")), (["no-store"], []))

    def test_the_tag_tells_nothing_of_cookies_or_paths(self):
        time.sleep(STILL)
        plain = self.tag("bid=test&mode=new")
        named = self.tag("bid=test&mode=new", cookie="name=taro")
        phone = self.tag(env={"HTTP_USER_AGENT": "DoCoMo/2.0"})
        pc = self.tag()
        self.assertEqual(len({plain, named, phone, pc}), 4)
        for tag in [plain, named, phone, pc]:
            self.assertRegex(tag, r'^W/"[0-9a-f]{32}\.(n|[0-9]+)"$')


class StatusTest(BoardCase):
    """Each message page answers with the status of its kind."""

    def test_message_pages_answer_with_their_status(self):
        self.store(record("100", title="root", passwd="own"))
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN, post_interval="60",
                            post_burst="0")

        def guessed_too_often():
            for i in range(10):
                self.delete("100", "guess%d" % i)
            return self.delete("100", "own")

        def post_twice():
            self.assertOk(self.post(title="first"))
            return self.post(title="second")

        def busy():
            with HeldLock(self.site.path("data/test/lockfile.lock")):
                return self.site.run(query="bid=test")

        def unwritable():
            os.rename(self.site.path("data/test/bbs-message.dat"),
                      self.site.path("data/test/saved"))
            os.makedirs(self.site.path("data/test/bbs-message.dat"))
            try:
                return self.post(title="lost", env={"REMOTE_ADDR": "192.0.2.77"})
            finally:
                os.rmdir(self.site.path("data/test/bbs-message.dat"))
                os.rename(self.site.path("data/test/saved"),
                          self.site.path("data/test/bbs-message.dat"))

        cases = [
            # label, request, key, status, Retry-After
            ("forged request", lambda: self.post(env={"HTTP_HOST": HOST,
                                                      "HTTP_ORIGIN": "http://evil.example"}),
             "msg64", "403 Forbidden", None),
            ("wrong password", lambda: self.delete("100", "bad"), "msg03", "403 Forbidden", None),
            ("no such board", lambda: self.site.run(query="bid=nosuch"), "msg11",
             "404 Not Found", None),
            ("no such old log", lambda: self.site.run(query="bid=test=2001"), "msg51",
             "404 Not Found", None),
            ("no such message", lambda: self.delete("999", "own"), "msg66", "404 Not Found",
             None),
            ("no subject", lambda: self.post(title=""), "msg21", "400 Bad Request", None),
            ("field too long", lambda: self.post(title="t" * 400), "msg61", "400 Bad Request",
             None),
            ("request too large", lambda: self.site.run(
                query="bid=test", method="POST", body=b"",
                env={"CONTENT_LENGTH": "%d" % (64 * 1024 * 1024 + 1)}),
             "msg24", "400 Bad Request", None),
            ("id that is no number", lambda: self.site.run(query="bid=test&id=x"), "msg98",
             "400 Bad Request", None),
            ("posting too soon", post_twice, "msg60", "429 Too Many Requests", "60"),
            ("password guessing", guessed_too_often, "msg65", "429 Too Many Requests", "600"),
            ("busy board", busy, "msg90", "503 Service Unavailable", "1"),
            ("message file not writable", unwritable, "msg114", "500 Internal Server Error",
             None),
        ]
        for label, request, key, status, retry in cases:
            with self.subTest(label):
                resp = request()
                self.assertMessage(resp, key)
                self.assertEqual(resp.header("Status"), [status])
                self.assertEqual(resp.header("Cache-Control"), ["no-store"])
                self.assertEqual(resp.header("ETag"), [])
                if retry is None:
                    self.assertEqual(resp.header("Retry-After"), [])
                else:
                    (after,) = resp.header("Retry-After")
                    # The wait counts down from the figure while the test runs.
                    self.assertTrue(0 < int(after) <= int(retry), after)
                    self.assertGreaterEqual(int(after), int(retry) - 5)

    def test_administration_and_viewer_refusals(self):
        cases = [
            ("administration, forged form",
             lambda: self.site.run("ruk-config", method="POST", body={"submit_login": "1"},
                                   env={"HTTP_HOST": HOST, "HTTP_ORIGIN": "http://evil.x"}),
             "403 Forbidden"),
            ("viewer, no attachment", lambda: self.site.run("ruk-view", query="url=data/x/1.png"),
             "404 Not Found"),
        ]
        for label, request, status in cases:
            with self.subTest(label):
                resp = request()
                self.assertEqual(resp.header("Status"), [status], resp.raw[:300])
                self.assertEqual(resp.header("Cache-Control"), ["no-store"])


if __name__ == "__main__":
    unittest.main()
