'use strict';
// Shared by the helper's end-to-end tests: media made with ffmpeg into a
// temporary directory, a tiny HTTP server on 127.0.0.1 that records request
// headers, and helpers that start and always stop orvanel_mpv_helper.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { HelperClient } = require('../../lib/helper_client');

const SRT = `1
00:00:00,000 --> 00:00:04,000
Hello from the subtitle track

`;

/**
 * Makes the test media in a new temporary directory:
 * - clip.mkv: 320x240 at 25 fps (noisy, about 8 Mbit/s), `seconds` long, two audio tracks ("eng"
 *   "English" default, "deu" "Deutsch"), a subtitle track ("eng" "Subs"), a
 *   forced subtitle track ("fra" "Forced") and two chapters ("Opening" at 0,
 *   "Middle" at half the length);
 * - extra.srt: an external subtitle file.
 * @returns {{dir: string, clip: string, srt: string, cleanup: () => void}}
 */
function makeMedia(seconds = 6) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-helper-'));
  const srt = path.join(dir, 'extra.srt');
  fs.writeFileSync(srt, SRT);
  const meta = path.join(dir, 'chapters.txt');
  const half = Math.round((seconds * 1000) / 2);
  fs.writeFileSync(meta, `;FFMETADATA1
[CHAPTER]
TIMEBASE=1/1000
START=0
END=${half}
title=Opening
[CHAPTER]
TIMEBASE=1/1000
START=${half}
END=${seconds * 1000}
title=Middle
`);
  const clip = path.join(dir, 'clip.mkv');
  execFileSync('ffmpeg', [
    '-v', 'error', '-y',
        // Noise keeps the bit rate near 8 Mbit/s, so a recording grows visibly.
    '-f', 'lavfi', '-i', `testsrc2=size=320x240:rate=25:duration=${seconds},noise=alls=30:allf=t+u`,
    '-f', 'lavfi', '-i', `sine=frequency=440:duration=${seconds}`,
    '-f', 'lavfi', '-i', `sine=frequency=880:duration=${seconds}`,
    '-i', srt, '-i', srt, '-i', meta,
    '-map', '0:v', '-map', '1:a', '-map', '2:a', '-map', '3:s', '-map', '4:s',
    '-map_metadata', '5', '-map_chapters', '5',
    '-c:v', 'mpeg4', '-q:v', '3', '-g', '25', '-c:a', 'aac', '-b:a', '64k', '-c:s', 'srt',
    '-metadata:s:a:0', 'language=eng', '-metadata:s:a:0', 'title=English',
    '-metadata:s:a:1', 'language=deu', '-metadata:s:a:1', 'title=Deutsch',
    '-metadata:s:s:0', 'language=eng', '-metadata:s:s:0', 'title=Subs',
    '-metadata:s:s:1', 'language=fra', '-metadata:s:s:1', 'title=Forced',
    '-disposition:a:0', 'default', '-disposition:a:1', '0',
    '-disposition:s:0', '0', '-disposition:s:1', 'forced',
    '-t', String(seconds), clip,
  ]);
  return { dir, clip, srt, cleanup: () => fs.rmSync(dir, { recursive: true, force: true }) };
}

/**
 * Serves the files of `dir` on 127.0.0.1 with byte ranges, and records every
 * request's method, path and headers.
 * @returns {Promise<{url: (file: string) => string, requests: object[], close: () => Promise<void>}>}
 */
async function serveDirectory(dir) {
  const requests = [];
  const server = http.createServer((req, res) => {
    requests.push({ method: req.method, url: req.url, headers: req.headers });
    const file = path.join(dir, path.basename(decodeURIComponent(req.url.split('?')[0])));
    let stat;
    try {
      stat = fs.statSync(file);
    } catch {
      res.writeHead(404).end();
      return;
    }
    const range = /^bytes=(\d*)-(\d*)$/.exec(req.headers.range || '');
    let start = 0;
    let end = stat.size - 1;
    if (range) {
      if (range[1]) start = Number(range[1]);
      if (range[2]) end = Math.min(Number(range[2]), end);
      if (start >= stat.size) {
        res.writeHead(416, { 'Content-Range': `bytes */${stat.size}` }).end();
        return;
      }
    }
    const headers = {
      'Content-Type': 'video/x-matroska',
      'Accept-Ranges': 'bytes',
      'Content-Length': end - start + 1,
    };
    if (range) headers['Content-Range'] = `bytes ${start}-${end}/${stat.size}`;
    res.writeHead(range ? 206 : 200, headers);
    if (req.method === 'HEAD') {
      res.end();
      return;
    }
    fs.createReadStream(file, { start, end }).on('error', () => res.destroy()).pipe(res);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    url: (file) => `http://127.0.0.1:${port}/${file}`,
    requests,
    close: () => new Promise((resolve) => {
      server.closeAllConnections();
      server.close(() => resolve());
    }),
  };
}

/** A shm base name of this process, so parallel tests never share a ring. */
function uniqueShmBase(tag) {
  return `/ompv-test-${tag}-${process.pid}`;
}

/** The names under /dev/shm that start with `base` (without its slash). */
function shmLeftovers(base) {
  const prefix = base.replace(/^\//, '');
  return fs.readdirSync('/dev/shm').filter((name) => name.startsWith(prefix));
}

/**
 * Starts a helper with audio off and a small box unless told otherwise.
 * @param {import('../../lib/helper_client').HelperOptions} [options]
 */
function startHelper(options = {}) {
  return HelperClient.spawn({
    width: 320,
    height: 240,
    mpvOptions: { ao: 'null' },
    ...options,
  });
}

/** Sleeps for `ms` milliseconds. */
function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

module.exports = { makeMedia, serveDirectory, uniqueShmBase, shmLeftovers, startHelper, sleep };
