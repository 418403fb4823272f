'use strict';
// One hosted session in a process of its own, driven by bench/hosted.js, so
// that the player's CPU time is this process's and nothing else's.
//
//   node bench/hosted_session.js JSON
//
// JSON: {mode, window, width, height, url?, options?}. Modes:
//   play      load `url`, print {"ready":true}; on a line on stdin print the
//             snapshot's stats and end
//   bare      no session at all (the module loaded): the baseline of idle
//   idle      a session with nothing loaded; print {"ready":true}, end on a line
//   paused    load `url`, pause once it plays; print {"ready":true}, end on a line
//   snapshot  load `url` (a clip with many tracks and chapters), pause, then
//             time rounds of getSessionSnapshot calls; print the figures and end
// Tracing (ORVANEL_TRACE_HOSTED_MPV) is set by the parent, which counts the
// rendered frames from the "frames=" trace lines on stderr.
const hosted = require('../lib/hosted_mpv');

const job = JSON.parse(process.argv[2]);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const print = (value) => process.stdout.write(`${JSON.stringify(value)}\n`);

async function waitForSnapshot(id, predicate, what, timeoutMs = 20000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const snapshot = hosted.getSessionSnapshot(id);
    if (predicate(snapshot)) return snapshot;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}: ${JSON.stringify(snapshot)}`);
    await sleep(20);
  }
}

function nextLine() {
  return new Promise((resolve) => process.stdin.once('data', resolve));
}

async function timeSnapshots(id) {
  const rounds = job.rounds ?? 9;
  const calls = job.calls ?? 500;
  const wallUs = [];
  const cpuUs = [];
  for (let r = 0; r < rounds; r += 1) {
    const cpu = process.cpuUsage();
    const start = process.hrtime.bigint();
    for (let i = 0; i < calls; i += 1) hosted.getSessionSnapshot(id);
    const wall = Number(process.hrtime.bigint() - start) / 1e3;
    const used = process.cpuUsage(cpu);
    wallUs.push(wall / calls);
    cpuUs.push((used.user + used.system) / calls);
    await sleep(20);
  }
  return { wallUs, cpuUs, calls };
}

async function main() {
  if (job.mode === 'bare') {
    print({ ready: true });
    await nextLine();
    return;
  }
  const handle = Buffer.alloc(4);
  handle.writeUInt32LE(job.window);
  const id = hosted.createSession(handle, { x: 0, y: 0, width: job.width, height: job.height }, null, 1,
    job.options ?? []);
  try {
    if (job.mode !== 'idle') {
      hosted.loadPlayback(id, { streamUrl: job.url });
      await waitForSnapshot(id, (s) => s.status === 'playing', 'playing');
    }
    if (job.mode === 'paused' || job.mode === 'snapshot') {
      hosted.setPaused(id, true);
      await waitForSnapshot(id, (s) => s.status === 'paused', 'paused');
    }
    if (job.mode === 'snapshot') {
      const full = await waitForSnapshot(id, (s) => s.audioTracks.length >= job.audioTracks
        && s.subtitleTracks.length >= job.subtitleTracks && s.chapters.length >= job.chapters, 'track lists');
      const figures = await timeSnapshots(id);
      print({ ...figures, audioTracks: full.audioTracks.length, subtitleTracks: full.subtitleTracks.length,
        chapters: full.chapters.length, jsonBytes: JSON.stringify(full).length });
      return;
    }
    print({ ready: true });
    await nextLine();
    print({ stats: hosted.getSessionSnapshot(id).stats ?? {} });
  } finally {
    hosted.disposeSession(id);
  }
}

main().then(() => process.exit(0), (err) => {
  console.error(err);
  process.exit(1);
});
