'use strict';
// What the hosted module draws: pixels of a real top-level window on Xvfb,
// the render window's placement, its click-through, several sessions at once,
// the trace output, and that disposal leaves no window or thread behind.
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const { hostWindowForSuite, openHostWindow, sleep, waitFor, threadCount } = require('./support/x11');

const HOST = [0x20, 0xc0, 0x40];
let hosted;
let baselineThreads;

const near = (pixel, rgb, tolerance = 24) => pixel.every((v, i) => Math.abs(v - rgb[i]) <= tolerance);
const colourSource = (colour, w, h) => `av://lavfi:color=c=${colour}:size=${w}x${h}:rate=30`;

function create(bounds) {
  return hosted.createSession(hostWindow.host.handle(), bounds, null, 1, ['ao=null']);
}

async function play(bounds, colour) {
  const id = create(bounds);
  hosted.loadPlayback(id, { streamUrl: colourSource(colour, bounds.width, bounds.height) });
  await waitFor(() => hosted.getSessionSnapshot(id).status === 'playing', 'playback');
  return id;
}

// Points just inside a rectangle and just outside it.
function inside({ x, y, width, height }) {
  return [[x + 1, y + 1], [x + width - 2, y + 1], [x + 1, y + height - 2],
    [x + width - 2, y + height - 2], [x + (width >> 1), y + (height >> 1)]];
}
function outside({ x, y, width, height }) {
  return [[x - 2, y + 2], [x + width + 1, y + 2], [x + 2, y - 2], [x + 2, y + height + 1]];
}

// Waits until every point of `points` has colour `rgb` in a capture.
async function waitForColour(points, rgb, what) {
  let last;
  try {
    await waitFor(async () => {
      const image = await hostWindow.host.capture();
      last = points.map(([px, py]) => [px, py, image.at(px, py)]);
      return last.every(([, , pixel]) => near(pixel, rgb));
    }, what, 10000);
  } catch (error) {
    error.message += `: ${JSON.stringify(last)}`;
    throw error;
  }
}

const hostWindow = hostWindowForSuite(640, 480, HOST.map((v) => v.toString(16).padStart(2, '0')).join(''),
  async () => {
    hosted = require('../../lib/hosted_mpv');
    // The first session starts the module's UI thread; it stays, like a main thread.
    hosted.disposeSession(create({ x: 0, y: 0, width: 16, height: 16 }));
    await sleep(100);
    baselineThreads = threadCount();
  });

describe('hosted rendering', () => {
  it('draws the video inside the session rectangle only', async () => {
    const rect = { x: 100, y: 50, width: 320, height: 240 };
    const id = await play(rect, 'red');
    await waitForColour(inside(rect), [255, 0, 0], 'red video');
    await waitForColour(outside(rect), HOST, 'the host colour around it');

    const moved = { x: 300, y: 200, width: 160, height: 120 };
    hosted.setBounds(id, moved);
    await waitForColour(inside(moved), [255, 0, 0], 'the moved video');
    await waitForColour([...outside(moved), [150, 100], [110, 60]], HOST, 'the old place cleared');

    hosted.setBounds(id, { x: 300, y: 200, width: 0, height: 120 });  // hidden
    await waitForColour(inside(moved), HOST, 'no video at width 0');
    hosted.setBounds(id, { x: 300, y: 200, width: 160, height: -5 });  // negative: hidden too
    await sleep(100);
    await waitForColour(inside(moved), HOST, 'no video at a negative height');
    hosted.setBounds(id, moved);
    await waitForColour(inside(moved), [255, 0, 0], 'the video back');
    hosted.disposeSession(id);
    await waitForColour(inside(moved), HOST, 'nothing after disposal');
  });

  it('keeps redrawing while paused when the window is resized', async () => {
    const rect = { x: 10, y: 10, width: 100, height: 80 };
    const id = await play(rect, 'blue');
    await waitForColour(inside(rect), [0, 0, 255], 'blue video');
    hosted.setPaused(id, true);
    await waitFor(() => hosted.getSessionSnapshot(id).status === 'paused', 'pause');
    await sleep(300);  // no frame of the engine is due any more
    const bigger = { x: 10, y: 10, width: 200, height: 160 };
    hosted.setBounds(id, bigger);
    await waitForColour(inside(bigger), [0, 0, 255], 'a paused frame at the new size');
    hosted.setBounds(id, { ...bigger, width: 0 });
    await waitForColour(inside(bigger), HOST, 'hidden');
    hosted.setBounds(id, bigger);  // shown again at the same size
    await waitForColour(inside(bigger), [0, 0, 255], 'the paused frame again');
    hosted.disposeSession(id);
  });

  it('lets the pointer through to the host window', async () => {
    const rect = { x: 100, y: 100, width: 200, height: 150 };
    const id = await play(rect, 'red');
    const children = await hostWindow.host.children();
    assert.equal(children.length, 1);
    assert.equal(await hostWindow.host.windowUnder(150, 150), hostWindow.host.id);
    assert.equal(await hostWindow.host.windowUnder(5, 5), hostWindow.host.id);
    hosted.disposeSession(id);
  });

  it('shows several sessions at once, the newest on top', async () => {
    const rects = [
      [{ x: 20, y: 20, width: 160, height: 120 }, 'red', [255, 0, 0]],
      [{ x: 220, y: 20, width: 160, height: 120 }, 'blue', [0, 0, 255]],
      [{ x: 120, y: 80, width: 160, height: 120 }, 'lime', [0, 255, 0]],
    ];
    const ids = [];
    for (const [rect, colour] of rects) ids.push(await play(rect, colour));
    assert.equal((await hostWindow.host.children()).length, 3);
    await waitForColour([[25, 25]], [255, 0, 0], 'the first');
    await waitForColour([[375, 25]], [0, 0, 255], 'the second');
    await waitForColour([[200, 140], [130, 90], [270, 90]], [0, 255, 0], 'the third, over both');
    for (const id of ids) assert.equal(hosted.getSessionSnapshot(id).status, 'playing');
    for (const id of ids) hosted.disposeSession(id);
    assert.deepEqual(await hostWindow.host.children(), []);
  });

  it('survives the application closing its window first', async () => {
    const other = await openHostWindow(200, 150, '101010');
    const handle = other.handle();
    const id = hosted.createSession(handle, { x: 0, y: 0, width: 100, height: 80 }, null, 1,
      ['ao=null']);
    hosted.loadPlayback(id, { streamUrl: colourSource('red', 100, 80) });
    await waitFor(() => hosted.getSessionSnapshot(id).status === 'playing', 'playback');
    await other.close();  // destroys the window and, with it, the session's child window
    await sleep(200);
    hosted.setBounds(id, { x: 10, y: 10, width: 50, height: 40 });
    assert.equal(hosted.getSessionSnapshot(id).status, 'playing');
    hosted.disposeSession(id);
    assert.throws(() => hosted.createSession(handle, {}),
      { message: 'Unable to resolve the Electron content view.' });
    // The module still works for the windows that remain.
    const rect = { x: 30, y: 30, width: 60, height: 40 };
    const next = await play(rect, 'blue');
    await waitForColour(inside(rect), [0, 0, 255], 'video in the remaining window');
    hosted.disposeSession(next);
  });

  it('leaves no thread behind after disposal', async () => {
    const ids = [];
    for (let i = 0; i < 3; ++i) ids.push(await play({ x: i * 50, y: 0, width: 40, height: 30 }, 'red'));
    assert.ok(threadCount() > baselineThreads);
    for (const id of ids) hosted.disposeSession(id);
    await waitFor(() => threadCount() === baselineThreads, `${baselineThreads} threads`, 5000);
    assert.deepEqual(await hostWindow.host.children(), []);
  });
});

describe('trace output', () => {
  // A child process, so its standard error can be read.
  function traceRun(env) {
    const script = `
      const hosted = require(${JSON.stringify(require.resolve('../../lib/hosted_mpv'))});
      const handle = Buffer.alloc(4);
      handle.writeUInt32LE(${hostWindow.host.id});
      const id = hosted.createSession(handle, { width: 64, height: 48 }, null, 1, ['ao=null', 'bogus=1']);
      hosted.loadPlayback(id, { streamUrl: 'av://lavfi:color=c=red:size=64x48:rate=100' });
      setTimeout(() => { hosted.disposeSession(id); }, Number(process.env.RUN_MS));`;
    return new Promise((resolve) => {
      const child = spawn(process.execPath, ['-e', script],
        { env: { ...process.env, ...env }, stdio: ['ignore', 'ignore', 'pipe'] });
      let stderr = '';
      child.stderr.on('data', (d) => { stderr += d; });
      child.on('exit', (code) => resolve({ code, lines: stderr.split('\n') }));
    });
  }
  const traces = (lines) => lines.filter((l) => l.startsWith('[hosted-mpv][hosted-mpv-1][trace] '))
    .map((l) => l.slice('[hosted-mpv][hosted-mpv-1][trace] '.length));

  it('announces the refused option, the backend and every 120th frame', async () => {
    const { code, lines } = await traceRun(
      { ORVANEL_TRACE_HOSTED_MPV: 'no', ORVANEL_HOSTED_MPV_RENDERER: 'GL', RUN_MS: '4000' });
    assert.equal(code, 0);
    const trace = traces(lines);
    assert.deepEqual(trace.slice(0, 2), [
      'rejected session option bogus: option not found',
      'Using renderer backend: gl',
    ]);
    const frames = trace.slice(2);
    assert.ok(frames.length >= 1, trace.join('\n'));
    frames.forEach((line, i) => assert.match(line,
      new RegExp(`^renderer=gl frames=${120 * (i + 1)} avgRenderMs=\\d+\\.\\d\\d skipped=\\d+$`)));
  });

  it('takes the software renderer straight away when asked in any letter case', async () => {
    const { lines } = await traceRun(
      { ORVANEL_TRACE_HOSTED_MPV: '1', ORVANEL_HOSTED_MPV_RENDERER: 'Sw', RUN_MS: '2500' });
    const trace = traces(lines);
    assert.deepEqual(trace.slice(0, 2), [
      'rejected session option bogus: option not found', 'Using renderer backend: sw']);
    assert.match(trace[2] ?? '', /^renderer=sw frames=120 avgRenderMs=\d+\.\d\d skipped=0$/);
  });

  it('does not force a renderer when the variable only nearly says sw or gl', async () => {
    // Unforced, OpenGL is tried and given up only on a software rasteriser.
    for (const value of [' sw', 'gl ']) {
      const { lines } = await traceRun(
        { ORVANEL_TRACE_HOSTED_MPV: '1', ORVANEL_HOSTED_MPV_RENDERER: value, RUN_MS: '200' });
      const trace = traces(lines);
      const backend = trace.find((line) => line.startsWith('Using renderer backend: '));
      if (backend === 'Using renderer backend: gl') continue;
      assert.equal(backend, 'Using renderer backend: sw', `${JSON.stringify(value)}: ${trace.join('\n')}`);
      assert.match(trace[0], /^OpenGL renderer .+ is a software rasteriser; falling back to software renderer\.$/);
    }
  });

  it('is silent when tracing is off', async () => {
    const { lines } = await traceRun({ ORVANEL_TRACE_HOSTED_MPV: '0', RUN_MS: '200' });
    assert.deepEqual(traces(lines), []);
  });
});
