"""The Atom feed of a board (and of an old log): valid Atom 1.0 by the
rules of RFC 4287 as checked here, in UTF-8, the latest messages across
threads newest first, with absolute links, RFC 3339 dates carrying the
server's UTC offset, and bodies as the board renders them. Debian's
feedparser, where installed, reads it as well."""
import datetime
import json
import os
import re
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from rukcgi import Site, record

ATOM = "{http://www.w3.org/2005/Atom}"
SITE_URL = "http://bbs.example.jp/cgi-bin/"
PROGRAM = SITE_URL + "ruk-bbs.cgi"
RFC3339 = re.compile(r"^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})$")
SAKURA = "\u685c\u306e\u5199\u771f"  # 桜の写真
HANAKO = "\u82b1\u5b50"  # 花子
DEBIAN_PYTHON = "/usr/bin/python3"


def check_atom(test, data):
    """Checks a feed document against RFC 4287 and returns its root."""
    test.assertTrue(data.startswith(b'<?xml version="1.0" encoding="utf-8"?>'), data[:60])
    data.decode("utf-8")  # strict
    root = ET.fromstring(data)
    test.assertEqual(root.tag, ATOM + "feed")

    def one(parent, name):
        found = parent.findall(ATOM + name)
        test.assertEqual(len(found), 1, "%s in %s" % (name, parent.tag))
        return found[0]

    def text_construct(el):
        test.assertIn(el.get("type", "text"), ("text", "html"))
        test.assertEqual(len(el), 0, "markup in a text construct must be escaped")

    def date(el):
        test.assertRegex(el.text, RFC3339)
        datetime.datetime.fromisoformat(el.text)  # a real date and time

    def iri(text):
        test.assertRegex(text, r"^[a-z][a-z0-9+.-]*:\S+$")

    def person(el):
        test.assertEqual(len(el.findall(ATOM + "name")), 1)

    iri(one(root, "id").text)
    text_construct(one(root, "title"))
    date(one(root, "updated"))
    feed_authors = root.findall(ATOM + "author")
    for a in feed_authors:
        person(a)
    links = root.findall(ATOM + "link")
    test.assertEqual(len([l for l in links if l.get("rel") == "self"]), 1)
    test.assertLessEqual(len([l for l in links if l.get("rel", "alternate") == "alternate"]), 1)
    for l in links:
        iri(l.get("href"))
    ids = []
    for entry in root.findall(ATOM + "entry"):
        ids.append(one(entry, "id").text)
        iri(ids[-1])
        text_construct(one(entry, "title"))
        date(one(entry, "updated"))
        authors = entry.findall(ATOM + "author")
        test.assertTrue(authors or feed_authors, "an entry without an author")
        for a in authors:
            person(a)
        contents = entry.findall(ATOM + "content")
        test.assertLessEqual(len(contents), 1)
        for c in contents:
            text_construct(c)
        alternates = [l for l in entry.findall(ATOM + "link")
                      if l.get("rel", "alternate") == "alternate"]
        test.assertTrue(contents or alternates)
        for l in entry.findall(ATOM + "link"):
            iri(l.get("href"))
    test.assertEqual(len(ids), len(set(ids)), "entry ids are unique")
    return root


def entries(root):
    """The entries as dicts of their texts."""
    out = []
    for e in root.findall(ATOM + "entry"):
        out.append({
            "id": e.find(ATOM + "id").text,
            "title": e.find(ATOM + "title").text or "",
            "name": e.find(ATOM + "author/" + ATOM + "name").text or "",
            "updated": e.find(ATOM + "updated").text,
            "link": e.find(ATOM + "link").get("href"),
            "content": e.find(ATOM + "content").text or "",
        })
    return out


class FeedCase(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.site.write_system({"site_url": SITE_URL})
        self.site.add_board("test", bbs_title="\u30c6\u30b9\u30c8<\u677f>")  # テスト<板>

    def tearDown(self):
        self.site.close()

    def feed(self, bid="test", env=None):
        resp = self.site.run(query="bid=%s&mode=atom" % bid, env=env)
        self.assertEqual(resp.status, 0, resp.raw[:500])
        self.assertEqual(resp.header("Content-type"), ["application/atom+xml; charset=utf-8"])
        return check_atom(self, resp.body), resp.body


class FeedTest(FeedCase):
    def test_latest_messages_across_threads_newest_first(self):
        # Threads in file order (latest activity first), replies among
        # them; ids are the posting times.
        recs = []
        for t in range(5):
            root = 1767225600000 + t * 100000
            for r in range(4, 0, -1):
                recs.append(record(str(root + r * 1000), pid=str(root), ppid=str(root),
                                   title="t%d r%d" % (t, r)))
            recs.append(record(str(root), title="t%d" % t))
        self.site.write_messages("data/test", recs[::-1])
        root, _ = self.feed()
        got = entries(root)
        all_ids = sorted((int(r.split(b"\x1e")[0]) for r in recs), reverse=True)
        self.assertEqual([int(e["id"].rsplit("#m", 1)[1]) for e in got], all_ids[:20])
        first = got[0]
        self.assertEqual(first["title"], "t4 r4")
        self.assertEqual(first["link"], "%s?bid=test&style=1&ppid=%d#m%d"
                         % (PROGRAM, 1767226000000, 1767226004000))
        self.assertEqual(first["id"], first["link"])

    def test_text_dates_and_links(self):
        self.site.write_messages("data/test", [
            record("1767225600000", title=SAKURA + "<b>&", name=HANAKO + "\u25c6abc",
                   mess="<script>x()</script>\nhttp://example.jp/ \u3042",
                   date="2026/01/02 03:04:05"),
            record("1767225700000", title="ctl\x01\x0b\x1f.", date="2026/02/30 00:00:00"),
            record("1767225800000", title="no date", date="garbage"),
            record("abc", title="no id time", date="garbage"),
            record("1767225900000", title="pre", mess="<a>\n  b", preform="1",
                   date="2026/07/01 12:00:00"),
        ])
        cases = [
            # zone, offset in January, in July
            ("Asia/Tokyo", "+09:00", "+09:00"),
            ("UTC", "+00:00", "+00:00"),
            ("America/New_York", "-05:00", "-04:00"),
        ]
        for zone, winter, summer in cases:
            with self.subTest(zone):
                root, _ = self.feed(env={"TZ": zone})
                got = {e["title"]: e for e in entries(root)}
                self.assertEqual(sorted(got), sorted(["pre", "no date", "ctl.",
                                                      SAKURA + "<b>&"]))
                self.assertEqual(got[SAKURA + "<b>&"]["updated"], "2026-01-02T03:04:05" + winter)
                self.assertEqual(got["pre"]["updated"], "2026-07-01T12:00:00" + summer)
                # A date that is none: the time the id tells.
                when = datetime.datetime.fromisoformat(got["no date"]["updated"])
                self.assertEqual(when.timestamp(), 1767225800)
                when = datetime.datetime.fromisoformat(got["ctl."]["updated"])
                self.assertEqual(when.timestamp(), 1767225700)
        e = got[SAKURA + "<b>&"]
        self.assertEqual(e["name"], HANAKO + "\u25c6abc")
        # The body as the board renders it, as escaped HTML.
        self.assertIn("&lt;script&gt;x()&lt;/script&gt;<br />", e["content"])
        self.assertIn('<a href="http://example.jp/"', e["content"])
        self.assertIn("\u3042", e["content"])
        self.assertIn("&lt;a&gt;", got["pre"]["content"])
        # The feed itself.
        self.assertEqual(root.find(ATOM + "title").text, "\u30c6\u30b9\u30c8<\u677f>")
        self.assertEqual(root.find(ATOM + "id").text, PROGRAM + "?bid=test")
        links = {l.get("rel"): l.get("href") for l in root.findall(ATOM + "link")}
        self.assertEqual(links, {"self": PROGRAM + "?bid=test&mode=atom",
                                 "alternate": PROGRAM + "?bid=test"})
        self.assertEqual(root.find(ATOM + "updated").text, "2026-07-01T12:00:00-04:00")

    def test_an_empty_board_and_an_old_log(self):
        root, _ = self.feed()
        self.assertEqual(entries(root), [])
        os.makedirs(self.site.path("data/test/old/2005"))
        self.site.write_messages("data/test/old/2005", [
            record("1104537600000", title="archived", date="2005/01/01 09:00:00")])
        root, _ = self.feed("test=2005", env={"TZ": "Asia/Tokyo"})
        (e,) = entries(root)
        self.assertEqual(e["link"], "%s?bid=test=2005&style=1&ppid=1104537600000#m1104537600000"
                         % PROGRAM)
        self.assertEqual(e["updated"], "2005-01-01T09:00:00+09:00")
        self.assertIn("2005", root.find(ATOM + "title").text)
        self.assertEqual(root.find(ATOM + "link[@rel='self']").get("href"),
                         PROGRAM + "?bid=test=2005&mode=atom")

    def test_addresses_without_site_url(self):
        self.site.write_system({})
        self.site.write_messages("data/test", [record("1767225600000")])
        root, _ = self.feed(env={"HTTP_HOST": "evil.example\r\nX: 1", "HTTPS": "on"})
        (e,) = entries(root)
        self.assertEqual(e["link"], "https://bbs.example.jp/cgi-bin/ruk-bbs.cgi?bid=test&style=1"
                         "&ppid=1767225600000#m1767225600000")

    def test_the_skin_announces_the_feed(self):
        resp = self.site.run(query="bid=test")
        m = re.search(r'<link rel="alternate" type="application/atom\+xml"[^>]*href="([^"]+)"',
                      resp.text)
        self.assertIsNotNone(m, resp.text[:600])
        query = m.group(1).replace("&amp;", "&").split("?", 1)[1]
        resp = self.site.run(query=query)
        check_atom(self, resp.body)


@unittest.skipUnless(os.path.exists(DEBIAN_PYTHON) and subprocess.run(
    [DEBIAN_PYTHON, "-c", "import feedparser"], capture_output=True).returncode == 0,
    "feedparser is not installed (PyPI is unreachable here; Debian's python3-feedparser "
    "provides it for /usr/bin/python3)")
class FeedparserTest(FeedCase):
    def test_feedparser_reads_the_feed(self):
        self.site.write_messages("data/test", [
            record("1767225700000", pid="1767225600000", ppid="1767225600000", title="Re",
                   name=HANAKO),
            record("1767225600000", title=SAKURA, mess="<b>x</b>\nline 2")])
        _, data = self.feed(env={"TZ": "Asia/Tokyo"})
        with tempfile.NamedTemporaryFile(suffix=".xml") as f:
            f.write(data)
            f.flush()
            script = ("import feedparser, json, sys\n"
                      "d = feedparser.parse(sys.argv[1])\n"
                      "print(json.dumps({'bozo': d.bozo, 'version': d.version,"
                      " 'title': d.feed.title, 'entries': [[e.title, e.author, e.link,"
                      " e.updated, e.content[0].value] for e in d.entries]}))\n")
            proc = subprocess.run([DEBIAN_PYTHON, "-c", script, f.name], capture_output=True,
                                  text=True, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        d = json.loads(proc.stdout)
        self.assertEqual((d["bozo"], d["version"]), (0, "atom10"))
        self.assertEqual(d["title"], "\u30c6\u30b9\u30c8<\u677f>")
        self.assertEqual([e[:2] for e in d["entries"]], [["Re", HANAKO], [SAKURA, "name"]])
        self.assertEqual(d["entries"][1][2], "%s?bid=test&style=1&ppid=1767225600000"
                         "#m1767225600000" % PROGRAM)
        self.assertIn("line 2", d["entries"][1][4])


if __name__ == "__main__":
    unittest.main()
