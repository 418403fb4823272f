'use strict';
// How a frame reaches the page from the preload: the guide's former preload
// against the package's (lib/electron_preload.js), under Node.
//
//   node bench/preload_handoff.js [--quick]
//
// A ring of 1280 × 720, then 1920 × 1080 (tests' ring_writer, one frame
// published) is mapped with openRing. Per frame:
//   - copied: copyLatest into the preload's buffer, then a structured clone
//     of its bytes, which is what the context bridge does with a returned
//     Uint8Array (Electron copies every value it passes);
//   - moved: copyLatest into a buffer of a small pool, posted over a
//     MessageChannel with the buffer in the transfer list, received on the
//     other port, and the buffer transferred back for the next copy (the
//     package's preload and page follower).
// Each frame is waited for before the next, in batches that alternate the
// two. Figures: ms a frame, medians over rounds, and moved ÷ copied in the
// same round. Electron's bridge may copy faster or slower than Node's
// structuredClone; the number of copies is what this shows: two against one.
const common = require('./common');
const reader = require('../lib/frame_reader');
const { RingWriter } = require('../tests/js/support/ring_writer');

const { quick, summarize, show } = common;
const rounds = quick ? 3 : 11;
const framesPerBatch = quick ? 30 : 100;
const sizes = [[1280, 720], [1920, 1080]];

function copiedBatch(ring) {
  const pixels = new ArrayBuffer(ring.frameBytes);
  const start = process.hrtime.bigint();
  for (let i = 0; i < framesPerBatch; i++) {
    ring.copyLatest(pixels);
    structuredClone(new Uint8Array(pixels));
  }
  return Number(process.hrtime.bigint() - start) / 1e6 / framesPerBatch;
}

async function movedBatch(ring) {
  const { port1, port2 } = new MessageChannel();
  let pool = [new ArrayBuffer(ring.frameBytes)];
  // The page: takes the frame, hands its buffer back.
  port2.onmessage = ({ data }) => port2.postMessage(data.pixels, [data.pixels]);
  const back = () => new Promise((resolve) => { port1.onmessage = ({ data }) => resolve(data); });
  const start = process.hrtime.bigint();
  for (let i = 0; i < framesPerBatch; i++) {
    const pixels = pool.pop();
    const copy = ring.copyLatest(pixels);
    const returned = back();
    port1.postMessage({ seq: copy.seq, width: ring.width, height: ring.height, pixels }, [pixels]);
    pool.push(await returned);
  }
  const ms = Number(process.hrtime.bigint() - start) / 1e6 / framesPerBatch;
  port1.close();
  port2.close();
  pool = null;
  return ms;
}

async function main() {
  console.log(`preload_handoff: ${rounds} rounds of ${framesPerBatch} frames${quick ? ' (quick)' : ''}`);
  const writer = new RingWriter();
  const results = [];
  try {
    for (const [width, height] of sizes) {
      const name = `/ompv-bench-${process.pid}-handoff${width}`;
      if (await writer.send(`create ${name} ${width} ${height} 1 1`) !== 'ok') throw new Error('ring_writer create failed');
      await writer.send('publish 1');
      const ring = reader.openRing(name);
      copiedBatch(ring);  // warm-up
      await movedBatch(ring);
      const copied = [];
      const moved = [];
      for (let r = 0; r < rounds; r += 1) {
        if (r % 2 === 0) {
          copied.push(copiedBatch(ring));
          moved.push(await movedBatch(ring));
        } else {
          moved.push(await movedBatch(ring));
          copied.push(copiedBatch(ring));
        }
      }
      ring.close();
      await writer.send('close');
      const entry = { size: `${width}x${height}`, framesPerBatch, copiedMs: summarize(copied), movedMs: summarize(moved),
        ratio: summarize(moved.map((ms, i) => ms / copied[i])) };
      results.push(entry);
      console.log(`${entry.size}: copied ${show(entry.copiedMs, 3)} ms a frame, moved ${show(entry.movedMs, 3)} ms, `
        + `moved ÷ copied ${show(entry.ratio, 2)}`);
    }
  } finally {
    await writer.end();
  }
  console.log(`results: ${common.writeResult('preload_handoff', { results })}`);
}

main().catch((err) => {
  console.error(err.stack);
  process.exit(1);
});
