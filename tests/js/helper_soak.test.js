'use strict';
// Soak of the helper: hundreds of load, seek, pause, size and record
// commands, then the same process must still play, answer and end cleanly,
// with no more threads, descriptors, rings or memory than after its first
// file. Short by default; ORVANEL_SOAK_SECONDS=600 (scripts/soak) runs long.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const reader = require('../../lib/frame_reader');
const { makeMedia, uniqueShmBase, startHelper, sleep } = require('./helper_fixtures');
const {
  soakSeconds, underSanitizer, randomSource, processResources, describeGrowth, assertGrowthWithin,
  shmObjects, quitCleanly,
} = require('./soak_fixtures');

// Growth allowed from the first file's steady state to the last one's.
// Threads and descriptors: the engine's per-file threads come and go with a
// little lag, a leak of one per load would pass a hundred. Memory: caches of
// the engine, the decoder and Mesa settle within this; the sanitizer
// runtimes keep freed memory in quarantine, so they get more. The helper
// runs with two malloc arenas (MALLOC_ARENA_MAX, set by CTest and
// scripts/soak): with glibc's default of one per thread, the engine's
// short-lived per-file threads fragment the heap and the resident size
// creeps up (about 80 MiB over 34 000 commands, none of it leaked:
// LeakSanitizer finds nothing), which would hide a real leak.
const MAX_GROWTH = { threads: 3, fds: 3, rssKiB: underSanitizer() ? 512 * 1024 : 64 * 1024 };

// Waits until the helper plays `clip` again after a load, with frames of
// the box it was last given.
async function settle(helper, clip) {
  await helper.waitForSnapshot((s) => s.status === 'playing' && s.streamUrl === clip &&
    s.videoWidth > 0, 20000);
  await sleep(1000);  // per-file threads of the previous file wind down
}

async function framesFlow(helper) {
  reader.open(helper.lastShm.name);
  const first = reader.latestSeq();
  const deadline = Date.now() + 5000;
  while (reader.latestSeq() <= first && Date.now() < deadline) await sleep(20);
  const last = reader.latestSeq();
  reader.close();
  return last > first;
}

describe('helper soak', () => {
  let media;
  let recordings;

  before(() => {
    media = makeMedia(4);
    recordings = fs.mkdtempSync(path.join(media.dir, 'rec-'));
  });

  after(() => {
    reader.close();
    if (media) media.cleanup();
  });

  it('keeps answering through hundreds of commands and leaks nothing', async (t) => {
    const seconds = soakSeconds(4);
    const random = randomSource();
    t.diagnostic(`soak ${seconds} s, seed ${random.seed}`);
    const base = uniqueShmBase('soak');
    const helper = startHelper({
      shmBase: base,
      mpvOptions: { ao: 'null', 'loop-file': 'inf' },
    });
    try {
      await helper.waitForSnapshot((s) => s.status === 'idle');
      // One of everything first, so that the engine's lazily made threads and
      // files exist before the baseline is taken.
      helper.load(media.clip);
      await settle(helper, media.clip);
      helper.record(path.join(recordings, 'warm.mkv'));
      helper.seek(1);
      helper.pause(true);
      helper.pause(false);
      helper.record();
      helper.load(media.clip);
      await settle(helper, media.clip);
      const baseline = processResources(helper.pid);

      const deadline = Date.now() + seconds * 1000;
      const counts = { load: 0, seek: 0, pause: 0, size: 0, record: 0, other: 0 };
      let sent = 0;
      const rssTrail = [baseline.rssKiB];
      while (Date.now() < deadline || sent < 300) {
        const roll = random.int(0, 99);
        if (roll < 6) {
          helper.load(media.clip);
          counts.load += 1;
        } else if (roll < 30) {
          helper.seek(random.next() * 4);
          counts.seek += 1;
        } else if (roll < 50) {
          helper.pause(random.next() < 0.5);
          counts.pause += 1;
        } else if (roll < 70) {
          helper.size(random.int(16, 640), random.int(16, 480));
          counts.size += 1;
        } else if (roll < 80) {
          helper.record(random.next() < 0.5 ? path.join(recordings, `r${sent % 4}.mkv`) : '');
          counts.record += 1;
        } else {
          random.pick([
            () => helper.volume(random.next()),
            () => helper.speed(random.pick([0.5, 1, 1.5, 2])),
            () => helper.aid(random.pick([1, 2, 'no', 'auto'])),
            () => helper.sid(random.pick([1, 2, 'no'])),
            () => helper.seekBy(random.next() * 2 - 1),
          ])();
          counts.other += 1;
        }
        sent += 1;
        await sleep(random.int(0, 12));
        if (sent % 1000 === 0) rssTrail.push(processResources(helper.pid).rssKiB);
        if (sent % 100 === 0) {
          // Still answering: a change it must report (paused and idle, it
          // writes no snapshot on its own) shows within a few seconds.
          const volume = random.int(1, 99) / 100;
          helper.volume(volume);
          await helper.waitForSnapshot((s) => s.volume === volume, 10000);
        }
      }
      t.diagnostic(`${sent} commands: ${JSON.stringify(counts)}`);
      t.diagnostic(`RSS every 1000 commands (KiB): ${rssTrail.join(' ')}`);

      // The last word on each setting wins: nothing was lost in the flood.
      helper.record();
      helper.pause(false);
      helper.speed(1);
      helper.volume(0.37);
      helper.size(320, 240);
      helper.load(media.clip);
      await settle(helper, media.clip);
      const final = await helper.waitForSnapshot((s) => s.status === 'playing' &&
        s.volume === 0.37 && s.playbackSpeed === 1 && s.recording.active === false);
      // (final.error may hold an engine complaint about the flood, such as
      // the audio output's "illegal state": the engine's text, not a loss.)
      await helper.waitFor((e) => e.event === 'shm', 3000).catch(() => {});
      assert.equal(helper.lastShm.width, 320);
      assert.equal(helper.lastShm.height, 240);
      assert.deepEqual(shmObjects(base), [helper.lastShm.name.slice(1)], 'only the current ring');
      assert.ok(await framesFlow(helper), 'frames still flow into the current ring');

      const now = processResources(helper.pid);
      t.diagnostic(`resources: ${describeGrowth(baseline, now)}`);
      assertGrowthWithin(baseline, now, MAX_GROWTH);
      assert.deepEqual(helper.badLines, []);

      await quitCleanly(helper, base);
    } finally {
      await helper.close();
    }
  });
});
