#!/usr/bin/env node
'use strict';
// npm's "install" step: builds the helper and the two Node-API modules into
// build/out when this package is installed as an application's dependency
// (from a tarball, a git URL or a path). Plain CMake, no build driver: the
// modules are Node-API 8, so they need no per-Node or per-Electron headers
// (node-api-headers comes from npm) and one build serves every runtime.
//
// - In the package's own checkout (npm ci there) it builds nothing:
//   scripts/build does that, with the tests, when npm test or npm start runs.
// - ORVANEL_PREBUILT_DIR (or `npm install --orvanel-prebuilt-dir=DIR`) names a
//   directory of built artifacts to copy instead of building.
// - Missing system packages fail the install with one message saying what
//   to install; nothing here needs root.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { runWithProgress } = require('./build_progress');

const root = path.resolve(__dirname, '..');
const buildDir = path.join(root, 'build');
const outDir = path.join(buildDir, 'out');
const required = ['orvanel_mpv_helper', 'hosted_mpv_frame_reader.node', 'hosted_mpv.node'];
// The window of `orvanel-play --hosted`; an application does not need it.
const optional = ['orvanel_window'];
const retry = 'npm rebuild orvanel-video-backend --foreground-scripts';

// What the build and the helper need on Debian and Ubuntu (scripts/bootstrap
// installs these and the test tools).
const debianPackages = [
  'build-essential', 'cmake', 'pkg-config', 'libmpv-dev',
  'libegl-dev', 'libgl-dev', 'libopengl-dev', 'libx11-dev', 'libxext-dev', 'libxrandr-dev',
  'libegl-mesa0', 'libgl1-mesa-dri',
];

function say(text) {
  process.stderr.write(`orvanel-video-backend: ${text}\n`);
}

function fail(text) {
  say(text);
  process.exit(1);
}

function inside(dir, parent) {
  const rel = path.relative(parent, dir);
  return rel === '' || (!rel.startsWith('..') && !path.isAbsolute(rel));
}

function runs(command, args) {
  try {
    execFileSync(command, args, { stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
}

/** @returns {string[]} install hints for what is missing, empty when all is there */
function missingSystemPackages() {
  if (runs('dpkg-query', ['--version'])) {
    return debianPackages.filter((p) => {
      try {
        return !execFileSync('dpkg-query', ['-W', '-f=${Status}', p], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] })
          .includes('install ok installed');
      } catch {
        return true;
      }
    });
  }
  // Elsewhere: ask the tools themselves and name what is missing.
  const missing = [];
  for (const tool of ['cmake', 'make', 'pkg-config']) if (!runs(tool, ['--version'])) missing.push(tool);
  if (!runs('c++', ['--version'])) missing.push('a C++20 compiler (c++)');
  for (const lib of ['mpv', 'egl', 'opengl', 'x11', 'xext', 'xrandr']) {
    if (!runs('pkg-config', ['--exists', lib])) missing.push(`${lib} development files`);
  }
  return missing;
}

function copyPrebuilt(dir) {
  const absent = required.filter((f) => !fs.existsSync(path.join(dir, f)));
  if (absent.length) fail(`the prebuilt directory ${dir} lacks ${absent.join(', ')}`);
  fs.mkdirSync(outDir, { recursive: true });
  for (const f of [...required, ...optional]) {
    if (fs.existsSync(path.join(dir, f))) fs.copyFileSync(path.join(dir, f), path.join(outDir, f));
  }
  say(`using the prebuilt artifacts of ${dir} (copied into ${outDir})`);
}

function headerDir(pkg) {
  try {
    return path.dirname(require.resolve(`${pkg}/package.json`, { paths: [root] }));
  } catch {
    // npm leaves a linked path dependency's own dependencies out.
    return fail(`${pkg} is missing. Installed from a path? Install it with --install-links, `
      + `or run npm ci in ${root} first`);
  }
}

async function build() {
  const missing = missingSystemPackages();
  if (missing.length) {
    fail(runs('dpkg-query', ['--version'])
      ? `the build needs Debian packages that are not installed; install them and retry:\n  sudo apt-get install ${missing.join(' ')}\n  ${retry}`
      : `the build needs: ${missing.join(', ')}; install them and retry: ${retry}`);
  }
  const configure = ['cmake', '-S', root, '-B', buildDir,
    `-DORVANEL_NODE_API_HEADERS=${path.join(headerDir('node-api-headers'), 'include')}`,
    `-DORVANEL_NODE_ADDON_API=${headerDir('node-addon-api')}`];
  // A checkout that already has a build of its own (a path dependency on a
  // developer's clone) keeps its configuration and its intermediate files.
  const cache = path.join(buildDir, 'CMakeCache.txt');
  const fresh = !fs.existsSync(cache);
  if (fresh) configure.push('-DORVANEL_TESTS=OFF');
  const ours = fresh || fs.readFileSync(cache, 'utf8').includes('ORVANEL_TESTS:BOOL=OFF');
  const jobs = process.env.CMAKE_BUILD_PARALLEL_LEVEL || String(os.availableParallelism?.() ?? os.cpus().length);
  const log = path.join(buildDir, 'install.log');
  say(`building the helper and the modules with CMake (a minute or two; log in ${log})`);
  const ok = await runWithProgress(['sh', '-c', '"$@" && exec cmake --build "$0" --parallel "$JOBS"',
    buildDir, ...configure], { log, retry, say, env: { ...process.env, JOBS: jobs } });
  if (!ok) process.exit(1);
  const absent = required.filter((f) => !fs.existsSync(path.join(outDir, f)));
  if (absent.length) fail(`the build ended without ${absent.join(', ')} in ${outDir}`);
  // Only out/ runs; the objects are five times its size, and an application
  // would pack them.
  if (ours) {
    for (const entry of fs.readdirSync(buildDir)) {
      if (entry !== 'out' && entry !== 'install.log') fs.rmSync(path.join(buildDir, entry), { recursive: true, force: true });
    }
  }
  say(`ready: ${outDir}`);
}

async function main() {
  const initCwd = process.env.INIT_CWD;
  if (initCwd && inside(path.resolve(initCwd), root)) {
    say('own checkout: nothing built at install (npm start and npm test build with scripts/build)');
    return;
  }
  const prebuilt = process.env.ORVANEL_PREBUILT_DIR || process.env.npm_config_orvanel_prebuilt_dir;
  if (prebuilt) {
    copyPrebuilt(path.resolve(initCwd || process.cwd(), prebuilt));
    return;
  }
  await build();
}

main();
