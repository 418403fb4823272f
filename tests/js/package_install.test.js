'use strict';
// The package as an application gets it: packed, installed from the tarball
// into a fresh project outside the repository (dependencies from the npm
// registry, npm's install step building with CMake), and run from there: the
// runtime probe, the README's off-screen example, `npx orvanel-play`, and the
// README's Electron files against a stand-in for the electron module. Then
// the install step's two other roads: missing Debian packages and prebuilt
// artifacts.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFile } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { decodeRgbPng } = require('../../lib/png');

const root = path.join(__dirname, '..', '..');
const artifacts = ['hosted_mpv.node', 'hosted_mpv_frame_reader.node', 'orvanel_mpv_helper', 'orvanel_window'];

// As a user's shell has it: nothing of the npm run that started the tests,
// and no pointer at the repository's build.
const userEnv = Object.fromEntries(Object.entries(process.env).filter(([key]) =>
  !/^npm_/i.test(key) && !['INIT_CWD', 'ORVANEL_OUT_DIR', 'ORVANEL_PREBUILT_DIR'].includes(key)));

function run(command, args, options = {}) {
  return new Promise((resolve) => {
    execFile(command, args, { env: userEnv, timeout: 60000, maxBuffer: 64 << 20, ...options },
      (err, stdout, stderr) => resolve({ code: err ? (err.code ?? err.signal) : 0, stdout, stderr }));
  });
}

function readmeBlocks(marker) {
  const text = fs.readFileSync(path.join(root, 'README.md'), 'utf8');
  const blocks = {};
  for (const m of text.matchAll(new RegExp(`<!-- ${marker}: ([\\w.]+) -->\\n\`\`\`js\\n([\\s\\S]*?)\`\`\``, 'g'))) {
    blocks[m[1]] = m[2];
  }
  return blocks;
}

function pixel(image, x, y) {
  const i = (y * image.width + x) * image.channels;
  return [image.data[i], image.data[i + 1], image.data[i + 2]];
}

// Upright and in the right channel order: the test pattern's red bar on the
// left, its blue bar in the middle, its dark time stamp box at the top left.
function assertTestPattern(image) {
  const near = (p, rgb) => p.every((v, i) => Math.abs(v - rgb[i]) <= 40);
  for (const [x, rgb] of [[100, [255, 0, 0]], [750, [0, 0, 255]]]) {
    const points = [200, 320, 440, 560, 690].map((y) => pixel(image, x, y));
    assert.ok(points.filter((p) => near(p, rgb)).length >= 3, `bar at x=${x}: ${points}`);
  }
  const stamp = pixel(image, 4, 4);
  assert.ok(stamp[0] + stamp[1] + stamp[2] < 250, `top left ${stamp}`);
}

// The electron module as far as the README's files use it: one window whose
// page runs in this process, IPC as events, contextBridge as a plain object.
const ELECTRON_STAND_IN = `'use strict';
const { EventEmitter } = require('node:events');
const path = require('node:path');
const toMain = new EventEmitter();
const toPage = new EventEmitter();
const handlers = new Map();
const page = { world: {}, drawn: 0, image: null, rings: [], document: null, window: null };
toPage.on('video:ring', (_event, name) => page.rings.push(name));
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
class BrowserWindow extends EventEmitter {
  constructor(options) {
    super();
    this.options = options;
    this.webContents = { send: (channel, ...args) => toPage.emit(channel, {}, ...args) };
    page.window = this;
  }
  loadFile(file) {
    require(this.options.webPreferences.preload);
    const canvas = {
      width: 300, height: 150,
      getContext: () => ({
        createImageData: (width, height) => ({ width, height, data: new Uint8ClampedArray(width * height * 4) }),
        putImageData: (image) => { page.image = image; page.drawn++; },
      }),
    };
    page.document = { title: '', getElementById: (id) => (id === 'video' ? canvas : null) };
    globalThis.window = page.world;
    globalThis.document = page.document;
    globalThis.requestAnimationFrame = (callback) => setTimeout(callback, 16);
    require(path.join(path.dirname(this.options.webPreferences.preload), 'renderer.js'));
  }
  close() { this.emit('closed'); }
}
module.exports = { app, BrowserWindow, ipcMain, ipcRenderer, contextBridge, page };
`;

// Plays until the page has drawn frames and says "playing", closes the
// window, waits for the application to quit; saves what the page drew.
const ELECTRON_DRIVER = `'use strict';
const fs = require('node:fs');
const electron = require('electron');
require('./main.js');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
(async () => {
  const { page } = electron;
  const deadline = Date.now() + 30000;
  while (page.drawn < 10 || page.document.title !== 'playing') {
    if (Date.now() > deadline) throw new Error('drew ' + page.drawn + ' frames, title ' + page.document.title);
    await sleep(20);
  }
  const { width, height, data } = page.image;
  const quit = new Promise((resolve) => electron.app.once('quit', resolve));
  page.window.close();
  await quit;
  const ring = page.rings.at(-1);
  fs.writeFileSync('page.rgba', data);
  fs.writeFileSync('page.json', JSON.stringify({ width, height, drawn: page.drawn, title: page.document.title,
    ring, ringLeft: fs.existsSync('/dev/shm' + ring) }));
  process.exit(0);  // the page's animation frames would go on
})().catch((err) => { console.error(err.stack); process.exit(1); });
`;

describe('the package installed into an application', () => {
  let tmp;
  let app;
  let pkgDir;
  let packed;
  let install;

  before(async () => {
    tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-package-'));
    assert.ok(path.relative(root, tmp).startsWith('..'), `${tmp} is inside the repository`);
    const pack = await run('npm', ['pack', '--json', '--pack-destination', tmp], { cwd: root });
    assert.equal(pack.code, 0, pack.stderr);
    packed = JSON.parse(pack.stdout)[0];
    app = path.join(tmp, 'app');
    fs.mkdirSync(app);
    fs.writeFileSync(path.join(app, 'package.json'),
      JSON.stringify({ name: 'orvanel-test-app', version: '1.0.0', private: true }));
    install = await run('npm', ['install', '--no-audit', '--no-fund', '--foreground-scripts',
      path.join(tmp, packed.filename)], { cwd: app, timeout: 900000 });
    pkgDir = path.join(app, 'node_modules', 'orvanel-video-backend');
  });
  after(() => fs.rmSync(tmp, { recursive: true, force: true }));

  it('packs the sources that build, lib/, bin/ and the README, and no test, fuzz or bench file', () => {
    const files = packed.files.map((f) => f.path);
    assert.deepEqual(files.filter((f) => /^(tests|fuzz|bench)\//.test(f)), []);
    for (const f of ['package.json', 'README.md', 'CMakeLists.txt', 'src/helper/CMakeLists.txt', 'src/helper/main.cpp',
      'src/hosted_mpv/CMakeLists.txt', 'src/hosted_mpv_frame_reader/CMakeLists.txt', 'tools/orvanel_window.c',
      'lib/index.js', 'lib/index.d.ts', 'bin/orvanel-play.js', 'scripts/install.js',
      'src/engine/CMakeLists.txt', 'src/frame_ring/shm_ring.cpp', 'src/frame_ring/ring_reader.cpp']) {
      assert.ok(files.includes(f), `${f} is not in the tarball`);
    }
    // Only what builds and runs: sources, the JavaScript API, the install step.
    const stray = files.filter((f) => !/^(src|lib|bin|tools)\/|^(package\.json|README\.md|CMakeLists\.txt)$|^scripts\/(install|build_progress)\.js$/.test(f));
    assert.deepEqual(stray, []);
    assert.ok(files.length < 200, `${files.length} files`);
  });

  it('builds at install, saying what it does, and keeps only what runs', () => {
    assert.equal(install.code, 0, install.stdout + install.stderr);
    const said = install.stdout + install.stderr;
    assert.match(said, /orvanel-video-backend: building the helper and the modules with CMake/);
    assert.match(said, /orvanel-video-backend: +\[ *\d+%\] hosted_mpv \(\d+ s\)/);
    assert.match(said, /orvanel-video-backend: built in \d+ s/);
    assert.deepEqual(fs.readdirSync(path.join(pkgDir, 'build')).sort(), ['install.log', 'out']);
    assert.deepEqual(fs.readdirSync(path.join(pkgDir, 'build', 'out')).sort(), artifacts);
    assert.ok(!fs.existsSync(path.join(pkgDir, 'tests')));
  });

  it('runs there: the package resolves to the installed copy, the probe and the README off-screen example', async () => {
    const where = await run(process.execPath, ['-e',
      "const b = require('orvanel-video-backend'); console.log(require.resolve('orvanel-video-backend')); "
      + "console.log(b.outDir()); console.log(b.hostedMpv.isSupported())"], { cwd: app });
    assert.equal(where.code, 0, where.stderr);
    assert.equal(where.stdout, `${path.join(pkgDir, 'lib', 'index.js')}\n${path.join(pkgDir, 'build', 'out')}\ntrue\n`);

    const examples = readmeBlocks('example');
    fs.writeFileSync(path.join(app, 'probe.js'), examples.probe);
    const probe = await run(process.execPath, ['probe.js'], { cwd: app });
    assert.equal(probe.code, 0, probe.stderr);
    assert.equal(probe.stdout, 'usable: libmpv 2.0, egl\n');

    fs.writeFileSync(path.join(app, 'offscreen.js'), examples.offscreen);
    const offscreen = await run(process.execPath, ['offscreen.js'], { cwd: app });
    assert.equal(offscreen.code, 0, offscreen.stderr);
    assert.match(offscreen.stdout, /^playing 640x360\nframe \d+: 640x360, \d+\.\d ms old\n$/);
    assert.equal(decodeRgbPng(fs.readFileSync(path.join(app, 'frame.png'))).width, 640);
  });

  it('runs npx orvanel-play for 2 s and saves the last frame', async () => {
    // Default options: this machine has no sound device, as many of our users'.
    const r = await run('npx', ['orvanel-play', '--seconds', '2', '--png', 'f.png'], { cwd: app });
    assert.equal(r.code, 0, r.stderr);
    assert.match(r.stdout.trim().split('\n').at(-1), /^playing +\d\d:\d\d .* 1280x720$/);
    const png = decodeRgbPng(fs.readFileSync(path.join(app, 'f.png')));
    assertTestPattern({ width: png.width, channels: 3, data: png.rgb });
  });

  it('runs the README Electron files: the page draws upright frames, closing ends the helper', async () => {
    const files = readmeBlocks('electron');
    assert.deepEqual(Object.keys(files).sort(), ['main.js', 'preload.js', 'renderer.js']);
    for (const [name, code] of Object.entries(files)) fs.writeFileSync(path.join(app, name), code);
    fs.mkdirSync(path.join(app, 'node_modules', 'electron'));
    fs.writeFileSync(path.join(app, 'node_modules', 'electron', 'index.js'), ELECTRON_STAND_IN);
    // The main process and preload files against the package's declarations
    // (the in-window function included, which needs a real window to run).
    fs.writeFileSync(path.join(app, 'tsconfig.json'), JSON.stringify({
      compilerOptions: { allowJs: true, checkJs: true, noEmit: true, target: 'ES2022', module: 'commonjs',
        moduleResolution: 'node', lib: ['ES2022'], types: ['node'], typeRoots: [path.join(root, 'node_modules', '@types')],
        maxNodeModuleJsDepth: 1 },
      files: ['main.js', 'preload.js'],
    }));
    const tsc = await run(process.execPath, [path.join(root, 'node_modules', 'typescript', 'bin', 'tsc'), '-p', '.'],
      { cwd: app });
    assert.equal(tsc.code, 0, tsc.stdout + tsc.stderr);
    fs.writeFileSync(path.join(app, 'electron-run.js'), ELECTRON_DRIVER);
    const r = await run(process.execPath, ['electron-run.js'], { cwd: app });
    assert.equal(r.code, 0, r.stderr);
    const page = JSON.parse(fs.readFileSync(path.join(app, 'page.json'), 'utf8'));
    assert.equal(page.width, 1280);
    assert.equal(page.height, 720);
    assert.equal(page.title, 'playing');
    assert.match(page.ring, /^\/ompv-g\d+$/);
    assert.equal(page.ringLeft, false);
    assertTestPattern({ width: page.width, channels: 4, data: fs.readFileSync(path.join(app, 'page.rgba')) });
  });

  it('stops before compiling when Debian packages are missing, naming them and the retry', async () => {
    const fakeBin = path.join(tmp, 'fake-bin');
    fs.mkdirSync(fakeBin);
    fs.writeFileSync(path.join(fakeBin, 'dpkg-query'),
      '#!/bin/sh\ncase "$*" in *libmpv-dev*|*libxrandr-dev*) exit 1;; esac\nexec /usr/bin/dpkg-query "$@"\n',
      { mode: 0o755 });
    const r = await run(process.execPath, [path.join(pkgDir, 'scripts', 'install.js')], {
      cwd: pkgDir, env: { ...userEnv, INIT_CWD: app, PATH: `${fakeBin}:${userEnv.PATH}` },
    });
    assert.equal(r.code, 1);
    assert.equal(r.stderr, 'orvanel-video-backend: the build needs Debian packages that are not installed; '
      + 'install them and retry:\n  sudo apt-get install libmpv-dev libxrandr-dev\n'
      + '  npm rebuild orvanel-video-backend --foreground-scripts\n');
    assert.deepEqual(fs.readdirSync(path.join(pkgDir, 'build')).sort(), ['install.log', 'out']);
  });

  it('takes prebuilt artifacts instead of building, and refuses an incomplete set', async () => {
    const prebuilt = path.join(tmp, 'prebuilt');
    fs.renameSync(path.join(pkgDir, 'build', 'out'), prebuilt);
    const installStep = (dir) => run(process.execPath, [path.join(pkgDir, 'scripts', 'install.js')],
      { cwd: pkgDir, env: { ...userEnv, INIT_CWD: app, ORVANEL_PREBUILT_DIR: dir } });
    const partial = path.join(tmp, 'partial');
    fs.mkdirSync(partial);
    fs.copyFileSync(path.join(prebuilt, 'orvanel_mpv_helper'), path.join(partial, 'orvanel_mpv_helper'));
    const refused = await installStep(partial);
    assert.equal(refused.code, 1);
    assert.match(refused.stderr, /lacks hosted_mpv_frame_reader\.node, hosted_mpv\.node\n$/);

    const r = await installStep(prebuilt);
    assert.equal(r.code, 0, r.stderr);
    assert.match(r.stderr, /using the prebuilt artifacts of /);
    assert.deepEqual(fs.readdirSync(path.join(pkgDir, 'build', 'out')).sort(), artifacts);
    fs.rmSync(prebuilt, { recursive: true });  // what runs now is the copy
    fs.writeFileSync(path.join(app, 'probe.js'), readmeBlocks('example').probe);
    const probe = await run(process.execPath, ['probe.js'], { cwd: app });
    assert.equal(probe.stdout, 'usable: libmpv 2.0, egl\n', probe.stderr);
  });
});
