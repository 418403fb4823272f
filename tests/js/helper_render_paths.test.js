'use strict';
// The helper's two render paths, OpenGL and the engine's software renderer,
// chosen by ORVANEL_HELPER_RENDERER: the switch does what it says, both give
// the same frames (size, orientation, alpha, colours) in either pixel
// layout, and rotation metadata
// of any angle neither ends the process nor leaves the picture sideways.
// Helpers run with the options users get (no ao=null, default hwdec).
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const reader = require('../../lib/frame_reader');
const { uniqueShmBase, shmLeftovers, startHelper, sleep } = require('./helper_fixtures');

const BOX = [320, 240];
let helperCount = 0;

// Top half red, bottom half blue, 320 x 240, H.264; and copies whose stream
// carries rotation metadata (ffmpeg's "rotate" tag is counter-clockwise: the
// engine turns a rotate=90 picture 270 degrees clockwise, red to the left).
function makeClips(dir) {
  const upright = path.join(dir, 'split.mp4');
  execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi',
    '-i', 'color=c=red:s=320x120:r=30:d=4[t];color=c=blue:s=320x120:r=30:d=4[b];[t][b]vstack',
    '-c:v', 'libx264', '-pix_fmt', 'yuv420p', upright]);
  const clips = { 0: upright };
  for (const angle of [90, 180, 270]) {
    clips[angle] = path.join(dir, `split-${angle}.mp4`);
    execFileSync('ffmpeg', ['-v', 'error', '-y', '-i', upright, '-c', 'copy',
      '-metadata:s:v:0', `rotate=${angle}`, clips[angle]]);
  }
  return clips;
}

function startWith(renderer, pixelLayout) {
  const env = { ...process.env };
  if (renderer === undefined) delete env.ORVANEL_HELPER_RENDERER;
  else env.ORVANEL_HELPER_RENDERER = renderer;
  const shmBase = uniqueShmBase(`paths${++helperCount}`);
  const helper = startHelper({ shmBase, width: BOX[0], height: BOX[1], mpvOptions: {}, env, pixelLayout });
  helper.testShmBase = shmBase;
  return helper;
}

function renderPathLine(helper) {
  const line = helper.stderrText.split('\n').find((l) => l.startsWith('render path: '));
  assert.ok(line, `no render path line in: ${helper.stderrText}`);
  return line;
}

// Plays `file` on a new helper and returns the newest whole frame once the
// picture has settled (several frames after the last ring change).
async function frameOf(renderer, file, loadOptions = {}, pixelLayout = undefined) {
  const helper = startWith(renderer, pixelLayout);
  try {
    await helper.waitForSnapshot((s) => s.status === 'idle');
    helper.load(file, loadOptions);
    await helper.waitForSnapshot((s) => s.status === 'playing' && s.videoWidth > 0);
    // A ring fitted to the video follows its size, later on a slow build:
    // follow whichever ring the helper announced last.
    let shm = null;
    let buffer = null;
    let layout = null;
    let frame = null;
    const deadline = Date.now() + 10_000;
    while (Date.now() < deadline) {
      if (helper.lastShm !== shm) {
        if (shm) reader.close();
        shm = helper.lastShm;
        const info = reader.open(shm.name);
        buffer = new ArrayBuffer(info.frameBytes);
        layout = info.layout;
      }
      const got = reader.copyLatest(buffer);
      if (got && !got.torn && got.seq > 5 && helper.lastShm === shm) {
        frame = got;
        break;
      }
      await sleep(10);
    }
    reader.close();
    assert.ok(frame, `no frame from ${shm.name}`);
    assert.equal(helper.exitStatus, null, 'the helper ended');
    return { width: shm.width, height: shm.height, layout, shmLayout: shm.layout, pixels: new Uint8Array(buffer), helper };
  } finally {
    await helper.close();
    assert.equal(helper.exitStatus.signal, null, `helper died: ${helper.stderrText}`);
    assert.deepEqual(shmLeftovers(helper.testShmBase), []);
  }
}

// BGRA at picture point (fx, fy), fractions of the width and height from the
// top left, whichever layout the frame has.
function pixelAt(frame, fx, fy) {
  const x = Math.min(frame.width - 1, Math.floor(fx * frame.width));
  const y = Math.min(frame.height - 1, Math.floor(fy * frame.height));
  const topDown = frame.layout === 'rgba-top-down';
  const at = ((topDown ? y : frame.height - 1 - y) * frame.width + x) * 4;
  const [c0, g, c2, a] = frame.pixels.subarray(at, at + 4);
  return topDown ? [c2, g, c0, a] : [c0, g, c2, a];
}

const isRed = ([b, g, r]) => r > 200 && g < 60 && b < 60;
const isBlue = ([b, g, r]) => b > 200 && g < 60 && r < 60;

function alphaAllOpaque(frame) {
  for (let i = 3; i < frame.pixels.length; i += 4) if (frame.pixels[i] !== 255) return false;
  return true;
}

describe('helper render paths', () => {
  let dir;
  let clips;

  before(() => {
    dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-paths-'));
    clips = makeClips(dir);
  });

  after(() => {
    reader.close();
    fs.rmSync(dir, { recursive: true, force: true });
  });

  it('takes the path the switch names, and auto on a software rasteriser takes software', async () => {
    const expectations = [
      ['gl', /^render path: opengl \(ORVANEL_HELPER_RENDERER=gl\)$/],
      ['SW', /^render path: software \(ORVANEL_HELPER_RENDERER=sw\)$/],
      ['auto', /^render path: (software|opengl) \(auto: the OpenGL renderer .+\)$/],
      [undefined, /^render path: (software|opengl) \(auto: the OpenGL renderer .+\)$/],
      ['vulkan', /^render path: (software|opengl) \(auto: the OpenGL renderer .+\)$/],
    ];
    for (const [value, pattern] of expectations) {
      const helper = startWith(value);
      try {
        await helper.waitForSnapshot((s) => s.status === 'idle');
        const line = renderPathLine(helper);
        assert.match(line, pattern, `ORVANEL_HELPER_RENDERER=${value}`);
        const renderer = /gl renderer: (.*)/.exec(helper.stderrText)[1];
        if (value === undefined || value === 'auto' || value === 'vulkan') {
          const software = /llvmpipe|softpipe|swrast|software rasterizer|lavapipe/i.test(renderer);
          assert.equal(line.startsWith('render path: software'), software, renderer);
        }
        const warning = 'ORVANEL_HELPER_RENDERER: unknown value "vulkan" (expected gl, sw or auto); using auto';
        assert.equal(helper.stderrText.includes(warning), value === 'vulkan');
      } finally {
        await helper.close();
      }
    }
  });

  it('gives the same upright, opaque frames on both paths, in either layout', async () => {
    const frames = {};
    for (const renderer of ['gl', 'sw']) {
      for (const layout of ['bgra-bottom-up', 'rgba-top-down']) {
        frames[`${renderer} ${layout}`] = await frameOf(renderer, clips[0], {}, layout);
      }
    }
    const reference = frames['gl bgra-bottom-up'];
    for (const [what, frame] of Object.entries(frames)) {
      const [renderer, layout] = what.split(' ');
      assert.match(renderPathLine(frame.helper), renderer === 'gl' ? /opengl/ : /software/);
      assert.equal(frame.layout, layout, what);
      // The event names only the layout that is not the default.
      assert.equal(frame.shmLayout, layout === 'rgba-top-down' ? layout : undefined, what);
      assert.deepEqual([frame.width, frame.height], [reference.width, reference.height], what);
      assert.ok(alphaAllOpaque(frame), `${what}: a pixel with alpha below 255`);
      // The slot's first rows: the picture's bottom (blue) or its top (red).
      const first = Array.from(frame.pixels.subarray(frame.width * 2, frame.width * 2 + 4));
      assert.ok(layout === 'rgba-top-down' ? isRed([first[2], first[1], first[0]]) : isBlue(first), `${what}: first row ${first}`);
      for (const fy of [0.05, 0.25, 0.45, 0.55, 0.75, 0.95]) {
        for (const fx of [0.05, 0.5, 0.95]) {
          const a = pixelAt(reference, fx, fy);
          const b = pixelAt(frame, fx, fy);
          for (let c = 0; c < 4; c++) {
            assert.ok(Math.abs(a[c] - b[c]) <= 12, `(${fx}, ${fy}): opengl bgra-bottom-up ${a}, ${what} ${b}`);
          }
        }
      }
    }
  });

  for (const renderer of ['sw', 'gl']) {
    it(`survives every rotation and shows the picture upright (${renderer})`, async () => {
      // Where the red half lands once the picture is turned as the metadata says.
      const checks = {
        0: [[0.5, 0.3, isRed], [0.5, 0.7, isBlue]],
        90: [[0.35, 0.5, isRed], [0.65, 0.5, isBlue]],
        180: [[0.5, 0.3, isBlue], [0.5, 0.7, isRed]],
        270: [[0.35, 0.5, isBlue], [0.65, 0.5, isRed]],
      };
      // A load's own video-rotate works as the engine documents it: added to
      // the stream's rotation, or "no" for none at all.
      const cases = [[90], [180], [270], [0], [0, '90', 270], [90, 'no', 0]];
      for (const [angle, videoRotate, looksLike = angle] of cases) {
        const options = videoRotate === undefined ? {} : { 'video-rotate': videoRotate };
        const frame = await frameOf(renderer, clips[angle], options);
        assert.ok(alphaAllOpaque(frame), `rotate=${angle}: a pixel with alpha below 255`);
        for (const [fx, fy, expected] of checks[looksLike]) {
          const pixel = pixelAt(frame, fx, fy);
          assert.ok(expected(pixel), `rotate=${angle} video-rotate=${videoRotate}, ${frame.width}x${frame.height}, ` +
            `(${fx}, ${fy}) is ${pixel}, expected ${expected === isRed ? 'red' : 'blue'}`);
        }
      }
    });
  }
});
