// Theming and layout: the theme from the address, from storage, from the
// system, from the toggle and from the hosting page; embed mode; the shared
// tokens in both themes; the narrow-screen layout.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { NOT_CONNECTED, interceptApi, serverAndBrowser, statusDoc } from './support.mjs';

const env = serverAndBrowser();

async function newPage(t, { viewport, initScript } = {}) {
  const context = await env.browser.newContext({ viewport });
  context.setDefaultTimeout(5000);
  t.after(() => context.close());
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e.message));
  if (initScript) await page.addInitScript(initScript);
  await interceptApi(page, () => ({ body: statusDoc({ logged_in: true, expires_in_sec: 3000 }) }));
  return page;
}

// Loads the console with the given address query, stored theme and system preference.
async function load(page, query = '', { stored, system = 'dark' } = {}) {
  await page.goto(`${env.server.base}/signin.html`);
  await page.evaluate((v) => (v === undefined ? localStorage.clear() : localStorage.setItem('bot_theme', v)), stored);
  await page.emulateMedia({ colorScheme: system });
  await page.goto(env.server.console + query);
  await page.waitForFunction(() => document.getElementById('pillText').textContent !== 'Checking');
}

const theme = (page) =>
  page.evaluate(() => [document.documentElement.getAttribute('data-theme'), localStorage.getItem('bot_theme')]);

test('the theme chosen at load; the load stores none', async (t) => {
  const page = await newPage(t);
  const cases = [
    // address, stored, system → theme
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
  for (const [query, stored, system, want] of cases) {
    await load(page, query, { stored, system });
    assert.deepEqual(await theme(page), [want, stored ?? null], `${query} ${stored} ${system}`);
  }
});

test('a light system without matchMedia, or with one that throws, gives dark', async (t) => {
  for (const initScript of [
    () => Object.defineProperty(window, 'matchMedia', { value: undefined }),
    () => (window.matchMedia = () => { throw new Error('no'); }),
  ]) {
    const page = await newPage(t, { initScript });
    await load(page, '', { system: 'light' });
    assert.deepEqual(await theme(page), ['dark', null]);
    assert.deepEqual(page.errors, []);
  }
});

test('design tokens: the dark set, the light set, and the system preference', async (t) => {
  const tokens = [
    // token | dark | light
    '--bg|#000000|#f5f5f7', '--bg-2|#08080a|#ffffff', '--bg-card|#1c1c1e|#ffffff',
    '--surface-2|rgba(255,255,255,.06)|rgba(0,0,0,.04)', '--surface-hover|rgba(255,255,255,.05)|#ffffff',
    '--line|rgba(255,255,255,.08)|rgba(0,0,0,.06)', '--line-2|rgba(255,255,255,.16)|rgba(0,0,0,.12)',
    '--text|#f5f5f7|#1d1d1f', '--text-2|#86868b|#6e6e73', '--blue|#0a84ff|#007aff', '--green|#30d158|#34c759',
    '--orange|#ff9f0a|#ff9500', '--red|#ff453a|#ff3b30', '--gray|#8e8e93|#8e8e93', '--indigo|#5e5ce6|#5856d6',
    '--teal|#64d2ff|#32ade6', '--purple|#bf5af2|#af52de', '--yellow|#ffd60a|#b8860b',
    '--input-bg|rgba(255,255,255,.04)|#f5f5f7', '--modal-bg|#1c1c1e|#ffffff', '--code-bg|rgba(255,255,255,.06)|rgba(0,0,0,.05)',
    '--shadow|0 1px 2px rgba(0,0,0,.35)|0 2px 10px rgba(0,0,0,.03)',
    '--shadow-lg|0 30px 80px rgba(0,0,0,.65),0 0 0 1px rgba(255,255,255,.04)|0 30px 80px rgba(0,0,0,.18),0 0 0 1px rgba(0,0,0,.04)',
    '--accent-dim|#0071e3|#0066d6', '--ease|cubic-bezier(.16,1,.3,1)|cubic-bezier(.16,1,.3,1)',
    '--accent|#0a84ff|#007aff', '--muted|#86868b|#6e6e73', '--danger|#ff453a|#ff3b30', '--ok|#30d158|#34c759',
    '--warn|#ff9f0a|#ff9500', '--surface|#1c1c1e|#ffffff',
  ].map((row) => row.split('|'));
  const page = await newPage(t);
  const read = () =>
    page.evaluate((names) => {
      const cs = getComputedStyle(document.documentElement);
      return [cs.colorScheme, ...names.map((n) => cs.getPropertyValue(n).trim())];
    }, tokens.map((x) => x[0]));
  const dark = ['dark', ...tokens.map((x) => x[1])];
  const light = ['light', ...tokens.map((x) => x[2])];

  await load(page, '?theme=dark', { system: 'light' });
  assert.deepEqual(await read(), dark, 'data-theme dark wins over a light system');
  await page.evaluate(() => tlApplyTheme('light'));
  assert.deepEqual(await read(), light);
  await page.evaluate(() => document.documentElement.removeAttribute('data-theme'));
  assert.deepEqual(await read(), light, 'no data-theme follows a light system');
  await page.emulateMedia({ colorScheme: 'dark' });
  assert.deepEqual(await read(), dark, 'no data-theme follows a dark system');
});

test('the page is drawn with the tokens', async (t) => {
  const page = await newPage(t);
  await load(page, '?theme=light');
  const colors = () =>
    page.evaluate(() =>
      [['body', 'backgroundColor'], ['.card', 'backgroundColor'], ['#pill', 'color'], ['body', 'color'], ['.fill', 'backgroundColor']].map(
        ([sel, prop]) => getComputedStyle(document.querySelector(sel))[prop],
      ),
    );
  assert.deepEqual(await colors(), ['rgb(245, 245, 247)', 'rgb(255, 255, 255)', 'rgb(52, 199, 89)', 'rgb(29, 29, 31)', 'rgb(255, 149, 0)']);
  await page.click('#themeToggle');
  assert.deepEqual(await colors(), ['rgb(0, 0, 0)', 'rgb(28, 28, 30)', 'rgb(48, 209, 88)', 'rgb(245, 245, 247)', 'rgb(255, 159, 10)']);
});

test('embed mode hides the toggle and nothing else', async (t) => {
  const page = await newPage(t);
  const cases = [
    ['?embed=1', true], ['?embed=true', true], ['?x=1&embed=1&y=2', true], ['?embed=yes', false],
    ['?embed=0', false], ['?embed=10', false], ['?embed=TRUE', false], ['', false],
  ];
  for (const [query, embedded] of cases) {
    await load(page, query);
    const got = await page.evaluate(() =>
      [document.documentElement.className === 'embedded', ...['#themeToggle', '#app', '.hd', '#pill'].map((s) => getComputedStyle(document.querySelector(s)).display)],
    );
    assert.deepEqual(got, [embedded, embedded ? 'none' : 'block', 'block', 'flex', 'flex'], query);
  }
});

test('the system\'s theme is followed until one is picked; the toggle goes round to the system again', async (t) => {
  const page = await newPage(t);
  await load(page, '', { system: 'dark' });
  const seen = () =>
    page.evaluate(() => [document.documentElement.getAttribute('data-theme'), localStorage.getItem('bot_theme'), document.getElementById('themeToggle').getAttribute('aria-label')]);
  assert.deepEqual(await seen(), ['dark', null, 'Theme: system']);
  const steps = [
    // the system's theme, or a click → theme, stored, toggle
    ['click', 'light', 'light', 'Theme: light'], // the other one
    ['click', 'dark', 'dark', 'Theme: dark'], // the system's, kept
    ['light', 'dark', 'dark', 'Theme: dark'], // so the system no longer moves it
    ['click', 'light', 'light', 'Theme: light'], // the system's now, kept
    ['click', 'light', null, 'Theme: system'], // following the system again
    ['dark', 'dark', null, 'Theme: system'],
  ];
  for (const [what, ...want] of steps) {
    if (what === 'click') await page.click('#themeToggle');
    else {
      // The page hears of the change before this later listener does.
      await page.evaluate(() => {
        window.mq = matchMedia('(prefers-color-scheme: light)'); // held, or it may be collected before it hears
        window.told = new Promise((r) => window.mq.addEventListener('change', r));
      });
      await page.emulateMedia({ colorScheme: what });
      await page.evaluate(() => window.told);
    }
    assert.deepEqual(await seen(), want, what);
  }
});

test('tlApplyTheme and "tl-theme" messages change, store and announce the theme', async (t) => {
  const page = await newPage(t);
  await load(page, '?theme=dark');
  await page.evaluate(() => {
    window.seen = [];
    addEventListener('bot-theme', (e) => window.seen.push(e.detail));
  });
  const post = (msg) => page.evaluate((m) => (postMessage(m, '*'), new Promise((r) => setTimeout(r, 50))), msg);
  await post({ type: 'tl-theme', theme: 'dark' }); // the theme shown: a choice all the same
  assert.deepEqual(await theme(page), ['dark', 'dark']);
  await post({ type: 'tl-theme', theme: 'light' });
  await post({ type: 'tl-theme', theme: 'light' }); // already applied: no event
  await post({ type: 'tl-theme', theme: 'blue' });
  await post({ type: 'other', theme: 'dark' });
  await post(null);
  await page.evaluate(() => tlApplyTheme('Dark'));
  assert.deepEqual(await page.evaluate(() => [window.seen, tlTheme()]), [['light'], 'light']);
  assert.deepEqual(await theme(page), ['light', 'light']);
  await page.evaluate(() => tlApplyTheme('dark'));
  assert.deepEqual(await theme(page), ['dark', 'dark']);
  // A root without data-theme counts as dark.
  await page.evaluate(() => document.documentElement.removeAttribute('data-theme'));
  assert.equal(await page.evaluate(() => tlTheme()), 'dark');
});

test('in a frame the page asks its host for the theme; at the top level it asks nobody', async (t) => {
  const page = await newPage(t, {
    initScript: () => {
      window.heard = [];
      addEventListener('message', (e) => window.heard.push(e.data));
    },
  });
  // A hosting page of the platform, on another path of the same server.
  await page.route(`${env.server.base}/host.html`, (route) =>
    route.fulfill({
      contentType: 'text/html',
      body: `<!DOCTYPE html><script>
        addEventListener('message', (e) => {
          if (e.data && e.data.type === 'tl-theme-request') e.source.postMessage({ type: 'tl-theme', theme: 'light' }, '*');
        });
      </script><iframe id="f" src="/plugin_quorincode_login?embed=1&theme=dark"></iframe>`,
    }),
  );
  await page.goto(`${env.server.base}/host.html`);
  const frame = page.frameLocator('#f');
  await frame.locator('html[data-theme=light]').waitFor({ state: 'attached' });
  assert.deepEqual(await page.evaluate(() => window.heard), [{ type: 'tl-theme-request' }]);
  assert.equal(await frame.locator('#themeToggle').isVisible(), false);

  await load(page);
  await page.waitForTimeout(100);
  assert.deepEqual(await page.evaluate(() => window.heard), []);
});

test('with storage refused the page still themes, toggles and loads', async (t) => {
  const page = await newPage(t, {
    initScript: () =>
      Object.defineProperty(window, 'localStorage', {
        get() {
          throw new DOMException('storage is off', 'SecurityError');
        },
      }),
  });
  await page.emulateMedia({ colorScheme: 'light' });
  await page.goto(env.server.console);
  assert.equal(await page.getAttribute('html', 'data-theme'), 'light');
  await page.click('#themeToggle');
  assert.equal(await page.getAttribute('html', 'data-theme'), 'dark');
  await page.waitForFunction(() => document.getElementById('pillText').textContent === 'Logged In');
  assert.deepEqual(page.errors, []);
});

test('layout: the grid\'s labels beside their values down to a phone at 200% zoom, then above them; the pill clear of the heading', async (t) => {
  const measure = (page) =>
    page.evaluate(() => {
      const cs = (sel) => getComputedStyle(document.querySelector(sel));
      const [k, v] = document.getElementById('session').children;
      const heading = document.createRange();
      heading.selectNodeContents(document.querySelector('.hd h1'));
      const [h, p] = [heading.getBoundingClientRect(), document.getElementById('pill').getBoundingClientRect()];
      return [
        h.right <= p.left || h.bottom <= p.top,
        cs('#session').gridTemplateColumns.split(' ').length,
        k.getBoundingClientRect().bottom <= v.getBoundingClientRect().top,
        cs('.card').paddingTop,
        cs('.card').borderTopLeftRadius,
        cs('#count').fontSize,
        cs('#app').padding,
        document.documentElement.scrollWidth <= innerWidth,
      ];
    });
  const wide = await newPage(t, { viewport: { width: 900, height: 800 } });
  await load(wide);
  assert.deepEqual(await measure(wide), [true, 2, false, '16px', '14px', '34px', '16px 16px 40px', true]);
  assert.equal(await wide.$eval('#app', (a) => a.getBoundingClientRect().width), 840);
  const narrow = await newPage(t, { viewport: { width: 400, height: 800 } });
  await load(narrow);
  assert.deepEqual(await measure(narrow), [true, 2, false, '13px', '12px', '28px', '12px 12px 32px', true]);
  for (const width of [260, 195]) {
    const zoomed = await newPage(t, { viewport: { width, height: 422 } });
    await load(zoomed);
    assert.deepEqual(await measure(zoomed), [true, 1, true, '13px', '12px', '28px', '12px 12px 32px', true], `${width} px`);
  }
});
