// The docs: a short README, and every link in them leads somewhere.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const DOCS = ['README.md', 'deploy/README.md', ...fs.readdirSync(path.join(ROOT, 'docs')).filter((f) => f.endsWith('.md')).map((f) => `docs/${f}`)];

// The text outside fenced blocks: a link or heading in an example is none.
const prose = (file) => fs.readFileSync(path.join(ROOT, file), 'utf8').split(/^```.*$/m).filter((_, i) => i % 2 === 0).join('\n');
const slug = (heading) => heading.trim().toLowerCase().replace(/[^\p{L}\p{N} _-]/gu, '').replace(/ /g, '-');
const anchors = (file) => [...prose(file).matchAll(/^#+ (.*)$/gm)].map((m) => slug(m[1]));

test('the README stays short', () => {
  const lines = fs.readFileSync(path.join(ROOT, 'README.md'), 'utf8').split('\n').length - 1;
  assert.ok(lines <= 150, `README.md has ${lines} lines`);
});

test('every link leads to a file of the tree, and to a heading in it', () => {
  for (const doc of DOCS) {
    for (const [, target] of prose(doc).matchAll(/\]\(([^)\s]+)\)/g)) {
      if (/^[a-z]+:/.test(target)) continue; // another site
      const [file, anchor] = target.split('#');
      const to = file ? path.relative(ROOT, path.resolve(ROOT, path.dirname(doc), file)) : doc;
      assert.ok(fs.existsSync(path.join(ROOT, to)) && !to.startsWith('..'), `${doc}: ${target}`);
      if (anchor) assert.ok(anchors(to).includes(anchor), `${doc}: ${target}: no such heading`);
    }
  }
});
