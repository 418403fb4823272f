'use strict';
// The helper as users meet it: the defaults they get (default audio output on
// a machine without a sound device, default hwdec on one without a GPU), one
// load after another, phone video carrying a rotation, a refused recording,
// and output boxes far larger than any frame ring.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { HelperClient } = require('../../lib/helper_client');
const { FrameFollower } = require('../../lib/frame_follower');
const { makeMedia, serveDirectory, uniqueShmBase, shmLeftovers, sleep } = require('./helper_fixtures');

function ffmpeg(args) {
  execFileSync('ffmpeg', ['-v', 'error', '-y', ...args]);
}

// The rotation the engine applies, clockwise, from the file's display matrix
// (ffprobe reports it counter-clockwise).
function clockwiseRotation(file) {
  const text = execFileSync('ffprobe', ['-v', 'error', '-select_streams', 'v:0',
    '-show_entries', 'stream_side_data=rotation', '-of', 'csv=p=0', file]).toString().trim();
  return ((-Number(text) % 360) + 360) % 360;
}

// A helper with the options users get: no preamble, no ao=null, default hwdec.
function defaultHelper(tag, width, height) {
  return HelperClient.spawn({ shmBase: uniqueShmBase(tag), width, height });
}

// Polls until a frame of `width` x `height` newer than `afterSeq` arrives.
async function frameOfSize(frames, width, height, afterSeq = 0, timeoutMs = 20000) {
  const deadline = Date.now() + timeoutMs;
  let last = null;
  while (Date.now() < deadline) {
    const frame = frames.poll();
    if (frame) last = frame;
    if (frame && frame.width === width && frame.height === height && frame.seq > afterSeq) return frame;
    await sleep(10);
  }
  throw new Error(`no ${width}x${height} frame after ${afterSeq}; last ${last && `${last.width}x${last.height}`}` +
    `, ring ${frames.ring && `${frames.ring.width}x${frames.ring.height}`}`);
}

// BGRA pixel at (x, y) from the top of a bottom-row-first frame, as [r, g, b].
function rgbAt(frame, x, y) {
  const bytes = new Uint8Array(frame.pixels);
  const i = ((frame.height - 1 - y) * frame.width + x) * 4;
  return [bytes[i + 2], bytes[i + 1], bytes[i]];
}

const isRed = ([r, g, b]) => r > 180 && g < 80 && b < 80;
const isBlue = ([r, g, b]) => b > 180 && r < 80 && g < 80;

describe('helper in the field', () => {
  let media;
  let server;
  let other;
  const rotated = {};

  before(async () => {
    media = makeMedia(3);
    server = await serveDirectory(media.dir);
    other = path.join(media.dir, 'other.mp4');
    ffmpeg(['-f', 'lavfi', '-i', 'testsrc2=size=480x270:rate=25:duration=8',
      '-c:v', 'mpeg4', '-q:v', '5', other]);
    // 640x360, red top half over a blue bottom half, tagged with a rotation.
    const upright = path.join(media.dir, 'upright.mp4');
    ffmpeg(['-f', 'lavfi', '-i', 'color=red:size=640x180:duration=4',
      '-f', 'lavfi', '-i', 'color=blue:size=640x180:duration=4',
      '-filter_complex', '[0][1]vstack', '-c:v', 'mpeg4', '-q:v', '2', '-t', '4', upright]);
    for (const tag of [90, 270]) {
      rotated[tag] = path.join(media.dir, `rotate${tag}.mp4`);
      ffmpeg(['-i', upright, '-c', 'copy', '-metadata:s:v:0', `rotate=${tag}`, rotated[tag]]);
    }
    // A wide, flat video: its largest ring is still cheap to render.
    media.flat = path.join(media.dir, 'flat.mp4');
    ffmpeg(['-f', 'lavfi', '-i', 'testsrc2=size=1024x16:rate=25:duration=30',
      '-c:v', 'mpeg4', '-q:v', '5', media.flat]);
  });

  after(async () => {
    if (server) await server.close();
    if (media) media.cleanup();
  });

  it('goes channel surfing: five loads in a row settle, with frames and no stale error', async (t) => {
    const helper = defaultHelper('surf', 640, 480);
    const frames = new FrameFollower(helper);
    // Every snapshot from a good load's "playing" to the next load must be
    // free of errors.
    let watching = null;
    const stale = [];
    helper.on('snapshot', (s) => {
      if (watching && (s.status === 'error' || s.error !== undefined)) stale.push({ watching, s });
    });
    const good = async (url, width, height, label) => {
      const seq = frames.lastSeq;
      watching = null;
      helper.load(url);
      const playing = await helper.waitForSnapshot((s) => s.streamUrl === url && s.status === 'playing', 20000);
      watching = label;
      assert.equal(playing.error, undefined, label);
      await frameOfSize(frames, width, height, seq);
      return playing;
    };
    try {
      // 1. A file to its end: "ended", with the last frame kept.
      await good(media.clip, 640, 480, 'first file');
      const ended = await helper.waitForSnapshot((s) => s.status === 'ended', 20000);
      assert.ok(ended.positionSeconds > 2.5, `ended at ${ended.positionSeconds}`);
      // 2. Another file after the end plays: the end pauses nothing.
      await good(other, 640, 360, 'file after the end');
      // 3. A missing file fails with a text.
      watching = null;
      helper.load(path.join(media.dir, 'missing.mkv'));
      const failed = await helper.waitForSnapshot((s) => s.status === 'error', 20000);
      assert.ok(typeof failed.error === 'string' && failed.error.length > 0);
      // 4. An HTTP stream; the missing file's late engine lines stay out.
      await good(server.url('clip.mkv'), 640, 480, 'http stream');
      // 5. A file again.
      await good(other, 640, 360, 'file again');
      await sleep(500);
      // And a pause the caller asked for carries over to the next load.
      helper.pause(true);
      await helper.waitForSnapshot((s) => s.status === 'paused');
      helper.load(media.clip);
      const paused = await helper.waitForSnapshot((s) => s.streamUrl === media.clip &&
        (s.status === 'paused' || s.status === 'playing'), 20000);
      assert.equal(paused.status, 'paused');
      helper.pause(false);
      await helper.waitForSnapshot((s) => s.status === 'playing');
      assert.deepEqual(stale, []);
      t.diagnostic(`engine error/fatal lines seen: ${helper.events.filter((e) => e.event === 'log' &&
        (e.level === 'error' || e.level === 'fatal')).length}`);

      frames.close();
      helper.quit();
      assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
      assert.deepEqual(shmLeftovers(uniqueShmBase('surf')), []);
    } finally {
      frames.close();
      await helper.close();
    }
  });

  it('keeps real failures as "error" with a text: random bytes, a 404, a refused load', async () => {
    const helper = defaultHelper('failures', 320, 240);
    const noise = path.join(media.dir, 'noise.mkv');
    fs.writeFileSync(noise, require('node:crypto').randomBytes(256 * 1024));
    try {
      // The helper refuses an option named "%" before the engine sees it
      // (the client would not build that key, so the line is written raw).
      const refused = (url) => helper.writeLine(`load\turl=${url}\topt.%=1`);
      for (const [url, load] of [[noise, (u) => helper.load(u)], [server.url('absent.mkv'), (u) => helper.load(u)],
        [media.clip, refused]]) {
        load(url);
        const failed = await helper.waitForSnapshot((s) => s.streamUrl === url && s.status === 'error', 20000);
        assert.ok(typeof failed.error === 'string' && failed.error.trim().length > 0, url);
        // It stays failed: later engine lines may refine the text, never the status.
        await sleep(300);
        assert.equal(helper.lastSnapshot.status, 'error', url);
        assert.ok(helper.lastSnapshot.error, url);
      }
    } finally {
      await helper.close();
    }
  });

  it('turns rotated video upright: sides swapped, the ring filled by the picture', async () => {
    const helper = defaultHelper('rotate', 1280, 720);
    const frames = new FrameFollower(helper);
    try {
      for (const tag of [90, 270]) {
        const file = rotated[tag];
        const clockwise = clockwiseRotation(file);
        assert.ok(clockwise === 90 || clockwise === 270, `rotation ${clockwise}`);
        const seq = frames.lastSeq;
        helper.load(file);
        const playing = await helper.waitForSnapshot((s) => s.streamUrl === file && s.status === 'playing' &&
          s.videoWidth > 0, 20000);
        assert.deepEqual([playing.videoWidth, playing.videoHeight], [360, 640]);
        // Turned a quarter clockwise, the picture's top (red) is on the right;
        // turned three quarters, on the left. Edge to edge: no bars.
        const [redX, blueX] = clockwise === 90 ? [[210, 300, 401], [2, 100, 190]] : [[2, 100, 190], [210, 300, 401]];
        const wrong = (frame) => [3, 360, 716].flatMap((y) => [
          ...redX.filter((x) => !isRed(rgbAt(frame, x, y))).map((x) => `red at ${x},${y}: ${rgbAt(frame, x, y)}`),
          ...blueX.filter((x) => !isBlue(rgbAt(frame, x, y))).map((x) => `blue at ${x},${y}: ${rgbAt(frame, x, y)}`)]);
        // 360x640 fitted to 1280x720: 405x720, made even. A new ring's first
        // pass may come before the file's first picture (black): frames of
        // this size are judged until one shows it, for a few seconds.
        let frame = await frameOfSize(frames, 404, 720, seq);
        const deadline = Date.now() + 5000;
        while (wrong(frame).length > 0 && Date.now() < deadline) frame = await frameOfSize(frames, 404, 720, frame.seq);
        assert.deepEqual(wrong(frame), [], `${tag}`);
      }
    } finally {
      frames.close();
      await helper.close();
    }
  });

  it('never records the next file into a path the engine refused', async () => {
    const helper = defaultHelper('record', 320, 240);
    const folder = path.join(media.dir, 'later');
    const target = path.join(folder, 'x.nut');
    try {
      helper.load(other);
      await helper.waitForSnapshot((s) => s.streamUrl === other && s.status === 'playing', 20000);
      helper.record(target);
      const refused = await helper.waitForSnapshot((s) => s.recording.error !== undefined, 20000);
      assert.equal(refused.recording.active, false);
      // The folder appears; the next file plays for a while.
      fs.mkdirSync(folder);
      helper.load(media.clip);
      await helper.waitForSnapshot((s) => s.streamUrl === media.clip && s.status === 'playing' &&
        s.positionSeconds > 1.5, 20000);
      assert.equal(helper.lastSnapshot.recording.active, false);
      assert.equal(fs.existsSync(target), false, 'the engine recorded a file the snapshot says it is not');
      assert.deepEqual(fs.readdirSync(folder), []);
    } finally {
      await helper.close();
    }
  });

  it('takes any box, and bounds the ring at 8192 a side without ending rendering', async () => {
    const helper = defaultHelper('bound', 320, 240);
    const frames = new FrameFollower(helper);
    try {
      helper.load(media.flat);
      await helper.waitForSnapshot((s) => s.status === 'playing' && s.videoWidth === 1024, 20000);
      await frameOfSize(frames, 320, 16);  // 320x5 raised to the least side
      // A box wider than any ring that fits the video to a sane one is taken.
      helper.size(40000, 100);
      await frameOfSize(frames, 6400, 100, frames.lastSeq);
      // A box whose fitted ring would be 20000x312 gets the largest ring of
      // that aspect; frames go on.
      helper.size(20000, 20000);
      const big = await frameOfSize(frames, 8192, 128, frames.lastSeq);
      await frameOfSize(frames, 8192, 128, big.seq);
      assert.deepEqual(helper.events.filter((e) => e.event === 'fatal'), []);
      assert.deepEqual([helper.lastShm.width, helper.lastShm.height], [8192, 128]);
    } finally {
      frames.close();
      await helper.close();
    }
  });
});
