'use strict';
/**
 * A client for the orvanel_mpv_helper protocol: spawns the helper, writes its
 * "mpv-options" preamble and command lines, and parses its JSON event lines.
 *
 * Every line the helper writes is emitted as `'event'` and under its own
 * name (`'hello'`, `'shm'`, `'snapshot'`, `'log'`, `'fatal'`, `'bye'`);
 * `'exit'` follows the end of the process. Commands never answer: their
 * effects arrive in later snapshots, which `waitForSnapshot` waits for.
 * @module helper_client
 * @example
 * const { HelperClient } = require('./helper_client');
 * const helper = HelperClient.spawn({ width: 640, height: 360, mpvOptions: { ao: 'null' } });
 * await helper.waitFor((e) => e.event === 'hello');
 * helper.load('https://example.invalid/stream.m3u8', { 'user-agent': 'Player/1' });
 * await helper.waitForSnapshot((s) => s.status === 'playing', 10000);
 * await helper.close();
 */
const { EventEmitter } = require('node:events');
const fs = require('node:fs');
const { spawn } = require('node:child_process');
const readline = require('node:readline');
const { helperPath } = require('./native');
const { allowedSchemeSet, checkUrlAllowed } = require('./url_policy');

/** Most bytes of the helper's standard error kept in `stderrText`. */
const STDERR_LIMIT = 64 * 1024;

/**
 * Percent-encodes a field value for a command line: `%`, tab, line feed,
 * carriage return and every other byte below 32 or equal to 127 become `%XX`;
 * everything else (UTF-8 included) passes as it is.
 * @param {string|number|boolean} value
 * @returns {string}
 * @example
 * encodeField('a\tb%'); // 'a%09b%25'
 */
function encodeField(value) {
  return String(value).replace(/[\u0000-\u001f%\u007f]/g, (c) =>
    `%${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, '0')}`);
}

/**
 * Checks that a field key can stand in a command line as it is (keys are not
 * decoded by the helper).
 * @param {string} key
 * @returns {string} the key
 * @throws {TypeError} for a key holding `=`, `%`, a tab, a line feed or a carriage return
 */
function checkKey(key) {
  if (typeof key !== 'string' || /[=%\t\n\r]/.test(key)) {
    throw new TypeError(`invalid field key: ${JSON.stringify(key)}`);
  }
  return key;
}

/**
 * Builds one command line (without its line feed).
 * @param {string} name command name
 * @param {Record<string, string|number|boolean|undefined>} [fields] undefined values are left out
 * @returns {string}
 * @throws {TypeError} for a name or key that cannot stand in a line
 * @example
 * commandLine('seek', { seconds: 12.5 }); // 'seek\tseconds=12.5'
 */
function commandLine(name, fields = {}) {
  if (typeof name !== 'string' || /[\t\n\r]/.test(name)) {
    throw new TypeError(`invalid command name: ${JSON.stringify(name)}`);
  }
  let line = name;
  for (const [key, value] of Object.entries(fields)) {
    if (value === undefined) continue;
    line += `\t${checkKey(key)}=${encodeField(value)}`;
  }
  return line;
}

/**
 * Builds the "mpv-options" preamble line. The helper applies its entries in
 * byte-wise order of their keys, so the keys are zero-padded indices that
 * keep the given order.
 * @param {Record<string, string|number|boolean>|Array<[string, string|number|boolean]>} options
 *   engine options as name → value (an array of pairs may repeat a name)
 * @returns {string} the line, without its line feed
 * @example
 * buildPreamble({ ao: 'null', cache: 'yes' }); // 'mpv-options\t0000=ao%3Dnull\t0001=cache%3Dyes'
 */
function buildPreamble(options = {}) {
  const pairs = Array.isArray(options) ? options : Object.entries(options);
  let line = 'mpv-options';
  pairs.forEach(([name, value], index) => {
    const key = String(index).padStart(4, '0');
    line += `\t${key}=${encodeField(`${name}=${value}`).replace(/=/g, '%3D')}`;
  });
  return line;
}

/**
 * The helper's command-line arguments for the given options.
 * @param {HelperOptions} options
 * @returns {string[]}
 */
function helperArgs(options) {
  const args = [];
  if (options.shmBase !== undefined) args.push('--shm-base', String(options.shmBase));
  if (options.width !== undefined) args.push('--width', String(options.width));
  if (options.height !== undefined) args.push('--height', String(options.height));
  if (options.volume !== undefined) args.push('--volume', String(options.volume));
  if (options.hwdec !== undefined) args.push('--hwdec', String(options.hwdec));
  if (options.audioDelay !== undefined) args.push('--audio-delay', String(options.audioDelay));
  if (options.mpvOptions !== undefined) args.push('--mpv-options-stdin');
  if (options.runtimeProbe) args.push('--runtime-probe');
  const allowed = allowedSchemeSet(options.allowedSchemes);
  if (allowed) args.push('--allowed-schemes', [...allowed].join(','));
  if (options.pixelLayout !== undefined) {
    // The helper takes any other word for the default: a misspelt layout is refused here.
    if (options.pixelLayout !== 'bgra-bottom-up' && options.pixelLayout !== 'rgba-top-down') {
      throw new TypeError(`pixelLayout must be 'bgra-bottom-up' or 'rgba-top-down', not ${String(options.pixelLayout)}`);
    }
    args.push('--pixel-layout', options.pixelLayout);
  }
  return args;
}

/**
 * @typedef {object} HelperOptions
 * @property {string} [shmBase] base name of the frame ring objects (helper default "/ompv");
 *   helpers that run at the same time need different ones, or each takes the other's ring name
 * @property {number} [width] output box width (helper default 1280)
 * @property {number} [height] output box height (helper default 720)
 * @property {number} [volume] initial volume, 0 to 1
 * @property {string} [hwdec] engine "hwdec" value
 * @property {string} [audioDelay] engine "audio-delay" value
 * @property {Record<string, string|number|boolean>|Array<[string, string|number|boolean]>} [mpvOptions]
 *   session options: when given, the helper is started with --mpv-options-stdin and this preamble
 * @property {boolean} [runtimeProbe] start in runtime probe mode
 * @property {'bgra-bottom-up'|'rgba-top-down'} [pixelLayout] how the frame rings hold pixels
 *   (default 'bgra-bottom-up'); 'rgba-top-down' is what a page's ImageData holds, so a page
 *   shows a frame without a pass over its pixels. The "shm" event then says `layout`
 * @property {string} [helperPath] the program to run (default: the built helper)
 * @property {NodeJS.ProcessEnv} [env] environment of the helper
 * @property {boolean} [keepEvents=true] keep every event in `events`; long-running
 *   programs pass false so memory does not grow with the snapshots
 * @property {string[]} [allowedSchemes] the URL schemes `load` and `subAdd` accept, e.g.
 *   `['http', 'https']`; a local path counts as "file". Absent: every URL and path.
 *   Set it whenever the URL comes from a page or a remote source. The helper is
 *   given it too (`--allowed-schemes`) and holds every file its engine opens to
 *   it, and the per-load options to an allow-list (see docs/security.md).
 */

/**
 * One running helper process.
 */
class HelperClient extends EventEmitter {
  /**
   * Starts a helper. With `mpvOptions` the preamble is written at once.
   * @param {HelperOptions} [options]
   * @returns {HelperClient}
   */
  static spawn(options = {}) {
    return new HelperClient(options);
  }

  /** @param {HelperOptions} [options] */
  constructor(options = {}) {
    super();
    /** @type {Set<string>|null} the schemes load and subAdd accept; null: all */
    this.allowedSchemes = allowedSchemeSet(options.allowedSchemes);
    /** @type {object[]} every event received, in order (empty with keepEvents false) */
    this.events = [];
    this.keepEvents = options.keepEvents !== false;
    /** @type {object|null} the newest "snapshot" event */
    this.lastSnapshot = null;
    /** @type {object|null} the newest "shm" event */
    this.lastShm = null;
    /** @type {string[]} lines that were not JSON objects */
    this.badLines = [];
    /** @type {string} the start of the helper's standard error */
    this.stderrText = '';
    /** @type {{code: number|null, signal: string|null}|null} set once the process has ended */
    this.exitStatus = null;

    this.child = spawn(options.helperPath || helperPath(), helperArgs(options), {
      stdio: ['pipe', 'pipe', 'pipe'],
      env: options.env || process.env,
    });
    /** @type {number} process id */
    this.pid = this.child.pid;
    // A helper that ends early closes its stdin; later writes must not throw.
    this.child.stdin.on('error', () => {});
    this.child.stderr.setEncoding('utf8');
    this.child.stderr.on('data', (text) => {
      if (this.stderrText.length < STDERR_LIMIT) this.stderrText += text;
    });
    this.exited = new Promise((resolve) => {
      this.child.on('close', (code, signal) => {
        this.exitStatus = { code, signal };
        this.emit('exit', this.exitStatus);
        resolve(this.exitStatus);
      });
    });
    const lines = readline.createInterface({ input: this.child.stdout, crlfDelay: Infinity });
    lines.on('line', (line) => this._onLine(line));
    if (options.mpvOptions !== undefined) this.writeLine(buildPreamble(options.mpvOptions));
  }

  /** @private */
  _onLine(line) {
    let event;
    try {
      event = JSON.parse(line);
    } catch {
      this.badLines.push(line);
      return;
    }
    if (event === null || typeof event !== 'object') {
      this.badLines.push(line);
      return;
    }
    if (this.keepEvents) this.events.push(event);
    if (event.event === 'snapshot') this.lastSnapshot = event;
    if (event.event === 'shm') this.lastShm = event;
    this.emit('event', event);
    if (typeof event.event === 'string') this.emit(event.event, event);
  }

  /**
   * Writes one raw line (a line feed is added). Ignored once stdin is closed.
   * @param {string} line
   */
  writeLine(line) {
    if (this.child.stdin.writable) this.child.stdin.write(`${line}\n`);
  }

  /**
   * Writes one command.
   * @param {string} name
   * @param {Record<string, string|number|boolean|undefined>} [fields]
   */
  send(name, fields) {
    this.writeLine(commandLine(name, fields));
  }

  /**
   * Resolves with the first event after this call that satisfies `predicate`.
   * @param {(event: object) => boolean} predicate
   * @param {number} [timeoutMs=10000]
   * @returns {Promise<object>}
   * @throws {Error} (rejects) on time-out or when the helper ends first
   */
  waitFor(predicate, timeoutMs = 10000) {
    return new Promise((resolve, reject) => {
      const cleanup = () => {
        clearTimeout(timer);
        this.off('event', onEvent);
        this.off('exit', onExit);
      };
      const onEvent = (event) => {
        let matched;
        try {
          matched = predicate(event);
        } catch (err) {
          cleanup();
          reject(err);
          return;
        }
        if (matched) {
          cleanup();
          resolve(event);
        }
      };
      const onExit = (status) => {
        cleanup();
        reject(new Error(`helper ended (${JSON.stringify(status)}) before the awaited event; ` +
          `last snapshot: ${JSON.stringify(this.lastSnapshot)}`));
      };
      const timer = setTimeout(() => {
        cleanup();
        reject(new Error(`no matching helper event within ${timeoutMs} ms; ` +
          `last snapshot: ${JSON.stringify(this.lastSnapshot)}`));
      }, timeoutMs);
      if (this.exitStatus) {
        onExit(this.exitStatus);
        return;
      }
      this.on('event', onEvent);
      this.on('exit', onExit);
    });
  }

  /**
   * Resolves with a snapshot that satisfies `predicate`: the newest one when it
   * already does, else the first later one.
   * @param {(snapshot: object) => boolean} predicate
   * @param {number} [timeoutMs=10000]
   * @returns {Promise<object>}
   */
  waitForSnapshot(predicate, timeoutMs = 10000) {
    if (this.lastSnapshot && predicate(this.lastSnapshot)) return Promise.resolve(this.lastSnapshot);
    return this.waitFor((e) => e.event === 'snapshot' && predicate(e), timeoutMs);
  }

  /**
   * Resolves with the exit status once the process has ended.
   * @param {number} [timeoutMs=10000]
   * @returns {Promise<{code: number|null, signal: string|null}>}
   */
  waitForExit(timeoutMs = 10000) {
    let timer;
    const timeout = new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error(`helper still running after ${timeoutMs} ms`)),
        timeoutMs);
    });
    return Promise.race([this.exited, timeout]).finally(() => clearTimeout(timer));
  }

  /**
   * Starts playback of `url`.
   * @param {string} url
   * @param {Record<string, string|number|boolean>} [options] per-file engine options
   *   (sent as `opt.<name>` fields), e.g. `{ 'user-agent': 'x', start: 10 }`
   * @throws {TypeError} "load takes a URL string" when `url` is not a non-empty string
   * @throws {Error} "URL refused: …" when its scheme is not in `allowedSchemes`; nothing is sent
   */
  load(url, options = {}) {
    // Any other value would reach the helper as its text, a relative path.
    if (typeof url !== 'string' || url === '') throw new TypeError('load takes a URL string');
    checkUrlAllowed(url, this.allowedSchemes);
    const fields = { url };
    for (const [name, value] of Object.entries(options)) fields[`opt.${name}`] = value;
    this.send('load', fields);
  }

  /** @param {number} seconds absolute position */
  seek(seconds) { this.send('seek', { seconds }); }

  /** @param {number} seconds relative, exact */
  seekBy(seconds) { this.send('seek-by', { seconds }); }

  /** @param {boolean} paused */
  pause(paused) { this.send('pause', { value: paused ? '1' : '0' }); }

  /** @param {number} value 0 to 1 */
  volume(value) { this.send('volume', { value }); }

  /** @param {number|string} id track id, or -1 / "no" for none, or "auto" */
  aid(id) { this.send('aid', { value: id }); }

  /** @param {number|string} id track id, or -1 / "no" for none, or "auto" */
  sid(id) { this.send('sid', { value: id }); }

  /** @param {number} value 0.25 to 4 */
  speed(value) { this.send('speed', { value }); }

  /** @param {string} value e.g. "16:9", or "no" */
  aspect(value) { this.send('aspect', { value }); }

  /**
   * @param {string} path subtitle file or URL to add and select
   * @throws {TypeError} "subAdd takes a path or URL string" when `path` is not a non-empty string
   * @throws {Error} "URL refused: …" when its scheme is not in `allowedSchemes`; nothing is sent
   */
  subAdd(path) {
    if (typeof path !== 'string' || path === '') throw new TypeError('subAdd takes a path or URL string');
    checkUrlAllowed(path, this.allowedSchemes);
    this.send('sub-add', { path });
  }

  /** @param {number} seconds -60 to 60 */
  subDelay(seconds) { this.send('sub-delay', { value: seconds }); }

  /** @param {number} value 0.25 to 4 */
  subScale(value) { this.send('sub-scale', { value }); }

  /** @param {string} value "#RRGGBB" or "#AARRGGBB" */
  subColor(value) { this.send('sub-color', { value }); }

  /** @param {string} [path] file to record the stream into; empty or absent stops */
  record(path = '') { this.send('record', { path }); }

  /**
   * @param {number} width output box, at least 16
   * @param {number} height output box, at least 16
   */
  size(width, height) { this.send('size', { width, height }); }

  /** Asks the helper to end. */
  quit() { this.send('quit'); }

  /** Closes the helper's standard input, which ends it like `quit`. */
  closeStdin() { this.child.stdin.end(); }

  /**
   * Ends the helper: `quit`; when it has not ended in time, SIGTERM (which
   * it also takes like quit); only then SIGKILL, after which the ring it
   * announced last is removed here, as the helper cannot.
   * @param {number} [timeoutMs=5000] for each of the first two steps
   * @returns {Promise<{code: number|null, signal: string|null}>}
   */
  async close(timeoutMs = 5000) {
    if (this.exitStatus) return this.exitStatus;
    this.quit();
    this.closeStdin();
    try {
      return await this.waitForExit(timeoutMs);
    } catch {
      this.child.kill('SIGTERM');
    }
    try {
      return await this.waitForExit(timeoutMs);
    } catch {
      this.child.kill('SIGKILL');
    }
    const status = await this.exited;
    removeLeftoverRing(this.lastShm);
    return status;
  }
}

/**
 * Removes the ring a killed helper left, and the next one it may have been
 * making. Only where shared-memory objects are files (Linux); elsewhere the
 * next helper started with the same base name removes them.
 * @param {{name: string, generation: number}|null} shm the last "shm" event
 */
function removeLeftoverRing(shm) {
  if (!shm || process.platform !== 'linux') return;
  const base = shm.name.slice(0, shm.name.length - `-g${shm.generation}`.length);
  for (const generation of [shm.generation, shm.generation + 1]) {
    try {
      fs.unlinkSync(`/dev/shm${base}-g${generation}`);
    } catch {
      // Already gone.
    }
  }
}

module.exports = { HelperClient, buildPreamble, commandLine, encodeField };
