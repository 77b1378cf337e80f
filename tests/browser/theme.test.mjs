// Theming and layout: the theme from the address, from storage, from the
// system, from the toggle and from the hosting page; embed mode; the shared
// tokens in both themes; the narrow-screen layout.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { NOT_CONNECTED, interceptApi, launchBrowser, startServer, statusDoc } from './support.mjs';

let server, browser;
before(async () => {
  server = await startServer();
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await server?.stop();
});

async function open(t, { query = '', stored, colorScheme = 'dark', viewport, initScript, status = NOT_CONNECTED } = {}) {
  const context = await browser.newContext({ colorScheme, viewport });
  context.setDefaultTimeout(5000);
  t.after(() => context.close());
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  if (stored !== undefined) {
    await page.goto(`${server.base}/signin.html`);
    await page.evaluate((v) => localStorage.setItem('bot_theme', v), stored);
  }
  if (initScript) await page.addInitScript(initScript);
  await interceptApi(page, () => ({ body: status }));
  await page.goto(server.console + query);
  await page.waitForFunction(() => document.getElementById('pillText').textContent !== 'Checking');
  return { page, context, errors };
}

const theme = (page) =>
  page.evaluate(() => [document.documentElement.getAttribute('data-theme'), localStorage.getItem('bot_theme')]);

describe('the theme chosen at load', () => {
  const cases = [
    // address, stored, system preference → theme (also stored afterwards)
    ['?theme=dark', 'light', 'light', 'dark'],
    ['?theme=light', 'dark', 'dark', 'light'],
    ['?theme=darker', undefined, 'light', 'dark'],
    ['?x=1&theme=light&theme=dark', undefined, 'dark', 'light'],
    ['?theme=Dark', 'light', 'dark', 'light'],
    ['?theme=Dark', undefined, 'light', 'light'],
    ['?theme=blue', 'dark', 'light', 'dark'],
    ['', 'bogus', 'light', 'light'],
    ['', 'bogus', 'dark', 'dark'],
  ];
  for (const [query, stored, colorScheme, want] of cases) {
    test(`address "${query}", stored ${stored}, system ${colorScheme}: ${want}`, async (t) => {
      const { page } = await open(t, { query, stored, colorScheme });
      assert.deepEqual(await theme(page), [want, want]);
    });
  }

  const broken = [
    ['without matchMedia', () => Object.defineProperty(window, 'matchMedia', { value: undefined })],
    ['when matchMedia throws', () => (window.matchMedia = () => { throw new Error('no'); })],
  ];
  for (const [name, initScript] of broken) {
    test(`a light system ${name}: dark`, async (t) => {
      const { page, errors } = await open(t, { colorScheme: 'light', initScript });
      assert.deepEqual(await theme(page), ['dark', 'dark']);
      assert.deepEqual(errors, []);
    });
  }
});

describe('design tokens', () => {
  const tokens = [
    ['--bg', '#000000', '#f5f5f7'],
    ['--bg-card', '#1c1c1e', '#ffffff'],
    ['--surface-2', 'rgba(255,255,255,.06)', 'rgba(0,0,0,.04)'],
    ['--line', 'rgba(255,255,255,.08)', 'rgba(0,0,0,.06)'],
    ['--text', '#f5f5f7', '#1d1d1f'],
    ['--text-2', '#86868b', '#6e6e73'],
    ['--blue', '#0a84ff', '#007aff'],
    ['--green', '#30d158', '#34c759'],
    ['--orange', '#ff9f0a', '#ff9500'],
    ['--red', '#ff453a', '#ff3b30'],
    ['--gray', '#8e8e93', '#8e8e93'],
    ['--indigo', '#5e5ce6', '#5856d6'],
    ['--yellow', '#ffd60a', '#b8860b'],
    ['--input-bg', 'rgba(255,255,255,.04)', '#f5f5f7'],
    ['--modal-bg', '#1c1c1e', '#ffffff'],
    ['--code-bg', 'rgba(255,255,255,.06)', 'rgba(0,0,0,.05)'],
    ['--shadow-lg', '0 30px 80px rgba(0,0,0,.65),0 0 0 1px rgba(255,255,255,.04)', '0 30px 80px rgba(0,0,0,.18),0 0 0 1px rgba(0,0,0,.04)'],
    ['--accent-dim', '#0071e3', '#0066d6'],
    ['--ease', 'cubic-bezier(.16,1,.3,1)', 'cubic-bezier(.16,1,.3,1)'],
    ['--accent', '#0a84ff', '#007aff'],
    ['--muted', '#86868b', '#6e6e73'],
    ['--danger', '#ff453a', '#ff3b30'],
    ['--ok', '#30d158', '#34c759'],
    ['--surface', '#1c1c1e', '#ffffff'],
  ];
  const read = (page) =>
    page.evaluate((names) => {
      const cs = getComputedStyle(document.documentElement);
      return [cs.colorScheme, ...names.map((n) => cs.getPropertyValue(n).trim())];
    }, tokens.map((x) => x[0]));

  test('the dark set, the light set, and the system preference without data-theme', async (t) => {
    const { page } = await open(t, { query: '?theme=dark', colorScheme: 'light' });
    const dark = ['dark', ...tokens.map((x) => x[1])];
    const light = ['light', ...tokens.map((x) => x[2])];
    assert.deepEqual(await read(page), dark, 'data-theme dark wins over a light system');
    await page.evaluate(() => tlApplyTheme('light'));
    assert.deepEqual(await read(page), light);
    await page.evaluate(() => document.documentElement.removeAttribute('data-theme'));
    assert.deepEqual(await read(page), light, 'no data-theme follows a light system');
    await page.emulateMedia({ colorScheme: 'dark' });
    assert.deepEqual(await read(page), dark, 'no data-theme follows a dark system');
  });

  test('the page uses the tokens', async (t) => {
    const { page } = await open(t, { query: '?theme=light' });
    const colors = () =>
      page.evaluate(() => {
        const c = (sel, prop) => getComputedStyle(document.querySelector(sel))[prop];
        return [c('body', 'backgroundColor'), c('.card', 'backgroundColor'), c('#btnStart', 'backgroundColor'), c('body', 'color')];
      });
    assert.deepEqual(await colors(), ['rgb(245, 245, 247)', 'rgb(255, 255, 255)', 'rgb(0, 122, 255)', 'rgb(29, 29, 31)']);
    await page.click('#themeToggle');
    assert.deepEqual(await colors(), ['rgb(0, 0, 0)', 'rgb(28, 28, 30)', 'rgb(10, 132, 255)', 'rgb(245, 245, 247)']);
  });
});

describe('embed mode', () => {
  const cases = [
    ['?embed=1', true],
    ['?embed=true', true],
    ['?x=1&embed=1&y=2', true],
    ['?embed=yes', false],
    ['?embed=0', false],
    ['?embed=10', false],
    ['?embed=TRUE', false],
    ['', false],
  ];
  for (const [query, embedded] of cases) {
    test(`"${query}": ${embedded ? 'embedded, no toggle' : 'not embedded'}`, async (t) => {
      const { page } = await open(t, { query });
      const got = await page.evaluate(() => [
        document.documentElement.classList.contains('embedded'),
        getComputedStyle(document.getElementById('themeToggle')).display !== 'none',
        getComputedStyle(document.getElementById('app')).display,
      ]);
      assert.deepEqual(got, [embedded, !embedded, 'block']);
    });
  }
});

describe('changing the theme', () => {
  // Records the "bot-theme" events the page fires.
  const listen = (page) => page.evaluate(() => {
    window.seen = [];
    addEventListener('bot-theme', (e) => window.seen.push(e.detail));
  });

  test('the toggle switches, stores and announces the theme', async (t) => {
    const { page } = await open(t, { query: '?theme=dark' });
    await listen(page);
    assert.equal(await page.textContent('#themeToggle'), 'Theme');
    await page.click('#themeToggle');
    assert.deepEqual(await theme(page), ['light', 'light']);
    await page.click('#themeToggle');
    assert.deepEqual(await theme(page), ['dark', 'dark']);
    assert.deepEqual(await page.evaluate(() => [window.seen, tlTheme()]), [['light', 'dark'], 'dark']);
  });

  test('the toggle on a root without data-theme applies light', async (t) => {
    const { page } = await open(t, { query: '?theme=light' });
    await page.evaluate(() => document.documentElement.removeAttribute('data-theme'));
    assert.equal(await page.evaluate(() => tlTheme()), 'dark');
    await page.click('#themeToggle');
    assert.deepEqual(await theme(page), ['light', 'light']);
  });

  test('"tl-theme" messages: applied once, invalid values ignored', async (t) => {
    const { page } = await open(t, { query: '?theme=dark' });
    await listen(page);
    const post = (msg) =>
      page.evaluate(async (m) => {
        postMessage(m, '*');
        await new Promise((r) => setTimeout(r, 50));
        return document.documentElement.getAttribute('data-theme');
      }, msg);
    assert.equal(await post({ type: 'tl-theme', theme: 'light' }), 'light');
    assert.equal(await post({ type: 'tl-theme', theme: 'light' }), 'light');
    assert.equal(await post({ type: 'tl-theme', theme: 'blue' }), 'light');
    assert.equal(await post({ type: 'other', theme: 'dark' }), 'light');
    assert.equal(await post(null), 'light');
    await page.evaluate(() => tlApplyTheme('Dark'));
    assert.deepEqual(await page.evaluate(() => window.seen), ['light']);
    assert.deepEqual(await theme(page), ['light', 'light']);
  });

  test('in a frame the page asks its host for the theme and takes the answer', async (t) => {
    const context = await browser.newContext({ colorScheme: 'dark' });
    context.setDefaultTimeout(5000);
    t.after(() => context.close());
    const page = await context.newPage();
    await interceptApi(page, () => ({ body: NOT_CONNECTED }));
    // A hosting page of the platform, on another path of the same server.
    await page.route(`${server.base}/host.html`, (route) =>
      route.fulfill({
        contentType: 'text/html',
        body: `<!DOCTYPE html><script>
          window.asked = [];
          addEventListener('message', (e) => {
            if (e.data && e.data.type === 'tl-theme-request') {
              asked.push(e.data);
              e.source.postMessage({ type: 'tl-theme', theme: 'light' }, '*');
            }
          });
        </script><iframe id="f" src="/plugin_quorincode_login?embed=1&theme=dark" width="600" height="400"></iframe>`,
      }),
    );
    await page.goto(`${server.base}/host.html`);
    const frame = page.frameLocator('#f');
    await frame.locator('html[data-theme=light]').waitFor({ state: 'attached' });
    assert.deepEqual(await page.evaluate(() => window.asked), [{ type: 'tl-theme-request' }]);
    assert.equal(await frame.locator('#themeToggle').isVisible(), false);
  });

  test('at the top level the page asks nobody', async (t) => {
    const { page } = await open(t, {
      initScript: () => {
        window.heard = [];
        addEventListener('message', (e) => window.heard.push(e.data));
      },
    });
    await page.waitForTimeout(100);
    assert.deepEqual(await page.evaluate(() => window.heard), []);
  });

  test('with storage refused the page still themes, toggles and loads', async (t) => {
    const { page, errors } = await open(t, {
      query: '?theme=light',
      initScript: () => {
        Object.defineProperty(window, 'localStorage', {
          get() {
            throw new DOMException('storage is off', 'SecurityError');
          },
        });
      },
    });
    assert.equal(await page.getAttribute('html', 'data-theme'), 'light');
    await page.click('#themeToggle');
    assert.equal(await page.getAttribute('html', 'data-theme'), 'dark');
    assert.equal(await page.textContent('#pillText'), 'Not Connected');
    assert.deepEqual(errors, []);
  });
});

describe('layout', () => {
  const measure = (page) =>
    page.evaluate(() => {
      const cs = (sel) => getComputedStyle(document.querySelector(sel));
      const grid = document.getElementById('session');
      const [k, v] = grid.children;
      return {
        columns: cs('#session').gridTemplateColumns.split(' ').length,
        labelAboveValue: k.getBoundingClientRect().bottom <= v.getBoundingClientRect().top,
        cardPadding: cs('.card').paddingTop,
        cardRadius: cs('.card').borderTopLeftRadius,
        count: cs('#count').fontSize,
        app: [cs('#app').paddingTop, cs('#app').paddingLeft, cs('#app').paddingBottom],
      };
    });

  test('wide screens: two-column grid', async (t) => {
    const { page } = await open(t, { viewport: { width: 900, height: 800 }, status: statusDoc({ logged_in: true, expires_in_sec: 3000 }) });
    assert.deepEqual(await measure(page), {
      columns: 2,
      labelAboveValue: false,
      cardPadding: '16px',
      cardRadius: '14px',
      count: '34px',
      app: ['16px', '16px', '40px'],
    });
    assert.equal(await page.$eval('#app', (a) => a.getBoundingClientRect().width), 840);
  });

  test('narrow screens: one column, tighter cards, smaller figure', async (t) => {
    const { page } = await open(t, { viewport: { width: 400, height: 800 }, status: statusDoc({ logged_in: true, expires_in_sec: 3000 }) });
    assert.deepEqual(await measure(page), {
      columns: 1,
      labelAboveValue: true,
      cardPadding: '13px',
      cardRadius: '12px',
      count: '28px',
      app: ['12px', '12px', '32px'],
    });
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 400), 'no sideways scrolling');
  });
});
