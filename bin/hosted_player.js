'use strict';
// orvanel-play --hosted: plays in an X11 window through the hosted_mpv module.
// The window comes from orvanel_window, which stands in for the application's
// own window (an Electron BrowserWindow's getNativeWindowHandle()).

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');
const { artifactPath } = require('../lib/native');

// Starts the window program; resolves with its X11 id and a line reader.
function openWindow(width, height) {
  const child = spawn(artifactPath('orvanel_window'), [String(width), String(height), 'orvanel-play'],
    { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: child.stdout });
  const queue = [];
  let waiter = null;
  lines.on('line', (line) => {
    if (waiter) {
      const w = waiter;
      waiter = null;
      w(line);
    } else {
      queue.push(line);
    }
  });
  const nextLine = () => new Promise((resolve) => {
    if (queue.length) resolve(queue.shift());
    else waiter = resolve;
  });
  child.on('exit', () => { if (waiter) waiter(null); });
  return nextLine().then((first) => {
    if (first === null || first === 'error no display') {
      throw new Error('--hosted needs an X display, and none could be opened' +
        (process.env.DISPLAY ? ` (DISPLAY=${process.env.DISPLAY})` : ' (DISPLAY is not set)'));
    }
    const m = /^window (\d+)$/.exec(first);
    if (!m) throw new Error(`the window program said: ${first}`);
    return { child, id: BigInt(m[1]), nextLine, lines };
  });
}

// The window id as the application's native handle: 8 bytes in native order.
function windowHandle(id) {
  const buffer = Buffer.alloc(8);
  if (os.endianness() === 'LE') buffer.writeBigUInt64LE(id);
  else buffer.writeBigUInt64BE(id);
  return buffer;
}

function headersObject(headers) {
  const result = {};
  for (const h of headers) {
    const colon = h.indexOf(':');
    result[h.slice(0, colon).trim()] = h.slice(colon + 1).trim();
  }
  return result;
}

// PPM (P6) to an RGB buffer the PNG writer takes as BGRA.
function ppmToBgra(file) {
  const data = fs.readFileSync(file);
  const header = /^P6\s+(\d+)\s+(\d+)\s+255\s/.exec(data.toString('latin1', 0, 64));
  if (!header) throw new Error('unreadable window capture');
  const width = Number(header[1]);
  const height = Number(header[2]);
  const rgb = data.subarray(header[0].length);
  const bgra = new Uint8Array(width * height * 4);
  for (let i = 0, j = 0; i < width * height; i++, j += 3) {
    bgra[i * 4] = rgb[j + 2];
    bgra[i * 4 + 1] = rgb[j + 1];
    bgra[i * 4 + 2] = rgb[j];
    bgra[i * 4 + 3] = 255;
  }
  return { width, height, bgra };
}

async function playHosted(opts, source, printer, { statusLine }) {
  const { hostedMpv, encodeBgraPng } = require('../lib');
  const win = await openWindow(opts.width, opts.height);
  let sessionId = null;
  let result = { code: 0, message: null };
  let bounds = { x: 0, y: 0, width: opts.width, height: opts.height };
  let poll = null;
  try {
    const extra = opts.engineOptions.map(([k, v]) => `${k}=${v}`);
    sessionId = hostedMpv.createSession(windowHandle(win.id), bounds, undefined, opts.volume, extra);
    const created = hostedMpv.getSessionSnapshot(sessionId);
    for (const key of created.rejectedOptionKeys || []) {
      printer.message(`[orvanel] rejected session option ${key}`);
    }
    const playback = { streamUrl: source };
    if (opts.userAgent) playback.userAgent = opts.userAgent;
    if (opts.headers.length) playback.headers = headersObject(opts.headers);
    hostedMpv.loadPlayback(sessionId, playback);

    let windowClosed = false;
    win.lines.on('line', (line) => {
      const m = /^size (\d+) (\d+)$/.exec(line);
      if (m) {
        bounds = { x: 0, y: 0, width: Number(m[1]), height: Number(m[2]) };
        hostedMpv.setBounds(sessionId, bounds);
      } else if (line === 'closed') {
        windowClosed = true;
      }
    });

    await new Promise((resolve) => {
      const deadline = opts.seconds ? Date.now() + opts.seconds * 1000 : Infinity;
      process.once('SIGINT', resolve);
      process.once('SIGTERM', resolve);
      poll = setInterval(() => {
        const s = hostedMpv.getSessionSnapshot(sessionId);
        printer.show(statusLine(s, { fps: s.stats && s.stats.fps !== undefined ? s.stats.fps : null,
          ageMs: null, width: bounds.width, height: bounds.height }));
        if (s.status === 'error') {
          result = { code: 1, message: `orvanel-play: cannot play ${opts.url ?? 'the test pattern'}: ${(s.error || '').trim() || 'unknown error'}` };
          resolve();
        } else if (s.status === 'ended' || windowClosed || Date.now() >= deadline) {
          if (s.status === 'ended' && s.error) {
            result = { code: 1, message: `orvanel-play: the stream was cut short: ${s.error.trim()}` };
          }
          resolve();
        }
      }, 100);
    });
    clearInterval(poll);
    const last = hostedMpv.getSessionSnapshot(sessionId);
    printer.end(statusLine(last, { fps: last.stats && last.stats.fps !== undefined ? last.stats.fps : null,
      ageMs: null, width: bounds.width, height: bounds.height }));
    if (opts.png && !windowClosed) {
      const tmp = path.join(os.tmpdir(), `orvanel-play-${process.pid}.ppm`);
      win.child.stdin.write(`capture ${tmp}\n`);
      let answer;
      do answer = await win.nextLine(); while (answer !== null && /^size /.test(answer));
      if (answer === 'ok') {
        const frame = ppmToBgra(tmp);
        fs.writeFileSync(opts.png, encodeBgraPng(frame.bgra, frame.width, frame.height));
      } else if (result.code === 0) {
        result = { code: 1, message: 'orvanel-play: the window could not be captured' };
      }
      fs.rmSync(tmp, { force: true });
    }
  } finally {
    if (poll) clearInterval(poll);
    if (sessionId !== null) hostedMpv.disposeSession(sessionId);
    win.child.stdin.end('quit\n');
    await new Promise((resolve) => {
      if (win.child.exitCode !== null) resolve();
      else win.child.on('exit', resolve);
    });
  }
  return result;
}

module.exports = { playHosted, windowHandle, headersObject };
