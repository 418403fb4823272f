'use strict';
// The frame reader module against segments crafted byte by byte in /dev/shm
// and against a real writer process (tests/tools/ring_writer, which publishes
// through the helper's ShmRing).
//
// ORVANEL_STRESS_SECONDS sets the length of the cross-process stress run
// (default 3).
const { describe, it, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const reader = require('../../lib/frame_reader');
const { RingWriter, patternMismatch } = require('./support/ring_writer');

const namePrefix = `ompv-rt-${process.pid}-`;
let nameCounter = 0;
const uniqueName = (what) => `/${namePrefix}${what}-${++nameCounter}`;
const shmPath = (name) => path.join('/dev/shm', name.slice(1));

const MAGIC = 0x564d5046;
const HEADER_BYTES = 104;

// Writes a segment file: `size` bytes, a header from `fields` (unsigned, little
// endian, at the ring's offsets) and optional pixel bytes at given offsets.
function craftSegment(name, fields = {}, extra = {}) {
  const width = fields.width ?? 4;
  const height = fields.height ?? 2;
  const stride = fields.stride ?? width * 4;
  const frameBytes = BigInt(fields.frameBytes ?? stride * height);
  const dataOffset = BigInt(fields.dataOffset ?? 4096);
  const size = extra.size ?? Number(dataOffset + 3n * frameBytes);
  const segment = Buffer.alloc(size);
  if (size >= HEADER_BYTES && !extra.blank) {
    segment.writeUInt32LE(fields.magic ?? MAGIC, 0);
    segment.writeUInt32LE(fields.version ?? 1, 4);
    segment.writeUInt32LE(width, 8);
    segment.writeUInt32LE(height, 12);
    segment.writeUInt32LE(stride, 16);
    segment.writeUInt32LE(fields.generation ?? 1, 20);
    segment.writeBigUInt64LE(frameBytes, 24);
    segment.writeBigUInt64LE(dataOffset, 32);
    segment.writeBigUInt64LE(BigInt(fields.latestSeq ?? 0), 40);
    segment.writeBigUInt64LE(BigInt(fields.heartbeatNs ?? 0), 48);
    (fields.slots ?? []).forEach((slot, i) => {
      segment.writeBigUInt64LE(BigInt(slot.seq), 56 + 16 * i);
      segment.writeBigUInt64LE(BigInt(slot.timestampNs ?? 0), 64 + 16 * i);
    });
    if (fields.layout !== undefined) segment.writeUInt32LE(fields.layout, 104);
  }
  for (const [offset, bytes] of extra.pixels ?? []) Buffer.from(bytes).copy(segment, offset);
  fs.writeFileSync(shmPath(name), segment, { mode: 0o600 });
  return name;
}

// Overwrites bytes of a segment in place: an open mapping sees the change.
function patchSegment(name, offset, bytes) {
  const fd = fs.openSync(shmPath(name), 'r+');
  try {
    fs.writeSync(fd, Buffer.from(bytes), 0, bytes.length, offset);
  } finally {
    fs.closeSync(fd);
  }
}

const u64 = (value) => {
  const b = Buffer.alloc(8);
  b.writeBigUInt64LE(BigInt(value));
  return b;
};
const nowNs = () => process.hrtime.bigint(); // CLOCK_MONOTONIC, as the ring's times

const crafted = new Set();
const writers = new Set();
function craft(name, fields, extra) {
  crafted.add(name);
  return craftSegment(name, fields, extra);
}

// Segments open refuses, each with its message: both the module's open and
// openRing must refuse them alike.
function unopenableRings() {
  return [
    [uniqueName('missing'), 'shm_open failed (helper gone?)'],
    [craft(uniqueName('small'), {}, { size: 50 }), 'shm segment too small'],
    [craft(uniqueName('zero'), {}, { size: 104, blank: true }), 'frame ring not initialized yet'],
    [craft(uniqueName('lie'), { stride: 3 }), 'frame ring header is inconsistent'],
    [craft(uniqueName('short'), {}, { size: 4100 }), 'shm segment smaller than its frames'],
    [craft(uniqueName('layout'), { layout: 2 }), 'frame ring pixel layout is unknown'],
  ];
}

function startWriter() {
  const writer = new RingWriter();
  writers.add(writer);
  return writer;
}

after(async () => {
  reader.close();
  await Promise.all([...writers].map((w) => w.end()));
  for (const name of crafted) fs.rmSync(shmPath(name), { force: true });
  const left = fs.readdirSync('/dev/shm').filter((f) => f.startsWith(namePrefix));
  assert.deepEqual(left, [], 'shared-memory objects left behind');
});

describe('frame reader', () => {
  describe('open', () => {
    it('requires a name, as a string', () => {
      assert.throws(() => reader.open(), { message: 'open(name) requires the shm name' });
      for (const bad of [undefined, null, 42, {}, Buffer.from('/ompv-g1'), ['/ompv-g1']]) {
        assert.throws(() => reader.open(bad), { message: 'shm name must be a string' });
      }
    });

    it('throws plain Errors without a code', () => {
      try {
        reader.open(uniqueName('missing'));
        assert.fail('open of a missing ring succeeded');
      } catch (err) {
        assert.equal(err.constructor, Error);
        assert.equal(err.message, 'shm_open failed (helper gone?)');
        assert.equal(err.code, undefined);
      }
    });

    it('refuses segments smaller than the header', () => {
      for (const size of [0, 50, 103]) {
        const name = craft(uniqueName('small'), {}, { size });
        assert.throws(() => reader.open(name), { message: 'shm segment too small' });
      }
    });

    it('refuses a ring that is not initialized yet', () => {
      const zero = craft(uniqueName('zero'), {}, { size: 104, blank: true });
      assert.throws(() => reader.open(zero), { message: 'frame ring not initialized yet' });
      const badMagic = craft(uniqueName('magic'), { magic: 0x46504d56 });
      assert.throws(() => reader.open(badMagic), { message: 'frame ring not initialized yet' });
      const badVersion = craft(uniqueName('version'), { version: 2 });
      assert.throws(() => reader.open(badVersion), { message: 'frame ring not initialized yet' });
    });

    it('reads the pixel layout from the word after the header, in the module and in ring objects', () => {
      const cases = [
        [{}, 'bgra-bottom-up'],
        [{ layout: 0 }, 'bgra-bottom-up'],
        [{ layout: 1 }, 'rgba-top-down'],
        // Pixels right after the header: the word is theirs, the layout the default.
        [{ layout: 1, dataOffset: 104 }, 'bgra-bottom-up'],
      ];
      for (const [fields, layout] of cases) {
        const name = craft(uniqueName('layout'), fields);
        assert.equal(reader.open(name).layout, layout, JSON.stringify(fields));
        const ring = reader.openRing(name);
        assert.equal(ring.layout, layout, JSON.stringify(fields));
        ring.close();
      }
      reader.close();
    });

    it('refuses a header that contradicts itself', () => {
      const lies = [
        { width: 4, height: 2, stride: 20 },
        { width: 4, height: 2, frameBytes: 64 },
        { width: 4, height: 2, frameBytes: 16 },
        { dataOffset: 0 },
        { dataOffset: 103 },
        // width x 4 does not fit the 32-bit stride
        { width: 0x40000000, height: 1, stride: 0, frameBytes: 0 },
        // three slots of this frame overflow 64 bits
        {
          width: 0x3fffffff, height: 0xffffffff, stride: 0xfffffffc,
          frameBytes: 0xfffffffcn * 0xffffffffn,
        },
        // data offset + slots overflow 64 bits
        { dataOffset: 2n ** 64n - 8n },
      ];
      for (const fields of lies) {
        const name = craft(uniqueName('lie'), fields, { size: 4096 + 96 });
        assert.throws(() => reader.open(name), { message: 'frame ring header is inconsistent' },
          JSON.stringify(fields, (k, v) => (typeof v === 'bigint' ? `${v}` : v)));
      }
    });

    it('refuses a segment smaller than its frames', () => {
      const short = craft(uniqueName('short'), { width: 4, height: 2 }, { size: 4096 + 96 - 1 });
      assert.throws(() => reader.open(short), { message: 'shm segment smaller than its frames' });
      // A 1280 x 720 header in a segment of a few pages.
      const hd = craft(uniqueName('hd'), { width: 1280, height: 720 }, { size: 8192 });
      assert.throws(() => reader.open(hd), { message: 'shm segment smaller than its frames' });
      const far = craft(uniqueName('far'), { dataOffset: 1 << 20 }, { size: 4096 + 96 });
      assert.throws(() => reader.open(far), { message: 'shm segment smaller than its frames' });
    });

    it('maps a ring of exactly its size and reports its geometry in order', () => {
      // Data offset other than 4096: the header's own value is used.
      const frameBytes = 6 * 3 * 4;
      const end = 200 + 3 * frameBytes;
      const name = craft(uniqueName('exact'),
        { width: 6, height: 3, dataOffset: 200, generation: 9, latestSeq: 5,
          slots: [{ seq: 3 }, { seq: 4 }, { seq: 5, timestampNs: nowNs() }] },
        { pixels: [[200 + 2 * frameBytes, [1, 2, 3, 4]], [end - 2, [0xfe, 0xff]]] });
      const info = reader.open(name);
      assert.deepEqual(Object.keys(info), ['width', 'height', 'stride', 'frameBytes', 'generation', 'layout']);
      assert.deepEqual(info, { width: 6, height: 3, stride: 24, frameBytes, generation: 9, layout: 'bgra-bottom-up' });
      const frame = new ArrayBuffer(frameBytes);
      const got = reader.copyLatest(frame);
      assert.equal(got.seq, 5);
      const bytes = new Uint8Array(frame);
      assert.deepEqual([...bytes.subarray(0, 4)], [1, 2, 3, 4]);
      assert.deepEqual([...bytes.subarray(frameBytes - 2)], [0xfe, 0xff]);
      reader.close();
    });

    it('cuts a name longer than 255 bytes', () => {
      const name = craft(`/${namePrefix}long-`.padEnd(255, 'x'), { latestSeq: 7 });
      reader.open(`${name}yyyy`);
      assert.equal(reader.latestSeq(), 7);
      reader.close();
    });

    it('keeps the previous ring when an open fails, and replaces it when one succeeds', () => {
      const first = craft(uniqueName('first'), { latestSeq: 5, generation: 1 });
      const second = craft(uniqueName('second'), { latestSeq: 8, generation: 2 });
      reader.open(first);
      const failures = unopenableRings();
      for (const [name, message] of failures) {
        assert.throws(() => reader.open(name), { message });
        assert.equal(reader.latestSeq(), 5);
      }
      assert.throws(() => reader.open(42), { message: 'shm name must be a string' });
      assert.equal(reader.latestSeq(), 5);
      assert.equal(reader.open(second).generation, 2);
      assert.equal(reader.latestSeq(), 8);
      reader.close();
    });
  });

  describe('copyLatest', () => {
    it('throws "call open() first" before any open, also without an argument', () => {
      reader.close();
      assert.throws(() => reader.copyLatest(), { message: 'call open() first' });
      assert.throws(() => reader.copyLatest(new ArrayBuffer(1 << 20)), { message: 'call open() first' });
    });

    it('checks its argument: present, an ArrayBuffer, at least one frame', () => {
      const name = craft(uniqueName('args'), { latestSeq: 1, slots: [{ seq: 0 }, { seq: 1 }] });
      const { frameBytes } = reader.open(name);
      assert.throws(() => reader.copyLatest(), { message: 'copyLatest(buffer) needs a buffer' });
      const notArrayBuffers = [
        new Uint8Array(frameBytes), Buffer.alloc(frameBytes), new DataView(new ArrayBuffer(frameBytes)),
        new SharedArrayBuffer(frameBytes), undefined, null, frameBytes, 'frame', [0],
      ];
      for (const bad of notArrayBuffers) {
        assert.throws(() => reader.copyLatest(bad), { message: 'argument must be an ArrayBuffer' });
      }
      assert.throws(() => reader.copyLatest(new ArrayBuffer(frameBytes - 1)),
        { message: 'buffer smaller than one frame' });
      assert.equal(reader.copyLatest(new ArrayBuffer(frameBytes), 'extra', 1).seq, 1);
      reader.close();
    });

    it('returns null on an empty ring and on a slot being rewritten, copying nothing', () => {
      const name = craft(uniqueName('empty'), {}, { pixels: [[4096, [9, 9, 9, 9]]] });
      const { frameBytes } = reader.open(name);
      const frame = new ArrayBuffer(frameBytes);
      new Uint8Array(frame).fill(0xab);
      assert.equal(reader.latestSeq(), 0);
      assert.equal(reader.copyLatest(frame), null);
      // latestSeq 4 names slot 1, whose seq says it is being rewritten.
      patchSegment(name, 40, u64(4));
      assert.equal(reader.latestSeq(), 4);
      assert.equal(reader.copyLatest(frame), null);
      patchSegment(name, 72, u64(1));
      assert.equal(reader.copyLatest(frame), null);
      assert.ok(new Uint8Array(frame).every((b) => b === 0xab));
      reader.close();
    });

    it('copies one frame from the slot of latestSeq into the start of the buffer', () => {
      const frameBytes = 32;
      const slotStart = (slot) => 4096 + slot * frameBytes;
      const name = craft(uniqueName('slots'),
        { latestSeq: 3, slots: [{ seq: 3, timestampNs: nowNs() - 250_000_000n }, { seq: 1 }, { seq: 2 }] },
        { pixels: [[slotStart(0), Array(32).fill(0x30)], [slotStart(1), Array(32).fill(0x31)],
          [slotStart(2), Array(32).fill(0x32)]] });
      reader.open(name);
      const frame = new ArrayBuffer(frameBytes + 8);
      new Uint8Array(frame).fill(0xee);
      const got = reader.copyLatest(frame);
      assert.deepEqual(Object.keys(got), ['seq', 'ageMs', 'torn']);
      assert.equal(got.seq, 3);
      assert.equal(got.torn, false);
      assert.ok(got.ageMs >= 250 && got.ageMs < 5000, `ageMs ${got.ageMs}`);
      const bytes = new Uint8Array(frame);
      assert.ok(bytes.subarray(0, frameBytes).every((b) => b === 0x30));
      assert.ok(bytes.subarray(frameBytes).every((b) => b === 0xee), 'bytes after the frame touched');

      patchSegment(name, 40, u64(4));
      patchSegment(name, 72, u64(4)); // frame 4 in slot 1
      assert.equal(reader.copyLatest(frame).seq, 4);
      assert.ok(bytes.subarray(0, frameBytes).every((b) => b === 0x31));
      reader.close();
    });

    it('keeps to the geometry read at open whatever the header says later', () => {
      const name = craft(uniqueName('liar'), { latestSeq: 2, slots: [{ seq: 0 }, { seq: 0 }, { seq: 2 }] },
        { pixels: [[4096 + 2 * 32, Array(32).fill(0x77)]] });
      const { frameBytes } = reader.open(name);
      // Another process rewrites the geometry to point far outside the mapping.
      patchSegment(name, 8, [0xff, 0xff, 0, 0, 0xff, 0xff, 0, 0, 0xfc, 0xff, 3, 0]);
      patchSegment(name, 24, Buffer.concat([u64(2n ** 40n), u64(2n ** 50n)]));
      const frame = new ArrayBuffer(frameBytes);
      assert.equal(reader.copyLatest(frame).seq, 2);
      assert.ok(new Uint8Array(frame).every((b) => b === 0x77));
      // Any sequence number maps to one of the three slots.
      patchSegment(name, 40, u64(2n ** 64n - 1n));
      assert.equal(reader.copyLatest(frame), null);
      reader.close();
    });
  });

  describe('producerAliveMs', () => {
    it('is -1 without a ring and before the first heartbeat, then the heartbeat age', () => {
      reader.close();
      assert.equal(reader.producerAliveMs(), -1);
      const name = craft(uniqueName('hb'));
      reader.open(name);
      assert.equal(reader.producerAliveMs(), -1);
      patchSegment(name, 48, u64(nowNs() - 1_500_000_000n));
      const alive = reader.producerAliveMs();
      assert.ok(alive >= 1500 && alive < 6500, `producerAliveMs ${alive}`);
      reader.close();
    });
  });

  describe('close', () => {
    it('forgets the ring, never throws, and may be repeated', () => {
      const name = craft(uniqueName('close'), { latestSeq: 3, heartbeatNs: nowNs(), slots: [{ seq: 3 }] });
      reader.open(name);
      assert.equal(reader.latestSeq(), 3);
      assert.ok(reader.producerAliveMs() >= 0);
      assert.equal(reader.close(), undefined);
      assert.equal(reader.close(), undefined);
      assert.equal(reader.latestSeq(), 0);
      assert.equal(reader.producerAliveMs(), -1);
      assert.throws(() => reader.copyLatest(new ArrayBuffer(32)), { message: 'call open() first' });
      assert.equal(reader.close('extra'), undefined);
    });
  });

  describe('openRing', () => {
    it('refuses what open refuses, with the same messages, and leaves the module ring alone', () => {
      const current = craft(uniqueName('current'), { latestSeq: 5 });
      reader.open(current);
      assert.throws(() => reader.openRing(), { message: 'open(name) requires the shm name' });
      assert.throws(() => reader.openRing(42), { message: 'shm name must be a string' });
      const failures = unopenableRings();
      for (const [name, message] of failures) {
        assert.throws(() => reader.openRing(name), { message });
      }
      // A ring object of the same segment does not replace the module's ring.
      const ring = reader.openRing(current);
      assert.equal(reader.latestSeq(), 5);
      ring.close();
      assert.equal(reader.latestSeq(), 5);
      reader.close();
    });

    it('keeps any number of rings open, each with its own geometry and frames', () => {
      const rings = [1, 2, 3].map((n) => {
        const frameBytes = 4 * n * 2 * 4;
        const name = craft(uniqueName(`many${n}`),
          { width: 4 * n, height: 2, generation: n, latestSeq: n, heartbeatNs: nowNs(),
            slots: [{ seq: 3 }, { seq: 1 }, { seq: 2 }].map((slot) => ({ ...slot, timestampNs: nowNs() })) },
          { pixels: [[4096 + (n % 3) * frameBytes, Array(frameBytes).fill(0x40 + n)]] });
        return reader.openRing(name);
      });
      rings.forEach((ring, i) => {
        const n = i + 1;
        assert.deepEqual(Object.keys(ring), ['width', 'height', 'stride', 'frameBytes', 'generation', 'layout']);
        assert.deepEqual({ ...ring },
          { width: 4 * n, height: 2, stride: 16 * n, frameBytes: 32 * n, generation: n, layout: 'bgra-bottom-up' });
        assert.equal(ring.latestSeq(), n);
        assert.ok(ring.producerAliveMs() >= 0);
      });
      // Copies in reverse order: each object reads only its own mapping.
      for (const [i, ring] of [...rings.entries()].reverse()) {
        const frame = new ArrayBuffer(ring.frameBytes);
        const got = ring.copyLatest(frame);
        assert.deepEqual([got.seq, got.torn], [i + 1, false]);
        assert.ok(new Uint8Array(frame).every((b) => b === 0x41 + i));
        assert.throws(() => ring.copyLatest(new ArrayBuffer(ring.frameBytes - 1)),
          { message: 'buffer smaller than one frame' });
        assert.throws(() => ring.copyLatest(new Uint8Array(ring.frameBytes)),
          { message: 'argument must be an ArrayBuffer' });
        assert.throws(() => ring.copyLatest(), { message: 'copyLatest(buffer) needs a buffer' });
      }
      rings[1].close();
      assert.equal(rings[0].latestSeq(), 1);
      assert.equal(rings[2].latestSeq(), 3);
      rings[0].close();
      rings[2].close();
    });

    it('behaves like the closed module once closed, and for a method taken off its object', () => {
      const name = craft(uniqueName('closed'), { latestSeq: 3, heartbeatNs: nowNs(), slots: [{ seq: 3 }] });
      const ring = reader.openRing(name);
      const { copyLatest, latestSeq } = ring;
      assert.equal(latestSeq.call({}), 0);
      assert.throws(() => copyLatest.call(undefined, new ArrayBuffer(32)), { message: 'call open() first' });
      assert.equal(ring.close(), undefined);
      assert.equal(ring.close(), undefined);
      assert.equal(ring.latestSeq(), 0);
      assert.equal(ring.producerAliveMs(), -1);
      assert.throws(() => ring.copyLatest(), { message: 'call open() first' });
      assert.equal(ring.width, 4, 'the geometry stays readable');
    });
  });

  describe('with a writer process', () => {
    it('sees a fresh 1280x720 ring empty, then each published frame', async () => {
      const writer = startWriter();
      const name = uniqueName('live');
      assert.equal(await writer.send(`create ${name} 1280 720 1`), 'ok');
      const info = reader.open(name);
      assert.deepEqual(info,
        { width: 1280, height: 720, stride: 5120, frameBytes: 3686400, generation: 1, layout: 'bgra-bottom-up' });
      assert.equal(fs.statSync(shmPath(name)).size, 11063296);
      const frame = new ArrayBuffer(info.frameBytes);
      assert.equal(reader.latestSeq(), 0);
      assert.equal(reader.copyLatest(frame), null);
      assert.equal(reader.producerAliveMs(), -1);

      for (const seq of [1, 2, 3, 4]) {
        assert.equal(await writer.send(`publish ${seq}`), 'ok');
        assert.equal(reader.latestSeq(), seq);
        const got = reader.copyLatest(frame);
        assert.equal(got.seq, seq);
        assert.equal(got.torn, false);
        assert.ok(got.ageMs >= 0 && got.ageMs < 2000, `ageMs ${got.ageMs}`);
        assert.equal(patternMismatch(frame, seq, info.frameBytes), -1);
      }
      assert.equal(await writer.send('heartbeat'), 'ok');
      const alive = reader.producerAliveMs();
      assert.ok(alive >= 0 && alive < 2000, `producerAliveMs ${alive}`);

      // A new generation: the old name is gone, the old mapping stays readable.
      const next = uniqueName('live');
      assert.equal(await writer.send(`create ${next} 64 32 2`), 'ok');
      assert.equal(fs.existsSync(shmPath(name)), false);
      assert.equal(reader.copyLatest(frame).seq, 4);
      assert.throws(() => reader.open(name), { message: 'shm_open failed (helper gone?)' });
      assert.equal(reader.latestSeq(), 4);
      const small = reader.open(next);
      assert.equal(small.generation, 2);
      assert.equal(await writer.send('publish 5'), 'ok'); // the sequence goes on
      assert.equal(reader.copyLatest(frame).seq, 5);
      assert.equal(patternMismatch(frame, 5, small.frameBytes), -1);

      await writer.end();
      assert.equal(fs.existsSync(shmPath(next)), false);
      assert.equal(reader.latestSeq(), 5); // still mapped after the unlink
      reader.close();
    });

    // Both ways the helper writes a slot: a copy of a finished frame, and the
    // software renderer drawing in place, rows upward, while readers copy.
    for (const [mode, command] of [['copied in', 'stream'], ['drawn in place', 'stream-in-place']]) {
    it(`never hands out a mixed frame as whole while the writer runs flat out (frames ${mode})`, async (t) => {
      const seconds = Number(process.env.ORVANEL_STRESS_SECONDS) || 3;
      const writer = startWriter();
      const name = uniqueName('stress');
      assert.equal(await writer.send(`create ${name} 640 360 1`), 'ok');
      const { frameBytes } = reader.open(name);
      const frame = new ArrayBuffer(frameBytes);
      assert.equal(await writer.send(`${command} 1`), 'streaming');
      const firstFrameBy = Date.now() + 10_000;
      while (reader.latestSeq() === 0 && Date.now() < firstFrameBy);

      let copies = 0;
      let rewritten = 0; // null: the newest slot was already being rewritten
      let torn = 0;
      let tornMixed = 0;
      let wholeMismatches = 0;
      let lastSeq = 0;
      let seqWentBack = 0;
      let ageSum = 0;
      const deadline = Date.now() + seconds * 1000;
      while (Date.now() < deadline) {
        const got = reader.copyLatest(frame);
        if (got === null) {
          rewritten++;
          continue;
        }
        copies++;
        ageSum += got.ageMs;
        if (got.seq < lastSeq) seqWentBack++;
        lastSeq = got.seq;
        const mismatch = patternMismatch(frame, got.seq, frameBytes);
        if (got.torn) {
          torn++;
          if (mismatch >= 0) tornMixed++;
        } else if (mismatch >= 0) {
          wholeMismatches++;
        }
      }
      const [word, published, last] = (await writer.send('stop')).split(' ');
      assert.equal(word, 'stopped');
      await writer.end();
      reader.close();

      t.diagnostic(`${seconds} s at 640x360: writer published ${published} frames (last seq ${last}); ` +
        `reader made ${copies} copies, ${rewritten} nulls, ${torn} torn (${tornMixed} of them mixed), ` +
        `mean age ${(ageSum / Math.max(copies, 1)).toFixed(3)} ms`);
      assert.equal(wholeMismatches, 0, 'a copy not flagged torn mixed frames');
      assert.equal(seqWentBack, 0);
      assert.ok(copies > 0 && lastSeq > 1, 'no frames were read');
      assert.ok(Number(last) >= lastSeq);
    });
    }
  });
});
