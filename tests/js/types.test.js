'use strict';
// The TypeScript declarations against the JavaScript they describe: the
// compiler checks a usage file against the declarations, and the exported
// names of every module must match what its declaration file declares.
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..', '..');

function declaredValues(dts) {
  const text = fs.readFileSync(path.join(root, 'lib', dts), 'utf8');
  const names = new Set();
  for (const m of text.matchAll(/^export (?:declare )?(?:function|class|const) (\w+)/gm)) names.add(m[1]);
  for (const m of text.matchAll(/^export \{([^}]+)\} from/gm)) {
    for (const name of m[1].split(',')) {
      const n = name.trim();
      // Interfaces re-exported by name are types, not values.
      if (n && /^[a-z]|Client$|Follower$/.test(n)) names.add(n);
    }
  }
  return [...names].sort();
}

describe('type declarations', () => {
  // The package's entry, and the page's frame renderer by the name a page imports.
  for (const project of ['tsconfig.json', 'tsconfig.renderer.json']) {
    it(`compile against a program that uses every export (${project})`, () => {
      const tsc = path.join(root, 'node_modules', 'typescript', 'bin', 'tsc');
      try {
        execFileSync(process.execPath, [tsc, '-p', path.join(root, 'tests', 'types', project)], { encoding: 'utf8' });
      } catch (err) {
        assert.fail(`tsc found errors:\n${err.stdout}${err.stderr}`);
      }
    });
  }

  for (const [module, dts] of [['index', 'index.d.ts'], ['frame_reader', 'frame_reader.d.ts'],
    ['hosted_mpv', 'hosted_mpv.d.ts'], ['helper_client', 'helper_client.d.ts'],
    ['frame_follower', 'frame_follower.d.ts'], ['png', 'png.d.ts'], ['electron_preload', 'electron_preload.d.ts']]) {
    it(`declare exactly the values lib/${module}.js exports`, () => {
      const exported = Object.keys(require(path.join(root, 'lib', module))).sort();
      assert.deepEqual(declaredValues(dts), exported);
    });
  }
});
