// demo.sh refuses a port it cannot use before it installs, builds or wipes
// anything. It runs from a copy in an empty folder, so any step it took past
// its checks would leave files there (or fail on the missing scripts).
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs/promises';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';
import { promisify } from 'node:util';
import { ROOT } from './support.mjs';

const run = promisify(execFile);

async function demoCopy(t) {
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'demo-check-'));
  t.after(() => fs.rm(dir, { recursive: true, force: true }));
  await fs.copyFile(path.join(ROOT, 'demo.sh'), path.join(dir, 'demo.sh'));
  await fs.chmod(path.join(dir, 'demo.sh'), 0o755);
  return dir;
}

async function refusal(dir, port, password = '') {
  const env = { ...process.env, DEMO_PORT: port, DEMO_PASSWORD: password };
  const r = await run(path.join(dir, 'demo.sh'), [], { env }).then(
    () => ({ code: 0, stderr: '' }),
    (e) => ({ code: e.code, stderr: e.stderr }),
  );
  return { ...r, left: await fs.readdir(dir) };
}

test('a port in use: refused with the port and DEMO_PORT named, nothing touched', async (t) => {
  const dir = await demoCopy(t);
  const holder = net.createServer().listen(0, '127.0.0.1');
  await once(holder, 'listening');
  t.after(() => holder.close());
  const port = String(holder.address().port);
  const r = await refusal(dir, port);
  assert.equal(r.code, 1);
  assert.match(r.stderr, new RegExp(`port ${port} on 127\\.0\\.0\\.1 is already in use`));
  assert.match(r.stderr, /DEMO_PORT=\d+ \.\/demo\.sh/);
  assert.deepEqual(r.left, ['demo.sh']);
});

test('a port that is not a port number, a password the node cannot take', async (t) => {
  const dir = await demoCopy(t);
  const cases = [
    // DEMO_PORT, DEMO_PASSWORD, what is said
    ['80x', '', /DEMO_PORT must be a port number from 1 to 65535, not '80x'/],
    ['0', '', /DEMO_PORT must be a port number/],
    ['65536', '', /DEMO_PORT must be a port number/],
    ['080808', '', /DEMO_PORT must be a port number/],
    [' ', '', /DEMO_PORT must be a port number/],
    ['09', 'pass word', /DEMO_PASSWORD may hold only letters, digits/],
  ];
  for (const [port, password, said] of cases) {
    const r = await refusal(dir, port, password);
    assert.equal(r.code, 1, port);
    assert.match(r.stderr, said, port);
    assert.doesNotMatch(r.stderr, /value too great|syntax error/, port);
    assert.deepEqual(r.left, ['demo.sh'], port);
  }
});
