'use strict';
// The hosted module under Xvfb.
//
//   node bench/hosted.js [--quick] [--rotation]   (--rotation: only the rotation figures)
//
// - Frames per second and CPU per frame of the software and the OpenGL
//   render path, 1280 × 720 and 1920 × 1080 (a session covering a window of
//   that size, the H.264 clip of that size): at real time (30 fps) and as
//   fast as the engine can (untimed=yes). The player runs in a process of its
//   own (bench/hosted_session.js); frames are counted from its trace lines
//   ("frames=" every 120 frames), CPU is that process's and Xvfb's between
//   the first and the last trace line of the whole 20-second clip. The path that
//   really ran is taken from the trace ("renderer=sw|gl"): without OpenGL
//   the module falls back to software silently.
// - The cost of rotated video on the software path (the engine's filter chain
//   turns the decoded picture there): untimed frames per second and CPU per frame of the
//   1280 × 720 clip with rotation metadata 90 and 180, as ratios to the same
//   clip upright, measured in the same run.
// - The cost of one getSessionSnapshot call on a session whose clip has 8
//   audio tracks, 16 subtitle tracks and 64 chapters.
// - The CPU of a session with nothing loaded and of a paused one, beside a
//   process that only loaded the module.
const fs = require('node:fs');
const path = require('node:path');
const { spawn, execFile } = require('node:child_process');
const { promisify } = require('node:util');
const common = require('./common');
const { startXvfb, openHostWindow } = require('../tests/js/support/x11');

const { quick, summarize, show, round } = common;
const rounds = quick ? 1 : 3;
const idleSeconds = quick ? 5 : 10;
const sizes = [[1280, 720], [1920, 1080]];
const renderers = ['sw', 'gl'];
const rotationOnly = process.argv.includes('--rotation');

/** A clip with 8 audio tracks, 16 subtitle tracks and 64 chapters (320 × 240, 10 s). */
async function richClip() {
  const dir = path.join(common.root, 'build', 'bench-media');
  const file = path.join(dir, 'rich-8a-16s-64c.mkv');
  if (fs.existsSync(file)) return file;
  fs.mkdirSync(dir, { recursive: true });
  const subs = path.join(dir, 'rich.srt');
  const meta = path.join(dir, 'rich.ffmeta');
  fs.writeFileSync(subs, '1\n00:00:00,000 --> 00:00:09,000\nHello\n');
  let chapters = ';FFMETADATA1\ntitle=Rich\n';
  for (let i = 0; i < 64; i += 1) {
    chapters += `[CHAPTER]\nTIMEBASE=1/1000\nSTART=${i * 150}\nEND=${(i + 1) * 150}\ntitle=Chapter ${i + 1}\n`;
  }
  fs.writeFileSync(meta, chapters);
  const languages = ['eng', 'deu', 'fra', 'spa', 'ita', 'jpn', 'por', 'nld'];
  const args = ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc2=size=320x240:rate=25',
    '-f', 'lavfi', '-i', 'sine=f=440:sample_rate=48000', '-i', subs, '-i', meta, '-map', '0:v'];
  for (let i = 0; i < 8; i += 1) args.push('-map', '1:a');
  for (let i = 0; i < 16; i += 1) args.push('-map', '2:s');
  args.push('-map_chapters', '3', '-t', '10', '-c:v', 'libx264', '-preset', 'veryfast', '-c:a', 'aac',
    '-b:a', '32k', '-c:s', 'srt');
  for (let i = 0; i < 8; i += 1) {
    args.push(`-metadata:s:a:${i}`, `language=${languages[i]}`, `-metadata:s:a:${i}`, `title=Audio ${i + 1}`);
  }
  for (let i = 0; i < 16; i += 1) {
    args.push(`-metadata:s:s:${i}`, `language=${languages[i % 8]}`, `-metadata:s:s:${i}`, `title=Subtitles ${i + 1}`);
  }
  args.push(`${file}.partial.mkv`);
  await promisify(execFile)('ffmpeg', args);
  fs.renameSync(`${file}.partial.mkv`, file);
  return file;
}

/** Starts hosted_session.js; resolves once it reports ready (or with its first JSON line). */
function startSession(job, renderer, onTrace) {
  const env = { ...common.toolEnv(), ORVANEL_TRACE_HOSTED_MPV: '1' };
  // Both forced: left to itself the module takes the software renderer on a
  // software rasteriser.
  env.ORVANEL_HOSTED_MPV_RENDERER = renderer;
  const child = spawn(process.execPath, [path.join(__dirname, 'hosted_session.js'), JSON.stringify(job)],
    { env, stdio: ['pipe', 'pipe', 'pipe'] });
  let stderr = '';
  let pending = '';
  child.stderr.on('data', (d) => {
    stderr += d;
    pending += d;
    let newline;
    while ((newline = pending.indexOf('\n')) >= 0) {
      const line = pending.slice(0, newline);
      pending = pending.slice(newline + 1);
      const match = /renderer=(\w+) frames=(\d+)/.exec(line);
      if (match && onTrace) onTrace(match[1], Number(match[2]));
    }
  });
  let out = '';
  const lines = [];
  const waiters = [];
  child.stdout.on('data', (d) => {
    out += d;
    let newline;
    while ((newline = out.indexOf('\n')) >= 0) {
      lines.push(JSON.parse(out.slice(0, newline)));
      out = out.slice(newline + 1);
      while (waiters.length && lines.length) waiters.shift()(lines.shift());
    }
  });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  const nextJson = () => new Promise((resolve, reject) => {
    if (lines.length) return resolve(lines.shift());
    waiters.push(resolve);
    exited.then((code) => reject(new Error(`hosted_session ended (${code}): ${stderr.slice(-2000)}`)));
    return undefined;
  });
  return { child, nextJson, exited, stderr: () => stderr };
}

async function playRun(xvfb, host, file, width, height, renderer, untimed) {
  const marks = [];
  let ran = null;
  const session = startSession({ mode: 'play', window: host.id, width, height, url: file,
    options: untimed ? ['audio=no', 'untimed=yes'] : ['audio=no'] }, renderer, (name, frames) => {
    ran = name;
    try {
      marks.push({ t: common.now(), frames, cpu: common.cpuSeconds(session.child.pid), xvfb: common.cpuSeconds(xvfb.pid) });
    } catch { /* ended */ }
  });
  await session.nextJson();
  // The whole clip: its first trace line (120 frames in) is past start-up;
  // the end is no trace line for well over the spacing of the last two.
  const from = common.now();
  const limit = from + 90;
  const quiet = () => (marks.length >= 2 ? 1.5 * (marks.at(-1).t - marks.at(-2).t) + 1 : 15);
  while (common.now() < limit && !(marks.length && common.now() - marks.at(-1).t > quiet())) {
    await common.sleep(250);
  }
  session.child.stdin.write('stop\n');
  const { stats } = await session.nextJson();
  await session.exited;
  const inside = marks.filter((m) => m.t >= from);
  if (inside.length < 2) return { renderer: ran, fps: NaN, cpuMsPerFrame: NaN, xvfbCpuMsPerFrame: NaN, stats };
  const a = inside[0];
  const b = inside.at(-1);
  const frames = b.frames - a.frames;
  return { renderer: ran, frames, fps: frames / (b.t - a.t), cpuMsPerFrame: ((b.cpu - a.cpu) * 1000) / frames,
    xvfbCpuMsPerFrame: ((b.xvfb - a.xvfb) * 1000) / frames, droppedFrames: stats.droppedFrames ?? null };
}

async function idleRun(host, mode, renderer, file) {
  const session = startSession({ mode, window: host.id, width: 640, height: 360, url: file,
    options: ['audio=no'] }, renderer);
  await session.nextJson();
  await common.sleep(1000);
  const cpu0 = common.cpuSeconds(session.child.pid);
  const t0 = common.now();
  await common.sleep(idleSeconds * 1000);
  const percent = ((common.cpuSeconds(session.child.pid) - cpu0) / (common.now() - t0)) * 100;
  session.child.stdin.write('stop\n');
  if (mode !== 'bare') await session.nextJson();
  await session.exited;
  return percent;
}

async function main() {
  console.log(`hosted: ${rounds} rounds${quick ? ' (quick)' : ''}`);
  const loadBefore = common.machine().loadAverage;
  const xvfb = await startXvfb('1920x1080x24');
  const paths = [];
  let snapshot = null;
  let rotation = null;
  const idle = {};
  try {
    for (const [width, height] of rotationOnly ? [] : sizes) {
      const file = await common.clip({ width, height, seconds: 20 });
      const host = await openHostWindow(width, height, '202020');
      try {
        // Alternating: the software and the OpenGL path in every round, the
        // order swapped from one round to the next.
        const runs = Object.fromEntries(renderers.map((renderer) => [renderer, { realTime: [], untimed: [] }]));
        for (let r = 0; r < rounds; r += 1) {
          for (const renderer of r % 2 === 0 ? renderers : [...renderers].reverse()) {
            runs[renderer].realTime.push(await playRun(xvfb, host, file, width, height, renderer, false));
            runs[renderer].untimed.push(await playRun(xvfb, host, file, width, height, renderer, true));
          }
        }
        for (const renderer of renderers) {
          const entry = { size: `${width}x${height}`, requested: renderer,
            ran: [...new Set([...runs[renderer].realTime, ...runs[renderer].untimed].map((run) => run.renderer))].join(',') };
          for (const kind of ['realTime', 'untimed']) {
            entry[kind] = {
              fps: summarize(runs[renderer][kind].map((run) => run.fps)),
              cpuMsPerFrame: summarize(runs[renderer][kind].map((run) => run.cpuMsPerFrame)),
              xvfbCpuMsPerFrame: summarize(runs[renderer][kind].map((run) => run.xvfbCpuMsPerFrame)),
              droppedFrames: runs[renderer][kind].map((run) => run.droppedFrames),
            };
          }
          paths.push(entry);
          for (const kind of ['realTime', 'untimed']) {
            const e = entry[kind];
            console.log(`${entry.size} ${renderer} (ran: ${entry.ran}) ${kind === 'realTime' ? 'real time' : 'untimed  '}: `
              + `${show(e.fps)} fps, player ${show(e.cpuMsPerFrame, 2)} ms CPU/frame, `
              + `Xvfb ${show(e.xvfbCpuMsPerFrame, 2)} ms CPU/frame, dropped ${e.droppedFrames.join('/')}`);
          }
        }
        // Player + Xvfb CPU per frame, software ÷ OpenGL, round by round.
        for (const kind of ['realTime', 'untimed']) {
          const cpu = (run) => run.cpuMsPerFrame + run.xvfbCpuMsPerFrame;
          const ratio = summarize(runs.sw[kind].map((run, i) => cpu(run) / cpu(runs.gl[kind][i])));
          paths.push({ size: `${width}x${height}`, kind, cpuPerFrameSoftwareOverOpenGL: ratio });
          console.log(`${width}x${height} ${kind === 'realTime' ? 'real time' : 'untimed'}: CPU per frame `
            + `(player + Xvfb) software ÷ OpenGL ${show(ratio, 2)}`);
        }
      } finally {
        await host.close();
      }
    }

    {
      const upright = await common.clip({ width: 1280, height: 720, seconds: 20 });
      const host = await openHostWindow(1280, 720, '202020');
      try {
        const runs = {};
        for (const degrees of [0, 90, 180]) {
          const file = degrees === 0 ? upright : upright.replace(/\.mp4$/, `-rotate${degrees}.mp4`);
          if (!fs.existsSync(file)) {
            await promisify(execFile)('ffmpeg', ['-v', 'error', '-y', '-i', upright, '-c', 'copy',
              '-metadata:s:v:0', `rotate=${degrees}`, file]);
          }
          runs[degrees] = [];
          for (let r = 0; r < rounds; r += 1) runs[degrees].push(await playRun(xvfb, host, file, 1280, 720, 'sw', true));
        }
        const median = (values) => summarize(values).median;
        const fps0 = median(runs[0].map((run) => run.fps));
        const cpu0 = median(runs[0].map((run) => run.cpuMsPerFrame));
        rotation = { uprightFps: round(fps0, 1), uprightCpuMsPerFrame: round(cpu0, 2) };
        for (const degrees of [90, 180]) {
          const fps = median(runs[degrees].map((run) => run.fps));
          const cpu = median(runs[degrees].map((run) => run.cpuMsPerFrame));
          rotation[`rotate${degrees}`] = { fps: round(fps, 1), cpuMsPerFrame: round(cpu, 2),
            fpsRatio: round(fps / fps0, 3), cpuRatio: round(cpu / cpu0, 3) };
          console.log(`1280x720 sw untimed, rotation ${degrees} against upright: fps ${(fps / fps0).toFixed(2)}x `
            + `(${fps.toFixed(1)} / ${fps0.toFixed(1)}), player CPU/frame ${(cpu / cpu0).toFixed(2)}x `
            + `(${cpu.toFixed(2)} / ${cpu0.toFixed(2)} ms)`);
        }
      } finally {
        await host.close();
      }
    }

    const host = rotationOnly ? null : await openHostWindow(640, 360, '202020');
    if (host) try {
      const rich = await richClip();
      const session = startSession({ mode: 'snapshot', window: host.id, width: 640, height: 360, url: rich,
        options: ['ao=null'], audioTracks: 8, subtitleTracks: 16, chapters: 64, rounds: quick ? 5 : 11 }, 'sw');
      const figures = await session.nextJson();
      await session.exited;
      snapshot = { ...figures, wallUs: summarize(figures.wallUs), cpuUs: summarize(figures.cpuUs) };
      console.log(`getSessionSnapshot with ${figures.audioTracks} audio, ${figures.subtitleTracks} subtitle tracks, `
        + `${figures.chapters} chapters (${figures.jsonBytes} bytes as JSON): ${show(snapshot.wallUs, 1)} µs a call, `
        + `CPU ${show(snapshot.cpuUs, 1)} µs a call`);

      const file = await common.clip({ width: 1280, height: 720, seconds: 20 });
      idle.bareModulePercent = await idleRun(host, 'bare', 'sw', file);
      for (const renderer of renderers) {
        idle[`${renderer}NothingLoadedPercent`] = await idleRun(host, 'idle', renderer, file);
        idle[`${renderer}PausedPercent`] = await idleRun(host, 'paused', renderer, file);
      }
      console.log(`idle CPU, % of one core over ${idleSeconds} s: module loaded, no session `
        + `${idle.bareModulePercent.toFixed(2)}; ` + renderers.map((r) => `${r} session with nothing loaded `
        + `${idle[`${r}NothingLoadedPercent`].toFixed(2)}, paused ${idle[`${r}PausedPercent`].toFixed(2)}`).join('; '));
    } finally {
      await host.close();
    }
  } finally {
    await xvfb.stop();
  }
  const file = common.writeResult('hosted', { loadAverageBefore: loadBefore, rounds, paths, rotation, snapshot,
    idle: Object.fromEntries(Object.entries(idle).map(([k, v]) => [k, round(v, 3)])) });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
