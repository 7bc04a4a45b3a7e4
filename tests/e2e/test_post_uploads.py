"""Attachments by allow-list: which uploads are stored, under which name,
and that a refused one leaves nothing behind."""
import os
import unittest

from test_posting import BoardCase

# Every extension the board stores, as a web server must serve it.
ALLOWED = ("jpg jpeg png gif webp avif bmp heic heif pdf txt zip lzh 7z gz tgz bz2 xz tar rar "
           "mp3 m4a aac wav ogg oga flac opus mp4 m4v mov webm ogv").split()


class UploadTest(BoardCase):
    def upload(self, name, data=b"<?php system($_GET['c']); ?>", title=None):
        return self.post(title=title or "t " + name, files=[("file0", name, data)])

    def stored_names(self):
        return [a for m in self.messages() for a, _ in m["attach"]]

    def test_only_listed_kinds_are_stored(self):
        refused = [
            # Run by a web server with PHP or CGI, or rendered as the site's page.
            "x.phar", "x.pht", "x.php7", "x.php", "x.PHP5", "x.phtml", "x.cgi", "x.pl",
            "x.xht", "x.xhtml", "x.xml", "x.xsl", "x.mht", "x.hta", "x.shtm", "x.shtml",
            "x.html", "x.svg", "x.svgz", "x.js", "x.mjs", "x.htaccess", ".htaccess",
            "x.json", "x.exe", "x.jpg.php", "x.jpgx", "noextension", "jpg",
            # Names a server or a system would cut to another kind.
            "x.php.", "x.jpg.", "x.jpg ", "x.php ", "x.jpg\u3000", ".",
        ]
        for name in refused:
            with self.subTest(name):
                self.assertMessage(self.upload(name), "msg23")
        self.assertEqual(self.snapshot(), {})
        for ext in ALLOWED + ["JPG", "Png"]:
            with self.subTest(ext):
                self.assertOk(self.upload("f." + ext, b"ok"))
        self.assertEqual(sorted(self.stored_names()),
                         sorted("f." + ext for ext in ALLOWED + ["jpg", "png"]))

    def test_names_outside_the_safe_set_are_stored_under_safe_names(self):
        cases = [
            ("\u732b\u306e\u5199\u771f.png", "file.png"),  # 猫の写真.png
            ("\u732b 2.PNG", "2.png"),
            ("my photo.jpg", "my_photo.jpg"),
            ("a  ;;b.txt", "a_b.txt"),
            ("a.php.jpg", "a_php.jpg"),
            ("x.tar.gz", "x_tar.gz"),
            (".jpg", "file.jpg"),
            ("..jpg", "file.jpg"),
            ("__-__.pdf", "file.pdf"),
            ("Read_me-1.txt", "Read_me-1.txt"),
            ("%s.txt" % ("\u3042" * 100), "file.txt"),
            ("%s.txt" % ("a" * 300), "%s.txt" % ("a" * 64)),
        ]
        for i, (sent, stored) in enumerate(cases):
            with self.subTest(sent):
                self.assertOk(self.upload(sent, b"d%d" % i, title="n%d" % i))
                top = self.messages()[0]
                self.assertEqual(top["attach"], [(stored, top["id"])])
                self.assertEqual(self.site.read("data/test/%s/%s" % (top["id"], stored)),
                                 b"d%d" % i)

    def test_two_files_of_one_post_made_alike_are_numbered(self):
        self.assertOk(self.post(files=[("file0", "\u732b.jpg", b"1"), ("file1", "\u72ac.jpg", b"2"),
                                       ("file2", "file.jpg", b"3")]))
        top = self.messages()[0]
        self.assertEqual([a for a, _ in top["attach"]], ["file.jpg", "file-2.jpg", "file-3.jpg"])
        self.assertEqual([self.site.read("data/test/%s/%s" % (top["id"], a))
                          for a, _ in top["attach"]], [b"1", b"2", b"3"])

    def test_the_upload_limit_is_stated_as_people_read_it(self):
        self.site.write("dat-message.dat", "msg72=LIMIT(%LIMIT%)\n")
        cases = [("1", "1KB"), ("500", "500KB"), ("1024", "1MB"), ("1536", "1536KB"),
                 ("10240", "10MB")]
        for size, text in cases:
            with self.subTest(size):
                self.site.add_board("test", skindir="skin/t/", attach_size=size)
                resp = self.upload("big.txt", b"z" * (int(size) * 1024 + 1024))
                self.assertEqual(resp.status, 1, resp.text)
                self.assertIn("LIMIT(%s)" % text, resp.text)
        self.assertEqual(self.snapshot(), {})

    def test_a_board_without_attachments_stores_no_file(self):
        cases = [("turned off", {"use_attach": "0"}, False),
                 ("saved unchecked", {"use_attach": ""}, False),
                 ("turned on", {"use_attach": "1"}, True),
                 ("never set", {}, True)]
        for i, (label, board, stored) in enumerate(cases):
            with self.subTest(label):
                self.site.add_board("test", skindir="skin/t/", attach_size="100", **board)
                self.assertOk(self.upload("f%d.jpg" % i, b"jpeg", title="u%d" % i))
                top = self.messages()[0]
                self.assertEqual(top["title"], "u%d" % i)
                self.assertEqual(top["attach"] != [], stored)
                self.assertEqual(os.path.exists(self.site.path("data/test", top["id"])), stored)


if __name__ == "__main__":
    unittest.main()
