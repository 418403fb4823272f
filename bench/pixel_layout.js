'use strict';
// What the top-down RGBA ring layout costs the helper against its default
// layout (BGRA, bottom row first), on both render paths.
//
//   node bench/pixel_layout.js [--quick]
//   ORVANEL_BASELINE_HELPER=PATH node bench/pixel_layout.js [--quick]
//
// The same H.264 clip (testsrc2, 1280 × 720 and 1920 × 1080, 30 fps, 10 s)
// played untimed with audio=no by a helper in each layout, one after the
// other in every round (the order swapped from one round to the next), on
// the path the helper takes by itself (here the engine's software renderer:
// the fast path) and on OpenGL (ORVANEL_HELPER_RENDERER=gl). Counted from the
// 10th to the 5th-last frame, through the reader's latestSeq: frames
// published per second and the helper's CPU time per published frame.
// Ratios (÷ default) are taken round by round, then summarised. With
// ORVANEL_BASELINE_HELPER, a helper built from another commit plays in its
// default layout in every round too: the default layout against it says
// what the layout's choice costs where nobody asks for it.
// Goal: on the fast path, CPU per frame at most 1.02 of the default's and
// frames per second at least 0.98 of it.
const path = require('node:path');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');
const reader = require('../lib/frame_reader');

const { quick, summarize, show } = common;
const { rate, clipSeconds, firstCounted, lastCounted } = common.countedClip;
const rounds = quick ? 3 : 8;
const sizes = [[1280, 720], [1920, 1080]];
const renderers = ['auto', 'gl'];
const layouts = ['bgra-bottom-up', 'rgba-top-down'];
const baselineHelper = process.env.ORVANEL_BASELINE_HELPER;
// Variants in round order: [name, layout, helper program].
const variants = [...layouts.map((layout) => [layout, layout, undefined]),
  ...(baselineHelper ? [['baseline', undefined, baselineHelper]] : [])];
let helperCount = 0;

async function helperRun(file, width, height, renderer, pixelLayout, helperPath) {
  const helper = HelperClient.spawn({
    width, height, keepEvents: false, pixelLayout, helperPath,
    env: { ...common.toolEnv(), ORVANEL_HELPER_RENDERER: renderer },
    shmBase: `/ompv-bench-${process.pid}-layout${++helperCount}`,
    mpvOptions: { untimed: 'yes', audio: 'no' },
  });
  try {
    await helper.waitFor((e) => e.event === 'hello', 20000);
    helper.load(file);
    let openName = null;
    let start = null;
    let end = null;
    let lastSeq = 0;
    let lastChange = common.now();
    while (!end) {
      await common.sleep(2);
      if (helper.exitStatus) throw new Error(`helper ended: ${helper.stderrText}`);
      const opened = common.openAnnouncedRing(helper, openName);
      if (opened) openName = opened.name;
      const seq = openName ? reader.latestSeq() : 0;
      const t = common.now();
      if (seq === lastSeq) {
        // Frames the engine dropped never reach the last counted number.
        if (start && t - lastChange > 1.5) end = { t: lastChange, cpu: common.cpuSeconds(helper.pid), seq };
        else if (t - lastChange > 10) throw new Error(`no frame for 10 s after seq ${seq}`);
        continue;
      }
      lastSeq = seq;
      lastChange = t;
      if (!start && seq >= firstCounted) start = { t, cpu: common.cpuSeconds(helper.pid), seq };
      else if (start && seq >= lastCounted) end = { t, cpu: common.cpuSeconds(helper.pid), seq };
    }
    const frames = end.seq - start.seq;
    const renderPath = /^render path: (\w+)/m.exec(helper.stderrText)?.[1] ?? 'unknown';
    return { fps: frames / (end.t - start.t), cpuMsPerFrame: ((end.cpu - start.cpu) * 1000) / frames, renderPath };
  } finally {
    reader.close();
    await helper.close();
  }
}

async function main() {
  console.log(`pixel_layout: ${rounds} rounds, clip ${clipSeconds} s at ${rate} fps${quick ? ' (quick)' : ''}`);
  const loadBefore = common.machine().loadAverage;
  console.log(`load average before: ${loadBefore.join(' ')}`);
  const results = [];
  for (const [width, height] of sizes) {
    const file = await common.clip({ width, height, rate, seconds: clipSeconds });
    for (const renderer of renderers) {
      const runs = Object.fromEntries(variants.map(([name]) => [name, []]));
      for (let r = 0; r < rounds; r += 1) {
        for (const [name, layout, program] of r % 2 === 0 ? variants : [...variants].reverse()) {
          runs[name].push(await helperRun(file, width, height, renderer, layout, program));
        }
      }
      const base = runs['bgra-bottom-up'];
      const ratioToDefault = (name, key) => summarize(runs[name].map((run, i) => run[key] / base[i][key]));
      const others = variants.map(([name]) => name).filter((name) => name !== 'bgra-bottom-up');
      const entry = {
        size: `${width}x${height}`,
        renderer,
        renderPath: [...new Set(Object.values(runs).flat().map((run) => run.renderPath))].join(', '),
        fps: Object.fromEntries(Object.entries(runs).map(([name, list]) => [name, summarize(list.map((run) => run.fps))])),
        cpuMsPerFrame: Object.fromEntries(Object.entries(runs).map(([name, list]) =>
          [name, summarize(list.map((run) => run.cpuMsPerFrame))])),
        fpsRatio: Object.fromEntries(others.map((name) => [name, ratioToDefault(name, 'fps')])),
        cpuRatio: Object.fromEntries(others.map((name) => [name, ratioToDefault(name, 'cpuMsPerFrame')])),
      };
      results.push(entry);
      console.log(`${entry.size}, ORVANEL_HELPER_RENDERER=${renderer} (render path: ${entry.renderPath})`);
      for (const name of Object.keys(runs)) {
        console.log(`  ${name.padEnd(15)} ${show(entry.fps[name])} fps, ${show(entry.cpuMsPerFrame[name], 2)} ms CPU/frame`);
      }
      for (const name of others) {
        console.log(`  ${name} ÷ default: fps ${show(entry.fpsRatio[name], 3)}, CPU/frame ${show(entry.cpuRatio[name], 3)}`);
      }
    }
  }
  const loadAfter = common.machine().loadAverage;
  console.log(`load average after: ${loadAfter.join(' ')}`);
  const file = common.writeResult('pixel_layout', { loadAverageBefore: loadBefore, loadAverageAfter: loadAfter,
    baselineHelper: baselineHelper ?? null, rounds, clipSeconds, rate, frameRange: [firstCounted, lastCounted], results });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
