// The console as a person sees it, with the page served by the real plugin and
// its plugin calls intercepted: drawing of each state, the flows with their
// texts, and the addresses and headers of the calls.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import {
  EXPIRED,
  LOGGED_IN,
  NOT_CONNECTED,
  PENDING,
  held,
  interceptApi,
  launchBrowser,
  snapshot,
  startServer,
  statusDoc,
  expectToast,
  until,
} from './support.mjs';

let server, browser;
before(async () => {
  server = await startServer();
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await server?.stop();
});

// Opens the console with the given address query; reply() answers the calls
// (default: every status call answers `status`). storage is set on the origin
// before the page loads.
async function open(t, { query = '', status = NOT_CONNECTED, reply, storage, permissions } = {}) {
  const context = await browser.newContext({ permissions });
  context.setDefaultTimeout(5000);
  t.after(() => context.close());
  const page = await context.newPage();
  if (storage) {
    await page.goto(`${server.base}/signin.html`);
    await page.evaluate((s) => Object.entries(s).forEach(([k, v]) => localStorage.setItem(k, v)), storage);
  }
  const calls = await interceptApi(page, reply || (() => ({ body: status })));
  await page.goto(server.console + query);
  return { page, calls };
}

async function drawn(page) {
  await page.waitForFunction(() => document.getElementById('pillText').textContent !== 'Checking');
  return snapshot(page);
}

const GRID_LABELS = [
  'Account',
  'Logged in',
  'Refresh token',
  'Token expires',
  'Subscription',
  'Login pending',
  'Login CLI',
  'Profile',
  'Credentials',
];

describe('drawing a status', () => {
  test('before any reply the page shows its first state', async (t) => {
    const hold = held();
    t.after(() => hold.release({ body: NOT_CONNECTED }));
    const { page } = await open(t, { reply: () => hold.promise });
    const s = await snapshot(page);
    assert.equal(s.pillText, 'Checking');
    assert.equal(s.pill, 'pill off');
    assert.equal(s.count, '-');
    assert.equal(s.fill, '0%');
    assert.equal(s.lead, 'Reading the local Quorin Code credentials.');
    assert.deepEqual(s.accounts, [['empty', 'No named accounts.']]);
    assert.deepEqual([s.step1, s.step2], [true, false]);
  });

  const states = [
    {
      name: 'logged in',
      status: LOGGED_IN,
      pill: ['pill ok', 'Logged In'],
      sub: 'dev@example.org',
      lead: 'This node holds a Quorin Code session.',
      count: '3 <small>hours \u00b7 12m</small>',
      bar: ['bar', '40%'],
      expires: '3 h',
      steps: [true, false],
    },
    {
      name: 'expired',
      status: EXPIRED,
      pill: ['pill warn', 'Expired'],
      sub: 'dev@example.org',
      lead: 'The session is present but its access token has expired. Use Refresh Token Now.',
      count: '-',
      bar: ['bar err', '0%'],
      expires: 'expired',
      steps: [true, false],
    },
    {
      name: 'pending',
      status: PENDING,
      pill: ['pill warn', 'Signing in'],
      sub: 'OAuth PKCE login on this node',
      lead: 'No Quorin Code session on this node yet. Start a login below.',
      count: 'not connected',
      bar: ['bar', '0%'],
      expires: '-',
      steps: [false, true],
    },
    {
      name: 'not connected',
      status: NOT_CONNECTED,
      pill: ['pill off', 'Not Connected'],
      sub: 'OAuth PKCE login on this node',
      lead: 'No Quorin Code session on this node yet. Start a login below.',
      count: 'not connected',
      bar: ['bar', '0%'],
      expires: '-',
      steps: [true, false],
    },
  ];
  for (const c of states) {
    test(`${c.name}: pill, lead, figure, bar, grid and step`, async (t) => {
      const { page } = await open(t, { status: c.status });
      const s = await drawn(page);
      assert.deepEqual([s.pill, s.pillText], c.pill);
      assert.equal(s.sub, c.sub);
      assert.equal(s.lead, c.lead);
      assert.equal(s.count, c.count);
      assert.deepEqual([s.bar, s.fill], c.bar);
      assert.deepEqual(
        s.grid.map((r) => r[0]),
        GRID_LABELS,
      );
      assert.equal(s.grid[3][1], c.expires);
      assert.deepEqual([s.step1, s.step2], c.steps);
    });
  }

  test('the grid values and their classes', async (t) => {
    const { page } = await open(t, { status: LOGGED_IN });
    assert.deepEqual((await drawn(page)).grid, [
      ['Account', 'dev@example.org', 'v plain'],
      ['Logged in', 'yes', 'v plain'],
      ['Refresh token', 'stored', 'v plain'],
      ['Token expires', '3 h', 'v plain'],
      ['Subscription', 'team', 'v plain'],
      ['Login pending', 'no', 'v plain'],
      ['Login CLI', 'found', 'v plain'],
      ['Profile', 'quorin_code', 'v plain'],
      ['Credentials', 'C:\\Users\\bot\\.quorin\\.credentials.json', 'v'],
    ]);
    const other = await page.evaluate(() => {
      const values = () => [...document.querySelectorAll('#session .v')].map((v) => v.textContent);
      render({ logged_in: false, profile_exists: true, profile: '', cli_present: false });
      const a = values();
      render({ logged_in: false, profile_exists: false, profile: 'work', pending: true });
      return [a, values()];
    });
    assert.deepEqual(other[0], ['-', 'no', 'none', '-', '-', 'no', 'not found', 'quorin_code', '-']);
    assert.deepEqual(other[1], ['-', 'no', 'none', '-', '-', 'yes', 'not found', 'not created', '-']);
  });

  test('the bar share and colour follow the remaining time', async (t) => {
    const { page } = await open(t, { status: LOGGED_IN });
    await drawn(page);
    const cases = [
      [{ logged_in: true, expires_in_sec: 57600 }, 'bar', '100%'],
      [{ logged_in: true, expires_in_sec: 28656 }, 'bar', '100%'],
      [{ logged_in: true, expires_in_sec: 5616 }, 'bar', '20%'],
      [{ logged_in: true, expires_in_sec: 5615 }, 'bar warn', '19%'],
      [{ logged_in: true, expires_in_sec: 30 }, 'bar warn', '2%'],
      [{ logged_in: true, expires_in_sec: 0 }, 'bar warn', '0%'],
      [{ logged_in: true, expired: true, expires_in_sec: 20000 }, 'bar err', '69%'],
      [{ logged_in: false, expired: true, expires_in_sec: 20000 }, 'bar', '0%'],
    ];
    for (const [d, bar, fill] of cases) {
      const got = await page.evaluate((d) => {
        render(d);
        return [document.getElementById('bar').className, document.getElementById('fill').style.width];
      }, d);
      assert.deepEqual(got, [bar, fill], JSON.stringify(d));
    }
    const zero = await page.evaluate(() => {
      render({ logged_in: true, expired: false, expires_in_sec: 0 });
      const $ = (id) => document.getElementById(id);
      return [$('pillText').textContent, $('count').textContent, $('session').children[7].textContent];
    });
    assert.deepEqual(zero, ['Logged In', '-', 'expired']);
  });

  test('named accounts are listed with their tags', async (t) => {
    const accounts = [
      { name: 'work', logged_in: true, has_refresh: true, expires_in_sec: 900, expired: false },
      { name: 'old', logged_in: true, has_refresh: false, expires_in_sec: 0, expired: true },
      { name: 'spare', logged_in: false, has_refresh: false, expires_in_sec: 0, expired: false },
    ];
    const { page } = await open(t, { status: statusDoc({ accounts, named_accounts: true }) });
    assert.deepEqual((await drawn(page)).accounts, [
      ['work', 'tag ok', 'valid'],
      ['old', 'tag warn', 'expired'],
      ['spare', 'tag', 'no token'],
    ]);
    assert.deepEqual(
      await page.$$eval('#accounts > div', (rows) => rows.map((r) => [r.className, r.children[0].className])),
      [
        ['acct', 'nm'],
        ['acct', 'nm'],
        ['acct', 'nm'],
      ],
    );
  });

  test('an account name with markup characters is shown literally', async (t) => {
    const name = '<img src=x onerror="window.hit=1"><b>bold</b>&amp;';
    const status = statusDoc({
      ...LOGGED_IN,
      account: name,
      accounts: [{ name, logged_in: false, has_refresh: false, expires_in_sec: 0, expired: false }],
    });
    const { page } = await open(t, { status });
    const s = await drawn(page);
    assert.equal(s.sub, name);
    assert.equal(s.grid[0][1], name);
    assert.equal(s.accounts[0][0], name);
    assert.equal(await page.evaluate(() => document.querySelectorAll('#app img, #app b').length), 0);
    assert.equal(await page.evaluate(() => window.hit), undefined);
  });
});

describe('failed status calls', () => {
  const cases = [
    {
      name: 'the node password gate refuses',
      reply: { status: 401, body: { ok: false, error: 'invalid node password' } },
      toast: 'invalid node password',
    },
    { name: 'a reply without error', reply: { body: { ok: false } }, toast: 'status failed' },
    { name: 'a reply that is not JSON', reply: { body: '<html><body>Bad gateway</body></html>' }, toast: 'bad response' },
    { name: 'no reply at all', reply: 'abort', toast: 'Status failed: Failed to fetch' },
  ];
  for (const c of cases) {
    test(`${c.name}: toast, and the pill stays`, async (t) => {
      const { page } = await open(t, { reply: () => c.reply });
      await expectToast(page, c.toast);
      const s = await snapshot(page);
      assert.deepEqual([s.pill, s.pillText], ['pill off', 'Checking']);
    });
  }

  test('the toast hides again after a while', async (t) => {
    const { page } = await open(t, { reply: () => ({ body: { ok: false, error: 'x' } }) });
    await page.waitForSelector('#toast.show');
    const shownAt = Date.now();
    await page.waitForSelector('#toast:not(.show)', { state: 'attached', timeout: 5000 });
    const shownFor = Date.now() - shownAt;
    assert.ok(shownFor > 1500 && shownFor < 4000, `shown for ${shownFor} ms`);
  });
});

describe('remaining-time texts', () => {
  test('fmtExpiry', async (t) => {
    const { page } = await open(t);
    const cases = [
      [null, '-'],
      ['90', '-'],
      [0, 'expired'],
      [-5, 'expired'],
      [1, '1s'],
      [89, '89s'],
      [90, '2 min'],
      [5399, '90 min'],
      [5400, '2 h'],
      [28800, '8 h'],
      [172799, '48 h'],
      [172800, '2 d'],
      [63071999, '730 d'],
      [63072000, '2 yr'],
    ];
    const got = await page.evaluate((xs) => xs.map((x) => fmtExpiry(x)), cases.map((c) => c[0]));
    assert.deepEqual(got, cases.map((c) => c[1]));
  });

  test('countdown', async (t) => {
    const { page } = await open(t);
    const cases = [
      [undefined, '-'],
      ['3600', '-'],
      [0, '-'],
      [-1, '-'],
      [1, '1 <small>second</small>'],
      [45, '45 <small>seconds</small>'],
      [60, '1 <small>minute &middot; 0s</small>'],
      [3599, '59 <small>minutes &middot; 59s</small>'],
      [3600, '1 <small>hour &middot; 0m</small>'],
      [11532, '3 <small>hours &middot; 12m</small>'],
      [86700, '1 <small>day &middot; 0h 5m</small>'],
      [172800, '2 <small>days &middot; 0h 0m</small>'],
    ];
    const got = await page.evaluate((xs) => xs.map((x) => countdown(x)), cases.map((c) => c[0]));
    assert.deepEqual(got, cases.map((c) => c[1]));
  });
});

describe('request addresses and headers', () => {
  test('on the node, with no parameters and no stored password', async (t) => {
    const { page, calls } = await open(t);
    await drawn(page);
    assert.equal(calls[0].url, '/plugin_quorincode_login?action=status');
    assert.equal(calls[0].headers['x-bot-password'], undefined);
  });

  test('behind the hub, with every parameter encoded in order', async (t) => {
    const query = '?plugin=quorin%20login&node=n%2F1&id=7%267&pwd=p%26w%20d';
    const { page, calls } = await open(t, {
      query,
      reply: (action) => ({ body: action === 'start' ? { ok: true, auth_url: 'https://x.test/a' } : NOT_CONNECTED }),
    });
    await drawn(page);
    const tail = '&node=n%2F1&id=7%267&pwd=p%26w%20d';
    assert.equal(calls[0].url, `/plugins?plugin=quorin%20login&action=status${tail}`);
    assert.equal(calls[0].headers['x-bot-password'], 'p&w d');
    await page.click('#btnRelogin');
    await page.waitForSelector('#step2.on');
    assert.equal(calls[1].url, `/plugins?plugin=quorin%20login&action=start&force=1${tail}`);
  });

  const stored = [
    {
      name: 'a node password stored for the node',
      query: '?node=n1',
      storage: { bot_pwd_n1: 'nodepw' },
      pwd: 'nodepw',
    },
    {
      name: 'the active password when none is stored for the node',
      query: '?node=n1',
      storage: { bot_pwd_n2: 'other', bot_active_pwd: 'active' },
      pwd: 'active',
    },
    {
      name: 'without node, only the active password',
      query: '',
      storage: { bot_pwd_: 'nope', bot_pwd_n1: 'nope', bot_active_pwd: 'active' },
      pwd: 'active',
    },
    { name: 'without node, a per-node password is not used', query: '', storage: { bot_pwd_n1: 'nodepw' }, pwd: '' },
    {
      name: 'the address wins over storage',
      query: '?node=n1&pwd=given',
      storage: { bot_pwd_n1: 'nodepw', bot_active_pwd: 'active' },
      pwd: 'given',
    },
  ];
  for (const c of stored) {
    test(`password: ${c.name}`, async (t) => {
      const { page, calls } = await open(t, { query: c.query, storage: c.storage });
      await drawn(page);
      const u = new URL(calls[0].url, server.base);
      assert.equal(u.searchParams.get('pwd'), c.pwd || null);
      assert.equal(calls[0].headers['x-bot-password'], c.pwd || undefined);
    });
  }
});

// A plugin that answers each action from a table; status follows `state`.
function plugin(replies) {
  return (action) => {
    const r = replies[action];
    return typeof r === 'function' ? r() : r || { body: NOT_CONNECTED };
  };
}

const START_OK = {
  body: {
    ok: true,
    flow: 'paste_code',
    auth_url: 'https://signin.example.test/authorize?state=abc',
    expires_in: 600,
    hint: 'Approve, then paste the code.',
  },
};

describe('sign-in', () => {
  test('start shows the link, the hint and step 2', async (t) => {
    const hold = held();
    const { page, calls } = await open(t, { reply: plugin({ start: () => hold.promise }) });
    await drawn(page);
    await page.click('#btnStart');
    assert.deepEqual(await page.$eval('#btnStart', (b) => [b.disabled, b.textContent]), [true, 'Starting...']);
    hold.release(START_OK);
    await page.waitForSelector('#step2.on');
    const s = await page.evaluate(() => {
      const $ = (id) => document.getElementById(id);
      return {
        button: [$('btnStart').disabled, $('btnStart').textContent],
        box: $('authUrl').textContent,
        href: $('linkOpen').getAttribute('href'),
        label: $('linkOpen').textContent,
        target: [$('linkOpen').target, $('linkOpen').rel],
        hint: $('flowHint').textContent,
        focus: document.activeElement.id,
        step1: $('step1').className,
      };
    });
    assert.deepEqual(s, {
      button: [false, 'Start Quorin Login'],
      box: 'https://signin.example.test/authorize?state=abc',
      href: 'https://signin.example.test/authorize?state=abc',
      label: 'Open Quorin sign-in',
      target: ['_blank', 'noopener noreferrer'],
      hint: 'Approve, then paste the code.',
      focus: 'codeInput',
      step1: 'step',
    });
    assert.equal(calls[1].url, '/plugin_quorincode_login?action=start');
  });

  test('a start reply without hint keeps the hint as it was', async (t) => {
    let n = 0;
    const { page } = await open(t, {
      reply: plugin({
        start: () => (++n === 1 ? START_OK : { body: { ok: true, auth_url: 'https://signin.example.test/2' } }),
        cancel: { body: { ok: true, state: 'cancelled', pending: false } },
      }),
    });
    await drawn(page);
    const original = await page.textContent('#flowHint');
    assert.equal(
      original,
      'After approving, Quorin shows an authorization code. Paste the whole redirect address or just the code= value below.',
    );
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await page.click('#btnCancel');
    await page.waitForSelector('#step1.on');
    await page.click('#btnStart');
    await page.waitForFunction(() => document.getElementById('authUrl').textContent.endsWith('/2'));
    assert.equal(await page.textContent('#flowHint'), 'Approve, then paste the code.');
  });

  const startFailures = [
    ['detail first', { body: { ok: false, error: 'e', detail: 'the detail' } }, 'the detail'],
    ['else error', { body: { ok: false, error: 'cli_unavailable' } }, 'cli_unavailable'],
    ['else a fixed text', { body: { ok: false } }, 'start failed'],
    ['a reply that is not JSON', { body: 'Internal error' }, 'bad response'],
    ['no reply', 'abort', 'Start failed: Failed to fetch'],
  ];
  for (const [name, reply, text] of startFailures) {
    test(`a failed start toasts: ${name}`, async (t) => {
      const { page } = await open(t, { reply: plugin({ start: reply }) });
      await drawn(page);
      await page.click('#btnRelogin');
      await expectToast(page, text);
      assert.deepEqual(await page.$eval('#btnRelogin', (b) => [b.disabled, b.textContent]), [
        false,
        'Re-login (replace)',
      ]);
      assert.equal(await page.getAttribute('#step1', 'class'), 'step on');
    });
  }

  test('an authorization link that is not a web address is not made a link', async (t) => {
    const { page } = await open(t, {
      reply: plugin({ start: { body: { ok: true, auth_url: 'javascript:alert(1)' } } }),
    });
    await drawn(page);
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    assert.equal(await page.textContent('#authUrl'), 'javascript:alert(1)');
    assert.equal(await page.getAttribute('#linkOpen', 'href'), '#');
  });

  test('finish: empty paste, the exchange, and success', async (t) => {
    const hold = held();
    const done = statusDoc({ ...LOGGED_IN, account: 'me@example.org' });
    const { page, calls } = await open(t, {
      reply: plugin({ start: START_OK, finish: () => hold.promise }),
    });
    await drawn(page);
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');

    await page.fill('#codeInput', ' \n ');
    await page.click('#btnFinish');
    assert.deepEqual(await page.$eval('#loginNote', (n) => [n.className, n.textContent]), [
      'note show err',
      'Paste the code or the redirect address first.',
    ]);
    assert.equal(calls.length, 2);

    const pasted = '  http://127.0.0.1:9/callback?code=qc_0a1b2c3d&state=f00d \n';
    await page.fill('#codeInput', pasted);
    await page.click('#btnFinish');
    assert.deepEqual(
      await page.evaluate(() => {
        const $ = (id) => document.getElementById(id);
        return [$('btnFinish').disabled, $('btnFinish').textContent, $('loginNote').className, $('loginNote').textContent];
      }),
      [true, 'Exchanging...', 'note show', 'Exchanging the code for a token.'],
    );
    assert.equal(
      calls[2].url,
      '/plugin_quorincode_login?action=finish&code=' + encodeURIComponent(pasted.trim()),
    );
    hold.release({ body: { ok: true, state: 'done', ...done } });
    await expectToast(page, 'Signed in as me@example.org');
    const s = await snapshot(page);
    assert.deepEqual([s.pillText, s.sub, s.step1, s.step2], ['Logged In', 'me@example.org', true, false]);
    assert.deepEqual(
      await page.evaluate(() => {
        const $ = (id) => document.getElementById(id);
        return [$('codeInput').value, $('loginNote').className, $('btnFinish').disabled, $('btnFinish').textContent];
      }),
      ['', 'note', false, 'Submit Code'],
    );
  });

  test('finish without an account name, and one whose reply is still pending', async (t) => {
    let n = 0;
    const { page } = await open(t, {
      reply: plugin({
        start: START_OK,
        finish: () => ({ body: { ok: true, state: 'done', ...statusDoc(++n === 1 ? LOGGED_IN : PENDING), account: '' } }),
      }),
    });
    await drawn(page);
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await page.fill('#codeInput', 'qc_1');
    await page.click('#btnFinish');
    await expectToast(page, 'Signed in as Quorin account');
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await page.fill('#codeInput', 'qc_2');
    await page.click('#btnFinish');
    await page.waitForFunction(() => document.getElementById('codeInput').value === '');
    assert.equal(await page.getAttribute('#step2', 'class'), 'step on');
  });

  const finishFailures = [
    ['detail first', { body: { ok: false, error: 'bad', detail: 'Quorin rejected the code' } }, 'Quorin rejected the code'],
    ['else error', { status: 400, body: { ok: false, error: 'invalid_code' } }, 'invalid_code'],
    ['else a fixed text', { body: { ok: false } }, 'exchange failed'],
    ['no reply', 'abort', 'Exchange failed: Failed to fetch'],
  ];
  for (const [name, reply, text] of finishFailures) {
    test(`a failed finish keeps the paste: ${name}`, async (t) => {
      const { page } = await open(t, { reply: plugin({ start: START_OK, finish: reply }) });
      await drawn(page);
      await page.click('#btnStart');
      await page.waitForSelector('#step2.on');
      await page.fill('#codeInput', 'qc_deadbeef');
      await page.click('#btnFinish');
      await page.waitForSelector('#loginNote.err');
      assert.deepEqual(
        await page.evaluate(() => {
          const $ = (id) => document.getElementById(id);
          return [$('loginNote').className, $('loginNote').textContent, $('codeInput').value, $('btnFinish').textContent, $('step2').className];
        }),
        ['note show err', text, 'qc_deadbeef', 'Submit Code', 'step on'],
      );
    });
  }

  test('Ctrl+Enter submits; Enter alone makes a new line', async (t) => {
    const { page, calls } = await open(t, {
      reply: plugin({ start: START_OK, finish: { body: { ok: false, error: 'x' } } }),
    });
    await drawn(page);
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await page.type('#codeInput', 'qc_1');
    await page.press('#codeInput', 'Enter');
    assert.equal(await page.inputValue('#codeInput'), 'qc_1\n');
    assert.equal(calls.length, 2);
    await page.press('#codeInput', 'Control+Enter');
    await page.waitForSelector('#loginNote.err');
    assert.equal(await page.inputValue('#codeInput'), 'qc_1\n');
    assert.equal(calls[2].url, '/plugin_quorincode_login?action=finish&code=qc_1');
  });

  test('cancel returns to step 1 and loads the status again', async (t) => {
    let cancelled = false;
    const { page, calls } = await open(t, {
      status: PENDING,
      reply: plugin({
        status: () => ({ body: cancelled ? NOT_CONNECTED : PENDING }),
        cancel: () => ((cancelled = true), { body: 'not even JSON' }),
      }),
    });
    const before = await drawn(page);
    assert.deepEqual([before.step1, before.step2], [false, true]);
    await page.fill('#codeInput', 'half-pasted');
    await page.evaluate(() => note(document.getElementById('loginNote'), 'old', 'err'));
    await page.click('#btnCancel');
    await expectToast(page, 'Pending login cancelled');
    await page.waitForFunction(() => document.getElementById('pillText').textContent === 'Not Connected');
    const s = await snapshot(page);
    assert.deepEqual([s.step1, s.step2], [true, false]);
    assert.equal(await page.inputValue('#codeInput'), '');
    assert.equal(await page.getAttribute('#loginNote', 'class'), 'note');
    assert.deepEqual(
      calls.map((c) => c.url),
      ['status', 'cancel', 'status'].map((a) => `/plugin_quorincode_login?action=${a}`),
    );
  });

  test('a cancel with no reply only toasts', async (t) => {
    const { page } = await open(t, { status: PENDING, reply: plugin({ status: { body: PENDING }, cancel: 'abort' }) });
    await drawn(page);
    await page.fill('#codeInput', 'keep');
    await page.click('#btnCancel');
    await expectToast(page, 'Cancel failed: Failed to fetch');
    assert.equal(await page.inputValue('#codeInput'), 'keep');
    assert.equal(await page.getAttribute('#step2', 'class'), 'step on');
  });

  test('after a reload while pending: empty link box, link "#", copy does nothing', async (t) => {
    const { page } = await open(t, { status: PENDING, permissions: ['clipboard-read', 'clipboard-write'] });
    await drawn(page);
    assert.equal(await page.textContent('#authUrl'), '');
    assert.equal(await page.getAttribute('#linkOpen', 'href'), '#');
    await page.click('#btnCopy');
    await page.waitForTimeout(300);
    assert.equal(await page.getAttribute('#toast', 'class'), 'toast');
  });

  test('copy link puts the link on the clipboard', async (t) => {
    const { page } = await open(t, {
      reply: plugin({ start: START_OK }),
      permissions: ['clipboard-read', 'clipboard-write'],
    });
    await drawn(page);
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await page.click('#btnCopy');
    await expectToast(page, 'Link copied');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), START_OK.body.auth_url);
  });

  test('copy link without a clipboard facility', async (t) => {
    const { page } = await open(t, { reply: plugin({ start: START_OK }) });
    await drawn(page);
    await page.click('#btnStart');
    await page.waitForSelector('#step2.on');
    await page.evaluate(() => Object.defineProperty(navigator, 'clipboard', { value: undefined }));
    await page.click('#btnCopy');
    await expectToast(page, 'Copy not available');
  });
});

describe('refresh', () => {
  test('while running, and on success', async (t) => {
    const hold = held();
    const { page, calls } = await open(t, { status: EXPIRED, reply: plugin({ status: { body: EXPIRED }, refresh: () => hold.promise }) });
    await drawn(page);
    await page.click('#btnRefresh');
    const during = await page.evaluate(() => {
      const b = document.getElementById('btnRefresh'), n = document.getElementById('refreshNote');
      return [b.disabled, b.className, b.lastChild.textContent, getComputedStyle(b.querySelector('.spin')).display, n.className, n.textContent];
    });
    assert.deepEqual(during, [true, 'btn ghost loading', ' Refreshing...', 'inline-block', 'note show', 'Asking Quorin for a new access token...']);
    hold.release({ body: { ok: true, refreshed: true, ...statusDoc({ ...LOGGED_IN, expires_in_sec: 28790 }) } });
    await page.waitForSelector('#refreshNote.ok');
    const s = await snapshot(page);
    assert.deepEqual([s.pill, s.pillText, s.fill, s.bar], ['pill ok', 'Logged In', '100%', 'bar']);
    const after = await page.evaluate(() => {
      const b = document.getElementById('btnRefresh'), n = document.getElementById('refreshNote');
      return [b.disabled, b.className, b.textContent, getComputedStyle(b.querySelector('.spin')).display, n.className, n.textContent];
    });
    assert.deepEqual(after, [false, 'btn ghost', 'Refresh Token Now', 'none', 'note show ok', 'Token refreshed. Expires in 8 h.']);
    assert.equal(calls[1].url, '/plugin_quorincode_login?action=refresh');
  });

  const failures = [
    ['detail first', { body: { ok: false, error: 'refresh_failed', detail: 'sign in again' } }, 'sign in again'],
    ['else error', { body: { ok: false, error: 'no_credentials' } }, 'no_credentials'],
    ['else a fixed text', { body: { ok: false } }, 'refresh failed'],
    ['no reply', 'abort', 'Refresh failed: Failed to fetch'],
  ];
  for (const [name, reply, text] of failures) {
    test(`a failed refresh: ${name}`, async (t) => {
      const { page } = await open(t, { status: EXPIRED, reply: plugin({ status: { body: EXPIRED }, refresh: reply }) });
      await drawn(page);
      await page.click('#btnRefresh');
      await page.waitForSelector('#refreshNote.err');
      assert.deepEqual(
        await page.evaluate(() => {
          const b = document.getElementById('btnRefresh'), n = document.getElementById('refreshNote');
          return [b.disabled, b.className, b.textContent, n.className, n.textContent, document.getElementById('pillText').textContent];
        }),
        [false, 'btn ghost', 'Refresh Token Now', 'note show err', text, 'Expired'],
      );
    });
  }

  test('reload calls status again', async (t) => {
    const { page, calls } = await open(t);
    await drawn(page);
    await page.click('#btnReload');
    await until(() => calls.length === 2);
    assert.deepEqual(calls.map((c) => c.url), [1, 2].map(() => '/plugin_quorincode_login?action=status'));
  });
});
