"""Requests the decoder must refuse as a whole, run as CGI against a small
site: a multipart post whose body ends before its CONTENT_LENGTH, and a
body of far more fields than any form has. Each gets the catalogue page
msg24 and changes nothing. Also the trace log of a post that carries
passwords in the form, the query string and the cookie: none of them may
reach the log, and the log is readable by its owner only."""
import functools
import os
import stat
import unittest
import urllib.parse

import rukcgi
from rukcgi import Site

KEYS = ["msg%02d" % i for i in range(1, 100)]
BOUNDARY = b"----ruk-request-boundary-3"
SECRET = "Zq7-secret-pw"
LOG = "ruk-bbs.cgi.log"


def make_site(trace="0"):
    """A site whose catalogue texts name their keys, a one-line board skin
    and the board "test" that takes attachments."""
    site = Site(full=False)
    site.write("dat-message.dat", "".join("%s=[%s]\n" % (k, k) for k in KEYS))
    site.write("skin/t/templ_bbs.html", "<html>%USER_HEADER%<!--INPUT_FORM-->FORM"
               "<!--/INPUT_FORM--><!--DATA_TABLE--><!--/DATA_TABLE--></html>\n")
    site.write("skin/t/templ_ico.html", "<html>icons</html>")
    site.write("skin/t/templ_info.html", "info|%MESSAGE%|%RETURN_CGI%")
    site.write("skin/default/templ_info.html", "info|%MESSAGE%|%RETURN_CGI%")
    site.write_system({"attach_max": "3", "opt_trace": trace, "admin": "adminpw",
                       "passwd": "defpw"})
    site.add_board("test", skindir="skin/t/", passwd="boardadmin", attach_size="100")
    return site


# The request tests' bodies: their own boundary, files sent as text.
multipart = functools.partial(rukcgi.multipart, boundary=BOUNDARY, file_type="text/plain")


POST = {"bid": "test", "submit_wri.x": "1", "name": "nm", "title": "tt", "mess": "body",
        "passwd": "pw", "icon": "1"}


class RequestCase(unittest.TestCase):
    trace = "0"

    def setUp(self):
        self.site = make_site(self.trace)

    def tearDown(self):
        self.site.close()

    def board_files(self):
        """Every file and directory below the board's data directory."""
        out = []
        for d, dirs, names in os.walk(self.site.path("data/test")):
            rel = os.path.relpath(d, self.site.path("data/test"))
            out += [os.path.join(rel, n) for n in dirs + names if n != "lockfile.lock"]
        return sorted(out)

    def assertMessage(self, resp, key):
        self.assertEqual(resp.status, 1, resp.raw[:300])
        self.assertTrue(resp.text.startswith("info|[%s]|" % key), resp.text[:300])


class RefusedRequestTest(RequestCase):
    def test_multipart_post_cut_short_stores_nothing(self):
        # The whole post is stored: the refusals below are about the length.
        whole, ctype = multipart(dict(POST, title="whole"), [("file0", "a.txt", b"HELLO")])
        resp = self.site.run(method="POST", body=whole, content_type=ctype)
        self.assertEqual(resp.status, 0, resp.raw[:300])
        self.assertEqual(len(self.site.read("data/test/bbs-message.dat").split(b"\n")), 2)

        body, ctype = multipart(dict(POST, title="cut"), [("file0", "b.txt", b"HELLO" * 40)])
        before = self.board_files()
        stored = self.site.read("data/test/bbs-message.dat")
        cuts = [("inside the file", body.index(b"HELLO") + 5),
                ("before the closing delimiter", body.rindex(b"--" + BOUNDARY)),
                ("one byte short", len(body) - 1)]
        for label, cut in cuts:
            with self.subTest(label):
                resp = self.site.run(method="POST", body=body[:cut], content_type=ctype,
                                     env={"CONTENT_LENGTH": str(len(body))})
                self.assertMessage(resp, "msg24")
                self.assertEqual(self.site.read("data/test/bbs-message.dat"), stored)
                self.assertEqual(self.board_files(), before)

    def test_field_bomb_is_refused_by_the_admin_program(self):
        bodies = [("empty fields", b"a=&" * 200000),
                  ("fields with values", b"&".join(b"f%d=1" % i for i in range(1001)))]
        for label, body in bodies:
            with self.subTest(label):
                before = self.site.read("dat-system.dat")
                resp = self.site.run(program="ruk-config", method="POST", body=body)
                self.assertMessage(resp, "msg24")
                self.assertEqual(self.site.read("dat-system.dat"), before)
        # Fields of the query string count with those of the body.
        query = "&".join("q%d=1" % i for i in range(600))
        body = "&".join("b%d=1" % i for i in range(600)).encode()
        resp = self.site.run(program="ruk-config", method="POST", body=body, query=query)
        self.assertMessage(resp, "msg24")

    def test_malformed_multipart_is_refused(self):
        body, ctype = multipart(POST)
        cases = [("no closing delimiter", body[:body.rindex(b"--" + BOUNDARY)], ctype),
                 ("no boundary parameter", body, "multipart/form-data"),
                 ("boundary of another body", body, "multipart/form-data; boundary=other")]
        for label, data, content_type in cases:
            with self.subTest(label):
                resp = self.site.run(method="POST", body=data, content_type=content_type)
                self.assertMessage(resp, "msg24")
                self.assertEqual(self.board_files(), [])


class TraceLogTest(RequestCase):
    trace = "1"

    def test_passwords_never_reach_the_trace_log(self):
        quoted = urllib.parse.quote(SECRET)
        cookie = "name=nm; passwd=%s; mail=" % quoted
        # The log exists with a wide mode from an older version.
        self.site.write(LOG, b"old line\n")
        os.chmod(self.site.path(LOG), 0o666)

        body, ctype = multipart(dict(POST, passwd=SECRET), [("file0", "a.txt", b"file")])
        resp = self.site.run(method="POST", body=body, content_type=ctype,
                             env={"HTTP_COOKIE": cookie})
        self.assertEqual(resp.status, 0, resp.raw[:300])
        form = urllib.parse.urlencode({"bid": "test", "submit_del.x": "1", "id": "1",
                                       "passwd": SECRET}).encode()
        self.site.run(method="POST", body=form, query="passwd2=" + quoted,
                      env={"HTTP_COOKIE": cookie,
                           "REQUEST_URI": "/ruk-bbs.cgi?passwd2=" + quoted})
        self.site.run(program="ruk-config", method="POST",
                      body=("submit_login=1&passwd=%s&admin_passwd=%s" %
                            (quoted, quoted)).encode())

        log = self.site.read(LOG)
        self.assertIn(b"old line", log)
        # The trace ran: it names the fields and masks their values.
        self.assertIn(b"passwd", log)
        self.assertIn(b"********", log)
        self.assertIn(b"HTTP_COOKIE", log)
        for form_of_secret in (SECRET, quoted, SECRET.replace("-", "%2D")):
            self.assertNotIn(form_of_secret.encode(), log)
        self.assertEqual(stat.S_IMODE(os.stat(self.site.path(LOG)).st_mode), 0o600)


if __name__ == "__main__":
    unittest.main()
