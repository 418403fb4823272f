'use strict';
// Faults around the helper: hostile command input, the helper killed under a
// reader, and the application's pipes going away. In every case the helper
// (or its successor) must go on or end cleanly, and leave no ring behind.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const reader = require('../../lib/frame_reader');
const { makeMedia, uniqueShmBase, startHelper, sleep } = require('./helper_fixtures');
const {
  randomSource, shmObjects, processResources, describeGrowth, underSanitizer, quitCleanly,
} = require('./soak_fixtures');

const TEST_SOURCE = 'av://lavfi:testsrc2=size=320x240:rate=30';
const COMMANDS = new Set(['load', 'seek', 'seek-by', 'pause', 'volume', 'aid', 'sid', 'speed',
  'aspect', 'sub-add', 'sub-delay', 'sub-scale', 'sub-color', 'record', 'size', 'quit']);

// Lines of random bytes (no line feed), none of which names a command.
function randomLines(random, count) {
  const lines = [];
  for (let i = 0; i < count; i += 1) {
    const bytes = Buffer.alloc(random.int(0, 200));
    for (let k = 0; k < bytes.length; k += 1) {
      bytes[k] = random.pick([random.int(0, 255), 9, 61, 37]);  // tabs, '=' and '%' often
      if (bytes[k] === 10) bytes[k] = 11;
    }
    const name = bytes.toString('latin1').split('\t')[0];
    lines.push(COMMANDS.has(name) ? Buffer.concat([Buffer.from('x'), bytes]) : bytes);
  }
  return lines;
}

const ABSURD_NUMBERS = ['nan', 'inf', '-inf', '1e308', '-1e308', '0x1p1023', '1e-320', '1e999',
  '-0', '2147483648', '-2147483649', '9'.repeat(400), ' \t', '0x', '.e5'];

function absurdNumberLines() {
  const lines = [];
  for (const n of ABSURD_NUMBERS) {
    for (const [name, key] of [['seek', 'seconds'], ['seek-by', 'seconds'], ['volume', 'value'],
      ['speed', 'value'], ['sub-delay', 'value'], ['sub-scale', 'value'], ['aid', 'value'],
      ['sid', 'value']]) {
      lines.push(`${name}\t${key}=${n}`);
    }
    lines.push(`size\twidth=${n}\theight=${n}`, `size\twidth=${n}\theight=240`);
  }
  return lines.map((line) => Buffer.from(line, 'latin1'));
}

function hugeFieldLines() {
  const mib = 1 << 20;
  return [
    `load\turl=/nonexistent/${'a'.repeat(mib)}`,
    `seek\tseconds=${'9'.repeat(mib)}`,
    `sub-color\tvalue=${'x'.repeat(mib)}`,
    `aspect\t${'k'.repeat(mib)}=16:9`,
    '\t'.repeat(mib),
    `record\tpath=/nonexistent/${'%41'.repeat(mib / 3)}`,
    'record\tpath=',
  ].map((line) => Buffer.from(line, 'latin1'));
}

function invalidUtf8Lines() {
  return [
    Buffer.from('load\turl=%FF%FE%C3%28/nonexistent%ED%A0%80'),
    Buffer.concat([Buffer.from('aspect\tvalue='), Buffer.from([0xff, 0xfe, 0xc3, 0x28])]),
    Buffer.concat([Buffer.from('sub-add\tpath=/nonexistent/'), Buffer.from([0xc0, 0xaf, 0xf5])]),
    Buffer.concat([Buffer.from([0xe2, 0x82]), Buffer.from('\tvalue=1')]),
    Buffer.from('sub-color\tvalue=%F0%9F%8E'),
  ];
}

describe('helper faults', () => {
  let media;

  before(() => {
    media = makeMedia(3);
  });

  after(() => {
    reader.close();
    if (media) media.cleanup();
  });

  it('keeps answering with snapshots through malformed input and quits cleanly', async (t) => {
    const random = randomSource();
    t.diagnostic(`seed ${random.seed}`);
    const base = uniqueShmBase('malformed');
    const helper = startHelper({ shmBase: base });
    try {
      await helper.waitForSnapshot((s) => s.status === 'idle');
      const baseline = processResources(helper.pid);
      const groups = {
        'random bytes': randomLines(random, 400),
        'huge fields': hugeFieldLines(),
        'invalid UTF-8': invalidUtf8Lines(),
        'absurd numbers': absurdNumberLines(),
      };
      for (const [group, lines] of Object.entries(groups)) {
        for (const line of lines) helper.child.stdin.write(Buffer.concat([line, Buffer.from('\n')]));
        // Still answering: a change it must report arrives after the group.
        const volume = random.int(1, 99) / 100;
        helper.volume(volume);
        await helper.waitForSnapshot((s) => s.volume === volume, 20000)
          .catch((err) => assert.fail(`after ${group}: ${err.message}`));
      }
      // Nothing kept: the refused loads' engine threads are gone again, and
      // the megabyte lines left no more than their own size behind.
      const now = processResources(helper.pid);
      t.diagnostic(`resources: ${describeGrowth(baseline, now)}`);
      assert.ok(now.threads <= baseline.threads + 2 && now.fds <= baseline.fds + 2,
        describeGrowth(baseline, now));
      assert.ok(now.rssKiB <= baseline.rssKiB + (underSanitizer() ? 256 : 32) * 1024,
        describeGrowth(baseline, now));

      // And it still plays.
      helper.size(320, 240);
      helper.load(media.clip);
      const playing = await helper.waitForSnapshot((s) => s.status === 'playing' &&
        s.streamUrl === media.clip && s.videoWidth === 320, 20000);
      assert.equal(playing.error, undefined);
      assert.deepEqual(helper.badLines, [], 'every output line is JSON');

      await quitCleanly(helper, base);
    } finally {
      await helper.close();
    }
  });

  it('leaves a killed helper\'s ring readable, and a new helper starts on the same name', async () => {
    const base = uniqueShmBase('killed');
    const first = startHelper({ shmBase: base });
    let second;
    try {
      first.load(TEST_SOURCE);
      await first.waitForSnapshot((s) => s.status === 'playing', 20000);
      const ring = reader.open(first.lastShm.name);
      const buffer = new ArrayBuffer(ring.frameBytes);
      let copies = 0;
      let lastSeq = 0;
      // The reader copies frames as fast as it can while the helper dies.
      const killAt = Date.now() + 500;
      let killed = false;
      while (!first.exitStatus) {
        const frame = reader.copyLatest(buffer);
        if (frame) {
          assert.ok(frame.seq >= lastSeq);
          lastSeq = frame.seq;
          copies += 1;
        }
        if (!killed && Date.now() >= killAt) {
          process.kill(first.pid, 'SIGKILL');
          killed = true;
        }
        await new Promise(setImmediate);
      }
      assert.deepEqual(first.exitStatus, { code: null, signal: 'SIGKILL' });
      assert.ok(copies > 5, `copies before the kill: ${copies}`);

      // The mapping stays valid: the last frame is still there, no new ones
      // come, and the heartbeat ages.
      const frozenSeq = reader.latestSeq();
      assert.ok(frozenSeq >= lastSeq);
      const frame = reader.copyLatest(buffer);
      assert.equal(frame.seq, frozenSeq);
      const aliveBefore = reader.producerAliveMs();
      await sleep(300);
      const aliveAfter = reader.producerAliveMs();
      assert.ok(aliveAfter >= aliveBefore + 250, `producerAliveMs ${aliveBefore} -> ${aliveAfter}`);
      assert.equal(reader.latestSeq(), frozenSeq);
      assert.deepEqual(shmObjects(base), [`${base.slice(1)}-g1`], 'the dead helper\'s ring');

      // A new helper with the same base replaces the stale ring and starts cleanly.
      second = startHelper({ shmBase: base });
      await second.waitForSnapshot((s) => s.status === 'idle');
      assert.deepEqual(second.events.slice(0, 2).map((e) => e.event), ['shm', 'hello']);
      assert.equal(second.lastShm.name, `${base}-g1`);
      assert.equal(reader.copyLatest(buffer).seq, frozenSeq, 'the old mapping still reads');
      second.load(TEST_SOURCE);
      await second.waitForSnapshot((s) => s.status === 'playing', 20000);
      reader.open(second.lastShm.name);
      const start = Date.now();
      let fresh = null;
      while (!fresh && Date.now() - start < 5000) {
        fresh = reader.copyLatest(buffer);
        if (!fresh) await sleep(10);
      }
      assert.ok(fresh && !fresh.torn, 'frames from the new helper');
      assert.ok(reader.producerAliveMs() < 3000, 'the new helper\'s heartbeat is fresh');
      reader.close();

      second.quit();
      assert.deepEqual(await second.waitForExit(), { code: 0, signal: null });
      assert.deepEqual(shmObjects(base), []);
    } finally {
      reader.close();
      await first.close();
      if (second) await second.close();
    }
  });

  it('goes on without a reader of its output and ends when its input closes', async () => {
    const base = uniqueShmBase('nostdout');
    const helper = startHelper({ shmBase: base });
    try {
      await helper.waitForSnapshot((s) => s.status === 'idle');
      helper.load(TEST_SOURCE);
      await helper.waitForSnapshot((s) => s.status === 'playing', 20000);
      const ringName = helper.lastShm.name;
      helper.child.stdout.destroy();
      // Snapshots, logs and a new ring's event now hit a closed pipe.
      for (const [w, h] of [[200, 150], [320, 240], [256, 192]]) {
        helper.size(w, h);
        helper.pause(w === 200);
        await sleep(300);
      }
      assert.equal(helper.exitStatus, null, 'still running without its reader');
      // One ring, of a later generation than the last one announced.
      const rings = shmObjects(base);
      assert.equal(rings.length, 1, `rings: ${rings}`);
      assert.notEqual(`/${rings[0]}`, ringName);
      const ring = reader.open(`/${rings[0]}`);
      assert.deepEqual([ring.width, ring.height], [256, 192]);
      const seq = reader.latestSeq();
      const until = Date.now() + 5000;
      while (reader.latestSeq() <= seq && Date.now() < until) await sleep(20);
      assert.ok(reader.latestSeq() > seq, 'still rendering');
      reader.close();

      helper.closeStdin();
      assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
      assert.deepEqual(shmObjects(base), []);
    } finally {
      reader.close();
      await helper.close();
    }
  });

  it('takes a last line cut off by the end of its input, then ends', async () => {
    const base = uniqueShmBase('midline');
    const helper = startHelper({ shmBase: base });
    try {
      await helper.waitForSnapshot((s) => s.status === 'idle');
      helper.child.stdin.write(`volume\tvalue=0.5\nload\turl=${media.clip}`);
      helper.closeStdin();
      assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
      const final = helper.events.at(-2);
      assert.equal(final.event, 'snapshot');
      assert.equal(final.streamUrl, media.clip, 'the cut-off line was a command');
      assert.equal(helper.events.at(-1).event, 'bye');
      assert.deepEqual(shmObjects(base), []);
    } finally {
      await helper.close();
    }
  });
});
