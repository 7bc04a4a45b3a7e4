"""Edits and deletions of stored messages: whose password opens them, which
password code an edit leaves behind, what becomes of a message's
attachments, and how each answer of the store reaches the visitor."""
import os
import re
import unittest

from rukcgi import Site, record
from test_posting import ADMIN, BoardCase


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
                                         ("delattach1", "x&quot;&lt;b&gt;&#37;NAME&#37;.txt")])
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
