// What a visitor meets around posting and reading, in a real browser: a
// post answers with a redirect to its thread, so reloading the page sends
// nothing again; the page title names the thread; the board announces its
// Atom feed; an old log is listed, opens read only, and a thread that was
// moved there is found from its old address.
//   node features.mjs BASE_URL SITE_WWW SCREENSHOT_DIR
import fs from 'node:fs';
import path from 'node:path';
import { BASE, WWW, launch, shot, check, readMessages, bodyText, messageLine } from './lib.mjs';

const board = `${BASE}/ruk-bbs.cgi?bid=demo`;
const title = 'リロードしても一度だけ';
const archivedId = '1700000000000';

// An old log of the demo board holding one thread, owned like the board's
// data so that the server can lock it.
function makeOldLog(name) {
  const data = path.join(WWW, 'data/demo');
  const dir = path.join(data, 'old', name);
  fs.mkdirSync(dir, { recursive: true });
  fs.writeFileSync(path.join(dir, 'bbs-message.dat'), messageLine({ id: archivedId, date: '2023/11/15 07:13:20', name: 'archivist',
    title: 'Archived thread', mess: 'old words' }));
  const { uid, gid } = fs.statSync(data);
  for (const p of [path.join(data, 'old'), dir, path.join(dir, 'bbs-message.dat')]) {
    fs.chownSync(p, uid, gid);
  }
}

const browser = await launch();
try {
  const page = await browser.newPage();
  page.on('dialog', (d) => d.accept());
  const postAnswers = [];
  page.on('response', (r) => {
    if (r.request().method() === 'POST') postAnswers.push(r.status());
  });

  // A post answers "303 See Other" and shows its thread.
  await page.goto(`${board}&mode=new`);
  await page.fill('input[name="name"]', '一郎');
  await page.fill('input[name="title"]', title);
  await page.fill('textarea[name="mess"]', '二重に書き込まれないはずです。');
  await page.fill('input[name="passwd"]', 'once-only');
  await Promise.all([page.waitForNavigation(), page.getByRole('button', { name: '書き込む' }).click()]);
  const posted = readMessages('data/demo').filter((m) => m.title === title);
  check(posted.length === 1, 'the post is stored once');
  check(postAnswers.includes(303), `the post answered 303 See Other (${postAnswers})`);
  check(page.url().includes(`ppid=${posted[0].id}`) && page.url().endsWith(`#m${posted[0].id}`),
    `the browser shows the post's thread at the post (${page.url()})`);
  check((await page.title()).startsWith(`${title} - `), `the title names the thread (${await page.title()})`);
  await shot(page, 'after-redirect');

  // Reloading sends nothing again.
  postAnswers.length = 0;
  await page.reload();
  check(postAnswers.length === 0, 'reloading sends no post');
  check(readMessages('data/demo').filter((m) => m.title === title).length === 1,
    'the post is still stored once');

  // The feed the head announces.
  const feedHref = await page.getAttribute('link[rel="alternate"][type="application/atom+xml"]', 'href');
  const feed = await page.request.get(new URL(feedHref, page.url()).href);
  check(feed.status() === 200 && feed.headers()['content-type'].startsWith('application/atom+xml'),
    'the announced feed is served as Atom');
  check((await feed.text()).includes(`<title type="text">${title}</title>`), 'the feed holds the new post');

  // An old log: listed on the board, read only.
  makeOldLog('2023-11');
  await page.goto(board);
  const logLink = page.locator('nav.oldLogs a', { hasText: '2023-11' });
  check(await logLink.count() === 1, 'the board lists its old log');
  await shot(page, 'old-log-list');
  await Promise.all([page.waitForNavigation(), logLink.click()]);
  let text = await bodyText(page);
  check(text.includes('Archived thread') && text.includes('old words'), 'the old log shows its thread');
  check(await page.locator('form.msgForm').count() === 0 &&
    await page.locator('a[href*="mode=new"]').count() === 0, 'the old log offers no form and no controls');
  check((await page.title()).includes('過去ログ「2023-11」'), 'its title names the old log');
  await shot(page, 'old-log');

  // The thread's old address leads there.
  await page.goto(`${board}&style=1&ppid=${archivedId}`);
  const notice = page.locator('.notice');
  check((await notice.innerText()).includes('過去ログ'), 'a moved thread says where it went');
  await shot(page, 'moved-thread');
  await Promise.all([page.waitForNavigation(), notice.locator('a').click()]);
  text = await bodyText(page);
  check(page.url().includes('bid=demo=2023-11') && text.includes('old words'),
    'its link opens the thread in the old log');
} finally {
  await browser.close();
}
