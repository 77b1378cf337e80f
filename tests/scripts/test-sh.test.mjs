// ./test.sh's command line: stages by name, every name checked before any runs.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const TEST_SH = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../test.sh');
const run = (args) => spawnSync(TEST_SH, args, { encoding: 'utf8', timeout: 10000 });

test('a wrong name runs nothing, not even the stages before it, and lists the names', () => {
  const listed = run(['--list']).stdout;
  assert.match(listed, /^ {2}default .*\n[^]*^ {2}quick /m);
  for (const args of [['nosuch'], ['default', 'nosuch'], ['quick', 'Default'], ['--quick'], ['']]) {
    const r = run(args);
    assert.equal(r.status, 2, `${args}: ${r.stderr}`);
    assert.ok(r.stderr.startsWith(`test.sh: no stage '${args.at(-1)}'\n${listed}`), r.stderr);
    assert.doesNotMatch(r.stdout + r.stderr, /^== /m, 'no stage started');
  }
});
