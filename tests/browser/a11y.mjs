// The board's pages for every visitor: axe-core finds no serious or
// critical fault on the board, a thread, the input form, a search, the
// icon list and the attachment viewer, in light and in dark colours, on a
// desktop and on a phone; Tab shows a focus ring with contrast on every
// control; the keyboard opens the attachment viewer (Tab, Enter) and
// closes it (Escape).
//   node a11y.mjs BASE_URL SITE_WWW SCREENSHOT_DIR   (RUK_ASSETS: see lib.mjs)
import { BOARD, DESKTOP, IPHONE, launch, shot, check, openPage, audit, tabTo, withMessages,
  pictureThread } from './lib.mjs';

const thread = pictureThread();

// The pages audited, each opened as a visitor would.
const pages = [
  ['board', (page) => page.goto(BOARD)],
  ['thread', (page) => page.goto(`${BOARD}&ppid=${thread.id}&style=1`)],
  ['form', (page) => page.goto(`${BOARD}&mode=new`)],
  ['search', async (page) => {
    await page.goto(BOARD);
    await page.getByRole('searchbox').first().fill('桜');
    await Promise.all([page.waitForNavigation(),
      page.getByRole('button', { name: '検索' }).first().click()]);
  }],
  ['icons', (page) => page.goto(`${BOARD}&mode=icon`)],
  ['viewer', (page) => page.goto(new URL(`ruk-view.cgi?url=data/demo/${thread.id}/sakura.png`, BOARD).href)],
];

// Relative luminance contrast of two "rgb(...)" colours.
const contrastOf = (page, a, b) => page.evaluate(([x, y]) => {
  const lum = (c) => {
    const [r, g, bl] = c.match(/[\d.]+/g).slice(0, 3).map((v) => {
      const s = Number(v) / 255;
      return s <= 0.03928 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
    });
    return 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  };
  const [hi, lo] = [lum(x), lum(y)].sort((p, q) => q - p);
  return (hi + 0.05) / (lo + 0.05);
}, [a, b]);

// The controls that Tab reaches on the page without a focus ring of at
// least 2px whose colour stands out (3:1) from the background behind it.
async function controlsWithoutFocusRing(page) {
  const faults = [];
  let seen = 0;
  await page.locator('body').focus();
  for (let i = 0; i < 40; i++) {
    await page.keyboard.press('Tab');
    const ring = await page.evaluate(() => {
      const el = document.activeElement;
      if (!el || el === document.body) return null;
      const style = getComputedStyle(el);
      let back = 'rgb(255, 255, 255)';
      for (let p = el.parentElement; p; p = p.parentElement) {
        const c = getComputedStyle(p).backgroundColor;
        if (c !== 'rgba(0, 0, 0, 0)' && c !== 'transparent') { back = c; break; }
      }
      return { what: `${el.tagName.toLowerCase()} ${(el.innerText || el.name || el.getAttribute('aria-label') || '').slice(0, 20)}`,
        style: style.outlineStyle, width: parseFloat(style.outlineWidth), colour: style.outlineColor, back };
    });
    if (!ring) break;
    seen += 1;
    if (ring.style === 'none' || ring.width < 2
        || await contrastOf(page, ring.colour, ring.back) < 3) {
      faults.push(`${ring.what} (${ring.style} ${ring.width}px ${ring.colour} on ${ring.back})`);
    }
  }
  check(seen >= 20, `Tab went through ${seen} controls`);
  return faults;
}

const browser = await launch();
try {
  await withMessages(thread.pieces, async () => {
    const faults = [];
    for (const [deviceName, device] of [['desktop', DESKTOP], ['phone', IPHONE]]) {
      for (const scheme of ['light', 'dark']) {
        const page = await openPage(browser, device, scheme);
        for (const [name, open] of pages) {
          await open(page);
          for (const fault of await audit(page)) {
            faults.push(`${name} (${deviceName}, ${scheme}): ${fault}`);
          }
          await shot(page, `a11y-${name}-${deviceName}-${scheme}`);
        }
        await page.goto(BOARD);
        for (const fault of await controlsWithoutFocusRing(page)) {
          faults.push(`focus ring (${deviceName}, ${scheme}): ${fault}`);
        }
        await page.context().close();
      }
    }
    check(faults.length === 0, `no serious or critical fault on any page, a focus ring on every control${
      faults.map((f) => `\n  ${f}`).join('')}`);

    // The viewer by keyboard: Tab reaches the attachment's control, which
    // says what it opens; Enter opens the viewer in a tab of its own with
    // the close control focused; Escape closes it.
    const page = await openPage(browser, DESKTOP);
    await page.goto(BOARD);
    check(await tabTo(page, 'a.attachView'), 'Tab reaches the viewer control of the attachment');
    const label = await page.evaluate(() => document.activeElement.querySelector('img').alt);
    check(label === 'sakura.pngを拡大表示', `the control says what it does (${label})`);
    const opened = page.context().waitForEvent('page');
    await page.keyboard.press('Enter');
    const viewer = await opened;
    await viewer.waitForLoadState();
    check(await viewer.locator('img[alt="sakura.png"]').count() === 1, 'Enter opens the viewer on the picture');
    check(await viewer.evaluate(() => document.activeElement?.id === 'close'
      && document.activeElement.innerText === '閉じる'), 'the viewer\'s close control has the focus');
    check(await viewer.getByRole('button', { name: '閉じる' }).isVisible(), 'the close control is visible');
    await shot(viewer, 'viewer');
    // (the key press itself fails as the tab closes under it)
    await Promise.all([viewer.waitForEvent('close'), viewer.keyboard.press('Escape').catch(() => {})]);
    check(viewer.isClosed(), 'Escape closes the viewer');

    // Opened in the board's own tab (as a phone may do), the viewer's
    // Escape goes back to the board.
    const href = await page.locator('a.attachView').first().getAttribute('href');
    await page.goto(new URL(href, BOARD).href);
    await Promise.all([page.waitForURL(/ruk-bbs\.cgi\?bid=demo$/), page.keyboard.press('Escape')]);
    check(page.url().endsWith('ruk-bbs.cgi?bid=demo'), 'in the board\'s tab Escape goes back to the board');
    await page.context().close();
  });
} finally {
  await browser.close();
}
