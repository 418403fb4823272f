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

module.exports = { makeClip, makeRotatedClips };
