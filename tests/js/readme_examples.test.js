'use strict';
// Runs the examples of README.md (code blocks after an "example:" marker) as
// a user would: as programs that require the package by its name.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { artifactPath } = require('../../lib/native');
const { startXvfb, toolEnv } = require('./support/x11');

const root = path.join(__dirname, '..', '..');

function readmeExamples() {
  const text = fs.readFileSync(path.join(root, 'README.md'), 'utf8');
  const examples = {};
  for (const m of text.matchAll(/<!-- example: (\w+) -->\n```js\n([\s\S]*?)```/g)) examples[m[1]] = m[2];
  return examples;
}

// A directory where `require('orvanel-video-backend')` resolves to this package.
function sandbox() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'readme-example-'));
  fs.mkdirSync(path.join(dir, 'node_modules'));
  fs.symlinkSync(root, path.join(dir, 'node_modules', 'orvanel-video-backend'), 'dir');
  return dir;
}

function run(dir, code, env = {}) {
  fs.writeFileSync(path.join(dir, 'example.js'), code);
  return new Promise((resolve) => {
    execFile(process.execPath, ['example.js'], { cwd: dir, env: { ...process.env, ...env }, timeout: 30000 },
      (err, stdout, stderr) => resolve({ code: err ? err.code : 0, stdout, stderr }));
  });
}

describe('README examples', () => {
  const examples = readmeExamples();
  let dir;
  before(() => { dir = sandbox(); });
  after(() => fs.rmSync(dir, { recursive: true, force: true }));

  it('are all found', () => {
    assert.deepEqual(Object.keys(examples).sort(), ['hosted', 'offscreen', 'probe']);
  });

  it('off-screen: plays, reads a frame and writes a PNG', async () => {
    const r = await run(dir, examples.offscreen);
    assert.equal(r.code, 0, r.stderr);
    assert.match(r.stdout, /^playing 640x360\nframe \d+: 640x360, \d+\.\d ms old\n$/);
    assert.ok(fs.statSync(path.join(dir, 'frame.png')).size > 1000);
  });

  it('probe: prints the verdict', async () => {
    const r = await run(dir, examples.probe);
    assert.equal(r.code, 0, r.stderr);
    assert.equal(r.stdout, 'usable: libmpv 2.0, egl\n');
  });

  it('hosted: plays in a window and disposes the session', async () => {
    const xvfb = await startXvfb();
    const window = spawn(artifactPath('orvanel_window'), ['640', '360', 'readme'],
      { stdio: ['pipe', 'pipe', 'inherit'], env: { ...toolEnv(), DISPLAY: xvfb.display } });
    try {
      const first = await new Promise((resolve) => {
        readline.createInterface({ input: window.stdout }).once('line', resolve);
      });
      const id = /^window (\d+)$/.exec(first)[1];
      const prologue = `const handle = Buffer.alloc(4); handle.writeUInt32LE(${id});\n`;
      const r = await run(dir, prologue + examples.hosted, { DISPLAY: xvfb.display });
      assert.equal(r.code, 0, r.stderr);
      assert.match(r.stdout, /^hosted-mpv-1 playing at \d+\.\d s\n$/);
    } finally {
      window.stdin.end('quit\n');
      await new Promise((resolve) => (window.exitCode !== null ? resolve() : window.on('exit', resolve)));
      await xvfb.stop();
    }
  });
});
