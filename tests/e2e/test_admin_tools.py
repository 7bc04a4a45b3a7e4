"""The administration program's tools run as a web server would: the line
that says what an action did, the second step before a board or an old
log is removed, icons uploaded from the browser (and every upload that is
refused), and the moderation page with its deletions and the deny list."""
import os
import re
import unittest

import rukcgi
from rukcgi import SOURCE_DIR, load_make_site, multipart, record
from test_admin import ADMIN, BOARD_PW, AdminCase, Login, read_settings


def with_remote(line, remote):
    """A message line with the poster's address (field 12) set."""
    fields = line.rstrip(b"\n").split(b"\x1e")
    fields[12] = remote.encode()
    return b"\x1e".join(fields) + b"\n"


def png(pad=0):
    """A real 1x1 PNG, padded after its end to grow it."""
    return rukcgi.png(1, 1, lambda x, y: (0xff, 0, 0)) + b"\0" * pad


GIF = b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;"
JPEG = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xd9"
WEBP = b"RIFF\x1a\x00\x00\x00WEBPVP8L\x0d\x00\x00\x00\x2f\x00\x00\x00\x10\x07\x10\x11\x11\x88\x88\xfe\x07\x00"


def notice(text):
    """The confirmation line of a page."""
    return '<p class="notice" role="status">%s</p>' % text


class ToolsCase(AdminCase):
    """Board tech (a board session and the administrator's) with the
    catalogue texts of this file's actions showing their values."""

    CATALOGUE = {
        "msg85": "[msg85:%ID%]", "msg86": "[msg86:%ID%]", "msg87": "[msg87:%ID%]",
        "msg91": "[msg91:%NO%]", "msg92": "[msg92:%ID%]", "msg94": "[msg94:%ID%:%ID2%]",
        "msg95": "[msg95:%ID%:%ID2%]", "msg96": "[msg96:%ID%:%ID2%]", "msg97": "[msg97:%ID%]",
        "msg100": "[msg100:%ID%]", "msg101": "[msg101:%ID%]", "msg102": "[msg102:%ID%]",
        "msg103": "[msg103:%COUNT%]", "msg104": "[msg104:%ENTRY%]", "msg105": "[msg105:%ENTRY%]",
    }

    def setUp(self):
        super().setUp()
        keys = ["msg%02d" % i for i in range(1, 120)]
        self.site.write("dat-message.dat", "".join(
            "%s=%s\n" % (k, self.CATALOGUE.get(k, "[%s]" % k)) for k in keys))
        self.site.add_board("tech", passwd=BOARD_PW)
        self.admin_ = self.admin()


class NoticeTest(ToolsCase):
    def test_each_action_says_what_it_did_once(self):
        os.makedirs(self.site.path("skin/blue"))
        for name in ["templ_bbs.html", "templ_ico.html", "templ_info.html"]:
            self.site.write("skin/blue/" + name, "x")
        self.site.write_settings("data/tech.conf", {
            "bbs_title": "T", "datadir": "data/tech/", "skindir": "skin/default/",
            "passwd": BOARD_PW, "page_ppnum": "1"})
        self.site.write_messages("data/tech", [
            with_remote(record("300"), "192.0.2.7"), record("200"), record("100")])
        config = {"bid": "tech", "datadir": "data/tech", "skindir": "skin/blue",
                  "bbs_title": "T", "page_ppnum": "1"}
        steps = [
            ({"submit_sys": "1", "bbs_title": "S"}, "sys", "[msg83]"),
            ({"submit_add": "1", "bbsid": "news", "passwd": "n", "passwd2": "n",
              "datadir_make": "1"}, "sys", "[msg85:news]"),
            (dict(config, submit_config="1"), "bbs", "[msg84]"),
            ({"submit_icon": "1", "bid": "tech", "ico_name1": "one"}, "ico", "[msg89]"),
            ({"submit_kako": "1", "bid": "tech", "opt": "new", "kako_id": "k1"}, "old",
             "[msg92:k1]"),
            ({"submit_kako": "1", "bid": "tech", "opt": "new", "kako_id": "k2"}, "old",
             "[msg93]"),
            ({"submit_kako": "1", "bid": "tech", "opt": "div", "sel_id": "k1",
              "kako_id": "k0"}, "old", "[msg94:k1:k0]"),
            ({"submit_kako": "1", "bid": "tech", "opt": "mrg", "sel_id": "k0",
              "sel_id2": "k1"}, "old", "[msg95:k0:k1]"),
            ({"submit_kako": "1", "bid": "tech", "opt": "ren", "sel_id": "k1",
              "kako_id": "k3"}, "old", "[msg96:k1:k3]"),
            ({"submit_kako": "1", "bid": "tech", "opt": "del", "sel_id": "k3",
              "confirm": "1"}, "old", "[msg97:k3]"),
            ({"submit_moddel": "1", "bid": "tech", "del_300": "1"}, "mod", "[msg103:1]"),
            ({"submit_deny": "192.0.2.7", "bid": "tech"}, "mod", "[msg104:192.0.2.7]"),
            ({"submit_deny": "", "deny_entry": "192.0.2.7", "bid": "tech"}, "mod",
             "[msg105:192.0.2.7]"),
            ({"submit_passwd": "1", "bid": "tech", "passwd": ADMIN, "passwd_new": "b2",
              "passwd_new2": "b2"}, "bbs", "[msg88]"),
            ({"submit_del": "1", "bbsid": "news", "confirm": "1"}, "sys", "[msg86:news]"),
            ({"submit_del": "1", "bbsid": "tech", "datadir_del": "1", "confirm": "1"}, "sys",
             "[msg87:tech]"),
        ]
        for body, page, text in steps:
            with self.subTest(body=body):
                resp = self.post(body, login=self.admin_)
                self.assertPage(resp, page)
                self.assertIn(notice(text), resp.text)
        # Shown once: the next page has none, and no file keeps it.
        self.assertIn("note=\n", self.get("submit_read=1", login=self.admin_).text + "\n")
        for name, data in self.snapshot().items():
            if name != "dat-message.dat":
                self.assertNotIn(b"[msg8", data, name)
        resp = self.post({"submit_logout": "1"}, login=self.admin_)
        self.assertPage(resp, "login")
        self.assertIn(notice("[msg113]"), resp.text)

    def test_the_line_is_escaped(self):
        self.site.write("dat-message.dat", 'msg83=saved <b onclick="x()">\'it\'</b>\n')
        resp = self.post({"submit_sys": "1"}, login=self.admin_)
        self.assertIn(notice("saved &lt;b onclick=&quot;x()&quot;&gt;&#39;it&#39;&lt;/b&gt;"),
                      resp.text)


class MenuTest(ToolsCase):
    def test_only_the_administrator_is_offered_the_system_page(self):
        self.site.write("skin/config/templ_config_bbs.html",
                        "bbs|<!--ADMIN_ONLY-->system<!--/ADMIN_ONLY-->|id=%BOARD_ID%|tok=%TOKEN%")
        board = self.login(BOARD_PW, "tech")
        for login, want in [(self.admin_, "bbs|system|id=tech|"), (board, "bbs||id=tech|")]:
            with self.subTest(want):
                self.assertTrue(self.get("bid=tech", login=login).text.startswith(want))


class ConfirmTest(ToolsCase):
    def test_removing_a_board_asks_first(self):
        self.site.write_messages("data/tech", [record("1")])
        # Its icons go with its data; a link there goes, not what it names.
        self.site.write("outside/keep.png", b"keep")
        os.makedirs(self.site.path("skin/icons"))
        os.symlink(self.site.path("outside"), self.site.path("skin/icons/tech"))
        for fields, ask in [({}, "[msg101:tech]/tech/"),
                            ({"datadir_del": "1"}, "[msg102:tech]/tech/1"),
                            ({"datadir_del": "1", "confirm": "yes"}, "[msg102:tech]/tech/1")]:
            with self.subTest(fields):
                before = self.snapshot()
                resp = self.post(dict(fields, submit_del="1", bbsid="tech"), login=self.admin_)
                self.assertPage(resp, "sys")
                self.assertIn("|ask=" + ask, resp.text)
                self.assertEqual(self.snapshot(), before)
        # The page after it asks no more; the confirming POST removes.
        self.assertNotIn("ask=", self.get("submit_read=1", login=self.admin_).text)
        resp = self.post({"submit_del": "1", "bbsid": "tech", "datadir_del": "1",
                          "confirm": "1"}, login=self.admin_)
        self.assertNotIn("ask=", resp.text)
        self.assertFalse(os.path.exists(self.site.path("data/tech.conf")))
        self.assertFalse(os.path.exists(self.site.path("data/tech")))
        self.assertFalse(os.path.lexists(self.site.path("skin/icons/tech")))
        self.assertEqual(self.site.read("outside/keep.png"), b"keep")

    def test_deleting_an_old_log_asks_first(self):
        board = self.login(BOARD_PW, "tech")
        self.site.write_messages("data/tech/old/2026-12", [record("1")])
        before = self.snapshot()
        body = {"submit_kako": "1", "bid": "tech", "opt": "del", "sel_id": "2026-12"}
        resp = self.post(body, login=board)
        self.assertPage(resp, "old")
        self.assertIn("|ask=[msg100:2026-12]/2026-12", resp.text)
        self.assertEqual(self.snapshot(), before)
        self.assertMessage(self.post(dict(body, sel_id="none"), login=board), "msg51")
        resp = self.post(dict(body, confirm="1"), login=board)
        self.assertIn(notice("[msg97:2026-12]"), resp.text)
        self.assertNotIn("ask=", resp.text)
        self.assertFalse(os.path.exists(self.site.path("data/tech/old/2026-12")))


class IconUploadTest(ToolsCase):
    URL = "/cgi-bin/skin/icons/tech/"
    ENV = {"DOCUMENT_ROOT": "/srv/www"}

    def setUp(self):
        super().setUp()
        self.board = self.login(BOARD_PW, "tech")
        self.site.write("skin/config/templ_config_ico.html",
                        "ico|<!--TR_ICON-->[%No%:%PREVIEW%]<!--/TR_ICON-->|%SELECT_ICON%|"
                        "tok=%TOKEN%|note=%NOTICE%")

    def upload(self, name, data, login=None, **fields):
        body = {"submit_upload": "1", "bid": "tech", "icon_no": "2",
                "token": (login or self.board).token}
        body.update(fields)
        files = [] if name is None else [("icon_file", name, data)]
        content, kind = multipart({k: v for k, v in body.items() if v is not None}, files)
        env = dict(self.ENV, HTTP_HOST="bbs.example.jp", HTTP_ORIGIN="http://bbs.example.jp",
                   HTTP_COOKIE="ruk_session=" + (login or self.board).cookie)
        return self.site.run(program="ruk-config", method="POST", body=content,
                             content_type=kind, env=env)

    def icon_files(self):
        top = self.site.path("skin/icons")
        out = []
        for root, _, names in os.walk(top):
            out += [os.path.relpath(os.path.join(root, n), top) for n in names]
        return sorted(out)

    def test_refused_uploads_store_nothing(self):
        html = b"<html><script>alert(document.cookie)</script></html>"
        cases = [
            ("markup named as a picture", "a.png", html, {}, "msg109"),
            ("a picture named as markup", "a.html", png(), {}, "msg109"),
            ("svg", "a.svg", b'<svg xmlns="http://www.w3.org/2000/svg" onload="x()"/>', {},
             "msg109"),
            ("script behind a picture's magic", "a.php", GIF + b"<?php system($_GET[1]); ?>",
             {}, "msg109"),
            ("a picture with a script's last extension", "a.png.php", png(), {}, "msg109"),
            ("name and bytes disagree", "a.jpg", png(), {}, "msg109"),
            ("no extension", "png", png(), {}, "msg109"),
            ("icon", "a.ico", b"\0\0\1\0\1\0", {}, "msg109"),
            ("one byte over the cap", "a.png", png(200 * 1024 - len(png()) + 1), {}, "msg110"),
            ("empty file", "a.png", b"", {}, "msg111"),
            ("no file", None, b"", {}, "msg111"),
            ("number beyond icon_max", "a.png", png(), {"icon_no": "4"}, "msg111"),
            ("number not a number", "a.png", png(), {"icon_no": "../1"}, "msg111"),
            ("negative number", "a.png", png(), {"icon_no": "-1"}, "msg111"),
            ("huge number", "a.png", png(), {"icon_no": "99999999999999999999"}, "msg111"),
            ("number with a blank inside", "a.png", png(), {"icon_no": "1 2"}, "msg111"),
            ("no number", "a.png", png(), {"icon_no": None}, "msg111"),
        ]
        before = self.snapshot()
        for label, name, data, fields, key in cases:
            with self.subTest(label):
                self.assertMessage(self.upload(name, data, **fields), key)
                self.assertEqual(self.snapshot(), before)
        # At the cap it is taken.
        self.assertPage(self.upload("a.png", png(200 * 1024 - len(png()))), "ico")

    def test_refused_without_the_form_or_the_board(self):
        other = Login(self.board.cookie, "f" * 64)
        self.assertMessage(self.upload("a.png", png(), login=other), "msg64")
        self.site.add_board("else", passwd="epw")
        elsewhere = self.login("epw", "else")
        self.assertMessage(self.upload("a.png", png(), login=elsewhere), "msg68")
        self.assertEqual(self.icon_files(), [])

    def test_upload_sets_the_icon_and_replaces_only_its_own_picture(self):
        self.site.write("skin/icons/other/2-00000000.png", png())
        self.site.write("skin/icons/tech/keep.png", png())
        self.site.add_board("tech", passwd=BOARD_PW, ico_url1=self.URL + "keep.png",
                            ico_url3="/cgi-bin/skin/icons/other/2-00000000.png")
        # Nothing of the uploaded name is used.
        resp = self.upload("../../dat-system.dat.PNG", png(), icon_name="二")
        self.assertPage(resp, "ico")
        self.assertIn(notice("[msg91:2]"), resp.text)
        (first,) = [f for f in self.icon_files() if f.startswith("tech/2-")]
        self.assertRegex(first, r"^tech/2-[0-9a-f]{8}\.png$")
        self.assertEqual(self.site.read("skin/icons/" + first), png())
        conf = dict(read_settings(self.site, "data/tech.conf"))
        self.assertEqual((conf["ico_url2"], conf["ico_name2"]),
                         (self.URL + first[5:], "二"))
        self.assertEqual(conf["passwd"], BOARD_PW)
        self.assertIn('<img class="icon" alt="二" src="%s">' % (self.URL + first[5:]),
                      resp.text)
        self.assertIn('<option value="2" selected>2 二</option>', resp.text)

        # A new picture of the same icon: the earlier file goes, the name stays.
        resp = self.upload("b.gif", GIF)
        (second,) = [f for f in self.icon_files() if f.startswith("tech/2-")]
        self.assertTrue(second.endswith(".gif"), second)
        conf = dict(read_settings(self.site, "data/tech.conf"))
        self.assertEqual((conf["ico_url2"], conf["ico_name2"]), (self.URL + second[5:], "二"))
        # Pictures this program did not store for that icon stay.
        for number, name, data in [("1", "c.jpeg", JPEG), ("3", "d.webp", WEBP)]:
            self.assertPage(self.upload(name, data, icon_no=number), "ico")
        self.assertEqual(len(self.icon_files()), 5, self.icon_files())
        self.assertIn("tech/keep.png", self.icon_files())
        self.assertIn("other/2-00000000.png", self.icon_files())
        self.assertFalse(os.path.exists(self.site.path("dat-system.dat.PNG")))

    def test_icon_page_shows_each_icon_escaped(self):
        self.site.add_board("tech", passwd=BOARD_PW, ico_name1='<b>"one"</b>',
                            ico_url1='x.png" onerror="alert(1)', ico_url2="two.gif")
        resp = self.get("bid=tech&mode=icon", login=self.board)
        self.assertIn('[1:<img class="icon" alt="&lt;b&gt;&quot;one&quot;&lt;/b&gt;" '
                      'src="x.png&quot; onerror=&quot;alert(1)">]', resp.text)
        self.assertIn('[2:<img class="icon" alt="アイコン2" src="two.gif">]', resp.text)
        self.assertIn('[3:<span class="none">画像なし</span>]', resp.text)

    def test_a_linked_icon_directory_is_not_written_through(self):
        os.makedirs(self.site.path("outside"))
        os.makedirs(self.site.path("skin/icons"))
        os.symlink(self.site.path("outside"), self.site.path("skin/icons/tech"))
        before = self.snapshot()
        self.assertMessage(self.upload("a.png", png()), "msg112")
        self.assertEqual(os.listdir(self.site.path("outside")), [])
        self.assertEqual(self.snapshot(), before)

    def test_typed_addresses_are_checked(self):
        before = self.snapshot()
        resp = self.post({"submit_icon": "1", "bid": "tech", "ico_url1": 'x.png" onerror="y'},
                         login=self.board)
        self.assertMessage(resp, "msg80")
        self.assertEqual(self.snapshot(), before)

    def test_the_servers_serve_the_kinds_taken(self):
        # Every kind taken must be served from skin/ by both servers.
        taken = ["png", "gif", "jpg", "jpeg", "webp"]
        served = [ext for ext, kind in load_make_site().SKIN_TYPES if kind.startswith("image/")]
        self.assertEqual(sorted(set(served) - {"ico"}), sorted(taken))
        with open(os.path.join(SOURCE_DIR, "site-text", ".htaccess")) as f:
            rule = re.search(r'RewriteRule "\^skin[^"]*\.\(\?i:([a-z|]+)\)\$"', f.read())
        self.assertEqual(sorted(set(rule.group(1).split("|")) - {"css", "ico"}), sorted(taken))


class ModerationTest(ToolsCase):
    def setUp(self):
        super().setUp()
        kanji = "\u8868" * 100  # 表: its second byte is "\\"
        self.site.write_messages("data/tech", [
            record("510", "500", "500", title="Re", mess="reply"),
            with_remote(record("600", title="<b>six</b>", name='"n"', mess=kanji,
                               date="2026/05/06 07:08:09"), "192.0.2.5 host.example.jp"),
            with_remote(record("520", "500", "500", title="late reply"), "2001:db8::5"),
            record("500", title="old", attach=[("a.png", "500")]),
            with_remote(record("90", title="ninety"), "<script>"),
        ])
        self.site.write("data/tech/500/a.png", b"png")
        self.board = self.login(BOARD_PW, "tech")

    def rows(self, resp):
        return re.findall(r"\[([^\]]*)\]", resp.text.split("|tok=")[0])

    def test_lists_newest_first_with_addresses(self):
        resp = self.get("bid=tech&mode=mod", login=self.board)
        self.assertPage(resp, "mod")
        rows = self.rows(resp)
        self.assertEqual([r.split("|")[0] for r in rows], ["600", "520", "510", "500", "90"])
        first = rows[0].split("|")
        self.assertEqual(first[1:6], ["2026/05/06 07:08:09", "スレッド", "&quot;n&quot;",
                                      "&lt;b&gt;six&lt;/b&gt;", "表" * 60 + "…"])
        self.assertIn('name="submit_deny" value="192.0.2.5"', rows[0])
        self.assertIn('name="submit_deny" value="host.example.jp"', rows[0])
        self.assertEqual(rows[1].split("|")[2], "返信")
        self.assertIn('value="2001:db8::5"', rows[1])
        # Without an address, or with one that is none, nothing is offered.
        for row in rows[2:]:
            self.assertIn('<span class="none">記録なし</span>', row)
            self.assertNotIn("submit_deny", row)
        self.assertNotIn("<script>", resp.text)
        self.assertIn("p=1/1/5|", resp.text)
        self.assertNotIn("prev=", resp.text)
        self.assertNotIn("next=", resp.text)

    def test_pages_of_fifty(self):
        self.site.write_messages("data/tech", [record(str(i)) for i in range(1, 121)])
        cases = [("", "1/3", list(range(120, 70, -1)), None, 2),
                 ("&page=2", "2/3", list(range(70, 20, -1)), 1, 3),
                 ("&page=3", "3/3", list(range(20, 0, -1)), 2, None),
                 ("&page=99", "3/3", list(range(20, 0, -1)), 2, None),
                 ("&page=0", "1/3", list(range(120, 70, -1)), None, 2),
                 ("&page=x", "1/3", list(range(120, 70, -1)), None, 2)]
        for query, pages, ids, prev, nxt in cases:
            with self.subTest(query):
                resp = self.get("bid=tech&mode=mod" + query, login=self.board)
                self.assertIn("p=%s/120|" % pages, resp.text)
                self.assertEqual([int(r.split("|")[0]) for r in self.rows(resp)], ids)
                self.assertEqual("prev=%s|" % prev in resp.text, prev is not None)
                self.assertEqual("next=%s|" % nxt in resp.text, nxt is not None)
        self.site.write_messages("data/tech", [])
        self.assertIn("empty|", self.get("bid=tech&mode=mod", login=self.board).text)

    def test_deletes_the_chosen_with_their_replies(self):
        resp = self.post({"submit_moddel": "1", "bid": "tech", "del_500": "1", "del_600": "1",
                          "del_90": "0", "del_x": "1", "del_": "1", "page": "1"},
                         login=self.board)
        self.assertPage(resp, "mod")
        self.assertIn(notice("[msg103:2]"), resp.text)
        self.assertEqual([r.split("|")[0] for r in self.rows(resp)], ["90"])
        self.assertFalse(os.path.exists(self.site.path("data/tech/500")))
        before = self.snapshot()
        for body, key in [({}, "msg108"), ({"del_90": ""}, "msg108"),
                          ({"del_600": "1"}, "msg66")]:
            with self.subTest(body):
                resp = self.post(dict(body, submit_moddel="1", bid="tech"), login=self.board)
                self.assertMessage(resp, key)
                self.assertEqual(self.snapshot(), before)

    def test_only_that_boards_sessions_may(self):
        self.site.add_board("else", passwd="epw")
        elsewhere = self.login("epw", "else")
        before = self.snapshot()
        for body in [{"submit_moddel": "1", "del_600": "1"}, {"submit_deny": "192.0.2.5"}]:
            with self.subTest(body):
                self.assertMessage(self.post(dict(body, bid="tech"), login=elsewhere), "msg68")
                self.assertMessage(self.post(dict(body, bid="tech")), "msg68")
        self.assertPage(self.get("bid=tech&mode=mod", login=elsewhere), "login")
        self.assertEqual(self.snapshot(), before)

    def board_refuses(self, addr):
        resp = self.site.run(query={"bid": "tech"}, env={"REMOTE_ADDR": addr})
        return (resp.status, resp.raw) == (1, b"")

    def test_one_click_adds_the_address_to_the_deny_list(self):
        self.assertFalse(self.board_refuses("192.0.2.5"))
        resp = self.post({"submit_deny": "192.0.2.5", "bid": "tech"}, login=self.board)
        self.assertIn(notice("[msg104:192.0.2.5]"), resp.text)
        self.assertIn("deny=data/tech.deny:1|", resp.text)
        self.assertEqual(self.site.read("data/tech.deny"), b"192.0.2.5\n")
        self.assertEqual(dict(read_settings(self.site, "data/tech.conf"))["denyfile"],
                         "data/tech.deny")
        self.assertTrue(self.board_refuses("192.0.2.5"))
        self.assertFalse(self.board_refuses("192.0.2.50"))
        # Once only; typed entries are taken in the form the list compares.
        resp = self.post({"submit_deny": "", "deny_entry": " 192.0.2.5 ", "bid": "tech"},
                         login=self.board)
        self.assertIn(notice("[msg105:192.0.2.5]"), resp.text)
        self.post({"submit_deny": "", "deny_entry": "Host.EXAMPLE.jp", "bid": "tech"},
                  login=self.board)
        self.post({"submit_deny": "2001:DB8:0::5", "bid": "tech"}, login=self.board)
        self.assertEqual(self.site.read("data/tech.deny"),
                         b"192.0.2.5\nhost.example.jp\n2001:db8::5\n")

    def test_refused_entries_and_list_files_change_nothing(self):
        os.makedirs(self.site.path("outside"))
        self.site.write("outside/list.deny", "")
        os.symlink(self.site.path("outside/list.deny"), self.site.path("data/link.deny"))
        self.site.write("deny.txt", "")
        self.site.add_board("other", passwd="opw")
        cases = [(entry, None, "msg106") for entry in [
            "", "192.0.2.", "192.0.2.5/24", "192.0.2.5\nevil.example.jp", "192.0.2.5 x.jp",
            "proxy", "no-host", "!example.jp", "localhost", "<script>.jp", "a..jp", "x" * 300,
            "1.2.3.4.5", "host.123"]]
        cases += [("192.0.2.5", denyfile, "msg107") for denyfile in [
            "deny.txt", "/etc/hosts", "data/other.conf", "data/link.deny", "data/../deny.txt",
            "data/tech"]]
        for entry, denyfile, key in cases:
            with self.subTest(entry=entry, denyfile=denyfile):
                if denyfile:
                    self.site.add_board("tech", passwd=BOARD_PW, denyfile=denyfile)
                before = self.snapshot()
                resp = self.post({"submit_deny": "", "deny_entry": entry, "bid": "tech"},
                                 login=self.board)
                self.assertMessage(resp, key)
                self.assertEqual(self.snapshot(), before)

    def test_the_boards_own_list_file_is_used(self):
        cases = [
            # A list below data/ gets the entry, on a line of its own.
            ("data/list.txt", b"a.example.jp", "data/list.txt", b"a.example.jp\n192.0.2.5\n"),
            # A list that is not there is the board's own one.
            ("ruk-deny.cgi", None, "data/tech.deny", b"192.0.2.5\n"),
            ("", None, "data/tech.deny", b"192.0.2.5\n"),
        ]
        for denyfile, content, want_file, want in cases:
            with self.subTest(denyfile):
                for rel in ["data/list.txt", "data/tech.deny"]:
                    if os.path.exists(self.site.path(rel)):
                        os.unlink(self.site.path(rel))
                if content is not None:
                    self.site.write(denyfile, content)
                self.site.add_board("tech", passwd=BOARD_PW, denyfile=denyfile)
                self.post({"submit_deny": "192.0.2.5", "bid": "tech"}, login=self.board)
                self.assertEqual(self.site.read(want_file), want)
                self.assertEqual(dict(read_settings(self.site, "data/tech.conf"))["denyfile"],
                                 want_file)


if __name__ == "__main__":
    unittest.main()
