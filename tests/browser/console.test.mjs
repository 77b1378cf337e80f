// The console as a person sees it, with the page served by the real plugin and
// its plugin calls intercepted: drawing of each state, the flows with their
// texts, and the addresses and headers of the calls.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import {
  EXPIRED,
  LOGGED_IN,
  NOT_CONNECTED,
  PENDING,
  expectToast,
  held,
  openConsole,
  serverAndBrowser,
  snapshot,
  statusDoc,
  until,
} from './support.mjs';

const env = serverAndBrowser();

const open = (t, how) => openConsole(t, env, how);

// The calls other than status reads, which the page also makes after a start.
const actions = (calls) => calls.filter((c) => !/[?&]action=status(&|$)/.test(c.url));

// Properties of the element that sel finds, in the order asked.
const props = (page, sel, ...names) => page.$eval(sel, (el, names) => names.map((n) => el[n]), names);
const busy = (page, sel) => page.$eval(sel, (el) => [el.getAttribute('aria-disabled'), el.textContent, el === document.activeElement]);

async function toStep2(page) {
  await page.click('#btnStart');
  await page.waitForSelector('#step2.on');
}

const START_OK = {
  body: { ok: true, flow: 'paste_code', auth_url: 'https://signin.example.test/a?state=1', expires_in: 600, hint: 'Approve, then paste.' },
};

describe('drawing a status', () => {
  test('named accounts, and markup characters shown literally everywhere', async (t) => {
    const name = '<img src=x onerror="window.hit=1"><b>bold</b>&amp;';
    const entry = (name, logged_in, expired) => ({ name, logged_in, has_refresh: false, expires_in_sec: 0, expired });
    const status = statusDoc({
      ...LOGGED_IN,
      account: name,
      accounts: [entry('work', true, false), entry('old', true, true), entry(name, false, false)],
    });
    const { page } = await open(t, { replies: { status: { body: status } } });
    const s = await snapshot(page);
    assert.deepEqual(s.accounts, [
      ['work', 'tag ok', 'valid'],
      ['old', 'tag warn', 'expired'],
      [name, 'tag', 'no token'],
    ]);
    assert.deepEqual([s.sub, s.grid[0][1]], [name, name]);
    assert.deepEqual(s.grid.map((r) => r[2]), [...Array(6).fill('v plain'), 'v']); // the path in the monospace font
    assert.deepEqual(await page.$$eval('#accounts > div', (rows) => rows.map((r) => r.className + ' ' + r.children[0].className)), [
      'acct nm',
      'acct nm',
      'acct nm',
    ]);
    assert.deepEqual(await page.evaluate(() => [document.querySelectorAll('#app img, #app b').length, window.hit]), [0, undefined]);
  });

  const failures = [
    ['the gate refuses', { status: 401, body: { ok: false, error: 'invalid node password' } }, 'invalid node password', ['pill warn', 'No access']],
    ['a reply without error', { body: { ok: false } }, 'status failed'],
    ['a web server\'s page', { status: 502, body: '<html><body>Bad gateway</body></html>' }, 'bad response (HTTP 502)'],
    ['no reply at all', 'abort', 'Status failed: Failed to fetch'],
  ];
  for (const [name, reply, text, pill = ['pill off', 'Unknown']] of failures) {
    test(`a failed status call (${name}) toasts and says so in the pill`, async (t) => {
      const { page } = await open(t, { replies: { status: reply } });
      await expectToast(page, text);
      assert.deepEqual(await props(page, '#pill', 'className', 'textContent'), pill);
    });
  }
});

describe('request addresses and headers', () => {
  test('on the node, with no parameters and no stored password', async (t) => {
    const { calls } = await open(t);
    assert.equal(calls[0].url, '/plugin_quorincode_login?action=status');
    assert.equal(calls[0].headers['x-bot-password'], undefined);
  });

  test('behind the hub, every parameter encoded and in order', async (t) => {
    const { page, calls } = await open(t, { query: '?plugin=quorin%20login&node=n%2F1&id=7%267&pwd=p%26w%20d', replies: { start: START_OK } });
    const tail = '&node=n%2F1&id=7%267&pwd=p%26w%20d';
    assert.equal(calls[0].url, `/plugins?plugin=quorin%20login&action=status${tail}`);
    assert.equal(calls[0].headers['x-bot-password'], 'p&w d');
    await page.click('#btnRelogin');
    await page.waitForSelector('#step2.on');
    assert.equal(calls[1].url, `/plugins?plugin=quorin%20login&action=start&force=1${tail}`);
  });

  const stored = [
    // address, storage → password used
    ['?node=n1', { bot_pwd_n1: 'nodepw', bot_active_pwd: 'active' }, 'nodepw'],
    ['?node=n1', { bot_pwd_n2: 'other', bot_active_pwd: 'active' }, 'active'],
    ['', { bot_pwd_: 'no', bot_pwd_n1: 'no', bot_active_pwd: 'active' }, 'active'],
    ['', { bot_pwd_n1: 'nodepw' }, null],
    ['?node=n1&pwd=given', { bot_pwd_n1: 'nodepw', bot_active_pwd: 'active' }, 'given'],
    ['?pwd=a+b', {}, 'a+b'], // as the node's gate reads it
  ];
  for (const [query, storage, pwd] of stored) {
    test(`stored passwords: "${query}" with ${Object.keys(storage)} uses ${pwd}`, async (t) => {
      const { calls } = await open(t, { query, storage });
      assert.equal(calls[0].headers['x-bot-password'], pwd ?? undefined);
    });
  }
});

describe('flows', () => {
  test('start: a busy button, then the link, the hint and step 2', async (t) => {
    const hold = held();
    let n = 0;
    const replies = {
      start: () => [hold.promise, { body: { ok: true, auth_url: 'javascript:alert(1)' } }][n++],
      cancel: { body: {} },
    };
    const { page, calls } = await open(t, { replies });
    await page.click('#btnStart');
    // Busy, it keeps the focus; the other start waits.
    assert.deepEqual(await busy(page, '#btnStart'), ['true', 'Starting...', true]);
    assert.equal(await page.getAttribute('#btnRelogin', 'disabled'), '');
    hold.release(START_OK);
    await page.waitForSelector('#step2.on');
    assert.deepEqual(await props(page, '#btnStart', 'disabled', 'textContent'), [false, 'Start Quorin Login']);
    const url = START_OK.body.auth_url;
    assert.deepEqual(
      [await page.textContent('#authUrl'), ...(await props(page, '#linkOpen', 'href', 'textContent', 'target', 'rel'))],
      [url, url, 'Open Quorin sign-in', '_blank', 'noopener noreferrer'],
    );
    assert.equal(await page.textContent('#flowHint'), 'Approve, then paste.');
    // The link is the next step (a phone's keyboard stays closed); once it was opened, Submit Code is.
    const blue = () => page.$$eval('.btn:not(.ghost)', (bs) => bs.filter((b) => b.getClientRects().length).map((b) => b.id));
    assert.deepEqual([await page.evaluate(() => document.activeElement.id), await blue()], ['linkOpen', ['linkOpen']]);
    await page.click('#linkOpen', { modifiers: ['Shift'] }).then(() => page.context().pages()[1]?.close());
    assert.deepEqual(await blue(), ['btnFinish']);
    assert.equal(calls[1].url, '/plugin_quorincode_login?action=start');

    // Cancel drops the link of the cancelled sign-in with it.
    await page.click('#btnCancel');
    await page.waitForSelector('#step1.on');
    assert.deepEqual(await page.evaluate(() => [S.link, document.getElementById('authUrl').hidden]), ['', true]);
    // A reply without hint keeps the hint; a link that is not a web address is not made one.
    await toStep2(page);
    assert.equal(await page.textContent('#flowHint'), 'Approve, then paste.');
    assert.equal(await page.textContent('#authUrl'), 'javascript:alert(1)');
    assert.deepEqual(await props(page, '#linkOpen', 'href', 'hidden'), ['', true]);
  });

  test('finish: empty paste, the exchange, success', async (t) => {
    const hold = held();
    const { page, calls } = await open(t, { replies: { start: START_OK, finish: () => hold.promise } });
    assert.equal(
      await page.textContent('#flowHint'),
      'After approving, Quorin shows an authorization code. Paste the whole redirect address or just the code= value below.',
    );
    await toStep2(page);
    await page.fill('#codeInput', ' \n ');
    await page.click('#btnFinish');
    assert.deepEqual(await props(page, '#loginNote', 'className', 'textContent'), ['note show err', 'Paste the code or the redirect address first.']);
    assert.equal(actions(calls).length, 1);

    const pasted = '  http://127.0.0.1:9/callback?code=qc_0a1b2c3d&state=f00d \n';
    await page.fill('#codeInput', pasted);
    await page.click('#btnFinish');
    assert.deepEqual(await busy(page, '#btnFinish'), ['true', 'Exchanging...', true]);
    assert.deepEqual(await props(page, '#loginNote', 'className', 'textContent'), ['note show', 'Exchanging the code for a token.']);
    assert.equal(actions(calls)[1].url, '/plugin_quorincode_login?action=finish&code=' + encodeURIComponent(pasted.trim()));
    hold.release({ body: { state: 'done', ...statusDoc({ ...LOGGED_IN, account: 'me@example.org' }) } });
    await expectToast(page, 'Signed in as me@example.org');
    const s = await snapshot(page);
    assert.deepEqual([s.pillText, s.sub, s.step1, s.step2], ['Logged In', 'me@example.org', true, false]);
    assert.deepEqual(await props(page, '#btnFinish', 'disabled', 'textContent'), [false, 'Submit Code']);
    assert.deepEqual([await page.inputValue('#codeInput'), await page.getAttribute('#loginNote', 'class')], ['', 'note']);
  });

  test('finish: no account name, a reply still pending, Ctrl+Enter', async (t) => {
    let n = 0;
    const done = () => ({ body: { state: 'done', ...statusDoc(n++ ? PENDING : LOGGED_IN), account: '' } });
    const { page, calls } = await open(t, { replies: { start: START_OK, finish: done } });
    await toStep2(page);
    await page.type('#codeInput', 'qc_1');
    await page.press('#codeInput', 'Enter');
    assert.equal(await page.inputValue('#codeInput'), 'qc_1\n');
    assert.equal(actions(calls).length, 1);
    await page.press('#codeInput', 'Control+Enter');
    await expectToast(page, 'Signed in as Quorin account');
    assert.equal(actions(calls)[1].url, '/plugin_quorincode_login?action=finish&code=qc_1');
    await toStep2(page);
    await page.fill('#codeInput', 'qc_2');
    await page.click('#btnFinish');
    await page.waitForFunction(() => document.getElementById('codeInput').value === '');
    assert.equal(await page.getAttribute('#step2', 'class'), 'step on');
  });

  // Where each flow reports a failure, its fallback text, and its button.
  const flows = {
    start: { click: '#btnRelogin', where: '#loginNote', fallback: 'start failed', transfer: 'Start failed: ', button: 'Re-login (replace)' },
    finish: { click: '#btnFinish', where: '#loginNote', fallback: 'exchange failed', transfer: 'Exchange failed: ', button: 'Submit Code' },
    refresh: { click: '#btnRefresh', where: '#refreshNote', fallback: 'refresh failed', transfer: 'Refresh failed: ', button: 'Refresh Token Now' },
  };
  const replies = [
    ['detail first', { body: { ok: false, error: 'e', detail: 'the detail' } }, () => 'the detail'],
    ['else error', { status: 400, body: { ok: false, error: 'invalid_code' } }, () => 'invalid_code'],
    ['else a fixed text', { body: { ok: false } }, (f) => f.fallback],
    ['not JSON', { body: 'Internal error' }, () => 'bad response'],
    ['no reply', 'abort', (f) => f.transfer + 'Failed to fetch'],
  ];
  for (const [action, f] of Object.entries(flows)) {
    for (const [name, reply, text] of replies) {
      test(`a failed ${action}: ${name}`, async (t) => {
        const status = { body: action === 'refresh' ? LOGGED_IN : NOT_CONNECTED };
        const { page } = await open(t, { replies: { status, start: action === 'start' ? reply : START_OK, [action]: reply } });
        if (action === 'finish') {
          await toStep2(page);
          await page.fill('#codeInput', 'qc_deadbeef');
        }
        await page.click(f.click);
        await page.waitForSelector(`${f.where}.err`);
        assert.deepEqual([await page.textContent(f.where), await page.textContent('#toast')], [text(f), '']); // said once
        // With a code pasted, Submit Code is the next step.
        const cls = action === 'finish' ? 'btn' : 'btn ghost';
        assert.deepEqual(await props(page, f.click, 'disabled', 'textContent', 'className'), [false, f.button, cls]);
        assert.equal(await page.getAttribute(f.where, 'class'), 'note show err');
        if (action === 'finish') assert.equal(await page.inputValue('#codeInput'), 'qc_deadbeef');
        assert.equal(await page.getAttribute('#step2', 'class'), action === 'finish' ? 'step on' : 'step');
      });
    }
  }

  test('cancel: back to step 1 whatever the reply, then the status again', async (t) => {
    let cancelled = false;
    const { page, calls } = await open(t, {
      replies: {
        status: () => ({ body: cancelled ? NOT_CONNECTED : PENDING }),
        cancel: () => ((cancelled = true), { body: 'not even JSON' }),
      },
    });
    await page.fill('#codeInput', 'half-pasted');
    await page.evaluate(() => ((S.notes.loginNote = note('old', 'err', 'signin', 0)), render()));
    await page.click('#btnCancel');
    await expectToast(page, 'Pending login cancelled');
    await page.waitForFunction(() => document.getElementById('pillText').textContent === 'Not Connected');
    const s = await snapshot(page);
    assert.deepEqual([s.step1, s.step2, await page.inputValue('#codeInput'), await page.getAttribute('#loginNote', 'class')], [true, false, '', 'note']);
    assert.deepEqual(calls.map((c) => c.url.split('?')[1]), ['action=status', 'action=cancel', 'action=status']);
  });

  test('cancel with no reply only toasts', async (t) => {
    const { page } = await open(t, { replies: { status: { body: PENDING }, cancel: 'abort' } });
    await page.fill('#codeInput', 'keep');
    await page.click('#btnCancel');
    await expectToast(page, 'Cancel failed: Failed to fetch');
    assert.deepEqual([await page.inputValue('#codeInput'), await page.getAttribute('#step2', 'class')], ['keep', 'step on']);
  });

  test('refresh: a busy button with its spinner, then the new status', async (t) => {
    const hold = held();
    const { page, calls } = await open(t, { replies: { status: { body: EXPIRED }, refresh: () => hold.promise } });
    const state = () =>
      page.evaluate(() => {
        const b = document.getElementById('btnRefresh'), n = document.getElementById('refreshNote');
        return [b.getAttribute('aria-disabled'), b.className, b.lastChild.textContent, getComputedStyle(b.querySelector('.spin')).display, n.className, n.textContent];
      });
    await page.click('#btnRefresh');
    // Expired with a refresh token: Refresh Token Now is the primary action.
    assert.deepEqual(await state(), ['true', 'btn loading', ' Refreshing...', 'inline-block', 'note show', 'Asking Quorin for a new access token...']);
    hold.release({ body: { refreshed: true, ...statusDoc({ ...LOGGED_IN, expires_in_sec: 28790 }) } });
    await page.waitForSelector('#refreshNote.ok');
    assert.deepEqual(await state(), [null, 'btn ghost', 'Refresh Token Now', 'none', 'note show ok', 'Token refreshed. Expires in 8 h.']);
    const s = await snapshot(page);
    assert.deepEqual([s.pill, s.fill], ['pill ok', '100%']);
    assert.equal(calls[1].url, '/plugin_quorincode_login?action=refresh');
    await page.click('#btnReload');
    await until(() => calls.length === 3);
    assert.equal(calls[2].url, '/plugin_quorincode_login?action=status');
  });

  test('no link known (a reload, a second tab): Show the link again asks for it without force, while pending; a refused copy selects it', async (t) => {
    let status = { status: 502, body: '<html>502</html>' };
    const { page, calls } = await open(t, { replies: { status: () => status, start: START_OK } });
    const shown = () =>
      page.evaluate(() => ['linkOpen', 'btnAgain', 'btnCopy', 'authUrl', 'linkMissing'].filter((id) => document.getElementById(id).getClientRects().length));
    // Its own read failed, or found that the sign-in ended: no new one is started.
    await page.evaluate(() => ((S.status = { ...S.status, pending: true }), render()));
    for (status of [status, { body: NOT_CONNECTED }]) await page.click('#btnAgain').then(() => page.waitForFunction(() => !S.busy.btnAgain));
    await page.waitForSelector('#step1.on');
    assert.deepEqual(actions(calls), []);
    status = { body: PENDING };
    await page.click('#btnReload');
    await page.waitForSelector('#step2.on');
    assert.deepEqual(await shown(), ['btnAgain', 'linkMissing']);
    await page.focus('#btnAgain');
    await page.keyboard.press('Enter');
    await page.waitForSelector('#authUrl:not([hidden])');
    assert.equal(actions(calls)[0].url, '/plugin_quorincode_login?action=start');
    assert.deepEqual([await shown(), await page.evaluate(() => document.activeElement.id)], [['linkOpen', 'btnCopy', 'authUrl'], 'linkOpen']);

    await page.evaluate(() => (navigator.clipboard.writeText = () => Promise.reject(new Error('refused'))));
    await page.click('#btnCopy');
    await page.waitForSelector('#copyHelp:not([hidden])');
    assert.equal(await page.evaluate(() => getSelection().toString()), START_OK.body.auth_url);
    assert.match(await page.textContent('#live'), /The link above is selected/);
  });

  test('a refresh CLI found missing: its notice and Refresh off, until Reload asks again', async (t) => {
    const { page } = await open(t, { replies: { status: { body: EXPIRED }, refresh: { body: { ok: false, error: 'cli_unavailable', detail: 'the refresh CLI is not on this node' } } } });
    const state = () => page.evaluate(() => [document.getElementById('refreshCliNotice').hidden, document.getElementById('btnRefresh').disabled]);
    await page.click('#btnRefresh');
    await page.waitForSelector('#refreshCliNotice:not([hidden])');
    assert.deepEqual(await state(), [false, true]);
    await page.click('#btnReload');
    await page.waitForSelector('#refreshCliNotice[hidden]', { state: 'attached' });
    assert.deepEqual(await state(), [true, false]);
  });
});
