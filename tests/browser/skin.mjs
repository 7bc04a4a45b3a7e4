// What the skins offer a visitor on a desktop, an iPhone and a feature
// phone: buttons of Japanese text (no button pictures), page labels that
// count from 1 and mark the newest page, paging by the text buttons, an
// icon selector that starts at なし and never offers the administrator's
// icon, an icon list without empty cells that wraps on a phone, and
// pictures in messages that fit the screen.
//   node skin.mjs BASE_URL SITE_WWW SCREENSHOT_DIR   (RUK_ASSETS: see lib.mjs)
import { BOARD, DESKTOP, IPHONE, FEATURE_PHONE, launch, shot, check, openPage, withMessages,
  messageLine, stamp, pictureThread } from './lib.mjs';

const JAPANESE = /[\u3040-\u30ff\u4e00-\u9fff]/;

// Every button of the page: its kind and its visible text.
const buttons = (page) => page.$$eval('button, input[type=submit], input[type=image]',
  (els) => els.map((e) => ({ kind: e.type, text: (e.innerText || e.value || '').trim() })));

// The page selector's choices as [value, label, selected].
const pageChoices = (page) => page.locator('select[name=sel_page]').first().evaluate(
  (select) => [...select.options].map((o) => [o.value, o.textContent.trim(), o.selected]));

// The icon selector's choices as [value, label, selected].
const iconChoices = (page) => page.$$eval('select[name=icon] option',
  (els) => els.map((o) => [o.value, o.textContent.trim(), o.selected]));

// The titles of the threads the page lists, in order.
const titles = (page) => page.$$eval('.msgTitle a, b', (els) => els.map((e) => e.textContent));

// 25 threads "t1" (newest) to "t25".
const manyThreads = () => {
  const base = Math.floor(Date.now() / 1000) * 1000;
  return Array.from({ length: 25 }, (_, i) =>
    messageLine({ id: `${base - i}`, date: stamp(), name: 'name', title: `t${i + 1}`, mess: 'body' }));
};

const ICONS = [['', 'なし', true], ['1', 'にこにこ', false], ['2', 'びっくり', false],
  ['3', 'しょんぼり', false], ['4', 'ふつう', false]];

const browser = await launch();
try {
  const desktop = await openPage(browser, DESKTOP);
  const phone = await openPage(browser, IPHONE);
  const keitai = await openPage(browser, FEATURE_PHONE);

  // Buttons: text in Japanese on every page of both skins.
  for (const [device, page] of [['desktop', desktop], ['feature phone', keitai]]) {
    for (const url of [BOARD, `${BOARD}&mode=new`]) {
      await page.goto(url);
      const all = await buttons(page);
      check(all.length >= 3 && all.every((b) => b.kind !== 'image' && JAPANESE.test(b.text)),
        `${device} ${url.includes('mode=new') ? 'form' : 'board'}: every button is Japanese text `
        + `(${all.map((b) => b.text).join(' ')})`);
    }
  }

  // Page labels, and paging with the text buttons.
  await withMessages(manyThreads(), async () => {
    await desktop.goto(BOARD);
    check(JSON.stringify(await pageChoices(desktop)) === JSON.stringify([
      ['0', '1ページ目（最新）', true], ['1', '2ページ目', false], ['2', '3ページ目', false]]),
    `the pages read 1ページ目（最新）, 2ページ目, 3ページ目 (${await pageChoices(desktop)})`);
    const nav = desktop.locator('nav').first();
    await Promise.all([desktop.waitForNavigation(), nav.getByRole('button', { name: '古いページ' }).click()]);
    check((await titles(desktop))[0] === 't11' && (await pageChoices(desktop))[1][2],
      '古いページ shows the second page');
    await Promise.all([desktop.waitForNavigation(), nav.getByRole('button', { name: '新しいページ' }).click()]);
    check((await titles(desktop))[0] === 't1', '新しいページ goes back to the newest');
    await nav.getByLabel('表示するページ').selectOption({ label: '3ページ目' });
    await Promise.all([desktop.waitForNavigation(), nav.getByRole('button', { name: '移動' }).click()]);
    check(JSON.stringify(await titles(desktop)) === JSON.stringify(['t21', 't22', 't23', 't24', 't25']),
      '移動 jumps to the chosen page');
    await shot(desktop, 'skin-third-page');

    // The feature phone pages by five: five pages, labelled alike.
    await keitai.goto(BOARD);
    const labels = (await pageChoices(keitai)).map((c) => c[1]);
    check(JSON.stringify(labels) === JSON.stringify(
      ['1ページ目（最新）', '2ページ目', '3ページ目', '4ページ目', '5ページ目']),
    `the feature phone's pages read alike (${labels})`);
  });

  // The icon selector: なし first and chosen, icons with pictures, never
  // the administrator's icon 0; on the new, the reply and the phone form.
  const thread = pictureThread();
  await withMessages(thread.pieces, async () => {
    await desktop.goto(`${BOARD}&mode=new`);
    check(JSON.stringify(await iconChoices(desktop)) === JSON.stringify(ICONS),
      `the form offers なし and the icons, never icon 0 (${await iconChoices(desktop)})`);
    await desktop.goto(BOARD);
    await Promise.all([desktop.waitForNavigation(),
      desktop.locator('form.msgForm').first().getByRole('button', { name: '返信する' }).click()]);
    check(JSON.stringify(await iconChoices(desktop)) === JSON.stringify(ICONS),
      'the reply form offers the same choices');
    await keitai.goto(`${BOARD}&mode=new`);
    check(JSON.stringify(await iconChoices(keitai)) === JSON.stringify(ICONS),
      `the feature phone's form offers なし too (${await iconChoices(keitai)})`);
    await shot(keitai, 'skin-feature-phone-form');

    // Pictures in messages fit the column, on a phone and a feature phone.
    for (const [device, page, width] of [['iPhone', phone, 390], ['feature phone', keitai, 240]]) {
      await page.goto(BOARD);
      const img = page.locator('img[src$="/sakura.png"]').first();
      await img.waitFor();
      const size = await img.evaluate((e) => ({ shown: e.getBoundingClientRect().width,
        natural: e.naturalWidth, page: document.documentElement.scrollWidth }));
      check(size.natural > width && size.shown <= width - 16 && size.page <= width,
        `${device}: the picture (${size.natural}px) is shown ${Math.round(size.shown)}px wide, `
        + `the page ${size.page}px`);
      await shot(page, `skin-picture-${device.replace(' ', '-')}`);
    }
  });

  // The icon list: one cell per icon with a picture, each named; a grid
  // that wraps on a phone and never overflows it.
  for (const [device, page, width] of [['desktop', desktop, 1280], ['iPhone', phone, 390]]) {
    await page.goto(`${BOARD}&mode=icon`);
    const cells = await page.$$eval('.iconList li', (els) => els.map((li) => ({
      alt: li.querySelector('img')?.alt, text: li.innerText.trim(), top: li.offsetTop })));
    check(JSON.stringify(cells.map((c) => c.text)) === JSON.stringify(ICONS.slice(1).map((i) => i[1]))
      && cells.every((c) => c.alt === c.text),
    `${device}: the icon list shows the four icons, each with its name (${cells.map((c) => c.text)})`);
    const rows = new Set(cells.map((c) => c.top)).size;
    const scroll = await page.evaluate(() => document.documentElement.scrollWidth);
    check(scroll <= width && (width < 600 ? rows >= 2 : rows === 1),
      `${device}: the icons stand in ${rows} row(s) within the screen (${scroll}px)`);
    await shot(page, `skin-icons-${device}`);
  }
} finally {
  await browser.close();
}
