"""The demo site as the browser tests find it, shared by the browser test
modules (test_browser_*.py): scripts/demo serving a site laid out in a
temporary directory, with the icons of the board drawn and registered, a
members-only board beside the demo's, the flood limits off (every script
posts from one address within seconds), and the pictures the scripts
attach. Each module gets a site of its own, so that the modules can run
at the same time; BrowserCase.drive runs one script of tests/browser/
against it (playwright-core with Debian's Chromium). Screenshots go to
tests/browser/screenshots/; with RUK_README_SHOTS=1 those of the README
are written to docs/screenshots/ as well.

Where Chromium, node or tests/browser/node_modules are missing, every test
is skipped (and ctest reports the module skipped), outside CI; in CI they
must be there, and the tests fail without them."""
import math
import os
import shutil
import subprocess
import unittest

from rukcgi import SOURCE_DIR, Demo, per_hex, png

BROWSER_DIR = os.path.join(SOURCE_DIR, "tests", "browser")
CHROMIUM = "/usr/bin/chromium"
NODE_PACKAGES = ("playwright-core", "axe-core")


def missing_tools():
    """What the browser tests need and this machine lacks, in words."""
    missing = []
    if not os.path.exists(CHROMIUM):
        missing.append(CHROMIUM)
    if not shutil.which("node"):
        missing.append("node")
    missing += ["tests/browser/node_modules/" + p for p in NODE_PACKAGES
                if not os.path.isdir(os.path.join(BROWSER_DIR, "node_modules", p))]
    return missing


def mix(a, b, t):
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def blossom_picture(width=480, height=300):
    """A photo-like picture for the attachments: cherry blossoms on a
    branch against a spring sky."""
    flowers = [(int(width * fx), int(height * fy), r) for fx, fy, r in
               [(.18, .30, 34), (.30, .22, 26), (.42, .36, 30), (.55, .26, 24),
                (.66, .40, 32), (.78, .30, 28), (.88, .46, 22), (.25, .52, 24),
                (.48, .58, 20), (.72, .62, 26)]]

    def pixel(x, y):
        colour = mix((150, 196, 238), (232, 242, 250), y / height)
        # the branch: a thick line from the lower left to the upper right
        if abs((y - height * .8) + (x * .45)) < 6:
            colour = (96, 64, 48)
        for fx, fy, r in flowers:
            d = math.hypot(x - fx, y - fy)
            if d < r:
                petal = .5 + .5 * math.cos(5 * math.atan2(y - fy, x - fx))
                colour = mix((250, 200, 214), (236, 150, 178), petal * d / r)
                if d < r * .22:
                    colour = (214, 90, 120)
        return colour
    return png(width, height, pixel)


def face_icon(fill, mouth, size=48):
    """A round face: mouth is "smile", "open", "frown" or "flat"."""
    c = size / 2

    def colour(x, y):
        d = math.hypot(x - c + .5, y - c + .5)
        if d > c - 1:
            return None
        if d > c - 3:
            return mix(fill, (0, 0, 0), .45)
        for ex in (c - 8, c + 8):
            if math.hypot(x - ex, y - (c - 5)) < 3:
                return (40, 40, 40)
        dx, dy = x - c + .5, y - c - 7
        if mouth == "smile" and abs(math.hypot(dx, dy + 8) - 11) < 1.5 and dy > -2:
            return (40, 40, 40)
        if mouth == "frown" and abs(math.hypot(dx, dy - 8) - 11) < 1.5 and dy < 2:
            return (40, 40, 40)
        if mouth == "open" and math.hypot(dx, dy + 1) < 5:
            return (120, 30, 30)
        if mouth == "flat" and abs(dy + 1) < 1.5 and abs(dx) < 8:
            return (40, 40, 40)
        return fill

    def pixel(x, y):
        rgb = colour(x, y)
        return (0, 0, 0, 0) if rgb is None else rgb + (255,)
    return png(size, size, pixel, alpha=True)


# The demo's icons as a site owner registers them: number, file, name,
# colour and mouth. Icon 0 is the administrator's.
ICONS = [
    (1, "smile.png", "にこにこ", (255, 214, 90), "smile"),
    (2, "wow.png", "びっくり", (255, 170, 110), "open"),
    (3, "sad.png", "しょんぼり", (150, 190, 240), "frown"),
    (4, "calm.png", "ふつう", (160, 220, 160), "flat"),
    (0, "admin.png", "管理人", (200, 160, 230), "smile"),
]


def register_icons(www):
    """Draws the icons into the default skin and registers them in the
    demo board's settings."""
    folder = os.path.join(www, "skin", "default", "icons")
    os.makedirs(folder, exist_ok=True)
    lines = b""
    for number, name, label, fill, mouth in ICONS:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(face_icon(fill, mouth))
        os.chmod(os.path.join(folder, name), 0o644)
        lines += b"ico_url%d=%s\nico_name%d=%s\n" % (
            number, per_hex("skin/default/icons/" + name), number, per_hex(label))
    with open(os.path.join(www, "data", "demo.conf"), "ab") as f:
        f.write(lines)


def set_board_settings(www, values):
    """Replaces the values of keys of the demo board's settings (the first
    line of a key wins, so they are replaced in place)."""
    path = os.path.join(www, "data", "demo.conf")
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    for i, line in enumerate(lines):
        name = line.split(b"=", 1)[0]
        if name.decode() in values:
            lines[i] = name + b"=" + per_hex(values[name.decode()])
    with open(path, "wb") as f:
        f.write(b"\n".join(lines))


def phone_photo(width=1000, height=800):
    """A picture of the size a phone takes (about 2.5 MB: noise does not
    compress), for the upload of a phone photo."""
    noise = os.urandom(width * height * 3)

    def pixel(x, y):
        i = (y * width + x) * 3
        return noise[i:i + 3]
    return png(width, height, pixel)


def add_members_board(www):
    """A second board beside the demo's, for members only: its posting
    password is "members-only" (stored as a crypt(3) code), owned as the
    demo board's data is so that the server can write it."""
    import crypt  # Python's own libcrypt binding; SHA-512 codes verify anywhere
    data = os.path.join(www, "data")
    with open(os.path.join(data, "demo.conf"), "rb") as f:
        lines = [l for l in f.read().split(b"\n") if l]
    values = {"datadir": "data/members/", "bbs_title": "会員の掲示板",
              "write_passwd": "*%s*" % crypt.crypt("members-only", crypt.mksalt(crypt.METHOD_SHA512))}
    out = []
    for line in lines:
        name = line.split(b"=", 1)[0].decode()
        out.append(name.encode() + b"=" + per_hex(values.pop(name)) if name in values else line)
    out += [k.encode() + b"=" + per_hex(v) for k, v in values.items()]
    conf = os.path.join(data, "members.conf")
    with open(conf, "wb") as f:
        f.write(b"\n".join(out) + b"\n")
    board = os.path.join(data, "members")
    os.makedirs(board)
    st = os.stat(os.path.join(data, "demo"))
    for path, mode in ((conf, 0o600), (board, 0o755)):
        os.chmod(path, mode)
        if os.geteuid() == 0:
            os.chown(path, st.st_uid, st.st_gid)


class BrowserCase(unittest.TestCase):
    """A demo site of its own for the scripts of one test module, served
    while the module runs; drive runs one script against it."""

    @classmethod
    def setUpClass(cls):
        missing = missing_tools()
        if missing and not os.environ.get("CI"):
            raise unittest.SkipTest("missing " + ", ".join(missing) +
                                    " (scripts/test installs them)")
        cls.demo = Demo()
        if not cls.demo.start():
            cls.demo.stop()
            raise RuntimeError("scripts/demo did not serve the site:\n" + cls.demo.output)
        cls.base, cls.www, cls.url = cls.demo.base, cls.demo.www, cls.demo.url
        cls.password, cls.output = cls.demo.password, cls.demo.output
        cls.shots = os.path.join(BROWSER_DIR, "screenshots")
        os.makedirs(cls.shots, exist_ok=True)
        # What the browser scripts share: the sample thread as the demo
        # laid it out, a picture to attach; and the icons of the board.
        cls.assets = os.path.join(cls.base, "assets")
        os.makedirs(cls.assets)
        shutil.copy(os.path.join(cls.www, "data", "demo", "bbs-message.dat"),
                    os.path.join(cls.assets, "sample-messages.dat"))
        with open(os.path.join(cls.assets, "sakura.png"), "wb") as f:
            f.write(blossom_picture())
        register_icons(cls.www)
        # Every script posts from this one address within seconds, which
        # the demo's flood limits would refuse (their own tests show them).
        set_board_settings(cls.www, {"post_interval": "0", "post_burst": ""})
        add_members_board(cls.www)
        with open(os.path.join(cls.assets, "猫の写真.png"), "wb") as f:
            f.write(phone_photo())

    @classmethod
    def tearDownClass(cls):
        cls.demo.stop()

    def drive(self, script, *args):
        env = dict(os.environ, RUK_ASSETS=self.assets)
        proc = subprocess.run(["node", os.path.join(BROWSER_DIR, script), self.url, self.www,
                               self.shots, *args],
                              cwd=BROWSER_DIR, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=600, env=env)
        self.assertEqual(proc.returncode, 0, proc.stdout)
