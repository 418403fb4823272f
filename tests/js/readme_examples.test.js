'use strict';
// Runs the examples of README.md and docs/*.md (code blocks after an
// "example:" marker) as a user would: as programs that require the package by
// its name; and the Electron files (after "electron:" markers, in
// docs/electron.md) under plain Node, with a stand-in for the electron module
// and real helpers playing over HTTP.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { artifactPath } = require('../../lib/native');
const { startXvfb, toolEnv } = require('./support/x11');
const { serveDirectory } = require('./helper_fixtures');
const { docBlocks } = require('./support/readme');

const root = path.join(__dirname, '..', '..');

const exampleNames = ['hosted', 'offscreen', 'probe'];
const electronFiles = ['index.html', 'main.js', 'preload.js', 'renderer.mjs'];

// The electron module as far as the Electron example's files use it: one window whose
// page runs in this process (canvases with the stream URLs of STREAM_URLS),
// IPC as events, contextBridge as a plain object, one window object for both
// worlds whose postMessage hands the transferred ports over as they are (a
// MessagePort of Node's moves what it transfers, as the browser's does).
const ELECTRON_STAND_IN = `'use strict';
const { EventEmitter } = require('node:events');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const toMain = new EventEmitter();
const toPage = new EventEmitter();
const handlers = new Map();
const page = { world: {}, tiles: [], statuses: [], refused: [], rings: [], document: null, window: null };
toPage.on('video:ring', (_event, index, name) => { (page.rings[index] ??= []).push(name); });
toPage.on('video:status', (_event, index, status) => {
  page.statuses[index] = status;
  if (status.startsWith('refused')) page.refused.push([index, status]);
});
const app = Object.assign(new EventEmitter(), {
  whenReady: () => Promise.resolve(),
  quit() { app.emit('quit'); },
});
const ipcMain = { handle: (channel, fn) => handlers.set(channel, fn), on: (channel, fn) => toMain.on(channel, fn) };
const ipcRenderer = {
  invoke: async (channel, ...args) => handlers.get(channel)({}, ...args),
  send: (channel, ...args) => toMain.emit(channel, {}, ...args),
  on: (channel, fn) => toPage.on(channel, fn),
};
const contextBridge = { exposeInMainWorld: (key, api) => { page.world[key] = api; } };
const messageListeners = new Set();
Object.assign(page.world, {
  postMessage(data, _origin, ports = []) {
    setImmediate(() => messageListeners.forEach((listener) => listener({ data, ports, source: page.world })));
  },
  addEventListener: (type, listener) => { if (type === 'message') messageListeners.add(listener); },
  removeEventListener: (type, listener) => { messageListeners.delete(listener); },
});
globalThis.ImageData ??= class ImageData {
  constructor(data, width, height) { Object.assign(this, { data, width, height }); }
};
// A canvas as far as a 2D frame renderer uses it (Node has no WebGL or
// VideoFrame); it keeps a copy of what it was given, as a canvas does.
function canvasFor(src) {
  const canvas = { dataset: { src }, width: 300, height: 150, drawn: 0, image: null };
  canvas.getContext = (type) => (type !== '2d' ? null : {
    createImageData: (width, height) => ({ width, height, data: new Uint8ClampedArray(width * height * 4) }),
    putImageData: (image) => {
      canvas.image = { width: image.width, height: image.height, data: new Uint8ClampedArray(image.data) };
      canvas.drawn++;
    },
  });
  return canvas;
}
class BrowserWindow extends EventEmitter {
  constructor(options) {
    super();
    this.options = options;
    this.webContents = { send: (channel, ...args) => toPage.emit(channel, {}, ...args) };
    page.window = this;
  }
  loadFile(file) {
    globalThis.window = page.world;
    require(this.options.webPreferences.preload);
    page.tiles = JSON.parse(process.env.STREAM_URLS).map(canvasFor);
    page.document = {
      title: '',
      querySelectorAll: (selector) => (selector === 'canvas' ? page.tiles : []),
      createElement: (tag) => (tag === 'canvas' ? canvasFor('') : null),
    };
    globalThis.document = page.document;
    globalThis.requestAnimationFrame = (callback) => setTimeout(callback, 16);
    const dir = path.dirname(this.options.webPreferences.preload);
    page.loaded = import(pathToFileURL(path.join(dir, 'renderer.mjs')).href);
  }
  close() { this.emit('closed'); }
}
module.exports = { app, BrowserWindow, ipcMain, ipcRenderer, contextBridge, page };
`;

// Plays until every tile has drawn frames and says "playing", asks for a
// local file (refused by the preload), sends one past the preload (refused by
// the main process), closes the window, waits for the application to quit;
// saves what the page drew.
const ELECTRON_DRIVER = `'use strict';
const fs = require('node:fs');
const electron = require('electron');
require('./main.js');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
async function until(what, done) {
  const deadline = Date.now() + 30000;
  while (!done()) {
    if (Date.now() > deadline) throw new Error(what + ': ' + JSON.stringify(electron.page.statuses));
    await sleep(20);
  }
}
(async () => {
  const { page } = electron;
  await until('four tiles playing', () => page.tiles.length > 0 && page.tiles.every((t) => t.drawn >= 5)
    && page.document.title === page.tiles.map(() => 'playing').join(' '));
  try {
    page.world.video.load(0, process.env.LOCAL_FILE);
  } catch (err) {
    page.refused.push([0, 'preload: ' + err.message]);
  }
  electron.ipcRenderer.send('video:load', 1, process.env.LOCAL_FILE);
  await until('the local file refused', () => page.refused.length > 1);
  const quit = new Promise((resolve) => electron.app.once('quit', resolve));
  page.window.close();
  await quit;
  page.tiles.forEach((tile, i) => fs.writeFileSync('tile' + i + '.rgba', tile.image.data));
  const rings = page.rings.map((names) => names.at(-1));
  fs.writeFileSync('page.json', JSON.stringify({
    tiles: page.tiles.map((t) => ({ width: t.image.width, height: t.image.height, drawn: t.drawn })),
    title: page.document.title, refused: page.refused, rings,
    ringsLeft: rings.filter((ring) => fs.existsSync('/dev/shm' + ring)),
  }));
  process.exit(0);  // the page's animation frames would go on
})().catch((err) => { console.error(err.stack); process.exit(1); });
`;

// Upright and in the right channel order at any size: testsrc2's red bar on
// the left, its blue bar in the middle, its dark time stamp box at the top left.
function assertTestPattern({ width, height, data }, what) {
  const at = (x, y) => {
    const i = (Math.round(y * height) * width + Math.round(x * width)) * 4;
    return [data[i], data[i + 1], data[i + 2]];
  };
  const near = (p, rgb) => p.every((v, i) => Math.abs(v - rgb[i]) <= 40);
  for (const [x, rgb] of [[0.08, [255, 0, 0]], [0.59, [0, 0, 255]]]) {
    const points = [0.28, 0.44, 0.61, 0.78, 0.96].map((y) => at(x, y));
    assert.ok(points.filter((p) => near(p, rgb)).length >= 3, `${what}: bar at x=${x}: ${points}`);
  }
  const stamp = at(0.005, 0.01);
  assert.ok(stamp[0] + stamp[1] + stamp[2] < 250, `${what}: top left ${stamp}`);
}

// A directory where `require('orvanel-video-backend')` resolves to this package.
function sandbox() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'readme-example-'));
  fs.mkdirSync(path.join(dir, 'node_modules'));
  fs.symlinkSync(root, path.join(dir, 'node_modules', 'orvanel-video-backend'), 'dir');
  return dir;
}

function run(dir, code, env = {}, timeoutMs = 30000) {
  fs.writeFileSync(path.join(dir, 'example.js'), code);
  return new Promise((resolve) => {
    execFile(process.execPath, ['example.js'], { cwd: dir, env: { ...process.env, ...env }, timeout: timeoutMs },
      (err, stdout, stderr) => resolve({ code: err ? err.code : 0, stdout, stderr }));
  });
}

// The thread sanitizer build's hosted module needs the sanitizer's runtime in
// Node, which runs as it is there: the cases that load it are left to the
// other builds.
const hostedSkip = process.env.ORVANEL_SANITIZER === 'thread'
  ? 'the hosted module of the thread sanitizer build does not load in Node' : false;

describe('README and docs examples', () => {
  const examples = docBlocks('example', exampleNames);
  let dir;
  before(() => { dir = sandbox(); });
  after(() => fs.rmSync(dir, { recursive: true, force: true }));

  it('are all found', () => {
    assert.deepEqual(Object.keys(examples).sort(), exampleNames);
    assert.deepEqual(Object.keys(docBlocks('electron', electronFiles)).sort(), electronFiles);
  });

  it('Electron: four streams in one page, upright; a local file refused; closing ends the helpers',
    { skip: hostedSkip }, async () => {
    const files = docBlocks('electron', electronFiles);
    for (const [name, code] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), code);
    fs.mkdirSync(path.join(dir, 'node_modules', 'electron'));
    fs.writeFileSync(path.join(dir, 'node_modules', 'electron', 'index.js'), ELECTRON_STAND_IN);
    // The main process and preload files against the package's declarations
    // (the in-window function included, which needs a real window to run).
    fs.writeFileSync(path.join(dir, 'tsconfig.json'), JSON.stringify({
      // node16 reads the package's "exports", as Node and Electron do.
      compilerOptions: { allowJs: true, checkJs: true, noEmit: true, target: 'ES2022', module: 'node16',
        moduleResolution: 'node16', lib: ['ES2022'], types: ['node'], typeRoots: [path.join(root, 'node_modules', '@types')],
        maxNodeModuleJsDepth: 1, preserveSymlinks: true },
      files: ['main.js', 'preload.js'],
    }));
    const tsc = await new Promise((resolve) => execFile(process.execPath,
      [path.join(root, 'node_modules', 'typescript', 'bin', 'tsc'), '-p', '.'], { cwd: dir },
      (err, stdout, stderr) => resolve({ code: err ? err.code : 0, out: stdout + stderr })));
    assert.equal(tsc.code, 0, tsc.out);

    const media = fs.mkdtempSync(path.join(os.tmpdir(), 'readme-electron-'));
    await new Promise((resolve, reject) => execFile('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi',
      '-i', 'testsrc2=size=640x360:rate=30', '-t', '20', '-c:v', 'mpeg4', '-q:v', '3', path.join(media, 'clip.mkv')],
    (err) => (err ? reject(err) : resolve())));
    const server = await serveDirectory(media);
    try {
      fs.writeFileSync(path.join(dir, 'electron-run.js'), ELECTRON_DRIVER);
      const urls = [0, 1, 2, 3].map((i) => `${server.url('clip.mkv')}?tile=${i}`);
      // Four helpers starting at once on a busy machine: the driver's own
      // waits (30 s each) end it first.
      const r = await run(dir, fs.readFileSync(path.join(dir, 'electron-run.js'), 'utf8'),
        { STREAM_URLS: JSON.stringify(urls), LOCAL_FILE: path.join(media, 'clip.mkv') }, 90000);
      assert.equal(r.code, 0, r.stderr);
    } finally {
      await server.close();
      fs.rmSync(media, { recursive: true, force: true });
    }
    const page = JSON.parse(fs.readFileSync(path.join(dir, 'page.json'), 'utf8'));
    assert.equal(page.title, 'playing playing playing playing');
    assert.deepEqual(page.refused, [
      [0, 'preload: URL refused: scheme "file" is not in allowedSchemes (http, https)'],
      [1, 'refused: URL refused: scheme "file" is not in allowedSchemes (http, https)'],
    ]);
    assert.equal(new Set(page.rings).size, 4, `rings ${page.rings}`);
    assert.deepEqual(page.ringsLeft, []);
    page.tiles.forEach((tile, i) => {
      assert.deepEqual([tile.width, tile.height], [640, 360]);
      assertTestPattern({ ...tile, data: fs.readFileSync(path.join(dir, `tile${i}.rgba`)) }, `tile ${i}`);
    });
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

  it('hosted: plays in a window and disposes the session', { skip: hostedSkip }, async () => {
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
