// The screenshots of the README: the demo board as a visitor sees it on a
// desktop (1280 px) and on an iPhone (390 px), with the sample thread and
// a thread with a picture and icons. They go to the screenshot folder;
// with RUK_README_SHOTS=1 also to docs/screenshots/ of the repository.
//   node screenshots.mjs BASE_URL SITE_WWW SCREENSHOT_DIR   (RUK_ASSETS: see lib.mjs)
import fs from 'node:fs';
import path from 'node:path';
import { BOARD, DESKTOP, IPHONE, SHOTS, launch, check, openPage, withMessages,
  pictureThread } from './lib.mjs';

const DOCS = path.join(path.dirname(new URL(import.meta.url).pathname), '..', '..', 'docs',
  'screenshots');
const thread = pictureThread();

const browser = await launch();
try {
  await withMessages(thread.pieces, async () => {
    for (const [name, device] of [['board-desktop', DESKTOP], ['board-phone', IPHONE]]) {
      const page = await openPage(browser, device);
      await page.goto(BOARD);
      await page.locator('img[src$="/sakura.png"]').first().waitFor();
      check(await page.locator('h2.msgTitle', { hasText: thread.title }).count() === 1,
        `${name}: the board shows the thread with the picture`);
      const file = path.join(SHOTS, `readme-${name}.png`);
      await page.screenshot({ path: file });
      if (process.env.RUK_README_SHOTS === '1') {
        fs.mkdirSync(DOCS, { recursive: true });
        fs.copyFileSync(file, path.join(DOCS, `${name}.png`));
        console.log(`wrote docs/screenshots/${name}.png`);
      }
      await page.context().close();
    }
  });
} finally {
  await browser.close();
}
