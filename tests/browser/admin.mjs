// What a site owner does in a real browser: log in to the administration
// pages, set the default board password, add a board, save its settings,
// log out, log in as the board's own administrator, and then post to the
// new board. While the administrator is logged in, pages of other origins
// try to make the browser change the settings, and change nothing.
//   node admin.mjs BASE_URL SITE_WWW SCREENSHOT_DIR ADMIN_PASSWORD
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { BASE, WWW, launch, shot, check, readMessages, bodyText } from './lib.mjs';

const admin = process.argv[5];
const boardPassword = 'board-pw-1';
const defaultPassword = 'default-pw-1';
const config = `${BASE}/ruk-config.cgi`;
const within = (page, button) => page.locator(`form:has([name="${button}"])`);
const systemFile = () => fs.readFileSync(path.join(WWW, 'dat-system.dat'), 'latin1');
const boardFile = (id) => fs.readFileSync(path.join(WWW, 'data', `${id}.conf`), 'latin1');

// Clicks a submit button and waits for the page it loads.
async function submit(page, locator) {
  await Promise.all([page.waitForNavigation(), locator.click()]);
}

// A page of another origin that, once opened, sends a form to the
// administration program (the page the browser then shows is the
// program's answer), or loads a link that carries an action as an image.
function attackPage(form, link) {
  const fields = Object.entries(form || {}).map(([k, v]) =>
    `<input type="hidden" name="${k}" value="${v}">`).join('');
  return `<!DOCTYPE html><html><body>
<form id="a" method="post" action="${config}">${fields}</form>
${link ? `<img src="${link}">` : '<script>document.getElementById("a").submit();</script>'}
</body></html>`;
}

const forged = [
  { submit_add: '1', bbsid: 'forged', passwd: 'x', passwd2: 'x', datadir_make: '1' },
  { submit_sys: '1', bbs_title: 'forged', sendmail: '/tmp/forged' },
  { submit_passwd: '1', passwd: admin, passwd_new: 'forged', passwd_new2: 'forged' },
];
// The start of the catalogue's text for a forged request ("msg64").
const refusal = 'このフォームからは送信できません';
const forgedLink = `${config}?submit_del=1&bbsid=news&datadir_del=1`;

// Opens each attack of another origin in a tab of the logged-in browser:
// every request reaches the program and gets its refusal. With serve, the
// browser itself answers for that origin; otherwise the server does, by
// the attack's number in the path.
async function attackFrom(context, origin, serve) {
  const attacks = [...forged.map((f) => attackPage(f, null)), attackPage(null, forgedLink)];
  for (const [i, html] of attacks.entries()) {
    const page = await context.newPage();
    try {
      if (serve) {
        await page.route(`${origin}/**`, (route) => route.fulfill({ contentType: 'text/html', body: html }));
      }
      if (i < forged.length) {
        const answer = page.waitForResponse((r) => r.url().startsWith(config));
        await page.goto(`${origin}/attack${i}.html`);
        // Chromium hands the page over as decoded text.
        const bytes = await (await answer).body();
        const body = ['utf-8', 'shift_jis'].map((e) => new TextDecoder(e).decode(bytes)).join('');
        check(body.includes(refusal), `the program refuses form ${i} from ${origin}`);
      } else {
        // An image's answer is not handed to the page: the request is seen
        // here, its refusal in the files afterwards.
        const sent = page.waitForRequest((r) => r.url().startsWith(config));
        await page.goto(`${origin}/attack${i}.html`);
        await sent;
        await page.waitForLoadState('networkidle');
      }
    } finally {
      await page.close();
    }
  }
}

const browser = await launch();
// A server on another port of this host: the same site, another origin.
const evil = http.createServer((req, res) => {
  const i = Number((req.url.match(/attack(\d+)/) || [])[1]);
  res.writeHead(200, { 'Content-Type': 'text/html' });
  res.end(i < forged.length ? attackPage(forged[i], null) : attackPage(null, forgedLink));
});
await new Promise((resolve) => evil.listen(0, '127.0.0.1', resolve));
try {
  const context = await browser.newContext();
  const page = await context.newPage();
  page.on('dialog', (d) => d.accept());

  // Without a login the pages show nothing but the login page.
  await page.goto(`${config}?bid=demo`);
  check(await page.locator('input[name="submit_config"]').count() === 0,
    'a board page is not shown without a login');
  check(await page.locator('input[name="submit_login"]').count() === 2,
    'the login page is shown instead');

  // A wrong password is refused; the right one opens the system page.
  await page.goto(config);
  const adminLogin = page.locator('form:not(:has([name="bid"])):has([name="submit_login"])');
  await adminLogin.locator('input[name="passwd"]').fill('wrong');
  await submit(page, adminLogin.locator('input[name="submit_login"]'));
  check(await page.locator('input[name="submit_sys"]').count() === 0, 'a wrong administrator password is refused');
  await page.goto(config);
  await adminLogin.locator('input[name="passwd"]').fill(admin);
  await submit(page, adminLogin.locator('input[name="submit_login"]'));
  check(await page.locator('input[name="submit_sys"]').count() === 1, 'the login opens the system page');
  const session = (await context.cookies()).find((c) => c.name === 'ruk_session');
  check(session && session.httpOnly && session.sameSite === 'Strict', 'the session cookie is HttpOnly and SameSite=Strict');
  check(!(await page.content()).includes(admin), 'no page holds the password');
  await shot(page, 'admin-system');

  // The default password of new boards, typed twice, stored as a code.
  const sys = within(page, 'submit_sys');
  await sys.locator('input[name="passwd"]').fill(defaultPassword);
  await sys.locator('input[name="passwd2"]').fill(defaultPassword);
  await submit(page, sys.locator('input[name="submit_sys"]'));
  check(/^passwd=.+$/m.test(systemFile()) && !systemFile().includes(defaultPassword),
    'the default board password is stored as a code');

  // A new board with its own password and its data directory.
  const add = within(page, 'submit_add');
  await add.locator('input[name="bbsid"]').fill('news');
  await add.locator('input[name="passwd"]').fill(boardPassword);
  await add.locator('input[name="passwd2"]').fill(boardPassword);
  await submit(page, add.locator('input[name="submit_add"]'));
  check(fs.existsSync(path.join(WWW, 'data', 'news.conf')), 'the board is registered');
  check(fs.statSync(path.join(WWW, 'data', 'news')).isDirectory(), 'its data directory is created');
  check((await page.content()).includes('value="news"'), 'the board list shows it');
  check(!boardFile('news').includes(boardPassword), 'the board password is stored as a code');

  // Its settings: the administrator needs no board password.
  await page.goto(`${config}?bid=news`);
  await page.fill('input[name="bbs_title"]', 'ニュース掲示板');
  await shot(page, 'admin-board');
  await submit(page, page.locator('input[name="submit_config"]'));
  check((await page.inputValue('input[name="bbs_title"]')) === 'ニュース掲示板', 'the board settings are saved');

  // Other origins make the logged-in browser send forms and a link.
  const systemBefore = systemFile();
  // Another port of this host is the same site (the cookie goes along)
  // but another origin; another host is another site.
  await attackFrom(context, `http://127.0.0.1:${evil.address().port}`, false);
  await attackFrom(context, 'http://evil.example', true);
  check(!fs.existsSync(path.join(WWW, 'data', 'forged.conf')), 'a forged form adds no board');
  check(systemFile() === systemBefore, 'forged forms change no system setting nor password');
  check(fs.existsSync(path.join(WWW, 'data', 'news.conf')), 'a forged link removes no board');
  await page.goto(`${config}?submit_read=1`);
  check(await page.locator('input[name="submit_sys"]').count() === 1, 'the administrator is still logged in');

  // Logging out ends the session.
  await submit(page, page.locator('button[name="submit_logout"]').first());
  await page.goto(`${config}?submit_read=1`);
  check(await page.locator('input[name="submit_sys"]').count() === 0, 'the logout ends the session');

  // The board's own administrator sees that board only.
  await page.goto(`${config}?bid=news`);
  const boardLogin = page.locator('form:has([name="bid"]):has([name="submit_login"])');
  check((await boardLogin.locator('input[name="bid"]').inputValue()) === 'news', 'the login page keeps the board id');
  await boardLogin.locator('input[name="passwd"]').fill(boardPassword);
  await submit(page, boardLogin.locator('input[name="submit_login"]'));
  check(await page.locator('input[name="submit_config"]').count() === 1, 'the board login opens its settings');
  await page.goto(`${config}?submit_read=1`);
  check(await page.locator('input[name="submit_sys"]').count() === 0, 'but not the system settings');

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
  evil.close();
  await browser.close();
}
