// What a visitor does on the demo board, in a real browser: post a thread
// with Japanese text and a picture, reply, switch to the title view, edit
// the reply with its password, search, and delete the reply, each with
// the skin's Japanese text buttons.
//   node visitor.mjs BASE_URL SITE_WWW SCREENSHOT_DIR
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { BASE, launch, shot, check, readMessages, bodyText, RED_PNG } from './lib.mjs';

const board = `${BASE}/ruk-bbs.cgi?bid=demo`;
const name = '山田太郎';
const title = '桜の写真です';
const mess = '近所の公園で撮りました。\n満開でした。';
const password = 'hanami2026';

const picture = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'ruk-')), 'sakura.png');
fs.writeFileSync(picture, RED_PNG);

// The message form (reply, edit, delete) of one stored message.
const messageForm = (page, id) => page.locator(`form.msgForm:has(input[name="id"][value="${id}"])`);

const browser = await launch();
try {
  const page = await browser.newPage();
  page.on('dialog', (d) => d.accept());

  await page.goto(board);
  check((await page.title()).includes('デモ掲示板'), 'the board opens with its title');
  await shot(page, 'board');

  // A new thread with a picture.
  await page.goto(`${board}&mode=new`);
  await page.fill('input[name="name"]', name);
  await page.fill('input[name="title"]', title);
  await page.fill('textarea[name="mess"]', mess);
  await page.fill('input[name="passwd"]', password);
  await page.setInputFiles('input[name="file0"]', picture);
  await shot(page, 'new-thread-form');
  await Promise.all([page.waitForNavigation(), page.getByRole('button', { name: '書き込む' }).click()]);
  let text = await bodyText(page);
  check(text.includes(title) && text.includes(name), 'the new thread is listed');
  check(text.includes('満開でした。'), 'its body is shown with its second line');
  const root = readMessages('data/demo').find((m) => m.title === title);
  check(root && root.attach[0] === 'sakura.png', 'the message file holds the thread and its attachment');
  check(fs.existsSync(path.join(process.argv[3], 'data/demo', root.id, 'sakura.png')),
    'the picture lies in the thread\'s directory');
  check(await page.locator('img[src$="sakura.png"]').count() > 0, 'the picture is shown inline');
  await shot(page, 'thread-posted');

  // A reply.
  await Promise.all([page.waitForNavigation(),
    messageForm(page, root.id).getByRole('button', { name: '返信する' }).click()]);
  check((await page.inputValue('input[name="title"]')) === `Re: ${title}`, 'the reply form presets "Re: "');
  check((await page.inputValue('textarea[name="mess"]')).startsWith('> 近所の公園で撮りました。'),
    'the reply form quotes the message');
  await page.fill('input[name="name"]', '花子');
  await page.fill('textarea[name="mess"]', 'きれいですね！');
  await page.fill('input[name="passwd"]', 'reply-pw');
  await shot(page, 'reply-form');
  await Promise.all([page.waitForNavigation(), page.getByRole('button', { name: '書き込む' }).click()]);
  text = await bodyText(page);
  check(text.includes('きれいですね！'), 'the reply is shown in the thread');
  const reply = readMessages('data/demo').find((m) => m.pid === root.id);
  check(reply && reply.ppid === root.id, 'the reply is stored under the thread');

  // The title view shows the tree.
  await page.goto(`${board}&style=1`);
  text = await bodyText(page);
  check(text.includes(`Re: ${title}`), 'the title view lists the reply');
  check(await page.locator('img[src$="branch_hook.gif"]').count() > 0, 'the reply hangs on a branch');
  await shot(page, 'title-view');

  // Edit the reply with its password.
  await page.goto(board);
  const form = messageForm(page, reply.id);
  await form.locator('input[name="passwd"]').fill('reply-pw');
  await Promise.all([page.waitForNavigation(), form.getByRole('button', { name: '編集' }).click()]);
  check((await page.inputValue('textarea[name="mess"]')) === 'きれいですね！', 'the edit form holds the stored body');
  await page.fill('textarea[name="mess"]', 'とてもきれいですね。');
  await page.fill('input[name="passwd"]', 'reply-pw');
  await Promise.all([page.waitForNavigation(), page.getByRole('button', { name: '書き込む' }).click()]);
  text = await bodyText(page);
  check(text.includes('とてもきれいですね。') && !text.includes('きれいですね！'), 'the edited reply replaces the old text');
  await shot(page, 'reply-edited');

  // A wrong password cannot open the reply for editing.
  const wrong = messageForm(page, reply.id);
  await wrong.locator('input[name="passwd"]').fill('not-the-password');
  await Promise.all([page.waitForNavigation(), wrong.getByRole('button', { name: '編集' }).click()]);
  check(!(await bodyText(page)).includes('とてもきれいですね。') || await page.locator('textarea[name="mess"]').count() === 0,
    'a wrong password is refused');
  await shot(page, 'wrong-password');

  // Search.
  await page.goto(board);
  await page.fill('input[name="word"]', '公園');
  await Promise.all([page.waitForNavigation(), page.getByRole('button', { name: '検索' }).first().click()]);
  text = await bodyText(page);
  await shot(page, 'search');
  check(text.includes(title) && text.includes('近所の公園で撮りました。'),
    `the search finds the thread with an excerpt (${page.url()}: ${text.slice(0, 400)})`);

  // Delete the reply.
  await page.goto(board);
  const del = messageForm(page, reply.id);
  await del.locator('input[name="passwd"]').fill('reply-pw');
  await Promise.all([page.waitForNavigation(), del.getByRole('button', { name: '削除' }).click()]);
  text = await bodyText(page);
  check(!text.includes('とてもきれいですね。') && text.includes(title), 'the reply is gone, the thread stays');
  check(!readMessages('data/demo').some((m) => m.id === reply.id), 'the reply is gone from the file');
  await shot(page, 'reply-deleted');
} finally {
  await browser.close();
}
