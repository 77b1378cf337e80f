// Time on the console, driven by the page's own clock (no real waits): the
// countdowns tick from the last status read, the status is read again every
// minute while the page is seen and when an expiry passes, and a sign-in link
// runs out.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { EXPIRED, LOGGED_IN, PENDING, openConsole, serverAndBrowser, snapshot, statusDoc, until } from './support.mjs';

const env = serverAndBrowser();
const open = (t, how) => openConsole(t, env, how);
const T0 = Date.parse('2026-03-05T14:12:00Z');
const reads = (calls) => calls.filter((c) => c.url.includes('action=status')).length;

test('the countdown ticks, and the status is read each minute while seen, on coming back, and at expiry', async (t) => {
  const answers = [1200, 1140, 1080, 5, 0];
  let n = 0;
  const status = () => {
    const s = answers[Math.min(n++, answers.length - 1)];
    return { body: s ? statusDoc({ ...LOGGED_IN, expires_in_sec: s }) : EXPIRED };
  };
  const { page, calls } = await open(t, { clock: T0, replies: { status } });
  const shown = () => snapshot(page).then((s) => [s.count, s.fill, s.grid[2][1]]);
  assert.deepEqual(await shown(), ['20 <small>minutes \u00b7 0s</small>', '4%', '14:32']);
  await page.clock.runFor(1000);
  assert.deepEqual(await shown(), ['19 <small>minutes \u00b7 59s</small>', '4%', '14:32']);
  assert.equal(reads(calls), 1, 'a tick asks nothing');

  await page.clock.runFor(59000);
  await until(() => reads(calls) === 2);
  await page.waitForFunction(() => document.getElementById('count').textContent === '19 minutes \u00b7 0s');

  // Hidden for two minutes: no read; seen again: one read at once.
  const visibility = (hidden) =>
    page.evaluate((hidden) => {
      Object.defineProperty(document, 'hidden', { value: hidden, configurable: true });
      document.dispatchEvent(new Event('visibilitychange'));
    }, hidden);
  await visibility(true);
  await page.clock.runFor(120000);
  assert.equal(reads(calls), 2);
  await visibility(false);
  await page.waitForFunction(() => document.getElementById('count').textContent === '18 minutes \u00b7 0s');
  assert.equal(reads(calls), 3);

  // Five seconds left: the read when they run out shows the expired session.
  await page.evaluate(() => load());
  await until(() => reads(calls) === 4);
  await page.waitForFunction(() => document.getElementById('count').textContent === '5 seconds');
  await page.clock.runFor(5000);
  await until(() => reads(calls) === 5);
  await page.waitForFunction(() => document.getElementById('pillText').textContent === 'Expired');
  assert.deepEqual(await shown(), ['expired', '0%', 'expired']);
});

test('a sign-in link counts down and, run out, closes step 2 and offers Start', async (t) => {
  const start = { body: { ok: true, auth_url: 'https://signin.example.test/a', expires_in: 90 } };
  let started = false;
  const status = () => ({ body: started ? PENDING : statusDoc() });
  const { page } = await open(t, { clock: T0, replies: { status, start: () => ((started = true), start) } });
  await page.click('#btnStart');
  const life = () => page.$eval('#linkLife', (p) => (p.hidden ? null : p.textContent));
  assert.equal(await life(), 'Open the link, approve, and paste the code within 1:30.');
  await page.clock.runFor(31000);
  assert.equal(await life(), 'Open the link, approve, and paste the code within 0:59.');
  await page.clock.runFor(59000);
  await page.waitForSelector('#step1.on');
  assert.deepEqual(await page.$eval('#loginNote', (n) => [n.className, n.firstChild.textContent, n.lastChild.textContent]), [
    'note show err',
    'The sign-in link has expired.',
    'Press Start Quorin Login to start again.',
  ]);
  assert.deepEqual([await life(), await page.getAttribute('#btnStart', 'class'), await page.isVisible('#authUrl')], [null, 'btn', false]);
  // The node still calls it pending: the page keeps step 1 and its note.
  await page.evaluate(() => load());
  await page.clock.runFor(1000);
  assert.deepEqual([await page.isVisible('#step1'), await page.isVisible('#loginNote')], [true, true]);
});
