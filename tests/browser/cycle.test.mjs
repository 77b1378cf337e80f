// A person at the console of a real node: lighttpd runs the plugin as a CGI
// program with the stand-in CLIs, and nothing is intercepted. Sign in through
// the stand-in sign-in page, refresh, re-login, cancel; the node password.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { launchBrowser, snapshot, startServer, expectToast } from './support.mjs';

let browser;
before(async () => {
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
});

async function session(t, server, query = '') {
  const context = await browser.newContext({ permissions: ['clipboard-read', 'clipboard-write'] });
  context.setDefaultTimeout(10000);
  t.after(() => context.close());
  const page = await context.newPage();
  const calls = [];
  page.on('request', (r) => {
    const u = new URL(r.url());
    if (u.searchParams.has('action')) calls.push({ url: u.pathname + u.search, headers: r.headers() });
  });
  await page.goto(server.console + query);
  await page.waitForFunction(() => document.getElementById('pillText').textContent !== 'Checking');
  return { context, page, calls };
}

// Starts a sign-in with the given button, approves it on the stand-in page that
// the open-link anchor leads to, and returns what that page shows.
async function approveFrom(context, page, button) {
  await page.click(button);
  await page.waitForSelector('#step2.on');
  const [signin] = await Promise.all([context.waitForEvent('page'), page.click('#linkOpen')]);
  await signin.waitForLoadState();
  assert.equal(await signin.title(), 'Local stand-in sign-in');
  await signin.click('#approve');
  const shown = { code: await signin.textContent('#code'), redirect: await signin.textContent('#redirect') };
  await signin.close();
  return shown;
}

async function submit(page, text) {
  await page.fill('#codeInput', text);
  await page.click('#btnFinish');
}

describe('a node without a password', () => {
  let server;
  before(async () => {
    server = await startServer();
  });
  after(async () => {
    await server?.stop();
  });

  test('the page arrives with its headers', async () => {
    const r = await fetch(server.console);
    assert.equal(r.status, 200);
    assert.equal(r.headers.get('content-type'), 'text/html; charset=utf-8');
    assert.equal(r.headers.get('referrer-policy'), 'no-referrer');
    assert.equal(
      r.headers.get('content-security-policy'),
      "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:; " +
        "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors *",
    );
    assert.match(await r.text(), /^<!DOCTYPE html>\n/);
  });

  test('sign in, refresh, re-login with the redirect address, cancel', async (t) => {
    const { context, page, calls } = await session(t, server);
    let s = await snapshot(page);
    assert.deepEqual([s.pill, s.pillText, await page.isVisible('#count')], ['pill off', 'Not Connected', false]);
    assert.deepEqual(s.grid.find((r) => r[0] === 'Login CLI'), ['Login CLI', 'found', 'v plain']);
    assert.equal(calls[0].url, '/plugin_quorincode_login?action=status');

    // Start, open the link, approve, paste the bare code.
    const first = await approveFrom(context, page, '#btnStart');
    const link = await page.getAttribute('#linkOpen', 'href');
    assert.ok(link.startsWith(`${server.base}/signin.html?state=`), link);
    assert.equal(await page.textContent('#authUrl'), link);
    assert.match(first.code, /^qc_[0-9a-f]{8}$/);
    assert.equal(first.redirect, `${server.base}/callback?code=${first.code}&state=${new URL(link).searchParams.get('state')}`);
    await page.click('#btnCopy');
    await expectToast(page, 'Link copied');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), link);

    await submit(page, `${first.code}\n`);
    await expectToast(page, 'Signed in as stand-in user');
    s = await snapshot(page);
    assert.deepEqual([s.pill, s.pillText, s.sub, s.bar, s.fill], ['pill ok', 'Logged In', 'stand-in user', 'bar', '100%']);
    assert.match(s.count, /^(8 <small>hours · 0m|7 <small>hours · 59m)<\/small>$/);
    assert.deepEqual([s.step1, s.step2], [true, false]);
    assert.match(s.grid.find((r) => r[0] === 'Token expires')[1], /^(\d{4}-\d\d-\d\d )?\d\d:\d\d$/);
    assert.ok(s.grid.find((r) => r[0] === 'Credentials')[1].endsWith('/node/.quorin/.credentials.json'));
    assert.equal(await page.inputValue('#codeInput'), '');

    // Refresh.
    await page.click('#btnRefresh');
    await page.waitForSelector('#refreshNote.ok');
    assert.equal(await page.textContent('#refreshNote'), 'Token refreshed. Expires in 8 h.');
    assert.equal(calls.at(-1).url, '/plugin_quorincode_login?action=refresh');

    // Re-login, this time pasting the whole redirect address.
    const second = await approveFrom(context, page, '#btnRelogin');
    assert.equal(calls.findLast((c) => !c.url.endsWith('action=status')).url, '/plugin_quorincode_login?action=start&force=1');
    assert.notEqual(second.code, first.code);
    await submit(page, second.redirect);
    await expectToast(page, 'Signed in as stand-in user');
    assert.equal(calls.at(-1).url, `/plugin_quorincode_login?action=finish&code=${encodeURIComponent(second.redirect)}`);
    await page.waitForSelector('#step1.on');
    assert.equal(await page.inputValue('#codeInput'), '');

    // Start once more and cancel.
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await page.click('#btnCancel');
    await expectToast(page, 'Pending login cancelled');
    s = await snapshot(page);
    assert.deepEqual([s.pillText, s.step1, s.step2], ['Logged In', true, false]);
    assert.deepEqual(
      calls.slice(-4).map((c) => c.url.split('?')[1]),
      ['action=start', 'action=status', 'action=cancel', 'action=status'],
    );
  });

  test('a wrong code is refused and stays in the box', async (t) => {
    const { page } = await session(t, server);
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await submit(page, 'qc_00000000');
    await page.waitForSelector('#loginNote.err');
    assert.deepEqual(await page.$eval('#loginNote', (n) => [n.firstChild.textContent, n.lastChild.textContent]), [
      'Quorin rejected the code, or it has already been used or has expired',
      'Check that the whole code was copied, or press Cancel and start again.',
    ]);
    assert.equal(await page.inputValue('#codeInput'), 'qc_00000000');
    await submit(page, 'qc_0000;rm');
    await page.waitForFunction(() => document.getElementById('loginNote').textContent.startsWith('the value is not'));
    await page.click('#btnCancel');
    await page.waitForSelector('#step1.on');
  });

  test('after a reload the sign-in left open is pending, and Show the link again gives its link back', async (t) => {
    const { page } = await session(t, server);
    await page.click('#btnRelogin');
    await page.waitForSelector('#authUrl:not([hidden])');
    const link = await page.textContent('#authUrl');
    await page.reload();
    await page.waitForSelector('#btnAgain:not([hidden])');
    assert.equal(await page.evaluate(() => S.link), '');
    await page.click('#btnAgain');
    await page.waitForSelector('#authUrl:not([hidden])');
    assert.equal(await page.getAttribute('#linkOpen', 'href'), link);
    await page.click('#btnCancel');
    await page.waitForSelector('#step1.on');
  });
});

describe('a node with a password', () => {
  let server;
  before(async () => {
    server = await startServer({ password: 's3cret' });
  });
  after(async () => {
    await server?.stop();
  });

  test('the page needs the password, asks a browser for it, and then sends it with every call', async (t) => {
    const refused = await fetch(server.console);
    assert.equal(refused.status, 401);
    assert.deepEqual(await refused.json(), { ok: false, error: 'invalid node password' });

    const context = await browser.newContext();
    t.after(() => context.close());
    const asked = await context.newPage();
    const answer = await asked.goto(`${server.console}?theme=dark&embed=1&pwd=wrong`);
    assert.equal(answer.status(), 401);
    assert.equal(await asked.textContent('#note'), 'The node did not take the password in this address.');
    await asked.fill('#pw', 'a b');
    await asked.press('#pw', 'Enter');
    assert.match(await asked.textContent('#note'), /: give it to the hub for this node instead/); // the page is in the hub's frame
    await asked.fill('#pw', 's3cret');
    await asked.press('#pw', 'Enter');
    await asked.waitForFunction(() => document.getElementById('pillText')?.textContent === 'Not Connected');
    assert.equal(new URL(asked.url()).search, '?theme=dark&embed=1&pwd=s3cret');

    const { page, calls } = await session(t, server, '?pwd=s3cret');
    assert.equal(await page.textContent('#pillText'), 'Not Connected');
    assert.equal(calls[0].url, '/plugin_quorincode_login?action=status');
    assert.equal(calls[0].headers['x-bot-password'], 's3cret');
  });

  test('a call without the password gets the 401 toast and no access', async (t) => {
    const context = await browser.newContext();
    context.setDefaultTimeout(10000);
    t.after(() => context.close());
    const page = await context.newPage();
    // Only the page itself carries the password, as when a host opened it.
    await page.route(server.console, (route) =>
      route.continue({ headers: { ...route.request().headers(), 'x-bot-password': 's3cret' } }),
    );
    await page.goto(server.console);
    await expectToast(page, 'invalid node password');
    assert.deepEqual([await page.textContent('#pillText'), await page.isDisabled('#btnStart')], ['No access', true]);
  });
});
