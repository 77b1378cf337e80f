// The plugin behind each Linux web server, configured with the files under
// deploy/ (scripts/serve.sh fills them in), through real HTTP: the page, the
// three ways of giving the node password, refusals, and whole sign-ins with
// the stand-in CLIs, every action sent as a POST with a body the plugin does
// not need. SERVERS=name,... picks the servers (default: all four).
// SERVER_URL=http://HOST[:PORT] runs the cycle against a node already set up
// instead (tests/deploy/, which follows docs/deploy.md), with the node
// password SERVER_PASSWORD, the stand-in CLIs as its CLIs and the stand-in
// sign-in page at /signin.html.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { startServer } from '../browser/support.mjs';

const EXTERNAL = process.env.SERVER_URL;
const SERVERS = EXTERNAL ? [EXTERNAL] : (process.env.SERVERS || 'lighttpd,apache,apache-cgi,nginx').split(',');
const PASSWORD = EXTERNAL ? process.env.SERVER_PASSWORD : 's3cret';
const ROUTE = '/plugin_quorincode_login';

// The code the stand-in sign-in page shows for a state: "qc_" and the 32-bit
// FNV-1a hash of "quorin-standin:" + state.
function codeFor(state) {
  let h = 0x811c9dc5;
  for (const c of Buffer.from(`quorin-standin:${state}`)) h = Math.imul(h ^ c, 0x01000193) >>> 0;
  return `qc_${h.toString(16).padStart(8, '0')}`;
}

const AUTH = {
  header: (q) => [q, { 'x-bot-password': PASSWORD }],
  bearer: (q) => [q, { authorization: `Bearer ${PASSWORD}` }],
  pwd: (q) => [`${q}&pwd=${PASSWORD}`, {}],
};

// Filler that holds no "code" key: what the plugin must read away unused.
const filler = (n) => 'x'.repeat(n);

describe('behind each web server', () => {
  for (const name of SERVERS) {
    describe(name, () => {
      let server;
      let requests = 0;
      let started;
      before(async () => {
        started = Date.now();
        server = EXTERNAL
          ? { base: new URL(EXTERNAL).origin, stop: async () => {} }
          : await startServer({ password: PASSWORD, server: name });
      });
      after(async () => {
        await server?.stop();
        console.log(`# ${name}: ${requests} requests in ${Date.now() - started} ms (start-up included)`);
      });

      // One request; the answer's status, headers and body as text.
      async function call(query, { method = 'POST', body, headers = {} } = {}) {
        requests++;
        const r = await fetch(`${server.base}${ROUTE}${query}`, { method, body, headers });
        return { status: r.status, headers: r.headers, text: await r.text() };
      }
      // An action with the password given the chosen way and a body with it.
      async function action(query, auth, body = filler(16)) {
        const [q, headers] = AUTH[auth](query);
        const r = await call(q, { body, headers });
        assert.equal(r.headers.get('content-type'), 'application/json; charset=utf-8', r.text);
        assert.ok(r.text.endsWith('}\n'), `${query}: answer cut short: ${r.text}`);
        return { ...r, json: JSON.parse(r.text) };
      }

      test('the page arrives with its headers', async () => {
        const r = await call(`?pwd=${PASSWORD}`, { method: 'GET' });
        assert.equal(r.status, 200);
        assert.equal(r.headers.get('content-type'), 'text/html; charset=utf-8');
        assert.equal(r.headers.get('referrer-policy'), 'no-referrer');
        assert.match(r.headers.get('content-security-policy'), /^default-src 'none'; /);
        assert.match(r.text, /^<!DOCTYPE html>\n/);
        assert.match(r.text, /<\/html>\n$/);
      });

      test('each way of giving the password is taken, with a body or without', async () => {
        for (const auth of Object.keys(AUTH)) {
          for (const body of [undefined, filler(16), filler(100000)]) {
            const [q, headers] = AUTH[auth]('?action=status');
            const r = await call(q, { method: body ? 'POST' : 'GET', body, headers });
            assert.equal(r.status, 200, `${auth}: ${r.text}`);
            const doc = JSON.parse(r.text);
            assert.equal(doc.ok, true);
            assert.equal(doc.cli_present, true, 'the CLIs are found through PATH');
          }
        }
      });

      test('a wrong or missing password answers 401', async () => {
        const cases = [
          {},
          { 'x-bot-password': 'wrong' },
          { authorization: 'Bearer wrong' },
          { authorization: `Basic ${PASSWORD}` },
        ];
        for (const headers of cases) {
          for (const query of ['?action=status', '?action=finish', '']) {
            const r = await call(query, { body: filler(100000), headers });
            assert.equal(r.status, 401, JSON.stringify(headers));
            assert.equal(r.text, '{"ok":false,"error":"invalid node password"}\n');
          }
        }
        const r = await call('?action=status&pwd=wrong', { method: 'GET' });
        assert.equal(r.status, 401);
      });

      test('an unknown action answers 404 and a bad name 400', async () => {
        let r = await action('?action=nope', 'bearer');
        assert.equal(r.status, 404);
        assert.deepEqual(r.json, { ok: false, error: 'unknown_action', detail: 'nope' });
        r = await action('?action=status&name=.hidden', 'header');
        assert.equal(r.status, 400);
        assert.equal(r.json.error, 'bad_name');
      });

      test('a finish body over the limit is answered in full', async () => {
        const body = `{"code":"qc_00000000"}${filler(262145 - 22)}`;
        assert.equal(body.length, 262145);
        for (const auth of Object.keys(AUTH)) {
          const r = await action('?action=finish', auth, body);
          assert.equal(r.status, 400);
          assert.deepEqual(r.json, {
            ok: false,
            error: 'missing_code',
            detail: 'pass the authorization code as &code=...',
          });
        }
      });

      test('sign in, refresh, sign in again through the body, cancel', async () => {
        let r = await action('?action=status', 'pwd', filler(100000));
        assert.equal(r.json.logged_in, false);

        // Start; the link leads to the sign-in page of this server.
        r = await action('?action=start', 'header', filler(100000));
        assert.equal(r.status, 200);
        assert.equal(r.json.ok, true, r.text);
        const link = new URL(r.json.auth_url);
        assert.equal(link.origin + link.pathname, `${server.base}/signin.html`);
        const page = await fetch(link);
        assert.equal(page.status, 200);
        assert.match(await page.text(), /<title>Local stand-in sign-in<\/title>/);

        // Finish with the code in the query, a body beside it.
        r = await action(`?action=finish&code=${codeFor(link.searchParams.get('state'))}`, 'bearer', filler(70000));
        assert.equal(r.status, 200);
        assert.equal(r.json.ok, true, r.text);
        assert.equal(r.json.state, 'done');
        assert.equal(r.json.logged_in, true);
        const expiry = r.json.expires_at;

        await new Promise((ok) => setTimeout(ok, 5)); // the new expiry is a later millisecond
        r = await action('?action=refresh', 'pwd', filler(100000));
        assert.equal(r.json.ok, true, r.text);
        assert.equal(r.json.refreshed, true);
        assert.ok(r.json.expires_at > expiry);

        // A new sign-in over the present one, the code in a JSON body.
        r = await action('?action=start&force=1', 'bearer', filler(16));
        const state = new URL(r.json.auth_url).searchParams.get('state');
        r = await action('?action=finish', 'header', JSON.stringify({ code: codeFor(state) }));
        assert.equal(r.status, 200);
        assert.equal(r.json.ok, true, r.text);
        assert.equal(r.json.logged_in, true);

        // Start once more and cancel.
        r = await action('?action=start', 'pwd', filler(16));
        assert.equal(r.json.ok, true);
        r = await action('?action=status', 'header');
        assert.equal(r.json.pending, true);
        r = await action('?action=cancel', 'bearer', filler(100000));
        assert.equal(r.text, '{"ok":true,"state":"cancelled","pending":false}\n');
        r = await action('?action=accounts', 'pwd', filler(16));
        assert.equal(r.json.pending, false);
        assert.equal(r.json.logged_in, true);
      });
    });
  }
});
