#!/usr/bin/env node
'use strict';
// orvanel-play: plays a stream through the video back-end and shows a live
// status line. Off-screen through orvanel_mpv_helper and the frame reader by
// default, or in a window through hosted_mpv with --hosted.

const fs = require('node:fs');
const path = require('node:path');

const DEFAULT_STREAM =
  'av://lavfi:testsrc2=size=1280x720:rate=30[out0];sine=frequency=440:sample_rate=48000[out1]';

// How long the never-ending test pattern plays without --seconds.
const DEFAULT_PATTERN_SECONDS = 10;

const USAGE = `usage: orvanel-play [URL|FILE] [options]

Plays URL or FILE (default: a test pattern with a 440 Hz tone, no file or
network needed) until it ends, --seconds pass or Ctrl-C.

  --seconds N          stop after N seconds (the test pattern, which never
                       ends: 10 unless given)
  --png FILE           save the newest frame as a PNG when stopping
  --size WxH           output box for the frames (default 1280x720)
  --opt NAME=VALUE     engine option (repeatable), e.g. --opt ao=null
  --header 'N: V'      HTTP request header (repeatable)
  --user-agent UA      HTTP user agent
  --volume V           volume 0 to 1 (default 1)
  --hosted             play in an X11 window through hosted_mpv instead
  --quiet              no status line
  --verbose            show the engine's warnings and errors as they come
  --help               this text`;

class UsageError extends Error {}

function parseArgs(argv) {
  const opts = { url: null, seconds: null, png: null, width: 1280, height: 720, engineOptions: [],
    headers: [], userAgent: null, volume: 1, hosted: false, quiet: false, verbose: false, help: false };
  const value = (i, name) => {
    if (i + 1 >= argv.length) throw new UsageError(`${name} needs a value`);
    return argv[i + 1];
  };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    switch (arg) {
      case '--help': case '-h': opts.help = true; break;
      case '--hosted': opts.hosted = true; break;
      case '--quiet': opts.quiet = true; break;
      case '--verbose': opts.verbose = true; break;
      case '--seconds': {
        opts.seconds = Number(value(i++, arg));
        if (!(opts.seconds > 0)) throw new UsageError('--seconds needs a positive number');
        break;
      }
      case '--png': opts.png = value(i++, arg); break;
      case '--size': {
        const m = /^(\d+)x(\d+)$/.exec(value(i++, arg));
        if (!m || Number(m[1]) < 16 || Number(m[2]) < 16) throw new UsageError('--size needs WxH, each at least 16');
        opts.width = Number(m[1]);
        opts.height = Number(m[2]);
        break;
      }
      case '--opt': {
        const text = value(i++, arg);
        const eq = text.indexOf('=');
        if (eq <= 0 || eq === text.length - 1) throw new UsageError(`--opt needs NAME=VALUE, got "${text}"`);
        opts.engineOptions.push([text.slice(0, eq), text.slice(eq + 1)]);
        break;
      }
      case '--header': {
        const text = value(i++, arg);
        if (!/^[^:\s]+:\s*\S/.test(text)) throw new UsageError(`--header needs 'Name: value', got "${text}"`);
        opts.headers.push(text);
        break;
      }
      case '--user-agent': opts.userAgent = value(i++, arg); break;
      case '--volume': {
        opts.volume = Number(value(i++, arg));
        if (!(opts.volume >= 0 && opts.volume <= 1)) throw new UsageError('--volume needs a number from 0 to 1');
        break;
      }
      default:
        if (arg.startsWith('-')) throw new UsageError(`unknown option ${arg}`);
        if (opts.url !== null) throw new UsageError('only one URL or file can be played');
        opts.url = arg;
    }
  }
  // The pattern never ends by itself: without --seconds, play a while.
  if (opts.seconds === null && opts.url === null) opts.seconds = DEFAULT_PATTERN_SECONDS;
  return opts;
}

// A path that exists becomes absolute; anything with a scheme is left to the
// engine, which reports what it cannot open.
function resolveSource(url) {
  if (url === null) return DEFAULT_STREAM;
  if (/^[a-z][a-z0-9+.-]*:\/\//i.test(url) || /^av:\/\//.test(url)) return url;
  if (!fs.existsSync(url)) throw new UsageError(`no such file: ${url}`);
  return path.resolve(url);
}

function formatTime(seconds) {
  if (seconds === null || seconds === undefined || !Number.isFinite(seconds)) return '--:--';
  const s = Math.max(0, Math.floor(seconds));
  const h = Math.floor(s / 3600);
  const mm = String(Math.floor((s % 3600) / 60)).padStart(2, '0');
  const ss = String(s % 60).padStart(2, '0');
  return h > 0 ? `${h}:${mm}:${ss}` : `${mm}:${ss}`;
}

function progressBar(position, duration, width = 20) {
  if (!(duration > 0)) return `[${' '.repeat(width)}]`;
  const filled = Math.min(width, Math.round((position / duration) * width));
  return `[${'#'.repeat(filled)}${'-'.repeat(width - filled)}]`;
}

/**
 * One status line from a snapshot and frame figures.
 * @param {object} s snapshot (helper event or hosted snapshot)
 * @param {{fps: number|null, ageMs: number|null, width: number, height: number}} f
 */
function statusLine(s, f) {
  const dropped = s.stats && s.stats.droppedFrames !== undefined ? s.stats.droppedFrames : '-';
  const size = f.width && f.height ? `${f.width}x${f.height}` : '-';
  const fps = f.fps === null ? '-' : f.fps.toFixed(1);
  const age = f.ageMs === null ? '-' : `${Math.round(f.ageMs)}ms`;
  return `${s.status.padEnd(7)} ${formatTime(s.positionSeconds)} / ${formatTime(s.durationSeconds)} ` +
    `${progressBar(s.positionSeconds, s.durationSeconds)}  fps ${fps}  age ${age}  ` +
    `dropped ${dropped}  ${size}`;
}

// Redraws one line in place on a terminal; elsewhere prints one line a second.
class StatusPrinter {
  constructor(quiet) {
    this.quiet = quiet;
    this.tty = process.stdout.isTTY;
    this.lastPrint = 0;
    this.shown = false;
  }
  show(line) {
    if (this.quiet) return;
    if (this.tty) {
      process.stdout.write(`\r\x1b[K${line}`);
      this.shown = true;
    } else if (Date.now() - this.lastPrint >= 1000) {
      process.stdout.write(`${line}\n`);
      this.lastPrint = Date.now();
    }
  }
  message(text) {
    if (this.shown) process.stdout.write('\r\x1b[K');
    process.stderr.write(`${text}\n`);
  }
  end(line) {
    if (this.quiet) return;
    if (this.tty) process.stdout.write(`\r\x1b[K${line}\n`);
    else process.stdout.write(`${line}\n`);
  }
}

// Frames delivered per second over a sliding second.
class RateMeter {
  constructor() { this.times = []; }
  tick(now) {
    this.times.push(now);
    while (this.times.length && now - this.times[0] > 1000) this.times.shift();
  }
  rate(now) {
    while (this.times.length && now - this.times[0] > 1000) this.times.shift();
    return this.times.length;
  }
}

function headerOption(headers) {
  // The engine splits the list at commas; a backslash escapes one.
  return headers.map((h) => h.replace(/\\/g, '\\\\').replace(/,/g, '\\,')).join(',');
}

async function playOffscreen(opts, source, printer) {
  const { HelperClient, FrameFollower, encodeBgraPng } = require('../lib');
  const helper = HelperClient.spawn({
    width: opts.width,
    height: opts.height,
    volume: opts.volume,
    shmBase: `/ompv-play-${process.pid}`,
    mpvOptions: opts.engineOptions,
    keepEvents: false,
  });
  const frames = new FrameFollower(helper);
  const meter = new RateMeter();
  let lastFrame = null;
  let lastAge = null;
  let result = { code: 0, message: null };
  let stopping = false;

  // The first engine error of a failed load usually names the cause ("Connection
  // refused"); the snapshot's error only says that loading failed.
  let firstEngineError = null;
  helper.on('log', (e) => {
    const text = e.text.trimEnd();
    if ((e.level === 'error' || e.level === 'fatal') && firstEngineError === null) firstEngineError = text;
    // Rejected options are the user's own mistake: always worth a line.
    if (opts.verbose || e.prefix === 'orvanel') printer.message(`[${e.prefix}] ${text}`);
  });
  const describeError = (s) => {
    // Engine texts end with their own line feed.
    const base = (s.error || '').trim() || 'unknown error';
    return firstEngineError && firstEngineError !== base ? `${base} (${firstEngineError})` : base;
  };

  // Ctrl-C (SIGINT), SIGTERM and SIGHUP stop playback; the helper is then
  // told to quit and waited for, so its ring never stays behind. Ctrl-C in a
  // terminal reaches the helper too, which then ends by itself, cleanly.
  const stopSignals = ['SIGINT', 'SIGTERM', 'SIGHUP'];
  let onStopSignal;
  const finished = new Promise((resolve) => {
    helper.on('fatal', (e) => {
      result = { code: 1, message: `orvanel-play: the player failed: ${e.error}` };
      resolve();
    });
    helper.on('snapshot', (s) => {
      if (s.status === 'error') {
        result = { code: 1, message: `orvanel-play: cannot play ${opts.url ?? 'the test pattern'}: ${describeError(s)}` };
        resolve();
      } else if (s.status === 'ended') {
        if (s.error) result = { code: 1, message: `orvanel-play: the stream was cut short: ${s.error.trim()}` };
        resolve();
      }
    });
    helper.on('exit', (status) => {
      // Status 0: it was asked to end (a signal of the terminal's, say).
      if (!stopping && status.code !== 0) {
        result = { code: 1, message: 'orvanel-play: the player process ended unexpectedly' };
      }
      resolve();
    });
    if (opts.seconds) setTimeout(resolve, opts.seconds * 1000).unref();
    onStopSignal = () => {
      stopping = true;
      resolve();
    };
    // Kept until the helper is gone: a second Ctrl-C must not end this
    // process before its helper.
    for (const signal of stopSignals) process.on(signal, onStopSignal);
  });

  await helper.waitFor((e) => e.event === 'hello', 10000).catch(() => {
    throw new Error(`the player did not start: ${helper.stderrText.trim().split('\n').pop() || 'no output'}`);
  });
  const loadOptions = {};
  if (opts.userAgent) loadOptions['user-agent'] = opts.userAgent;
  if (opts.headers.length) loadOptions['http-header-fields'] = headerOption(opts.headers);
  helper.load(source, loadOptions);

  const poll = setInterval(() => {
    const now = Date.now();
    const frame = frames.poll();
    if (frame) {
      meter.tick(now);
      lastFrame = frame;
      lastAge = frame.ageMs;
    }
    if (helper.lastSnapshot) {
      printer.show(statusLine(helper.lastSnapshot, {
        fps: meter.rate(now), ageMs: lastAge,
        width: frames.ring ? frames.ring.width : 0, height: frames.ring ? frames.ring.height : 0,
      }));
    }
  }, 10);

  await finished;
  stopping = true;
  clearInterval(poll);
  // The newest frame may be newer than the last one polled.
  const newest = frames.poll();
  if (newest) lastFrame = newest;
  if (opts.png && lastFrame) {
    fs.writeFileSync(opts.png, encodeBgraPng(lastFrame.pixels, lastFrame.width, lastFrame.height,
      { bottomUp: true }));
  }
  if (helper.lastSnapshot) {
    printer.end(statusLine(helper.lastSnapshot, {
      fps: meter.rate(Date.now()), ageMs: lastAge,
      width: lastFrame ? lastFrame.width : 0, height: lastFrame ? lastFrame.height : 0,
    }));
  }
  frames.close();
  await helper.close();
  for (const signal of stopSignals) process.off(signal, onStopSignal);
  if (opts.png && !lastFrame && result.code === 0) {
    result = { code: 1, message: 'orvanel-play: no frame arrived, so no PNG was written' };
  }
  return result;
}

async function main() {
  let opts;
  try {
    opts = parseArgs(process.argv.slice(2));
    if (opts.help) {
      process.stdout.write(`${USAGE}\n`);
      return 0;
    }
    const source = resolveSource(opts.url);
    const printer = new StatusPrinter(opts.quiet);
    const result = opts.hosted
      ? await require('./hosted_player').playHosted(opts, source, printer, { statusLine, RateMeter, headerOption })
      : await playOffscreen(opts, source, printer);
    if (result.message) process.stderr.write(`${result.message}\n`);
    return result.code;
  } catch (err) {
    if (err instanceof UsageError) {
      process.stderr.write(`orvanel-play: ${err.message}\n(see --help)\n`);
      return 2;
    }
    process.stderr.write(`orvanel-play: ${err.message}\n`);
    return 1;
  }
}

if (require.main === module) {
  main().then((code) => process.exit(code));
}

module.exports = { parseArgs, statusLine, formatTime, progressBar, headerOption, DEFAULT_STREAM };
