'use strict';
// Interlaced broadcast video in both players, with the options users get (no
// ao=null, default hwdec): frames the decoder flags as interlaced are shown
// deinterlaced, one picture per field, without the combing the woven frame
// shows at moving edges; progressive frames go through as they are. A
// caller's own "deinterlace" option wins (here "no": the woven reference).
// The players put the filter in once a file shows interlaced frames, so the
// rate is read two seconds in, past the first few woven frames.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { HelperClient } = require('../../lib/helper_client');
const { FrameFollower } = require('../../lib/frame_follower');
const { uniqueShmBase } = require('./helper_fixtures');
const { startXvfb, openHostWindow, waitFor, sleep } = require('./support/x11');
const { makeInterlacedClips, combedPixels } = require('./support/media');
const { withRenderer } = require('./support/renderer_choice');

const SIZES = { i576: [720, 576], i1080: [1920, 1080], p576: [720, 576] };
let clips;
let xvfb;
let host;
let hosted;
// Combed pixels of the woven frames, by clip, from the first player measured.
const woven = {};

before(async () => {
  clips = await makeInterlacedClips();
  xvfb = await startXvfb('1920x1080x24');
  host = await openHostWindow(1920, 1080, '000000');
  hosted = require('../../lib/hosted_mpv');
});

after(async () => {
  await host?.close();
  await xvfb?.stop();
  clips?.remove();
});

// What a player showed of a clip: the combed pixels of three pictures taken
// while it moved (the most of them) and the pictures per second it made.
function judge(name, counts, fps) {
  return { name, combed: Math.max(...counts), fewest: Math.min(...counts), fps };
}

function checkPicture(t, result, option) {
  t.diagnostic(`${option}: ${JSON.stringify(result)}`);
  const { name } = result;
  if (option === 'deinterlace=no') {
    if (name !== 'p576') {
      // The reference must comb, or the comparison below proves nothing:
      // two edges 8 pixels wide over a third of the rows.
      const [, height] = SIZES[name];
      assert.ok(result.fewest > 2 * 8 * (height / 3) * 0.5, `${name} woven: ${JSON.stringify(result)}`);
      woven[name] = result.fewest;
      assert.ok(result.fps > 20 && result.fps < 30, `${name} woven at the frame rate: ${result.fps}`);
    }
    return;
  }
  if (name === 'p576') {
    assert.ok(result.combed < 50, `progressive frames show no combing: ${JSON.stringify(result)}`);
    assert.ok(result.fps > 20 && result.fps < 30, `progressive frames keep their rate: ${result.fps}`);
    return;
  }
  assert.ok(woven[name] > 0, 'woven reference measured first');
  assert.ok(result.combed < woven[name] * 0.05,
    `${name} deinterlaced: ${result.combed} combed pixels against ${woven[name]} woven`);
  assert.ok(result.fps > 45, `${name} shown at the field rate: ${result.fps}`);
}

async function helperPictures(name, { mpvOptions, env } = {}) {
  const [width, height] = SIZES[name];
  const helper = HelperClient.spawn({ shmBase: uniqueShmBase(`deint-${name}`), width, height, mpvOptions,
    env: env ? { ...process.env, ORVANEL_HELPER_RENDERER: env } : undefined });
  const frames = new FrameFollower(helper);
  try {
    helper.load(clips[name]);
    const playing = await helper.waitForSnapshot((s) => s.status === 'playing' && s.positionSeconds > 2
      && s.stats.fps > 0, 20000);
    const counts = [];
    let seq = 0;
    while (counts.length < 3) {
      const frame = frames.poll();
      if (frame && frame.seq > seq && frame.width === width && frame.height === height) {
        seq = frame.seq + 2;
        const bytes = new Uint8Array(frame.pixels);
        counts.push(combedPixels(width, height, (x, y) => bytes[(y * width + x) * 4 + 1]));
      }
      await sleep(20);
    }
    return judge(name, counts, playing.stats.fps);
  } finally {
    frames.close();
    await helper.close();
  }
}

async function hostedPictures(name, { extra = [], renderer } = {}) {
  const [width, height] = SIZES[name];
  const id = withRenderer(renderer,
    () => hosted.createSession(host.handle(), { x: 0, y: 0, width, height }, null, 1, extra));
  try {
    hosted.loadPlayback(id, { streamUrl: clips[name] });
    const playing = await waitFor(() => {
      const s = hosted.getSessionSnapshot(id);
      return s.status === 'playing' && s.positionSeconds > 2 && s.stats?.fps > 0 && s;
    }, () => `${name} playing: ${JSON.stringify(hosted.getSessionSnapshot(id))}`, 20000);
    const counts = [];
    for (let i = 0; i < 3; i++) {
      const image = await host.capture();
      counts.push(combedPixels(width, height, (x, y) => image.at(x, y)[1]));
      await sleep(60);
    }
    return judge(name, counts, playing.stats.fps);
  } finally {
    hosted.disposeSession(id);
  }
}

describe('interlaced video', () => {
  describe('in the helper', () => {
    for (const name of ['i576', 'i1080', 'p576']) {
      it(`shows ${name} as it should`, async (t) => {
        checkPicture(t, await helperPictures(name, { mpvOptions: { deinterlace: 'no' } }), 'deinterlace=no');
        checkPicture(t, await helperPictures(name), 'default');
      });
    }
    it('deinterlaces on the OpenGL path too', async (t) => {
      checkPicture(t, await helperPictures('i576', { env: 'gl' }), 'default');
    });
  });

  describe('in the hosted module', () => {
    for (const name of ['i576', 'i1080', 'p576']) {
      it(`shows ${name} as it should`, async (t) => {
        checkPicture(t, await hostedPictures(name, { extra: ['deinterlace=no'] }), 'deinterlace=no');
        checkPicture(t, await hostedPictures(name), 'default');
      });
    }
    it('deinterlaces on the OpenGL path too', async (t) => {
      checkPicture(t, await hostedPictures('i576', { renderer: 'gl' }), 'default');
    });
  });
});
