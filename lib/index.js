'use strict';
/**
 * The video back-end's JavaScript API.
 *
 * - `HelperClient` starts `orvanel_mpv_helper` and speaks its protocol.
 * - `FrameFollower` follows the helper's frame rings with the reader module.
 * - `frameReader` is the `hosted_mpv_frame_reader` module itself.
 * - `hostedMpv` is the in-window player module, `hosted_mpv`.
 * - `runtimeProbe()` asks the helper whether this machine can run it.
 *
 * The native modules load on first use, so a program that only uses the
 * helper never loads the in-window player.
 * @module orvanel-video-backend
 * @example
 * const { HelperClient, FrameFollower } = require('orvanel-video-backend');
 * const helper = HelperClient.spawn({ width: 640, height: 360 });
 * const frames = new FrameFollower(helper);
 * helper.load('av://lavfi:testsrc2');
 * await helper.waitForSnapshot((s) => s.status === 'playing');
 */
const { execFile } = require('node:child_process');
const { HelperClient, buildPreamble, commandLine, encodeField } = require('./helper_client');
const { helperPath, outDir } = require('./native');
const { encodeBgraPng } = require('./png');

/**
 * @typedef {object} ProbeVerdict
 * @property {number} protocol always 1
 * @property {boolean} usable
 * @property {string} [libmpv] client API version, e.g. "2.0" (usable only)
 * @property {string} [renderApi] "egl" on Linux, "cgl" on macOS (usable only)
 * @property {string} [reason] why not usable, e.g. "gl-context-create-failed"
 * @property {string} [detail] the failure's text, when there is one
 */

/**
 * Runs `orvanel_mpv_helper --runtime-probe` and returns its verdict.
 * @param {{helperPath?: string, env?: NodeJS.ProcessEnv, timeoutMs?: number}} [options]
 * @returns {Promise<ProbeVerdict>}
 * @throws {Error} (rejects) when the helper cannot be run or prints no verdict
 */
function runtimeProbe(options = {}) {
  return new Promise((resolve, reject) => {
    execFile(options.helperPath || helperPath(), ['--runtime-probe'],
      { env: options.env || process.env, timeout: options.timeoutMs || 20000 },
      (err, stdout) => {
        const line = stdout.split('\n').find((l) => l.startsWith('{'));
        if (!line) {
          reject(new Error(`runtime probe printed no verdict${err ? `: ${err.message}` : ''}`));
          return;
        }
        try {
          resolve(JSON.parse(line));
        } catch {
          reject(new Error(`runtime probe printed an unreadable verdict: ${line}`));
        }
      });
  });
}

module.exports = {
  HelperClient,
  buildPreamble,
  commandLine,
  encodeField,
  get FrameFollower() {
    return require('./frame_follower').FrameFollower;
  },
  get frameReader() {
    return require('./frame_reader');
  },
  get hostedMpv() {
    return require('./hosted_mpv');
  },
  runtimeProbe,
  encodeBgraPng,
  helperPath,
  outDir,
};
