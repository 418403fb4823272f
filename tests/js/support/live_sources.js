'use strict';
// Live sources on 127.0.0.1 made with ffmpeg at test time: MPEG-TS over UDP
// pushed in real time through a relay that can cut the signal, and an HLS
// live playlist whose window slides on as segments appear.
const dgram = require('node:dgram');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { spawn, execFile } = require('node:child_process');
const { promisify } = require('node:util');
const { toolEnv } = require('./x11');

async function freeUdpPort() {
  const socket = dgram.createSocket('udp4');
  await new Promise((resolve) => socket.bind(0, '127.0.0.1', resolve));
  const { port } = socket.address();
  await new Promise((resolve) => socket.close(resolve));
  return port;
}

/**
 * ffmpeg encodes a 320x240 test pattern with a tone in real time and pushes
 * MPEG-TS to a relay, which forwards each datagram to the player's port while
 * the signal is on. Cutting it drops what the source sends meanwhile, as a
 * broken link does; the source's clock runs on.
 * @returns {Promise<{url: string, cut: () => void, restore: () => void,
 *   restartEncoder: (gapMs?: number) => Promise<number>, stop: () => Promise<void>}>}
 */
async function startUdpSource() {
  const target = await freeUdpPort();
  const relay = dgram.createSocket('udp4');
  await new Promise((resolve) => relay.bind(0, '127.0.0.1', resolve));
  let on = true;
  let lastPacketAt = 0;
  relay.on('message', (packet) => {
    lastPacketAt = Date.now();
    if (on) relay.send(packet, target, '127.0.0.1');
  });
  const encode = () => {
    const child = spawn('ffmpeg', ['-v', 'error', '-re',
      '-f', 'lavfi', '-i', 'testsrc2=size=320x240:rate=25', '-f', 'lavfi', '-i', 'sine=f=440',
      '-c:v', 'libx264', '-preset', 'ultrafast', '-tune', 'zerolatency', '-g', '25',
      '-c:a', 'aac', '-f', 'mpegts', `udp://127.0.0.1:${relay.address().port}?pkt_size=1316`],
    { stdio: ['ignore', 'ignore', 'inherit'], env: toolEnv() });
    return { child, ended: new Promise((resolve) => child.on('exit', resolve)) };
  };
  let encoder = encode();
  const stopEncoder = async () => {
    encoder.child.kill('SIGTERM');
    await encoder.ended;
  };
  return {
    url: `udp://127.0.0.1:${target}`,
    cut() { on = false; },
    restore() { on = true; },
    // The encoder stops and, `gapMs` later, a new one starts: its
    // timestamps start over. Resolves with the time its first packet came.
    async restartEncoder(gapMs = 0) {
      await stopEncoder();
      await new Promise((resolve) => setTimeout(resolve, gapMs));
      const stopped = Date.now();
      encoder = encode();
      while (lastPacketAt <= stopped) await new Promise((resolve) => setTimeout(resolve, 5));
      return lastPacketAt;
    },
    async stop() {
      await stopEncoder();
      relay.close();
    },
  };
}

/**
 * An HLS live stream: ffmpeg cuts `seconds` of a 320x240 test pattern with a
 * tone into 2-second segments beforehand; the server's playlist then shows a
 * window of `window` segments that moves on by one every 2 s of wall time,
 * dropping the oldest (those are gone: 404). The segment numbered `late` is
 * answered only after `lateMs`. From the segment numbered `restartAt` on,
 * the segments come from a second encoder run whose timestamps start over,
 * behind an EXT-X-DISCONTINUITY, as when a channel's encoder restarts.
 * `goAway(ms)` closes the listener and every connection, as a server that
 * goes down does (connections are refused), and listens again on the same
 * port `ms` later (never for Infinity); the window slides on meanwhile.
 * @returns {Promise<{url: string, servedLate: () => boolean,
 *   goAway: (ms: number) => Promise<void>, close: () => Promise<void>}>}
 */
async function startHlsLive({ seconds = 40, window = 4, late = -1, lateMs = 2500, restartAt = -1 } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hls-live-'));
  const encode = (prefix, duration) => promisify(execFile)('ffmpeg', ['-v', 'error', '-y',
    '-f', 'lavfi', '-i', 'testsrc2=size=320x240:rate=25', '-f', 'lavfi', '-i', 'sine=f=440',
    '-t', String(duration), '-c:v', 'libx264', '-preset', 'ultrafast', '-g', '50',
    '-c:a', 'aac', '-f', 'hls', '-hls_time', '2', '-hls_list_size', '0',
    '-hls_segment_filename', path.join(dir, `${prefix}%d.ts`), path.join(dir, `${prefix}.m3u8`)],
  { env: toolEnv() });
  const restarts = restartAt >= 0;
  await encode('seg', restarts ? restartAt * 2 : seconds);
  if (restarts) await encode('restart', seconds - restartAt * 2);
  const fileOf = (index) => (restarts && index >= restartAt
    ? `restart${index - restartAt}.ts` : `seg${index}.ts`);
  const total = fs.readdirSync(dir).filter((name) => name.endsWith('.ts')).length;
  const started = Date.now();
  let lateServed = false;
  // The newest segment available now; the stream begins with a full window.
  const newest = () => Math.min(total - 1, window - 1 + Math.floor((Date.now() - started) / 2000));
  const playlist = () => {
    const last = newest();
    const first = Math.max(0, last - window + 1);
    const lines = ['#EXTM3U', '#EXT-X-VERSION:3', '#EXT-X-TARGETDURATION:2',
      `#EXT-X-MEDIA-SEQUENCE:${first}`];
    if (restarts && first > restartAt) lines.push('#EXT-X-DISCONTINUITY-SEQUENCE:1');
    for (let i = first; i <= last; i++) {
      if (restarts && i === restartAt && i > first) lines.push('#EXT-X-DISCONTINUITY');
      lines.push('#EXTINF:2.000000,', `seg${i}.ts`);
    }
    return `${lines.join('\n')}\n`;
  };
  const server = http.createServer((request, response) => {
    if (request.url === '/live.m3u8') {
      response.writeHead(200, { 'content-type': 'application/vnd.apple.mpegurl' });
      response.end(playlist());
      return;
    }
    const match = /^\/seg(\d+)\.ts$/.exec(request.url);
    const index = match ? Number(match[1]) : -1;
    const last = newest();
    if (index < 0 || index > last || index < last - window + 1) {
      response.writeHead(404).end();
      return;
    }
    const send = () => {
      response.writeHead(200, { 'content-type': 'video/mp2t' });
      response.end(fs.readFileSync(path.join(dir, fileOf(index))));
    };
    if (index === late) {
      lateServed = true;
      setTimeout(send, lateMs);
    } else {
      send();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  const stopListening = async () => {
    server.closeAllConnections();
    if (server.listening) await new Promise((resolve) => server.close(resolve));
  };
  let back = Promise.resolve();
  return {
    url: `http://127.0.0.1:${port}/live.m3u8`,
    servedLate: () => lateServed,
    async goAway(ms) {
      await stopListening();
      if (Number.isFinite(ms)) {
        back = new Promise((resolve) => setTimeout(() => server.listen(port, '127.0.0.1', resolve), ms));
      }
    },
    async close() {
      await back;
      await stopListening();
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

module.exports = { startUdpSource, startHlsLive };
