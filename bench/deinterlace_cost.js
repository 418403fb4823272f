'use strict';
// What the default deinterlacing costs the helper's software render path.
//
//   node bench/deinterlace_cost.js [--quick]
//
// 10-second H.264 clips of testsrc2 pictures in MPEG-TS: 576i and 1080i (25
// frames of two fields each, top field first, flagged interlaced), and 576p
// and 1080p at 25 frames a second. Each is played by the helper untimed
// (untimed=yes, audio=no) in a box of its own size, with the default options
// (interlaced frames deinterlaced into one picture per field) and with
// deinterlace=no (the woven frames as they come, no filter: the baseline),
// alternating, several rounds. Measured from the first published picture to
// the end of the file: the helper's CPU per source frame (250 of them) and
// per picture published (ring sequence numbers), each deinterlaced figure as
// a ratio to the baseline of the same clip in the same round.
const fs = require('node:fs');
const path = require('node:path');
const { execFile } = require('node:child_process');
const { promisify } = require('node:util');
const common = require('./common');
const { HelperClient } = require('../lib/helper_client');

const { quick, summarize, show } = common;
const seconds = 10;
const sourceFrames = 25 * seconds;
const rounds = quick ? 2 : 4;
const clips = [['576i', 720, 576, true], ['1080i', 1920, 1080, true], ['576p', 720, 576, false],
  ['1080p', 1920, 1080, false]];
const variants = [['deinterlace=no', { deinterlace: 'no' }], ['default', {}]];
let helperCount = 0;

async function makeClip(name, width, height, interlaced) {
  const dir = path.join(common.root, 'build', 'bench-media');
  fs.mkdirSync(dir, { recursive: true });
  const file = path.join(dir, `testsrc2-${name}-${seconds}s.ts`);
  if (fs.existsSync(file)) return file;
  const source = interlaced
    ? `testsrc2=size=${width}x${height}:rate=50,tinterlace=interleave_top,setfield=tff`
    : `testsrc2=size=${width}x${height}:rate=25`;
  const flags = interlaced ? ['-flags', '+ildct+ilme', '-x264opts', 'tff=1'] : [];
  await promisify(execFile)('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', source, '-t', String(seconds),
    '-c:v', 'libx264', '-preset', 'veryfast', '-pix_fmt', 'yuv420p', '-g', '50', ...flags,
    '-f', 'mpegts', `${file}.partial`]);
  fs.renameSync(`${file}.partial`, file);
  return file;
}

async function run(file, width, height, options) {
  const helper = HelperClient.spawn({ width, height, keepEvents: false, env: common.toolEnv(),
    shmBase: `/ompv-bench-${process.pid}-deint${++helperCount}`,
    mpvOptions: { untimed: 'yes', audio: 'no', ...options } });
  try {
    await helper.waitFor((e) => e.event === 'hello', 20000);
    helper.load(file);
    let start = null;
    let openName = null;
    let ring = null;
    for (;;) {
      await common.sleep(2);
      if (helper.exitStatus) throw new Error(`helper ended: ${helper.stderrText}`);
      const opened = common.openAnnouncedRing(helper, openName);
      if (opened) {
        openName = opened.name;
        ring = require('../lib/frame_reader');
      }
      const seq = ring ? ring.latestSeq() : 0;
      if (!start && seq > 0) start = { cpu: common.cpuSeconds(helper.pid), seq, t: common.now() };
      if (start && helper.lastSnapshot?.status === 'ended') {
        const cpuMs = (common.cpuSeconds(helper.pid) - start.cpu) * 1000;
        const pictures = ring.latestSeq() - start.seq;
        return { cpuMsPerSourceFrame: cpuMs / sourceFrames, cpuMsPerPicture: cpuMs / pictures, pictures,
          seconds: common.now() - start.t };
      }
    }
  } finally {
    require('../lib/frame_reader').close();
    await helper.close();
  }
}

async function main() {
  const files = {};
  for (const [name, width, height, interlaced] of clips) files[name] = await makeClip(name, width, height, interlaced);
  console.log(`deinterlace_cost: ${rounds} rounds; load average ${common.machine().loadAverage.join(' ')}`);
  const runs = {};
  for (const [name] of clips) runs[name] = Object.fromEntries(variants.map(([v]) => [v, []]));
  for (let r = 0; r < rounds; r += 1) {
    for (const [name, width, height] of clips) {
      for (const [variant, options] of r % 2 === 0 ? variants : [...variants].reverse()) {
        runs[name][variant].push(await run(files[name], width, height, options));
      }
      const line = variants.map(([v]) => {
        const last = runs[name][v].at(-1);
        return `${v} ${last.cpuMsPerSourceFrame.toFixed(2)} ms CPU/source frame, ${last.pictures} pictures`
          + ` (${last.cpuMsPerPicture.toFixed(2)} ms each)`;
      }).join('; ');
      console.log(`  round ${r + 1} ${name}: ${line}`);
    }
  }
  const results = [];
  for (const [name] of clips) {
    const base = runs[name]['deinterlace=no'];
    const mine = runs[name].default;
    const perSourceFrame = summarize(mine.map((m, i) => m.cpuMsPerSourceFrame / base[i].cpuMsPerSourceFrame));
    const perPicture = summarize(mine.map((m, i) => m.cpuMsPerPicture / base[i].cpuMsPerPicture));
    const absolute = {
      baseline: summarize(base.map((b) => b.cpuMsPerSourceFrame)),
      default: summarize(mine.map((m) => m.cpuMsPerSourceFrame)),
    };
    results.push({ clip: name, perSourceFrame, perPicture, absolute });
    console.log(`${name} default ÷ deinterlace=no: CPU per source frame ${show(perSourceFrame, 2)}, `
      + `per picture ${show(perPicture, 2)} (ms per source frame: ${show(absolute.default, 2)} against `
      + `${show(absolute.baseline, 2)})`);
  }
  const file = common.writeResult('deinterlace_cost', { rounds, results,
    loadAverageAfter: common.machine().loadAverage });
  console.log(`results: ${path.relative(common.root, file)}`);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
