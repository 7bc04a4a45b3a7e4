"""Edits and deletions of stored messages: whose password opens them, which
password code an edit leaves behind, what becomes of a message's
attachments, and how each answer of the store reaches the visitor."""
import os
import re
import socket
import unittest

from rukcgi import Site, record
from test_posting import ADMIN, KEYS, BoardCase


class EditPasswordTest(BoardCase):
    def setUp(self):
        super().setUp()
        # "own" is stored as plain text, as the oldest boards did.
        self.store(record("101", pid="100", ppid="100", title="reply", passwd="own"),
                   record("100", title="root", passwd="rootpw"))

    def open_edit(self, mid, passwd):
        return self.site.run(method="POST", body={"bid": "test", "submit_upd.x": "1", "id": mid,
                                                  "passwd": passwd})

    def code(self, mid):
        return next(m["passwd"] for m in self.messages() if m["id"] == mid)

    def test_an_edit_by_the_board_keeps_the_author_password(self):
        self.assertOk(self.post(id="101", title="moderated", passwd=ADMIN))
        self.assertEqual(self.code("101"), "own")
        self.assertOk(self.open_edit("101", "own"))
        self.assertMessage(self.open_edit("101", "wrong"), "msg03")
        self.assertOk(self.delete("101", "own"))

    def test_an_edit_by_the_author_stores_a_fresh_code(self):
        self.assertOk(self.post(id="101", title="by author", passwd="own"))
        code = self.code("101")
        self.assertNotIn(code, ("", "own"))
        self.assertOk(self.open_edit("101", "own"))
        self.assertMessage(self.open_edit("101", "own2"), "msg03")
        # The code stays good for the next edit and the deletion.
        self.assertOk(self.post(id="101", title="again", passwd="own"))
        self.assertOk(self.delete("101", "own"))

    def test_new_posts_store_a_code_of_any_typed_text(self):
        # Typed text shaped like a stored code is hashed like any other.
        for i, passwd in enumerate(["plain", "*abc*", "**", "p w \u3042"]):
            with self.subTest(passwd):
                self.assertOk(self.post(title="t%d" % i, passwd=passwd))
                top = self.messages()[0]
                self.assertNotIn(top["passwd"], ("", passwd))
                self.assertOk(self.open_edit(top["id"], passwd))
                self.assertMessage(self.open_edit(top["id"], passwd + "x"), "msg03")

    def test_messages_that_are_not_stored(self):
        before = self.snapshot()
        cases = [("edit", lambda: self.post(id="555", title="x", passwd=ADMIN)),
                 ("open the edit form", lambda: self.open_edit("555", ADMIN)),
                 ("delete", lambda: self.delete("555", ADMIN))]
        for label, action in cases:
            with self.subTest(label):
                self.assertMessage(action(), "msg66")
        self.assertEqual(self.snapshot(), before)


class EditAttachmentTest(BoardCase):
    def setUp(self):
        super().setUp()
        self.store(record("101", pid="100", ppid="100", title="reply", passwd="r",
                          attach=[("r.txt", "100")]),
                   record("100", title="root", passwd="own",
                          attach=[("a.png", "100"), ("b.pdf", "100"), ("c.txt", "100")]))
        for name in ["a.png", "b.pdf", "c.txt", "r.txt"]:
            self.attach("100", name, name.encode())

    def files(self, mid):
        return next(m["attach"] for m in self.messages() if m["id"] == mid)

    def test_an_edit_keeps_the_stored_files(self):
        # Today's edit without files dropped every attachment of the message.
        self.assertOk(self.post(id="100", title="typo fixed", passwd="own"))
        self.assertEqual(self.files("100"), [("a.png", "100"), ("b.pdf", "100"), ("c.txt", "100")])
        self.assertEqual(sorted(os.listdir(self.site.path("data/test/100"))),
                         ["a.png", "b.pdf", "c.txt", "r.txt"])
        self.assertEqual(self.site.read("data/test/100/b.pdf"), b"b.pdf")

    def test_ticked_files_go_and_new_ones_join(self):
        self.assertOk(self.post(id="100", title="edited", passwd=ADMIN, delattach0="1",
                                delattach2="1", delattach7="1",
                                files=[("file0", "d.jpg", b"d"), ("file1", "r.txt", b"new r")]))
        # The reply's name is taken in the thread: the new file is numbered.
        self.assertEqual(self.files("100"), [("b.pdf", "100"), ("d.jpg", "100"),
                                             ("r-2.txt", "100")])
        self.assertEqual(sorted(os.listdir(self.site.path("data/test/100"))),
                         ["b.pdf", "d.jpg", "r-2.txt", "r.txt"])
        self.assertEqual(self.site.read("data/test/100/r.txt"), b"r.txt")
        self.assertEqual(self.site.read("data/test/100/r-2.txt"), b"new r")
        self.assertEqual(self.files("101"), [("r.txt", "100")])

    def test_a_reply_file_named_like_one_of_its_thread_is_numbered(self):
        # It was refused before.
        self.assertOk(self.post(pid="101", ppid="100", title="re",
                                files=[("file0", "a.png", b"mine")]))
        top = self.messages()[0]
        self.assertEqual(top["attach"], [("a-2.png", "100")])
        self.assertEqual(self.site.read("data/test/100/a.png"), b"a.png")
        self.assertEqual(self.site.read("data/test/100/a-2.png"), b"mine")


class StoreAnswerTest(BoardCase):
    """Every answer of the store reaches the visitor as its catalogue page,
    with nothing stored."""

    def setUp(self):
        super().setUp()
        self.site.write("dat-message.dat",
                        "".join("%s=[%s]\n" % (k, k) for k in KEYS if k != "msg60")
                        + "msg60=[msg60]%WAIT%\n")

    def test_posting_rate_per_client(self):
        # One post per post_interval seconds, and at most post_burst posts
        # in ten minutes, from any one address.
        cases = [({"post_interval": "60", "post_burst": "10"}, 1, 60),
                 ({"post_interval": "0", "post_burst": "2"}, 2, 600)]
        for limits, allowed, longest in cases:
            with self.subTest(limits):
                self.site.write("data/test/bbs-rate.dat", "")
                self.site.add_board("test", skindir="skin/t/", **limits)
                for i in range(allowed):
                    self.assertOk(self.post(title="burst %s %d" % (limits, i)))
                before = self.snapshot()
                resp = self.post(title="one too many %s" % limits)
                self.assertEqual(resp.status, 1, resp.raw)
                wait = int(re.match(r"info\|\[msg60\](\d+)\|", resp.text).group(1))
                self.assertTrue(1 <= wait <= longest, wait)
                self.assertEqual(self.snapshot(), before)
                # Another client posts.
                self.assertOk(self.post(title="other client %s" % limits,
                                        env={"REMOTE_ADDR": "192.0.2.%d" % (70 + allowed)}))
        # A board without the settings has no limit.
        self.site.add_board("test", skindir="skin/t/")
        self.assertOk(self.post(title="no limit"))
        self.assertOk(self.post(title="no limit again"))

    def test_refusals_of_the_store(self):
        self.store(record("100", title="root", name="nm", mess="body", passwd="own"))
        cases = [("reply to a message that is gone", dict(pid="999", ppid="999"), "msg99"),
                 ("the same post again", dict(title="root"), "msg25")]
        before = self.snapshot()
        for label, fields, key in cases:
            with self.subTest(label):
                self.assertMessage(self.post(**fields), key)
                self.assertEqual(self.snapshot(), before)


class PosterAddressTest(BoardCase):
    def test_the_address_is_stored_and_never_shown(self):
        resp = self.post(title="from afar", env={"REMOTE_ADDR": "198.51.100.7"})
        self.assertOk(resp)
        self.assertIn(b"198.51.100.7", self.site.read("data/test/bbs-message.dat"))
        for page in [resp, self.site.run(query="bid=test"),
                     self.site.run(query="bid=test&submit_res.x=1&id=%s" % self.ids()[0])]:
            self.assertNotIn("198.51.100.7", page.text)

    def test_a_board_with_a_deny_list_keeps_the_host_name(self):
        try:
            host = socket.gethostbyaddr("127.0.0.1")[0]
        except OSError:
            self.skipTest("127.0.0.1 has no host name here")
        self.site.write("deny.txt", "203.0.113.\n")
        self.site.add_board("test", skindir="skin/t/", denyfile="deny.txt")
        self.assertOk(self.post(title="local", env={"REMOTE_ADDR": "127.0.0.1"}))
        line = self.site.read("data/test/bbs-message.dat")
        self.assertIn(("127.0.0.1 " + host).encode(), line)


class EditAttachFormTest(unittest.TestCase):
    """The edit form of the installed skins lists the message's stored
    attachments, each with a check box of its own to remove it."""

    def setUp(self):
        self.site = Site()
        self.site.write_messages("data/test/", [
            record("101", pid="100", ppid="100", title="plain", passwd="own"),
            record("100", title="root", passwd="own",
                   attach=[("a.png", "100"), ('x"<b>%NAME%.txt', "100")])])

    def tearDown(self):
        self.site.close()

    def form(self, skin, **fields):
        self.site.add_board("test", skindir=skin, passwd=ADMIN)
        body = dict({"bid": "test", "passwd": "own"}, **fields)
        resp = self.site.run(method="POST", body=body)
        self.assertEqual(resp.status, 0, resp.raw)
        page = resp.body.decode("cp932")
        return re.search(r'<form[^>]*enctype="multipart/form-data">(.*?)</form>', page,
                         re.S).group(1)

    def test_stored_attachments_with_their_boxes(self):
        for skin in ["skin/default/", "skin/mobile/"]:
            with self.subTest(skin):
                form = self.form(skin, id="100", **{"submit_upd.x": "1"})
                boxes = re.findall(r'<input type="checkbox" name="(delattach\d+)" value="1">'
                                   r'\s*([^<]*?)\s*\u3092', form)  # を
                self.assertEqual(boxes, [("delattach0", "a.png"),
                                         ("delattach1", "x&quot;&lt;b&gt;%NAME%.txt")])
                self.assertNotIn("<b>", form)
                self.assertNotIn("<!--", form)
                for label, fields in [("new", {"mode": "new"}),
                                      ("reply", {"submit_res.x": "1", "id": "100"}),
                                      ("edit without files", {"submit_upd.x": "1", "id": "101"})]:
                    with self.subTest(skin, form=label):
                        other = self.form(skin, **fields)
                        self.assertNotIn("delattach", other)
                        self.assertNotIn("\u6dfb\u4ed8\u6e08", other)  # 添付済


if __name__ == "__main__":
    unittest.main()
