// Pictures of the console for the README: light and dark, signed in, in the
// middle of a sign-in, with no login CLI, after a sign-in expired, and on a
// named account, with the default tokens and with more contrast; on a phone,
// the first visit, the link shown again, and the page asking for the password. The page's
// clock and time zone are fixed, so the clock times shown do not change from
// run to run. Written to build/screenshots/; with UPDATE_SCREENSHOTS=1 they
// replace the ones in docs/.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { BUILD_DIR, LOGGED_IN, NO_CLI, NOT_CONNECTED, PENDING, ROOT, interceptApi, serverAndBrowser, startServer, statusDoc } from './support.mjs';

const OUT = process.env.UPDATE_SCREENSHOTS === '1' ? path.join(ROOT, 'docs') : path.join(BUILD_DIR, 'screenshots');

const env = serverAndBrowser();
let guarded; // a node with a password, for the page that asks for it
before(async () => {
  guarded = await startServer({ password: 's3cret' });
});
after(() => guarded?.stop());

const ACCOUNTS = [
  { name: 'work', logged_in: true, has_refresh: true, expires_in_sec: 20950, expired: false },
  { name: 'ci-runner', logged_in: true, has_refresh: true, expires_in_sec: -5400, expired: true },
  { name: 'spare', logged_in: false, has_refresh: false, expires_in_sec: 0, expired: false },
];
const SIGNED_IN = statusDoc({ ...LOGGED_IN, expires_in_sec: 23420, accounts: ACCOUNTS, named_accounts: true });
const STATE = '5d0c3f7a9e2b41c68f1a7d3e0b9c2a64';
const START = {
  ok: true,
  flow: 'paste_code',
  auth_url: `http://127.0.0.1:8080/signin.html?state=${STATE}`,
  expires_in: 600,
  hint: 'Approve on the local stand-in sign-in page, then paste the code or the whole redirect address it shows.',
};

const REFUSED = { ok: false, error: 'invalid_code', detail: 'Quorin rejected the code, or it has already been used or has expired' };
const T0 = Date.parse('2026-03-05T14:12:00Z');

// Starts a sign-in (step 2 already shows for a pending status; this gives it
// its link) and types the code; with submit, sends it for the refusal.
const signIn = (code, submit) => async (page) => {
  await page.evaluate(() => start(false));
  await page.fill('#codeInput', code);
  if (submit) await page.click('#btnFinish').then(() => page.waitForSelector('#loginNote.err'));
  await page.evaluate(() => document.activeElement.blur());
};
const refuse = signIn('qc_00000000', true);

// how: what is done before, the contrast asked for, the page's address
// (query) and, per action, what to answer instead of status (replies; start
// and finish answer START and REFUSED unless told otherwise).
// phone: a 390 x 844 screen, and only what it shows without scrolling;
// locked: the node with a password, opened without it.
async function shoot(theme, name, status, { prepare, contrast = 'no-preference', query = '', replies = {}, phone, locked } = {}) {
  const viewport = phone ? { width: 390, height: 844 } : { width: 880, height: 900 };
  const context = await env.browser.newContext({ viewport, colorScheme: theme, contrast, timezoneId: 'UTC', isMobile: phone, hasTouch: phone });
  context.setDefaultTimeout(10000);
  try {
    const page = await context.newPage();
    await page.clock.install({ time: T0 });
    const canned = { start: START, finish: REFUSED, ...replies };
    await interceptApi(page, (action) => ({ body: canned[action] ?? status }));
    await page.goto(`${(locked ? guarded : env.server).console}?theme=${theme}${query}`);
    await page.waitForFunction(() => !document.getElementById('pillText') || document.getElementById('pillText').textContent !== 'Checking');
    if (prepare) await prepare(page);
    await page.waitForTimeout(400); // let the bar's transition settle
    const file = path.join(OUT, `console-${theme}-${name}.png`);
    await fs.mkdir(OUT, { recursive: true });
    await page.screenshot({ path: file, fullPage: !phone });
    return (await fs.stat(file)).size;
  } finally {
    await context.close();
  }
}

const WORK = statusDoc({ ...SIGNED_IN, account: 'work', expires_in_sec: 20950, credentials_path: 'C:\\Users\\bot\\.quorin\\accounts\\work.json' });
const SHOTS = [
  // file name, status, how
  ['signed-in', SIGNED_IN],
  ['signing-in', statusDoc({ ...PENDING, accounts: ACCOUNTS.slice(0, 1) }), { prepare: signIn(`http://127.0.0.1:8080/callback?code=qc_3fa41c07&state=${STATE}`) }],
  ['no-login-cli', statusDoc({ ...NO_CLI, accounts: ACCOUNTS })],
  ['sign-in-expired', statusDoc({ accounts: ACCOUNTS }), { prepare: refuse, replies: { finish: { ...REFUSED, error: 'login_expired' } } }],
  ['named-account', WORK, { query: '&name=work' }],
  ['more-contrast-signed-in', SIGNED_IN, { contrast: 'more' }],
  ['more-contrast-refused-code', statusDoc({ ...PENDING, accounts: ACCOUNTS }), { prepare: refuse, contrast: 'more' }],
  ['phone-first-visit', NOT_CONNECTED, { phone: true }],
  ['link-shown-again', PENDING, { phone: true, prepare: (page) => page.click('#btnAgain').then(() => page.waitForSelector('#authUrl:not([hidden])')) }],
  ['password-page', null, { phone: true, locked: true }],
];
for (const theme of ['light', 'dark']) {
  for (const [name, status, how] of SHOTS) {
    test(`${theme}, ${name}`, async () => {
      assert.ok((await shoot(theme, name, status, how)) > 10000);
    });
  }
}
