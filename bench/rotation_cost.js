'use strict';
// What rotation metadata costs the helper's software render path, where the
// engine's renderer is kept from turning frames and the engine's filter chain
// turns the decoded picture instead.
//
//   node bench/rotation_cost.js [--quick]
//
// The 1280 × 720 H.264 clip of the other benchmarks, and copies of it whose
// stream says rotate=180 and rotate=90 (made with ffmpeg -c copy), played by
// the helper as users get it with untimed=yes and audio=no, in a box that
// fits either orientation (1280 × 1280, so every variant draws 921 600
// pixels). Alternating, several rounds: frames published per second (the
// ring's latestSeq) and the helper's CPU per frame from the 10th to the
// 5th-last frame, each as a ratio to the upright clip in the same round.
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const reader = require('../lib/frame_reader');

const { quick, summarize, show } = common;
const rate = 30;
const clipSeconds = 10;
const firstCounted = 10;
const lastCounted = rate * clipSeconds - 5;
const rounds = quick ? 2 : 5;
const angles = [0, 180, 90];
let helperCount = 0;

async function run(file) {
  const helper = HelperClient.spawn({ width: 1280, height: 1280, keepEvents: false, env: common.toolEnv(),
    shmBase: `/ompv-bench-${process.pid}-rot${++helperCount}`, mpvOptions: { untimed: 'yes', audio: 'no' } });
  try {
    await helper.waitFor((e) => e.event === 'hello', 20000);
    helper.load(file);
    let openName = null;
    let start = null;
    let last = common.now();
    let lastSeq = 0;
    for (;;) {
      await common.sleep(1);
      if (helper.exitStatus) throw new Error(`helper ended: ${helper.stderrText}`);
      if (helper.lastShm && helper.lastShm.name !== openName &&
        helper.lastShm.width * helper.lastShm.height === 1280 * 720) {
        reader.open(helper.lastShm.name);
        openName = helper.lastShm.name;
        start = null;
      }
      if (!openName) continue;
      const seq = reader.latestSeq();
      if (seq !== lastSeq) {
        lastSeq = seq;
        last = common.now();
      } else if (common.now() - last > 5) {
        throw new Error(`no frame for 5 s after seq ${seq}`);
      }
      if (!start && seq >= firstCounted) start = { t: common.now(), cpu: common.cpuSeconds(helper.pid), seq };
      if (start && seq >= start.seq + (lastCounted - firstCounted)) {
        const frames = seq - start.seq;
        const seconds = common.now() - start.t;
        return { fps: frames / seconds, cpuMsPerFrame: ((common.cpuSeconds(helper.pid) - start.cpu) * 1000) / frames,
          size: `${helper.lastShm.width}x${helper.lastShm.height}` };
      }
    }
  } finally {
    reader.close();
    await helper.close();
  }
}

async function main() {
  const upright = await common.clip({ width: 1280, height: 720, rate, seconds: clipSeconds });
  const files = { 0: upright };
  for (const angle of angles.slice(1)) {
    files[angle] = upright.replace(/\.mp4$/, `-rotate${angle}.mp4`);
    if (!fs.existsSync(files[angle])) {
      execFileSync('ffmpeg', ['-v', 'error', '-y', '-i', upright, '-c', 'copy', '-metadata:s:v:0',
        `rotate=${angle}`, files[angle]]);
    }
  }
  console.log(`rotation_cost: ${rounds} rounds; load average ${common.machine().loadAverage.join(' ')}`);
  const runs = Object.fromEntries(angles.map((a) => [a, []]));
  for (let r = 0; r < rounds; r += 1) {
    for (const angle of r % 2 === 0 ? angles : [...angles].reverse()) runs[angle].push(await run(files[angle]));
    console.log(`  round ${r + 1}: ${angles.map((a) => `rotate=${a} ${runs[a].at(-1).fps.toFixed(1)} fps `
      + `${runs[a].at(-1).cpuMsPerFrame.toFixed(2)} ms CPU/frame (${runs[a].at(-1).size})`).join('; ')}`);
  }
  const results = [];
  for (const angle of angles.slice(1)) {
    const fpsRatio = summarize(runs[angle].map((run, i) => run.fps / runs[0][i].fps));
    const cpuRatio = summarize(runs[angle].map((run, i) => run.cpuMsPerFrame / runs[0][i].cpuMsPerFrame));
    results.push({ angle, fpsRatio, cpuRatio });
    console.log(`rotate=${angle} ÷ upright: fps ${show(fpsRatio, 2)}, CPU per frame ${show(cpuRatio, 2)}`);
  }
  const file = common.writeResult('rotation_cost', { rounds, results,
    loadAverageAfter: common.machine().loadAverage });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
