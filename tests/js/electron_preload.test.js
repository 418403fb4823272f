'use strict';
// The package's Electron preload (lib/electron_preload.js) and its page half
// (lib/page_follower.mjs) under plain Node, with the stand-ins the Electron
// example's test uses: IPC as events, contextBridge as a plain object, one
// window for both worlds. Frames come from a real ring writer
// (tests/tools/ring_writer) in the top-down RGBA layout.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { EventEmitter } = require('node:events');
const { exposeVideo } = require('../../lib/electron_preload');
const { FrameFollower } = require('../../lib/frame_follower');
const { RingWriter, patternMismatch } = require('./support/ring_writer');

const namePrefix = `/ompv-pl-${process.pid}-`;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function until(what, done, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  while (!done()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(5);
  }
}

// The main process's side of the channels, the page's world, and the preload
// exposed into it.
function standIn(options, rings) {
  const toMain = new EventEmitter();
  const toPage = new EventEmitter();
  const sent = [];
  toMain.on('video:load', (_event, index, url) => sent.push([index, url]));
  const ipcRenderer = {
    invoke: async (channel) => (channel === 'video:rings' ? rings : undefined),
    send: (channel, ...args) => toMain.emit(channel, {}, ...args),
    on: (channel, listener) => toPage.on(channel, listener),
  };
  const world = {};
  const listeners = new Set();
  Object.assign(world, {
    postMessage(data, _origin, ports = []) {
      setImmediate(() => listeners.forEach((listener) => listener({ data, ports, source: world })));
    },
    addEventListener: (type, listener) => { if (type === 'message') listeners.add(listener); },
    removeEventListener: (_type, listener) => listeners.delete(listener),
  });
  const contextBridge = { exposeInMainWorld: (key, api) => { world[key] = api; } };
  const preload = exposeVideo({ contextBridge, ipcRenderer }, { window: world, ...options });
  const announce = (index, name) => toPage.emit('video:ring', {}, index, name);
  return { world, sent, preload, announce };
}

describe('electron preload', () => {
  let followStream;
  let writer;
  before(async () => {
    ({ followStream } = await import('../../lib/page_follower.mjs'));
    writer = new RingWriter();
  });
  after(() => writer.end());

  it('moves each new frame of a stream to the page: one copy, out of the ring, and buffers handed back', async () => {
    const first = `${namePrefix}a-g1`;
    assert.equal(await writer.send(`create ${first} 8 4 1 1`), 'ok');
    // The preload's copies out of the ring, seen from its follower.
    const copies = [];
    const poll = FrameFollower.prototype.poll;
    FrameFollower.prototype.poll = function (options) {
      const frame = poll.call(this, options);
      if (frame) copies.push({ frame, into: options?.into });
      return frame;
    };
    const { world, preload, announce } = standIn({}, [null, first]);
    try {
      const stream = await followStream(world.video, 1, { window: world });
      const seen = [];
      for (const seq of [1, 2, 3, 4, 5]) {
        assert.equal(await writer.send(`publish ${seq}`), 'ok');
        await until(`frame ${seq}`, () => stream.latestFrame(seen.at(-1)?.seq)?.seq === seq);
        const frame = stream.latestFrame(seen.at(-1)?.seq);
        assert.deepEqual([frame.width, frame.height, frame.generation, frame.layout, frame.torn],
          [8, 4, 1, 'rgba-top-down', false]);
        assert.equal(patternMismatch(frame.pixels, seq, 128), -1, `frame ${seq}`);
        seen.push(frame);
        assert.equal(stream.latestFrame(seq), null, 'a frame is handed out once');
      }
      // Each copy went into the buffer it was given, which then moved to the
      // page (empty on the preload's side); each frame the page held moved
      // back once a newer one came.
      assert.deepEqual(copies.map((c) => c.frame.seq), [1, 2, 3, 4, 5]);
      assert.ok(copies.every((c) => c.frame.pixels === c.into && c.into.byteLength === 0));
      await until('buffers handed back', () => seen.slice(0, -1).every((f) => f.pixels.byteLength === 0));
      assert.equal(seen.at(-1).pixels.byteLength, 128);

      // A new ring, of another size: the page's frames follow it.
      const second = `${namePrefix}a-g2`;
      assert.equal(await writer.send(`create ${second} 16 2 2 1`), 'ok');
      announce(1, second);
      assert.equal(await writer.send('publish 6'), 'ok');
      await until('the new ring\'s frame', () => stream.latestFrame(5)?.seq === 6);
      const frame = stream.latestFrame(5);
      assert.deepEqual([frame.width, frame.height, frame.generation], [16, 2, 2]);
      assert.equal(patternMismatch(frame.pixels, 6, 128), -1);
      stream.close();
    } finally {
      FrameFollower.prototype.poll = poll;
      preload.close();
      await writer.send('close');
    }
  });

  it('lets each stream\'s follower see only its own ring', async () => {
    const names = [`${namePrefix}b0-g1`, `${namePrefix}b1-g1`];
    const writers = [writer, new RingWriter()];
    const { world, preload } = standIn({}, names);
    try {
      for (const [i, name] of names.entries()) assert.equal(await writers[i].send(`create ${name} 4 ${i + 1} 1 1`), 'ok');
      const streams = await Promise.all([0, 1].map((i) => followStream(world.video, i, { window: world })));
      assert.equal(await writers[0].send('publish 7'), 'ok');
      assert.equal(await writers[1].send('publish 9'), 'ok');
      await until('both frames', () => streams[0].latestFrame() && streams[1].latestFrame());
      const [a, b] = streams.map((s) => s.latestFrame());
      assert.deepEqual([a.seq, a.height, b.seq, b.height], [7, 1, 9, 2]);
      streams.forEach((s) => s.close());
    } finally {
      preload.close();
      await writers[0].send('close');
      await writers[1].end();
    }
  });

  it('refuses a URL of a scheme not allowed in the page, and sends the others on', () => {
    const { world, sent, preload } = standIn({ allowedSchemes: ['http', 'https'] }, []);
    const cases = [
      ['https://example.invalid/a.m3u8', null],
      ['HTTP://example.invalid/b', null],
      ['/home/me/picture.jpg', 'file'],
      ['file:///etc/passwd', 'file'],
      ['av://lavfi:testsrc2', 'av'],
      ['edl://a.mkv', 'edl'],
    ];
    for (const [url, refused] of cases) {
      if (refused) {
        assert.throws(() => world.video.load(0, url), {
          code: 'ERR_URL_SCHEME_NOT_ALLOWED',
          message: `URL refused: scheme "${refused}" is not in allowedSchemes (http, https)`,
        });
      } else {
        world.video.load(0, url);
      }
    }
    assert.deepEqual(sent, [[0, 'https://example.invalid/a.m3u8'], [0, 'HTTP://example.invalid/b']]);
    assert.throws(() => world.video.follow(-1), { name: 'TypeError', message: 'follow(index) needs a stream index, not -1' });
    assert.throws(() => standIn({ allowedSchemes: 'https' }, []), TypeError);
    preload.close();
  });
});
