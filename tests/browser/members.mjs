// What a member of a members-only board and a phone user meet, in a real
// browser: the board with a posting password shows a field of its own for
// it, and a post needs it while the post keeps the author's own delete
// password; a phone photo of a few megabytes with a Japanese file name is
// taken, stored under a safe name and shown scaled to the column.
//   node members.mjs BASE_URL SITE_WWW SCREENSHOT_DIR
// The runner made the board "members" (posting password "members-only")
// and put a 2.5 MB photo named 猫の写真.png among the assets.
import fs from 'node:fs';
import path from 'node:path';
import { ASSETS, BASE, IPHONE, WWW, launch, openPage, shot, check, readMessages, bodyText }
  from './lib.mjs';

const members = `${BASE}/ruk-bbs.cgi?bid=members`;
const demo = `${BASE}/ruk-bbs.cgi?bid=demo`;

const browser = await launch();
try {
  const page = await browser.newPage();
  page.on('dialog', (d) => d.accept());  // the delete button asks first

  // A members-only board: the form asks for the posting password apart
  // from the author's own.
  await page.goto(`${members}&mode=new`);
  check(await page.locator('input[name="wpasswd"]').count() === 1, 'the form has a field for the posting password');
  await shot(page, 'members-form');
  async function post(wpasswd, subject) {
    await page.goto(`${members}&mode=new`);
    await page.fill('input[name="name"]', '会員');
    await page.fill('input[name="title"]', subject);
    await page.fill('textarea[name="mess"]', '会員だけが書き込めます。');
    await page.fill('input[name="passwd"]', 'my-own');
    await page.fill('input[name="wpasswd"]', wpasswd);
    await Promise.all([page.waitForNavigation(), page.getByRole('button', { name: '書き込む' }).click()]);
    return bodyText(page);
  }
  let text = await post('wrong', '合言葉なし');
  check(text.includes('パスワード'), `a wrong posting password is refused (${text.slice(0, 60)})`);
  check(!readMessages('data/members').some((m) => m.title === '合言葉なし'), 'and nothing is stored');
  text = await post('members-only', '会員の書き込み');
  const stored = readMessages('data/members').find((m) => m.title === '会員の書き込み');
  check(stored !== undefined, 'the right posting password posts');
  check(text.includes('会員の書き込み'), 'and the post is shown');

  // The author's own password deletes the post; the members' password,
  // known to every member, does not.
  async function remove(password) {
    const form = page.locator('form.msgForm').filter({ has: page.locator(`input[name="id"][value="${stored.id}"]`) });
    await form.locator('input[name="passwd"]').fill(password);
    await Promise.all([page.waitForNavigation(), form.getByRole('button', { name: '削除' }).click()]);
  }
  await page.goto(`${members}&ppid=${stored.id}&style=1`);
  await remove('members-only');
  check(readMessages('data/members').some((m) => m.id === stored.id), 'another member cannot delete it');
  await page.goto(`${members}&ppid=${stored.id}&style=1`);
  await remove('my-own');
  check(!readMessages('data/members').some((m) => m.id === stored.id), 'its author deletes it');

  // A phone photo with a Japanese name, from an iPhone.
  const phone = await openPage(browser, IPHONE);
  await phone.goto(`${demo}&mode=new`);
  await phone.fill('input[name="name"]', '写真の人');
  await phone.fill('input[name="title"]', 'うちの猫');
  await phone.fill('textarea[name="mess"]', 'スマホで撮りました。');
  await phone.fill('input[name="passwd"]', 'photo-pw');
  const photo = path.join(ASSETS, '猫の写真.png');
  await phone.setInputFiles('input[name="file0"]', photo);
  await Promise.all([phone.waitForNavigation(), phone.getByRole('button', { name: '書き込む' }).click()]);
  const cat = readMessages('data/demo').find((m) => m.title === 'うちの猫');
  check(cat !== undefined, `the photo's post is stored (${(await bodyText(phone)).slice(0, 60)})`);
  const name = cat.attach[0];
  check(/^[A-Za-z0-9._-]+\.png$/.test(name), `the photo is stored under a safe name (${name})`);
  const file = path.join(WWW, 'data/demo', cat.id, name);
  check(fs.statSync(file).size === fs.statSync(photo).size, 'the whole photo is stored');
  const img = phone.locator(`img[src$="/${name}"]`).first();
  check(await img.count() === 1, 'the photo is shown in the message');
  const box = await img.boundingBox();
  check(box && box.width <= 390, `it fits the phone's screen (${box && box.width} px)`);
  await shot(phone, 'phone-photo');
} finally {
  await browser.close();
}
