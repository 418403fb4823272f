'use strict';
// The OpenGL render path under Xvfb with Mesa: the default renderer, upright
// frames in the session's rectangle, pacing by the display link and skipped
// frames as the trace shows them, the three fallbacks to the software
// renderer, and disposal while frames are being drawn. Sessions whose trace
// output is read run in a child Node process.
const { describe, it, before } = require('node:test');
const assert = require('node:assert/strict');
const readline = require('node:readline');
const { spawn } = require('node:child_process');
const { hostWindowForSuite, sleep, waitFor, waitForColours: waitForScreen, threadCount } = require('./support/x11');

const HOST = [0x20, 0xc0, 0x40];
const REFRESH_HZ = 60;  // Xvfb reports no refresh rate
let hosted;

// Red in the top half, blue in the bottom half: shows which way up frames are.
const topAndBottom = (w, h, rate) =>
  `av://lavfi:color=c=red:size=${w}x${h}:rate=${rate},drawbox=x=0:y=${h / 2}:w=${w}:h=${h / 2}:color=blue:t=fill`;
const TRACE = '[hosted-mpv][hosted-mpv-1][trace] ';

/**
 * A session in a child process with tracing on. Its trace lines come with
 * their arrival time; `bounds(...)` and `dispose()` drive it.
 */
function childSession(rect, source, env = {}) {
  const script = `
    const hosted = require(${JSON.stringify(require.resolve('../../lib/hosted_mpv'))});
    const handle = Buffer.alloc(4);
    handle.writeUInt32LE(${hostWindow.host.id});
    const id = hosted.createSession(handle, ${JSON.stringify(rect)}, null, 1, ['ao=null']);
    hosted.loadPlayback(id, { streamUrl: ${JSON.stringify(source)} });
    require('node:readline').createInterface({ input: process.stdin }).on('line', (line) => {
      const [op, ...args] = line.split(' ');
      if (op === 'bounds') {
        const [x, y, width, height] = args.map(Number);
        hosted.setBounds(id, { x, y, width, height });
      } else if (op === 'dispose') {
        hosted.disposeSession(id);
        process.exit(0);
      }
    });`;
  const child = spawn(process.execPath, ['-e', script], {
    // OpenGL even on a software rasteriser, unless a case says otherwise.
    env: { ...process.env, ORVANEL_TRACE_HOSTED_MPV: '1', ORVANEL_HOSTED_MPV_RENDERER: 'gl', ...env },
    stdio: ['pipe', 'ignore', 'pipe'],
  });
  const traces = [];  // [milliseconds, text]
  const other = [];
  readline.createInterface({ input: child.stderr }).on('line', (line) => {
    if (line.startsWith(TRACE)) traces.push([performance.now(), line.slice(TRACE.length)]);
    else other.push(line);
  });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  const frameLines = () => traces.filter(([, t]) => t.startsWith('renderer='))
    .map(([at, text]) => {
      const m = /^renderer=(\w+) frames=(\d+) avgRenderMs=\d+\.\d\d skipped=(\d+)$/.exec(text);
      assert.ok(m, `trace line: ${text}`);
      return { at, renderer: m[1], frames: Number(m[2]), skipped: Number(m[3]) };
    });
  return {
    traces,
    frameLines,
    messages: () => traces.filter(([, t]) => !t.startsWith('renderer=')).map(([, t]) => t),
    backendAt: async () => (await waitFor(() => traces.find(([, t]) => t.startsWith('Using renderer')),
      'the renderer backend line'))[0],
    frameLine: (frames, timeoutMs = 20000) =>
      waitFor(() => frameLines().find((l) => l.frames === frames), `frames=${frames}`, timeoutMs),
    bounds: (x, y, width, height) => child.stdin.write(`bounds ${x} ${y} ${width} ${height}\n`),
    dispose: async () => {
      child.stdin.write('dispose\n');
      const code = await exited;
      assert.equal(code, 0, other.join('\n'));
    },
  };
}

function inside({ x, y, width, height }) {
  return [[x + 2, y + 2], [x + width - 3, y + 2], [x + (width >> 1), y + (height >> 2)]];
}
function insideBottom({ x, y, width, height }) {
  return [[x + 2, y + height - 3], [x + width - 3, y + height - 3],
    [x + (width >> 1), y + height - (height >> 2)]];
}
function outside({ x, y, width, height }) {
  return [[x - 2, y + 2], [x + width + 1, y + 2], [x + 2, y - 2], [x + 2, y + height + 1]];
}

const waitForColours = (expectations, what) => waitForScreen(hostWindow.host, expectations, what,
  { timeoutMs: 10000, tolerance: 24 });

const hostWindow = hostWindowForSuite(640, 480, HOST.map((v) => v.toString(16).padStart(2, '0')).join(''));

before(async () => {
  hosted = require('../../lib/hosted_mpv');
});

describe('OpenGL path', () => {
  it('gives way by default to the software renderer on a software rasteriser, saying why', async () => {
    const rect = { x: 100, y: 60, width: 320, height: 240 };
    const session = childSession(rect, topAndBottom(320, 240, 30), { ORVANEL_HOSTED_MPV_RENDERER: '' });
    await session.backendAt();
    const [first, ...rest] = session.messages();
    const rasteriser = /^OpenGL renderer (.+) is a software rasteriser; falling back to software renderer\.$/
      .exec(first);
    assert.ok(rasteriser, `first trace: ${first}`);
    assert.match(rasteriser[1], /llvmpipe|softpipe|swrast|software rasterizer|lavapipe/i);
    assert.deepEqual(rest, ['Using renderer backend: sw']);
    await waitForColours([[inside(rect), [255, 0, 0]], [insideBottom(rect), [0, 0, 255]],
      [outside(rect), HOST]], 'red above blue in the rectangle, the host colour around it');
    assert.equal((await hostWindow.host.children()).length, 1, 'only the software view is left');
    await session.dispose();
    await waitForColours([[inside(rect), HOST]], 'nothing after disposal');
  });

  it('is the renderer when asked for and draws frames upright inside the rectangle only', async () => {
    const rect = { x: 100, y: 60, width: 320, height: 240 };
    const session = childSession(rect, topAndBottom(320, 240, 30));
    await session.backendAt();
    assert.deepEqual(session.messages(), ['Using renderer backend: gl']);
    await waitForColours([[inside(rect), [255, 0, 0]], [insideBottom(rect), [0, 0, 255]],
      [outside(rect), HOST]], 'red above blue in the rectangle, the host colour around it');
    assert.equal((await hostWindow.host.children()).length, 1);
    await session.dispose();
    await waitForColours([[inside(rect), HOST]], 'nothing after disposal');
    assert.deepEqual(await hostWindow.host.children(), []);
  });

  it('renders at most once per refresh and only skips on a 0 × 0 surface', async () => {
    // The source has a frame due more often than the display refreshes.
    const session = childSession({ x: 0, y: 0, width: 64, height: 48 },
      'av://lavfi:color=c=red:size=64x48:rate=100');
    const start = await session.backendAt();
    const atMostOncePerRefresh = (line, since = start, extra = 0) => {
      const refreshes = ((line.at - since) / 1000) * REFRESH_HZ;
      assert.ok(line.frames + line.skipped - extra <= refreshes + 3,
        `${line.frames} frames and ${line.skipped} skipped in ${refreshes.toFixed(1)} refreshes`);
    };
    const first = await session.frameLine(120);
    atMostOncePerRefresh(first);

    session.bounds(0, 0, 0, 48);
    const hiddenAt = performance.now();
    await sleep(1500);
    session.bounds(0, 0, 64, 48);
    const shownAt = performance.now();
    const second = await session.frameLine(240);
    atMostOncePerRefresh(second);
    // Renders while hidden were all skipped: the next 120 frames took 120
    // refreshes of the time it was shown.
    assert.ok(second.skipped > first.skipped, `skipped ${first.skipped} -> ${second.skipped}`);
    const shownRefreshes = (((hiddenAt - first.at) + (second.at - shownAt)) / 1000) * REFRESH_HZ;
    assert.ok(120 <= shownRefreshes + 6, `120 frames in ${shownRefreshes.toFixed(1)} refreshes shown`);
    await session.dispose();
  });

  describe('falls back to the software renderer', () => {
    const cases = [
      ['when EGL has no driver for the view', { __EGL_VENDOR_LIBRARY_FILENAMES: '/nonexistent/egl.json' },
        'OpenGL view creation failed; falling back to software renderer.'],
      ['when the driver cannot make an OpenGL 3.2 core context', { MESA_GL_VERSION_OVERRIDE: '2.1' },
        'OpenGL view creation failed; falling back to software renderer.'],
      ['when the engine cannot make its OpenGL render context', { ORVANEL_TEST_FAIL: 'render-context' },
        'OpenGL render context failed: not supported; falling back to software renderer.'],
      ['when the display link cannot start', { ORVANEL_TEST_FAIL: 'display-link' },
        'CVDisplayLink startup failed; falling back to software renderer.'],
    ];
    for (const [when, env, message] of cases) {
      it(when, async () => {
        const rect = { x: 40, y: 30, width: 160, height: 120 };
        const session = childSession(rect, topAndBottom(160, 120, 100), env);
        await session.backendAt();
        assert.deepEqual(session.messages(), [message, 'Using renderer backend: sw']);
        const line = await session.frameLine(120);
        assert.equal(line.renderer, 'sw');
        assert.equal(line.skipped, 0);
        await waitForColours([[inside(rect), [255, 0, 0]], [insideBottom(rect), [0, 0, 255]],
          [outside(rect), HOST]], 'the software frames in the rectangle');
        assert.equal((await hostWindow.host.children()).length, 1, 'only the software view is left');
        await session.dispose();
        assert.deepEqual(await hostWindow.host.children(), []);
      });
    }
  });

  it('disposes sessions while their frames are being drawn', async () => {
    // The first session starts the module's UI thread and the driver's
    // threads of the display; they stay, like the main thread.
    const first = hosted.createSession(hostWindow.host.handle(), { width: 16, height: 16 }, null, 1, ['ao=null']);
    hosted.disposeSession(first);
    await sleep(100);
    const baseline = threadCount();
    for (let round = 0; round < 4; ++round) {
      const ids = [];
      for (let i = 0; i < 3; ++i) {
        const id = hosted.createSession(hostWindow.host.handle(), { x: i * 90, y: 0, width: 80, height: 60 },
          null, 1, ['ao=null']);
        hosted.loadPlayback(id, { streamUrl: 'av://lavfi:testsrc2=size=80x60:rate=200' });
        ids.push(id);
      }
      // The first right away, the others while they play.
      hosted.disposeSession(ids[0]);
      await waitFor(() => hosted.getSessionSnapshot(ids[1]).status === 'playing', 'playback');
      await sleep(round * 40);
      hosted.disposeSession(ids[1]);
      hosted.disposeSession(ids[2]);
      for (const id of ids) assert.equal(hosted.getSessionSnapshot(id), null);
    }
    assert.deepEqual(await hostWindow.host.children(), []);
    await waitFor(() => threadCount() <= baseline, `${baseline} threads`, 5000);
  });
});
