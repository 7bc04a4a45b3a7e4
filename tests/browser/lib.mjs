// Shared pieces of the browser tests: launching Debian's Chromium through
// playwright-core, the visitors' devices, screenshots, checks, the
// accessibility audit and the board's message file.
import { chromium } from 'playwright-core';
import fs from 'node:fs';
import path from 'node:path';

export const [, , BASE, WWW, SHOTS] = process.argv;
// Files the test runner made for the scripts: sakura.png (a picture to
// attach) and sample-messages.dat (the demo's sample thread).
export const ASSETS = process.env.RUK_ASSETS || '';
export const BOARD = `${BASE}/ruk-bbs.cgi?bid=demo`;

// The visitors' devices: a desktop, an iPhone (the default skin) and a
// feature phone ("DoCoMo" in its user agent picks the mobile skin).
export const DESKTOP = { viewport: { width: 1280, height: 900 } };
export const IPHONE = {
  viewport: { width: 390, height: 844 },
  userAgent: 'Mozilla/5.0 (iPhone; CPU iPhone OS 18_5 like Mac OS X) AppleWebKit/605.1.15 '
    + '(KHTML, like Gecko) Version/18.5 Mobile/15E148 Safari/604.1',
  isMobile: true,
  hasTouch: true,
};
export const FEATURE_PHONE = {
  viewport: { width: 240, height: 320 },
  userAgent: 'DoCoMo/2.0 P906i(c100;TB;W24H15)',
};

// Chromium as this machine runs it: no sandbox as root, no background
// network traffic (the machine's network is closed).
export async function launch() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

let step = 0;
export async function shot(page, name) {
  step += 1;
  await page.screenshot({ path: path.join(SHOTS, `${String(step).padStart(2, '0')}-${name}.png`),
    fullPage: true });
}

export function check(ok, what) {
  if (!ok) {
    throw new Error(`check failed: ${what}`);
  }
  console.log(`ok - ${what}`);
}

// A page in its own context: a device (DESKTOP, IPHONE, FEATURE_PHONE)
// in light or dark colours, in Japanese.
export async function openPage(browser, device, colorScheme = 'light') {
  const context = await browser.newContext({ ...device, colorScheme, locale: 'ja-JP' });
  const page = await context.newPage();
  page.on('dialog', (d) => d.accept());
  return page;
}

// The serious and critical faults axe-core finds on the page, one line
// each (empty when there are none).
const AXE = path.join(path.dirname(new URL(import.meta.url).pathname),
  'node_modules', 'axe-core', 'axe.min.js');
export async function audit(page) {
  await page.addScriptTag({ path: AXE });
  const result = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.impact} ${v.id} (${v.help}): `
      + v.nodes.slice(0, 5).map((n) => n.target.join(' ')).join(', '));
}

// Presses Tab until the focused element matches the selector; true when
// it got there within the given number of presses.
export async function tabTo(page, selector, presses = 200) {
  for (let i = 0; i < presses; i++) {
    await page.keyboard.press('Tab');
    if (await page.evaluate((s) => document.activeElement?.matches(s) ?? false, selector)) {
      return true;
    }
  }
  return false;
}

// A stored message as a line of the message file (a text: sjis() or
// withMessages makes its Shift_JIS bytes): id, parent, thread, date, name,
// title, body, the poster's address, icon and attachments [file, thread]
// as the board stores them.
export function messageLine({ id, pid = '', ppid = '', date, name, title, mess = '', remote = '',
  icon = '', attach = [] }) {
  const fields = [id, pid, ppid, date, name, '', '', title, mess.replaceAll('\n', '\x1d'), '', '', '',
    remote, '', '', '', '', '', '', '', icon, ...attach.flat()];
  return `${fields.join('\x1e')}\n`;
}

// A 2x2 red PNG.
export const RED_PNG = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEklEQVR4nGP4z8DAwMDAxAAAGgkCAUDwoOYAAAAASUVORK5CYII=', 'base64');

// The board's time stamp of a moment, in Japan's time as the demo runs.
export function stamp(when = new Date()) {
  const parts = Object.fromEntries(new Intl.DateTimeFormat('en-CA', {
    timeZone: 'Asia/Tokyo', year: 'numeric', month: '2-digit', day: '2-digit',
    hour: '2-digit', minute: '2-digit', second: '2-digit', hourCycle: 'h23',
  }).formatToParts(when).map((p) => [p.type, p.value]));
  return `${parts.year}/${parts.month}/${parts.day} ${parts.hour}:${parts.minute}:${parts.second}`;
}

// Replaces the demo board's messages for the time of fn (lines of text
// and Buffers, written in Shift_JIS) and puts the old file back after.
export async function withMessages(pieces, fn) {
  const file = path.join(WWW, 'data/demo/bbs-message.dat');
  const original = fs.readFileSync(file);
  fs.writeFileSync(file, Buffer.concat(pieces.map((p) => (Buffer.isBuffer(p) ? p : sjis(p)))));
  try {
    return await fn();
  } finally {
    fs.writeFileSync(file, original);
  }
}

// Shift_JIS bytes of a text (node has no encoder of its own for it): each
// character is looked up once by decoding the two-byte codes.
let sjisTable = null;
export function sjis(text) {
  if (!sjisTable) {
    sjisTable = new Map();
    const decoder = new TextDecoder('shift_jis');
    for (let hi = 0x81; hi <= 0xfc; hi++) {
      if (hi >= 0xa0 && hi <= 0xdf) continue;
      for (let lo = 0x40; lo <= 0xfc; lo++) {
        const ch = decoder.decode(Uint8Array.of(hi, lo));
        if (ch.length === 1 && ch !== '\ufffd' && !sjisTable.has(ch)) sjisTable.set(ch, [hi, lo]);
      }
    }
  }
  const bytes = [];
  for (const ch of text) {
    if (ch.codePointAt(0) < 0x80) bytes.push(ch.codePointAt(0));
    else if (sjisTable.has(ch)) bytes.push(...sjisTable.get(ch));
    else throw new Error(`no Shift_JIS for ${ch}`);
  }
  return Buffer.from(bytes);
}

// The records of a data directory's message file, decoded from Shift_JIS.
export function readMessages(datadir) {
  const file = path.join(WWW, datadir, 'bbs-message.dat');
  if (!fs.existsSync(file)) {
    return [];
  }
  const text = new TextDecoder('shift_jis').decode(fs.readFileSync(file));
  return text.split('\n').filter((l) => l).map((l) => {
    const f = l.split('\x1e');
    return { id: f[0], pid: f[1], ppid: f[2], name: f[4], title: f[7],
      mess: (f[8] || '').replaceAll('\x1d', '\n'), attach: f.slice(21) };
  });
}

// The text a page shows.
export async function bodyText(page) {
  return page.evaluate(() => document.body.innerText);
}

// A thread with a picture, laid out as a visitor's post would be: the
// root with sakura.png and icon 1, a reply with icon 2, before the demo's
// sample thread. Returns the pieces of the message file and the ids.
export function pictureThread() {
  const second = Math.floor(Date.now() / 1000);
  const id = `${second}100`;
  const reply = `${second}200`;
  const dir = path.join(WWW, 'data/demo', id);
  fs.mkdirSync(dir, { recursive: true });
  fs.copyFileSync(path.join(ASSETS, 'sakura.png'), path.join(dir, 'sakura.png'));
  fs.chmodSync(dir, 0o755);
  fs.chmodSync(path.join(dir, 'sakura.png'), 0o644);
  const title = '近所の公園の桜が満開です';
  const date = stamp();
  const pieces = [
    messageLine({ id: reply, pid: id, ppid: id, date, name: '太郎', title: `Re: ${title}`, icon: '2',
      mess: '> 今朝撮った写真です。\nきれいですね！週末に行ってみます。' }),
    messageLine({ id, date, name: '花子', title, icon: '1', attach: [['sakura.png', id]],
      mess: '今朝撮った写真です。\n週末まで見頃だそうです。' }),
    fs.readFileSync(path.join(ASSETS, 'sample-messages.dat')),
  ];
  return { pieces, id, reply, title };
}
