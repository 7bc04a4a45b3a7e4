"""What a post may hold: the byte caps of its fields and the spam filters a
board can set (Japanese required, links counted, NG words, the field only
robots fill), and the skins' forms that carry that field."""
import re
import unittest

from rukcgi import Site
from test_posting import KEYS, BoardCase

JA = "\u3053\u3093\u306b\u3061\u306f"  # こんにちは
LABELS = {"name": "\u304a\u540d\u524d", "title": "\u984c\u540d",  # お名前, 題名
          "mail": "\u30e1\u30fc\u30eb\u30a2\u30c9\u30ec\u30b9",  # メールアドレス
          "home": "\u30db\u30fc\u30e0\u30da\u30fc\u30b8",  # ホームページ
          "mess": "\u30e1\u30c3\u30bb\u30fc\u30b8",  # メッセージ
          "passwd": "\u30d1\u30b9\u30ef\u30fc\u30c9"}  # パスワード


class PostFilterCase(BoardCase):
    def setUp(self):
        super().setUp()
        # The refusals with values show them.
        self.site.write("dat-message.dat",
                        "".join("%s=[%s]\n" % (k, k) for k in KEYS if k != "msg61")
                        + "msg61=[msg61]%FIELD%/%MAX%\n")

    def settings(self, **board):
        conf = {"skindir": "skin/t/", "attach_size": "100"}
        conf.update(board)
        self.site.add_board("test", **conf)

    def assertRefused(self, resp, text):
        self.assertEqual(resp.status, 1, resp.raw)
        self.assertTrue(resp.text.startswith("info|%s|" % text), resp.text)


class FieldCapTest(PostFilterCase):
    def test_each_field_has_its_cap_in_bytes(self):
        self.settings(mess_max="1000")
        cases = [
            # field, cap, filler (one character)
            ("name", 200, "n"), ("title", 300, "t"), ("mail", 256, "m"), ("home", 400, "h"),
            ("mess", 1000, "b"), ("passwd", 128, "p"),
            ("name", 200, "\u3042"),  # two bytes each in Shift_JIS
        ]
        for i, (field, cap, filler) in enumerate(cases):
            width = len(filler.encode("cp932"))
            with self.subTest(field, filler=filler):
                fits = filler * (cap // width)
                over = fits + "x"
                resp = self.post(**{"title": "t%d" % i, field: over})
                self.assertRefused(resp, "[msg61]%s/%d" % (LABELS[field], cap))
                self.assertEqual(self.messages(), [])
                self.assertOk(self.post(**{"title": "t%d" % i, field: fits}))
                self.site.write_messages("data/test", [])

    def test_choices_are_what_the_forms_send(self):
        self.settings()
        cases = [("icon", "x" * 10000), ("icon", "1x"), ("icon", "12345"), ("icon", "-1"),
                 ("resmail", "yes"), ("preform", "<b>"), ("resmail", "1" * 1000)]
        for field, value in cases:
            with self.subTest(field, value=value[:20]):
                self.assertMessage(self.post(**{field: value}), "msg98")
        self.assertEqual(self.messages(), [])
        self.assertOk(self.post(icon="12", resmail="1", preform="1"))
        self.assertOk(self.post(title="t2", icon="", resmail="", preform=""))

    def test_a_board_without_a_body_cap_takes_long_bodies(self):
        for board in [{}, {"mess_max": "0"}, {"mess_max": ""}]:
            with self.subTest(board):
                self.settings(**board)
                self.assertOk(self.post(title="long %s" % board, mess="b" * 200000))


class SpamFilterTest(PostFilterCase):
    def test_filters_refuse_what_they_catch(self):
        self.site.write("ng.txt", "# words no post may hold\n\ncasino\n\u63db\u91d1\n")  # 換金
        links = lambda n: " ".join("http://spam%d.example/" % i for i in range(n))
        cases = [
            # label, board settings, fields, refusal (None: stored)
            ("robot fills the hidden field", {}, {"url": "http://spam.example/"}, "msg63"),
            ("people leave it empty", {}, {"url": ""}, None),
            ("no Japanese", {"need_japanese": "1"}, {"mess": "Buy pills now"}, "msg62"),
            ("Japanese in the title only", {"need_japanese": "1"},
             {"title": JA, "mess": "Buy pills"}, "msg62"),
            ("half-width kana", {"need_japanese": "1"}, {"mess": "\uff71"}, None),
            ("Japanese", {"need_japanese": "1"}, {"mess": JA}, None),
            ("Japanese not asked", {"need_japanese": "0"}, {"mess": "plain"}, None),
            ("too many links", {"link_max": "2"}, {"mess": links(3)}, "msg63"),
            ("links as tags", {"link_max": "1"}, {"mess": '<a href="x">1</a> <A HREF="y">'},
             "msg63"),
            ("links within the cap", {"link_max": "2"}, {"mess": links(2)}, None),
            ("no links allowed", {"link_max": "0"}, {"mess": links(1)}, "msg63"),
            ("no cap", {}, {"mess": links(30)}, None),
            ("NG word in the body", {"ngfile": "ng.txt"}, {"mess": "Online CASINO"}, "msg63"),
            ("NG word in the name", {"ngfile": "ng.txt"}, {"name": "casino-bot"}, "msg63"),
            ("NG word in the mail", {"ngfile": "ng.txt"}, {"mail": "a@casino.example"}, "msg63"),
            ("NG word in the home page", {"ngfile": "ng.txt"},
             {"home": "http://casino.example/"}, "msg63"),
            ("Japanese NG word in the title", {"ngfile": "ng.txt"},
             {"title": "\u3059\u3050\u63db\u91d1"}, "msg63"),
            ("no NG word", {"ngfile": "ng.txt"}, {"mess": "casual talk " + JA}, None),
            ("NG-word file missing", {"ngfile": "none.txt"}, {"mess": "casino"}, None),
        ]
        for i, (label, board, fields, key) in enumerate(cases):
            with self.subTest(label):
                self.settings(**board)
                before = self.snapshot()
                resp = self.post(**dict({"title": "t%d" % i}, **fields))
                if key:
                    self.assertMessage(resp, key)
                    self.assertEqual(self.snapshot(), before)
                else:
                    self.assertOk(resp)


class SkinTrapFieldTest(unittest.TestCase):
    """The installed skins' forms carry the field robots fill: hidden from
    people by style, never reached by Tab, labelled to be left empty."""

    def test_default_and_mobile_forms(self):
        site = Site()
        try:
            for skin in ["skin/default/", "skin/mobile/"]:
                with self.subTest(skin):
                    site.add_board("test", skindir=skin)
                    resp = site.run(query="bid=test&mode=new")
                    page = resp.body.decode("cp932")
                    form = re.search(r'<form[^>]*method="post" enctype="multipart/form-data">'
                                     r'(.*?)</form>', page, re.S).group(1)
                    field = re.search(r'<input[^>]*name="url"[^>]*>', form).group(0)
                    for attr in ['type="text"', 'tabindex="-1"', 'autocomplete="off"',
                                 'aria-hidden="true"', 'value=""']:
                        self.assertIn(attr, field)
                    self.assertIn("\u7a7a\u306e\u307e\u307e", form)  # 空のまま
                    block = form[:form.index(field)]
                    self.assertRegex(block,
                                     r'(class="trap"|style="position:absolute;left:-10000px)')
                    if skin == "skin/default/":
                        css = site.read("skin/default/ruk-bbs.css").decode("cp932")
                        self.assertRegex(css, r"\.trap\{position:absolute;left:-10000px")
        finally:
            site.close()


if __name__ == "__main__":
    unittest.main()
