// ./test.sh's command line: stages by name, checked before any of them runs.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const STAGES = ['default', 'sanitize', 'clang', 'windows', 'fuzz', 'scripts', 'browser', 'servers', 'load'];

test('--list names every stage in order, and the quick tier', () => {
  const r = spawnSync(path.join(ROOT, 'test.sh'), ['--list'], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  const named = r.stdout.split('\n').map((l) => l.match(/^ {2}(\S+) /)?.[1]).filter(Boolean);
  assert.deepEqual(named, [...STAGES, 'quick']);
});

test('a wrong name runs nothing, not even the stages before it', () => {
  const cases = [['nosuch'], ['default', 'nosuch'], ['quick', 'Default'], ['--quick']];
  for (const args of cases) {
    const r = spawnSync(path.join(ROOT, 'test.sh'), args, { encoding: 'utf8', timeout: 10000 });
    assert.equal(r.status, 2, `${args}: ${r.stderr}`);
    assert.match(r.stderr, new RegExp(`no stage '${args.at(-1)}'`));
    for (const s of STAGES) assert.ok(r.stderr.includes(`  ${s} `), `the names are listed: ${s}`);
    assert.doesNotMatch(r.stdout + r.stderr, /^== /m, 'no stage started');
  }
});
