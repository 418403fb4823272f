'use strict';
// One process following four helpers at once (a 2 × 2 multi-view page's
// preload), against one helper followed alone, in the same run.
//
//   node bench/four_streams.js [--quick]
//
// Each helper plays the 640 × 360 testsrc2 clip at real time (30 fps) into a
// ring of its own; this process polls every follower every 5 ms, as a page's
// animation frames would, and copies each new frame. Figures per stream:
// frames delivered a second, the helper's CPU, and this process's CPU divided
// by the number of streams; medians over rounds that alternate one and four.
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const { FrameFollower } = require('../lib/frame_follower');

const { quick, summarize, show } = common;
const rounds = quick ? 2 : 5;
const seconds = quick ? 3 : 6;
const [width, height] = [640, 360];

async function measure(count, file, round) {
  const helpers = Array.from({ length: count }, (_, i) => HelperClient.spawn({ width, height,
    keepEvents: false, env: common.toolEnv(), shmBase: `/ompv-bench-${process.pid}-four${round}-${i}`,
    mpvOptions: { audio: 'no', loop: 'inf' } }));
  const followers = helpers.map((helper) => new FrameFollower(helper));
  try {
    helpers.forEach((helper) => helper.load(file));
    await Promise.all(helpers.map((h) => h.waitForSnapshot((s) => s.status === 'playing', 20000)));
    await common.sleep(1000);  // past start-up
    const frames = helpers.map(() => 0);
    const cpuBefore = helpers.map((h) => common.cpuSeconds(h.pid));
    const ownBefore = common.ownCpuSeconds();
    const start = common.now();
    while (common.now() - start < seconds) {
      followers.forEach((f, i) => { if (f.poll()) frames[i] += 1; });
      await common.sleep(5);
    }
    const elapsed = common.now() - start;
    return {
      fps: frames.map((n) => n / elapsed),
      helperCpu: helpers.map((h, i) => (common.cpuSeconds(h.pid) - cpuBefore[i]) / elapsed),
      followerCpuPerStream: (common.ownCpuSeconds() - ownBefore) / elapsed / count,
    };
  } finally {
    followers.forEach((f) => f.close());
    await Promise.all(helpers.map((h) => h.close()));
  }
}

async function main() {
  console.log(`four_streams: ${rounds} rounds of ${seconds} s, ${width}x${height} at 30 fps${quick ? ' (quick)' : ''}`);
  const file = await common.clip({ width, height, seconds: 20 });
  const runs = { 1: [], 4: [] };
  for (let r = 0; r < rounds; r += 1) {
    for (const count of r % 2 === 0 ? [1, 4] : [4, 1]) runs[count].push(await measure(count, file, r));
  }
  const result = {};
  for (const count of [1, 4]) {
    const fps = summarize(runs[count].flatMap((run) => run.fps));
    const helperCpu = summarize(runs[count].flatMap((run) => run.helperCpu.map((c) => c * 100)));
    const follower = summarize(runs[count].map((run) => run.followerCpuPerStream * 100));
    result[count] = { fps, helperCpuPercent: helperCpu, followerCpuPercentPerStream: follower };
    console.log(`${count} stream${count > 1 ? 's' : ' '}: frames/s per stream ${show(fps)}, helper CPU ${show(helperCpu)} %, `
      + `follower CPU per stream ${show(follower, 2)} %`);
  }
  const ratio = (key) => result[4][key].median / result[1][key].median;
  result.ratios = { fps: ratio('fps'), helperCpu: ratio('helperCpuPercent'), followerCpu: ratio('followerCpuPercentPerStream') };
  console.log(`four / one, per stream: frames/s ${result.ratios.fps.toFixed(2)}, helper CPU ${result.ratios.helperCpu.toFixed(2)}, `
    + `follower CPU ${result.ratios.followerCpu.toFixed(2)}`);
  console.log(`results: ${common.writeResult('four_streams', { width, height, seconds, result })}`);
}

main().catch((err) => {
  console.error(err.stack);
  process.exit(1);
});
