'use strict';
// Frame copy against the memory limit.
//
//   node bench/frame_copy.js [--quick]
//
// A helper plays a 1280 × 720 and then a 1920 × 1080 clip in real time, so
// its ring is live (the writer publishes 30 frames a second while the reader
// copies). In the same process, alternating in batches, the newest frame is
// copied into one ArrayBuffer by
//   - the reader module's copyLatest (what the application calls),
//   - memcpy_baseline.copy: a plain memcpy of the same slot, also called from
//     JavaScript through Node-API,
//   - memcpy_baseline.loop: the same memcpy in a C loop (no call overhead),
// and the bandwidth of each batch is bytes copied / wall time. Goal:
// copyLatest at 0.8 or more of the memcpy bandwidth.
const path = require('node:path');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const reader = require('../lib/frame_reader');
const { loadNative } = require('../lib/native');

const baseline = loadNative('memcpy_baseline');
const { quick, summarize, show } = common;
const rounds = quick ? 3 : 11;
const copiesPerBatch = quick ? 50 : 150;
const sizes = [[1280, 720], [1920, 1080]];

function timeBatch(copyOnce) {
  const start = process.hrtime.bigint();
  let copied = 0;
  let empty = 0;
  while (copied < copiesPerBatch) {
    if (copyOnce()) copied += 1;
    else empty += 1;
  }
  return { seconds: Number(process.hrtime.bigint() - start) / 1e9, empty };
}

async function measureSize(width, height) {
  const file = await common.clip({ width, height, seconds: 20 });
  const helper = HelperClient.spawn({ width, height, keepEvents: false, env: common.toolEnv(),
    shmBase: `/ompv-bench-${process.pid}-copy${width}`, mpvOptions: { audio: 'no' } });
  try {
    await helper.waitFor((e) => e.event === 'hello', 20000);
    helper.load(file);
    await helper.waitForSnapshot((s) => s.status === 'playing', 20000);
    // The ring of the video's size (the first one may be replaced on load).
    let ring = null;
    for (;;) {
      await common.sleep(20);
      if (!helper.lastShm || helper.lastShm.width !== width) continue;
      try {
        ring = reader.open(helper.lastShm.name);
      } catch { continue; }
      if (reader.latestSeq() > 3) break;
    }
    baseline.open(helper.lastShm.name);
    const frame = new ArrayBuffer(ring.frameBytes);
    new Uint8Array(frame).fill(1);  // every page of the destination in place before timing
    let torn = 0;
    const sides = {
      copyLatest: () => {
        const got = reader.copyLatest(frame);
        if (got && got.torn) torn += 1;
        return got !== null;
      },
      memcpy: () => {
        baseline.copy(frame);
        return true;
      },
    };
    for (const copy of Object.values(sides)) timeBatch(copy);  // warm-up
    const bandwidth = { copyLatest: [], memcpy: [], memcpyLoop: [] };
    const ratios = [];
    let empty = 0;
    for (let r = 0; r < rounds; r += 1) {
      const order = r % 2 === 0 ? ['copyLatest', 'memcpy'] : ['memcpy', 'copyLatest'];
      const round = {};
      for (const side of order) {
        const batch = timeBatch(sides[side]);
        if (side === 'copyLatest') empty += batch.empty;
        round[side] = (copiesPerBatch * ring.frameBytes) / batch.seconds / 1e9;
        bandwidth[side].push(round[side]);
      }
      const loopNs = baseline.loop(frame, copiesPerBatch);
      bandwidth.memcpyLoop.push((copiesPerBatch * ring.frameBytes) / loopNs);
      ratios.push(round.copyLatest / round.memcpy);
      await common.sleep(10);  // lets the helper's events through
    }
    const entry = {
      size: `${width}x${height}`,
      frameBytes: ring.frameBytes,
      copiesPerBatch,
      copyLatestGBps: summarize(bandwidth.copyLatest),
      memcpyGBps: summarize(bandwidth.memcpy),
      memcpyLoopGBps: summarize(bandwidth.memcpyLoop),
      ratio: summarize(ratios),
      ratioToLoop: summarize(bandwidth.copyLatest.map((v, i) => v / bandwidth.memcpyLoop[i])),
      copyLatestMsPerFrame: (ring.frameBytes / summarize(bandwidth.copyLatest).median) / 1e6,
      emptyPolls: empty,
      tornCopies: torn,
      goal: 0.8,
    };
    console.log(`${entry.size} (${(ring.frameBytes / 1e6).toFixed(2)} MB a frame, ${copiesPerBatch} copies a batch):`);
    console.log(`  copyLatest        ${show(entry.copyLatestGBps, 2)} GB/s `
      + `(${entry.copyLatestMsPerFrame.toFixed(3)} ms a frame)`);
    console.log(`  memcpy from JS    ${show(entry.memcpyGBps, 2)} GB/s`);
    console.log(`  memcpy in C loop  ${show(entry.memcpyLoopGBps, 2)} GB/s`);
    console.log(`  ratio copyLatest/memcpy ${show(entry.ratio, 3)} (goal >= 0.8); `
      + `against the C loop ${show(entry.ratioToLoop, 3)}; torn ${torn}, empty polls ${empty}`);
    return entry;
  } finally {
    baseline.close();
    reader.close();
    await helper.close();
  }
}

async function main() {
  console.log(`frame_copy: ${rounds} rounds${quick ? ' (quick)' : ''}`);
  const loadBefore = common.machine().loadAverage;
  const results = [];
  for (const [width, height] of sizes) results.push(await measureSize(width, height));
  const file = common.writeResult('frame_copy', { loadAverageBefore: loadBefore, rounds, results });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
