'use strict';
/**
 * Reads video frames out of the helper's shared-memory frame ring.
 *
 * The helper announces the ring's name in its "shm" event; `open` maps that
 * ring read-only, `copyLatest` copies the newest complete frame (`stride` =
 * width × 4; BGRA rows bottom-up, or RGBA rows top-down where the ring's
 * `layout` says 'rgba-top-down') into an ArrayBuffer of the caller's.
 * The five module-level functions act on one current ring per Node environment
 * (the main thread and each worker have their own); `openRing` gives a ring
 * object of its own per call, so one environment can follow any number of
 * helpers. Every mapping is unmapped when the environment goes away.
 * @module frame_reader
 */
const { loadNativeFunctions } = require('./native');

/**
 * Maps the named frame ring read-only, replacing the ring open before. A
 * failed `open` leaves the previous ring open and usable.
 * @function open
 * @param {string} name the shm name from the helper's "shm" event, e.g. "/ompv-g1"
 * @returns {{width: number, height: number, stride: number, frameBytes: number, generation: number,
 *   layout: 'bgra-bottom-up'|'rgba-top-down'}}
 * @throws {Error} "open(name) requires the shm name", "shm name must be a string",
 *   "shm_open failed (helper gone?)", "shm segment too small", "mmap failed",
 *   "frame ring not initialized yet", "frame ring header is inconsistent",
 *   "shm segment smaller than its frames", "frame ring pixel layout is unknown"
 * @example
 * const ring = reader.open('/ompv-g1');
 * const frame = new ArrayBuffer(ring.frameBytes);
 */

/**
 * Sequence number of the newest complete frame of the open ring.
 * @function latestSeq
 * @returns {number} 0 when no frame was published yet or no ring is open
 * @example
 * if (reader.latestSeq() !== lastShown) reader.copyLatest(frame);
 */

/**
 * Copies the newest complete frame into the first `frameBytes` bytes of
 * `buffer`; later bytes are left untouched. A torn frame (overwritten while it
 * was copied) is still copied and flagged.
 * @function copyLatest
 * @param {ArrayBuffer} buffer at least `frameBytes` bytes; typed arrays and Buffers are refused
 * @returns {{seq: number, ageMs: number, torn: boolean} | null} null when there is
 *   no frame yet or the newest slot is being rewritten: poll again
 * @throws {Error} "call open() first", "copyLatest(buffer) needs a buffer",
 *   "argument must be an ArrayBuffer", "buffer smaller than one frame"
 * @example
 * const got = reader.copyLatest(frame);
 * if (got && !got.torn) draw(new Uint8Array(frame), got.seq);
 */

/**
 * Milliseconds since the helper's render thread last ran a pass. It keeps
 * rising once the helper is gone or has moved to a new ring.
 * @function producerAliveMs
 * @returns {number} -1 when no ring is open or the render thread has not run yet
 * @example
 * if (reader.producerAliveMs() > 2000) restartHelper();
 */

/**
 * Unmaps the open ring, if any. Never throws; may be called any number of times.
 * @function close
 * @returns {undefined}
 */

/**
 * Maps the named frame ring read-only into an object of its own, beside the
 * module's current ring and any other ring object: open as many as there are
 * helpers to follow. Its methods have the rules and messages of the
 * module-level functions; a closed object behaves like the closed module.
 * Its mapping is released by `close()`, when the object is garbage-collected,
 * or when the environment goes away, whichever comes first.
 * @function openRing
 * @param {string} name the shm name from the helper's "shm" event
 * @returns {FrameRing}
 * @throws {Error} the messages of `open`
 * @example
 * const rings = names.map((name) => reader.openRing(name));
 * const frame = new ArrayBuffer(rings[0].frameBytes);
 * if (rings[0].copyLatest(frame)) draw(frame);
 * rings.forEach((ring) => ring.close());
 */

/**
 * @typedef {object} FrameRing
 * @property {number} width
 * @property {number} height
 * @property {number} stride bytes per row: width × 4
 * @property {number} frameBytes bytes per frame: width × height × 4
 * @property {number} generation
 * @property {() => number} latestSeq newest complete frame's sequence number, 0 when none or closed
 * @property {(buffer: ArrayBuffer) => ({seq: number, ageMs: number, torn: boolean} | null)} copyLatest
 *   as the module's `copyLatest`; throws "call open() first" once closed
 * @property {() => number} producerAliveMs -1 when closed or before the first heartbeat
 * @property {() => undefined} close unmaps now; never throws, may be repeated
 */

module.exports = loadNativeFunctions('hosted_mpv_frame_reader', [
  'open', 'latestSeq', 'copyLatest', 'producerAliveMs', 'close', 'openRing',
]);
