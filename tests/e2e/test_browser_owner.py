"""Headless Chromium against the demo site, as its owner sets it up and
shows it: the administration pages step by step (settings, a new board,
icons, old logs, moderation, the board's own administrator) with their
axe-core audits and the forged requests of other sites, a members-only
board with a phone photo of a Japanese name, what the skins offer every
visitor (text buttons, page labels, icon choices) and the screenshots of
the README. The site and how a script is run: browsersite.py."""
import unittest

from browsersite import BrowserCase


class OwnerBrowserTest(BrowserCase):
    def test_site_owner(self):
        self.drive("admin.mjs", self.password)

    def test_members_board_and_phone_photo(self):
        self.drive("members.mjs")

    def test_skin_controls_and_texts(self):
        self.drive("skin.mjs")

    def test_readme_screenshots(self):
        self.drive("screenshots.mjs")


if __name__ == "__main__":
    unittest.main()
