"""Who a post says it is from: trip codes made from a key typed after the
name (the key never stored, a typed "◆" never taken for a code), the
board's reserved administrator name, and the posting password of a
members-only board in a field of its own."""
import ctypes
import ctypes.util
import os
import re
import unittest
import urllib.parse

from rukcgi import Site, record
from test_posting import ADMIN, BoardCase

DIAMOND, WHITE = "\u25c6", "\u25c7"  # ◆ ◇
ADMIN_NAME = "\u7ba1\u7406\u4eba"  # 管理人
TARO = "\u592a\u90ce"  # 太郎


def classic_trips():
    """True when this libcrypt makes DES codes (so trips are the classic
    ones); the program falls back to another code without it."""
    path = ctypes.util.find_library("crypt")
    if not path:
        return False
    lib = ctypes.CDLL(path)
    lib.crypt_checksalt.argtypes = [ctypes.c_char_p]
    return lib.crypt_checksalt(b"H.") in (0, 3)  # CRYPT_SALT_OK, CRYPT_SALT_METHOD_LEGACY


class TripTest(BoardCase):
    def stored_name(self):
        return self.messages()[0]["name"]

    def test_a_key_becomes_its_code_and_is_never_stored(self):
        resp = self.post(name=TARO + "#istrip", cookie="1")
        self.assertOk(resp)
        name = self.stored_name()
        self.assertTrue(re.fullmatch(TARO + DIAMOND + r"[./0-9A-Za-z]{10}", name), name)
        if classic_trips():
            self.assertEqual(name, TARO + DIAMOND + "/WG5qp963c")
        self.assertNotIn(b"istrip", self.site.read("data/test/bbs-message.dat"))
        self.assertNotIn("istrip", resp.text)
        # The visitor's own browser remembers the name as typed, so the
        # next post signs the same way; that answer is private.
        cookies = " ".join(resp.header("Set-Cookie"))
        self.assertIn("name=" + urllib.parse.quote((TARO + "#istrip").encode("cp932")), cookies)
        self.assertEqual(resp.header("Cache-Control"), ["no-store"])
        # The same key always gives the same code; another key another.
        self.assertOk(self.post(name="x#istrip", title="2"))
        self.assertEqual(self.stored_name()[1:], name[len(TARO):])
        self.assertOk(self.post(name="x#istrip2", title="3"))
        self.assertNotEqual(self.stored_name()[1:], name[len(TARO):])

    def test_the_key_stays_out_of_the_trace_log(self):
        self.site.write_system({"opt_trace": "1", "attach_max": "3"})
        for mark in ["#", "\uff03"]:  # # and ＃
            with self.subTest(mark):
                self.assertOk(self.post(name=TARO + mark + "istrip", title=mark, cookie="1"))
        log = self.site.read("ruk-bbs.cgi.log")
        self.assertIn(TARO.encode("cp932"), log)
        self.assertNotIn(b"istrip", log)

    def test_nobody_can_type_a_code(self):
        cases = [
            # typed, stored
            (TARO + DIAMOND + "/WG5qp963c", TARO + WHITE + "/WG5qp963c"),
            (DIAMOND + "#", WHITE),
            (TARO + "#", TARO),
            ("\u30e1\u6f01", "\u30e1\u6f01"),  # メ漁: bytes 81 9F across two characters
        ]
        for i, (typed, stored) in enumerate(cases):
            with self.subTest(typed):
                self.assertOk(self.post(name=typed, title="t%d" % i))
                self.assertEqual(self.stored_name(), stored)

    def test_an_edit_keeps_the_code_it_was_shown(self):
        self.assertOk(self.post(name=TARO + "#istrip", passwd="own"))
        first = self.messages()[0]
        # The edit form shows the stored name; sent back unchanged it stays.
        self.assertOk(self.post(id=first["id"], name=first["name"], title="e1", passwd="own"))
        self.assertEqual(self.stored_name(), first["name"])
        # Typed anew with a key, it is signed anew; changed by hand, its
        # "◆" is no code.
        self.assertOk(self.post(id=first["id"], name="y#istrip", title="e2", passwd="own"))
        self.assertEqual(self.stored_name(), "y" + first["name"][len(TARO):])
        forged = "z" + first["name"][len(TARO):]
        self.assertOk(self.post(id=first["id"], name=forged, title="e3", passwd="own"))
        self.assertEqual(self.stored_name(), forged.replace(DIAMOND, WHITE))

    def test_a_remembered_key_keeps_the_form_private(self):
        cookie = "name=" + urllib.parse.quote((TARO + "#istrip").encode("cp932"))
        self.site.write("skin/t/templ_bbs.html",
                        "<html><!--INPUT_FORM-->[%NAME%]<!--/INPUT_FORM--><!--DATA_TABLE-->"
                        "<!--/DATA_TABLE--><!--DATA_TITLE--><!--/DATA_TITLE--></html>")
        for label, name, private in [("key", cookie, True), ("plain", "name=x", False)]:
            with self.subTest(label):
                resp = self.site.run(query="bid=test&mode=new", env={"HTTP_COOKIE": name})
                self.assertEqual(resp.header("Cache-Control"),
                                 ["no-store"] if private else ["private, no-cache"])


class AdminNameTest(BoardCase):
    board = {"admin_name": ADMIN_NAME}

    def test_the_reserved_name_needs_the_board_password(self):
        cases = [
            # label, name, password, stored name or None when refused
            ("as set", ADMIN_NAME, "pw", None),
            ("blanks around", " \u3000" + ADMIN_NAME + "\u3000 ", "pw", None),
            ("with a key", ADMIN_NAME + "#key", "pw", None),
            ("with a typed code", ADMIN_NAME + DIAMOND + "/WG5qp963c", "pw", None),
            ("longer name", ADMIN_NAME + "\u3055\u3093", "pw", ADMIN_NAME + "\u3055\u3093"),
            ("blank inside", "\u7ba1 \u7406\u4eba", "pw", "\u7ba1 \u7406\u4eba"),
            ("board password", ADMIN_NAME, ADMIN, ADMIN_NAME),
            ("board password, key", ADMIN_NAME + "#k", ADMIN, ADMIN_NAME + DIAMOND),
        ]
        for i, (label, name, passwd, stored) in enumerate(cases):
            with self.subTest(label):
                before = self.snapshot()
                resp = self.post(name=name, passwd=passwd, title="t%d" % i)
                if stored is None:
                    self.assertMessage(resp, "msg73")
                    self.assertEqual(self.snapshot(), before)
                else:
                    self.assertOk(resp)
                    self.assertTrue(self.messages()[0]["name"].startswith(stored))

    def test_the_refusal_names_the_reserved_name(self):
        self.site.write("dat-message.dat", "msg73=RESERVED(%NAME%)\n")
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN,
                            admin_name="<b>" + ADMIN_NAME)
        resp = self.post(name="<b>" + ADMIN_NAME)
        self.assertIn("RESERVED(&lt;b&gt;%s)" % ADMIN_NAME, resp.text)

    def test_guesses_through_the_reserved_name_count(self):
        for i in range(10):
            self.assertMessage(self.post(name=ADMIN_NAME, passwd="guess%d" % i, title="g%d" % i),
                               "msg73")
        self.assertMessage(self.post(name=ADMIN_NAME, passwd=ADMIN), "msg65")
        self.assertEqual(self.ids(), [])

    def test_a_board_without_the_setting_reserves_nothing(self):
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN)
        self.assertOk(self.post(name=ADMIN_NAME))


class PostingPasswordTest(BoardCase):
    board = {"write_passwd": "wpw"}

    def test_the_posting_password_field(self):
        cases = [
            # label, fields, refusal key or None
            ("own field", dict(wpasswd="wpw", passwd="own"), None),
            ("board password there", dict(wpasswd=ADMIN, passwd="own"), None),
            ("wrong", dict(wpasswd="bad", passwd="wpw"), "msg41"),
            ("empty", dict(wpasswd="", passwd="wpw"), "msg41"),
            ("too long", dict(wpasswd="w" * 129, passwd="own"), "msg61"),
            ("a form without it", dict(passwd="wpw"), None),
            ("a form without it, own password", dict(passwd="own"), "msg41"),
        ]
        for i, (label, fields, key) in enumerate(cases):
            with self.subTest(label):
                before = self.snapshot()
                resp = self.post(title="t%d" % i, **fields)
                if key:
                    self.assertMessage(resp, key)
                    self.assertEqual(self.snapshot(), before)
                else:
                    self.assertOk(resp)
                    self.assertEqual(self.messages()[0]["title"], "t%d" % i)
        # The post's own password stays the author's: it deletes the post,
        # the posting password does not.
        own = [m["id"] for m in self.messages() if m["title"] == "t0"][0]
        self.assertMessage(self.delete(own, "wpw"), "msg03")
        self.assertOk(self.delete(own, "own"))

    def test_edits_and_replies(self):
        self.store(record("100", title="root", passwd="own"))
        # An edit needs the message's password only.
        self.assertOk(self.post(id="100", title="edited", passwd="own"))
        # A reply is a new message.
        self.assertMessage(self.post(pid="100", ppid="100", wpasswd="x", passwd="r"), "msg41")
        self.assertOk(self.post(pid="100", ppid="100", wpasswd="wpw", passwd="r"))

    def test_wrong_posting_passwords_count(self):
        for i in range(10):
            self.assertMessage(self.post(wpasswd="guess%d" % i, title="g%d" % i), "msg41")
        self.assertMessage(self.post(wpasswd="wpw"), "msg65")
        self.assertEqual(self.ids(), [])


class SkinFieldTest(unittest.TestCase):
    """The default skins show the posting password's field on a board that
    has one, in the forms of new messages only."""

    def setUp(self):
        self.site = Site()
        self.site.add_board("test", passwd=ADMIN)
        self.site.write_messages("data/test", [record("100", title="root", passwd="own")])

    def tearDown(self):
        self.site.close()

    def forms(self, skin):
        env = {"HTTP_USER_AGENT": "DoCoMo/2.0"} if skin == "mobile" else {}
        keit = {"DoCoMo": "skin/mobile"} if skin == "mobile" else {}
        self.site.write_settings("data/test.keit", dict(keit, page_ppnum="5"))
        return [
            ("new", self.site.run(query="bid=test&mode=new", env=env), True),
            ("reply", self.site.run(query="bid=test&submit_res.x=1&id=100", env=env), True),
            ("edit", self.site.run(method="POST", env=env, body={
                "bid": "test", "submit_upd.x": "1", "id": "100", "passwd": "own"}), False),
        ]

    def test_the_field_follows_the_setting(self):
        for skin in ["default", "mobile"]:
            for setting in ["", "wpw"]:
                self.site.add_board("test", passwd=ADMIN, write_passwd=setting)
                for label, resp, new in self.forms(skin):
                    with self.subTest(skin=skin, setting=setting, form=label):
                        self.assertEqual(resp.status, 0, resp.text)
                        self.assertIn('name="passwd"', resp.text)
                        self.assertEqual('name="wpasswd"' in resp.text, bool(setting) and new)
                        self.assertNotIn("WRITE_PASSWD", resp.text)


if __name__ == "__main__":
    unittest.main()
