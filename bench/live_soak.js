'use strict';
// Live sources played for a while in both players, with the options users
// get: MPEG-TS over UDP pushed by ffmpeg in real time, and HLS live whose
// window slides on every 2 s (one segment in ten answered 2.5 s late).
//
//   node bench/live_soak.js [SECONDS] [--quick]     (default 60 s each, --quick 15)
//
// Baseline in the same run: the same player playing a local MPEG-TS file of
// the same pictures for as long. Printed per player and source: dropped
// frames, waits for data, the position's advance per second of wall time,
// and the player's CPU per second as a ratio to the baseline (the helper: its
// process; the hosted module: this process, which holds its engines).
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const { startXvfb, openHostWindow } = require('../tests/js/support/x11');
const { startUdpSource, startHlsLive } = require('../tests/js/support/live_sources');

const seconds = Number(process.argv.find((a) => /^\d+$/.test(a))) || (common.quick ? 15 : 60);
let host;
let hosted;

// One player behind one face: load, the newest snapshot, its CPU so far.
function helperPlayer() {
  const helper = HelperClient.spawn({ shmBase: `/ompv-bench-${process.pid}-live${Math.random()}`.replace('.', ''),
    width: 320, height: 240, keepEvents: false, env: common.toolEnv() });
  return { load: (url) => helper.load(url), snapshot: () => helper.lastSnapshot ?? {},
    cpu: () => common.cpuSeconds(helper.pid), close: () => helper.close() };
}

function hostedPlayer() {
  const id = hosted.createSession(host.handle(), { x: 0, y: 0, width: 320, height: 240 }, null, 1);
  return { load: (url) => hosted.loadPlayback(id, { streamUrl: url }),
    snapshot: () => hosted.getSessionSnapshot(id), cpu: common.ownCpuSeconds,
    close: async () => hosted.disposeSession(id) };
}

async function play(open, url) {
  const player = open();
  try {
    player.load(url);
    const deadline = common.now() + 30;
    while (player.snapshot().status !== 'playing' || !(player.snapshot().positionSeconds > 0)) {
      if (common.now() > deadline) throw new Error(`not playing: ${JSON.stringify(player.snapshot())}`);
      await common.sleep(20);
    }
    const start = { t: common.now(), cpu: player.cpu(), position: player.snapshot().positionSeconds,
      drops: player.snapshot().stats?.droppedFrames ?? 0 };
    let waits = 0;
    let waiting = false;
    let errors = 0;
    while (common.now() - start.t < seconds) {
      const s = player.snapshot();
      if (s.buffering && !waiting) waits += 1;
      waiting = s.buffering;
      if (s.status !== 'playing') errors += 1;
      await common.sleep(20);
    }
    const s = player.snapshot();
    const wall = common.now() - start.t;
    return { drops: (s.stats?.droppedFrames ?? 0) - start.drops, waits, notPlayingPolls: errors,
      advancePerSecond: (s.positionSeconds - start.position) / wall, cpuPerSecond: (player.cpu() - start.cpu) / wall };
  } finally {
    await player.close();
  }
}

async function main() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'live-soak-'));
  const local = path.join(dir, 'local.ts');
  execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc2=size=320x240:rate=25',
    '-f', 'lavfi', '-i', 'sine=f=440', '-t', String(seconds + 30), '-c:v', 'libx264', '-preset', 'ultrafast',
    '-g', '25', '-c:a', 'aac', '-f', 'mpegts', local]);
  const xvfb = await startXvfb();
  host = await openHostWindow(640, 480, '000000');
  hosted = require('../lib/hosted_mpv');
  console.log(`live_soak: ${seconds} s each; load average ${common.machine().loadAverage.join(' ')}`);
  const results = [];
  try {
    for (const [name, open] of [['helper', helperPlayer], ['hosted', hostedPlayer]]) {
      const baseline = await play(open, local);
      const udp = await startUdpSource();
      const udpRun = await play(open, udp.url).finally(() => udp.stop());
      const hls = await startHlsLive({ seconds: seconds + 30, window: 4, late: 8, lateMs: 2500 });
      const hlsRun = await play(open, hls.url).finally(() => hls.close());
      for (const [source, run] of [['local file', baseline], ['UDP', udpRun], ['HLS live', hlsRun]]) {
        const cpuRatio = run.cpuPerSecond / baseline.cpuPerSecond;
        results.push({ player: name, source, ...run, cpuRatio });
        console.log(`  ${name} ${source}: ${run.drops} dropped, ${run.waits} waits, `
          + `${run.notPlayingPolls} polls not playing, position ${run.advancePerSecond.toFixed(3)} s per s, `
          + `CPU ${cpuRatio.toFixed(2)} × the local file (${(run.cpuPerSecond * 100).toFixed(1)} %)`);
      }
    }
  } finally {
    await host.close();
    await xvfb.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
  const file = common.writeResult('live_soak', { seconds, results, loadAverageAfter: common.machine().loadAverage });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
