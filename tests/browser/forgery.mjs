// Forged requests in a real browser: a message whose picture is a post to
// the board (the browser fetches it with the viewer's cookies), and a page
// of another origin that submits a posting form to the board by itself.
// Neither may store anything or change the viewer's remembered password.
//   node forgery.mjs BASE_URL SITE_WWW SCREENSHOT_DIR
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { BASE, WWW, launch, shot, check, readMessages, messageLine } from './lib.mjs';

const board = `${BASE}/ruk-bbs.cgi?bid=demo`;
const file = path.join(WWW, 'data/demo/bbs-message.dat');
const forged = 'bid=demo&submit_wri.x=1&name=x&title=forged&mess=forged&cookie=1&passwd=fixed123';

const cookieOf = async (context, name) =>
  (await context.cookies(BASE)).find((c) => c.name === name)?.value;
const stored = () => readMessages('data/demo').filter((m) => m.title.startsWith('forged')).length;

// A page of another origin (another port) that posts to the board at once.
const attacker = http.createServer((req, res) => {
  res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
  const query = forged.replace('title=forged', 'title=forged-by-form');
  const fields = Object.fromEntries(new URLSearchParams(query));
  const inputs = Object.entries(fields)
    .map(([k, v]) => `<input type="hidden" name="${k}" value="${v}">`).join('');
  res.end(`<!DOCTYPE html><html><body><form method="post" enctype="multipart/form-data"
    action="${BASE}/ruk-bbs.cgi">${inputs}</form>
    <script>document.forms[0].submit();</script></body></html>`);
});
await new Promise((resolve) => attacker.listen(0, '127.0.0.1', resolve));
const elsewhere = `http://127.0.0.1:${attacker.address().port}/`;

const original = fs.readFileSync(file);
const browser = await launch();
try {
  const context = await browser.newContext();
  await context.addCookies([{ name: 'passwd', value: 'mine', url: BASE }]);
  const page = await context.newPage();

  // The planted message: its picture is a post, its second one an edit
  // form opened with a guessed password.
  const guess = 'bid=demo&submit_upd.x=1&id=9999999999999&passwd=guess';
  const body = `look <img src="ruk-bbs.cgi?${forged}"> <img src="ruk-bbs.cgi?${guess}">`;
  fs.writeFileSync(file, Buffer.concat([Buffer.from(messageLine({ id: '9999999999999',
    date: '2026/01/01 00:00:00', name: 'planter', title: 'planted', mess: body })),
    original]));
  const fetched = [];
  page.on('requestfinished', (r) => { if (r.url().includes('submit_')) fetched.push(r.url()); });
  await page.goto(board, { waitUntil: 'networkidle' });
  check(fetched.length === 2, `the browser fetched both pictures (${fetched.length})`);
  await shot(page, 'forged-image');
  check(stored() === 0, 'a post sent as a picture stores nothing');
  check(await cookieOf(context, 'passwd') === 'mine', 'nor changes the remembered password');

  // A form of another origin, submitted by its own script.
  await Promise.all([page.waitForURL(`${BASE}/ruk-bbs.cgi`), page.goto(elsewhere)]);
  await page.waitForLoadState();
  await shot(page, 'forged-form');
  check(stored() === 0, 'a form of another origin stores nothing');
  check(await cookieOf(context, 'passwd') === 'mine', 'nor changes the remembered password');
} finally {
  fs.writeFileSync(file, original);
  await browser.close();
  attacker.close();
}
