'use strict';
// Live sources in both players, with the options users get (no ao=null,
// default hwdec): MPEG-TS over UDP pushed by ffmpeg in real time, whose
// signal is cut for 5 s and comes back (the snapshot shows the wait, playback
// goes on), then cut for good (the load ends in error once the default bound
// of 10 s runs out); and HLS live whose window slides on every 2 s, one
// segment arriving late. Each runs about 15 to 25 s; bench/live_soak.js plays
// them for minutes.
const { describe, it, before } = require('node:test');
const assert = require('node:assert/strict');
const { HelperClient } = require('../../lib/helper_client');
const { uniqueShmBase } = require('./helper_fixtures');
const { hostWindowForSuite, waitFor, sleep } = require('./support/x11');
const { startUdpSource, startHlsLive } = require('./support/live_sources');
const { makeClip } = require('./support/media');
const { execFile } = require('node:child_process');
const { promisify } = require('node:util');
const path = require('node:path');
const os = require('node:os');
const fs = require('node:fs');

const BOUND_SECONDS = 10;
const hostWindow = hostWindowForSuite(640, 480, '000000');
let hosted;

before(() => {
  hosted = require('../../lib/hosted_mpv');
});

// The two players behind one face: load a URL, then wait for a snapshot, or
// see every snapshot (the helper's lines; the module's, read every 10 ms).
async function helperPlayer(options = {}) {
  const helper = HelperClient.spawn({ shmBase: uniqueShmBase('live'), width: 320, height: 240,
    mpvOptions: options });
  return {
    load: (url) => helper.load(url),
    until: (predicate, what, timeoutMs) => helper.waitForSnapshot(predicate, timeoutMs)
      .catch((error) => { throw new Error(`${what}: ${error.message}`); }),
    latest: () => helper.lastSnapshot,
    watch: (seen) => {
      helper.on('snapshot', seen);
      return () => helper.off('snapshot', seen);
    },
    close: () => helper.close(),
  };
}

async function hostedPlayer(options = {}) {
  const id = hosted.createSession(hostWindow.host.handle(), { x: 0, y: 0, width: 320, height: 240 }, null, 1,
    Object.entries(options).map(([key, value]) => `${key}=${value}`));
  return {
    load: (url) => hosted.loadPlayback(id, { streamUrl: url }),
    until: (predicate, what, timeoutMs) => waitFor(() => {
      const s = hosted.getSessionSnapshot(id);
      return predicate(s) && s;
    }, () => `${what}: ${JSON.stringify(hosted.getSessionSnapshot(id))}`, timeoutMs),
    latest: () => hosted.getSessionSnapshot(id),
    watch: (seen) => {
      const timer = setInterval(() => seen(hosted.getSessionSnapshot(id)), 10);
      return () => clearInterval(timer);
    },
    close: async () => hosted.disposeSession(id),
  };
}

const drops = (s) => s.stats?.droppedFrames ?? 0;
// Both engines drop late frames when the machine is loaded, whatever the
// source: the helper 2 to 6 in 15 s of HLS live here (none with
// framedrop=no), the hosted module 4 in 10 s under the full suite with its
// sanitizer build beside it; in bench/live_soak at load 6.5 over 60 s 27 on
// a local file, 4 on UDP, 0 on HLS live. So frames dropped count against the
// live source only while the machine had half a core to spare.
const HELPER_HLS_DROPS = 'the helper drops late frames on a loaded machine, from any source';
// The machine's idle and total ticks so far, from /proc/stat.
const cpuTimes = () => {
  const [, ...ticks] = fs.readFileSync('/proc/stat', 'utf8').split('\n')[0].trim().split(/\s+/);
  const n = ticks.map(Number);
  return { idle: n[3] + n[4], total: n.reduce((a, b) => a + b, 0) };
};
// The cores busy between two cpuTimes() readings.
const busyCores = (from, to) =>
  (1 - (to.idle - from.idle) / Math.max(1, to.total - from.total)) * os.cpus().length;
const seconds = (since) => ((Date.now() - since) / 1000).toFixed(2);

for (const [name, open] of [['helper', helperPlayer], ['hosted module', hostedPlayer]]) {
  describe(`live sources in the ${name}`, () => {
    it('shows a cut UDP signal as a wait, plays on when it returns and ends in error when it never does',
      async (t) => {
        const source = await startUdpSource();
        const player = await open();
        try {
          player.load(source.url);
          const steady = await player.until((s) => s.status === 'playing' && s.positionSeconds > 1,
            'playing', 20000);
          // A loaded machine can drain the thin live buffer for a moment (a
          // real wait, shown as one) and drop a late frame: both are the
          // machine's, so the steady stretch only has to end out of any wait.
          const before = await player.until((s) => s.positionSeconds > steady.positionSeconds + 3
            && s.buffering === false, '3 s of steady playback', 10000);
          t.diagnostic(`frames dropped over 3 s of a steady source: ${drops(before) - drops(steady)}`);

          let cut = Date.now();
          source.cut();
          const waiting = await player.until((s) => s.buffering === true, 'the wait for data', 5000);
          t.diagnostic(`buffering ${seconds(cut)} s after the cut, fill ${waiting.bufferingPercent}`);
          assert.equal(waiting.status, 'playing', JSON.stringify(waiting));
          await sleep(5000 - (Date.now() - cut));
          assert.equal(player.latest().status, 'playing', 'a wait within the bound is no end');
          const restored = Date.now();
          source.restore();
          await player.until((s) => s.buffering === false, 'the wait to end', 5000);
          t.diagnostic(`buffering over ${seconds(restored)} s after the signal returned`);
          const resumed = player.latest().positionSeconds;
          const playing = await player.until((s) => s.status === 'playing' && !s.buffering
            && s.positionSeconds > resumed + 2, 'playback after the wait', 10000);
          assert.equal('error' in playing, false, playing.error);

          cut = Date.now();
          source.cut();
          const ended = await player.until((s) => s.status === 'error', 'the end of a silent source',
            (BOUND_SECONDS + 5) * 1000);
          t.diagnostic(`error ${seconds(cut)} s after the signal stopped for good: ${ended.error}`);
          assert.equal(ended.error, `Stream stopped: no data for ${BOUND_SECONDS} s.`);
          assert.equal(ended.buffering, false, JSON.stringify(ended));
          // Ended for good: the engine let the source go, so data coming
          // back later plays nothing.
          source.restore();
          await sleep(1500);
          assert.equal(player.latest().status, 'error');
          assert.equal(player.latest().positionSeconds, ended.positionSeconds);
        } finally {
          await player.close();
          await source.stop();
        }
      });

    it('plays on within 2 s when the encoder restarts and its timestamps start over', async (t) => {
      const source = await startUdpSource();
      const player = await open();
      try {
        player.load(source.url);
        const before = await player.until((s) => s.status === 'playing' && s.positionSeconds > 4,
          'playing', 20000);
        const firstPacket = await source.restartEncoder(1000);
        // The new encoder's timeline starts near 0: playing on means moving
        // from where the old one stopped or from the start of the new one.
        const frozen = player.latest().positionSeconds;
        const resumed = await player.until((s) => s.status !== 'playing'
          || Math.abs(s.positionSeconds - frozen) > 0.25, 'playback after the restart', 15000);
        const seconds = (Date.now() - firstPacket) / 1000;
        t.diagnostic(`moving again ${seconds.toFixed(2)} s after the new encoder's first packet `
          + `(${before.positionSeconds.toFixed(2)} -> ${resumed.positionSeconds.toFixed(2)})`);
        assert.equal(resumed.status, 'playing', JSON.stringify(resumed));
        assert.ok(seconds < 2, `frozen ${seconds.toFixed(2)} s after the data came back`);
      } finally {
        await player.close();
        await source.stop();
      }
    });

    it('lets a channel switched to just before the bound runs out play on', async (t) => {
      const bound = 3;
      const source = await startUdpSource();
      const player = await open({ 'stall-timeout': bound });
      const next = 'av://lavfi:testsrc2=size=320x240:rate=25';
      try {
        player.load(source.url);
        await player.until((s) => s.status === 'playing' && s.positionSeconds > 1, 'playing', 20000);
        source.cut();
        const waiting = await player.until((s) => s.buffering === true, 'the wait for data', 5000);
        // The viewer gives up on the hung channel a moment before the bound.
        await sleep(bound * 1000 - 150);
        assert.equal(player.latest().status, 'playing', JSON.stringify(player.latest()));
        player.load(next);
        const switched = Date.now();
        const end = await player.until((s) => s.status === 'error' || (s.status === 'playing'
          && s.streamUrl === next && s.positionSeconds > bound + 1), 'the new channel playing', 15000);
        t.diagnostic(`switched ${bound * 1000 - 150} ms into a wait that began at fill `
          + `${waiting.bufferingPercent}; new channel at ${end.positionSeconds.toFixed(2)} s `
          + `${seconds(switched)} s later`);
        assert.equal(end.status, 'playing', JSON.stringify(end));
        assert.equal('error' in end, false, end.error);
      } finally {
        await player.close();
        await source.stop();
      }
    });

    it('waits through a live HLS server outage, reloading, and ends in error once it never returns',
      async (t) => {
        // A window of two segments: the engine holds at most 4 s ahead, so
        // a 4 s outage outlasts what it holds and its reloads are refused.
        const live = await startHlsLive({ seconds: 80, window: 2 });
        const player = await open();
        const seen = [];
        const stopWatching = player.watch((s) => seen.push(s));
        try {
          player.load(live.url);
          await player.until((s) => s.status === 'playing' && s.positionSeconds > 2, 'playing', 20000);
          assert.equal(player.latest().durationSeconds, null, 'a live source has no duration');
          seen.length = 0;
          const away = Date.now();
          await live.goAway(4000);
          // libavformat gives the source up at its first failed reload; the
          // wait shows once what the engine holds has played.
          const waited = await player.until((s) => s.buffering === true || s.status !== 'playing',
            'the wait for data', 15000);
          const waitedAt = Date.now();
          assert.equal(waited.status, 'playing', JSON.stringify(waited));
          await sleep(away + 4000 - Date.now());
          const back = Math.max(Date.now(), away + 4000);
          const resumed = await player.until((s) => s.status !== 'playing' || s.buffering === false,
            'the end of the wait', 15000);
          const resumedAt = Date.now();
          const moving = await player.until((s) => s.status !== 'playing'
            || s.positionSeconds > resumed.positionSeconds + 0.5, 'playback going on', 10000);
          t.diagnostic(`the wait began ${((waitedAt - away) / 1000).toFixed(2)} s after the `
            + `server went away; it ended ${((resumedAt - back) / 1000).toFixed(2)} s after the server `
            + `came back (${seen.length} snapshots)`);
          for (const s of seen) {
            assert.equal(s.status === 'playing' || s.status === 'paused', true, JSON.stringify(s));
            assert.equal('error' in s, false, s.error);
            assert.equal(s.durationSeconds, null, JSON.stringify(s));
          }
          assert.equal(moving.status, 'playing', JSON.stringify(moving));
          // Reloads go out at most a second apart; a sanitizer build's
          // player opens the reload more slowly, so it gets a second more.
          const limitMs = process.env.ORVANEL_SANITIZER ? 3000 : 2000;
          assert.ok(resumedAt - back < limitMs, `waiting ${((resumedAt - back) / 1000).toFixed(2)} s `
            + 'after the server came back');

          const gone = Date.now();
          await live.goAway(Infinity);
          const ended = await player.until((s) => s.status !== 'playing', 'the end of the outage',
            (BOUND_SECONDS + 8) * 1000);
          t.diagnostic(`error ${seconds(gone)} s after the server went away for good: ${ended.error}`);
          assert.equal(ended.status, 'error', JSON.stringify(ended));
          // The engine's last words name what failed: the playlist it could not open.
          assert.match(ended.error, new RegExp(`^Stream stopped: no data for ${BOUND_SECONDS} s \\(.*live\\.m3u8.*\\)\\.$`));
          assert.equal(ended.buffering, false, JSON.stringify(ended));
        } finally {
          stopWatching();
          await player.close();
          await live.close();
        }
      });

    it('shows nothing of the file a load replaces, from the load on', async (t) => {
      // The replaced file: 12 s of 640x360 with one audio track; the new
      // one (makeClip): 8 s of 320x240, two audio tracks, two chapters.
      const media = await makeClip();
      const old = path.join(media.dir, 'old.mp4');
      await promisify(execFile)('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i',
        'testsrc2=size=640x360:rate=25', '-f', 'lavfi', '-i', 'sine=f=330', '-t', '12',
        '-c:v', 'libx264', '-preset', 'ultrafast', '-c:a', 'aac', old]);
      const player = await open();
      const seen = [];
      let stopWatching = () => {};
      try {
        player.load(old);
        await player.until((s) => s.status === 'playing' && s.positionSeconds > 3
          && s.durationSeconds > 11, 'the first file playing', 20000);
        stopWatching = player.watch((s) => seen.push(s));
        player.load(media.clip);
        await player.until((s) => s.streamUrl === media.clip && s.status === 'playing'
          && s.positionSeconds > 1 && s.durationSeconds !== null, 'the new file playing', 20000);
        stopWatching();
        const fresh = seen.filter((s) => s.streamUrl === media.clip);
        t.diagnostic(`${seen.length} snapshots after the load, ${fresh.length} of the new file; `
          + `statuses ${[...new Set(seen.map((s) => s.status))].join(', ')}`);
        // The helper's lines all come after the load; the module's first
        // read may come before it reached the module.
        if (name === 'helper') assert.equal(fresh.length, seen.length, 'every line names the new URL');
        const firstFresh = seen.indexOf(fresh[0]);
        for (const s of seen.slice(firstFresh)) {
          const what = JSON.stringify(s);
          assert.equal(s.streamUrl, media.clip, what);
          assert.ok(s.status === 'loading' || s.status === 'playing', what);
          assert.ok(s.durationSeconds === null || Math.abs(s.durationSeconds - 8) < 0.5, what);
          assert.ok(s.positionSeconds < 3, what);
          assert.ok(s.videoWidth === undefined || s.videoWidth === 0 || s.videoWidth === 320, what);
          assert.ok(s.audioTracks.length === 0 || s.audioTracks.length === 2, what);
        }
      } finally {
        stopWatching();
        await player.close();
        media.remove();
      }
    });

    let hlsDrops = null;
    let hlsBusy = 0;
    it('plays HLS live with a sliding window, one segment arriving late', async (t) => {
      const live = await startHlsLive({ window: 4, late: 5, lateMs: 2500 });
      const player = await open();
      const cpuFrom = cpuTimes();
      try {
        player.load(live.url);
        const start = await player.until((s) => s.status === 'playing' && s.positionSeconds > 0,
          'playing', 20000);
        // Past the late segment and beyond, over segments that came and went.
        const end = await player.until((s) => s.status !== 'playing' || (live.servedLate()
          && s.positionSeconds > start.positionSeconds + 10), 'ten seconds of live playback', 30000);
        t.diagnostic(`${JSON.stringify({ from: start.positionSeconds, to: end.positionSeconds,
          droppedFrames: drops(end), buffering: end.buffering })}`);
        assert.equal(end.status, 'playing', end.error);
        assert.equal('error' in end, false, end.error);
        hlsDrops = drops(end);
        hlsBusy = busyCores(cpuFrom, cpuTimes());
      } finally {
        await player.close();
        await live.close();
      }
    });

    it('drops no frames of HLS live', { todo: name === 'helper' && HELPER_HLS_DROPS }, (t) => {
      const cores = `${hlsBusy.toFixed(1)} of ${os.cpus().length} cores busy`;
      if (hlsBusy > os.cpus().length - 0.5) {
        t.skip(`the machine was loaded (${cores}); ${hlsDrops} frames dropped`);
        return;
      }
      t.diagnostic(cores);
      assert.equal(hlsDrops, 0, `frames dropped with ${cores}`);
    });
  });
}
