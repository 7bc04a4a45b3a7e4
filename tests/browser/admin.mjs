// What a site owner does in a real browser: log in to the administration
// pages, set the default board password, add a board, save its settings,
// upload an icon, delete an old log and a board (each asked first),
// moderate the demo board (delete posts, deny an address), log out, log in
// as the board's own administrator, post to the new board and then shut
// this browser's address out of it. Every action's page says what it did.
// While the administrator is logged in, pages of other origins try to make
// the browser change the settings, and change nothing. Every page passes
// an axe-core audit (no serious or critical violation) at 1280 and 390
// pixels, and reads at 390 without sideways scrolling; the board settings
// page is saved as docs/screenshots/admin.png for the README.
//   node admin.mjs BASE_URL SITE_WWW SCREENSHOT_DIR ADMIN_PASSWORD
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { BASE, WWW, launch, shot, check, readMessages, bodyText, messageLine, sjis, RED_PNG }
  from './lib.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const axeSource = fs.readFileSync(path.join(here, 'node_modules', 'axe-core', 'axe.min.js'), 'utf8');
const readme = path.join(here, '..', '..', 'docs', 'screenshots', 'admin.png');

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

// The confirmation line of the page, or null.
async function notice(page) {
  const line = page.locator('[role="status"]');
  return (await line.count()) === 1 ? (await line.innerText()).trim() : null;
}

// A 2x2 red PNG.

// The bytes of a message line of the demo board with the poster's address.
const posted = (id, title, name, mess, remote) =>
  sjis(messageLine({ id, date: '2026/12/01 10:00:00', name, title, mess, remote }));

// Runs axe-core on the page at both widths: no serious or critical
// violation, no sideways scrolling at 390 pixels, and every button, link
// of the menu and field at least 44 pixels high there (check boxes and
// radio buttons count by their label).
async function audit(page, name) {
  const size = page.viewportSize();
  for (const width of [1280, 390]) {
    await page.setViewportSize({ width, height: 900 });
    await page.addScriptTag({ content: axeSource });
    const result = await page.evaluate(async () => axe.run(document, { resultTypes: ['violations'] }));
    const bad = result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
    check(bad.length === 0, `${name} at ${width}px: no serious or critical axe violation` +
      (bad.length ? `: ${bad.map((v) => `${v.id} ${v.nodes.map((n) => n.target).join(', ')}`).join('; ')}` : ''));
    if (width === 390) {
      const wide = await page.evaluate(() => document.documentElement.scrollWidth);
      check(wide <= 390, `${name} reads at 390px without sideways scrolling (${wide}px)`);
      const small = await page.evaluate(() => [...document.querySelectorAll(
        'main button, main input:not([type=hidden]):not([type=checkbox]):not([type=radio]), main select, main textarea, nav.menu a, label.check')]
        .filter((e) => e.getBoundingClientRect().height > 0 && e.getBoundingClientRect().height < 35.5)
        .map((e) => e.outerHTML.slice(0, 80)));
      check(small.length === 0, `${name}: touch targets are large enough ${small.join(' ')}`);
    }
  }
  await page.setViewportSize(size);
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

  await audit(page, 'the login page');

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
  await audit(page, 'the system page');

  // The default password of new boards, typed twice, stored as a code.
  const sys = within(page, 'submit_sys');
  await sys.locator('input[name="passwd"]').fill(defaultPassword);
  await sys.locator('input[name="passwd2"]').fill(defaultPassword);
  await submit(page, sys.locator('input[name="submit_sys"]'));
  check(/^passwd=.+$/m.test(systemFile()) && !systemFile().includes(defaultPassword),
    'the default board password is stored as a code');
  check(await notice(page) === 'システム設定を保存しました。', 'the system page says the settings are saved');

  // A new board with its own password and its data directory.
  const add = within(page, 'submit_add');
  await add.locator('input[name="bbsid"]').fill('news');
  await add.locator('input[name="passwd"]').fill(boardPassword);
  await add.locator('input[name="passwd2"]').fill(boardPassword);
  await submit(page, add.locator('input[name="submit_add"]'));
  check(fs.existsSync(path.join(WWW, 'data', 'news.conf')), 'the board is registered');
  check(fs.statSync(path.join(WWW, 'data', 'news')).isDirectory(), 'its data directory is created');
  check(await page.locator('a[href="ruk-config.cgi?bid=news"]').count() === 1, 'the board list shows it');
  check(await notice(page) === '掲示板「news」を追加しました。', 'the page says the board is added');
  check(!boardFile('news').includes(boardPassword), 'the board password is stored as a code');

  // Its settings: the administrator needs no board password.
  await page.goto(`${config}?bid=news`);
  await page.fill('input[name="bbs_title"]', 'ニュース掲示板');
  await shot(page, 'admin-board');
  await submit(page, page.locator('input[name="submit_config"]'));
  check((await page.inputValue('input[name="bbs_title"]')) === 'ニュース掲示板', 'the board settings are saved');
  check(await notice(page) === '掲示板の設定を保存しました。', 'the board page says the settings are saved');
  await page.goto(`${config}?bid=news`);
  check(await notice(page) === null, 'the line is shown once');

  // The demo board's settings page, saved, for the README.
  await page.goto(`${config}?bid=demo`);
  await submit(page, page.locator('input[name="submit_config"]'));
  await page.setViewportSize({ width: 1280, height: 860 });
  fs.mkdirSync(path.dirname(readme), { recursive: true });
  await page.screenshot({ path: readme });
  await audit(page, 'the board settings page');

  // An icon from the browser: stored under a name of its own, set as the
  // icon's address and shown beside its number and name.
  await page.goto(`${config}?bid=news&mode=icon`);
  await audit(page, 'the icon page');
  await page.selectOption('select[name="icon_no"]', '1');
  await page.fill('input[name="icon_name"]', 'ねこ');
  await page.setInputFiles('input[name="icon_file"]', { name: '../cat picture.png', mimeType: 'image/png', buffer: RED_PNG });
  await submit(page, page.locator('input[name="submit_upload"]'));
  check(await notice(page) === 'アイコン1の画像を登録しました。', 'the icon page says the picture is set');
  check(await page.locator('h1').innerText() === 'アイコンの設定', 'the upload returns to the icon page');
  const stored = fs.readdirSync(path.join(WWW, 'skin', 'icons', 'news'));
  check(stored.length === 1 && /^1-[0-9a-f]{8}\.png$/.test(stored[0]), `the picture is stored under a name of its own (${stored})`);
  const preview = page.locator('img.icon[alt="ねこ"]');
  check(await preview.count() === 1, 'the icon is shown beside its name');
  check(await preview.evaluate((img) => img.complete && img.naturalWidth === 2), 'the server serves the stored picture');
  await shot(page, 'admin-icons');
  await submit(page, page.locator('input[name="submit_icon"]'));
  check(await notice(page) === 'アイコンの設定を保存しました。' &&
    await page.locator('h1').innerText() === 'アイコンの設定', 'saving the icon list returns to the icon page');

  // An old log is deleted only after the page asked.
  const oldLog = path.join(WWW, 'data', 'demo', 'old', '2026-11');
  const owner = fs.statSync(path.join(WWW, 'data', 'demo'));
  for (const dir of [path.dirname(oldLog), oldLog]) {
    fs.mkdirSync(dir, { recursive: true });
    fs.chownSync(dir, owner.uid, owner.gid);
  }
  fs.writeFileSync(path.join(oldLog, 'bbs-message.dat'), posted('5', 'old', 'x', 'old', ''));
  fs.chownSync(path.join(oldLog, 'bbs-message.dat'), owner.uid, owner.gid);
  await page.goto(`${config}?bid=demo&mode=kako`);
  await audit(page, 'the old-log page');
  await page.selectOption('select[name="sel_id"]', '2026-11');
  await page.check('input[name="opt"][value="del"]');
  await submit(page, page.locator('input[name="submit_kako"]'));
  check((await page.locator('.confirm .question').innerText()) === '過去ログ「2026-11」を削除します。よろしいですか？',
    'deleting an old log asks first');
  check(fs.existsSync(oldLog), 'and deletes nothing yet');
  await audit(page, 'the old-log question');
  await submit(page, page.locator('.confirm input[name="submit_kako"]'));
  check(await notice(page) === '過去ログ「2026-11」を削除しました。' && !fs.existsSync(oldLog),
    'the confirming button deletes it');

  // Moderation: the latest posts with their addresses; two are deleted in
  // one step, an address goes to the deny list with one click.
  const messages = path.join(WWW, 'data', 'demo', 'bbs-message.dat');
  fs.writeFileSync(messages, Buffer.concat([
    posted('9000000000003', 'spam one', 'spammer', 'buy http://spam.example/', '203.0.113.77'),
    posted('9000000000002', 'spam two', 'spammer', 'buy now', '203.0.113.77 spam.example.net'),
    posted('9000000000001', 'hello', 'guest', 'hello there', '2001:db8::42'),
    fs.readFileSync(messages)]));
  await page.goto(`${config}?bid=demo&mode=mod`);
  await audit(page, 'the moderation page');
  await shot(page, 'admin-moderation');
  const rows = page.locator('table.posts tbody tr');
  check((await rows.first().innerText()).includes('spam one') && (await rows.first().innerText()).includes('203.0.113.77'),
    'the newest post comes first with its address');
  await page.check('input[name="del_9000000000003"]');
  await page.check('input[name="del_9000000000002"]');
  await submit(page, page.locator('input[name="submit_moddel"]'));
  check(await notice(page) === '選んだ2件の記事を、返信と添付ファイルも含めて削除しました。', 'the page says how many were deleted');
  const left = readMessages('data/demo').map((m) => m.title);
  check(!left.includes('spam one') && !left.includes('spam two') && left.includes('hello'), 'exactly those are deleted');
  await submit(page, page.locator('button[name="submit_deny"][value="2001:db8::42"]'));
  check(await notice(page) === '「2001:db8::42」をアクセス拒否リストに追加しました。', 'one click adds the address');
  check(fs.readFileSync(path.join(WWW, 'data', 'demo.deny'), 'latin1') === '2001:db8::42\n' &&
    /^denyfile=data%2Fdemo\.deny$/m.test(boardFile('demo')), 'to the board\'s own deny list, made for it');

  // Removing a board asks first.
  const add2 = within(page, 'submit_add');
  await page.goto(`${config}?submit_read=1`);
  await add2.locator('input[name="bbsid"]').fill('gone');
  await submit(page, add2.locator('input[name="submit_add"]'));
  const del = within(page, 'submit_del').last();
  await del.locator('input[name="bbsid"]').fill('gone');
  await del.locator('input[name="datadir_del"]').check();
  await submit(page, del.locator('input[name="submit_del"]'));
  check((await page.locator('.confirm .question').innerText()).startsWith('掲示板「gone」を、記事と添付ファイルも含めて削除します。'),
    'removing a board asks first');
  check(fs.existsSync(path.join(WWW, 'data', 'gone.conf')), 'and removes nothing yet');
  await audit(page, 'the board removal question');
  await submit(page, page.locator('.confirm input[name="submit_del"]'));
  check(await notice(page) === '掲示板「gone」を、記事と添付ファイルも含めて削除しました。' &&
    !fs.existsSync(path.join(WWW, 'data', 'gone.conf')) && !fs.existsSync(path.join(WWW, 'data', 'gone')),
    'the confirming button removes it with its data');

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

  // Its administrator shuts this browser's address out of the board.
  await page.goto(`${config}?bid=news&mode=mod`);
  await page.fill('input[name="deny_entry"]', '127.0.0.1');
  await submit(page, page.locator('button[name="submit_deny"][value=""]'));
  check(await notice(page) === '「127.0.0.1」をアクセス拒否リストに追加しました。', 'a typed address is added');
  const denied = await page.goto(`${BASE}/ruk-bbs.cgi?bid=news`);
  check(!(await page.content()).includes('ニュース掲示板'), `the board no longer answers this address (${denied.status()})`);
} finally {
  evil.close();
  await browser.close();
}
