// The console on any account of the node: the named accounts with their state
// and expiry, a switch per row and back to the default account, every call
// and the page's address carrying the name, and nothing of the account before
// left on the page.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { LOGGED_IN, held, openConsole, serverAndBrowser, statusDoc, until } from './support.mjs';

const env = serverAndBrowser();

const T0 = Date.parse('2026-03-05T14:12:00Z');
const ACCOUNTS = [
  { name: 'work', logged_in: true, has_refresh: true, expires_in_sec: 3000, expired: false },
  { name: 'old', logged_in: true, has_refresh: true, expires_in_sec: -60, expired: true },
  { name: 'has space', logged_in: false, has_refresh: false, expires_in_sec: 0, expired: false },
];

const rows = (page) =>
  page.$$eval('#accounts .acct', (rows) => rows.map((r) => [...r.children].map((c) => c.getAttribute('aria-label') || c.textContent)));
const heading = (page) => page.textContent('h1');
const named = (calls) => calls.map((c) => new URL(c.url, 'http://x').searchParams.get('name'));

test('switching accounts: the list, the calls, the heading, the address, and a reload', async (t) => {
  const hold = held();
  const { page, calls } = await openConsole(t, env, {
    clock: T0,
    query: '?theme=dark&node=n1',
    replies: {
      status: (call) => ({ body: statusDoc({ ...LOGGED_IN, account: call.url.includes('name=work') ? 'work' : 'me', accounts: ACCOUNTS }) }),
      start: () => hold.promise,
    },
  });
  assert.deepEqual(await rows(page), [
    ['work', 'valid', '50 min (15:02)', 'Switch to account work'],
    ['old', 'expired', 'since 14:11', 'Switch to account old'],
    ['has space', 'no token', ''], // a name the plugin would refuse gets no switch
  ]);
  assert.deepEqual([await heading(page), await page.isVisible('#btnDefault')], ['Quorin Code', false]);

  // A start still under way for the default account is dropped once switched.
  await page.click('#btnStart');
  await page.click('[data-account=work]');
  hold.release({ body: { ok: true, auth_url: 'https://signin.example.test/a', expires_in: 600 } });
  await until(() => calls.length === 3);
  await page.waitForFunction(() => document.getElementById('sub').textContent === 'work');
  assert.deepEqual(named(calls), [null, null, 'work']);
  assert.equal(calls[2].url, '/plugin_quorincode_login?action=status&name=work&node=n1');
  assert.deepEqual([await heading(page), await page.isVisible('#step1'), await page.textContent('#authUrl')], ['Quorin Code \u00b7 account work', true, '']);
  assert.equal(new URL(page.url()).search, '?theme=dark&node=n1&name=work');
  assert.deepEqual((await rows(page))[0], ['work', 'valid', '50 min (15:02)', 'in use']);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'sessionTitle');
  assert.match(await page.textContent('#live'), /Showing account work\./);

  await page.click('#btnRefresh');
  await until(() => calls.length === 4);
  assert.equal(named(calls)[3], 'work');

  await page.reload();
  await page.waitForFunction(() => document.getElementById('sub').textContent === 'work');
  assert.deepEqual([named(calls).at(-1), await heading(page)], ['work', 'Quorin Code \u00b7 account work']);

  await page.click('#btnDefault');
  await page.waitForFunction(() => document.getElementById('sub').textContent === 'me');
  assert.deepEqual([named(calls).at(-1), await heading(page), new URL(page.url()).search], [null, 'Quorin Code', '?theme=dark&node=n1']);
});
