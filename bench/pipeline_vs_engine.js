'use strict';
// The off-screen pipeline against the engine alone.
//
//   node bench/pipeline_vs_engine.js [--quick]
//
// 1. As fast as the engine can: the same H.264 clip (1280 × 720 and
//    1920 × 1080, 30 fps) played with the engine options untimed=yes and
//    audio=no, once by the helper (frames published into its ring, counted
//    through the reader's latestSeq) and once by engine_fbo_fps (the engine
//    rendering into a framebuffer object, no read-back, no publication). Both
//    count from the 10th frame to the 5th-last one, alternating, several
//    rounds. Goal: the helper at 0.9 or more of the engine's rate.
// 2. At real time (no untimed): the age of each new frame when a reader
//    polling every millisecond first sees it, the age of the newest frame at
//    each tick of a 60 Hz display clock, and the helper's CPU time per
//    delivered frame. Goal: median age under one frame interval plus 5 ms.
const path = require('node:path');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const reader = require('../lib/frame_reader');

const { quick, summarize, show } = common;
const { rate, clipSeconds, firstCounted, lastCounted } = common.countedClip;
const rounds = quick ? 3 : 9;  // short runs, many rounds: the load on this machine drifts
const realTimeRounds = quick ? 1 : 2;
const sizes = [[1280, 720], [1920, 1080]];

let helperCount = 0;

async function engineRun(file, width, height) {
  const result = await common.engineFboRun(file, width, height);
  if (result.frames < lastCounted - firstCounted) throw new Error(`engine rendered only ${result.framesRendered} frames`);
  return result;
}

/**
 * One helper playing `file`. Untimed: frames published per second from the
 * 10th to the 5th-last frame and the helper's CPU time over that stretch.
 * Real time: also the ages a polling reader sees.
 */
async function helperRun(file, width, height, untimed) {
  // The OpenGL pipeline against the engine drawing with OpenGL alone (the
  // software path is measured against its own limit in ffmpeg_vs_helper).
  const helper = HelperClient.spawn({
    width, height, keepEvents: false, env: { ...common.toolEnv(), ORVANEL_HELPER_RENDERER: 'gl' },
    shmBase: `/ompv-bench-${process.pid}-${++helperCount}`,
    mpvOptions: untimed ? { untimed: 'yes', audio: 'no' } : { audio: 'no' },
  });
  try {
    await helper.waitFor((e) => e.event === 'hello', 20000);
    helper.load(file);
    let openName = null;
    let frame = null;
    let seenSeq = 0;
    let start = null;
    let end = null;
    let lastChange = common.now();
    const firstSeenAges = [];
    const displayAges = [];
    let newestStamp = null;  // publication time of the newest frame seen, seconds
    let torn = 0;
    const tick = untimed ? 2 : 1;
    const displayInterval = 1 / 60;
    let nextDisplay = 0;
    for (;;) {
      await common.sleep(tick);
      const t = common.now();
      if (helper.exitStatus) throw new Error(`helper ended: ${helper.stderrText}`);
      const opened = common.openAnnouncedRing(helper, openName);
      if (opened) ({ name: openName, frame } = opened);
      if (!openName) continue;
      const seq = reader.latestSeq();
      if (seq !== seenSeq) {
        seenSeq = seq;
        lastChange = t;
        if (!untimed) {
          const copy = reader.copyLatest(frame);
          if (copy) {
            if (copy.torn) torn += 1;
            if (start) firstSeenAges.push(copy.ageMs);
            newestStamp = common.now() - copy.ageMs / 1000;
          }
        }
        if (!start && seq >= firstCounted) {
          start = { t, cpu: common.cpuSeconds(helper.pid), seq };
          nextDisplay = t;
        } else if (start && seq <= lastCounted) {
          end = { t, cpu: common.cpuSeconds(helper.pid), seq };
        }
        if (seq >= lastCounted) break;
      }
      if (start && newestStamp !== null && t >= nextDisplay) {
        displayAges.push((t - newestStamp) * 1000);
        nextDisplay += displayInterval * Math.max(1, Math.ceil((t - nextDisplay) / displayInterval));
      }
      // A helper that cannot keep up at real time drops frames, and the clip
      // ends before the last counted number.
      if (end && helper.lastSnapshot?.status === 'ended' && t - lastChange > 1) break;
      if (t - lastChange > 5) throw new Error(`no frame for 5 s after seq ${seenSeq}`);
    }
    const frames = end.seq - start.seq;
    const seconds = end.t - start.t;
    const cpu = end.cpu - start.cpu;
    return { frames, seconds, fps: frames / seconds, cpuSeconds: cpu, cpuMsPerFrame: (cpu * 1000) / frames,
      firstSeenAges, displayAges, torn };
  } finally {
    reader.close();
    await helper.close();
  }
}

async function main() {
  console.log(`pipeline_vs_engine: ${rounds} rounds, clip ${clipSeconds} s at ${rate} fps${quick ? ' (quick)' : ''}`);
  const loadBefore = common.machine().loadAverage;
  const results = [];
  for (const [width, height] of sizes) {
    const file = await common.clip({ width, height, rate, seconds: clipSeconds });
    const engine = [];
    const helper = [];
    const ratios = [];
    for (let r = 0; r < rounds; r += 1) {
      // Alternate which side goes first, so a drift of the load hits both.
      const pair = {};
      for (const side of r % 2 === 0 ? ['engine', 'helper'] : ['helper', 'engine']) {
        pair[side] = side === 'engine' ? await engineRun(file, width, height)
          : await helperRun(file, width, height, true);
      }
      engine.push(pair.engine);
      helper.push(pair.helper);
      ratios.push(pair.helper.fps / pair.engine.fps);
      console.log(`  ${width}x${height} round ${r + 1}: engine ${pair.engine.fps.toFixed(1)} fps `
        + `(${pair.engine.cpuMsPerFrame.toFixed(2)} ms CPU/frame), helper ${pair.helper.fps.toFixed(1)} fps `
        + `(${pair.helper.cpuMsPerFrame.toFixed(2)} ms CPU/frame), ratio ${ratios.at(-1).toFixed(3)}`);
    }

    const realTime = [];
    for (let r = 0; r < realTimeRounds; r += 1) realTime.push(await helperRun(file, width, height, false));
    const firstSeen = summarize(realTime.flatMap((run) => run.firstSeenAges));
    const display = summarize(realTime.flatMap((run) => run.displayAges));
    const realTimeCpu = summarize(realTime.map((run) => run.cpuMsPerFrame));
    const realTimeFps = summarize(realTime.map((run) => run.fps));

    const entry = {
      size: `${width}x${height}`,
      untimed: {
        engineFps: summarize(engine.map((run) => run.fps)),
        helperFps: summarize(helper.map((run) => run.fps)),
        ratio: summarize(ratios),
        engineCpuMsPerFrame: summarize(engine.map((run) => run.cpuMsPerFrame)),
        helperCpuMsPerFrame: summarize(helper.map((run) => run.cpuMsPerFrame)),
        cpuRatio: summarize(engine.map((run, i) => run.cpuMsPerFrame / helper[i].cpuMsPerFrame)),
        goal: 0.9,
      },
      realTime: {
        fps: realTimeFps,
        helperCpuMsPerFrame: realTimeCpu,
        firstSeenAgeMs: firstSeen,
        displayAgeMs: display,
        tornFrames: realTime.reduce((sum, run) => sum + run.torn, 0),
        goalMedianAgeMs: 1000 / rate + 5,
      },
    };
    results.push(entry);
    const u = entry.untimed;
    console.log(`${entry.size} untimed: engine ${show(u.engineFps)} fps, helper ${show(u.helperFps)} fps`);
    console.log(`  ratio helper/engine ${show(u.ratio, 3)} (goal >= 0.9)`);
    console.log(`  CPU per frame: engine ${show(u.engineCpuMsPerFrame, 2)} ms, helper ${show(u.helperCpuMsPerFrame, 2)} ms`
      + ` (engine/helper ${show(u.cpuRatio, 3)})`);
    const rt = entry.realTime;
    console.log(`${entry.size} real time: ${show(rt.fps)} fps delivered, helper CPU ${show(rt.helperCpuMsPerFrame, 2)} ms per frame`);
    console.log(`  age when first seen (1 ms polling): median ${rt.firstSeenAgeMs.median.toFixed(2)} ms, `
      + `p75 ${rt.firstSeenAgeMs.p75.toFixed(2)}, max ${rt.firstSeenAgeMs.max.toFixed(2)}, n=${rt.firstSeenAgeMs.n}`);
    console.log(`  age at 60 Hz display ticks: median ${rt.displayAgeMs.median.toFixed(2)} ms, `
      + `p75 ${rt.displayAgeMs.p75.toFixed(2)}, max ${rt.displayAgeMs.max.toFixed(2)} `
      + `(goal: median < ${rt.goalMedianAgeMs.toFixed(1)} ms); torn ${rt.tornFrames}`);
  }
  const file = common.writeResult('pipeline_vs_engine', {
    loadAverageBefore: loadBefore, rounds, realTimeRounds, clipSeconds, rate,
    frameRange: [firstCounted, lastCounted], results,
  });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
