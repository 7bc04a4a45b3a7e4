"""The attachment viewer: a picture inline, any other file as a link, and
every URL that is not a plain path into a registered board's data
directory refused with a short page."""
import unittest

from rukcgi import Site


class ViewTest(unittest.TestCase):
    def setUp(self):
        self.site = Site(full=False)
        self.site.add_board("test")
        self.site.add_board("far", datadir="boards/far/")
        self.site.add_board("abs", datadir="/tmp/")

    def tearDown(self):
        self.site.close()

    def view(self, url, method="GET"):
        if method == "GET":
            return self.site.run("ruk-view", query={"url": url})
        return self.site.run("ruk-view", method="POST", body={"url": url})

    def test_picture_inline_other_files_as_links(self):
        cases = [
            ("data/test/100/photo.JPG", True),
            ("data/test/100/a.png", True),
            ("boards/far/7/b.gif", True),
            ("data/test/100/notes.txt", False),
            ("data/test/100/archive.zip", False),
        ]
        for url, picture in cases:
            with self.subTest(url):
                resp = self.view(url)
                self.assertEqual(resp.status, 0, resp.raw)
                self.assertEqual(resp.header("Content-type"), ["text/html; charset=Shift_JIS"])
                self.assertEqual('<img src="%s"' % url in resp.text, picture)
                self.assertIn('<a href="%s">' % url, resp.text)
                self.assertIn("window.close()", resp.text)
        self.assertEqual(self.view("data/test/1/x.png", method="POST").status, 0)

    def test_refused_urls(self):
        cases = [
            "", "http://evil.example/x.png", "//evil.example/x.png", "/data/test/1/x.png",
            "../dat-system.dat", "data/test/../../dat-system.dat", "data/test/./1/x.png",
            "data/test//x.png", "javascript:alert(1)", 'data/test/1/x".png',
            "data/test/1/x'.png", "data/test/1/<b>.png", "data/test/1/x>.png",
            "data/test/1/a b.png", "data/test\\1\\x.png", "data/test/1/x.png?y",
            "data/test/1/x%2e.png", "data/test/", "data/test", "data/test.conf",
            "data/other/1/x.png", "skin/default/x.png", "boards/far", "tmp/x.png",
            "data/test/1/\u3042.png",
        ]
        for url in cases:
            with self.subTest(url):
                resp = self.view(url)
                self.assertEqual(resp.status, 1, resp.raw)
                self.assertNotIn("<img", resp.text)
                self.assertNotIn("<a ", resp.text)
                self.assertIn("window.close()", resp.text)

    def test_oversized_body_is_refused(self):
        resp = self.site.run("ruk-view", query={"url": "data/test/1/x.png"}, method="POST",
                             env={"CONTENT_LENGTH": "%d" % (64 * 1024 * 1024 + 1)})
        self.assertEqual(resp.status, 1)
        self.assertNotIn("<img", resp.text)


if __name__ == "__main__":
    unittest.main()
