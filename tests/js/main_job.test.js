'use strict';
// The main job, orvanel-play, run end to end as a user runs it.
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { decodeRgbPng } = require('../../lib/png');
const { startXvfb } = require('./support/x11');

const ROOT = path.join(__dirname, '..', '..');
const PLAYER = path.join(ROOT, 'bin', 'orvanel-play.js');

function play(args, env = {}) {
  return new Promise((resolve) => {
    execFile(process.execPath, [PLAYER, ...args], { env: { ...process.env, ...env }, timeout: 60000 },
      (err, stdout, stderr) => resolve({ code: err ? err.code : 0, stdout, stderr }));
  });
}

// The README's start command, as a user types it in the repository: it
// installs and builds what is missing (nothing here, or a quick check) into
// build/ and plays from there, with the defaults users get (no sound device
// on this machine, default audio output and hwdec).
function npmStart(args) {
  const env = { ...process.env };
  delete env.ORVANEL_OUT_DIR;
  return new Promise((resolve) => {
    execFile('npm', ['start', ...(args.length ? ['--', ...args] : [])],
      { cwd: ROOT, env, timeout: 240000 },
      (err, stdout, stderr) => resolve({ code: err ? err.code : 0, stdout, stderr }));
  });
}

// The status lines of orvanel-play's output (npm adds a banner of its own).
function statusLines(stdout) {
  return stdout.split('\n').filter((line) => /^(idle|loading|playing|paused|ended|error) /.test(line));
}

// `npm start` builds and uses build/, which a sanitizer build's tests do not
// test; there it is left to the normal build's run.
const npmStartSkip = process.env.ORVANEL_SANITIZER ? 'npm start uses the normal build' : false;

// npm start says what it does on stderr, step by step; the player itself
// writes there only when something fails.
function assertOnlyStartSteps(stderr) {
  assert.match(stderr, /^start: playing the built-in test pattern|^start: orvanel-play /m, stderr);
  const after = stderr.slice(stderr.search(/^start: (playing|orvanel-play)/m)).split('\n').slice(1);
  assert.deepEqual(after.filter((line) => line.trim() !== ''), [], stderr);
}

function pixel(png, x, y) {
  const i = (y * png.width + x) * 3;
  return [png.rgb[i], png.rgb[i + 1], png.rgb[i + 2]];
}

function near(actual, expected, tolerance = 40) {
  return actual.every((v, i) => Math.abs(v - expected[i]) <= tolerance);
}

describe('orvanel-play', () => {
  it('npm start plays the test pattern to the end of its default 10 seconds', { skip: npmStartSkip }, async () => {
    const start = Date.now();
    const r = await npmStart([]);
    assert.equal(r.code, 0, r.stderr);
    assertOnlyStartSteps(r.stderr);
    // It stopped on its own timer, not before: still playing at the end.
    assert.ok(Date.now() - start >= 10000, `ended after ${Date.now() - start} ms`);
    const lines = statusLines(r.stdout);
    assert.ok(lines.length >= 5, r.stdout);
    assert.match(lines.at(-1), /^playing +\d\d:\d\d \/ .* 1280x720$/);
    assert.ok(lines.every((line) => !line.startsWith('error')), r.stdout);
  });

  it('plays the built-in test pattern (npm start -- --seconds 3 --png), shows status lines and saves an upright PNG',
    { skip: npmStartSkip }, async () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-play-'));
    const png = path.join(dir, 'frame.png');
    try {
      const r = await npmStart(['--seconds', '3', '--png', png]);
      assert.equal(r.code, 0, r.stderr);
      assertOnlyStartSteps(r.stderr);
      // Not a terminal: one status line a second, the last one at the end.
      const lines = statusLines(r.stdout);
      assert.ok(lines.length >= 2, r.stdout);
      assert.match(lines.at(-1), /^playing +\d\d:\d\d \/ \d\d:\d\d \[[#-]+\]  fps \d+\.\d  age \d+ms  dropped \d+  1280x720$/);
      const image = decodeRgbPng(fs.readFileSync(png));
      assert.equal(image.width, 1280);
      assert.equal(image.height, 720);
      // The colour bars of the pattern, left to right. The pattern's moving
      // line, cross and boxes cover parts of them: most of a grid of 3 × 5
      // points in each bar has its colour.
      const bars = [[100, [255, 0, 0]], [320, [0, 210, 0]], [530, [255, 240, 0]],
        [750, [0, 0, 255]], [960, [255, 40, 255]], [1170, [0, 230, 255]]];
      for (const [x, colour] of bars) {
        const points = [x - 70, x, x + 70].flatMap((px) => [200, 320, 440, 560, 690]
          .map((y) => pixel(image, px, y)));
        assert.ok(points.filter((p) => near(p, colour)).length >= 8, `bar at x=${x}: ${points}`);
      }
      // The time stamp box sits at the top left: the PNG is the right way up.
      const stamp = pixel(image, 4, 4);
      assert.ok(stamp[0] + stamp[1] + stamp[2] < 250, `top left ${stamp}`);
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  });

  it('ends with one clear line and status 1 for a stream it cannot open, sending headers', async () => {
    const seen = [];
    const server = http.createServer((req, res) => {
      seen.push(req.headers);
      res.writeHead(404);
      res.end();
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    try {
      const url = `http://127.0.0.1:${server.address().port}/missing.mp4`;
      const r = await play([url, '--quiet', '--opt', 'ao=null', '--header', 'X-Orvanel: a,b',
        '--user-agent', 'orvanel-play-test']);
      assert.equal(r.code, 1);
      const lines = r.stderr.trim().split('\n');
      assert.equal(lines.length, 1, r.stderr);
      assert.match(lines[0], new RegExp(`^orvanel-play: cannot play ${url}: `));
      assert.doesNotMatch(r.stderr, /at .*\.js:\d+/);  // no stack trace
      assert.ok(seen.length >= 1);
      assert.equal(seen[0]['user-agent'], 'orvanel-play-test');
      assert.equal(seen[0]['x-orvanel'], 'a,b');
    } finally {
      server.close();
    }
  });

  it('stops on Ctrl-C, waits for its helper, saves the PNG and leaves no ring', async () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-play-'));
    const png = path.join(dir, 'frame.png');
    // A process group of its own, as a terminal's foreground job: Ctrl-C
    // reaches orvanel-play and its helper at once.
    const child = spawn(process.execPath, [PLAYER, '--seconds', '60', '--png', png],
      { detached: true, stdio: ['ignore', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (d) => { stdout += d; });
    child.stderr.on('data', (d) => { stderr += d; });
    const exited = new Promise((resolve) => child.on('close', (code, signal) => resolve({ code, signal })));
    const ringPrefix = `ompv-play-${child.pid}-`;
    try {
      const deadline = Date.now() + 30000;
      while (!/^playing .*fps [1-9]/m.test(stdout) && Date.now() < deadline) {
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
      assert.match(stdout, /^playing /m);
      assert.equal(fs.readdirSync('/dev/shm').filter((n) => n.startsWith(ringPrefix)).length, 1);
      process.kill(-child.pid, 'SIGINT');
      assert.deepEqual(await exited, { code: 0, signal: null }, stderr);
      assert.equal(stderr, '');
      assert.equal(decodeRgbPng(fs.readFileSync(png)).width, 1280);
      assert.deepEqual(fs.readdirSync('/dev/shm').filter((n) => n.startsWith(ringPrefix)), []);
    } finally {
      try { process.kill(-child.pid, 'SIGKILL'); } catch { /* ended */ }
      fs.rmSync(dir, { recursive: true, force: true });
    }
  });

  it('refuses bad arguments with a usage line and status 2', async () => {
    for (const args of [['/no/such/file.mp4'], ['--size', '8x8'], ['--seconds'], ['--frobnicate'],
      ['--opt', 'novalue']]) {
      const r = await play(args);
      assert.equal(r.code, 2, `${args}: ${r.stderr}`);
      assert.match(r.stderr, /^orvanel-play: .+\n\(see --help\)\n$/);
    }
  });

  it('reports options the engine rejects and keeps playing', async () => {
    const r = await play(['--seconds', '1', '--quiet', '--opt', 'ao=null', '--opt', 'no-such-option=1']);
    assert.equal(r.code, 0, r.stderr);
    assert.equal(r.stderr, '[orvanel] rejected session option no-such-option: option not found\n');
  });

  describe('--hosted', () => {
    it('plays in a window of its own and saves what the window shows', async () => {
      const xvfb = await startXvfb();
      const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-play-'));
      const png = path.join(dir, 'window.png');
      try {
        const r = await play(['--hosted', '--seconds', '2', '--size', '640x360', '--png', png,
          '--opt', 'ao=null'], { DISPLAY: xvfb.display });
        assert.equal(r.code, 0, r.stderr);
        assert.match(r.stdout.trim().split('\n').at(-1), /^playing +\d\d:\d\d .* 640x360$/);
        const image = decodeRgbPng(fs.readFileSync(png));
        assert.equal(image.width, 640);
        assert.equal(image.height, 360);
        // The pattern's moving diagonal line may cross one of the points.
        const bar = (x, rgb) => [120, 240, 340].filter((y) => near(pixel(image, x, y), rgb)).length >= 2;
        assert.ok(bar(50, [255, 0, 0]), `left bar ${[120, 240, 340].map((y) => pixel(image, 50, y))}`);
        assert.ok(bar(585, [0, 230, 255]), `right bar ${[120, 240, 340].map((y) => pixel(image, 585, y))}`);
      } finally {
        fs.rmSync(dir, { recursive: true, force: true });
        await xvfb.stop();
      }
    });

    it('says in one line that it needs a display when there is none', async () => {
      const r = await play(['--hosted', '--seconds', '1'], { DISPLAY: '' });
      assert.equal(r.code, 1);
      assert.equal(r.stderr,
        'orvanel-play: --hosted needs an X display, and none could be opened (DISPLAY is not set)\n');
    });
  });
});
