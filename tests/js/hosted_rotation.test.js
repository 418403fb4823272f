'use strict';
// Rotated video on both render paths, with the options users get (no ao=null,
// default hwdec): the engine's software renderer of this libmpv aborts the
// process on a quarter-turned frame, so the software path turns frames
// itself. Every file must play, upright as the OpenGL path shows it, one
// after another in one session; a caller's own video-rotate keeps working.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startXvfb, openHostWindow, waitFor, waitForColours: waitForScreen } = require('./support/x11');
const { makeRotatedClips } = require('./support/media');
const { withRenderer } = require('./support/renderer_choice');

const RED = [255, 0, 0];
const BLUE = [0, 0, 255];
const BLACK = [0, 0, 0];
const RECT = { x: 40, y: 40, width: 320, height: 240 };
let xvfb;
let host;
let hosted;
let clips;

const at = (dx, dy) => [RECT.x + dx, RECT.y + dy];
// The 320x240 clip fills the rectangle upright or upside down; turned by a
// quarter it stands 180 wide in its middle, between black bars.
const upright = [[[at(40, 30), at(280, 30), at(160, 90)], RED], [[at(40, 210), at(280, 210), at(160, 150)], BLUE]];
const upsideDown = [[[at(40, 30), at(280, 30), at(160, 90)], BLUE], [[at(40, 210), at(280, 210), at(160, 150)], RED]];
const sideways = (left, right) => [[[at(20, 60), at(300, 180)], BLACK],
  [[at(110, 60), at(110, 180)], left], [[at(210, 60), at(210, 180)], right]];
const redLeft = sideways(RED, BLUE);
const redRight = sideways(BLUE, RED);

const waitForColours = (expectations, what) => waitForScreen(host, expectations, what,
  { timeoutMs: 15000, tolerance: 40 });

function create(renderer, options = []) {
  return withRenderer(renderer, () => hosted.createSession(host.handle(), RECT, null, 1, options));
}

async function play(id, file) {
  hosted.loadPlayback(id, { streamUrl: file });
  const s = await waitFor(() => {
    const snap = hosted.getSessionSnapshot(id);
    return snap.status === 'playing' && snap.streamUrl === file && snap;
  }, `playback of ${file}`, 15000);
  assert.equal('error' in s, false, s.error);
}

before(async () => {
  xvfb = await startXvfb();
  host = await openHostWindow(640, 480, '20c040');
  hosted = require('../../lib/hosted_mpv');
  clips = await makeRotatedClips([30, 100, 359]);
});

after(async () => {
  clips?.remove();
  await host.close();
  await xvfb.stop();
});

for (const renderer of ['gl', 'sw']) {
  describe(`rotated video on the ${renderer} path`, () => {
    it('plays every rotation in turn, upright', async () => {
      const id = create(renderer);
      try {
        const cases = [[0, upright], [90, redLeft], [180, upsideDown], [270, redRight], [0, upright]];
        for (const [rotation, expected] of cases) {
          await play(id, clips.quarter[rotation]);
          await waitForColours(expected, `the clip rotated by ${rotation}`);
        }
        // Angles off the quarter turns: the OpenGL path tilts the picture, the
        // software path turns it by the nearest quarter. Neither may fail.
        for (const degrees of Object.keys(clips.odd)) await play(id, clips.odd[degrees]);
        await play(id, clips.quarter[90]);
        await waitForColours(redLeft, 'a quarter turn after the odd angles');
      } finally {
        hosted.disposeSession(id);
      }
    });

    it('adds the caller\'s video-rotate to the stream\'s rotation, and "no" turns nothing', async () => {
      const turned = create(renderer, ['video-rotate=90']);
      try {
        await play(turned, clips.quarter[0]);
        await waitForColours(redRight, 'an upright clip turned by the option');
        await play(turned, clips.quarter[270]);  // the engine's 90 plus the option's 90
        await waitForColours(upsideDown, 'both turns');
      } finally {
        hosted.disposeSession(turned);
      }
      const unturned = create(renderer, ['video-rotate=no']);
      try {
        await play(unturned, clips.quarter[90]);
        await waitForColours(upright, 'the clip as stored');
      } finally {
        hosted.disposeSession(unturned);
      }
    });
  });
}
