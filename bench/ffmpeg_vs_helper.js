'use strict';
// Against what users would pick instead: ffmpeg decoding into a pipe.
//
//   node bench/ffmpeg_vs_helper.js [--quick]
//
// The same H.264 clip (1280 × 720 and 1920 × 1080, 30 fps), as fast as each
// side can, alternating, several rounds:
//   - ffmpeg -i CLIP -f rawvideo -pix_fmt bgra -, read by this Node process,
//     which assembles every frame in an ArrayBuffer (a frame is delivered to
//     JavaScript when its last byte is in place);
//   - the helper (engine options untimed=yes, audio=no) with this process
//     polling the frame reader every millisecond and copying each new frame
//     into an ArrayBuffer with copyLatest.
// Both count from their 10th frame to the 5th-last frame of the clip; CPU is
// the producer's (ffmpeg or helper, from /proc) plus this process's over the
// same stretch. For reference, the same clip is also drawn by the engine's
// software renderer into memory (engine_fbo_fps ... software): what the
// helper would reach on a machine without a GPU if it used that renderer
// instead of OpenGL on a software rasteriser.
const path = require('node:path');
const { spawn, execFile } = require('node:child_process');
const { promisify } = require('node:util');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const reader = require('../lib/frame_reader');
const { artifactPath } = require('../lib/native');

const { quick, summarize, show } = common;
const rate = 30;
const clipSeconds = quick ? 10 : 20;
const clipFrames = rate * clipSeconds;
const firstCounted = 10;
const lastCounted = clipFrames - 5;
const rounds = quick ? 1 : 3;
const sizes = [[1280, 720], [1920, 1080]];
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

function ffmpegRun(file, width, height) {
  const frameBytes = width * height * 4;
  const frame = new Uint8Array(new ArrayBuffer(frameBytes));
  const child = spawn('ffmpeg', ['-v', 'error', '-nostdin', '-i', file, '-f', 'rawvideo', '-pix_fmt', 'bgra', '-'],
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

async function helperRun(file, width, height) {
  const helper = HelperClient.spawn({ width, height, keepEvents: false, env: common.toolEnv(),
    shmBase: `/ompv-bench-${process.pid}-ff${++helperCount}`, mpvOptions: { untimed: 'yes', audio: 'no' } });
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
    while (!end) {
      await common.sleep(1);
      if (helper.exitStatus) throw new Error(`helper ended: ${helper.stderrText}`);
      if (helper.lastShm && helper.lastShm.name !== openName) {
        try {
          frame = new ArrayBuffer(reader.open(helper.lastShm.name).frameBytes);
          openName = helper.lastShm.name;
        } catch { /* the next "shm" brings the current name */ }
      }
      if (!openName || reader.latestSeq() === lastSeq) {
        if (common.now() - lastChange > 5) throw new Error(`no frame for 5 s after seq ${lastSeq}`);
        continue;
      }
      const copy = reader.copyLatest(frame);
      if (!copy || copy.torn) continue;
      if (start) {
        missed += copy.seq - lastSeq - 1;
        delivered += 1;
      }
      lastSeq = copy.seq;
      lastChange = common.now();
      if (!start && copy.seq >= firstCounted) start = mark(helper.pid);
      else if (start && copy.seq >= lastCounted) end = mark(helper.pid);
    }
    return { ...figures(start, end, delivered), missed };
  } finally {
    reader.close();
    await helper.close();
  }
}

async function engineSoftwareRun(file, width, height) {
  const { stdout } = await promisify(execFile)(artifactPath('engine_fbo_fps'),
    [file, String(width), String(height), 'untimed', String(lastCounted), 'software'], { env: common.toolEnv() });
  return JSON.parse(stdout.trim().split('\n').at(-1));
}

async function main() {
  console.log(`ffmpeg_vs_helper: ${rounds} rounds, clip ${clipSeconds} s at ${rate} fps${quick ? ' (quick)' : ''}`);
  const loadBefore = common.machine().loadAverage;
  const results = [];
  for (const [width, height] of sizes) {
    const file = await common.clip({ width, height, rate, seconds: clipSeconds });
    const runs = { ffmpeg: [], helper: [], engineSoftware: [] };
    for (let r = 0; r < rounds; r += 1) {
      for (const side of r % 2 === 0 ? ['ffmpeg', 'helper'] : ['helper', 'ffmpeg']) {
        runs[side].push(side === 'ffmpeg' ? await ffmpegRun(file, width, height) : await helperRun(file, width, height));
      }
      runs.engineSoftware.push(await engineSoftwareRun(file, width, height));
      console.log(`  ${width}x${height} round ${r + 1}: ffmpeg pipe ${runs.ffmpeg.at(-1).fps.toFixed(1)} fps `
        + `(${runs.ffmpeg.at(-1).cpuMsPerFrame.toFixed(2)} ms CPU/frame), helper + reader `
        + `${runs.helper.at(-1).fps.toFixed(1)} fps (${runs.helper.at(-1).cpuMsPerFrame.toFixed(2)} ms CPU/frame, `
        + `${runs.helper.at(-1).missed} missed)`);
    }
    const pick = (side, key) => summarize(runs[side].map((run) => run[key]));
    const entry = {
      size: `${width}x${height}`,
      ffmpegFps: pick('ffmpeg', 'fps'),
      helperFps: pick('helper', 'fps'),
      fpsRatio: summarize(runs.helper.map((run, i) => run.fps / runs.ffmpeg[i].fps)),
      ffmpegCpuMsPerFrame: pick('ffmpeg', 'cpuMsPerFrame'),
      ffmpegProducerCpuMsPerFrame: pick('ffmpeg', 'producerCpuMsPerFrame'),
      ffmpegConsumerCpuMsPerFrame: pick('ffmpeg', 'consumerCpuMsPerFrame'),
      helperCpuMsPerFrame: pick('helper', 'cpuMsPerFrame'),
      helperProducerCpuMsPerFrame: pick('helper', 'producerCpuMsPerFrame'),
      helperConsumerCpuMsPerFrame: pick('helper', 'consumerCpuMsPerFrame'),
      cpuRatio: summarize(runs.helper.map((run, i) => run.cpuMsPerFrame / runs.ffmpeg[i].cpuMsPerFrame)),
      helperMissedFrames: runs.helper.reduce((sum, run) => sum + run.missed, 0),
      engineSoftwareFps: pick('engineSoftware', 'fps'),
      engineSoftwareCpuMsPerFrame: pick('engineSoftware', 'cpuMsPerFrame'),
    };
    results.push(entry);
    console.log(`${entry.size}: ffmpeg pipe ${show(entry.ffmpegFps)} fps, helper + reader ${show(entry.helperFps)} fps;`
      + ` helper/ffmpeg ${show(entry.fpsRatio, 3)}`);
    console.log(`  CPU per frame: ffmpeg ${show(entry.ffmpegProducerCpuMsPerFrame, 2)} + Node ${show(entry.ffmpegConsumerCpuMsPerFrame, 2)} ms;`
      + ` helper ${show(entry.helperProducerCpuMsPerFrame, 2)} + Node ${show(entry.helperConsumerCpuMsPerFrame, 2)} ms;`
      + ` helper/ffmpeg ${show(entry.cpuRatio, 2)}`);
    console.log(`  for reference, the engine's software renderer into memory: ${show(entry.engineSoftwareFps)} fps, `
      + `${show(entry.engineSoftwareCpuMsPerFrame, 2)} ms CPU/frame`);
  }
  const file = common.writeResult('ffmpeg_vs_helper', { loadAverageBefore: loadBefore, rounds, clipSeconds, rate,
    frameRange: [firstCounted, lastCounted], results });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
