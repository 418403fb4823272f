'use strict';
// A Node process of its own for tests/js/hosted_workers.test.js: its main
// thread and its workers load hosted_mpv and the frame reader, the workers
// are terminated in the middle of their work without disposing anything, and
// the main thread counts what the process holds before, during and after.
// It prints one JSON line "result <json>" and then ends by itself, leaving a
// session of its own main thread playing, so that the module's clean-up at
// the end of the process is exercised too.
//
// Configuration (JSON in ORVANEL_WORKERS_CONFIG): window (the host window's
// id), clip (a file), stallUrl (a URL that never answers), rings (two frame
// ring names crafted by the test), eglCountFile (what tests/tools/egl_counter
// writes). The renderer comes from ORVANEL_HOSTED_MPV_RENDERER as usual.
const { Worker, isMainThread, parentPort, workerData } = require('node:worker_threads');
const fs = require('node:fs');
const { execFileSync } = require('node:child_process');
const x11 = require('./x11');
const { sleep } = x11;

const config = JSON.parse(process.env.ORVANEL_WORKERS_CONFIG);
// Playing, also without a sound device: the status says so and the position moves.
const isPlaying = (snapshot) => snapshot.positionSeconds > 0.2 && snapshot.status === 'playing';
const waitFor = (probe, what, timeoutMs = 20000) => x11.waitFor(probe, what, timeoutMs);

function windowHandle() {
  const buffer = Buffer.alloc(4);
  buffer.writeUInt32LE(config.window);
  return buffer;
}

// ---- worker side ----------------------------------------------------------

const NOT_FOUND = 'Hosted MPV session not found.';

// What a worker sees of session ids that are not its own.
function probeForeign(hosted, ids) {
  return ids.map((id) => {
    let command;
    try {
      hosted.setPaused(id, true);
      command = 'no error';
    } catch (error) {
      command = error.message;
    }
    return { id, snapshot: hosted.getSessionSnapshot(id), command,
      dispose: hosted.disposeSession(id) };
  });
}

async function runWorker() {
  const { role } = workerData;
  if (role === 'reader') {
    const reader = require('../../../lib/frame_reader');
    const info = reader.open(workerData.ring);
    parentPort.postMessage({ stage: 'open', width: info.width, latestSeq: reader.latestSeq() });
    parentPort.on('message', () => parentPort.postMessage({ latestSeq: reader.latestSeq() }));
    setInterval(() => {}, 1000);  // stays until terminated
    return;
  }
  const hosted = require('../../../lib/hosted_mpv');
  // Default options, as users get them (no ao=null on a machine without sound).
  const id = hosted.createSession(windowHandle(), { x: 20, y: 20, width: 320, height: 240 }, null,
    0.5);
  const status = () => hosted.getSessionSnapshot(id).status;
  if (role === 'loading') {
    hosted.loadPlayback(id, { streamUrl: config.stallUrl });
    await sleep(300);  // the engine is connected and waiting for data
    parentPort.postMessage({ stage: 'loading', id, status: status() });
  } else {
    hosted.loadPlayback(id, { streamUrl: config.clip });
    await waitFor(() => isPlaying(hosted.getSessionSnapshot(id)),
      () => `playback: ${JSON.stringify(hosted.getSessionSnapshot(id))}`);
    await sleep(300);  // a few frames rendered
    parentPort.postMessage({ stage: 'playing', id, status: status() });
  }
  if (role === 'dispose') {
    hosted.disposeSession(id);
    return;  // the worker ends by itself
  }
  parentPort.on('message', (message) => {
    const seen = probeForeign(hosted, message.foreign);
    const own = hosted.getSessionSnapshot(id);
    parentPort.postMessage({ foreign: seen, ownStatus: own.status,
      ownPosition: own.positionSeconds });
  });
  setInterval(() => {}, 1000);  // stays until terminated
}

// ---- main thread ----------------------------------------------------------

function displayWindowCount() {
  const env = { ...process.env };
  delete env.LD_PRELOAD;
  const tree = execFileSync('xwininfo', ['-root', '-tree'], { env, encoding: 'utf8' });
  return tree.split('\n').filter((line) => /^\s+0x[0-9a-f]+ /.test(line)).length;
}

function eglCounts() {
  const text = fs.existsSync(config.eglCountFile) ? fs.readFileSync(config.eglCountFile, 'utf8') : '';
  const [contexts = 0, surfaces = 0, windowsUnderSurface = 0] = text.trim().split(/\s+/)
    .filter(Boolean).map(Number);
  return { contexts, surfaces, windowsUnderSurface };
}

function counts() {
  const { processResources, sysvShmSegments } = require('../soak_fixtures');
  const resources = processResources(process.pid);
  const maps = fs.readFileSync('/proc/self/maps', 'utf8');
  return {
    threads: resources.threads,
    fds: resources.fds,
    windows: displayWindowCount(),
    shmSegments: sysvShmSegments(process.pid),
    ...eglCounts(),
    ringMappings: config.rings.filter((name) => maps.includes(`/dev/shm${name}`)).length,
  };
}

function start(role, extra = {}) {
  const worker = new Worker(__filename, { workerData: { role, ...extra } });
  const messages = [];
  let waiting = null;
  worker.on('message', (message) => {
    messages.push(message);
    if (waiting) waiting();
  });
  worker.on('error', (error) => {
    messages.push({ error: String(error.stack || error) });
    if (waiting) waiting();
  });
  const exited = new Promise((resolve) => worker.on('exit', resolve));
  const next = async () => {
    while (messages.length === 0) await new Promise((resolve) => { waiting = resolve; });
    waiting = null;
    const message = messages.shift();
    if (message.error) throw new Error(`worker ${role}: ${message.error}`);
    return message;
  };
  return { worker, next, exited };
}

async function main() {
  const hosted = require('../../../lib/hosted_mpv');
  const reader = require('../../../lib/frame_reader');
  const result = {};

  // Warm-up: whatever is made once per process (the view thread and its
  // connection, EGL's connection, the driver's threads, the engine's global
  // state), and a worker that disposes its session and ends by itself.
  const warm = hosted.createSession(windowHandle(), { x: 0, y: 0, width: 160, height: 120 }, null,
    0.5);
  hosted.loadPlayback(warm, { streamUrl: config.clip });
  await waitFor(() => isPlaying(hosted.getSessionSnapshot(warm)),
    () => `warm-up playback: ${JSON.stringify(hosted.getSessionSnapshot(warm))}`);
  hosted.disposeSession(warm);
  const polite = start('dispose');
  await polite.next();
  result.politeExit = await polite.exited;
  await sleep(500);
  result.baseline = counts();

  // Terminated mid-load and mid-render, at the same time.
  const loading = start('loading');
  const rendering = start('rendering');
  const loadingState = await loading.next();
  const renderingState = await rendering.next();
  result.stages = [loadingState.status, renderingState.status];
  result.fromMain = [hosted.getSessionSnapshot(loadingState.id),
    hosted.getSessionSnapshot(renderingState.id)];
  result.duringFirst = counts();
  await Promise.all([loading.worker.terminate(), rendering.worker.terminate()]);

  // Two workers starting to play at the same moment, each probing the
  // other's session.
  const first = start('pair');
  const second = start('pair');
  const [a, b] = await Promise.all([first.next(), second.next()]);
  const positionBefore = (await (first.worker.postMessage({ foreign: [] }), first.next()))
    .ownPosition;
  second.worker.postMessage({ foreign: [a.id, loadingState.id, renderingState.id] });
  first.worker.postMessage({ foreign: [b.id] });
  result.seenBySecond = await second.next();
  result.seenByFirst = await first.next();
  await sleep(500);
  first.worker.postMessage({ foreign: [] });
  const firstLater = await first.next();
  result.firstAfterProbe = { status: firstLater.ownStatus, positionBefore,
    positionAfter: firstLater.ownPosition };
  result.duringPair = counts();
  await Promise.all([first.worker.terminate(), second.worker.terminate()]);

  // Readers in two workers at once, each with its own ring; the main
  // thread's reader has none open.
  const readerA = start('reader', { ring: config.rings[0] });
  const readerB = start('reader', { ring: config.rings[1] });
  result.readers = [await readerA.next(), await readerB.next()];
  result.mainReaderSeq = reader.latestSeq();
  result.duringReaders = counts();
  await Promise.all([readerA.worker.terminate(), readerB.worker.terminate()]);

  // Everything the terminated workers held goes with them; threads end
  // asynchronously, so wait for the counts to settle.
  const settled = () => {
    const now = counts();
    const base = result.baseline;
    return now.threads <= base.threads && now.fds <= base.fds && now.windows === base.windows &&
      now.shmSegments === base.shmSegments && now.contexts === base.contexts &&
      now.surfaces === base.surfaces && now.ringMappings === 0 && now;
  };
  try {
    await waitFor(settled, 'resources released', 15000);
  } catch {
    // reported below with the counts as they are
  }
  result.after = counts();

  // The main thread leaves a session playing and lets the process end.
  const last = hosted.createSession(windowHandle(), { x: 0, y: 0, width: 160, height: 120 }, null,
    0.5);
  hosted.loadPlayback(last, { streamUrl: config.clip });
  await waitFor(() => isPlaying(hosted.getSessionSnapshot(last)), 'last playback');
  process.stdout.write(`result ${JSON.stringify(result)}\n`);
}

if (isMainThread) {
  main().catch((error) => {
    process.stderr.write(`${error.stack}\n`);
    process.exit(1);  // workers may still be running
  });
} else {
  runWorker().catch((error) => {
    throw error;
  });
}
