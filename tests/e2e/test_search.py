"""The board's search page: which messages a search finds, the summary
line, the excerpts and the links of the result rows, old logs, and that
visitor text reaches the page escaped."""
import os
import unittest

from rukcgi import HeldLock, Site, per_hex, record
from test_posting import make_site

ELL = "\u2026"  # …


class SearchTest(unittest.TestCase):
    def setUp(self):
        self.site = make_site()
        self.site.write_messages("data/test", [
            record("107", title="a %NAME% b", name="Who", mess="pct %WORD% here"),
            record("106", title="marks", mess="x <i>\"q'& y\n<script>apple</script>"),
            record("105", title="apple in title", mess="nothing here"),
            record("104", title="one", mess="only apple"),
            record("103", title="last", mess="a\nlast apple"),
            record("102", pid="100", ppid="100", title="first", mess="apple first\nrest"),
            record("101", title="Capital", mess="Apple"),
            record("100", title="fruit", mess="one\ntwo\nthird pie apple\nfour\nfive",
                   mail="pie@example.jp"),
        ])

    def tearDown(self):
        self.site.close()

    def search(self, word, **fields):
        query = {"bid": "test", "word": word}
        query.update(fields)
        resp = self.site.run(query=query)
        self.assertEqual(resp.status, 0, resp.raw)
        return resp.text

    def rows(self, text):
        return [r.split("}")[0] for r in text.split("{R ")[1:]]

    def test_hits_summary_and_excerpts(self):
        text = self.search("apple")
        self.assertIn("FOUND[6][apple][0][0]", text)
        self.assertIn("HEAD(apple)", text)
        self.assertEqual(self.rows(text), [
            "106 106 marks [" + ELL + "&lt;script&gt;apple&lt;/script&gt;] w=apple",
            "105 105 apple in title [] w=apple",
            "104 104 one [only apple] w=apple",
            "103 103 last [" + ELL + "last apple] w=apple",
            "102 100 first [apple first" + ELL + "] w=apple",
            "100 100 fruit [" + ELL + "third pie apple" + ELL + "] w=apple",
        ])

    def test_words_and_fields(self):
        cases = [
            # words, ids found
            ("apple pie", ["100"]),        # both words, in any field
            ("pie@example.jp", ["100"]),   # the address takes part
            ("Apple", ["101"]),            # case counts
            ("apple missing", []),
            ("two\nthree", []),
        ]
        for word, ids in cases:
            with self.subTest(word):
                text = self.search(word)
                self.assertIn("FOUND[%d][" % len(ids), text)
                self.assertEqual([r.split()[0] for r in self.rows(text)], ids)
                self.assertEqual("HEAD(" in text, bool(ids))

    def test_words_split_at_the_ideographic_space(self):
        # A Japanese keyboard types the blank as U+3000; a trail byte 0x81
        # followed by "@" is no blank.
        self.site.write_messages("data/test", [
            record("201", title="neko", mess="\u732b\u30bd\u30e9 apple"),
            record("200", title="mark", mess="\u51f5@example"),
        ])
        cases = [
            ("\u732b\u3000apple", ["201"]),
            ("\u3000\u732b\u3000\u3000apple\u3000", ["201"]),
            ("\u51f5@example", ["200"]),
            ("\u3000", []),
        ]
        for word, ids in cases:
            with self.subTest(word):
                text = self.search(word)
                self.assertEqual([r.split()[0] for r in self.rows(text)], ids)

    def test_typed_text_plain_in_summary_encoded_in_links(self):
        text = self.search("  apple pie ")
        self.assertIn("FOUND[1][apple pie][", text)
        self.assertIn("HEAD(apple+pie)", text)
        self.assertTrue(self.rows(text)[0].endswith("w=apple+pie"))

    def test_visitor_text_is_escaped(self):
        word = "<i>\"q'&"
        text = self.search(word)
        self.assertIn("FOUND[1][&lt;i&gt;&quot;q&#39;&][", text)
        self.assertEqual(self.rows(text),
                         ["106 106 marks [x &lt;i&gt;&quot;q&#39;& y" + ELL + "] w="
                          + per_hex(word).decode()])
        self.assertNotIn("<i>", text)
        self.assertNotIn("<script>", text)
        # Tags inside visitor text stay text.
        self.assertEqual(self.rows(self.search("pct")),
                         ["107 107 a %NAME% b [pct %WORD% here] w=pct"])
        self.assertIn("FOUND[0][%NUM%][0]", self.search("%NUM%"))

    def test_no_search_and_no_data(self):
        text = self.search("   ")
        self.assertIn("FOUND[0][][0][0]", text)
        self.assertEqual((self.rows(text), "HEAD(" in text), ([], False))
        # A thread asked for without a search has nothing loaded to show.
        self.assertIn("FOUND[0][]", self.search("", ppid="100"))
        self.site.add_board("empty", skindir="skin/t/")
        resp = self.site.run(query={"bid": "empty", "submit_find.x": "1", "word": "apple"})
        self.assertIn("FOUND[-1][apple]", resp.text)

    def test_open_thread_under_the_summary(self):
        text = self.search("apple", ppid="100", style="1")
        self.assertIn("FOUND[6][apple][0][1]", text)
        self.assertIn("{P 100 fruit #m ", text)
        self.assertIn("{C 102 first }", text)

    def test_old_log(self):
        os.makedirs(self.site.path("data/test/old/2005"))
        self.site.write_messages("data/test/old/2005", [record("50", title="archived",
                                                               mess="old apple")])
        text = self.search("apple", bid="test=2005")
        self.assertIn("OLD(2005)", text)
        self.assertIn("FOUND[1][apple]", text)
        self.assertEqual(self.rows(text), ["50 50 archived [old apple] w=apple"])

    def test_search_box_shows_the_words_again(self):
        site = Site()
        try:
            site.add_board("full", skindir="skin/default/")
            site.write_messages("data/full", [record("300", title="t", mess="apple pie")])
            for word in ["apple \u3000pie", "\"><script>x</script>"]:
                resp = site.run(query={"bid": "full", "word": word})
                self.assertEqual(resp.status, 0, resp.raw)
                shown = word.strip().replace("&", "&amp;").replace("<", "&lt;") \
                    .replace(">", "&gt;").replace('"', "&quot;")
                self.assertIn('name="word" value="%s"' % shown, resp.text)
            # An ordinary page has an empty box.
            self.assertIn('name="word" value=""', site.run(query={"bid": "full"}).text)
        finally:
            site.close()

    def test_locked_board(self):
        with HeldLock(self.site.path("data/test/lockfile.lock")):
            resp = self.site.run(query={"bid": "test", "word": "apple"})
        self.assertEqual(resp.status, 1)
        self.assertTrue(resp.text.startswith("info|[msg90]|"), resp.text)


if __name__ == "__main__":
    unittest.main()
