'use strict';
// An Xvfb server of the test's own and top-level windows on it, for the
// hosted module's tests. Xvfb picks a free display itself (-displayfd), so
// tests running at the same time never collide.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');
const { before, after } = require('node:test');
const { artifactPath } = require('../../../lib/native');

/**
 * The environment for helper programs: without a sanitizer runtime preloaded
 * for Node (programs of this build link their own).
 */
function toolEnv() {
  const env = { ...process.env };
  delete env.LD_PRELOAD;
  return env;
}

/**
 * Starts Xvfb and points DISPLAY at it (the hosted module opens its X
 * connection on the first session, from DISPLAY).
 * @param {string} [screen] the screen as Xvfb takes it, WIDTHxHEIGHTxDEPTH
 * @returns {Promise<{display: string, pid: number, stop: () => Promise<void>}>}
 */
async function startXvfb(screen = '1280x800x24') {
  const server = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', screen, '-nolisten', 'tcp'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'], env: toolEnv() });
  let stderr = '';
  server.stderr.on('data', (d) => { stderr += d; });
  const number = await new Promise((resolve, reject) => {
    let text = '';
    server.stdio[3].on('data', (d) => {
      text += d;
      if (text.includes('\n')) resolve(text.trim());
    });
    server.on('exit', (code) => reject(new Error(`Xvfb ended (${code}): ${stderr}`)));
  });
  const display = `:${number}`;
  process.env.DISPLAY = display;
  const exited = new Promise((resolve) => server.on('exit', resolve));
  return {
    display,
    pid: server.pid,
    stop: async () => {
      server.kill('SIGTERM');
      await exited;
    },
  };
}

/**
 * A top-level window of `width` × `height` with background `colour`
 * ("rrggbb"), made and driven by tests/tools/x_window_tool.
 */
async function openHostWindow(width, height, colour) {
  const tool = spawn(artifactPath('x_window_tool'), [String(width), String(height), colour],
    { stdio: ['pipe', 'pipe', 'inherit'], env: toolEnv() });
  const lines = readline.createInterface({ input: tool.stdout })[Symbol.asyncIterator]();
  const exited = new Promise((resolve) => tool.on('exit', resolve));
  const nextLine = async () => {
    const { value, done } = await lines.next();
    if (done) throw new Error('x_window_tool ended');
    return value;
  };
  const ask = async (command) => {
    tool.stdin.write(`${command}\n`);
    return nextLine();
  };
  const first = await nextLine();
  const id = Number(first.split(' ')[1]);
  const captureDir = fs.mkdtempSync(path.join(os.tmpdir(), 'hosted-capture-'));
  let captures = 0;

  return {
    id,
    /** The window handle as current Electron builds give it on Linux: 4 bytes. */
    handle() {
      const buffer = Buffer.alloc(4);
      buffer.writeUInt32LE(id);
      return buffer;
    },
    /** The window's pixels, children included: {width, height, at(x, y) -> [r, g, b]}. */
    async capture() {
      const file = path.join(captureDir, `capture-${++captures}.ppm`);
      const answer = await ask(`capture ${file}`);
      if (answer !== 'ok') throw new Error(`capture failed: ${answer}`);
      const data = fs.readFileSync(file);
      fs.unlinkSync(file);
      const header = data.subarray(0, 64).toString('latin1').split('\n');
      const [w, h] = header[1].split(' ').map(Number);
      const offset = header[0].length + header[1].length + header[2].length + 3;
      return {
        width: w,
        height: h,
        at(x, y) {
          const i = offset + (y * w + x) * 3;
          return [data[i], data[i + 1], data[i + 2]];
        },
      };
    },
    /** Id of the deepest window that takes the pointer at (x, y) of this window. */
    async windowUnder(x, y) {
      return Number((await ask(`under ${x} ${y}`)).split(' ')[1]);
    },
    /** Ids of the window's child windows, bottom to top. */
    async children() {
      return (await ask('children')).split(' ').slice(1).map(Number);
    },
    async close() {
      tool.stdin.end('quit\n');
      await exited;
      fs.rmSync(captureDir, { recursive: true, force: true });
    },
  };
}

/** Resolves after `ms` milliseconds, leaving the event loop free meanwhile. */
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/**
 * Polls `probe` until it returns a truthy value; throws after `timeoutMs`,
 * naming `what` (a text, or a function that describes the state by then).
 */
async function waitFor(probe, what, timeoutMs = 10000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) {
      throw new Error(`timed out waiting for ${typeof what === 'function' ? what() : what}`);
    }
    await sleep(25);
  }
}

/** Number of threads of this process. */
const threadCount = () => fs.readdirSync('/proc/self/task').length;

/**
 * Waits until the screen shows each colour at its points: `expectations` is a
 * list of [points, [r, g, b]], each channel within `tolerance`. The error names
 * what every point showed last.
 */
async function waitForColours(host, expectations, what, { timeoutMs = 10000, tolerance = 24 } = {}) {
  const near = (pixel, rgb) => pixel.every((v, i) => Math.abs(v - rgb[i]) <= tolerance);
  let last;
  try {
    await waitFor(async () => {
      const image = await host.capture();
      last = expectations.flatMap(([points, rgb]) => points.map(([px, py]) => [px, py, image.at(px, py), rgb]));
      return last.every(([, , pixel, rgb]) => near(pixel, rgb));
    }, what, timeoutMs);
  } catch (error) {
    error.message += `: ${JSON.stringify(last)}`;
    throw error;
  }
}

/**
 * An Xvfb display and a host window on it for the tests of the enclosing
 * suite: made before them, closed after them (what was made, if making the
 * rest failed). `.host` is the window once made. `thenSetUp` runs in the same
 * hook once the window is there: Node runs a file's top-level hooks together.
 */
function hostWindowForSuite(width, height, colour, thenSetUp = async () => {}) {
  const held = { xvfb: null, host: null };
  before(async () => {
    held.xvfb = await startXvfb();
    held.host = await openHostWindow(width, height, colour);
    await thenSetUp();
  });
  after(async () => {
    await held.host?.close();
    await held.xvfb?.stop();
  });
  return held;
}

module.exports = {
  toolEnv, startXvfb, openHostWindow, hostWindowForSuite, sleep, waitFor, waitForColours, threadCount,
};
