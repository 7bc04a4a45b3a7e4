// What a site owner does in a real browser: log in to the administration
// pages, set the default board password, add a board, save its settings,
// and then post to the new board.
//   node admin.mjs BASE_URL SITE_WWW SCREENSHOT_DIR ADMIN_PASSWORD
import fs from 'node:fs';
import path from 'node:path';
import { BASE, WWW, launch, shot, check, readMessages, bodyText } from './lib.mjs';

const admin = process.argv[5];
const boardPassword = 'board-pw-1';
const config = `${BASE}/ruk-config.cgi`;
const within = (page, button) => page.locator(`form:has(input[name="${button}"])`);

const browser = await launch();
try {
  const page = await browser.newPage();
  page.on('dialog', (d) => d.accept());

  // A wrong password is refused; the right one opens the system page.
  await page.goto(config);
  await within(page, 'submit_login').locator('input[name="passwd"]').fill('wrong');
  await Promise.all([page.waitForNavigation(), page.click('input[name="submit_login"]')]);
  check(await page.locator('input[name="submit_sys"]').count() === 0, 'a wrong administrator password is refused');
  await page.goto(config);
  await within(page, 'submit_login').locator('input[name="passwd"]').fill(admin);
  await Promise.all([page.waitForNavigation(), page.click('input[name="submit_login"]')]);
  check(await page.locator('input[name="submit_sys"]').count() === 1, 'the login opens the system page');
  await shot(page, 'admin-system');

  // The default password of new boards.
  const sys = within(page, 'submit_sys');
  await sys.locator('input[name="passwd"]').fill(boardPassword);
  await sys.locator('input[name="admin_passwd"]').fill(admin);
  await Promise.all([page.waitForNavigation(), sys.locator('input[name="submit_sys"]').click()]);
  check(fs.readFileSync(path.join(WWW, 'dat-system.dat'), 'latin1').includes(`passwd=${boardPassword}`),
    'the system settings are saved');

  // A new board with its data directory.
  const add = within(page, 'submit_add');
  await add.locator('input[name="bbsid"]').fill('news');
  await add.locator('input[name="admin_passwd"]').fill(admin);
  await Promise.all([page.waitForNavigation(), add.locator('input[name="submit_add"]').click()]);
  check(fs.existsSync(path.join(WWW, 'data', 'news.conf')), 'the board is registered');
  check(fs.statSync(path.join(WWW, 'data', 'news')).isDirectory(), 'its data directory is created');
  check((await page.content()).includes('value="news"'), 'the board list shows it');

  // Its settings.
  await page.goto(`${config}?bid=news`);
  await page.fill('input[name="bbs_title"]', 'ニュース掲示板');
  await page.fill('input[name="passwd"]', boardPassword);
  await shot(page, 'admin-board');
  await Promise.all([page.waitForNavigation(), page.click('input[name="submit_config"]')]);
  check((await page.inputValue('input[name="bbs_title"]')) === 'ニュース掲示板', 'the board settings are saved');
  const conf = fs.readFileSync(path.join(WWW, 'data', 'news.conf'), 'latin1');
  check(/^passwd=\*[^*]+\*$/m.test(conf), 'the board password is stored hashed');

  // A post to the new board.
  await page.goto(`${BASE}/ruk-bbs.cgi?bid=news&mode=new`);
  check((await page.title()).includes('ニュース掲示板'), 'the board shows its new title');
  await page.fill('input[name="name"]', '管理人');
  await page.fill('input[name="title"]', '開設のお知らせ');
  await page.fill('textarea[name="mess"]', 'ニュース掲示板を開設しました。');
  await page.fill('input[name="passwd"]', 'first-post');
  await Promise.all([page.waitForNavigation(), page.getByRole('button', { name: '書き込む' }).click()]);
  check((await bodyText(page)).includes('開設のお知らせ'), 'the first post is listed');
  check(readMessages('data/news').length === 1, 'it is stored in the new board');
  await shot(page, 'news-board');
} finally {
  await browser.close();
}
