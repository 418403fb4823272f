'use strict';
// The code blocks of README.md that follow a marker comment, by name.
const fs = require('node:fs');
const path = require('node:path');

/**
 * @param {string} marker e.g. "electron" for blocks after `<!-- electron: main.js -->`
 * @returns {Record<string, string>} block text by the name after the marker
 */
function readmeBlocks(marker) {
  const text = fs.readFileSync(path.join(__dirname, '..', '..', '..', 'README.md'), 'utf8');
  const blocks = {};
  const pattern = new RegExp(`<!-- ${marker}: ([\\w.]+) -->\\n\`\`\`(?:js|html)\\n([\\s\\S]*?)\`\`\``, 'g');
  for (const m of text.matchAll(pattern)) blocks[m[1]] = m[2];
  return blocks;
}

module.exports = { readmeBlocks };
