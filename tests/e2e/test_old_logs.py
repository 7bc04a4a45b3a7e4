"""Old logs as a visitor meets them, with the installed skins and
catalogue: the board lists its old logs newest first, an old log is read
only (no form, no controls, every change refused and nothing written),
and a thread that left the board says where it went."""
import os
import re
import unittest

from rukcgi import SITE_DIR, Site, record

ADMIN = "adminpw"


def catalogue(key):
    """A text of the installed catalogue, up to its first tag."""
    with open(os.path.join(SITE_DIR, "dat-message.dat"), "rb") as f:
        for line in f.read().decode("cp932").splitlines():
            k, _, v = line.partition("=")
            if k == key:
                return v.split("%")[0]
    raise KeyError(key)


def old_log_links(text):
    """The (bid, label) pairs of the page's old-log list."""
    m = re.search(r'<nav class="oldLogs"[^>]*>.*?<ul>(.*?)</ul>', text, re.S)
    if not m:
        m = re.search(r"<ul>(.*?)</ul>", text, re.S)
    if not m:
        return None
    return re.findall(r'<li><a href="ruk-bbs\.cgi\?bid=([^"]*)"[^>]*>([^<]*)</a></li>', m.group(1))


class OldLogCase(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.site.add_board("test", passwd=ADMIN, **self.settings())
        self.site.write_messages("data/test", [record("100", title="current", passwd="own")])

    def settings(self):
        return {}

    def tearDown(self):
        self.site.close()

    def add_log(self, name, *records):
        os.makedirs(self.site.path("data/test/old", name), exist_ok=True)
        self.site.write_messages("data/test/old/" + name, records)

    def page(self, query, mobile=False, **kw):
        env = {"HTTP_USER_AGENT": "DoCoMo/2.0"} if mobile else {}
        resp = self.site.run(query=query, env=env, **kw)
        self.assertEqual(resp.status, 0, resp.text)
        return resp.text

    def snapshot(self):
        return self.site.snapshot("data")


class OldLogListTest(OldLogCase):
    def setUp(self):
        super().setUp()
        self.site.write_settings("data/test.keit", {"DoCoMo": "skin/mobile", "page_ppnum": "5"})

    def test_the_board_lists_its_old_logs_newest_first(self):
        for mobile in [False, True]:
            with self.subTest(mobile=mobile):
                text = self.page("bid=test", mobile)
                self.assertNotIn("\u904e\u53bb\u30ed\u30b0", text)  # 過去ログ
                self.assertNotIn("OLD_LOGS", text)
        for name in ["2025-12", "2026-1", "2026-12", "2026-2", "x_misc"]:
            self.add_log(name, record("200"))
        # Not old logs: a name no request may carry, and a plain file.
        os.makedirs(self.site.path("data/test/old/bad.name"))
        self.site.write("data/test/old/notes", "x")
        order = ["x_misc", "2026-12", "2026-2", "2026-1", "2025-12"]
        for mobile in [False, True]:
            with self.subTest(mobile=mobile):
                links = old_log_links(self.page("bid=test", mobile))
                self.assertEqual(links, [("test=" + n, n) for n in order])
                # The search page lists them too.
                self.assertEqual(old_log_links(self.page("bid=test&word=x", mobile)),
                                 [("test=" + n, n) for n in order])
                # In an old log the list leads back to the board, and marks
                # the log shown.
                text = self.page("bid=test=2026-2", mobile)
                links = old_log_links(text)
                self.assertEqual(links[0][0], "test")
                self.assertEqual(links[1:], [("test=" + n, n) for n in order])
                self.assertIn('bid=test=2026-2" aria-current="page"', text)

    def test_a_data_directory_without_its_final_slash(self):
        self.site.add_board("test", datadir="data/test", passwd=ADMIN)
        self.add_log("2005", record("300", title="archived"))
        self.assertIn("archived", self.page("bid=test=2005"))


class ReadOnlyTest(OldLogCase):
    def setUp(self):
        super().setUp()
        self.add_log("2005", record("301", pid="300", ppid="300", title="reply", passwd="own"),
                     record("300", title="archived", passwd="own"))

    def test_an_old_log_offers_no_form_and_no_controls(self):
        for mobile in [False, True]:
            self.site.write_settings("data/test.keit", {"DoCoMo": "skin/mobile",
                                                        "page_ppnum": "5"} if mobile else {})
            for query in ["bid=test=2005", "bid=test=2005&style=1&ppid=300",
                          "bid=test=2005&word=archived"]:
                with self.subTest(query, mobile=mobile):
                    text = self.page(query, mobile)
                    self.assertIn("archived", text)
                    for control in ["submit_res", "submit_upd", "submit_del", "submit_wri",
                                    'name="passwd"', "mode=new"]:
                        self.assertNotIn(control, text)
            with self.subTest("the board keeps them", mobile=mobile):
                text = self.page("bid=test", mobile)
                for control in ["submit_res", "submit_del", "mode=new"]:
                    self.assertIn(control, text)
                self.assertNotIn("WRITABLE", text)

    def test_every_change_is_refused(self):
        post = {"bid": "test=2005", "name": "n", "title": "t", "mess": "m", "passwd": "own"}
        cases = [
            ("new thread", dict(post, **{"submit_wri.x": "1"})),
            ("reply", dict(post, **{"submit_wri.x": "1", "pid": "300", "ppid": "300"})),
            ("edit", dict(post, **{"submit_wri.x": "1", "id": "301"})),
            ("edit by the board", dict(post, **{"submit_wri.x": "1", "id": "301",
                                                "passwd": ADMIN})),
            ("open the edit form", {"bid": "test=2005", "submit_upd.x": "1", "id": "301",
                                    "passwd": "own"}),
            ("delete", {"bid": "test=2005", "submit_del.x": "1", "id": "301", "passwd": "own"}),
            ("delete by the board", {"bid": "test=2005", "submit_del.x": "1", "id": "300",
                                     "passwd": ADMIN}),
            ("reply form", {"bid": "test=2005", "submit_res.x": "1", "id": "300"}),
        ]
        refusal = catalogue("msg67")
        before = self.snapshot()
        for label, body in cases:
            with self.subTest(label):
                resp = self.site.run(method="POST", body=body)
                self.assertEqual(resp.status, 1, resp.text)
                self.assertIn(refusal, resp.text)
                self.assertEqual(self.snapshot(), before)
        with self.subTest("new form"):
            resp = self.site.run(query="bid=test=2005&mode=new")
            self.assertIn(refusal, resp.text)
            self.assertNotIn('name="mess"', resp.text)


class GoneThreadTest(OldLogCase):
    def setUp(self):
        super().setUp()
        self.add_log("2026-01", record("501", pid="500", ppid="500", title="r"),
                     record("500", title="moved"))
        self.add_log("2026-02", record("600", title="other"))

    def test_a_thread_that_left_says_where_it_went(self):
        link = re.compile(r'<a href="ruk-bbs\.cgi\?bid=([^"]*)">([^<]*)</a>')
        cases = [
            # label, query, old-log link expected (bid with the thread) or None
            ("moved thread", "bid=test&style=1&ppid=500",
             "test=2026-01&amp;style=1&amp;ppid=500#m500"),
            ("moved reply", "bid=test&style=1&ppid=501",
             "test=2026-01&amp;style=1&amp;ppid=500#m501"),
            ("gone", "bid=test&style=1&ppid=999", None),
            ("from another old log", "bid=test=2026-02&style=1&ppid=500",
             "test=2026-01&amp;style=1&amp;ppid=500#m500"),
        ]
        for label, query, target in cases:
            with self.subTest(label):
                text = self.page(query)
                notice = re.search(r'<p class="notice" role="status">(.*?)</p>', text, re.S)
                self.assertIsNotNone(notice, text)
                if target:
                    self.assertIn(catalogue("msg71"), notice.group(1))
                    self.assertEqual(link.findall(notice.group(1)), [(target, "2026-01")])
                else:
                    self.assertIn(catalogue("msg70"), notice.group(1))
                    self.assertNotIn("<a", notice.group(1))
                # The board's own threads are still listed below.
                self.assertIn("current" if "2026-02" not in query else "other", text)
        # A thread on the board opens as always, without a notice.
        text = self.page("bid=test&style=1&ppid=100")
        self.assertNotIn('class="notice"', text)
        # A thread on an empty board that never was gets the notice too.
        self.site.write_messages("data/test", [])
        self.assertIn(catalogue("msg70"), self.page("bid=test&style=1&ppid=123"))

    def test_only_the_newest_old_logs_are_searched(self):
        # Each search reads a message file: a request for a thread that
        # never was reads the 24 newest old logs, no more.
        for i in range(1, 27):
            self.add_log("log-%02d" % i, record(str(700 + i), title="t%d" % i))
        cases = [("log-26", "726", True), ("log-03", "703", True), ("log-02", "702", False),
                 ("2026-01", "500", False)]
        for log, mid, found in cases:
            with self.subTest(log):
                text = self.page("bid=test&style=1&ppid=" + mid)
                self.assertIn(catalogue("msg71" if found else "msg70"), text)


if __name__ == "__main__":
    unittest.main()
