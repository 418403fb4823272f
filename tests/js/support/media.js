'use strict';
// Test media made with ffmpeg at test time.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFile } = require('node:child_process');
const { promisify } = require('node:util');
const { toolEnv } = require('./x11');

/**
 * An 8-second Matroska clip in a new temporary directory: 320x240 video at 25
 * frames per second, two audio tracks ("English"/eng at 48 kHz, "Deutsch"/deu
 * at 44.1 kHz), one subtitle track ("Francais"/fra) and two chapters
 * ("Opening" at 0 s, "Ending" at 3 s).
 * @returns {Promise<{dir: string, clip: string, remove: () => void}>}
 */
async function makeClip() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hosted-media-'));
  const subs = path.join(dir, 'subs.srt');
  const chapters = path.join(dir, 'chapters.txt');
  const clip = path.join(dir, 'clip.mkv');
  fs.writeFileSync(subs, '1\n00:00:00,000 --> 00:00:05,000\nHello\n\n2\n00:00:05,000 --> 00:00:08,000\nWorld\n');
  fs.writeFileSync(chapters, ';FFMETADATA1\ntitle=Clip\n'
    + '[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=3000\ntitle=Opening\n'
    + '[CHAPTER]\nTIMEBASE=1/1000\nSTART=3000\nEND=8000\ntitle=Ending\n');
  await promisify(execFile)('ffmpeg', ['-v', 'error', '-y',
    '-f', 'lavfi', '-i', 'testsrc2=size=320x240:rate=25',
    '-f', 'lavfi', '-i', 'sine=f=440:sample_rate=48000',
    '-f', 'lavfi', '-i', 'sine=f=660:sample_rate=44100',
    '-i', subs, '-i', chapters,
    '-map', '0:v', '-map', '1:a', '-map', '2:a', '-map', '3:s', '-map_chapters', '4', '-map_metadata', '4',
    '-t', '8', '-c:v', 'mpeg4', '-q:v', '8', '-c:a', 'aac', '-b:a', '64k', '-c:s', 'srt',
    '-metadata:s:a:0', 'language=eng', '-metadata:s:a:0', 'title=English',
    '-metadata:s:a:1', 'language=deu', '-metadata:s:a:1', 'title=Deutsch',
    '-metadata:s:s:0', 'language=fra', '-metadata:s:s:0', 'title=Francais', clip], { env: toolEnv() });
  return { dir, clip, remove: () => fs.rmSync(dir, { recursive: true, force: true }) };
}

/**
 * Sets the rotation of an MP4 file's first track (its track header matrix) to
 * `degrees`, any angle: ffmpeg writes only quarter turns itself.
 */
function setMp4Rotation(file, degrees) {
  const data = fs.readFileSync(file);
  const at = data.indexOf('tkhd');
  if (at < 4) throw new Error(`no track header in ${file}`);
  const box = at - 4;
  const matrix = box + (data[box + 8] === 1 ? 60 : 48);
  const radians = (degrees * Math.PI) / 180;
  const fixed = (v) => Math.round(v * 65536);
  const values = [fixed(Math.cos(radians)), fixed(Math.sin(radians)), 0,
    fixed(-Math.sin(radians)), fixed(Math.cos(radians)), 0, 0, 0, 0x40000000];
  values.forEach((v, i) => data.writeInt32BE(v, matrix + i * 4));
  fs.writeFileSync(file, data);
}

/**
 * Three-second H.264 clips of 320x240, red in the top half and blue in the
 * bottom half, in a new temporary directory: `quarter[r]` with the rotation
 * metadata ffmpeg writes for rotate=r (0, 90, 180, 270), and `odd[d]` with a
 * track matrix turned by d degrees.
 * @param {number[]} oddAngles
 */
async function makeRotatedClips(oddAngles = []) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hosted-rotation-'));
  const run = (args) => promisify(execFile)('ffmpeg', ['-v', 'error', '-y', ...args], { env: toolEnv() });
  const upright = path.join(dir, 'upright.mp4');
  await run(['-f', 'lavfi', '-i',
    'color=c=red:size=320x240:rate=25,drawbox=x=0:y=120:w=320:h=120:color=blue:t=fill',
    '-t', '3', '-c:v', 'libx264', '-pix_fmt', 'yuv420p', upright]);
  const quarter = {};
  for (const r of [0, 90, 180, 270]) {
    quarter[r] = path.join(dir, `rotate-${r}.mp4`);
    await run(['-i', upright, '-c', 'copy', '-metadata:s:v:0', `rotate=${r}`, quarter[r]]);
  }
  const odd = {};
  for (const d of oddAngles) {
    odd[d] = path.join(dir, `matrix-${d}.mp4`);
    fs.copyFileSync(upright, odd[d]);
    setMp4Rotation(odd[d], d);
  }
  return { dir, quarter, odd, remove: () => fs.rmSync(dir, { recursive: true, force: true }) };
}

/**
 * Four-second H.264 MPEG-TS clips of a white bar, as tall as the picture,
 * crossing a black one at 400 pixels a second, in a new temporary directory:
 * `i576` and `i1080` interlaced, top field first (25 frames of two fields
 * each, the fields 1/50 s apart, flagged interlaced by the decoder), and
 * `p576` progressive at 25 frames a second. Woven, an interlaced frame shows
 * the bar's edges combed, 8 pixels wide; nothing else in the picture has
 * any vertical detail.
 */
async function makeInterlacedClips() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'interlaced-'));
  const run = (args) => promisify(execFile)('ffmpeg', ['-v', 'error', '-y', ...args], { env: toolEnv() });
  const bar = (width, height, rate) => `color=black:s=${width}x${height}:r=${rate}[bg];`
    + `color=white:s=80x${height}:r=${rate}[bar];`
    + `[bg][bar]overlay=x='mod(t*400,${width - 80})':y=0:shortest=1`;
  const clips = { dir, remove: () => fs.rmSync(dir, { recursive: true, force: true }) };
  for (const [name, width, height] of [['i576', 720, 576], ['i1080', 1920, 1080]]) {
    clips[name] = path.join(dir, `${name}.ts`);
    await run(['-f', 'lavfi', '-i', `${bar(width, height, 50)},tinterlace=interleave_top,setfield=tff`,
      '-t', '4', '-c:v', 'libx264', '-preset', 'ultrafast', '-flags', '+ildct+ilme', '-x264opts', 'tff=1',
      '-pix_fmt', 'yuv420p', '-f', 'mpegts', clips[name]]);
  }
  clips.p576 = path.join(dir, 'p576.ts');
  await run(['-f', 'lavfi', '-i', bar(720, 576, 25), '-t', '4', '-c:v', 'libx264', '-preset', 'ultrafast',
    '-pix_fmt', 'yuv420p', '-f', 'mpegts', clips.p576]);
  return clips;
}

/**
 * Pixels of a picture whose vertical neighbours differ the way a woven frame's
 * moving edges do (the middle row off both its neighbours by more than 120,
 * in the same direction), over the picture's middle third of rows.
 * `green(x, y)` reads one pixel's green channel.
 */
function combedPixels(width, height, green) {
  let count = 0;
  for (let y = Math.floor(height / 3); y < Math.floor((2 * height) / 3); y++) {
    for (let x = 0; x < width; x++) {
      const above = green(x, y - 1);
      const here = green(x, y);
      const below = green(x, y + 1);
      if ((here - above > 120 && here - below > 120) || (above - here > 120 && below - here > 120)) count++;
    }
  }
  return count;
}

module.exports = { makeClip, makeRotatedClips, makeInterlacedClips, combedPixels };
