// deploy/fill-config, the one command that fills the configurations for
// operators, serve.sh and the tests: what it writes, and what it refuses
// without touching the output.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const FILL = path.join(ROOT, 'deploy/fill-config');
const ROUTE = path.join(ROOT, 'deploy/lighttpd/quorin-login.conf');

function fill(args, previous) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'fill-config-'));
  const out = path.join(dir, 'out.conf');
  if (previous !== undefined) fs.writeFileSync(out, previous);
  const r = spawnSync(FILL, [ROUTE, out, ...args], { encoding: 'utf8' });
  const written = fs.existsSync(out) ? fs.readFileSync(out, 'utf8') : undefined;
  const mode = written === undefined ? 0 : fs.statSync(out).mode & 0o777;
  const left = fs.readdirSync(dir);
  fs.rmSync(dir, { recursive: true });
  return { status: r.status, stderr: r.stderr, written, mode, left };
}

test('fills every placeholder, Debian values unless named, values as given', () => {
  const cases = [
    { args: ['BOT_PASSWORD=a&b'], has: ['"BOT_PASSWORD" => "a&b"'] }, // "&" is no pattern
    {
      args: ['BOT_PASSWORD='],
      has: [
        '"BOT_PASSWORD" => ""',
        '=> "/usr/lib/cgi-bin/plugin_quorincode_login"',
        '"QUORIN_CREDS_PATH" => "/var/lib/quorin/.credentials.json"',
        '"PATH" => "/usr/local/bin:/usr/bin:/bin"',
      ],
    },
    {
      args: ['BOT_PASSWORD=x', 'QUORIN_DIR=/srv/q', 'LOGIN_BIN=/opt/l'],
      has: ['"/srv/q/.credentials.json"', '"QUORIN_LOGIN_BIN" => "/opt/l"'],
    },
  ];
  for (const c of cases) {
    const r = fill(c.args);
    assert.equal(r.status, 0, r.stderr);
    assert.equal(r.mode, 0o600, 'it holds the node password');
    assert.doesNotMatch(r.written, /@[A-Z_]+@/);
    for (const h of c.has) assert.ok(r.written.includes(h), `${h}\n${r.written}`);
  }
});

test('refuses, and leaves the output as it was', () => {
  const cases = [
    { args: [], status: 1, says: '@BOT_PASSWORD@ has no value' },
    { args: ['BOT_PASWORD=x'], status: 2, says: 'no placeholder @BOT_PASWORD@' },
    { args: ['BOT_PASSWORD'], status: 2, says: 'usage' },
    { args: ['BOT_PASSWORD=a"b'], status: 2, says: 'may not hold' },
    { args: ['BOT_PASSWORD=a\\b'], status: 2, says: 'may not hold' },
    { args: ['BOT_PASSWORD=a$b'], status: 2, says: 'may not hold' },
    { args: ['BOT_PASSWORD=a\nb'], status: 2, says: 'may not hold' },
  ];
  for (const c of cases) {
    const r = fill(c.args, 'before\n');
    assert.equal(r.status, c.status, `${c.args}: ${r.stderr}`);
    assert.match(r.stderr, new RegExp(c.says.replace(/[$@]/g, '\\$&')));
    assert.equal(r.written, 'before\n');
    assert.deepEqual(r.left, ['out.conf'], 'no temporary file stays');
  }
});
