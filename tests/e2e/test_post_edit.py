"""Edits and deletions of stored messages: whose password opens them, which
password code an edit leaves behind, what becomes of a message's
attachments, and how each answer of the store reaches the visitor."""
import os
import unittest

from rukcgi import record
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


if __name__ == "__main__":
    unittest.main()
