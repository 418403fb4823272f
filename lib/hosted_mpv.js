'use strict';
/**
 * Plays video streams inside an application window: each session puts a
 * native view over the window's content at a rectangle and draws the video
 * into it, with its own player, render queue and event thread.
 *
 * Every function runs on the JavaScript thread and never waits for the
 * player: commands are queued, and their effects show in the next snapshot.
 * Wrong arguments throw a `TypeError`, everything else an `Error`, each with
 * a fixed message; a request the player refuses to queue throws the
 * function's message prefix followed by the player's own text.
 *
 * Sessions belong to the Node environment (main thread or worker) that
 * created them: other environments do not see them, and they are torn down
 * when their environment goes away.
 *
 * On Linux the window handle is the X11 window id that Electron's
 * `BrowserWindow#getNativeWindowHandle()` returns (4 or 8 bytes, native byte
 * order), and `DISPLAY` names the X server.
 * @module hosted_mpv
 */
const { loadNativeFunctions } = require('./native');
const { allowedSchemeSet, checkUrlAllowed } = require('./url_policy');

/**
 * Whether the module is present and usable on this platform.
 * @function isSupported
 * @returns {true}
 */

/**
 * Creates a session drawing into `windowHandle`'s window at `bounds`.
 * The renderer is the software one when `ORVANEL_HOSTED_MPV_RENDERER` is "sw"
 * (any letter case) or when OpenGL is not available.
 * @function createSession
 * @param {Buffer} windowHandle the window's native handle
 * @param {{x?: number, y?: number, width?: number, height?: number}} bounds
 *   rectangle in window coordinates, origin at the top left; missing or
 *   non-number values count as 0
 * @param {*} [unused] not read
 * @param {number} [initialVolume] 0 to 1 (clamped); full volume when absent
 * @param {string[]} [extraOptions] extra player options as "key=value"; the
 *   keys the player refuses are listed in the snapshot's `rejectedOptionKeys`
 * @param {{allowedSchemes?: string[]}} [options] the URL schemes the session's
 *   engine may open, e.g. `['http', 'https']`: every file it is about to open
 *   (the load's URL, playlist entries) and what its demuxer opens on its own
 *   (segments, keys) is held to them; a refused file ends the load with the
 *   status "error" (see docs/security.md). Absent: all.
 * @returns {string} the session id, "hosted-mpv-" and a number
 * @throws {TypeError} "Expected window handle buffer and bounds object.", an
 *   `allowedSchemes` that is not an array of schemes
 * @throws {Error} "Native window handle buffer is too small.",
 *   "Unable to resolve Electron native window handle.",
 *   "Unable to resolve the Electron content view.",
 *   "Failed to create hosted MPV view.", "Failed to create libmpv handle.",
 *   "Failed to initialize libmpv: …", "Failed to create libmpv render context: …",
 *   "Failed to create hosted MPV fallback view.",
 *   "Failed to create libmpv fallback render context: …"
 * @example
 * const id = hosted.createSession(win.getNativeWindowHandle(),
 *   { x: 0, y: 0, width: 1280, height: 720 }, null, 0.8, ['cache=yes']);
 */

/**
 * Starts playing a stream, replacing what plays; stops a running recording first.
 * @function loadPlayback
 * @param {string} sessionId
 * @param {{streamUrl: string, title?: string, userAgent?: string, referer?: string,
 *   startTime?: number, headers?: Object<string, string|number>}} playback
 * @param {{allowedSchemes?: string[]}} [options] the URL schemes accepted, e.g.
 *   `['http', 'https']` (a local path counts as "file"); absent: all. Set it
 *   whenever the URL comes from a page or a remote source.
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and playback object.", "Hosted MPV playback
 *   requires a stream URL." (`streamUrl` not a non-empty string), an `allowedSchemes`
 *   that is not an array of schemes
 * @throws {Error} "URL refused: …" (nothing reaches the player; also for the session's own
 *   allowedSchemes), "Header refused: …" (a header, userAgent or referer holding CR, LF or NUL,
 *   a header name that is not an HTTP token, a value ending in a backslash),
 *   "Hosted MPV session not found.",
 *   "Failed to stop recording before loading playback: …", "Failed to load playback: …"
 * @example
 * hosted.loadPlayback(id, { streamUrl: 'https://example.invalid/live.m3u8',
 *   headers: { Cookie: 'a=1' }, startTime: 30 });
 */

/**
 * Moves and resizes the session's video rectangle.
 * @function setBounds
 * @param {string} sessionId
 * @param {{x?: number, y?: number, width?: number, height?: number}} bounds
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and bounds object."
 * @throws {Error} "Hosted MPV session not found."
 */

/**
 * Pauses or resumes.
 * @function setPaused
 * @param {string} sessionId
 * @param {boolean} paused
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and paused flag."
 * @throws {Error} "Hosted MPV session not found.", "Failed to update playback state: …"
 */

/**
 * Seeks to an absolute position.
 * @function seek
 * @param {string} sessionId
 * @param {number} seconds
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and seek target."
 * @throws {Error} "Hosted MPV session not found.", "Failed to seek playback: …"
 */

/**
 * Seeks relative to the current position.
 * @function seekBy
 * @param {string} sessionId
 * @param {number} deltaSeconds
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and seek delta."
 * @throws {Error} "Hosted MPV session not found.", "Failed to seek playback: …"
 */

/**
 * Sets the volume.
 * @function setVolume
 * @param {string} sessionId
 * @param {number} volume 0 to 1 (clamped)
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and volume."
 * @throws {Error} "Hosted MPV session not found.", "Failed to update volume: …"
 */

/**
 * Selects an audio track by its id (from the snapshot's `audioTracks`).
 * @function setAudioTrack
 * @param {string} sessionId
 * @param {number} trackId
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and audio track id."
 * @throws {Error} "Hosted MPV session not found.", "Failed to update audio track: …"
 */

/**
 * Selects a subtitle track by its id; a negative id turns subtitles off.
 * @function setSubtitleTrack
 * @param {string} sessionId
 * @param {number} trackId
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and subtitle track id."
 * @throws {Error} "Hosted MPV session not found.", "Failed to update subtitle track: …"
 */

/**
 * Sets the playback speed.
 * @function setSpeed
 * @param {string} sessionId
 * @param {number} speed 0.25 to 4 (clamped)
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and speed."
 * @throws {Error} "Hosted MPV session not found.", "Failed to update playback speed: …"
 */

/**
 * Overrides the video aspect ratio.
 * @function setAspect
 * @param {string} sessionId
 * @param {string} aspect such as "16:9" or "1.85"; empty for none ("no")
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and aspect override."
 * @throws {Error} "Hosted MPV session not found.", "Failed to update aspect override: …"
 */

/**
 * Records the incoming stream into a file.
 * @function startRecording
 * @param {string} sessionId
 * @param {string} targetPath
 * @returns {undefined}
 * @throws {TypeError} "Expected session id and recording target path."
 * @throws {Error} "Recording target path is required.", "Hosted MPV session not found.",
 *   "Failed to start stream recording: …"
 */

/**
 * Stops recording.
 * @function stopRecording
 * @param {string} sessionId
 * @returns {undefined}
 * @throws {TypeError} "Expected session id."
 * @throws {Error} "Hosted MPV session not found.", "Failed to stop stream recording: …"
 */

/**
 * The session's state at this moment.
 * @function getSessionSnapshot
 * @param {string} sessionId
 * @returns {import('./hosted_mpv').SessionSnapshot | null} null for an unknown id
 * @throws {TypeError} "Expected session id."
 * @example
 * const s = hosted.getSessionSnapshot(id);
 * if (s && s.status === 'error') console.error(s.error);
 */

/**
 * Ends a session and removes its view; unknown ids are ignored.
 * @function disposeSession
 * @param {string} sessionId
 * @returns {undefined}
 * @throws {TypeError} "Expected session id."
 */

const native = loadNativeFunctions('hosted_mpv', [
  'isSupported', 'createSession', 'loadPlayback', 'setBounds', 'setPaused', 'seek', 'seekBy',
  'setVolume', 'setAudioTrack', 'setSubtitleTrack', 'setSpeed', 'setAspect', 'startRecording',
  'stopRecording', 'getSessionSnapshot', 'disposeSession',
]);

// The session keeps its policy: the player refuses, whoever calls it, every
// file of another scheme its engine is about to open.
function createSession(windowHandle, bounds, unused, initialVolume, extraOptions, options = {}) {
  const allowed = allowedSchemeSet(options?.allowedSchemes);
  if (!allowed) return native.createSession(windowHandle, bounds, unused, initialVolume, extraOptions);
  return native.createSession(windowHandle, bounds, unused, initialVolume, extraOptions,
    { allowedSchemes: [...allowed] });
}

// The player reads streamUrl once; the wrapper checks the value it will read:
// the playback object stays the prototype (for headers and the rest) of an
// object whose own streamUrl is the checked string.
function loadPlayback(sessionId, playback, options = {}) {
  const allowed = allowedSchemeSet(options?.allowedSchemes);
  // The player's own order: the call's shape, then the session, then the URL.
  if (typeof sessionId !== 'string' || playback === null ||
      (typeof playback !== 'object' && typeof playback !== 'function') ||
      native.getSessionSnapshot(sessionId) === null) {
    return native.loadPlayback(sessionId, playback);
  }
  const streamUrl = playback.streamUrl;
  if (typeof streamUrl !== 'string' || streamUrl === '') {
    throw new TypeError('Hosted MPV playback requires a stream URL.');
  }
  checkUrlAllowed(streamUrl, allowed);
  return native.loadPlayback(sessionId,
    Object.create(playback, { streamUrl: { value: streamUrl, enumerable: true } }));
}

module.exports = { ...native, createSession, loadPlayback };
