'use strict';
// What every benchmark shares: medians and spreads, CPU time of processes,
// the clips (made once with ffmpeg and kept in build/bench-media), the facts
// of the machine, and the result files in build/bench-results.
//
// This machine is shared and noisy: every comparison runs both sides in the
// same run, alternating, several times, and CPU time per frame is reported
// beside wall-clock rates because it moves far less with the load.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, execFile } = require('node:child_process');
const { promisify } = require('node:util');

const root = path.resolve(__dirname, '..');
const mediaDir = path.join(root, 'build', 'bench-media');
const resultsDir = path.join(root, 'build', 'bench-results');

/** True when the run was asked to be short (`--quick` or ORVANEL_BENCH_QUICK=1). */
const quick = process.argv.includes('--quick') || process.env.ORVANEL_BENCH_QUICK === '1';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/**
 * Median and spread of a list of numbers.
 * @returns {{median: number, min: number, max: number, p25: number, p75: number, n: number}}
 */
function summarize(values) {
  const sorted = values.filter(Number.isFinite).sort((a, b) => a - b);
  const at = (q) => {
    if (sorted.length === 0) return NaN;
    const pos = (sorted.length - 1) * q;
    const low = Math.floor(pos);
    const high = Math.ceil(pos);
    return sorted[low] + (sorted[high] - sorted[low]) * (pos - low);
  };
  return { median: at(0.5), min: sorted[0] ?? NaN, max: sorted.at(-1) ?? NaN,
    p25: at(0.25), p75: at(0.75), n: sorted.length };
}

/** "12.3 [11.0–13.1] n=5": the median, then the lowest and highest value. */
function show(summary, digits = 1) {
  const f = (v) => (Number.isFinite(v) ? v.toFixed(digits) : '–');
  return `${f(summary.median)} [${f(summary.min)}–${f(summary.max)}] n=${summary.n}`;
}

/** A number rounded to `digits` decimals, for the result files. */
const round = (value, digits = 3) => Number(Number(value).toFixed(digits));

const clockTicks = Number(execFileSync('getconf', ['CLK_TCK']).toString()) || 100;

/** User plus system CPU seconds a process has used so far (from /proc). */
function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / clockTicks;  // utime, stime
}

/** User plus system CPU seconds of this Node process so far. */
function ownCpuSeconds() {
  const usage = process.cpuUsage();
  return (usage.user + usage.system) / 1e6;
}

/** Seconds on the monotonic clock. */
const now = () => performance.now() / 1000;

function packageVersion(name) {
  try {
    return execFileSync('dpkg-query', ['-W', '-f=${Version}', name]).toString();
  } catch {
    return 'unknown';
  }
}

/** The facts a reader of the figures needs to compare them with another machine. */
function machine() {
  return {
    cpu: os.cpus()[0]?.model ?? 'unknown',
    cores: os.cpus().length,
    memoryGiB: Math.round(os.totalmem() / 2 ** 30),
    kernel: os.release(),
    node: process.version,
    libmpv: packageVersion('libmpv2'),
    mesa: packageVersion('libgl1-mesa-dri'),
    ffmpeg: packageVersion('ffmpeg'),
    loadAverage: os.loadavg().map((v) => round(v, 2)),
  };
}

/**
 * A test clip of `width` × `height` at `rate` frames per second and
 * `seconds` long: testsrc2 pictures (with `camera`: grain and a drifting hue
 * over them) in H.264 (libx264, veryfast, yuv420p,
 * a key frame every 2 seconds), with a sine tone as AAC when `audio`. Made
 * once and kept in build/bench-media.
 */
async function clip({ width, height, rate = 30, seconds = 20, audio = false, camera = false }) {
  fs.mkdirSync(mediaDir, { recursive: true });
  const kind = camera ? 'camera' : 'testsrc2';
  const file = path.join(mediaDir, `${kind}-${width}x${height}-${rate}fps-${seconds}s${audio ? '-audio' : ''}.mp4`);
  if (fs.existsSync(file)) return file;
  const partial = `${file}.partial.mp4`;
  // camera: moving pictures with sensor-like grain, which costs the decoder
  // what a real recording does (many changing macroblocks, a high bit rate).
  const source = camera
    ? `testsrc2=size=${width}x${height}:rate=${rate},noise=alls=12:allf=t+u,hue=H=t/2`
    : `testsrc2=size=${width}x${height}:rate=${rate}`;
  const args = ['-v', 'error', '-y', '-f', 'lavfi', '-i', source];
  if (audio) args.push('-f', 'lavfi', '-i', 'sine=f=440:sample_rate=48000');
  args.push('-t', String(seconds), '-c:v', 'libx264', '-preset', 'veryfast', '-pix_fmt', 'yuv420p',
    '-g', String(rate * 2));
  if (audio) args.push('-c:a', 'aac', '-b:a', '96k');
  args.push(partial);
  await promisify(execFile)('ffmpeg', args);
  fs.renameSync(partial, file);
  return file;
}

/** Writes the figures of one benchmark to build/bench-results/NAME.json. */
function writeResult(name, result) {
  fs.mkdirSync(resultsDir, { recursive: true });
  const file = path.join(resultsDir, `${name}.json`);
  fs.writeFileSync(file, `${JSON.stringify({ name, quick, when: new Date().toISOString(),
    machine: machine(), ...result }, null, 2)}\n`);
  return file;
}

/** The environment for programs of this build: no sanitizer runtime preloaded. */
function toolEnv() {
  const env = { ...process.env };
  delete env.LD_PRELOAD;
  return env;
}

/**
 * The clips the pipeline benchmarks play, and the stretch of them they count:
 * from the 10th frame to the 5th-last one, leaving out start-up and the end.
 */
const countedClip = { rate: 30, clipSeconds: 10, firstCounted: 10 };
countedClip.lastCounted = countedClip.rate * countedClip.clipSeconds - 5;

/**
 * engine_fbo_fps playing `file` untimed up to the last counted frame, with
 * `readBack` (engine_fbo_fps's read-back modes; "none" by default).
 * @returns {Promise<object>} its JSON line
 */
async function engineFboRun(file, width, height, readBack = 'none') {
  const { stdout } = await promisify(execFile)(require('../lib/native').artifactPath('engine_fbo_fps'),
    [file, String(width), String(height), 'untimed', String(countedClip.lastCounted), readBack],
    { env: toolEnv() });
  return JSON.parse(stdout.trim().split('\n').at(-1));
}

/**
 * Maps the ring the helper announced last, unless `openName` is that ring
 * already. Returns its name and a frame buffer of its size; null when there
 * is nothing new to open, or it is gone already (the next "shm" brings the
 * name that exists).
 */
function openAnnouncedRing(helper, openName) {
  if (!helper.lastShm || helper.lastShm.name === openName) return null;
  try {
    const ring = require('../lib/frame_reader').open(helper.lastShm.name);
    return { name: helper.lastShm.name, frame: new ArrayBuffer(ring.frameBytes) };
  } catch {
    return null;
  }
}

module.exports = {
  root, quick, sleep, summarize, show, round, cpuSeconds, ownCpuSeconds, now, machine, clip,
  writeResult, toolEnv, countedClip, engineFboRun, openAnnouncedRing,
};
