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

// A secret comes from a file: one with a line end, one empty, one too long.
const SECRETS = fs.mkdtempSync(path.join(os.tmpdir(), 'fill-config-secrets-'));
fs.writeFileSync(path.join(SECRETS, 'pw'), 'from-file\n');
fs.writeFileSync(path.join(SECRETS, 'empty'), '');
fs.writeFileSync(path.join(SECRETS, 'big'), 'x'.repeat(4097));
process.on('exit', () => fs.rmSync(SECRETS, { recursive: true }));

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
    // arguments → what the output holds
    [['BOT_PASSWORD=a&b'], '"BOT_PASSWORD" => "a&b"'], // "&" is no pattern
    [['BOT_PASSWORD=ab@PATH@cd'], '"BOT_PASSWORD" => "ab@PATH@cd"'], // nor is a value
    [[`BOT_PASSWORD_FILE=${SECRETS}/pw`], '"BOT_PASSWORD" => "from-file",'],
    [['BOT_PASSWORD='], '"BOT_PASSWORD" => ""', '=> "/usr/lib/plugin-quorincode-login/plugin_quorincode_login"',
      '"QUORIN_CREDS_PATH" => "/var/lib/quorin/.credentials.json"', '"PATH" => "/usr/local/bin:/usr/bin:/bin"'],
    [['BOT_PASSWORD=x', 'QUORIN_DIR=/srv/q', 'LOGIN_BIN=/opt/l'], '"/srv/q/.credentials.json"', '"QUORIN_LOGIN_BIN" => "/opt/l"'],
  ];
  for (const [args, ...has] of cases) {
    const r = fill(args);
    assert.equal(r.status, 0, r.stderr);
    assert.equal(r.mode, 0o600, 'it holds the node password');
    const values = args.map((a) => a.slice(a.indexOf('=') + 1));
    assert.doesNotMatch(values.reduce((t, v) => t.replaceAll(v, ''), r.written), /@[A-Z_]+@/);
    for (const h of has) assert.ok(r.written.includes(h), `${h}\n${r.written}`);
  }
});

test('refuses, and leaves the output as it was', () => {
  const cases = [
    // arguments, exit status, what it says
    [[], 1, '@BOT_PASSWORD@ has no value'],
    [['BOT_PASWORD=x'], 2, 'no placeholder @BOT_PASWORD@'],
    [['BOT_PASSWORD'], 2, 'usage'],
    [[`BOT_PASSWORD_FILE=${SECRETS}/none`], 2, 'cannot read the file of BOT_PASSWORD'],
    [[`BOT_PASSWORD_FILE=${SECRETS}/empty`], 2, 'the file of BOT_PASSWORD is empty'],
    [[`BOT_PASSWORD_FILE=${SECRETS}/big`], 2, 'more than 4096 bytes'],
    ...['"', '\\', '$', '\n'].map((c) => [[`BOT_PASSWORD=a${c}b`], 2, 'may not hold']),
  ];
  for (const [args, status, says] of cases) {
    const r = fill(args, 'before\n');
    assert.equal(r.status, status, `${args}: ${r.stderr}`);
    assert.ok(r.stderr.includes(says), r.stderr);
    assert.equal(r.written, 'before\n');
    assert.deepEqual(r.left, ['out.conf'], 'no temporary file stays');
  }
});
