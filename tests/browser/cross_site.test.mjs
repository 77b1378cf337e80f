// A node without a password, as chromium reaches it through lighttpd: a page
// of another site cannot start or cancel a sign-in (an <img> or a no-cors
// fetch would do), while the same calls from the node's own pages go through.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { test } from 'node:test';
import { launchBrowser, startServer } from './support.mjs';

// Calls the plugin from the page the browser shows, as a hostile page would:
// an image (whose answer chromium keeps from the page) and a no-cors fetch,
// whose HTTP status is the result.
async function driveBy(page, url) {
  const fetched = page.waitForResponse((r) => r.url() === `${url}&via=fetch`);
  await page.evaluate(async (u) => {
    await new Promise((done) => {
      const img = new Image();
      img.onload = img.onerror = done;
      img.src = `${u}&via=img`;
    });
    await fetch(`${u}&via=fetch`, { mode: 'no-cors' }).catch(() => {});
  }, url);
  return (await fetched).status();
}

test('another site cannot start a sign-in; the node itself can', async (t) => {
  const server = await startServer();
  t.after(() => server.stop());
  const browser = await launchBrowser();
  t.after(() => browser.close());
  const page = await browser.newPage();
  const marker = path.join(server.node, '.quorin/.login-pending/quorincode-default.json');
  const pending = () => fs.access(marker).then(() => true, () => false);

  // The same server under another name is another site to the browser.
  await page.goto(`${server.base.replace('127.0.0.1', 'localhost')}/signin.html`);
  assert.equal(await driveBy(page, `${server.console}?action=start`), 403);
  assert.equal(await pending(), false, 'a cross-site page started a sign-in');

  await page.goto(`${server.base}/signin.html`);
  assert.equal(await driveBy(page, `${server.console}?action=start`), 200);
  assert.equal(await pending(), true, 'the same origin could not start a sign-in');

  await page.goto(`${server.base.replace('127.0.0.1', 'localhost')}/signin.html`);
  assert.equal(await driveBy(page, `${server.console}?action=cancel`), 403);
  assert.equal(await pending(), true, 'a cross-site page cancelled the sign-in');
});
