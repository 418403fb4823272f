'use strict';
// Against what users would pick instead: ffmpeg decoding into a pipe.
//
//   node bench/ffmpeg_vs_helper.js [--quick]
//
// Two H.264 clips made by ffmpeg (testsrc2, and "camera": the same with
// grain and a drifting hue, which costs the decoder what a recording does) at
// 1280 × 720 and 1920 × 1080, 30 fps, 10 s. In every round, alternating
// (the order swapped from one round to the next):
//   - untimed, as fast as each side can:
//     - ffmpeg -i CLIP -f rawvideo -pix_fmt bgra -, read by this Node
//       process, which assembles every frame in an ArrayBuffer (a frame is
//       delivered to JavaScript when its last byte is in place);
//     - the helper as users get it (its render path left to itself: on a
//       software rasteriser, the engine's software renderer), engine options
//       untimed=yes and audio=no, with this process polling the frame reader
//       every millisecond and copying each new frame with copyLatest; its
//       rate is that of the frames through the ring meanwhile (a Node timer
//       under load wakes less often than the helper publishes, so the frames
//       the reader copied are given beside it);
//     - the engine's software renderer alone drawing into memory
//       (engine_fbo_fps ... software): the limit of the helper's fast path;
//     - the same helper with pixelLayout 'rgba-top-down' (frames as a page's
//       ImageData holds them), against the helper in its default layout;
//   - at real time (30 fps): the same ffmpeg with -re, and the same helper
//     without untimed, its reader polling on the ticks of a 60 Hz display
//     clock as an application would; CPU per delivered frame, and the age of
//     each new frame when the reader first sees it.
// All count from the 10th frame to the 5th-last frame of the clip; CPU is
// the producer's (ffmpeg or helper, from /proc) plus this process's over the
// same stretch. Ratios are taken round by round, then summarised (median
// [lowest–highest]).
// Goals: helper ÷ ffmpeg frames per second untimed ≥ 1.5 at 720p and ≥ 1.2 at
// 1080p; CPU per frame at real time ≤ 0.6 of ffmpeg's; helper ÷ the engine's
// software renderer alone ≥ 0.85; median frame age below one frame interval
// plus 5 ms; the top-down layout at 0.98 or more of the default's fps, and
// at no more than 1.02 of its CPU per frame.
const path = require('node:path');
const { spawn } = require('node:child_process');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const reader = require('../lib/frame_reader');

const { quick, summarize, show } = common;
const { rate, clipSeconds, firstCounted, lastCounted } = common.countedClip;
const rounds = quick ? 1 : 3;
const sizes = [[1280, 720], [1920, 1080]];
const clipKinds = ['testsrc2', 'camera'];
const frameIntervalMs = 1000 / rate;
let helperCount = 0;

function mark(pid) {
  let cpu = NaN;
  try {
    cpu = common.cpuSeconds(pid);
  } catch { /* already reaped */ }
  return { t: common.now(), cpu, own: common.ownCpuSeconds() };
}

function figures(start, end, frames) {
  const seconds = end.t - start.t;
  const producerCpu = end.cpu - start.cpu;
  const consumerCpu = end.own - start.own;
  return { frames, seconds, fps: frames / seconds,
    producerCpuMsPerFrame: (producerCpu * 1000) / frames,
    consumerCpuMsPerFrame: (consumerCpu * 1000) / frames,
    cpuMsPerFrame: ((producerCpu + consumerCpu) * 1000) / frames };
}

function ffmpegRun(file, width, height, realTime) {
  const frameBytes = width * height * 4;
  const frame = new Uint8Array(new ArrayBuffer(frameBytes));
  const child = spawn('ffmpeg', ['-v', 'error', '-nostdin', ...(realTime ? ['-re'] : []), '-i', file,
    '-f', 'rawvideo', '-pix_fmt', 'bgra', '-'],
    { stdio: ['ignore', 'pipe', 'pipe'], env: common.toolEnv() });
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  return new Promise((resolve, reject) => {
    let filled = 0;
    let frames = 0;
    let start = null;
    let end = null;
    child.stdout.on('data', (chunk) => {
      let offset = 0;
      while (offset < chunk.length) {
        const take = Math.min(chunk.length - offset, frameBytes - filled);
        frame.set(chunk.subarray(offset, offset + take), filled);
        filled += take;
        offset += take;
        if (filled === frameBytes) {
          filled = 0;
          frames += 1;
          if (frames === firstCounted) start = mark(child.pid);
          else if (frames === lastCounted) end = mark(child.pid);
        }
      }
    });
    child.on('close', (code) => {
      if (code !== 0 || !end) reject(new Error(`ffmpeg ended with ${code} after ${frames} frames: ${stderr}`));
      else resolve(figures(start, end, lastCounted - firstCounted));
    });
  });
}

async function helperRun(file, width, height, realTime, pixelLayout = undefined) {
  const helper = HelperClient.spawn({ width, height, keepEvents: false, env: common.toolEnv(), pixelLayout,
    shmBase: `/ompv-bench-${process.pid}-ff${++helperCount}`,
    mpvOptions: realTime ? { audio: 'no' } : { untimed: 'yes', audio: 'no' } });
  try {
    await helper.waitFor((e) => e.event === 'hello', 20000);
    helper.load(file);
    let openName = null;
    let frame = null;
    let lastSeq = 0;
    let delivered = 0;
    let missed = 0;
    let start = null;
    let end = null;
    let lastChange = common.now();
    let firstSeq = 0;
    const ages = [];
    // Untimed: polled every millisecond, to take every frame. Real time: on
    // the ticks of a 60 Hz display clock, as an application draws.
    const tickMs = realTime ? 1000 / 60 : 1;
    const t0 = performance.now();
    let tick = 0;
    while (!end) {
      tick += 1;
      await common.sleep(Math.max(0, t0 + tick * tickMs - performance.now()));
      if (helper.exitStatus) throw new Error(`helper ended: ${helper.stderrText}`);
      const opened = common.openAnnouncedRing(helper, openName);
      if (opened) ({ name: openName, frame } = opened);
      if (!openName || reader.latestSeq() === lastSeq) {
        // Frames the engine dropped (late, on a loaded machine) never reach
        // the last counted number: the stretch then ends at the last frame
        // (its CPU taken now, the helper idles at the end of the clip).
        if (start && common.now() - lastChange > 1.5) end = { ...mark(helper.pid), t: lastChange };
        else if (common.now() - lastChange > 5) throw new Error(`no frame for 5 s after seq ${lastSeq}`);
        continue;
      }
      const copy = reader.copyLatest(frame);
      if (!copy || copy.torn) continue;
      if (start) {
        missed += copy.seq - lastSeq - 1;
        delivered += 1;
        ages.push(copy.ageMs);
      }
      lastSeq = copy.seq;
      lastChange = common.now();
      if (!start && copy.seq >= firstCounted) {
        start = mark(helper.pid);
        firstSeq = copy.seq;
      } else if (start && copy.seq >= lastCounted) {
        end = mark(helper.pid);
      }
    }
    const renderPath = /^render path: .*$/m.exec(helper.stderrText)?.[0] ?? 'render path: unknown';
    // Frames per second are those that went through the ring while the
    // reader copied the newest one as often as it could; CPU is per frame
    // the reader copied.
    const passed = lastSeq - firstSeq;
    const counted = figures(start, end, delivered);
    return { ...counted, fps: passed / (end.t - start.t),
      producerCpuMsPerPublished: (counted.producerCpuMsPerFrame * delivered) / passed,
      deliveredFps: delivered / (end.t - start.t), missed, ageMs: summarize(ages).median, path: renderPath };
  } finally {
    reader.close();
    await helper.close();
  }
}

async function main() {
  console.log(`ffmpeg_vs_helper: ${rounds} rounds, clips ${clipSeconds} s at ${rate} fps${quick ? ' (quick)' : ''}`);
  const loadBefore = common.machine().loadAverage;
  console.log(`load average before: ${loadBefore.join(' ')}`);
  const results = [];
  for (const [width, height] of sizes) {
    for (const kind of clipKinds) {
      const file = await common.clip({ width, height, rate, seconds: clipSeconds, camera: kind === 'camera' });
      const runs = { ffmpeg: [], helper: [], helperTopDown: [], engineSoftware: [], ffmpegRealTime: [], helperRealTime: [] };
      const steps = {
        ffmpeg: () => ffmpegRun(file, width, height, false),
        helper: () => helperRun(file, width, height, false),
        helperTopDown: () => helperRun(file, width, height, false, 'rgba-top-down'),
        engineSoftware: () => common.engineFboRun(file, width, height, 'software'),
        ffmpegRealTime: () => ffmpegRun(file, width, height, true),
        helperRealTime: () => helperRun(file, width, height, true),
      };
      for (let r = 0; r < rounds; r += 1) {
        const order = Object.keys(steps);
        for (const step of r % 2 === 0 ? order : order.reverse()) runs[step].push(await steps[step]());
        const h = runs.helper.at(-1);
        const f = runs.ffmpeg.at(-1);
        console.log(`  ${width}x${height} ${kind} round ${r + 1}: untimed ffmpeg ${f.fps.toFixed(1)} fps, `
          + `helper ${h.fps.toFixed(1)} fps (${h.missed} missed), engine software alone `
          + `${runs.engineSoftware.at(-1).fps.toFixed(1)} fps; real time CPU/frame ffmpeg `
          + `${runs.ffmpegRealTime.at(-1).cpuMsPerFrame.toFixed(2)} ms, helper `
          + `${runs.helperRealTime.at(-1).cpuMsPerFrame.toFixed(2)} ms; top-down layout `
          + `${runs.helperTopDown.at(-1).fps.toFixed(1)} fps; ${h.path}`);
      }
      const pick = (side, key) => summarize(runs[side].map((run) => run[key]));
      const ratio = (a, b, key) => summarize(runs[a].map((run, i) => run[key] / runs[b][i][key]));
      const entry = {
        size: `${width}x${height}`,
        clip: kind,
        renderPath: [...new Set(runs.helper.map((run) => run.path))].join(', '),
        ffmpegFps: pick('ffmpeg', 'fps'),
        helperFps: pick('helper', 'fps'),
        helperDeliveredFps: pick('helper', 'deliveredFps'),
        engineSoftwareFps: pick('engineSoftware', 'fps'),
        fpsRatio: ratio('helper', 'ffmpeg', 'fps'),
        ceilingRatio: ratio('helper', 'engineSoftware', 'fps'),
        untimedCpuRatio: ratio('helper', 'ffmpeg', 'cpuMsPerFrame'),
        ffmpegRealTimeCpuMsPerFrame: pick('ffmpegRealTime', 'cpuMsPerFrame'),
        helperRealTimeCpuMsPerFrame: pick('helperRealTime', 'cpuMsPerFrame'),
        helperRealTimeProducerCpuMsPerFrame: pick('helperRealTime', 'producerCpuMsPerFrame'),
        helperRealTimeConsumerCpuMsPerFrame: pick('helperRealTime', 'consumerCpuMsPerFrame'),
        realTimeCpuRatio: ratio('helperRealTime', 'ffmpegRealTime', 'cpuMsPerFrame'),
        realTimeFrameAgeMs: pick('helperRealTime', 'ageMs'),
        helperMissedFrames: runs.helper.reduce((sum, run) => sum + run.missed, 0),
        topDownFps: pick('helperTopDown', 'fps'),
        topDownFpsRatio: ratio('helperTopDown', 'helper', 'fps'),
        topDownCpuRatio: ratio('helperTopDown', 'helper', 'producerCpuMsPerPublished'),
      };
      results.push(entry);
      const goal = (met) => (met ? 'met' : 'NOT met');
      const fpsGoal = width === 1280 ? 1.5 : 1.2;
      console.log(`${entry.size} ${kind} (${entry.renderPath}):`);
      console.log(`  untimed fps: ffmpeg pipe ${show(entry.ffmpegFps)}, helper + reader ${show(entry.helperFps)} `
        + `(of which the reader copied ${show(entry.helperDeliveredFps)}), engine software alone `
        + `${show(entry.engineSoftwareFps)}`);
      console.log(`  helper ÷ ffmpeg fps ${show(entry.fpsRatio, 2)} (goal ≥ ${fpsGoal}: `
        + `${goal(entry.fpsRatio.median >= fpsGoal)})`);
      console.log(`  real-time CPU/frame helper ÷ ffmpeg ${show(entry.realTimeCpuRatio, 2)} (goal ≤ 0.6: `
        + `${goal(entry.realTimeCpuRatio.median <= 0.6)}); helper ${show(entry.helperRealTimeCpuMsPerFrame, 2)} ms `
        + `(of which the reader ${show(entry.helperRealTimeConsumerCpuMsPerFrame, 2)}), ffmpeg `
        + `${show(entry.ffmpegRealTimeCpuMsPerFrame, 2)} ms`);
      console.log(`  helper ÷ engine software alone ${show(entry.ceilingRatio, 2)} (goal ≥ 0.85: `
        + `${goal(entry.ceilingRatio.median >= 0.85)})`);
      console.log(`  top-down layout ÷ default: fps ${show(entry.topDownFpsRatio, 3)} (goal ≥ 0.98: `
        + `${goal(entry.topDownFpsRatio.median >= 0.98)}), helper CPU/frame ${show(entry.topDownCpuRatio, 3)} `
        + `(goal ≤ 1.02: ${goal(entry.topDownCpuRatio.median <= 1.02)})`);
      console.log(`  real-time frame age median ${show(entry.realTimeFrameAgeMs, 2)} ms (goal < `
        + `${(frameIntervalMs + 5).toFixed(1)}: ${goal(entry.realTimeFrameAgeMs.median < frameIntervalMs + 5)})`);
    }
  }
  const loadAfter = common.machine().loadAverage;
  console.log(`load average after: ${loadAfter.join(' ')}`);
  const file = common.writeResult('ffmpeg_vs_helper', { loadAverageBefore: loadBefore, loadAverageAfter: loadAfter,
    rounds, clipSeconds, rate, frameRange: [firstCounted, lastCounted], results });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
