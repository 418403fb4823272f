'use strict';
// hosted_mpv and the frame reader in several Node environments at once:
// sessions and rings belong to the worker that made them, are invisible to
// the others, and go with it when it is terminated in the middle of its work,
// on both render paths. The scenario runs in a process of its own
// (support/hosted_workers_child.js), with tests/tools/egl_counter preloaded to
// count EGL contexts and surfaces, so that its exit is checked too.
// Also here: the software frame's bound (the screen's size, at most 8192 a
// side), with views just inside and just outside it.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { artifactPath } = require('../../lib/native');
const { startXvfb, openHostWindow, waitFor } = require('./support/x11');
const { makeClip } = require('./support/media');
const { startStallServer } = require('./support/stall_server');
const { withRenderer } = require('./support/renderer_choice');

// Wider than the 8192 cap, so that both limits can be crossed: the cap in
// width, the screen's size in height.
const SCREEN_WIDTH = 8200;
const SCREEN_HEIGHT = 600;
const MAX_SIDE = 8192;
const NOT_FOUND = 'Hosted MPV session not found.';

let xvfb;
let host;
let media;
let stall;
const rings = [`/ompv-wk-${process.pid}-a`, `/ompv-wk-${process.pid}-b`];
let scratch;

// A frame ring as the helper leaves it after publishing `latestSeq`, with a
// frame of `width` × 2 pixels.
function craftRing(name, width, latestSeq) {
  const height = 2;
  const frameBytes = width * 4 * height;
  const segment = Buffer.alloc(4096 + 3 * frameBytes);
  segment.writeUInt32LE(0x564d5046, 0);
  segment.writeUInt32LE(1, 4);
  segment.writeUInt32LE(width, 8);
  segment.writeUInt32LE(height, 12);
  segment.writeUInt32LE(width * 4, 16);
  segment.writeUInt32LE(1, 20);
  segment.writeBigUInt64LE(BigInt(frameBytes), 24);
  segment.writeBigUInt64LE(4096n, 32);
  segment.writeBigUInt64LE(BigInt(latestSeq), 40);
  segment.writeBigUInt64LE(BigInt(latestSeq), 56 + 16 * (latestSeq % 3));
  fs.writeFileSync(path.join('/dev/shm', name.slice(1)), segment, { mode: 0o600 });
}

// Runs the scenario process; resolves with its exit, output and result.
function runScenario(renderer) {
  const eglCountFile = path.join(scratch, `egl-${renderer}`);
  const env = { ...process.env };
  const preload = [env.LD_PRELOAD, artifactPath('egl_counter.so')].filter(Boolean).join(':');
  env.LD_PRELOAD = preload;
  env.ORVANEL_EGL_COUNT_FILE = eglCountFile;
  env.ORVANEL_WORKERS_CONFIG = JSON.stringify({ window: host.id, clip: media.clip, stallUrl: stall.url,
    rings, eglCountFile });
  // Forced both ways: without a GPU the default is the software path.
  env.ORVANEL_HOSTED_MPV_RENDERER = renderer;
  // Mesa's shader disk cache runs threads per screen ("disk$N") that the
  // driver ends when it sees fit, not when a context goes: they would count
  // as ours. The cache plays no part in what is checked here.
  env.MESA_SHADER_CACHE_DISABLE = 'true';
  const child = spawn(process.execPath, [path.join(__dirname, 'support/hosted_workers_child.js')],
    { env, stdio: ['ignore', 'pipe', 'pipe'] });
  let stdout = '';
  let stderr = '';
  child.stdout.on('data', (d) => { stdout += d; });
  child.stderr.on('data', (d) => { stderr += d; });
  return new Promise((resolve) => {
    const timer = setTimeout(() => child.kill('SIGKILL'), 180000);
    child.on('exit', (code, signal) => {
      clearTimeout(timer);
      const line = stdout.split('\n').find((l) => l.startsWith('result '));
      const egl = fs.existsSync(eglCountFile) ? fs.readFileSync(eglCountFile, 'utf8') : '';
      resolve({ code, signal, stderr, result: line ? JSON.parse(line.slice(7)) : null,
        eglAtExit: egl.trim().split(/\s+/).filter(Boolean).map(Number) });
    });
  });
}

function describeCounts(c) {
  return `threads ${c.threads}, fds ${c.fds}, windows ${c.windows}, MIT-SHM ${c.shmSegments}, ` +
    `EGL contexts ${c.contexts}, EGL surfaces ${c.surfaces}, ring mappings ${c.ringMappings}`;
}

function checkScenario(t, renderer, run) {
  t.diagnostic(`${renderer} exit ${run.code} ${run.signal ?? ''}`);
  assert.equal(run.signal, null, run.stderr);
  assert.equal(run.code, 0, run.stderr);
  assert.doesNotMatch(run.stderr, /AddressSanitizer|runtime error:/);
  const r = run.result;
  assert.ok(r, `no result; stderr: ${run.stderr}`);
  for (const [name, c] of [['baseline', r.baseline], ['mid-load + mid-render workers', r.duringFirst],
    ['two playing workers', r.duringPair], ['two reader workers', r.duringReaders],
    ['after terminating them', r.after]]) {
    t.diagnostic(`${renderer} ${name}: ${describeCounts(c)}`);
  }
  assert.equal(r.politeExit, 0);

  // The workers really held sessions: views, threads and, on the OpenGL
  // path, an EGL context and surface each (no silent fallback).
  assert.equal(r.stages[0], 'loading');
  assert.equal(r.duringFirst.windows, r.baseline.windows + 2);
  assert.ok(r.duringFirst.threads >= r.baseline.threads + 8, describeCounts(r.duringFirst));
  if (renderer === 'gl') {
    assert.equal(r.duringFirst.contexts, r.baseline.contexts + 2);
    assert.equal(r.duringFirst.surfaces, r.baseline.surfaces + 2);
  } else {
    assert.equal(r.duringFirst.contexts, 0);
    assert.ok(r.duringFirst.shmSegments >= r.baseline.shmSegments + 1);
  }

  // Nobody sees another environment's sessions.
  assert.deepEqual(r.fromMain, [null, null]);
  const foreign = [...r.seenBySecond.foreign, ...r.seenByFirst.foreign];
  assert.equal(foreign.length, 4);
  for (const seen of foreign) {
    assert.equal(seen.snapshot, null, seen.id);
    assert.equal(seen.command, NOT_FOUND, seen.id);
    assert.equal(seen.dispose, undefined, seen.id);
  }
  // The other worker's disposeSession of its id did not touch it.
  assert.notEqual(r.firstAfterProbe.status, 'closed');
  assert.ok(r.firstAfterProbe.positionAfter > r.firstAfterProbe.positionBefore,
    JSON.stringify(r.firstAfterProbe));

  // Each reader worker has its own ring; the main thread's reader none.
  assert.deepEqual(r.readers.map((m) => [m.width, m.latestSeq]), [[4, 5], [8, 7]]);
  assert.equal(r.mainReaderSeq, 0);
  assert.equal(r.duringReaders.ringMappings, 2);

  // Nothing of the terminated workers is left.
  const { after: a, baseline: b } = r;
  assert.ok(a.threads <= b.threads, `threads: ${describeCounts(b)} -> ${describeCounts(a)}`);
  assert.ok(a.fds <= b.fds, `fds: ${describeCounts(b)} -> ${describeCounts(a)}`);
  assert.equal(a.windows, b.windows, 'X windows');
  assert.equal(a.shmSegments, b.shmSegments, 'MIT-SHM segments');
  assert.equal(a.contexts, b.contexts, 'EGL contexts');
  assert.equal(a.surfaces, b.surfaces, 'EGL surfaces');
  assert.equal(a.ringMappings, 0, 'ring mappings');
  assert.equal(a.windowsUnderSurface, 0, 'a window was destroyed before its EGL surface');

  // The session the main thread left playing was torn down when the process
  // ended (its environment's clean-up), surface before window.
  if (renderer === 'gl') {
    t.diagnostic(`gl at exit: EGL contexts, surfaces, windows under a surface ${run.eglAtExit}`);
    assert.deepEqual(run.eglAtExit, [0, 0, 0]);
  }
}

before(async () => {
  xvfb = await startXvfb(`${SCREEN_WIDTH}x${SCREEN_HEIGHT}x24`);
  host = await openHostWindow(640, 480, '20c040');
  media = await makeClip();
  stall = await startStallServer();
  scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'hosted-workers-'));
  craftRing(rings[0], 4, 5);
  craftRing(rings[1], 8, 7);
});

after(async () => {
  if (stall) await stall.close();
  for (const name of rings) fs.rmSync(path.join('/dev/shm', name.slice(1)), { force: true });
  if (scratch) fs.rmSync(scratch, { recursive: true, force: true });
  if (media) media.remove();
  if (host) await host.close();
  if (xvfb) await xvfb.stop();
});

describe('hosted_mpv and the frame reader in worker threads', () => {
  for (const renderer of ['sw', 'gl']) {
    it(`${renderer}: terminated workers leave nothing behind, see nothing of each other, and ` +
      'the process exits cleanly', async (t) => {
      checkScenario(t, renderer, await runScenario(renderer));
    });
  }
});

/** Sizes of the System V shared-memory segments that process `pid` made. */
function shmSegmentSizes(pid) {
  const lines = fs.readFileSync('/proc/sysvipc/shm', 'utf8').trim().split('\n').slice(1);
  return lines.map((line) => line.trim().split(/\s+/))
    .filter((fields) => Number(fields[4]) === pid).map((fields) => Number(fields[3]));
}

describe('software frame bound', () => {
  it('draws views beyond the screen or the cap at the bound, with the video in the middle',
    async (t) => {
      const hosted = require('../../lib/hosted_mpv');
      const id = withRenderer('sw', () => hosted.createSession(host.handle(),
        { x: 0, y: 0, width: MAX_SIDE, height: 16 }, null, 0.5));
      try {
        hosted.loadPlayback(id, { streamUrl: media.clip });
        await waitFor(() => hosted.getSessionSnapshot(id).status === 'playing'
          && hosted.getSessionSnapshot(id).positionSeconds > 0.2, 'playback', 20000);
        // The frame (and so its MIT-SHM image) of each view: just inside and
        // just outside the cap in width and the screen in height, in an
        // order where each step changes the size.
        const steps = [
          [{ x: 0, y: 0, width: MAX_SIDE, height: 16 }, MAX_SIDE * 4 * 16],
          [{ x: 0, y: 0, width: 64, height: SCREEN_HEIGHT + 1 }, 64 * 4 * SCREEN_HEIGHT],
          [{ x: 0, y: 0, width: MAX_SIDE + 1, height: 16 }, MAX_SIDE * 4 * 16],
          [{ x: 0, y: 0, width: 64, height: SCREEN_HEIGHT }, 64 * 4 * SCREEN_HEIGHT],
        ];
        for (const [bounds, bytes] of steps) {
          hosted.setBounds(id, bounds);
          await waitFor(() => {
            const sizes = shmSegmentSizes(process.pid);
            return sizes.length === 1 && sizes[0] === bytes;
          }, `a ${bytes}-byte image for ${JSON.stringify(bounds)} (have ${shmSegmentSizes(process.pid)})`);
          t.diagnostic(`view ${bounds.width}x${bounds.height}: image of ${bytes} bytes`);
        }

        // A view of 20000 × 20000 placed so that its middle is the window's
        // middle: the frame is 8192 × 600, the 4:3 video fitted into it is
        // 800 × 600, and it must cover the window.
        const big = 20000;
        const frameX = (big - MAX_SIDE) / 2;
        const frameY = (big - SCREEN_HEIGHT) / 2;
        hosted.setBounds(id, { x: 320 - frameX - MAX_SIDE / 2, y: 240 - frameY - SCREEN_HEIGHT / 2,
          width: big, height: big });
        await waitFor(() => shmSegmentSizes(process.pid)[0] === MAX_SIDE * 4 * SCREEN_HEIGHT,
          'the bounded image of the big view');
        const isVideo = ([r, g, b]) => Math.max(r, g, b) > 24 &&
          !(Math.abs(r - 0x20) < 12 && Math.abs(g - 0xc0) < 12 && Math.abs(b - 0x40) < 12);
        await waitFor(async () => {
          const picture = await host.capture();
          let video = 0;
          let points = 0;
          for (let y = 40; y < 480; y += 80) {
            for (let x = 40; x < 640; x += 80) {
              points += 1;
              if (isVideo(picture.at(x, y))) video += 1;
            }
          }
          t.diagnostic(`big view: ${video} of ${points} sample points show video`);
          return video >= points * 0.6;
        }, 'video in the middle of the big view');
      } finally {
        hosted.disposeSession(id);
      }
      assert.deepEqual(shmSegmentSizes(process.pid), []);
    });
});
