// scripts/ensure-packages.sh, the one installer, reads the lines of the
// manifest beside it; --print shows what it would install.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const SCRIPT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../scripts/ensure-packages.sh');
const MANIFEST = '# a comment\na: p1 p2  # why p2\n\nb: p2 p3\nnode: nodejs npm\n';

// The script beside a manifest of our own; PATH holds node only when asked.
function ensure(args, { manifest = MANIFEST, withNode = false } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ensure-packages-'));
  fs.copyFileSync(SCRIPT, path.join(dir, 'ensure-packages.sh'));
  fs.writeFileSync(path.join(dir, 'packages.txt'), manifest);
  fs.mkdirSync(path.join(dir, 'bin'));
  const tools = { bash: '/bin/bash', dirname: '/usr/bin/dirname', ...(withNode && { node: process.execPath }) };
  for (const [name, to] of Object.entries(tools)) fs.symlinkSync(to, path.join(dir, 'bin', name));
  const r = spawnSync(path.join(dir, 'ensure-packages.sh'), args, { encoding: 'utf8', env: { PATH: path.join(dir, 'bin') } });
  fs.rmSync(dir, { recursive: true });
  return r;
}

test('--print names the packages of the named lines, each once', () => {
  const cases = [
    { args: ['b', 'a'], out: 'p2 p3 p1' },
    { args: ['a', 'node'], out: 'p1 p2 nodejs npm' },
    { args: ['a', 'node'], withNode: true, out: 'p1 p2' }, // a Node.js of its own stays
  ];
  for (const c of cases) {
    const r = ensure(['--print', ...c.args], c);
    assert.deepEqual([r.status, r.stdout.trim()], [0, c.out], `${c.args}: ${r.stderr}`);
  }
});

test('refuses a wrong call or manifest before installing anything', () => {
  const cases = [
    { args: ['a', 'c'], says: "no line 'c'; its lines: a b node" },
    { args: [], says: 'usage' },
    { args: ['--print'], says: 'usage' },
    { args: ['a'], manifest: 'a p1\n', says: 'not NAME: PACKAGE...: a p1' },
  ];
  for (const c of cases) {
    const r = ensure(c.args, c);
    assert.deepEqual([r.status, r.stdout], [2, ''], `${c.args}: ${r.stderr}`);
    assert.ok(r.stderr.includes(c.says), r.stderr);
  }
});
