'use strict';
// Soak of the hosted module in this process: rounds of several sessions at
// once, created, loaded and disposed, some while loading and some while
// rendering, each with either renderer choice, with snapshots read at a high
// rate while the event threads are busy. Afterwards the process must hold no more
// threads, descriptors, X windows, shared-memory images or memory than after
// the first round.
// Short by default; ORVANEL_SOAK_SECONDS=600 (scripts/soak) runs long.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const { startXvfb, openHostWindow, sleep, waitFor, toolEnv } = require('./support/x11');
const { makeClip } = require('./support/media');
const { startStallServer } = require('./support/stall_server');
const { withRenderer } = require('./support/renderer_choice');
const {
  soakSeconds, underSanitizer, randomSource, processResources, describeGrowth, assertGrowthWithin,
  sysvShmSegments,
} = require('./soak_fixtures');

// Growth allowed from the warm-up rounds' end to the last round's: a thread
// or descriptor per session would pass a hundred; memory settles within the
// engine's, FFmpeg's and Mesa's caches, more under the sanitizer runtimes.
// CTest and scripts/soak start Node with two malloc arenas (see
// tests/CMakeLists.txt): with one per thread, the heap fragments and the
// resident size creeps up without any leak.
const MAX_GROWTH = { threads: 3, fds: 3, rssKiB: underSanitizer() ? 768 * 1024 : 96 * 1024 };
const STATUSES = new Set(['idle', 'loading', 'playing', 'paused', 'ended', 'error', 'closed']);

let hosted;
let xvfb;
let host;
let media;
let stall;
const live = new Set();
let peakShmImages = 0;

/** Every window on the test's display, from xwininfo. */
function displayWindowCount() {
  const tree = execFileSync('xwininfo', ['-root', '-tree', '-display', xvfb.display],
    { env: toolEnv(), encoding: 'utf8' });
  return tree.split('\n').filter((line) => /^\s+0x[0-9a-f]+ /.test(line)).length;
}

// `renderer`: "sw" for the software renderer, "gl" for OpenGL;
// the module reads the variable at each creation.
function create(random, renderer) {
  const bounds = { x: random.int(0, 200), y: random.int(0, 150), width: random.int(0, 320),
    height: random.int(0, 240) };
  const id = withRenderer(renderer,
    () => hosted.createSession(host.handle(), bounds, null, random.next(), ['ao=null']));
  live.add(id);
  return id;
}

function dispose(id) {
  hosted.disposeSession(id);
  live.delete(id);
}

// Reads every live session's snapshot for `ms` milliseconds in a tight loop,
// checking each one's shape; returns the number of reads.
function hammerSnapshots(ms) {
  const end = Date.now() + ms;
  let reads = 0;
  while (Date.now() < end) {
    for (const id of live) {
      const snapshot = hosted.getSessionSnapshot(id);
      assert.ok(STATUSES.has(snapshot.status), `status ${snapshot.status}`);
      assert.ok(Array.isArray(snapshot.audioTracks) && Array.isArray(snapshot.chapters));
      reads += 1;
    }
  }
  return reads;
}

// One round: three sessions at once. One is disposed while its load is
// still waiting for the server, one as soon as it renders, and one after a
// few commands while it plays.
async function round(random, renderers = [0, 1, 2].map(() => random.pick(['sw', 'gl']))) {
  const stuck = create(random, renderers[0]);
  const rendering = create(random, renderers[1]);
  const playing = create(random, renderers[2]);
  hosted.loadPlayback(stuck, { streamUrl: stall.url });
  hosted.loadPlayback(rendering, { streamUrl: media.clip });
  hosted.loadPlayback(playing, { streamUrl: media.clip, startTime: random.next() * 4 });
  let reads = hammerSnapshots(random.int(20, 120));
  assert.equal(hosted.getSessionSnapshot(stuck).status, 'loading');
  dispose(stuck);
  for (const response of stall.stalled.splice(0)) response.destroy();

  await waitFor(() => hosted.getSessionSnapshot(rendering).status === 'playing', 'playback', 20000);
  reads += hammerSnapshots(random.int(0, 60));
  dispose(rendering);

  await waitFor(() => hosted.getSessionSnapshot(playing).status === 'playing', 'playback', 20000);
  hosted.seek(playing, random.next() * 6);
  hosted.setBounds(playing, { x: 10, y: 10, width: random.int(16, 320), height: random.int(16, 240) });
  hosted.setPaused(playing, random.next() < 0.3);
  hosted.setSpeed(playing, random.pick([0.5, 1, 2]));
  reads += hammerSnapshots(random.int(50, 150));
  peakShmImages = Math.max(peakShmImages, sysvShmSegments(process.pid));
  dispose(playing);
  return reads;
}

before(async () => {
  xvfb = await startXvfb();
  host = await openHostWindow(640, 480, '20c040');
  media = await makeClip();
  // Holds every request: a load that never gets its data.
  stall = await startStallServer();
  hosted = require('../../lib/hosted_mpv');
});

after(async () => {
  for (const id of live) hosted.disposeSession(id);
  if (stall) await stall.close();
  if (media) media.remove();
  if (host) await host.close();
  if (xvfb) await xvfb.stop();
});

describe('hosted soak', () => {
  it('creates, loads and disposes sessions round after round and leaks nothing', async (t) => {
    const seconds = soakSeconds(6);
    const random = randomSource();
    t.diagnostic(`soak ${seconds} s, seed ${random.seed}`);
    const windowsBefore = displayWindowCount();

    // The module's X connection, the OpenGL driver and whatever else is made
    // once: both renderers in every role.
    await round(random, ['sw', 'gl', 'sw']);
    await round(random, ['gl', 'sw', 'gl']);
    await sleep(300);
    const baseline = processResources(process.pid);

    const deadline = Date.now() + seconds * 1000;
    let rounds = 0;
    let reads = 0;
    const readStart = Date.now();
    const rssTrail = [baseline.rssKiB];
    while (Date.now() < deadline || rounds < 3) {
      reads += await round(random);
      rounds += 1;
      if (rounds % 25 === 0) rssTrail.push(processResources(process.pid).rssKiB);
    }
    const readSeconds = (Date.now() - readStart) / 1000;
    t.diagnostic(`${rounds} rounds of 3 sessions, ${reads} snapshot reads ` +
      `(${Math.round(reads / readSeconds)} per second over the run), ` +
      `up to ${peakShmImages} shared-memory images at once`);
    t.diagnostic(`RSS every 25 rounds (KiB): ${rssTrail.join(' ')}`);

    assert.deepEqual(await host.children(), [], 'no render view left in the window');
    assert.equal(displayWindowCount(), windowsBefore, 'no window left on the display');
    assert.equal(sysvShmSegments(process.pid), 0, 'no shared-memory image left');
    await sleep(300);
    const now = processResources(process.pid);
    t.diagnostic(`resources: ${describeGrowth(baseline, now)}`);
    assertGrowthWithin(baseline, now, MAX_GROWTH);
  });
});
