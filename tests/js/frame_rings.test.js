'use strict';
// Ring objects (openRing): four helpers followed from one process, and every
// way a mapping is released (close, collection, a terminated worker), counted
// in /proc/self/maps.
const { describe, it, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const v8 = require('node:v8');
const vm = require('node:vm');
const { Worker } = require('node:worker_threads');
const reader = require('../../lib/frame_reader');
const { FrameFollower } = require('../../lib/frame_follower');
const { uniqueShmBase, shmLeftovers, startHelper, sleep } = require('./helper_fixtures');

v8.setFlagsFromString('--expose-gc');
const gc = vm.runInNewContext('gc');

const segment = `/ompv-rings-${process.pid}`;
// A valid, empty 64x32 ring, as the helper creates it.
function craftRing(name) {
  const header = Buffer.alloc(4096 + 3 * 64 * 32 * 4);
  [0x564d5046, 1, 64, 32, 256, 1].forEach((v, i) => header.writeUInt32LE(v, i * 4));
  header.writeBigUInt64LE(BigInt(64 * 32 * 4), 24);
  header.writeBigUInt64LE(4096n, 32);
  fs.writeFileSync(`/dev/shm${name}`, header, { mode: 0o600 });
}
const mappingsOf = (name) => fs.readFileSync('/proc/self/maps', 'utf8')
  .split('\n').filter((line) => line.endsWith(`/dev/shm${name}`)).length;

// CPU seconds a process has used so far (user + system), from /proc.
function cpuSeconds(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / 100;
}

after(() => fs.rmSync(`/dev/shm${segment}`, { force: true }));

describe('ring objects', () => {
  it('release their mappings on close, on collection and at a worker\'s end', async () => {
    craftRing(segment);
    const rings = Array.from({ length: 5 }, () => reader.openRing(segment));
    reader.open(segment);
    assert.equal(mappingsOf(segment), 6);
    rings.forEach((ring) => ring.close());
    assert.equal(mappingsOf(segment), 1, 'close left mappings behind');
    reader.close();
    assert.equal(mappingsOf(segment), 0);

    // Forgotten objects: their finalizers run after a collection.
    (() => { for (let i = 0; i < 5; i++) reader.openRing(segment); })();
    assert.equal(mappingsOf(segment), 5);
    for (let turn = 0; turn < 50 && mappingsOf(segment) > 0; turn++) {
      gc();
      await new Promise(setImmediate);
    }
    assert.equal(mappingsOf(segment), 0, 'collected rings stayed mapped');

    // A worker killed while it holds ring objects and the module's ring.
    const worker = new Worker(`
      const { parentPort, workerData } = require('node:worker_threads');
      const reader = require(workerData.lib);
      globalThis.kept = [1, 2, 3].map(() => reader.openRing(workerData.segment));
      reader.open(workerData.segment);
      parentPort.postMessage('open');
      for (;;);
    `, { eval: true, workerData: { lib: require.resolve('../../lib/frame_reader'), segment } });
    const [message] = await new Promise((resolve, reject) => {
      worker.once('message', (m) => resolve([m]));
      worker.once('error', reject);
    });
    assert.equal(message, 'open');
    assert.equal(mappingsOf(segment), 4);
    const exited = new Promise((resolve) => worker.once('exit', resolve));
    await worker.terminate();
    await exited;
    assert.equal(mappingsOf(segment), 0, 'the terminated worker\'s rings stayed mapped');
  });

  it('let one process follow four helpers, each frame right for its own stream', async (t) => {
    // One colour and size per stream; frames come BGRA.
    const streams = [
      { colour: '0xff0000', bgr: [0, 0, 255], size: [320, 240] },
      { colour: '0x00ff00', bgr: [0, 255, 0], size: [256, 144] },
      { colour: '0x0000ff', bgr: [255, 0, 0], size: [192, 192] },
      { colour: '0xffff00', bgr: [0, 255, 255], size: [160, 120] },
    ];
    const bases = streams.map((_, i) => uniqueShmBase(`rings${i}`));
    const helpers = streams.map((s, i) => startHelper({ shmBase: bases[i], width: s.size[0], height: s.size[1] }));
    const followers = helpers.map((helper) => new FrameFollower(helper));
    try {
      streams.forEach((s, i) => helpers[i].load(
        `av://lavfi:color=c=${s.colour}:size=${s.size[0]}x${s.size[1]}:rate=30`));
      await Promise.all(helpers.map((h) => h.waitForSnapshot((s) => s.status === 'playing' && s.videoWidth > 0)));

      const counts = streams.map(() => 0);
      const wrong = [];
      const check = (i, frame) => {
        const [w, h] = streams[i].size;
        if (frame.width !== w || frame.height !== h) wrong.push(`stream ${i}: ${frame.width}x${frame.height}`);
        const px = new Uint8Array(frame.pixels);
        for (let p = 0; p < w * h; p += 97) {
          const got = [px[p * 4], px[p * 4 + 1], px[p * 4 + 2]];
          if (got.some((v, c) => Math.abs(v - streams[i].bgr[c]) > 16)) {
            wrong.push(`stream ${i} pixel ${p}: ${got}`);
            break;
          }
        }
      };
      const deadline = Date.now() + 60000;
      const inTime = () => {
        if (Date.now() > deadline) assert.fail(`frames per stream after 60 s: ${counts}`);
        return true;
      };
      // Warm up until every stream has shown a frame, then measure.
      while (counts.some((c) => c === 0) && inTime()) {
        followers.forEach((f, i) => { const frame = f.poll(); if (frame) { check(i, frame); counts[i]++; } });
        await sleep(5);
      }
      counts.fill(0);
      const cpuBefore = helpers.map((h) => cpuSeconds(h.pid));
      const ownBefore = process.cpuUsage();
      const started = process.hrtime.bigint();
      while (counts.some((c) => c < 45) && inTime()) {
        followers.forEach((f, i) => { const frame = f.poll(); if (frame) { check(i, frame); counts[i]++; } });
        await sleep(5);
      }
      const seconds = Number(process.hrtime.bigint() - started) / 1e9;
      const own = process.cpuUsage(ownBefore);
      const helperCpu = helpers.map((h, i) => (cpuSeconds(h.pid) - cpuBefore[i]) / seconds);
      t.diagnostic(`4 streams in ${seconds.toFixed(2)} s: frames/s ${counts.map((c) => (c / seconds).toFixed(1)).join(', ')}; ` +
        `helper CPU per stream ${helperCpu.map((c) => `${(c * 100).toFixed(0)} %`).join(', ')}; ` +
        `this process (4 followers) ${(((own.user + own.system) / 1e6 / seconds) * 100).toFixed(0)} %`);
      assert.deepEqual(wrong, []);
      // Each follower maps its helper's current ring, once.
      assert.deepEqual(helpers.map((h) => mappingsOf(h.lastShm.name)), [1, 1, 1, 1]);
    } finally {
      followers.forEach((f) => f.close());
      await Promise.all(helpers.map((h) => h.close()));
    }
    assert.deepEqual(helpers.map((h) => mappingsOf(h.lastShm.name)), [0, 0, 0, 0]);
    assert.deepEqual(bases.flatMap(shmLeftovers), []);
  });
});
