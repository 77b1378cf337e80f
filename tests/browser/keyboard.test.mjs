// The console without a mouse: the whole sign-in cycle on a real node with Tab,
// Enter and Space (and Ctrl+V for the paste), then a switch of accounts, and where the focus lands after
// each flow, including the failures. After every action the focus must be on
// an element a person can go on from, never on the body, and the live regions
// must hold what a screen reader was told.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { describe, test } from 'node:test';
import { EXPIRED, LOGGED_IN, NOT_CONNECTED, PENDING, expectToast, interceptApi, serverAndBrowser } from './support.mjs';

const env = serverAndBrowser();

// Presses Tab until the element that sel finds has the focus.
async function tabTo(page, sel) {
  for (let i = 0; i < 40; i++) {
    if (await page.evaluate((sel) => document.activeElement === document.querySelector(sel), sel)) return;
    await page.keyboard.press('Tab');
  }
  throw new Error(`Tab never reached ${sel}`);
}

const focused = (page) =>
  page.evaluate(() => {
    const a = document.activeElement;
    return a === document.body ? 'body' : a.id ? `#${a.id}` : a.tagName.toLowerCase();
  });

// The focus is where the flow should leave it, and the live regions (the toast
// and the page's status line) hold the announced texts.
async function expectAfter(page, where, ...said) {
  assert.equal(await focused(page), where);
  const live = await page.evaluate(() => document.getElementById('toast').textContent + ' | ' + document.getElementById('live').textContent);
  for (const text of said) assert.ok(live.includes(text), `"${text}" is not announced: ${live}`);
}

test('the whole cycle with Tab, Enter and Space', async (t) => {
  const context = await env.browser.newContext({ permissions: ['clipboard-read', 'clipboard-write'] });
  context.setDefaultTimeout(10000);
  t.after(() => context.close());
  const page = await context.newPage();
  await page.goto(env.server.console);
  await page.waitForFunction(() => document.getElementById('pillText').textContent === 'Not Connected');
  assert.equal(await page.textContent('#live'), 'Status: Not Connected.');

  // Start: the link to open takes the focus and the pill says a sign-in is pending.
  await tabTo(page, '#btnStart');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('pillText').textContent === 'Signing in');
  await expectAfter(page, '#linkOpen', 'Status: Signing in.');

  // Open the link, approve on the sign-in page with Space, and copy the code.
  const [signin] = await Promise.all([context.waitForEvent('page'), page.keyboard.press('Enter')]);
  await signin.waitForLoadState();
  await tabTo(signin, '#approve');
  await signin.keyboard.press('Space');
  const code = await signin.textContent('#code');
  assert.match(code, /^qc_[0-9a-f]{8}$/);
  await signin.evaluate((c) => navigator.clipboard.writeText(c), code);
  await signin.close();
  await page.bringToFront();
  await expectAfter(page, '#linkOpen', 'Status: Signing in.');

  // Paste and submit: the session heading takes the focus.
  await tabTo(page, '#codeInput');
  await page.keyboard.press('Control+V');
  assert.equal(await page.inputValue('#codeInput'), code);
  await tabTo(page, '#btnFinish');
  await page.keyboard.press('Enter');
  await expectToast(page, 'Signed in as stand-in user');
  await expectAfter(page, '#sessionTitle', 'Signed in as stand-in user', 'Status: Logged In.');

  // Refresh with Space: the focus comes back to the button once it is enabled.
  await tabTo(page, '#btnRefresh');
  await page.keyboard.press('Space');
  await page.waitForSelector('#refreshNote.ok');
  await expectAfter(page, '#btnRefresh', 'Token refreshed. Expires in 8 h.');

  // Start again and cancel: the Start button takes the focus.
  await tabTo(page, '#btnStart');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#step2.on');
  await tabTo(page, '#btnCancel');
  await page.keyboard.press('Space');
  await expectToast(page, 'Pending login cancelled');
  await page.waitForSelector('#step1.on');
  await expectAfter(page, '#btnStart', 'Pending login cancelled');

  // A named account appears on Reload; switch to it and back to the default one.
  const accounts = path.join(env.server.node, '.quorin/accounts');
  await fs.mkdir(accounts, { recursive: true });
  const creds = { quorinAiOauth: { accessToken: 'a', refreshToken: 'r', expiresAt: Date.now() + 3600000 } };
  await fs.writeFile(path.join(accounts, 'work.json'), JSON.stringify(creds));
  await tabTo(page, '#btnReload');
  await page.keyboard.press('Enter');
  await page.waitForSelector('[data-account=work]');
  await tabTo(page, '[data-account=work]');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('sub').textContent === 'work');
  await expectAfter(page, '#sessionTitle', 'Showing account work.', 'Status: Logged In.');
  await tabTo(page, '#btnDefault');
  await page.keyboard.press('Space');
  await page.waitForFunction(() => document.getElementById('sub').textContent === 'stand-in user');
  await expectAfter(page, '#sessionTitle', 'Showing the default account.');
});

describe('where the focus lands when a flow ends', () => {
  const REFUSED = { body: { ok: false, error: 'invalid_code', detail: 'Quorin rejected the code' } };
  const cases = [
    // name, replies, the keys pressed from the element named, expected focus, announced text
    ['a failed start', { start: { body: { ok: false, error: 'start_failed' } } }, ['#btnStart', 'Enter'], '#btnStart', 'start_failed'],
    ['a failed re-login', { start: 'abort' }, ['#btnRelogin', 'Space'], '#btnRelogin', 'Start failed: Failed to fetch'],
    ['a refused code', { status: PENDING, finish: REFUSED }, ['#btnFinish', 'Enter'], '#codeInput', 'Quorin rejected the code', 'qc_0'],
    ['a lost exchange', { status: PENDING, finish: 'abort' }, ['#btnFinish', 'Space'], '#codeInput', 'Exchange failed: Failed to fetch', 'qc_0'],
    ['an empty paste', { status: PENDING }, ['#btnFinish', 'Enter'], '#codeInput', 'Paste the code or the redirect address first.'],
    ['a failed refresh', { status: EXPIRED, refresh: { body: { ok: false, error: 'refresh_failed' } } }, ['#btnRefresh', 'Enter'], '#btnRefresh', 'refresh_failed'],
    // Refresh can no longer be used: the focus goes to the next step, the notice is said.
    ['no refresh CLI', { status: EXPIRED, refresh: { body: { ok: false, error: 'cli_unavailable', detail: 'the refresh CLI is not on this node' } } }, ['#btnRefresh', 'Enter'], '#btnStart', 'The refresh CLI is not on this node'],
    ['a cancel', { status: PENDING, cancel: { body: { ok: true } } }, ['#btnCancel', 'Enter'], '#btnStart', 'Pending login cancelled'],
    ['a reload', { status: LOGGED_IN }, ['#btnReload', 'Enter'], '#btnReload', 'Status: Logged In.'],
  ];
  for (const [name, replies, [from, key], where, said, pasted] of cases) {
    test(name, async (t) => {
      const context = await env.browser.newContext();
      context.setDefaultTimeout(5000);
      t.after(() => context.close());
      const page = await context.newPage();
      let cancelled = false;
      await interceptApi(page, (action) => {
        if (action === 'cancel') cancelled = true;
        if (action === 'status' && cancelled) return { body: NOT_CONNECTED };
        const r = replies[action] ?? NOT_CONNECTED;
        return r.plugin ? { body: r } : r; // a bare status document, or a reply
      });
      await page.goto(env.server.console);
      await page.waitForFunction(() => document.getElementById('pillText').textContent !== 'Checking');
      if (pasted) {
        await tabTo(page, '#codeInput');
        await page.keyboard.type(pasted);
      }
      await tabTo(page, from);
      await page.keyboard.press(key);
      await page.waitForFunction(
        (said) => (document.getElementById('toast').textContent + document.getElementById('live').textContent).includes(said),
        said,
      );
      await expectAfter(page, where, said);
      if (where === '#codeInput') {
        const marks = () => page.$eval('#codeInput', (el) => [el.getAttribute('aria-invalid'), el.getAttribute('aria-describedby')]);
        assert.deepEqual(await marks(), ['true', 'loginNote']);
        await page.keyboard.type('x');
        assert.deepEqual(await marks(), [null, null]);
      }
    });
  }
});

test('a pending status drawn under a focused Start moves the focus to the next step, and a load takes no focus', async (t) => {
  const context = await env.browser.newContext();
  context.setDefaultTimeout(5000);
  t.after(() => context.close());
  const page = await context.newPage();
  let status = PENDING;
  await interceptApi(page, () => ({ body: status }));
  await page.goto(env.server.console);
  await page.waitForSelector('#step2.on');
  assert.equal(await focused(page), 'body'); // nobody asked for the focus yet
  await page.evaluate(() => ((S.status.pending = false), render()));
  await tabTo(page, '#btnStart');
  status = { ...PENDING, account: 'elsewhere' };
  await page.evaluate(() => load());
  assert.equal(await focused(page), '#btnAgain');
});
