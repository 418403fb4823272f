'use strict';
// How a stream ends, in both players with the options users get (default
// audio output and hwdec): one that plays out ends clean, one cut short
// (reset, closed after a stall, an HLS segment gone for good) ends with the
// engine's account of it in "error", one that recovers by itself (a segment
// that opens on a retry, or after a stall) ends clean; and the late line of a failed load never
// shows while the next, slow one opens.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { HelperClient } = require('../../lib/helper_client');
const { uniqueShmBase } = require('./helper_fixtures');
const { hostWindowForSuite, sleep, waitFor } = require('./support/x11');
const { startCutServer, SLOW_MS } = require('./support/cut_server');

const CASES = [
  { path: 'whole.mkv', error: null },
  // A reset also drops what the client had not read yet: the stream ends
  // somewhere before the 40 % the server sent.
  { path: 'reset.mkv', error: /^The stream ended early, at [01]\.\d s of 3\.\d s\.$/ },
  { path: 'stall.mkv', error: /Stream ends prematurely at \d+, should be \d+/ },
  { path: 'hls-gone/index.m3u8', error: /Failed to open segment 1 of playlist 0/ },
  { path: 'hls-once/index.m3u8', error: null },
  { path: 'hls-slow/index.m3u8', error: null },
];

// Each player as the same few calls; `seen` holds every snapshot observed
// since the last load (the helper's every line, the hosted module's polls).
function helperPlayer() {
  const helper = HelperClient.spawn({ shmBase: uniqueShmBase('ends'), width: 320, height: 240 });
  const player = { seen: [] };
  helper.on('snapshot', (s) => player.seen.push(s));
  return Object.assign(player, {
    load(url) { player.seen = []; helper.load(url); },
    current: () => player.seen[player.seen.length - 1],
    close: () => helper.close(),
  });
}

function hostedPlayer(hosted, handle) {
  const id = hosted.createSession(handle, { x: 0, y: 0, width: 320, height: 240 }, null, 1, []);
  const player = { seen: [] };
  const poll = setInterval(() => player.seen.push(hosted.getSessionSnapshot(id)), 20);
  return Object.assign(player, {
    load(url) { player.seen = []; hosted.loadPlayback(id, { streamUrl: url }); },
    current: () => hosted.getSessionSnapshot(id),
    close() { clearInterval(poll); hosted.disposeSession(id); },
  });
}

async function settle(player, status, what, timeoutMs = 15000) {
  await waitFor(() => player.current()?.status === status, () => `${what}: ${status}, ` +
    `last ${JSON.stringify(player.current())}`, timeoutMs);
  await sleep(400);  // the engine's lines arrive after its events
  const s = player.current();
  assert.equal(s.status, status, what);
  return s;
}

function checkEnds(makePlayer) {
  let server;
  let player;
  before(async () => {
    server = await startCutServer();
    player = makePlayer();
  });
  after(async () => {
    await player.close();
    await server.close();
  });

  it('ends a cut stream with the engine\'s account of it, and one that played out clean', async () => {
    for (const c of CASES) {
      player.load(server.url(c.path));
      const s = await settle(player, 'ended', c.path);
      if (c.error) assert.match(s.error ?? '', c.error, c.path);
      else assert.equal(s.error, undefined, `${c.path}: ${s.error}`);
      assert.equal(s.errorOrigin, undefined, c.path);
      assert.ok(player.seen.every((x) => x.status === 'ended' || x.error === undefined),
        `${c.path}: an error before the end`);
    }
  });

  it('never shows a failed load\'s late line while the next, slow load opens', async () => {
    // Replaced once it failed, and replaced at once while it fails.
    for (const waitForFailure of [true, false, true, false]) {
      player.load(server.url('missing.mkv'));
      if (waitForFailure) await waitFor(() => player.current()?.status === 'error', 'the 404 failing');
      const started = Date.now();
      player.load(server.url('slow.mkv'));
      await waitFor(() => player.current()?.status === 'playing', 'the slow load playing', 15000);
      assert.ok(Date.now() - started >= SLOW_MS - 100, 'the slow load was slow');
      const stale = player.seen.filter((x) => x.error !== undefined);
      assert.deepEqual(stale.map((x) => `${x.status}: ${x.error}`), []);
    }
  });
}

describe('stream ends', () => {
  describe('helper', () => checkEnds(helperPlayer));

  describe('hosted_mpv', () => {
    const hostWindow = hostWindowForSuite(640, 480, '102030');
    checkEnds(() => hostedPlayer(require('../../lib/hosted_mpv'), hostWindow.host.handle()));
  });
});
