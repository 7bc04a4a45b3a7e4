// Shared pieces of the browser tests: launching Debian's Chromium through
// playwright-core, screenshots, checks and the board's message file.
import { chromium } from 'playwright-core';
import fs from 'node:fs';
import path from 'node:path';

export const [, , BASE, WWW, SHOTS] = process.argv;

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
