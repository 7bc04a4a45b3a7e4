"""The board pages a visitor reads: the full, title and mobile listings,
paging, the new, reply and edit forms, attachments, the icon list, and
visitor text kept from turning into markup on every one of them."""
import os
import re
import unittest
import urllib.parse

from rukcgi import Site, record, sjis

PAGE = "%d\u30da\u30fc\u30b8\u76ee"  # %dページ目: the label of page i is page i + 1
LATEST = "\uff08\u6700\u65b0\uff09"  # （最新）: after the label of page 0
NONE = "\u306a\u3057"  # なし: the first choice of the icon selector
FILLER = "\u3000"  # the ideographic space
MAIL, HOME = "\u30e1\u30fc\u30eb", "\u30db\u30fc\u30e0"  # メール, ホーム
ZOOM, OPEN = "\u3092\u62e1\u5927\u8868\u793a", "\u3092\u958b\u304f"  # を拡大表示, を開く
FILE = "\u6dfb\u4ed8\u30d5\u30a1\u30a4\u30eb"  # 添付ファイル

# A compact board template: every block and tag, each value between
# separators so that a test can compare whole slots exactly.
TEMPLATE = (
    "<html>H{{%USER_HEADER%}}H F{{%USER_FOOTER%}}F"
    "<!--NAVIGATION-->N{{%HOME%|%PAGE%|%STYLE%|%SELECT_PAGE%}}N<!--/NAVIGATION-->"
    "<!--INPUT_FORM-->I{{<!--INPUT_HEADLINE-->?<!--/INPUT_HEADLINE-->|%STYLE%|%PAGE%|"
    "%PASSWD%|%PPID%|%PID%|%ID%|%NAME%|%MAIL%|%HOME%|%TITLE%|%MESSAGE%|"
    "%RESMAIL_CHECKED%|%PREFORM_CHECKED%|<!--SELECT_ICON-->%SELECT_ICON%<!--/SELECT_ICON-->|"
    "<!--INPUT_FILE-->%INPUT_FILE%%WIDTH=40%<!--/INPUT_FILE-->}}I"
    "<!--INPUT_HEAD_NEW-->new<!--/INPUT_HEAD_NEW-->"
    "<!--INPUT_HEAD_RES-->res<!--/INPUT_HEAD_RES-->"
    "<!--INPUT_HEAD_UPD-->upd<!--/INPUT_HEAD_UPD--><!--/INPUT_FORM-->"
    "<!--TABLE_PARENT-->P[%ID%|%PID%|%PPID%|%TITLE%|%NAME%|%DATE%|%MAIL%|%HOME%|"
    "%ICON_IMAGE%|%NEW_IMAGE%|%PAGE%|%STYLE%|%PASSWD%|%MESSAGE%|"
    "<!--ATTACH-->A{{%ATTACH_LINK%%BUTTON=btn.gif%|%ATTACH_VIEW%}}A<!--/ATTACH-->|#b{"
    "<!--TABLE_CHILD-->C[%ID%|%PID%|%PPID%|%TITLE%|%MAIL%|%MESSAGE%|#b]<!--/TABLE_CHILD-->"
    "}]<!--/TABLE_PARENT-->"
    "<!--TITLE_PARENT-->TP[%ID%|%PPID%|%TITLE%|%NAME%|%BRANCH%|"
    "%ATTACH_LINK%%BUTTON=btn.gif%{"
    "<!--TITLE_CHILD-->TC[%ID%|%PPID%|%BRANCH%|%TITLE%]<!--/TITLE_CHILD-->"
    "}]<!--/TITLE_PARENT-->"
    "T{{<!--DATA_TABLE--><!--/DATA_TABLE-->}}T L{{<!--DATA_TITLE--><!--/DATA_TITLE-->}}L</html>")

ICONS = "<html><!--TR_ICON-->R[<!--TD_ICON-->(%IMAGE%:%NAME%)<!--/TD_ICON-->]<!--/TR_ICON--></html>"

XSS = "<script>alert('x')</script>\""
XSS_ESCAPED = "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&quot;"


def slot(text, name):
    """The text of a slot such as T[...] or L[...] of the page."""
    m = re.search(r"%s\{\{(.*?)\}\}%s" % (name, name), text, re.S)
    return m.group(1) if m else None


def form_fields(text):
    """The input-form slot split into its named presets."""
    m = re.search(r"I\{\{(.*?)\}\}I", text, re.S)
    if not m:
        return None
    names = ["headline", "style", "page", "passwd", "ppid", "pid", "id", "name", "mail",
             "home", "title", "mess", "resmail", "preform", "icons", "files"]
    return dict(zip(names, m.group(1).split("|")))


def file_field(i, size):
    """The file field i of the input form, named for a screen reader."""
    return '<input type=file name=file%d size=%d aria-label="%s%d" /><br />\n' % (
        i, size, FILE, i + 1)


def cookie(**values):
    return "; ".join("%s=%s" % (k, urllib.parse.quote(v.encode("cp932")))
                     for k, v in values.items())


class ViewsTest(unittest.TestCase):
    def setUp(self):
        self.site = Site(full=False)
        self.site.write("dat-message.dat", "msg01=[msg01]\nmsg03=[msg03]\nmsg54=old %ID%\n"
                        "msg90=[msg90]\n")
        self.site.write("skin/default/templ_bbs.html", TEMPLATE)
        self.site.write("skin/default/templ_ico.html", ICONS)
        self.site.write("skin/default/templ_info.html", "INFO|%MESSAGE%")
        self.board()

    def tearDown(self):
        self.site.close()

    def board(self, **settings):
        conf = {"skinurl": "/s/", "passwd": "admin"}
        conf.update(settings)
        self.site.add_board("test", **conf)

    def store(self, *records):
        self.site.write_messages("data/test", records)

    def page(self, env=None, **query):
        query.setdefault("bid", "test")
        resp = self.site.run(query=query, env=env)
        self.assertEqual(resp.status, 0, resp.raw)
        return resp.text

    # --- the listings

    def test_full_view_nests_every_reply_in_depth_first_order(self):
        self.board(ico_url2="/i/2.gif", ico_name2="two", use_icon="1", user_header="HEAD",
                   user_footer="FOOT")
        # File order: the newest group first, a new reply first in its group.
        self.store(record("105", "100", "100", title="B"),
                   record("104", "102", "100", title="A2"),
                   record("103", "102", "100", title="A1"),
                   record("102", "100", "100", title="A"),
                   record("100", title="root", name="alice", mail="a@example.jp",
                          home="http://home.example.jp/", icon="2", mess="one\ntwo"))
        text = self.page(page="0", style="0")
        root = ("P[100|||root|alice|2026/01/01 00:00:00|"
                '<a href="mailto:a@example.jp"><span class="pMail">%s</span></a>|'
                '<a href="http://home.example.jp/" target=_blank>'
                '<span class="pHome">%s</span></a>|<img class="icon" src="/i/2.gif" alt="two">|'
                '|0|0||one<br />two||#b{' % (MAIL, HOME))
        replies = "".join("C[%s|%s|100|%s||body|#b]" % r for r in
                          [("102", "100", "A"), ("103", "102", "A1"), ("104", "102", "A2"),
                           ("105", "100", "B")])
        self.assertEqual(slot(text, "L"), root + replies + "}]")
        self.assertEqual(slot(text, "T"), "")
        self.assertEqual(slot(text, "H"), "HEAD")
        self.assertEqual(slot(text, "F"), "FOOT")
        self.assertIsNone(form_fields(text))

    def test_new_order_puts_the_newest_reply_first(self):
        self.board(new_order="1")
        self.store(record("102", "100", "100", title="late"),
                   record("101", "100", "100", title="early"), record("100"))
        order = re.findall(r"C\[\d+\|\d+\|100\|(\w+)", slot(self.page(), "L"))
        self.assertEqual(order, ["late", "early"])

    def tree_board(self):
        # Thread 100: A and B, A with A1 and A2. Thread 200: r1, r2 under r1.
        self.store(record("202", "201", "200", title="r2"), record("201", "200", "200", title="r1"),
                   record("200", title="two"),
                   record("105", "100", "100", title="B"), record("104", "102", "100", title="A2"),
                   record("103", "102", "100", title="A1"), record("102", "100", "100", title="A"),
                   record("100", title="one"))

    def test_title_view_draws_the_tree_with_branch_images(self):
        self.tree_board()
        text = self.page(style="1")
        # The images only draw the tree: their text is empty.
        join, vert, hook = ('<img src=/s/branch_%s.gif alt="">' % n
                            for n in ("join", "vert", "hook"))
        spacer = '<img src=/s/spacer.gif width=12 height=1 alt="">'
        one = ("TP[100|100|one|name|%BRANCH%|{" + "TC[102|100|%s|A]" % join +
               "TC[103|100|%s|A1]" % (vert + join) + "TC[104|100|%s|A2]" % (vert + hook) +
               "TC[105|100|%s|B]" % hook + "}]")
        two = ("TP[200|200|two|name|%BRANCH%|{" + "TC[201|200|%s|r1]" % hook +
               "TC[202|200|%s|r2]" % (spacer + hook) + "}]")
        self.assertEqual(slot(text, "L"), two + one)
        self.assertEqual(slot(text, "T"), "")

    def test_title_view_with_an_open_thread(self):
        self.tree_board()
        text = self.page(style="1", ppid="200")
        table = slot(text, "T")
        self.assertTrue(table.startswith("P[200|||two|"), table)
        self.assertIn("|#m{C[201|200|200|r1||body|#m]C[202|201|200|r2||body|#m]}]", table)
        self.assertNotIn("#b", table)
        titles = slot(text, "L")
        nav = "N{{%s}}N" % slot(text, "N")
        self.assertTrue(titles.startswith(nav + "TP[200|"), titles)
        # A thread that is not stored opens nothing; the page still comes,
        # with a notice in its place.
        self.assertEqual(slot(self.page(style="1", ppid="999"), "T"),
                         '<p class="notice" role="status"></p>\n')

    def test_mobile_shows_every_message_on_its_own(self):
        self.site.write_settings("data/test.keit", [("page_ppnum", "2"), ("Phone", "skin/default")])
        self.tree_board()
        env = {"HTTP_USER_AGENT": "Phone/1.0"}
        text = self.page(env=env)
        self.assertEqual(re.findall(r"P\[(\d+)\|", slot(text, "L")), ["202", "201"])
        self.assertNotIn("C[", slot(text, "L"))
        self.assertEqual(text.count("<option"), 4)  # 8 messages, 2 to a page
        text = self.page(env=env, page="3")
        self.assertEqual(re.findall(r"P\[(\d+)\|", slot(text, "L")), ["102", "100"])

    # --- paging

    def test_paging_at_the_edges(self):
        self.board(page_ppnum="10")
        self.store(*[record("%d" % (1000 - i), title="t%d" % (i + 1)) for i in range(25)])
        cases = [
            ("first page", {}, 0, 1, 10),
            ("last page", {"page": "2"}, 2, 21, 25),
            ("prev on the last page stays", {"page": "2", "submit_prev.x": "1"}, 2, 21, 25),
            ("prev goes to an older page", {"page": "0", "submit_prev.x": "1"}, 1, 11, 20),
            ("next on page 0 stays", {"page": "0", "submit_next.x": "1"}, 0, 1, 10),
            ("next goes to a newer page", {"page": "2", "submit_next.x": "1"}, 1, 11, 20),
            ("jump", {"page": "0", "submit_jump.x": "1", "sel_page": "2"}, 2, 21, 25),
            ("page below 0", {"page": "-3"}, 0, 1, 10),
            ("jump below 0", {"submit_jump.x": "1", "sel_page": "-1"}, 0, 1, 10),
            ("beyond the last page", {"page": "7"}, 7, None, None),
        ]
        for label, query, page, first, last in cases:
            with self.subTest(label):
                text = self.page(**query)
                titles = re.findall(r"P\[\d+\|\|\|t(\d+)\|", slot(text, "L"))
                want = [] if first is None else [str(i) for i in range(first, last + 1)]
                self.assertEqual(titles, want)
                sel = lambda i: "selected" if i == page else ""
                options = "".join('<option value="%d" %s>%s</option>\n' %
                                  (i, sel(i), PAGE % (i + 1) + (LATEST if i == 0 else ""))
                                  for i in range(3))
                self.assertEqual(slot(text, "N"), "|%d|0|<select name=sel_page>\n%s</select>\n"
                                 % (page, options))

    def test_page_size_settings(self):
        self.store(*[record("%d" % (100 - i)) for i in range(5)])
        cases = [({"page_ppnum": "0"}, {}, 5), ({"page_ppnum": "2"}, {}, 3),
                 ({"page_ppnum": "2", "page_ppnum2": "4"}, {"style": "1"}, 2)]
        for settings, query, pages in cases:
            with self.subTest(settings=settings, query=query):
                self.board(**settings)
                self.assertEqual(self.page(**query).count("<option"), pages)

    # --- the input form

    def test_new_post_form_and_empty_board(self):
        self.board(use_attach="1", attach_num="2")
        files = file_field(0, 40) + file_field(1, 40)
        visitor = cookie(name="bob", mail="b@example.jp", home="http://b.example.jp/",
                         passwd="pw", resmail="1")
        cases = [
            ("no cookie", {}, dict(name="", mail="", home="http://", passwd="", resmail="")),
            ("cookie", {"HTTP_COOKIE": visitor},
             dict(name="bob", mail="b@example.jp", home="http://b.example.jp/", passwd="pw",
                  resmail="checked")),
        ]
        for label, env, want in cases:
            with self.subTest(label):
                # An empty board shows the form whatever the mode.
                for query in ({"mode": "new", "style": "1", "page": "2"}, {}):
                    fields = form_fields(self.page(env=env, **query))
                    self.assertEqual(fields["headline"], "new")
                    for key, value in want.items():
                        self.assertEqual(fields[key], value, key)
                    self.assertEqual((fields["title"], fields["mess"], fields["preform"]),
                                     ("", "", ""))
                    self.assertEqual(fields["files"], files)
                    self.assertEqual(fields["icons"], "")
        self.store(record("100"))
        text = self.page(mode="new", style="1", page="2")
        self.assertEqual((form_fields(text)["style"], form_fields(text)["page"]), ("1", "2"))
        self.assertEqual((slot(text, "T"), slot(text, "L")), ("", ""))

    def test_reply_form_quotes_the_message_and_shows_its_thread(self):
        self.store(record("101", "100", "100", title="Re: Hello", mess="a\nb\n"),
                   record("100", title="Hello", mess="a\nb"),
                   record("200", title="empty", mess=""))
        cases = [
            ("reply to a root", {"id": "100"}, "100", "100", "Re: Hello", "&gt; a\n&gt; b"),
            ("final line break", {"id": "101", "ppid": "100"}, "101", "100",
             "Re: Re: Hello", "&gt; a\n&gt; b\n"),
            ("empty body", {"id": "200"}, "200", "200", "Re: empty", "&gt; "),
        ]
        for label, query, pid, ppid, title, mess in cases:
            with self.subTest(label):
                text = self.page(env={"HTTP_COOKIE": cookie(name="bob", resmail="1")},
                                 **{"submit_res.x": "1"}, **query)
                fields = form_fields(text)
                self.assertEqual((fields["headline"], fields["id"], fields["pid"],
                                  fields["ppid"]), ("res", "", pid, ppid))
                self.assertEqual((fields["title"], fields["mess"], fields["name"],
                                  fields["resmail"], fields["preform"]),
                                 (title, mess, "bob", "checked", ""))
                self.assertTrue(slot(text, "T").startswith("P[%s|||" % ppid), label)
                self.assertEqual(slot(text, "L"), "")

    def test_edit_needs_the_authors_or_the_administrators_password(self):
        self.store(record("101", "100", "100", name="ann", mail="a@x.jp", home="", title="t",
                          mess="line\n</textarea><script>x</script>", passwd="own",
                          resmail="1", preform="1", icon="3"),
                   record("100", passwd="rootpw"))
        home = cookie(home="http://cookie.example.jp/")
        for label, passwd in [("author", "own"), ("administrator", "admin")]:
            with self.subTest(label):
                resp = self.site.run(method="POST", env={"HTTP_COOKIE": home},
                                     body={"bid": "test", "id": "101", "ppid": "100",
                                           "passwd": passwd})
                self.assertEqual(resp.status, 0, resp.raw)
                text = resp.text
                fields = form_fields(text)
                self.assertEqual(fields["headline"], "upd")
                self.assertEqual((fields["id"], fields["pid"], fields["ppid"]), ("101", "", "100"))
                self.assertEqual((fields["name"], fields["mail"], fields["home"], fields["title"]),
                                 ("ann", "a@x.jp", "http://cookie.example.jp/", "t"))
                self.assertEqual(fields["mess"],
                                 "line\n&lt;/textarea&gt;&lt;script&gt;x&lt;/script&gt;")
                self.assertEqual((fields["resmail"], fields["preform"]), ("checked", "checked"))
                self.assertTrue(slot(text, "T").startswith("P[100|||"))
        for label, passwd, key in [("wrong password", "rootpw", "msg03"),
                                   ("no password", "", "msg01")]:
            with self.subTest(label):
                resp = self.site.run(method="POST",
                                     body={"bid": "test", "id": "101", "passwd": passwd})
                self.assertEqual((resp.status, resp.text), (1, "INFO|[%s]" % key))

    def test_icon_selector(self):
        # "なし" comes first and is chosen unless the visitor holds an icon
        # offered; icons without a picture are left out, one without a
        # name goes by its number; the administrator's icon 0 is offered
        # only to whoever holds it.
        self.site.write_system({"icon_max": "4"})
        icons = {"ico_url0": "/i/0.gif", "ico_name0": "admin", "ico_url1": "/i/1.gif",
                 "ico_name1": "<b>one", "ico_name2": "two", "ico_url3": "/i/3.gif",
                 "ico_name3": "three", "ico_url4": "/i/4.gif"}
        opt = lambda value, chosen, label: '<option value="%s"%s>%s</option>\n' % (
            value, " selected" if chosen else "", label)

        def listed(chosen, admin=False):
            options = [("", NONE), ("1", "&lt;b&gt;one"), ("3", "three"), ("4", "4")]
            options += [("0", "admin")] if admin else []
            held = any(v == chosen for v, _ in options[1:])
            return ("<select name=icon id=in_icon>\n" +
                    "".join(opt(v, v == chosen or (v == "" and not held), label)
                            for v, label in options) + "</select>\n")
        cases = [
            ("no icon yet", dict(use_icon="1", **icons), "", {}, listed("")),
            ("cookie icon selected", dict(use_icon="1", **icons), "3", {}, listed("3")),
            ("leading zero selects nothing", dict(use_icon="1", **icons), "03", {}, listed("")),
            ("icon without a picture", dict(use_icon="1", **icons), "2", {}, listed("")),
            ("the administrator's cookie", dict(use_icon="1", **icons), "0", {},
             listed("0", admin=True)),
            ("opened with icon=0", dict(use_icon="1", **icons), "", {"icon": "0"},
             listed("0", admin=True)),
            ("no icon urls", dict(use_icon="1"), "", {},
             '<select name=icon id=in_icon>\n%s</select>\n' % opt("", True, NONE)),
            ("icons off", dict(use_icon="2", **icons), "3", {}, ""),
        ]
        for label, settings, chosen, query, want in cases:
            with self.subTest(label):
                self.board(**settings)
                text = self.page(mode="new", env={"HTTP_COOKIE": cookie(icon=chosen)}, **query)
                self.assertEqual(form_fields(text)["icons"], want)
        # Editing a message keeps its icon, the administrator's too.
        self.board(use_icon="1", **icons)
        self.store(record("100", passwd="own", icon="0"))
        resp = self.site.run(method="POST", body={"bid": "test", "id": "100", "passwd": "own"})
        self.assertEqual(form_fields(resp.text)["icons"], listed("0", admin=True))

    def test_file_fields(self):
        cases = [({"use_attach": "1", "attach_num": "1"}, "%INPUT_FILE%%WIDTH=40%",
                  file_field(0, 40)),
                 ({"use_attach": "1", "attach_num": "1"}, "%INPUT_FILE%%WIDTH=%",
                  file_field(0, 60)),
                 ({"use_attach": "2", "attach_num": "1"}, "%INPUT_FILE%%WIDTH=40%", "")]
        for settings, tag, want in cases:
            with self.subTest(settings=settings, tag=tag):
                self.board(**settings)
                self.site.write("skin/default/templ_bbs.html",
                                TEMPLATE.replace("%INPUT_FILE%%WIDTH=40%", tag))
                self.assertEqual(form_fields(self.page(mode="new"))["files"], want)

    # --- attachments

    def attach_board(self, **settings):
        self.board(**settings)
        os.makedirs(self.site.path("data/test/100"))
        for name, size in [("a.txt", 500), ("b.JPG", 2047), ("c.png", 2048),
                           ("d.bmp", 10), ("e f.gif", 30 * 1024)]:
            self.site.write("data/test/100/" + name, b"x" * size)
        names = ["a.txt", "b.JPG", "c.png", "d.bmp", "e f.gif", "gone.gif"]
        self.store(record("100", attach=[(n, "100") for n in names]))
        return names

    def test_attachment_links_sizes_and_inline_pictures(self):
        names = self.attach_board(attach_embed="1", embed_size="30")
        sizes = [1, 1, 2, 1, 30, 1]
        part = slot(self.page(), "A")
        # Each file: a link to the viewer around the button, whose text
        # says what it opens, then the file's own link and size.
        links = "".join(
            ' <span class="attachItem"><a class="attachView" href="ruk-view.cgi?url='
            'data/test/100/%s" target="_blank"><img src="/s/btn.gif" alt="%s%s"></a>'
            ' <a href="data/test/100/%s"><span class="pAttach">%s</span></a>(%dKB)</span>'
            % (n.replace(" ", "+"), n, OPEN if n in ("a.txt", "d.bmp") else ZOOM, n, n, kb)
            for n, kb in zip(names, sizes))
        # Pictures fit the column of any skin.
        pictures = "".join(' <img src="data/test/100/%s" alt="%s" '
                           'style="max-width:100%%;height:auto">' % (n, n)
                           for n in ["b.JPG", "c.png", "e f.gif", "gone.gif"])
        self.assertEqual(part, links + "|" + pictures)

    def test_inline_pictures_need_the_setting_and_the_size(self):
        self.attach_board()
        for settings, shown in [({"attach_embed": "1", "embed_size": "29"},
                                 ["b.JPG", "c.png", "gone.gif"]),
                                ({"attach_embed": "0", "embed_size": "30"}, [])]:
            with self.subTest(settings):
                self.board(**settings)
                part = slot(self.page(), "A")
                self.assertEqual(re.findall(r' <img src="data/test/100/([^"]+)" alt=', part), shown)

    def test_title_view_attachment_icons_and_no_trace_without_them(self):
        self.attach_board()
        self.store(record("100", attach=[("a.txt", "100")]), record("200"))
        text = self.page(style="1")
        icon = ('<a class="attachView" href="ruk-view.cgi?url=data/test/100/a.txt" '
                'target="_blank"><img src="/s/btn.gif" alt="a.txt%s"></a>' % OPEN)
        self.assertIn("TP[100|100|title|name|%BRANCH%|" + icon + "{}]", slot(text, "L"))
        self.assertIn("TP[200|200|title|name|%BRANCH%|{}]", slot(text, "L"))
        full = slot(self.page(), "L")
        self.assertIn("|body||#b{}]", full)
        self.assertNotIn("ATTACH", full)

    # --- the icon list

    def test_icon_list_rows(self):
        # Only icons with a picture, five to a row, never the
        # administrator's icon 0; names are escaped.
        icons = {"ico_url0": "/i/0.gif", "ico_name0": "admin", "ico_name2": "no picture"}
        for n in (1, 3, 4, 5, 6, 7, 8):
            icons.update({"ico_url%d" % n: "/i/%d.gif" % n, "ico_name%d" % n: "i%d" % n})
        icons["ico_name1"] = "<b>"
        self.board(**icons)
        cell = lambda n, name: '(<img src="/i/%d.gif" alt="%s">:%s)' % (n, name, name)
        row = lambda *ns: "R[" + "".join(cell(n, "&lt;b&gt;" if n == 1 else "i%d" % n)
                                         for n in ns) + "]"
        cases = [("0", ""), ("1", row(1)), ("4", row(1, 3, 4)),
                 ("7", row(1, 3, 4, 5, 6) + row(7)), ("8", row(1, 3, 4, 5, 6) + row(7, 8)),
                 ("9", row(1, 3, 4, 5, 6) + row(7, 8))]
        for icon_max, rows in cases:
            with self.subTest(icon_max=icon_max):
                self.site.write_system({"icon_max": icon_max})
                text = self.page(mode="icon")
                self.assertEqual(text, "<html>%s</html>" % rows)

    # --- visitor text never becomes markup

    def test_stored_fields_are_escaped_in_every_view(self):
        self.store(record("101", "100", "100", title=XSS, name=XSS, mail='a"b@x.jp'),
                   record("100", title=XSS, name=XSS, mail='x" onmouseover="y',
                          home='http://h/" onmouseover="y', mess="fine"))
        full = slot(self.page(), "L")
        self.assertIn("P[100|||%s|%s|" % (XSS_ESCAPED, XSS_ESCAPED), full)
        self.assertIn('<a href="mailto:x&quot; onmouseover=&quot;y">', full)
        self.assertIn('<a href="http://h/&quot; onmouseover=&quot;y" target=_blank>', full)
        self.assertIn("C[101|100|100|%s|" % XSS_ESCAPED, full)
        self.assertIn('<a href="mailto:a&quot;b@x.jp">', full)
        titles = slot(self.page(style="1"), "L")
        self.assertIn("TP[100|100|%s|%s|" % (XSS_ESCAPED, XSS_ESCAPED), titles)
        self.assertIn("TC[101|100|<img src=/s/branch_hook.gif alt=\"\">|%s]" % XSS_ESCAPED, titles)
        for text in (full, titles):
            self.assertNotIn("<script", text)
            self.assertNotIn('" onmouseover', text)

    def test_home_link_only_for_web_addresses(self):
        cases = [("http://a.jp/", True), ("https://a.jp/", True), ("javascript:alert(1)", False),
                 ("HTTP://a.jp/", False), ("data:text/html,x", False), ("http://", True)]
        for home, linked in cases:
            with self.subTest(home):
                self.store(record("100", home=home))
                full = slot(self.page(), "L")
                self.assertEqual('class="pHome"' in full, linked, full)

    def test_cookie_and_form_values_are_escaped_in_the_form(self):
        evil = cookie(name=XSS, mail=XSS, home=XSS, passwd=XSS)
        self.store(record("100", title=XSS, mess=XSS))
        for label, query in [("new", {"mode": "new"}), ("reply", {"submit_res.x": "1", "id": "100"})]:
            with self.subTest(label):
                text = self.page(env={"HTTP_COOKIE": evil}, **query)
                fields = form_fields(text)
                for key in ("name", "mail", "home", "passwd"):
                    self.assertEqual(fields[key], XSS_ESCAPED, key)
                self.assertNotIn("<script", text)
        fields = form_fields(self.page(**{"submit_res.x": "1", "id": "100"}))
        self.assertEqual((fields["title"], fields["mess"]),
                         ("Re: " + XSS_ESCAPED, "&gt; " + XSS_ESCAPED))

    def test_script_in_a_body_never_runs(self):
        cases = [
            ("script tag", "<script>x()</script>", "&lt;script&gt;x()&lt;/script&gt;"),
            ("event attribute", '<a href="http://a.jp/" onclick="x()">a</a>',
             '<a href="http://a.jp/">a</a>'),
            ("javascript href", '<a href="javascript:x()">a</a>', "<a>a</a>"),
            ("hidden scheme", '<a href="jav&#x09;ascript&colon;x()">a</a>', "<a>a</a>"),
            ("img onerror", "<img src=x onerror=x()>", '<img src="x">'),
            ("not an anchor", "<abbr title=x onclick=y>", "&lt;abbr title=x onclick=y&gt;"),
            ("forged marker", "\x18a onclick=x()\x19", "a onclick=x()"),
            ("address with a quote", 'http://a.jp/"onmouseover="x()',
             '<a href="http://a.jp/" target=_blank>http://a.jp/</a>"onmouseover="x()'),
        ]
        for label, mess, want in cases:
            with self.subTest(label):
                self.store(record("100", mess=mess))
                self.assertIn("|0|0||%s||#b{}]" % want, slot(self.page(), "L"))

    def test_old_log_heading(self):
        os.makedirs(self.site.path("data/test/old/2005"))
        self.site.write_messages("data/test/old/2005", [record("100")])
        self.board(user_header="HEAD")
        text = self.page(bid="test=2005")
        self.assertEqual(slot(text, "H"), "<h3>%sold 2005</h3>HEAD" % FILLER)
        self.assertIn("P[100|", slot(text, "L"))


if __name__ == "__main__":
    unittest.main()
