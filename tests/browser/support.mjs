// Shared setup of the browser tests: the same web server setup as the demo
// (scripts/serve.sh: lighttpd, or the server named by SERVER) on a free
// loopback port, Debian's chromium driven by playwright-core, and canned plugin
// replies for tests that intercept the calls.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs/promises';
import net from 'node:net';
import path from 'node:path';
import { after, before } from 'node:test';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const BUILD_DIR = path.resolve(process.env.BUILD_DIR || path.join(ROOT, 'build'));

async function freePort() {
  const srv = net.createServer();
  srv.listen(0, '127.0.0.1');
  await once(srv, 'listening');
  const { port } = srv.address();
  srv.close();
  await once(srv, 'close');
  return port;
}

// Starts scripts/serve.sh on a fresh node folder under the build tree, with
// the server named (lighttpd, apache, apache-cgi, nginx).
export async function startServer({ password = '', server = process.env.SERVER || 'lighttpd' } = {}) {
  const port = await freePort();
  await fs.mkdir(BUILD_DIR, { recursive: true });
  const dir = await fs.mkdtemp(path.join(BUILD_DIR, 'browser-node-'));
  const child = spawn(path.join(ROOT, 'scripts/serve.sh'), [dir, String(port)], {
    stdio: ['ignore', 'pipe', 'pipe'],
    env: { ...process.env, BUILD_DIR, SERVER: server, NODE_PASSWORD: password },
  });
  let log = '';
  child.stdout.on('data', (d) => (log += d));
  child.stderr.on('data', (d) => (log += d));
  const exited = once(child, 'exit');

  const base = `http://127.0.0.1:${port}`;
  const deadline = Date.now() + 15000;
  for (;;) {
    if (child.exitCode !== null) throw new Error(`the server stopped:\n${log}`);
    try {
      // The page and the plugin both answer (nginx's fcgiwrap comes up on its own).
      const plugin = await fetch(`${base}/plugin_quorincode_login?action=status`);
      await plugin.arrayBuffer();
      if ((await fetch(`${base}/signin.html`)).ok && [200, 401].includes(plugin.status)) break;
    } catch {
      // not listening yet
    }
    if (Date.now() > deadline) {
      child.kill('SIGINT');
      throw new Error(`the server did not come up:\n${log}`);
    }
    await new Promise((r) => setTimeout(r, 100));
  }
  return {
    base,
    console: `${base}/plugin_quorincode_login`,
    node: path.join(dir, 'node'),
    log: () => log,
    async stop() {
      if (child.exitCode === null) {
        child.kill('SIGINT');
        await exited;
      }
      await fs.rm(dir, { recursive: true, force: true });
    },
  };
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
}

// A status document as the plugin writes it; fields not given are those of a
// node with nothing on it but the login CLI.
export function statusDoc(fields = {}) {
  return {
    ok: true,
    plugin: 'plugin_quorincode_login',
    version: '1.0.0',
    logged_in: false,
    expires_at: 0,
    expires_at_sec: 0,
    expires_in_sec: 0,
    expired: false,
    has_refresh: false,
    account: '',
    pending: false,
    cli_present: true,
    credentials_path: 'C:\\Users\\bot\\.quorin\\.credentials.json',
    profile: '',
    profile_exists: false,
    named_accounts: false,
    subscription: '',
    scopes: '',
    accounts: [],
    flow: 'paste_code',
    protocol: 'TLLOGIN-MACHINE-V1',
    ...fields,
  };
}

export const LOGGED_IN = statusDoc({
  logged_in: true,
  expires_at: 1767225600000,
  expires_at_sec: 1767225600,
  expires_in_sec: 11532,
  has_refresh: true,
  account: 'dev@example.org',
  subscription: 'team',
  scopes: 'user:inference user:profile',
  profile: 'quorin_code',
  profile_exists: true,
});
export const EXPIRED = statusDoc({ ...LOGGED_IN, expires_in_sec: 0, expired: true });
export const PENDING = statusDoc({ pending: true });
export const NOT_CONNECTED = statusDoc();
export const NO_CLI = statusDoc({ cli_present: false });

// A plugin call the page made: the address (path and query) and its headers.
// Intercepts every plugin call, on the direct route and on the hub's route.
// reply(action, call) gives { status, body } (body: object as JSON, string as
// is), 'abort' for a failed transfer, or 'continue' to let the call through to
// the server; it may return a promise to hold the call.
export async function interceptApi(page, reply) {
  const calls = [];
  await page.route(
    (u) => u.pathname === '/plugins' || (u.pathname === '/plugin_quorincode_login' && u.searchParams.has('action')),
    async (route) => {
      const u = new URL(route.request().url());
      const call = { url: u.pathname + u.search, headers: route.request().headers() };
      calls.push(call);
      const r = await reply(u.searchParams.get('action'), call);
      if (r === 'abort') return route.abort('connectionfailed');
      if (r === 'continue') return route.continue();
      const body = typeof r.body === 'string' ? r.body : JSON.stringify(r.body);
      const type = typeof r.body === 'string' ? 'text/html' : 'application/json; charset=utf-8';
      return route.fulfill({ status: r.status || 200, contentType: type, body });
    },
  );
  return calls;
}

// A web server and a browser for the tests of one file, started before them
// and stopped after them; their fields are set once started.
export function serverAndBrowser() {
  const env = {};
  before(async () => {
    [env.server, env.browser] = await Promise.all([startServer(), launchBrowser()]);
  });
  after(async () => {
    await env.browser?.close();
    await env.server?.stop();
  });
  return env;
}

// Opens the console in a context of its own (local time UTC), waits for its
// first drawing or toast, and gives the page and its plugin calls. replies:
// per action, a reply as interceptApi takes it, or a function of the call
// giving one; status calls answer NOT_CONNECTED unless told otherwise.
// storage is set before the load; clock (ms) installs the page's clock,
// paused at that moment.
export async function openConsole(t, { browser, server }, { query = '', replies = {}, storage, permissions, clock } = {}) {
  const context = await browser.newContext({ permissions, timezoneId: 'UTC' });
  context.setDefaultTimeout(5000);
  t.after(() => context.close());
  const page = await context.newPage();
  if (clock !== undefined) {
    await page.clock.install({ time: clock - 1000 });
    await page.clock.pauseAt(clock);
  }
  if (storage) {
    await page.goto(`${server.base}/signin.html`);
    await page.evaluate((s) => Object.entries(s).forEach(([k, v]) => localStorage.setItem(k, v)), storage);
  }
  const calls = await interceptApi(page, (action, call) => {
    const r = replies[action] ?? { body: NOT_CONNECTED };
    return typeof r === 'function' ? r(call) : r;
  });
  await page.goto(server.console + query);
  await page.waitForFunction(() => document.getElementById('pillText').textContent !== 'Checking' || document.querySelector('#toast.show'));
  return { page, calls };
}

// A promise with its resolve function, to hold a call until the test lets it go.
export function held() {
  let release;
  const promise = new Promise((r) => (release = r));
  return { promise, release };
}

// What a person sees of the page's main parts.
export function snapshot(page) {
  return page.evaluate(() => {
    const $ = (id) => document.getElementById(id);
    const shown = (id) => getComputedStyle($(id)).display !== 'none';
    return {
      pill: $('pill').className,
      pillText: $('pillText').textContent,
      sub: $('sub').textContent,
      lead: $('sessionLead').textContent,
      count: $('count').innerHTML,
      bar: $('bar').className,
      fill: $('fill').style.width,
      grid: [...$('session').children].reduce((rows, el, i, all) => {
        if (i % 2 === 0) rows.push([el.textContent, all[i + 1].textContent, all[i + 1].className]);
        return rows;
      }, []),
      accounts: [...$('accounts').children].map((row) =>
        row.className === 'acct'
          ? [row.children[0].textContent, row.children[1].className, row.children[1].textContent]
          : [row.className, row.textContent],
      ),
      step1: shown('step1'),
      step2: shown('step2'),
    };
  });
}

// Waits for the toast to show this text; fails naming what it showed instead.
export async function expectToast(page, text) {
  try {
    await page.waitForFunction((want) => {
      const t = document.getElementById('toast');
      return t.classList.contains('show') && t.textContent === want;
    }, text);
  } catch (e) {
    const [cls, shown] = await page.$eval('#toast', (t) => [t.className, t.textContent]);
    throw new Error(`toast "${text}" did not show; the toast is "${shown}" (class "${cls}")`);
  }
}

// Waits until check() holds (for state kept on the test's side).
export async function until(check, ms = 5000) {
  const deadline = Date.now() + ms;
  while (!check()) {
    if (Date.now() > deadline) throw new Error('timed out waiting');
    await new Promise((r) => setTimeout(r, 20));
  }
}
