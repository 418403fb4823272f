'use strict';
// The package's frame renderer in Chromium from Debian: frames from the real
// helper and reader drawn through every path, in a page and in a worker, and
// what each canvas shows compared with the frame.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { FrameFollower } = require('../../lib/frame_follower');
const { startHelper, uniqueShmBase, sleep } = require('./helper_fixtures');
const { makeRotatedClips } = require('./support/media');
const { chromiumPath, launchChromium, serveRoutes } = require('./support/browser');
const { PAGE_HTML, HARNESS, WORKER, README_PAGE_SHIM } = require('./support/renderer_page');
const { docBlocks } = require('./support/readme');

const root = path.join(__dirname, '..', '..');
// The page's code has no native part for a sanitizer to watch: the normal
// build runs it, the sanitizer builds save the browser's time.
function skipReason() {
  if (!fs.existsSync(chromiumPath)) return `${chromiumPath} is missing: scripts/bootstrap installs the chromium package`;
  if (process.env.ORVANEL_SANITIZER) return `runs in the normal build only (this is the ${process.env.ORVANEL_SANITIZER} sanitizer build)`;
  return false;
}
const skip = skipReason();

// The third frame from now, so none of an earlier load or ring is left.
// Its bytes are in `bgra` whatever its layout.
async function settledFrame(frames) {
  let seen = 0;
  for (;;) {
    const frame = frames.poll();
    if (frame && ++seen === 3) {
      return { width: frame.width, height: frame.height, layout: frame.layout, bgra: Buffer.from(frame.pixels.slice(0)) };
    }
    await sleep(10);
  }
}

async function frameOf(helper, frames, url) {
  helper.load(url);
  await helper.waitForSnapshot((s) => s.status === 'playing' && s.streamUrl === url && s.videoWidth > 0);
  return settledFrame(frames);
}

// The frame as the canvas must show it: RGBA, top row first (what a
// top-down RGBA frame holds already).
function expectedRgba({ width, height, layout, bgra }) {
  if (layout === 'rgba-top-down') return bgra;
  const out = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const s = ((height - 1 - y) * width + x) * 4;
      const d = (y * width + x) * 4;
      out[d] = bgra[s + 2];
      out[d + 1] = bgra[s + 1];
      out[d + 2] = bgra[s];
      out[d + 3] = 255;
    }
  }
  return out;
}

// Largest difference of any channel between what was shown and the frame.
function largestDifference(shown, frame) {
  assert.deepEqual([shown.width, shown.height], [frame.width, frame.height], 'canvas size');
  const got = Buffer.from(shown.rgba, 'base64');
  const want = expectedRgba(frame);
  let largest = 0;
  for (let i = 0; i < want.length; i++) largest = Math.max(largest, Math.abs(got[i] - want[i]));
  return largest;
}

const rgbAt = (shown, x, y) => {
  const i = (y * shown.width + x) * 4;
  return [...Buffer.from(shown.rgba, 'base64').subarray(i, i + 3)];
};
const isRed = ([r, g, b]) => r > 200 && g < 60 && b < 60;
const isBlue = ([r, g, b]) => b > 200 && r < 60 && g < 60;

describe('frame renderer in Chromium', { skip }, () => {
  let clips;
  let chromium;
  let server;
  let page;
  const frames = {};

  before(async () => {
    clips = await makeRotatedClips();
    const helper = startHelper({ shmBase: uniqueShmBase('renderer') });
    const follower = new FrameFollower(helper);
    try {
      frames.split = await frameOf(helper, follower, clips.quarter[0]);
      frames.rotated = await frameOf(helper, follower, clips.quarter[90]);
      frames.pattern = await frameOf(helper, follower, 'av://lavfi:testsrc2=size=320x240:rate=25');
      helper.size(192, 108);  // a new, smaller ring mid-stream
      const ring = follower.ring;
      while (follower.ring === ring) await new Promise((resolve) => helper.once('shm', resolve));
      frames.smaller = await settledFrame(follower);
    } finally {
      follower.close();
      await helper.close();
    }
    chromium = await launchChromium();
    const readme = docBlocks('electron', ['index.html', 'renderer.mjs']);
    server = await serveRoutes({
      '/readme/index.html': { text: readme['index.html'], file: 'index.html' },
      '/readme/renderer.mjs': { text: readme['renderer.mjs'], file: 'renderer.mjs' },
      '/readme/node_modules/orvanel-video-backend/lib/frame_renderer.mjs':
        { file: path.join(root, 'lib', 'frame_renderer.mjs') },
      '/readme/node_modules/orvanel-video-backend/lib/page_follower.mjs':
        { file: path.join(root, 'lib', 'page_follower.mjs') },
      '/': { text: PAGE_HTML, file: 'index.html' },
      '/harness.mjs': { text: HARNESS, file: 'harness.mjs' },
      '/worker.mjs': { text: WORKER, file: 'worker.mjs' },
      '/lib/frame_renderer.mjs': { file: path.join(root, 'lib', 'frame_renderer.mjs') },
    });
    page = await chromium.browser.newPage();
    page.on('pageerror', (err) => console.error('page:', err));
    await page.goto(`${server.origin}/`);
    await page.waitForFunction(() => window.ready === true);
  });

  after(async () => {
    if (chromium) await chromium.close();
    if (server) await server.close();
    if (clips) clips.remove();
  });

  // Sizes change at every step but one (which keeps the size, and the texture).
  const sequence = () => [frames.split, frames.rotated, frames.pattern, frames.split, frames.smaller, frames.pattern];
  const sizes = () => sequence().map((f) => `${f.width}x${f.height}`);
  // The helper's frames, or the same pictures in the top-down RGBA layout
  // (its rows are what the canvas must show).
  const wire = (layout = 'bgra-bottom-up') => sequence().map((f) => ({
    width: f.width, height: f.height, layout,
    bgra: (layout === 'rgba-top-down' ? expectedRgba(f) : f.bgra).toString('base64'),
  }));

  // Every path, the first one the browser offers included, for each layout,
  // in the page and in a worker with an OffscreenCanvas.
  for (const where of ['page', 'worker']) {
    it(`draws each frame upright, in RGB order and at its size on every path and layout (${where})`, async (t) => {
      assert.equal(new Set(sizes()).size, 3, `sizes ${sizes()}`);
      // Its own choice without a GPU (--disable-gpu: WebGL on SwiftShader) is
      // the 2D path for either layout, which costs a fraction of software WebGL.
      const chosen = '2d';
      for (const [layout, prefer] of ['bgra-bottom-up', 'rgba-top-down']
        .flatMap((l) => [undefined, 'webgl', 'videoframe', '2d'].map((p) => [l, p]))) {
        const shown = await page.evaluate(where === 'page' ? (p, f, l) => window.drawFrames(p, f, l)
          : (p, f, l) => window.drawInWorker(p, f, l), prefer ?? null, wire(layout), layout);
        assert.deepEqual(shown.map((s) => s.path), Array(6).fill(prefer ?? chosen));
        assert.ok(shown.every((s) => s.drew), `${prefer} did not draw`);
        const differences = shown.map((s, i) => largestDifference(s, sequence()[i]));
        t.diagnostic(`${layout}, ${prefer ?? `own choice (${chosen})`}: largest channel difference per frame ${differences}`);
        assert.ok(differences.every((d) => d <= 2), `${layout}, ${prefer}: ${differences}`);
        // Independent of the comparison: red on top, blue below; turned a
        // quarter, red and blue side by side.
        const [split, rotated] = shown;
        assert.ok(isRed(rgbAt(split, 160, 10)) && isBlue(rgbAt(split, 160, 229)), `${prefer} split upside down`);
        const sides = [rgbAt(rotated, 5, rotated.height / 2), rgbAt(rotated, rotated.width - 5, rotated.height / 2)];
        assert.ok(sides.some(isRed) && sides.some(isBlue), `${prefer} rotated: ${sides}`);
      }
    });
  }

  it('draws nothing while its WebGL context is lost, and the next frame after the restore', async () => {
    const [first, second] = wire();
    const shown = await page.evaluate((a, b) => window.loseAndRestore(a, b), first, second);
    assert.deepEqual(shown.events, ['webglcontextlost', 'webglcontextrestored']);
    assert.equal(shown.drewWhileLost, false);
    assert.equal(shown.drew, true);
    assert.equal(shown.path, 'webgl');
    assert.equal(largestDifference(shown, sequence()[1]), 0);
  });

  it('refuses what it cannot draw, with messages that say why', async () => {
    assert.deepEqual(await page.evaluate(() => window.refusals()), [
      'TypeError: createFrameRenderer needs a canvas or an OffscreenCanvas',
      "TypeError: options.prefer must be 'webgl', 'videoframe' or '2d', not gpu",
      'Error: frame renderer: the webgl path is not available for this canvas',
      "TypeError: options.layout must be 'bgra-bottom-up' or 'rgba-top-down', not rgba",
      "TypeError: frame.layout must be 'bgra-bottom-up' or 'rgba-top-down', not bgra-top-down",
      'TypeError: frame.pixels holds 15 bytes, a 2x2 frame needs 16',
      'TypeError: frame.width and frame.height must be positive integers',
      'TypeError: frame.pixels must be an ArrayBuffer or a typed array',
      'Error: frame renderer: draw after dispose',
    ]);
  });

  it('runs the Electron example\'s page (docs/electron.md): four helpers\' frames in a 2x2 grid, each tile right', async (t) => {
    const sources = [clips.quarter[0], 'av://lavfi:testsrc2=size=320x240:rate=25', clips.quarter[90],
      'av://lavfi:color=c=0x00ff00:size=160x128:rate=25'];
    // As the example's main process starts them.
    const helpers = sources.map((_, i) => startHelper({ shmBase: uniqueShmBase(`grid${i}`), pixelLayout: 'rgba-top-down' }));
    const followers = helpers.map((helper) => new FrameFollower(helper));
    let tiles;
    try {
      tiles = await Promise.all(sources.map((url, i) => frameOf(helpers[i], followers[i], url)));
    } finally {
      followers.forEach((f) => f.close());
      await Promise.all(helpers.map((h) => h.close()));
    }
    const grid = await chromium.browser.newPage();
    try {
      await grid.evaluateOnNewDocument(README_PAGE_SHIM);
      await grid.goto(`${server.origin}/readme/index.html`);
      await grid.waitForFunction(() => window.video.loads.length === 4 && window.video.ports.filter(Boolean).length === 4);
      const push = (i, tile, seq) => grid.evaluate((index, frame) => window.pushFrame(index, frame), i,
        { seq, width: tile.width, height: tile.height, layout: tile.layout, bgra: tile.bgra.toString('base64') });
      // The second frame of a tile makes the page hand the first one's buffer back.
      for (const [i, tile] of tiles.entries()) {
        assert.equal(tile.layout, 'rgba-top-down');
        assert.equal(await push(i, tiles[(i + 1) % 4], 1), 0, 'the pixels were copied, not moved');
        await push(i, tile, 10 + i);
      }
      // Drawn: each canvas has its tile's size (the canvas is sized in the draw).
      await grid.waitForFunction((sizes) => [...document.querySelectorAll('canvas')]
        .every((canvas, i) => canvas.width === sizes[i][0] && canvas.height === sizes[i][1]), {},
      tiles.map((tile) => [tile.width, tile.height]));
      const returned = await grid.evaluate(() => window.video.returned);
      assert.deepEqual(returned, tiles.map((_, i) => [tiles[(i + 1) % 4].bgra.length]), 'buffers handed back');
      await grid.evaluate(() => [0, 1, 2, 3].forEach((i) => window.video.statusCallback(i, 'playing')));
      const page = await grid.evaluate(() => ({
        loads: window.video.loads, title: document.title,
        shown: [...document.querySelectorAll('canvas')].map(window.readBack),
      }));
      const urls = [...docBlocks('electron', ['index.html'])['index.html'].matchAll(/data-src="([^"]+)"/g)].map((m) => m[1]);
      assert.deepEqual(page.loads, urls.map((url, i) => [i, url]));
      assert.equal(page.title, 'playing playing playing playing');
      const differences = page.shown.map((shown, i) => largestDifference(shown, tiles[i]));
      t.diagnostic(`tiles ${tiles.map((f) => `${f.width}x${f.height}`)}: largest channel difference ${differences}`);
      assert.ok(differences.every((d) => d <= 2), `${differences}`);
    } finally {
      await grid.close();
    }
  });
});
