'use strict';
// The package as an application gets it: packed, installed from the tarball
// into a fresh project outside the repository (dependencies from the npm
// registry, npm's install step building with CMake), and run from there: the
// runtime probe, the README's off-screen example and `npx orvanel-play`.
// Then the install step's two other roads: missing Debian packages and
// prebuilt artifacts. (The Electron files of docs/electron.md run in
// readme_examples.test.js.)
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFile } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { decodeRgbPng } = require('../../lib/png');
const { docBlocks } = require('./support/readme');

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

  it('packs the sources that build, lib/, bin/, the README and docs/, and no test, fuzz or bench file', () => {
    const files = packed.files.map((f) => f.path);
    assert.deepEqual(files.filter((f) => /^(tests|fuzz|bench)\//.test(f)), []);
    for (const f of ['package.json', 'README.md', 'CMakeLists.txt', 'src/helper/CMakeLists.txt', 'src/helper/main.cpp',
      'src/hosted_mpv/CMakeLists.txt', 'src/hosted_mpv_frame_reader/CMakeLists.txt', 'tools/orvanel_window.c',
      'lib/index.js', 'lib/index.d.ts', 'bin/orvanel-play.js', 'scripts/install.js',
      'src/engine/CMakeLists.txt', 'src/frame_ring/shm_ring.cpp', 'src/frame_ring/ring_reader.cpp',
      ...fs.readdirSync(path.join(root, 'docs')).map((f) => `docs/${f}`)]) {
      assert.ok(files.includes(f), `${f} is not in the tarball`);
    }
    // Only what builds and runs: sources, the JavaScript API, the install
    // step; and the documentation.
    const stray = files.filter((f) => !/^(src|lib|bin|tools)\/|^(package\.json|README\.md|CMakeLists\.txt)$|^scripts\/(install|build_progress)\.js$|^docs\/[\w-]+\.md$/.test(f));
    assert.deepEqual(stray, []);
    // A guard against a whole tree packed by mistake, not a budget (208 files now).
    assert.ok(files.length < 300, `${files.length} files`);
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

    const examples = docBlocks('example', ['offscreen', 'probe']);
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
    fs.writeFileSync(path.join(app, 'probe.js'), docBlocks('example', ['probe']).probe);
    const probe = await run(process.execPath, ['probe.js'], { cwd: app });
    assert.equal(probe.stdout, 'usable: libmpv 2.0, egl\n', probe.stderr);
  });
});
