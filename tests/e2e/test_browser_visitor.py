"""Headless Chromium against the demo board, as visitors meet it: what a
visitor does step by step (a thread with a picture, a reply, the title
view, an edit and a deletion with the password, a search), the redirect
after a post, the feed and old logs, what forged requests from a message
or another site cannot do, and an accessibility audit (axe-core) of each
page in light and dark colours at desktop and phone widths with the
keyboard way through the attachment viewer. The site and how a script is
run: browsersite.py."""
import unittest

from browsersite import BrowserCase


class VisitorBrowserTest(BrowserCase):
    def test_demo_prints_its_urls(self):
        self.assertIn("/ruk-bbs.cgi?bid=demo", self.output)
        self.assertIn("/ruk-config.cgi", self.output)
        self.assertTrue(self.password, self.output)

    def test_visitor(self):
        self.drive("visitor.mjs")

    def test_posting_and_reading_features(self):
        self.drive("features.mjs")

    def test_forged_requests(self):
        self.drive("forgery.mjs")

    def test_accessibility(self):
        self.drive("a11y.mjs")


if __name__ == "__main__":
    unittest.main()
