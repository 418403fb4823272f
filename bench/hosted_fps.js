'use strict';
// Frames per second and CPU of the hosted module's render paths, on demand
// (never part of the tests):
//
//   node bench/hosted_fps.js [gl|sw] [width] [height] [sourceRate] [seconds]
//
// gl is the OpenGL path (the default renderer), sw the software path
// (ORVANEL_HOSTED_MPV_RENDERER=sw). Starts its own Xvfb and a top-level
// window of the given size, plays av://lavfi:testsrc2 at that size and rate
// in a session covering the window (in a child Node process with tracing on,
// whose "frames=" trace lines count the rendered frames), and prints the
// rendered frame rate, the player's dropped frames, the average render time
// and skipped renders of the last trace line, and the CPU used by the player
// process and by Xvfb. The frame count comes in steps of 120 frames, so runs
// need a few of those.
const fs = require('node:fs');
const { spawn } = require('node:child_process');
const { startXvfb, openHostWindow } = require('../tests/js/support/x11');

const renderer = process.argv[2] ?? 'gl';
if (renderer !== 'gl' && renderer !== 'sw') throw new Error('renderer must be gl or sw');
const [width = 1280, height = 720, rate = 30, seconds = 10] = process.argv.slice(3).map(Number);

// User plus system CPU seconds of a process so far.
function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / 100;  // utime, stime in clock ticks
}

async function main() {
  const xvfb = await startXvfb();
  const host = await openHostWindow(width, height, '202020');
  const script = `
    const hosted = require(${JSON.stringify(require.resolve('../lib/hosted_mpv'))});
    const handle = Buffer.alloc(4);
    handle.writeUInt32LE(${host.id});
    const id = hosted.createSession(handle, { width: ${width}, height: ${height} }, null, 1, ['ao=null']);
    hosted.loadPlayback(id, { streamUrl: 'av://lavfi:testsrc2=size=${width}x${height}:rate=${rate}' });
    process.stdin.on('data', () => {
      process.stdout.write(JSON.stringify(hosted.getSessionSnapshot(id).stats ?? {}) + '\\n');
      hosted.disposeSession(id);
      process.exit(0);
    });`;
  const child = spawn(process.execPath, ['-e', script],
    {
      env: {
        ...process.env,
        ORVANEL_TRACE_HOSTED_MPV: '1',
        ORVANEL_HOSTED_MPV_RENDERER: renderer === 'sw' ? 'sw' : '',
      },
      stdio: ['pipe', 'pipe', 'pipe'],
    });
  const marks = [];  // [seconds, frames]
  let buffered = '';
  child.stderr.on('data', (d) => {
    buffered += d;
    let newline;
    while ((newline = buffered.indexOf('\n')) >= 0) {
      const line = buffered.slice(0, newline);
      buffered = buffered.slice(newline + 1);
      const match = /renderer=(\w+) frames=(\d+) avgRenderMs=([\d.]+) skipped=(\d+)/.exec(line);
      if (match) {
        if (match[1] !== renderer) throw new Error(`rendering with ${match[1]}, not ${renderer}`);
        marks.push([performance.now() / 1000, Number(match[2]), Number(match[3]), Number(match[4])]);
      }
    }
  });
  const serverPid = xvfb.pid;
  await new Promise((resolve) => setTimeout(resolve, 1500));  // past start-up
  const start = [performance.now() / 1000, cpuSeconds(child.pid), serverPid && cpuSeconds(serverPid)];
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  const end = [performance.now() / 1000, cpuSeconds(child.pid), serverPid && cpuSeconds(serverPid)];
  const stats = await new Promise((resolve) => {
    child.stdout.once('data', (d) => resolve(JSON.parse(d)));
    child.stdin.write('stop\n');
  });
  const inWindow = marks.filter(([t]) => t >= start[0] && t <= end[0]);
  const fps = inWindow.length >= 2
    ? (inWindow.at(-1)[1] - inWindow[0][1]) / (inWindow.at(-1)[0] - inWindow[0][0]) : NaN;
  const wall = end[0] - start[0];
  console.log(JSON.stringify({
    renderer,
    size: `${width}x${height}`,
    sourceRate: rate,
    renderedFps: Number(fps.toFixed(1)),
    droppedFrames: stats.droppedFrames,
    avgRenderMs: marks.at(-1)?.[2] ?? null,
    skippedRenders: marks.at(-1)?.[3] ?? null,
    playerCpuPercent: Math.round(((end[1] - start[1]) / wall) * 100),
    xvfbCpuPercent: serverPid ? Math.round(((end[2] - start[2]) / wall) * 100) : null,
  }));
  await host.close();
  await xvfb.stop();
}

main();
