'use strict';
// A viewer zapping among live channels, in both players, with the options
// users get but a stall bound of 4 s (to keep the run short):
//
//   node bench/zapping.js [SWITCHES] [--quick]     (default 30 switches per player, --quick 10)
//
// Channels, all served on 127.0.0.1 by the same run: MPEG-TS over UDP; HLS
// live (2 s segments, a window of 4); a UDP channel that hangs 2 s after
// each tune (its relay stops forwarding); a UDP channel whose encoder
// restarts every 6 s (timestamps start over); and the baseline, a local
// MPEG-TS file of the same pictures. Each switch loads the next channel of a
// fixed shuffled order and stays 3 to 5 s, or on the hung channel either
// until 0.2 s before the bound runs out (the worst instant to leave) or past
// it (every third visit: there the error is the right outcome).
//
// Printed per player: time to the first frame per channel (median [min–max],
// and as a ratio to the local file's in the same run), wrong errors (an
// error anywhere but on the hung channel past its bound: must be 0) and
// stops of a channel that was not stalled (a playing channel that stopped
// playing without being switched away: must be 0).
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const { startXvfb, openHostWindow } = require('../tests/js/support/x11');
const { startUdpSource, startHlsLive } = require('../tests/js/support/live_sources');

const switches = Number(process.argv.find((a) => /^\d+$/.test(a))) || (common.quick ? 10 : 30);
const boundSeconds = 4;
const options = { 'stall-timeout': String(boundSeconds) };
let host;
let hosted;

function helperPlayer() {
  const helper = HelperClient.spawn({ shmBase: `/ompv-bench-${process.pid}-zap`, width: 320, height: 240,
    keepEvents: false, env: common.toolEnv(), mpvOptions: options });
  return { load: (url) => helper.load(url), snapshot: () => helper.lastSnapshot ?? {},
    close: () => helper.close() };
}

function hostedPlayer() {
  const id = hosted.createSession(host.handle(), { x: 0, y: 0, width: 320, height: 240 }, null, 1,
    Object.entries(options).map(([k, v]) => `${k}=${v}`));
  return { load: (url) => hosted.loadPlayback(id, { streamUrl: url }),
    snapshot: () => hosted.getSessionSnapshot(id), close: async () => hosted.disposeSession(id) };
}

// A fixed shuffled order of channel names, never the same one twice running.
function order(names, count) {
  let seed = 7;
  const picked = [];
  while (picked.length < count) {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    const name = names[seed % names.length];
    if (name !== picked.at(-1)) picked.push(name);
  }
  return picked;
}

// One visit: load, wait for the first frame, stay. What went wrong is counted.
async function visit(player, channel, visitIndex) {
  const started = common.now();
  channel.tuned?.();
  player.load(channel.url);
  const result = { channel: channel.name, firstFrameSeconds: NaN, wrongError: null, wrongStop: null };
  let firstPosition = null;
  let playing = false;
  let waitStarted = null;
  const hungPastBound = channel.name === 'hung' && visitIndex % 3 === 2;
  const dwell = 3 + (visitIndex % 3);
  for (;;) {
    await common.sleep(20);
    const s = player.snapshot();
    const now = common.now();
    if (s.streamUrl !== channel.url) continue;  // the previous channel's last snapshot
    if (s.status === 'playing' && Number.isFinite(s.positionSeconds)) {
      if (firstPosition === null) firstPosition = s.positionSeconds;
      if (Number.isNaN(result.firstFrameSeconds) && Math.abs(s.positionSeconds - firstPosition) >= 0.04) {
        result.firstFrameSeconds = now - started;
      }
      playing = true;
    }
    if (s.buffering && waitStarted === null) waitStarted = now;
    if (!s.buffering) waitStarted = null;
    const stalledByBound = channel.name === 'hung' && s.error?.startsWith('Stream stopped');
    if (s.status === 'error' && !(stalledByBound && hungPastBound)) {
      result.wrongError = s.error;
      break;
    }
    if (playing && ['ended', 'idle'].includes(s.status)) {
      result.wrongStop = s.status;
      break;
    }
    if (channel.name === 'hung') {
      if (!hungPastBound && waitStarted !== null && now - waitStarted >= boundSeconds - 0.2) break;
      if (hungPastBound && s.status === 'error') break;
      if (now - started > 30) break;
    } else if (now - started >= dwell && !Number.isNaN(result.firstFrameSeconds)) {
      break;
    } else if (now - started > 30) {
      break;
    }
  }
  return result;
}

async function zap(open, channels) {
  const player = open();
  const byName = Object.fromEntries(channels.map((c) => [c.name, c]));
  const visits = [];
  try {
    const names = order(channels.map((c) => c.name), switches);
    for (let i = 0; i < names.length; i++) visits.push(await visit(player, byName[names[i]], i));
  } finally {
    await player.close();
  }
  return visits;
}

async function main() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zapping-'));
  const local = path.join(dir, 'local.ts');
  execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc2=size=320x240:rate=25',
    '-f', 'lavfi', '-i', 'sine=f=440', '-t', '60', '-c:v', 'libx264', '-preset', 'ultrafast',
    '-g', '25', '-c:a', 'aac', '-f', 'mpegts', local]);
  const udp = await startUdpSource();
  const hls = await startHlsLive({ seconds: 600, window: 4 });
  const hung = await startUdpSource();
  const restarting = await startUdpSource();
  let restarts = true;
  const restartLoop = (async () => {
    while (restarts) {
      await common.sleep(6000);
      if (restarts) await restarting.restartEncoder(500);
    }
  })();
  let hangTimer = null;
  const channels = [
    { name: 'local file', url: local },
    { name: 'UDP', url: udp.url },
    { name: 'HLS live', url: hls.url },
    { name: 'hung', url: hung.url, tuned() {
      clearTimeout(hangTimer);
      hung.restore();
      hangTimer = setTimeout(() => hung.cut(), 2000);
    } },
    { name: 'encoder restarts', url: restarting.url },
  ];
  const xvfb = await startXvfb();
  host = await openHostWindow(640, 480, '000000');
  hosted = require('../lib/hosted_mpv');
  console.log(`zapping: ${switches} switches per player, stall bound ${boundSeconds} s; `
    + `load average ${common.machine().loadAverage.join(' ')}`);
  const results = [];
  try {
    for (const [name, open] of [['helper', helperPlayer], ['hosted', hostedPlayer]]) {
      const visits = await zap(open, channels);
      const first = (channel) => common.summarize(visits.filter((v) => v.channel === channel)
        .map((v) => v.firstFrameSeconds));
      const baseline = first('local file').median;
      const wrongErrors = visits.filter((v) => v.wrongError !== null);
      const wrongStops = visits.filter((v) => v.wrongStop !== null);
      console.log(`  ${name}: wrong errors ${wrongErrors.length}, stops of a channel not stalled `
        + `${wrongStops.length}`);
      for (const v of [...wrongErrors, ...wrongStops]) console.log(`    ${JSON.stringify(v)}`);
      for (const channel of channels.map((c) => c.name)) {
        const summary = first(channel);
        console.log(`    ${channel}: first frame ${common.show(summary, 2)} s, `
          + `${(summary.median / baseline).toFixed(2)} × the local file`);
        results.push({ player: name, channel, firstFrame: summary, ratio: summary.median / baseline });
      }
      results.push({ player: name, wrongErrors: wrongErrors.length, wrongStops: wrongStops.length, visits });
    }
  } finally {
    restarts = false;
    clearTimeout(hangTimer);
    await restartLoop;
    await host.close();
    await xvfb.stop();
    await Promise.all([udp.stop(), hls.close(), hung.stop(), restarting.stop()]);
    fs.rmSync(dir, { recursive: true, force: true });
  }
  const file = common.writeResult('zapping', { switches, boundSeconds, results });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
