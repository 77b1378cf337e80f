// Where the console says a person stands and what to do next: the one primary
// action of each state and why a button is off, the standing notices of a
// missing CLI, the next step after each failure, and notes that go once the
// state they spoke of has moved on.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { EXPIRED, LOGGED_IN, NOT_CONNECTED, NO_CLI, PENDING, openConsole, serverAndBrowser, statusDoc } from './support.mjs';

const env = serverAndBrowser();

const open = (t, how) => openConsole(t, env, how);

// The blue buttons in sight, the buttons that are off with what describes
// them, and the notices and hints in sight.
const actions = (page) =>
  page.evaluate(() => {
    const seen = (el) => el.getClientRects().length > 0;
    const off = [...document.querySelectorAll('button:disabled')].filter(seen);
    return {
      primary: [...document.querySelectorAll('.btn:not(.ghost)')].filter(seen).map((b) => b.id),
      off: off.map((b) => `${b.id}>${b.getAttribute('aria-describedby')}`),
      shown: ['cliNotice', 'refreshCliNotice', 'refreshWhy', 'reloginHint'].filter((id) => seen(document.getElementById(id))),
      lead: document.getElementById('sessionLead').textContent,
    };
  });

test('one primary action per state, and every button that is off says why', async (t) => {
  const NO_REFRESH = statusDoc({ ...EXPIRED, has_refresh: false });
  const cases = [
    // status → primary, buttons off (id>described by), notices and hints shown, lead (null: as specified before)
    [NOT_CONNECTED, ['btnStart'], ['btnRefresh>refreshWhy'], ['refreshWhy'], null],
    [NO_CLI, [], ['btnRefresh>refreshWhy', 'btnStart>cliNotice', 'btnRelogin>cliNotice'], ['cliNotice', 'refreshWhy'],
      'No Quorin Code session on this node yet, and no sign-in can start until the login CLI is installed (see OAuth login below).'],
    [LOGGED_IN, [], [], ['reloginHint'], null],
    [EXPIRED, ['btnRefresh'], [], ['reloginHint'], null],
    [NO_REFRESH, ['btnStart'], ['btnRefresh>refreshWhy'], ['refreshWhy', 'reloginHint'],
      'The session is present but its access token has expired. Sign in again with Start Quorin Login.'],
    [PENDING, ['btnFinish'], ['btnRefresh>refreshWhy', 'btnCopy>linkMissing'], ['refreshWhy'], null],
  ];
  const { page } = await open(t);
  for (const [status, primary, off, shown, lead] of cases) {
    await page.evaluate((d) => (showStep(1), render(d)), status);
    const got = await actions(page);
    const label = `${status.logged_in} ${status.expired} ${status.has_refresh} ${status.pending} ${status.cli_present}`;
    assert.deepEqual([got.primary, got.off.sort(), got.shown], [primary, off.sort(), shown], label);
    if (lead) assert.equal(got.lead, lead, label);
  }
  assert.equal(
    await page.textContent('#refreshWhy'),
    'There is no session to refresh yet: sign in first with Start Quorin Login.',
  );
});

// A failed action: the API's text stays, the next step stands beside it.
const NEXT = {
  invalid_grant: 'Check that the whole code was copied, or press Cancel and start again.',
  login_expired: 'The sign-in expired. Press Start Quorin Login to start again.',
  no_pending_login: 'No sign-in is waiting for a code. Press Start Quorin Login to start one.',
  login_cli: 'Install the login CLI, or set QUORIN_LOGIN_BIN to its path (see docs/deploy.md), then press Reload.',
  refresh_cli: 'Install the refresh CLI, or set QUORIN_REFRESH_BIN to its path (see docs/deploy.md), then press Reload.',
  timeout: 'Try again. If it keeps happening, the node\'s operator should look at the login CLI.',
  cross_site: 'Open this console from the node\'s own address or from the hub, then try again.',
  password: 'The node password is missing or wrong. Open this console from the hub, or add pwd= and the node password to its address.',
};
const fail = (error, detail, status = 200) => ({ status, body: { ok: false, error, ...(detail ? { detail } : {}) } });

test('each failure names its next step; an expired or missing sign-in closes step 2', async (t) => {
  const cases = [
    // action, reply → next step, step shown afterwards
    ['finish', fail('invalid_grant', 'Quorin rejected the code'), NEXT.invalid_grant, 2],
    ['finish', fail('login_expired', 'Quorin rejected the code'), NEXT.login_expired, 1],
    ['finish', fail('no_pending_login', 'Quorin rejected the code'), NEXT.no_pending_login, 1],
    ['finish', fail('finish_failed', 'the login CLI did not finish within 45 s'), NEXT.timeout, 2],
    ['start', fail('cli_unavailable', 'the login CLI is not on this node'), NEXT.login_cli, 1],
    ['start', fail('start_failed', 'the login CLI did not finish within 45 s'), NEXT.timeout, 1],
    ['start', fail('invalid node password', '', 401), NEXT.password, 1],
    ['refresh', fail('cross_site_request', 'a page of another site may not', 403), NEXT.cross_site, 1],
    ['refresh', fail('cli_unavailable', 'the refresh CLI is not on this node'), NEXT.refresh_cli, 1],
    ['refresh', fail('refresh_failed', 'the refresh CLI did not update the credentials file; sign in again'), null, 1],
  ];
  for (const [action, reply, next, step] of cases) {
    const status = action === 'finish' ? PENDING : LOGGED_IN;
    const { page } = await open(t, { replies: { status: { body: status }, [action]: reply } });
    if (action === 'finish') await page.fill('#codeInput', 'qc_0');
    await page.click({ start: '#btnStart', finish: '#btnFinish', refresh: '#btnRefresh' }[action]);
    const where = action === 'refresh' ? '#refreshNote' : '#loginNote';
    await page.waitForSelector(`${where}.err`);
    const said = await page.$eval(where, (n) => [n.firstChild.textContent, n.querySelector('.next')?.textContent ?? null]);
    assert.deepEqual(said, [reply.body.detail || reply.body.error, next], `${action} ${reply.body.error}`);
    await page.waitForSelector(`#step${step}.on`);
  }
});

test('a refresh CLI found missing: a standing notice and Refresh off, until Reload asks again', async (t) => {
  const { page } = await open(t, { replies: { status: { body: EXPIRED }, refresh: fail('cli_unavailable', 'gone') } });
  await page.click('#btnRefresh');
  await page.waitForSelector('#refreshCliNotice:not([hidden])');
  let got = await actions(page);
  assert.deepEqual([got.primary, got.off], [['btnStart'], ['btnRefresh>refreshCliNotice']]);
  assert.equal(got.lead, 'The session is present but its access token has expired. Sign in again with Start Quorin Login.');
  await page.click('#btnReload');
  await page.waitForSelector('#refreshCliNotice[hidden]', { state: 'attached' });
  got = await actions(page);
  assert.deepEqual([got.primary, got.off], [['btnRefresh'], []]);
});

test('a note goes once the state it spoke of has changed, and never before', async (t) => {
  const LATER = statusDoc({ ...LOGGED_IN, expires_at: LOGGED_IN.expires_at + 1000 });
  let status = LOGGED_IN, refresh = { body: { refreshed: true, ...LOGGED_IN } };
  const replies = { status: () => ({ body: status }), refresh: () => refresh, finish: fail('invalid_grant', 'Quorin rejected the code') };
  const { page } = await open(t, { replies });
  const NO_FILE = fail('no_credentials', 'there is no credentials file on this node; start a login first');
  const steps = [
    // what happens: a click, or the status the next read gives → classes of the login note and the refresh note
    ['#btnRefresh', ['note', 'note show ok']],
    [LOGGED_IN, ['note', 'note']], // a success note lasts one read
    [() => (refresh = NO_FILE), ['note', 'note']],
    ['#btnRefresh', ['note', 'note show err']],
    [LOGGED_IN, ['note', 'note show err']], // the same state: it stays
    [LATER, ['note', 'note']], // the credentials changed: there is a file now
    [PENDING, ['note', 'note']],
    ['#btnFinish', ['note show err', 'note']],
    [PENDING, ['note show err', 'note']],
    [NOT_CONNECTED, ['note', 'note']], // the sign-in is gone, and its note with it
  ];
  for (const [what, want] of steps) {
    if (typeof what === 'function') what();
    else if (typeof what === 'object') await page.evaluate(() => load(), (status = what));
    else if (what === '#btnFinish') await page.fill('#codeInput', 'qc_0').then(() => page.click(what));
    else await page.click(what);
    const notes = () => page.evaluate(() => ['loginNote', 'refreshNote'].map((id) => document.getElementById(id).className));
    await page
      .waitForFunction((want) => ['loginNote', 'refreshNote'].every((id, i) => document.getElementById(id).className === want[i]), want)
      .catch(async () => assert.deepEqual(await notes(), want, JSON.stringify(what)));
  }
});
