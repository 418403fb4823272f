'use strict';
// The code blocks of the documentation (README.md and every docs/*.md) that
// follow a marker comment, by name.
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..', '..', '..');

/** @returns {string[]} README.md, then docs/*.md in name order, relative to the repository */
function docFiles() {
  const docs = fs.readdirSync(path.join(root, 'docs')).filter((f) => f.endsWith('.md')).sort();
  return ['README.md', ...docs.map((f) => path.join('docs', f))];
}

/**
 * @param {string} marker e.g. "electron" for blocks after `<!-- electron: main.js -->`
 * @param {string[]} [expected] names that must be there: throws naming the missing ones
 * @returns {Record<string, string>} block text by the name after the marker
 */
function docBlocks(marker, expected = []) {
  const blocks = {};
  const where = {};
  const pattern = new RegExp(`<!-- ${marker}: ([\\w.]+) -->\\n\`\`\`(?:js|html)\\n([\\s\\S]*?)\`\`\``, 'g');
  for (const file of docFiles()) {
    const text = fs.readFileSync(path.join(root, file), 'utf8');
    for (const m of text.matchAll(pattern)) {
      if (m[1] in blocks) throw new Error(`<!-- ${marker}: ${m[1]} --> is in both ${where[m[1]]} and ${file}`);
      blocks[m[1]] = m[2];
      where[m[1]] = file;
    }
  }
  const missing = expected.filter((name) => !(name in blocks));
  if (missing.length) {
    throw new Error(`no code block after ${missing.map((name) => `<!-- ${marker}: ${name} -->`).join(', ')} `
      + `in ${docFiles().join(', ')}`);
  }
  return blocks;
}

module.exports = { docBlocks };
