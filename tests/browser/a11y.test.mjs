// axe-core on every state of the console, light and dark, wide and narrow:
// no violation at all apart from colour contrast with the default tokens, and
// none at all when the browser asks for more contrast.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import {
  EXPIRED,
  LOGGED_IN,
  NOT_CONNECTED,
  NO_CLI,
  PENDING,
  ROOT,
  interceptApi,
  launchBrowser,
  startServer,
  statusDoc,
} from './support.mjs';

const TAGS = ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'best-practice'];

let server, guarded, browser, axeSource;
before(async () => {
  [server, guarded, browser, axeSource] = await Promise.all([
    startServer(),
    startServer({ password: 's3cret' }),
    launchBrowser(),
    fs.readFile(path.join(ROOT, 'node_modules/axe-core/axe.min.js'), 'utf8'),
  ]);
});
after(async () => {
  await browser?.close();
  await Promise.all([server?.stop(), guarded?.stop()]);
});

const START_OK = {
  body: {
    ok: true,
    flow: 'paste_code',
    auth_url: 'https://signin.example.test/oauth/authorize?client_id=quorin-code&state=5d0c3f7a9e2b41c68f1a7d3e0b9c2a64',
    hint: 'Approve, then paste the code or the whole redirect address.',
    expires_in: 600,
  },
};
const REFUSED = { body: { ok: false, error: 'invalid_code', detail: 'Quorin rejected the code, or it has already been used or has expired' } };
const entry = (name, logged_in, expired) => ({ name, logged_in, has_refresh: logged_in, expires_in_sec: expired ? 0 : 9000, expired });
const NAMED = statusDoc({
  ...LOGGED_IN,
  named_accounts: true,
  accounts: [entry('work', true, false), entry('ci-runner', true, true), entry('spare', false, false)],
});

// Waits until the page has drawn its first reply (or toasted a failure).
const drawn = (page) =>
  page.waitForFunction(() => !document.getElementById('pillText') || document.getElementById('pillText').textContent !== 'Checking' || document.querySelector('#toast.show'));
// Lets toasts and bars finish their transitions, so contrast is judged on the
// colours a person ends up seeing.
const settle = (page) => page.waitForTimeout(250);

// Each state: how the page is opened and brought there. replies as in
// interceptApi (per action); real: the password node with no interception.
const STATES = [
  ['initial', { replies: { status: NOT_CONNECTED } }],
  [
    'signing in',
    {
      replies: { status: (seen) => (seen.start ? PENDING : NOT_CONNECTED), start: START_OK },
      async act(page) {
        await page.click('#btnStart');
        await page.waitForFunction(() => document.getElementById('authUrl').textContent !== '');
        await page.fill('#codeInput', 'qc_3fa41c07');
      },
    },
  ],
  [
    'wrong code',
    {
      replies: { status: PENDING, start: START_OK, finish: REFUSED },
      async act(page) {
        await page.fill('#codeInput', 'qc_00000000');
        await page.click('#btnFinish');
        await page.waitForSelector('#loginNote.err');
      },
    },
  ],
  [
    'signed in',
    {
      replies: { status: PENDING, finish: { body: { state: 'done', ...LOGGED_IN } }, refresh: { body: { refreshed: true, ...LOGGED_IN } } },
      async act(page) {
        await page.fill('#codeInput', 'qc_3fa41c07');
        await page.click('#btnFinish');
        await page.click('#btnRefresh');
        await page.waitForSelector('#refreshNote.ok');
        await page.waitForSelector('#toast.show');
      },
    },
  ],
  [
    'expired',
    {
      replies: { status: EXPIRED, refresh: { body: { ok: false, error: 'refresh_failed', detail: 'the refresh token was refused' } } },
      async act(page) {
        await page.click('#btnRefresh');
        await page.waitForSelector('#refreshNote.err');
      },
    },
  ],
  ['named accounts', { replies: { status: NAMED } }],
  ['account chosen', { query: '?name=work', replies: { status: { ...NAMED, account: 'work' } } }],
  ['login CLI missing', { replies: { status: NO_CLI } }],
  ['expired, no refresh token', { replies: { status: { ...EXPIRED, has_refresh: false } } }],
  [
    'refresh CLI missing',
    {
      replies: { status: EXPIRED, refresh: { body: { ok: false, error: 'cli_unavailable', detail: 'the refresh CLI is not on this node' } } },
      act: (page) => page.click('#btnRefresh').then(() => page.waitForSelector('#refreshCliNotice:not([hidden])')),
    },
  ],
  [
    'sign-in expired',
    {
      replies: { status: (seen) => (seen.finish ? NOT_CONNECTED : PENDING), finish: { body: { ...REFUSED.body, error: 'login_expired' } } },
      async act(page) {
        await page.fill('#codeInput', 'qc_3fa41c07');
        await page.click('#btnFinish');
        await page.waitForSelector('#step1.on');
      },
    },
  ],
  [
    'password mode',
    {
      real: true,
      query: '?pwd=s3cret',
      async act(page) {
        assert.equal(await page.textContent('#pillText'), 'Not Connected', 'the node took the password');
      },
    },
  ],
  ['password refused', { replies: { status: { status: 401, body: { ok: false, error: 'invalid node password' } } } }],
  ['the password page', { real: true, query: '?pwd=wrong' }],
  [
    // A re-login over a session, its link shown again, the copy refused, a code pasted: the longest step 2.
    're-login, link shown again, copy refused',
    {
      replies: { status: { ...LOGGED_IN, pending: true }, start: START_OK },
      async act(page) {
        await page.click('#btnAgain');
        await page.evaluate(() => (navigator.clipboard.writeText = () => Promise.reject(new Error('refused'))));
        await page.click('#btnCopy');
        await page.waitForSelector('#copyHelp:not([hidden])');
        await page.fill('#codeInput', 'qc_3fa41c07');
      },
    },
  ],
];

// One page per view goes through all the states; its plugin calls are
// answered from the state at hand (or reach the real password node).
async function viewPage(theme, width) {
  // The narrow view is a phone's screen, 390 x 844.
  const context = await browser.newContext({ viewport: { width, height: width < 400 ? 844 : 900 }, colorScheme: theme });
  context.setDefaultTimeout(5000);
  const page = await context.newPage();
  page.state = { replies: {}, seen: {} };
  await interceptApi(page, (action) => {
    const { replies, real, seen } = page.state;
    if (real) return 'continue';
    let r = replies[action] ?? NOT_CONNECTED;
    if (typeof r === 'function') r = r(seen);
    seen[action] = true;
    return r.body ? r : { body: r };
  });
  return { context, page };
}

async function bring(page, theme, { replies = {}, real, query = '', act }) {
  page.state = { replies, real, seen: {} };
  await page.emulateMedia({ contrast: 'no-preference' });
  const base = real ? guarded.console : server.console;
  await page.goto(`${base}${query}${query ? '&' : '?'}theme=${theme}`);
  await drawn(page);
  if (act) await act(page);
  await settle(page);
}

// Violations as "rule: nodes", the figure the report gives per state.
// Only colour contrast depends on the contrast preference, so the second pass
// runs that rule alone.
async function audit(page, onlyContrast) {
  if (!(await page.evaluate(() => typeof window.axe === 'object'))) await page.addScriptTag({ content: axeSource });
  const only = onlyContrast ? { type: 'rule', values: ['color-contrast'] } : { type: 'tag', values: TAGS };
  // Passing checks are not collected: that halves the time of a run.
  const r = await page.evaluate(
    (only) => window.axe.run(document, { runOnly: only, resultTypes: ['violations', 'incomplete'] }),
    only,
  );
  const nodes = (v) => v.nodes.map((n) => `${n.target.join(' ')}${n.any[0]?.data?.contrastRatio ? ' ' + n.any[0].data.contrastRatio : ''}`);
  const found = Object.fromEntries(r.violations.map((v) => [v.id, nodes(v)]));
  // With more contrast, a text whose contrast axe could not judge counts too.
  for (const v of onlyContrast ? r.incomplete : []) found[`${v.id} (not judged)`] = nodes(v);
  return found;
}

const figures = [];
after(() => {
  // One line per state and view: the counts of nodes per rule, default and with more contrast.
  // AXE_DETAIL=1 names the elements (and contrast ratios) too.
  const fmt = (v) =>
    Object.entries(v)
      .map(([k, n]) => `${k} ${n.length}${process.env.AXE_DETAIL === '1' ? ` [${n.join('; ')}]` : ''}`)
      .join(', ') || 'none';
  for (const f of figures) console.log(`# axe ${f.view} ${f.state}: default: ${fmt(f.normal)}; more contrast: ${fmt(f.more)}`);
});

for (const theme of ['light', 'dark']) {
  for (const width of [1280, 390]) {
    describe(`${theme}, ${width} px`, () => {
      let view;
      before(async () => {
        view = await viewPage(theme, width);
      });
      after(() => view.context.close());
      for (const [name, how] of STATES) {
        test(name, async () => {
          const { page } = view;
          await bring(page, theme, how);
          const normal = await audit(page);
          await page.emulateMedia({ contrast: 'more' }); // no colour is eased, so no settling
          const more = await audit(page, true);
          figures.push({ view: `${theme} ${width}`, state: name, normal, more });
          const { 'color-contrast': _, ...others } = normal;
          assert.deepEqual(others, {}, 'violations besides colour contrast');
          assert.deepEqual(more, {}, 'violations with more contrast');
          // The state's blue button is in sight without scrolling.
          const below = await page.evaluate(() => {
            scrollTo(0, 0);
            const b = [...document.querySelectorAll('.btn:not(.ghost)')].find((e) => e.getClientRects().length);
            return b ? b.getBoundingClientRect().bottom - innerHeight : -1;
          });
          assert.ok(below <= 0, `the primary action is ${below} px below the screen`);
        });
      }
    });
  }
}

test('the toast: one line wide on a 320 px screen when the text allows, empty once hidden', async (t) => {
  const context = await browser.newContext({ viewport: { width: 320, height: 640 } });
  context.setDefaultTimeout(5000);
  t.after(() => context.close());
  const page = await context.newPage();
  await page.clock.install();
  await interceptApi(page, () => ({ body: NOT_CONNECTED }));
  await page.goto(server.console);
  await page.clock.runFor(100);
  const box = (text) =>
    page.evaluate((text) => {
      toast(text);
      const r = document.getElementById('toast').getBoundingClientRect();
      return [Math.round(r.left), Math.round(r.right), Math.round(r.height)];
    }, text);
  const [left, right, height] = await box('Pending login cancelled');
  assert.ok(right - left > 160 && height < 40, `one line, wider than half the screen: ${left}..${right}, ${height} high`);
  const [l2, r2] = await box('Start failed: the login CLI did not answer in time; try again in a minute');
  assert.deepEqual([l2, r2], [16, 304], 'a long text takes the width less 16 px each side');
  assert.deepEqual(await page.$eval('#toast', (el) => [el.getAttribute('role'), el.getAttribute('aria-live')]), ['status', 'polite']);
  await page.clock.runFor(2500); // hidden at 2200 ms, emptied 200 ms later
  assert.deepEqual(await page.$eval('#toast', (el) => [el.className, el.textContent]), ['toast', '']);
});

// axe does not judge a placeholder: the contrast of the code box's, with the
// box laid over the card.
function placeholderContrast(el) {
  const rgba = (el, prop, pseudo) => [...getComputedStyle(el, pseudo)[prop].match(/[\d.]+/g).map(Number), 1].slice(0, 4);
  const over = (top, under) => under.map((c, i) => (i < 3 ? top[i] * top[3] + c * (1 - top[3]) : 1));
  const lum = (c) => c.slice(0, 3).reduce((sum, v, i) => sum + [0.2126, 0.7152, 0.0722][i] * ((v /= 255) <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4), 0);
  const box = over(rgba(el, 'backgroundColor'), rgba(el.closest('.card'), 'backgroundColor'));
  const [hi, lo] = [lum(over(rgba(el, 'color', '::placeholder'), box)), lum(box)].sort((a, b) => b - a);
  return (hi + 0.05) / (lo + 0.05);
}

// The focus ring of every tab stop against the colour around it: at least
// 3:1, with the default colours and with more contrast, in both themes; and
// with more contrast the code box's placeholder at 4.5:1.
test('focus rings stand out from what surrounds them, and the placeholder with more contrast', async (t) => {
  const context = await browser.newContext();
  context.setDefaultTimeout(5000);
  t.after(() => context.close());
  const page = await context.newPage();
  // Signed in with a sign-in under way and its link known: every control can be reached.
  await interceptApi(page, () => ({ body: { ...LOGGED_IN, pending: true } }));
  const rings = () =>
    page.evaluate(() => {
      const rgb = (s) => (s.match(/rgba?\(([^)]+)\)/) || [0, '0,0,0,0'])[1].split(',').map(Number);
      const lum = (c) => {
        const [r, g, b] = c.slice(0, 3).map((v) => ((v /= 255) <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4));
        return 0.2126 * r + 0.7152 * g + 0.0722 * b;
      };
      const ratio = (a, b) => (Math.max(lum(a), lum(b)) + 0.05) / (Math.min(lum(a), lum(b)) + 0.05);
      const el = document.activeElement;
      if (el === document.body) return ['', 0]; // Tab went past the last stop
      const cs = getComputedStyle(el);
      const ring = rgb(cs.outlineStyle !== 'none' ? cs.outlineColor : cs.boxShadow);
      let under = el.parentElement;
      while (rgb(getComputedStyle(under).backgroundColor)[3] !== undefined && under !== document.body) under = under.parentElement;
      const bg = rgb(getComputedStyle(under).backgroundColor);
      return [el.id, ring[3] === undefined || ring[3] === 1 ? Math.round(ratio(ring, bg) * 100) / 100 : 0];
    });
  for (const theme of ['light', 'dark']) {
    for (const contrast of ['no-preference', 'more']) {
      await page.emulateMedia({ contrast });
      await page.goto(`${server.console}?theme=${theme}`);
      await page.waitForSelector('#step2.on');
      await page.evaluate(() => ((S.link = 'https://signin.example.test/a'), render()));
      if (contrast === 'more') {
        const ratio = await page.$eval('#codeInput', placeholderContrast);
        t.diagnostic(`${theme}: placeholder ${ratio.toFixed(2)}:1`);
        assert.ok(ratio >= 4.5, `${theme}: placeholder ${ratio}`);
      }
      await page.evaluate(() => document.getElementById('sessionTitle').focus());
      const seen = new Map([await rings()]); // where a sign-in leaves the focus
      for (let i = 0; i < 14; i++) {
        await page.keyboard.press('Tab');
        const [id, r] = await rings();
        if (id) seen.set(id, r);
      }
      t.diagnostic(`${theme}, ${contrast}: lowest ring contrast ${Math.min(...seen.values())}:1 over ${seen.size} stops`);
      const weak = [...seen].filter(([, r]) => r < 3);
      assert.deepEqual(weak, [], `${theme}, ${contrast}: ${[...seen].join(' ')}`);
      assert.ok(seen.size >= 9, `${theme}, ${contrast}: tab stops ${[...seen.keys()]}`);
    }
  }
});
