/**
 * The page half of `orvanel-video-backend/electron-preload`, exported as
 * `orvanel-video-backend/page-follower`: an ES module with no Node APIs.
 *
 * `followStream(api, index)` asks the preload's API (`window.video`) for a
 * follower of stream `index`, receives its MessagePort and keeps the newest
 * frame that arrives over it. A frame's pixels were moved to the page, not
 * copied; once a newer frame has arrived, the older one's buffer goes back to
 * the preload (and reads as empty here), so draw a frame in the task that
 * took it, as with the frame reader's own buffers.
 * @module page_follower
 * @example
 * import { followStream } from 'orvanel-video-backend/page-follower';
 * const stream = await followStream(window.video, 0);
 * const frame = stream.latestFrame(lastSeq);
 * if (frame && renderer.draw(frame)) lastSeq = frame.seq;
 */

// As lib/electron_preload.js posts it.
const kFollowerMessage = 'orvanel-video-follower';

/**
 * @typedef {object} StreamFrame
 * @property {number} seq
 * @property {number} ageMs
 * @property {boolean} torn
 * @property {number} width
 * @property {number} height
 * @property {number} generation
 * @property {'bgra-bottom-up' | 'rgba-top-down'} layout
 * @property {ArrayBuffer} pixels
 */

/**
 * @typedef {object} StreamFollower
 * @property {(lastSeq?: number) => StreamFrame | null} latestFrame the newest
 *   frame when its number is not `lastSeq`, else null
 * @property {() => void} close stops the follower; its buffers are dropped
 */

/**
 * Follows stream `index` through the preload's API.
 * @param {{follow(index: number): void}} api the preload's `window[key]`
 * @param {number} index the stream
 * @param {{key?: string, window?: EventTarget}} [options] the preload's `key`
 *   (default "video") and the window its port arrives on (default this one)
 * @returns {Promise<StreamFollower>}
 */
export function followStream(api, index, options = {}) {
  const key = options.key ?? 'video';
  // The window in a page (where it is globalThis), else the global scope.
  const target = options.window ?? globalThis.window ?? globalThis;
  return new Promise((resolve) => {
    const onMessage = (event) => {
      const { data } = event;
      // Only the preload's own post on this window, for this stream.
      if (event.source !== undefined && event.source !== null && event.source !== target) return;
      if (data?.type !== kFollowerMessage || data.key !== key || data.index !== index || !event.ports?.[0]) return;
      target.removeEventListener('message', onMessage);
      resolve(followerOn(event.ports[0]));
    };
    target.addEventListener('message', onMessage);
    api.follow(index);
  });
}

function followerOn(port) {
  let newest = null;
  port.onmessage = ({ data }) => {
    // The frame it replaces is no longer shown: its buffer goes back.
    if (newest) port.postMessage(newest.pixels, [newest.pixels]);
    newest = data;
  };
  return {
    latestFrame(lastSeq) {
      return newest && newest.seq !== lastSeq ? newest : null;
    },
    close() {
      port.postMessage('close');
      port.close();
      newest = null;
    },
  };
}
