"""Page titles of the installed skins: the board's name, with the thread
that is open, the search or the icon list in front, escaped."""
import os
import re
import unittest

from rukcgi import Site, record

BOARD = "\u63b2\u793a\u677f<b>"  # 掲示板<b>
BOARD_HTML = "\u63b2\u793a\u677f&lt;b&gt;"
SAKURA = "\u685c"  # 桜
OLD = "\u904e\u53bb\u30ed\u30b0\u300c2005\u300d"  # 過去ログ「2005」
SEARCH = "\u691c\u7d22"  # 検索
RESULTS = "\u691c\u7d22\u7d50\u679c\u300c%s\u300d"  # 検索結果「%s」
ICONS = "\u30a2\u30a4\u30b3\u30f3\u4e00\u89a7"  # アイコン一覧


class PageTitleTest(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.site.add_board("test", bbs_title=BOARD, user_header="HEADER")
        self.site.write_settings("data/test.keit", {"DoCoMo": "skin/mobile", "page_ppnum": "5"})
        self.site.write_messages("data/test", [
            record("200", title="</title><script>x()</script> %USER_HEADER%"),
            record("100", title=SAKURA)])
        os.makedirs(self.site.path("data/test/old/2005"))
        self.site.write_messages("data/test/old/2005", [record("300", title="archived")])

    def tearDown(self):
        self.site.close()

    def title(self, query, mobile, method="GET", body=b""):
        env = {"HTTP_USER_AGENT": "DoCoMo/2.0"} if mobile else {}
        resp = self.site.run(query=query, env=env, method=method, body=body)
        self.assertEqual(resp.status, 0, resp.text)
        titles = re.findall(r"<title>(.*?)</title>", resp.text, re.S)
        self.assertEqual(len(titles), 1, resp.text[:400])
        return titles[0]

    def test_titles(self):
        cases = [
            ("board", "bid=test", BOARD_HTML),
            ("open thread", "bid=test&style=1&ppid=100", SAKURA + " - " + BOARD_HTML),
            ("hostile thread title", "bid=test&style=1&ppid=200",
             "&lt;/title&gt;&lt;script&gt;x()&lt;/script&gt; %USER_HEADER% - "
             + BOARD_HTML),
            ("gone thread", "bid=test&style=1&ppid=999", BOARD_HTML),
            ("reply form", "bid=test&submit_res.x=1&id=100", SAKURA + " - " + BOARD_HTML),
            ("new form", "bid=test&mode=new", BOARD_HTML),
            ("search", "bid=test&word=%8D%F7",  # 桜 in Shift_JIS
             RESULTS % SAKURA + " - " + BOARD_HTML),
            ("hostile search", "bid=test&word=%3C%2Ftitle%3E",
             RESULTS % "&lt;/title&gt;" + " - " + BOARD_HTML),
            ("empty search", "bid=test&submit_find.x=1&word=", SEARCH + " - " + BOARD_HTML),
            ("icons", "bid=test&mode=icon", ICONS + " - " + BOARD_HTML),
            ("old log", "bid=test=2005", OLD + " - " + BOARD_HTML),
            ("old log thread", "bid=test=2005&style=1&ppid=300",
             "archived - " + OLD + " - " + BOARD_HTML),
        ]
        for mobile in [False, True]:
            for label, query, want in cases:
                with self.subTest(label, mobile=mobile):
                    if mobile and "style=1" in query:
                        # A phone lists messages one by one and opens no
                        # thread: the page is the board's (or old log's).
                        want = want.split(" - ", 1)[1] if "2005" in query else BOARD_HTML
                    self.assertEqual(self.title(query, mobile), want)



class AdminPageTitleTest(unittest.TestCase):
    """A board's title holding the tags of the administration's pages is
    shown as typed on them: each page is filled once, so the title takes
    neither the header nor the form token."""

    HOST = "bbs.example.jp"
    TITLE = "T %USER_HEADER% %TOKEN% <b>"
    TITLE_HTML = "T %USER_HEADER% %TOKEN% &lt;b&gt;"

    def setUp(self):
        self.site = Site()
        self.site.add_board("test", bbs_title=self.TITLE, user_header="HEADER", passwd="bpw")

    def tearDown(self):
        self.site.close()

    def admin(self, query="", method="GET", body=b"", cookie=""):
        env = {"HTTP_HOST": self.HOST, "HTTP_COOKIE": cookie}
        if method == "POST":
            env["HTTP_ORIGIN"] = "http://" + self.HOST
        return self.site.run(program="ruk-config", query=query, method=method, body=body,
                             env=env)

    def login(self):
        page = self.admin("bid=test")
        login = re.search(r"ruk_login=([0-9a-f]+)", "\n".join(page.header("Set-Cookie")))
        token = re.search(r'name="token" value="([0-9a-f]+)"', page.text).group(1)
        resp = self.admin(method="POST", cookie="ruk_login=" + login.group(1),
                          body={"submit_login": "1", "bid": "test", "passwd": "bpw",
                                "token": token})
        session = re.search(r"ruk_session=([0-9a-f]+)", "\n".join(resp.header("Set-Cookie")))
        self.assertIsNotNone(session, resp.text[:400])
        return "ruk_session=" + session.group(1)

    def test_titles(self):
        cookie = self.login()
        for query in ["bid=test", "bid=test&mode=icon", "bid=test&mode=kako",
                      "bid=test&mode=mod"]:
            with self.subTest(query):
                resp = self.admin(query, cookie=cookie)
                self.assertEqual(resp.status, 0, resp.text[:400])
                title = re.search(r"<title>(.*?)</title>", resp.text, re.S).group(1)
                self.assertTrue(title.endswith(" - " + self.TITLE_HTML), title)


if __name__ == "__main__":
    unittest.main()
