// Where the console says a person stands and what to do next: the one primary
// action of each state and why a button is off, the standing notices of a
// missing CLI, the next step after each failure, and notes that go once the
// state they spoke of has moved on.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { EXPIRED, LOGGED_IN, NOT_CONNECTED, NO_CLI, PENDING, openConsole, serverAndBrowser, statusDoc } from './support.mjs';

const env = serverAndBrowser();
const open = (t, how) => openConsole(t, env, how);

// The blue buttons in sight, the buttons that are off (id>what describes
// them), the notices and hints in sight, and the session's lead.
const actions = (page) =>
  page.evaluate(() => {
    const seen = (el) => el.getClientRects().length > 0;
    const off = [...document.querySelectorAll('button:disabled')].filter(seen);
    return [
      [...document.querySelectorAll('.btn:not(.ghost)')].filter(seen).map((b) => b.id),
      off.map((b) => `${b.id}>${b.getAttribute('aria-describedby')}`).sort(),
      ['cliNotice', 'refreshCliNotice', 'refreshWhy', 'reloginHint'].filter((id) => seen(document.getElementById(id))),
      document.getElementById('sessionLead').textContent.slice(0, 40),
    ];
  });

test('one primary action per state, and every button that is off says why', async (t) => {
  const cases = [
    // status → primary, buttons off, notices and hints shown, the lead's start
    [NOT_CONNECTED, ['btnStart'], ['btnRefresh>refreshWhy'], ['refreshWhy'], 'No Quorin Code session on this node yet.'],
    [NO_CLI, [], ['btnRefresh>refreshWhy', 'btnRelogin>cliNotice', 'btnStart>cliNotice'], ['cliNotice', 'refreshWhy'], 'No Quorin Code session on this node yet,'],
    [LOGGED_IN, [], [], ['reloginHint'], 'This node holds a Quorin Code session.'],
    [EXPIRED, ['btnRefresh'], [], ['reloginHint'], 'The session is present but its access to'],
    [{ ...EXPIRED, has_refresh: false }, ['btnStart'], ['btnRefresh>refreshWhy'], ['refreshWhy', 'reloginHint'], 'The session is present but its access to'],
    [PENDING, ['btnFinish'], ['btnCopy>linkMissing', 'btnRefresh>refreshWhy'], ['refreshWhy'], 'No Quorin Code session on this node yet.'],
  ];
  const { page } = await open(t);
  for (const [status, ...want] of cases) {
    await page.evaluate((d) => (showStep(1), render(d)), status);
    assert.deepEqual(await actions(page), want, JSON.stringify(status).slice(0, 120));
  }
});

const fail = (error, detail = '', status = 200) => ({ status, body: { ok: false, error, ...(detail && { detail }) } });

test('each failure names its next step; an expired or missing sign-in closes step 2', async (t) => {
  const cases = [
    // action, reply → the next step beneath the API's text, the step shown afterwards
    ['finish', fail('invalid_grant', 'refused'), 'Check that the whole code was copied, or press Cancel and start again.', 2],
    ['finish', fail('login_expired', 'refused'), 'The sign-in expired. Press Start Quorin Login to start again.', 1],
    ['finish', fail('no_pending_login', 'refused'), 'No sign-in is waiting for a code. Press Start Quorin Login to start one.', 1],
    ['finish', fail('finish_failed', 'the login CLI did not finish within 45 s'), 'Try again. If it keeps happening, the node\'s operator should look at the login CLI.', 2],
    ['start', fail('cli_unavailable', 'gone'), 'Install the login CLI, or set QUORIN_LOGIN_BIN to its path (see docs/deploy.md), then press Reload.', 1],
    ['start', fail('invalid node password', '', 401), 'The node password is missing or wrong. Open this console from the hub, or add pwd= and the node password to its address.', 1],
    ['refresh', fail('cross_site_request', 'another site', 403), 'Open this console from the node\'s own address or from the hub, then try again.', 1],
    ['refresh', fail('cli_unavailable', 'gone'), 'Install the refresh CLI, or set QUORIN_REFRESH_BIN to its path (see docs/deploy.md), then press Reload.', 1],
    ['refresh', fail('refresh_failed', 'the refresh CLI did not update the credentials file; sign in again'), null, 1],
  ];
  for (const [action, reply, next, step] of cases) {
    const { page } = await open(t, { replies: { status: { body: action === 'finish' ? PENDING : LOGGED_IN }, [action]: reply } });
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
  assert.deepEqual((await actions(page)).slice(0, 2), [['btnStart'], ['btnRefresh>refreshCliNotice']]);
  await page.click('#btnReload');
  await page.waitForSelector('#refreshCliNotice[hidden]', { state: 'attached' });
  assert.deepEqual((await actions(page)).slice(0, 2), [['btnRefresh'], []]);
});

test('a note goes once the state it spoke of has changed, and never before', async (t) => {
  let status = LOGGED_IN, refreshes = 0;
  const refresh = () => (refreshes++ ? fail('no_credentials', 'there is no credentials file') : { body: { refreshed: true, ...LOGGED_IN } });
  const { page } = await open(t, { replies: { status: () => ({ body: status }), refresh, finish: fail('invalid_grant') } });
  const steps = [
    // a click, or the status of the next read → classes of the login note and the refresh note
    ['#btnRefresh', 'note', 'note show ok'],
    [LOGGED_IN, 'note', 'note'], // a success note lasts one read
    ['#btnRefresh', 'note', 'note show err'], // a second refresh answers no_credentials
    [LOGGED_IN, 'note', 'note show err'], // the same state: it stays
    [statusDoc({ ...LOGGED_IN, expires_at: 1 }), 'note', 'note'], // the credentials changed
    [PENDING, 'note', 'note'],
    ['#btnFinish', 'note show err', 'note'],
    [PENDING, 'note show err', 'note'],
    [NOT_CONNECTED, 'note', 'note'], // the sign-in is gone, and its note with it
  ];
  for (const [what, ...want] of steps) {
    if (typeof what === 'object') await page.evaluate(() => load(), (status = what));
    else if (what === '#btnFinish') await page.fill('#codeInput', 'qc_0').then(() => page.click(what));
    else await page.click(what);
    const classes = () => page.evaluate(() => ['loginNote', 'refreshNote'].map((id) => document.getElementById(id).className));
    await page
      .waitForFunction((want) => ['loginNote', 'refreshNote'].every((id, i) => document.getElementById(id).className === want[i]), want)
      .catch(async () => assert.deepEqual(await classes(), want, JSON.stringify(what).slice(0, 80)));
  }
});
