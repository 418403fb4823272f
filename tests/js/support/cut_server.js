'use strict';
// Streams that fail after they started, on 127.0.0.1, made with ffmpeg at
// test time: one 3-second clip served whole, cut, stalled and slow, and the
// same clip as HLS with a middle segment that fails for good or once.
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { execFile } = require('node:child_process');
const { promisify } = require('node:util');

const SLOW_MS = 2500;

async function makeStreams(dir) {
  const run = (args) => promisify(execFile)('ffmpeg', ['-v', 'error', '-y', ...args]);
  const clip = path.join(dir, 'clip.mkv');
  await run(['-f', 'lavfi', '-i', 'testsrc2=size=320x240:rate=25:duration=3',
    '-f', 'lavfi', '-i', 'sine=frequency=440:duration=3',
    '-c:v', 'mpeg4', '-q:v', '3', '-c:a', 'aac', clip]);
  fs.mkdirSync(path.join(dir, 'hls'));
  await run(['-i', clip, '-c:v', 'libx264', '-g', '25', '-c:a', 'aac',
    '-f', 'hls', '-hls_time', '1', '-hls_playlist_type', 'vod', path.join(dir, 'hls', 'index.m3u8')]);
  return clip;
}

/**
 * Paths: /whole.mkv; /reset.mkv (40 % of it, then a connection reset);
 * /stall.mkv (40 %, a second of silence, then the connection closed);
 * /slow.mkv (the whole clip after 2.5 s); /missing.mkv (404);
 * /hls-gone/index.m3u8 (segment 1 always 404); /hls-once/index.m3u8
 * (segment 1 404 once, when first asked on a kept-alive connection: the
 * engine then asks again on a new one; on a new connection it would skip
 * it); /hls-slow/index.m3u8 (segment 1 after a 1.5 s stall).
 * @returns {Promise<{url: (name: string) => string, close: () => Promise<void>}>}
 */
async function startCutServer() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-cuts-'));
  const clip = fs.readFileSync(await makeStreams(dir));
  const cut = Math.floor(clip.length * 0.4);
  const timers = new Set();
  const later = (ms, fn) => {
    const timer = setTimeout(() => { timers.delete(timer); fn(); }, ms);
    timers.add(timer);
  };
  const failedOnce = new Set();
  const servedOn = new WeakMap();  // socket => requests it carried before
  const server = http.createServer((request, response) => {
    const url = request.url.split('?')[0];
    const reused = (servedOn.get(request.socket) || 0) > 0;
    servedOn.set(request.socket, (servedOn.get(request.socket) || 0) + 1);
    const head = { 'Content-Type': 'video/x-matroska', 'Content-Length': clip.length };
    if (url === '/whole.mkv') {
      response.writeHead(200, head).end(clip);
    } else if (url === '/reset.mkv' || url === '/stall.mkv') {
      response.writeHead(200, head);
      response.write(clip.subarray(0, cut), () => {
        if (url === '/reset.mkv') later(50, () => request.socket.resetAndDestroy());
        else later(1000, () => request.socket.end());
      });
    } else if (url === '/slow.mkv') {
      later(SLOW_MS, () => response.writeHead(200, head).end(clip));
    } else if (url.startsWith('/hls-')) {
      const [, kind, name] = url.split('/');
      // Only a request on a kept-alive connection is asked again by the engine.
      const failOnce = kind === 'hls-once' && name === 'index1.ts' && reused && !failedOnce.has(url);
      if (failOnce) failedOnce.add(url);
      const failing = failOnce || (kind === 'hls-gone' && name === 'index1.ts');
      const file = path.join(dir, 'hls', path.basename(name));
      if (failing || !fs.existsSync(file)) {
        response.writeHead(404).end('gone');
        return;
      }
      const data = fs.readFileSync(file);
      const send = () => response.writeHead(200, { 'Content-Length': data.length }).end(data);
      if (kind === 'hls-slow' && name === 'index1.ts') later(1500, send);
      else send();
    } else {
      response.writeHead(404).end('not here');
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const base = `http://127.0.0.1:${server.address().port}`;
  return {
    url: (name) => `${base}/${name}`,
    async close() {
      for (const timer of timers) clearTimeout(timer);
      server.closeAllConnections();
      await new Promise((resolve) => server.close(resolve));
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

module.exports = { startCutServer, SLOW_MS };
