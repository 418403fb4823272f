'use strict';
/**
 * The preload half of a page that shows helpers' frames under context
 * isolation, exported as `orvanel-video-backend/electron-preload`; its page
 * half is `orvanel-video-backend/page-follower`.
 *
 * `exposeVideo` puts a narrow API on the page's `window[key]`: `load` (with
 * the URL policy applied here, before anything reaches the main process),
 * `onStatus`, and `follow(index)`, which hands the page a `MessagePort` for
 * stream `index`. Over that port each frame's pixels move (transfer) instead
 * of being copied: the frame reader's copy out of the ring is the only copy
 * before the page draws. The context bridge copies every value it passes, so
 * pixels never cross it. The page hands each buffer back once a newer frame
 * has arrived, and the preload copies the next frame into it.
 *
 * The main process speaks four channels, named after `options.channel`
 * ("video" by default): it answers `video:rings` (invoke) with the newest
 * ring name of each stream, sends `video:ring` (index, name) for each "shm"
 * event and `video:status` (index, status) as it likes, and receives
 * `video:load` (index, url).
 * @module electron_preload
 * @example
 * // preload.js
 * const { contextBridge, ipcRenderer } = require('electron');
 * const { exposeVideo } = require('orvanel-video-backend/electron-preload');
 * exposeVideo({ contextBridge, ipcRenderer }, { allowedSchemes: ['http', 'https'] });
 */
const { EventEmitter } = require('node:events');
const { FrameFollower } = require('./frame_follower');
const { allowedSchemeSet, checkUrlAllowed } = require('./url_policy');

// Buffers per followed stream: one being filled, one on its way, one the
// page shows.
const kBuffersPerStream = 3;

/** The message a follower's port arrives in on the page's window. */
const kFollowerMessage = 'orvanel-video-follower';

// Runs `callback` before the next repaint where there is one (the preload
// shares the page's window), else after a display frame's time.
function nextFrame(callback) {
  if (typeof requestAnimationFrame === 'function') requestAnimationFrame(callback);
  else setTimeout(callback, 16);
}

// One stream: the ring names the main process announces, as the "shm"
// events a FrameFollower follows, and the page's followers of it, each a
// port with a FrameFollower and the buffers the page has handed back.
function createStream() {
  const rings = new EventEmitter();
  rings.lastShm = null;
  return { rings, followers: [] };
}

/**
 * Exposes the video API to the page.
 * @param {{contextBridge: {exposeInMainWorld(key: string, api: object): void},
 *   ipcRenderer: {invoke(channel: string, ...args: any[]): Promise<any>, send(channel: string, ...args: any[]): void,
 *   on(channel: string, listener: (event: unknown, ...args: any[]) => void): unknown}}} electron
 *   the preload's `require('electron')`
 * @param {{key?: string, channel?: string, allowedSchemes?: string[], window?: object}} [options]
 *   `key`: the page's `window[key]` (default "video"); `channel`: the IPC prefix (default
 *   "video"); `allowedSchemes`: the URL schemes `load` passes on (absent: every URL, which
 *   a page should never get); `window`: where follower ports are posted (default the
 *   preload's `window`)
 * @returns {{close(): void}} stops every follower (for tests and reloads)
 * @throws {TypeError} for an `allowedSchemes` that is not a list of schemes
 */
function exposeVideo(electron, options = {}) {
  const { contextBridge, ipcRenderer } = electron;
  const key = options.key ?? 'video';
  const channel = options.channel ?? 'video';
  const allowed = allowedSchemeSet(options.allowedSchemes);
  const target = options.window ?? globalThis.window;
  const streams = [];
  let ticking = false;
  let closed = false;

  const streamAt = (index) => streams[index] ?? (streams[index] = createStream());
  const announce = (index, name) => {
    if (!Number.isInteger(index) || index < 0 || typeof name !== 'string' || !name) return;
    const { rings } = streamAt(index);
    rings.lastShm = { name };
    rings.emit('shm', rings.lastShm);
  };

  // Sends each port whose page has a buffer free the newest frame, copied
  // into that buffer and moved, not copied, to the page.
  function pass() {
    ticking = false;
    if (closed) return;
    let following = false;
    for (const stream of streams) {
      for (const follower of stream?.followers ?? []) {
        following = true;
        const frameBytes = follower.frames.ring?.frameBytes ?? 0;
        // A new ring size makes the buffers of the old one useless.
        follower.free = follower.free.filter((buffer) => buffer.byteLength === frameBytes);
        if (frameBytes === 0 || (follower.free.length === 0 && follower.lent >= kBuffersPerStream)) continue;
        const into = follower.free.pop() ?? new ArrayBuffer(frameBytes);
        const frame = follower.frames.poll({ into });
        if (!frame) {
          follower.free.push(into);
          continue;
        }
        follower.lent += 1;
        follower.port.postMessage(frame, [frame.pixels]);
      }
    }
    if (following) schedule();
  }
  function schedule() {
    if (ticking || closed) return;
    ticking = true;
    nextFrame(pass);
  }

  function follow(index) {
    if (!Number.isInteger(index) || index < 0) throw new TypeError(`follow(index) needs a stream index, not ${String(index)}`);
    const stream = streamAt(index);
    const { port1, port2 } = new MessageChannel();
    // lent: buffers at the page or on their way there.
    const follower = { port: port1, frames: new FrameFollower(stream.rings), free: [], lent: 0 };
    // The page hands a buffer back once it holds a newer frame.
    port1.onmessage = ({ data }) => {
      if (data instanceof ArrayBuffer) {
        follower.free.push(data);
        follower.lent = Math.max(0, follower.lent - 1);
      } else if (data === 'close') {
        stream.followers = stream.followers.filter((f) => f !== follower);
        stopFollower(follower);
      }
    };
    stream.followers.push(follower);
    target.postMessage({ type: kFollowerMessage, key, index }, '*', [port2]);
    schedule();
  }

  ipcRenderer.invoke(`${channel}:rings`).then((names) => {
    if (Array.isArray(names)) names.forEach((name, index) => announce(index, name));
  }, () => {});
  ipcRenderer.on(`${channel}:ring`, (_event, index, name) => announce(index, name));

  contextBridge.exposeInMainWorld(key, {
    load(index, url) {
      // Thrown in the page, with nothing sent: the main process's own policy
      // (HelperClient's allowedSchemes) stays the one that counts.
      checkUrlAllowed(url, allowed);
      ipcRenderer.send(`${channel}:load`, index, url);
    },
    onStatus(callback) {
      ipcRenderer.on(`${channel}:status`, (_event, index, status) => callback(index, status));
    },
    follow,
  });

  return {
    close() {
      closed = true;
      for (const stream of streams) {
        for (const follower of stream?.followers ?? []) stopFollower(follower);
        if (stream) stream.followers = [];
      }
    },
  };
}

function stopFollower(follower) {
  follower.port.close();
  follower.frames.close();
  follower.free = [];
}

module.exports = { exposeVideo, kFollowerMessage };
