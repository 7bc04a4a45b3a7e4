"""The board program's entry: every check in its order with its catalogue
key, the board and old-log choice, the skin and mobile rules, the deny
list and the dispatch to one action."""
import os
import unittest

from rukcgi import HeldLock, Site

KEYS = ["msg%02d" % i for i in range(1, 100)]


def make_skin(site, name, marker):
    """A skin whose information page names it: 'marker|message|link'."""
    # The data-table slot shows the search summary on a search page only.
    site.write("skin/%s/templ_bbs.html" % name,
               "<html>%BBS_TITLE%|T[<!--DATA_TABLE--><!--/DATA_TABLE-->]"
               "<!--FOUND_WORD-->FOUND %NUM%<!--/FOUND_WORD--></html>")
    site.write("skin/%s/templ_ico.html" % name, "<html>icons</html>")
    site.write("skin/%s/templ_info.html" % name, marker + "|%MESSAGE%|%RETURN_CGI%")


class EntryTest(unittest.TestCase):
    def setUp(self):
        self.site = Site(full=False)
        # Every catalogue text names its key, so a page shows which check ran.
        self.site.write("dat-message.dat", "".join("%s=[%s]\n" % (k, k) for k in KEYS))
        make_skin(self.site, "default", "default")
        make_skin(self.site, "blue", "blue")
        make_skin(self.site, "mobile", "mobile")
        make_skin(self.site, "../data/tech", "evil")
        self.site.add_board("tech", skindir="skin/default/")

    def tearDown(self):
        self.site.close()

    def assertMessage(self, resp, key, skin="default"):
        self.assertEqual(resp.status, 1, resp.raw)
        self.assertEqual(resp.header("Content-type"), ["text/html"], resp.raw)
        self.assertTrue(resp.text.startswith(skin + "|[%s]|" % key), resp.text)

    def test_checks_and_their_keys(self):
        cases = [
            ("no board id", {}, "msg40"),
            ("only other fields", {"style": "1", "page": "2"}, "msg40"),
            ("unknown board", {"bid": "nosuch"}, "msg11"),
            ("board id with a path", {"bid": "../tech"}, "msg11"),
            ("board id with a slash", {"bid": "a/b"}, "msg11"),
            ("old-log id with a path", {"bid": "tech=../../x"}, "msg51"),
            ("missing old log", {"bid": "tech=2005"}, "msg51"),
            ("id not digits", {"bid": "tech", "id": "12a"}, "msg98"),
            ("pid not digits", {"bid": "tech", "pid": "../1"}, "msg98"),
            ("ppid not digits", {"bid": "tech", "ppid": "1 2"}, "msg98"),
            ("skin with ..", {"bid": "tech", "skin": "skin/../skin/blue"}, "msg17"),
            ("skin ./data", {"bid": "tech", "skin": "./data/tech"}, "msg17"),
            ("skin skin/../data", {"bid": "tech", "skin": "skin/../data/tech"}, "msg17"),
            ("skin data//", {"bid": "tech", "skin": "data//tech"}, "msg17"),
            ("skin with a backslash", {"bid": "tech", "skin": "skin\\blue"}, "msg17"),
            ("skin url of another host", {"bid": "tech", "skin": "skin/blue=https://evil.example/x"},
             "msg17"),
            ("own skin, url of another host",
             {"bid": "tech", "skin": "skin/default=https://evil.example/x"}, "msg17"),
            ("skin url without scheme", {"bid": "tech", "skin": "skin/blue=//evil.example/x"}, "msg17"),
            ("skin url folded", {"bid": "tech", "skin": "skin/blue=https:/evil.example/x"}, "msg17"),
            ("skin url backslash", {"bid": "tech", "skin": "skin/blue=/\\evil.example/x"}, "msg17"),
            ("skin url dots", {"bid": "tech", "skin": "skin/blue=/a/../../x"}, "msg17"),
            ("skin url escaped dots", {"bid": "tech", "skin": "skin/blue=/a/%2e%2e/x"}, "msg17"),
            ("absolute skin", {"bid": "tech", "skin": "/etc"}, "msg17"),
            ("skin under data", {"bid": "tech", "skin": "data/tech"}, "msg17"),
            ("skin url with a quote", {"bid": "tech", "skin": 'skin/blue="><script>'}, "msg17"),
            ("missing skin", {"bid": "tech", "skin": "skin/none"}, "msg17"),
        ]
        for label, query, key in cases:
            with self.subTest(label):
                self.assertMessage(self.site.run(query=query), key)

    def test_malformed_ids_end_the_request_before_any_write(self):
        os.makedirs(self.site.path("data/tech"), exist_ok=True)
        before = sorted(os.listdir(self.site.path("data/tech")))
        resp = self.site.run(method="POST", body={"bid": "tech", "submit_wri.x": "1",
                                                   "ppid": "../../x", "name": "n"})
        self.assertMessage(resp, "msg98")
        self.assertEqual(sorted(os.listdir(self.site.path("data/tech"))), before)

    def test_oversized_or_malformed_body_length(self):
        for length in ["%d" % (64 * 1024 * 1024 + 1), "12abc", "-5x"]:
            with self.subTest(length):
                resp = self.site.run(query="bid=tech", method="POST", body=b"",
                                     env={"CONTENT_LENGTH": length})
                self.assertMessage(resp, "msg24")

    def test_incomplete_board_settings(self):
        self.site.add_board("nodata", datadir="")
        self.site.add_board("notitle", bbs_title="")
        for bid in ("nodata", "notitle"):
            with self.subTest(bid):
                self.assertMessage(self.site.run(query={"bid": bid}), "msg14")

    def test_missing_template(self):
        os.unlink(self.site.path("skin/blue/templ_ico.html"))
        self.assertMessage(self.site.run(query={"bid": "tech", "skin": "skin/blue"}), "msg18",
                           skin="default")

    def test_locked_settings(self):
        with HeldLock(self.site.path("lockfile.lock")):
            self.assertMessage(self.site.run(query={"bid": "tech"}), "msg90")
        # A reader's shared lock does not refuse another reader.
        with HeldLock(self.site.path("lockfile.lock"), shared=True):
            self.assertEqual(self.site.run(query={"bid": "tech"}).status, 0)

    def test_old_log_selects_its_directory(self):
        os.makedirs(self.site.path("data/tech/old/2005"))
        resp = self.site.run(query={"bid": "tech=2005"})
        self.assertEqual(resp.status, 0, resp.raw)
        # "tech=" is the current log.
        self.assertEqual(self.site.run(query={"bid": "tech="}).status, 0)

    def test_skin_field_sets_directory_and_url(self):
        # The missing old log raises its message after the skin is chosen,
        # so the page shows the skin and the return link carries it.
        resp = self.site.run(query={"bid": "tech=none", "skin": "skin/blue=/img/blue"})
        self.assertMessage(resp, "msg51", skin="blue")
        self.assertIn("?bid=tech=none&amp;skin=skin/blue/=/img/blue/&amp;style=0&amp;page=0"
                      .replace("&amp;", "&"), resp.text)

    def test_skin_url_derived_from_script_directory(self):
        resp = self.site.run(query={"bid": "tech=none", "skin": "skin/blue"},
                             env={"DOCUMENT_ROOT": "/srv/www"})
        self.assertIn("&skin=skin/blue/=/cgi-bin/skin/blue/&", resp.text)

    def test_mobile_table(self):
        self.site.write_settings("default.keit", {"DoCoMo": "skin/mobile", "page_ppnum": "5"})
        ua = {"HTTP_USER_AGENT": "DoCoMo/2.0 N905i"}
        # The mobile skin wins over the skin field.
        resp = self.site.run(query={"bid": "tech=none", "skin": "skin/blue"}, env=ua)
        self.assertMessage(resp, "msg51", skin="mobile")
        # A board's own table replaces default.keit.
        self.site.write_settings("data/tech.keit", {"KDDI": "skin/blue=/b"})
        resp = self.site.run(query={"bid": "tech=none"}, env=ua)
        self.assertMessage(resp, "msg51", skin="default")
        resp = self.site.run(query={"bid": "tech=none"}, env={"HTTP_USER_AGENT": "KDDI-SA31"})
        self.assertMessage(resp, "msg51", skin="blue")
        self.assertIn("&skin=skin/blue/=/b/&", resp.text)

    def test_deny_list(self):
        # 127.0.0.1 resolves to "localhost"; 192.0.2.10 has no reverse name.
        cases = [
            ("address prefix", "192.0.2.", "192.0.2.10", {}, True),
            ("longer address", "192.0.2.100", "192.0.2.10", {}, False),
            # A whole address names that address only, not every address
            # it is the start of.
            ("whole address", "192.0.2.10", "192.0.2.10", {}, True),
            ("whole address, longer client", "192.0.2.1", "192.0.2.10", {}, False),
            ("IPv6 whole address, longer client", "2001:db8::1", "2001:db8::10", {}, False),
            ("IPv6 whole address, other spelling", "2001:DB8:0::10", "2001:db8::10", {}, True),
            ("other prefix", "10.0.", "192.0.2.10", {}, False),
            ("host suffix", "LOCALHOST", "127.0.0.1", {}, True),
            ("allowed host suffix", "!.jp", "127.0.0.1", {}, True),
            ("allowed host suffix matches", "!host", "127.0.0.1", {}, False),
            ("allowed host, unknown host", "!.jp", "192.0.2.10", {}, False),
            ("entry longer than the host", "!example.jp", "127.0.0.1", {}, False),
            ("proxy by Via", "proxy", "192.0.2.10", {"HTTP_VIA": "1.1 cache"}, True),
            ("proxy, no Via", "proxy", "192.0.2.10", {}, False),
            ("no-host", "no-host", "192.0.2.10", {}, True),
            ("no-host, known host", "no-host", "127.0.0.1", {}, False),
            ("IPv6 prefix", "2001:db8:", "2001:db8::10", {}, True),
            ("IPv6 prefix, other case", "2001:DB8:", "2001:db8::10", {}, True),
            ("IPv6 other prefix", "2001:db9:", "2001:db8::10", {}, False),
            ("IPv6 whole address", "::1", "::1", {}, True),
            ("IPv4 prefix, IPv6 client", "192.0.2.", "2001:db8::10", {}, False),
        ]
        self.site.add_board("tech", skindir="skin/default/", denyfile="deny.txt")
        for label, words, addr, env, refused in cases:
            with self.subTest(label):
                self.site.write("deny.txt", "# list\n" + words + "\n")
                env = dict(env, REMOTE_ADDR=addr)
                resp = self.site.run(query={"bid": "tech"}, env=env)
                if refused:
                    self.assertEqual((resp.status, resp.raw), (1, b""))
                else:
                    self.assertEqual(resp.status, 0, resp.raw)

    def test_dispatch_runs_one_action(self):
        icons, search, board = "<html>icons</html>", "T[FOUND", "T[]"
        cases = [
            ({"mode": "icon", "word": "x"}, icons),
            ({"word": "x"}, search),
            ({"submit_find.x": "1"}, search),
            ({"submit_next.x": "1", "word": "x"}, board),
            ({"submit_res.x": "1", "word": "x"}, board),
            ({}, board),
        ]
        for query, action in cases:
            with self.subTest(query):
                resp = self.site.run(query=dict(query, bid="tech"))
                self.assertEqual(resp.status, 0, resp.raw)
                self.assertIn(action, resp.text)


if __name__ == "__main__":
    unittest.main()
