"""The guards in front of every action of the board that changes something
or checks a password: only a POST from the board's own pages is taken, a
client that keeps guessing passwords is held off, and a page that carries
a remembered password is kept out of caches and frames."""
import os
import re
import subprocess
import time
import unittest

from rukcgi import BUILD_DIR, SITE_DIR, multipart, record
from test_posting import ADMIN, SKIN_BBS, BoardCase

HOST = "bbs.example.jp"
SAME = {"HTTP_HOST": HOST, "HTTP_ORIGIN": "http://" + HOST}

# A post as an <img> in a message would send it: every field in the query.
FORGED_POST = ("bid=test&submit_wri.x=1&name=x&title=forged&mess=forged&cookie=1"
               "&passwd=fixed123")


class ForgedRequestTest(BoardCase):
    def setUp(self):
        super().setUp()
        self.store(record("100", title="root", passwd="own"))

    def form_post(self, fields, env):
        body, ctype = multipart(fields)
        return self.site.run(method="POST", body=body, content_type=ctype,
                             env=dict({"HTTP_HOST": HOST}, **env))

    def test_actions_by_get_or_from_other_sites_change_nothing(self):
        write = {"bid": "test", "submit_wri.x": "1", "name": "x", "title": "forged",
                 "mess": "forged", "passwd": "fixed123", "cookie": "1"}
        edit = dict(write, id="100", passwd="own")
        delete = {"bid": "test", "submit_del.x": "1", "id": "100", "passwd": "own"}
        open_edit = {"bid": "test", "submit_upd.x": "1", "id": "100", "passwd": "own"}
        elsewhere = [
            ("other origin", {"HTTP_ORIGIN": "http://evil.example"}),
            ("other port", {"HTTP_ORIGIN": "http://%s:8080" % HOST}),
            ("origin null", {"HTTP_ORIGIN": "null"}),
            ("other referer", {"HTTP_REFERER": "http://evil.example/bbs.example.jp/"}),
            ("host as a prefix", {"HTTP_ORIGIN": "http://%s.evil.example" % HOST}),
        ]
        before = self.snapshot()
        for action, fields in [("post", write), ("edit", edit), ("delete", delete),
                               ("open the edit form", open_edit)]:
            with self.subTest(action, by="GET"):
                query = "&".join("%s=%s" % kv for kv in fields.items())
                resp = self.site.run(query=query, env=SAME)
                self.assertMessage(resp, "msg64")
                self.assertEqual(resp.header("Set-Cookie"), [])
            for label, env in elsewhere:
                with self.subTest(action, by=label):
                    resp = self.form_post(fields, env)
                    self.assertMessage(resp, "msg64")
                    self.assertEqual(resp.header("Set-Cookie"), [])
                    self.assertNotIn("textarea", resp.text)
            self.assertEqual(self.snapshot(), before)
        # The image of a message sends its query by GET, cookies and all.
        resp = self.site.run(query=FORGED_POST,
                             env=dict(SAME, HTTP_COOKIE="passwd=mine", HTTP_ORIGIN=""))
        self.assertMessage(resp, "msg64")
        self.assertEqual(self.snapshot(), before)

    def test_the_board_own_pages_pass(self):
        cases = [("same origin", SAME),
                 ("same origin, default port", {"HTTP_ORIGIN": "http://%s:80" % HOST}),
                 ("same referer", {"HTTP_REFERER": "http://%s/cgi-bin/ruk-bbs.cgi" % HOST}),
                 ("neither header (not a browser)", {})]
        for i, (label, env) in enumerate(cases):
            with self.subTest(label):
                self.assertOk(self.form_post({"bid": "test", "submit_wri.x": "1", "name": "n",
                                              "title": "t%d" % i, "mess": "m", "passwd": "p"},
                                             env))
        self.assertEqual(len(self.messages()), 1 + len(cases))
        # Showing the board, paging and the reply form stay open to GET.
        for query in ["bid=test", "bid=test&mode=new", "bid=test&submit_res.x=1&id=100",
                      "bid=test&submit_next.x=1&page=1"]:
            with self.subTest(query):
                self.assertOk(self.site.run(query=query))

    def test_skin_forms_that_act_or_send_a_password_post(self):
        actions = ("submit_wri", "submit_upd", "submit_del", 'name="passwd"')
        for skin in ["default", "mobile"]:
            path = os.path.join(SITE_DIR, "skin", skin, "templ_bbs.html")
            with open(path, "rb") as f:
                page = f.read().decode("cp932")
            forms = re.findall(r"<form([^>]*)>(.*?)</form>", page, re.S)
            acting = [attrs for attrs, body in forms if any(a in body for a in actions)]
            with self.subTest(skin):
                self.assertGreaterEqual(len(acting), 2)
                for attrs in acting:
                    self.assertIn('method="post"', attrs)


class PasswordGuessingTest(BoardCase):
    """Ten failed password checks within ten minutes hold the client off
    for ten minutes, whichever action made them."""

    def setUp(self):
        super().setUp()
        self.store(record("100", title="root", passwd="own"))

    def attempts(self, passwd, env=None):
        """One try of each action that checks a password."""
        return [
            ("open the edit form", self.site.run(method="POST", env=env, body={
                "bid": "test", "submit_upd.x": "1", "id": "100", "passwd": passwd})),
            ("edit", self.post(env=env, id="100", title="edited", passwd=passwd)),
            ("delete", self.site.run(method="POST", env=env, body={
                "bid": "test", "submit_del.x": "1", "id": "100", "passwd": passwd})),
        ]

    def test_ten_failures_hold_the_client_off(self):
        failures = 0
        while failures < 10:
            for label, resp in self.attempts("guess%d" % failures):
                if failures < 10:
                    with self.subTest(label, failure=failures):
                        self.assertMessage(resp, "msg03")
                failures += 1
        before = self.snapshot()
        for label, resp in self.attempts("own"):
            with self.subTest(label, held=True):
                self.assertMessage(resp, "msg65")
        self.assertEqual(self.snapshot(), before)
        # Another client is not held off; the right password opens the form.
        other = {"REMOTE_ADDR": "192.0.2.99"}
        resp = self.site.run(method="POST", env=other, body={
            "bid": "test", "submit_upd.x": "1", "id": "100", "passwd": "own"})
        self.assertOk(resp)
        self.assertIn("FORM", resp.text)

    def test_the_board_password_cannot_be_guessed_by_posting(self):
        # The administrator's icon and the posting password try the board's
        # password: ten wrong guesses through them hold the client off too.
        self.site.add_board("test", skindir="skin/t/", passwd=ADMIN, write_passwd="wpw")
        for i in range(10):
            fields = dict(title="guess %d" % i, passwd="guess%d" % i)
            if i % 2:
                self.assertMessage(self.post(icon="0", **fields), "msg26")
            else:
                self.assertMessage(self.post(**fields), "msg41")
        for label, fields in [("icon 0", dict(icon="0", passwd=ADMIN)),
                              ("posting password", dict(passwd="wpw"))]:
            with self.subTest(label):
                self.assertMessage(self.post(title=label, **fields), "msg65")
        self.assertEqual(self.ids(), ["100"])

    def test_right_passwords_and_missing_messages_count_nothing(self):
        for i in range(12):
            self.assertMessage(self.delete("999", "guess"), "msg66")
            self.assertOk(self.post(id="100", title="edit %d" % i, passwd="own"))
        self.assertOk(self.delete("100", "own"))


class PrivatePageTest(BoardCase):
    """A page whose form holds the remembered password may not be framed
    by another site nor kept by a cache."""

    def setUp(self):
        super().setUp()
        self.store(record("100", title="root", passwd="own"))
        self.site.write("skin/t/templ_bbs.html",
                        SKIN_BBS.replace("-->FORM<", "-->FORM[%PASSWD%]<"))

    def test_pages_with_the_password_are_private(self):
        remembered = {"HTTP_COOKIE": "passwd=mine"}
        cases = [
            # label, request, private
            ("new form", lambda env: self.site.run(query="bid=test&mode=new", env=env), True),
            ("reply form", lambda env: self.site.run(query="bid=test&submit_res.x=1&id=100",
                                                     env=env), True),
            ("edit form", lambda env: self.site.run(method="POST", env=env, body={
                "bid": "test", "submit_upd.x": "1", "id": "100", "passwd": "own"}), True),
            ("post that remembers", lambda env: self.post(env=env, cookie="1"), True),
            ("board page", lambda env: self.site.run(query="bid=test", env=env), False),
        ]
        for label, request, private in cases:
            with self.subTest(label):
                resp = request(remembered)
                self.assertEqual(resp.status, 0, resp.raw)
                if "-->FORM" in resp.text:
                    self.assertIn("FORM[mine]", resp.text)
                self.assertEqual(resp.header("X-Frame-Options"), ["DENY"] if private else [])
                self.assertEqual(resp.header("Cache-Control"),
                                 ["no-store"] if private else ["private, no-cache"])
        # Without a remembered password the form is an ordinary page.
        resp = self.site.run(query="bid=test&mode=new")
        self.assertEqual((resp.header("X-Frame-Options"), resp.header("Cache-Control")),
                         ([], ["public, no-cache"]))


class CpuLimitTest(BoardCase):
    def test_a_request_runs_under_a_cpu_limit(self):
        # A request still waiting for its body: its limits can be read.
        env = {"PATH": "/usr/bin:/bin", "REQUEST_METHOD": "POST", "QUERY_STRING": "bid=test",
               "CONTENT_LENGTH": "100", "CONTENT_TYPE": "application/x-www-form-urlencoded",
               "REMOTE_ADDR": "192.0.2.10"}
        proc = subprocess.Popen([os.path.join(BUILD_DIR, "ruk-bbs")], env=env, cwd=self.site.dir,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            # Until the program has set its limit, the values are this one's.
            line = ""
            for _ in range(100):
                with open("/proc/%d/limits" % proc.pid) as f:
                    line = next(l for l in f if l.startswith("Max cpu time"))
                if line.split()[3:5] == ["30", "35"]:
                    break
                time.sleep(0.02)
            self.assertEqual(line.split()[3:5], ["30", "35"])
        finally:
            proc.kill()
            proc.communicate()


if __name__ == "__main__":
    unittest.main()
