'use strict';
/**
 * Follows a helper's frame rings: opens every ring the helper announces in a
 * "shm" event and hands out the newest frame on each poll.
 *
 * Each follower maps its rings into ring objects of its own (`openRing`), so
 * one process (and one page's preload) can follow any number of helpers, one
 * FrameFollower each.
 * @module frame_follower
 */
const reader = require('./frame_reader');

/**
 * @typedef {object} Frame
 * @property {number} seq sequence number (grows across rings of one helper)
 * @property {number} ageMs milliseconds since the helper published it
 * @property {boolean} torn the frame was overwritten while it was copied
 * @property {number} width
 * @property {number} height
 * @property {number} generation ring generation the frame came from
 * @property {'bgra-bottom-up'|'rgba-top-down'} layout how `pixels` holds the picture
 * @property {ArrayBuffer} pixels width × 4 bytes per row: BGRA, bottom row first, or
 *   RGBA, top row first, as `layout` says
 */

class FrameFollower {
  /**
   * @param {import('./helper_client').HelperClient} client a running helper
   */
  constructor(client) {
    this.client = client;
    /** @type {import('./frame_reader').FrameRing|null} the ring being followed */
    this.ring = null;
    this.pixels = null;
    this.lastSeq = 0;
    /** @type {Error|null} the last failure to open an announced ring */
    this.openError = null;
    this._onShm = (event) => this._open(event.name);
    client.on('shm', this._onShm);
    // The first "shm" comes before "hello": it may have arrived already.
    if (client.lastShm) this._open(client.lastShm.name);
  }

  /** @private */
  _open(name) {
    let ring;
    try {
      ring = reader.openRing(name);
      this.openError = null;
    } catch (err) {
      // The helper may have replaced the ring again already; the next "shm"
      // event brings the name that exists.
      this.openError = err;
      return;
    }
    // Only a ring that opened replaces the one followed so far.
    if (this.ring) this.ring.close();
    this.ring = ring;
    if (!this.pixels || this.pixels.byteLength !== this.ring.frameBytes) {
      this.pixels = new ArrayBuffer(this.ring.frameBytes);
    }
  }

  /**
   * Copies the newest frame when it is newer than the last one handed out.
   * The returned `pixels` buffer is reused by the next poll, unless the
   * frame went into `options.into`.
   * @param {{includeTorn?: boolean, into?: ArrayBuffer}} [options] hand out torn
   *   frames too; copy into this buffer of the caller's when it holds a frame
   *   (else into the follower's own)
   * @returns {Frame|null} null when there is no new whole frame
   */
  poll(options = {}) {
    if (!this.ring) return null;
    if (this.ring.latestSeq() === this.lastSeq) return null;
    const { into } = options;
    const pixels = into instanceof ArrayBuffer && into.byteLength >= this.ring.frameBytes ? into : this.pixels;
    const copy = this.ring.copyLatest(pixels);
    if (!copy || (copy.torn && !options.includeTorn)) return null;
    this.lastSeq = copy.seq;
    return {
      seq: copy.seq,
      ageMs: copy.ageMs,
      torn: copy.torn,
      width: this.ring.width,
      height: this.ring.height,
      generation: this.ring.generation,
      layout: this.ring.layout,
      pixels,
    };
  }

  /** @returns {number} milliseconds since the helper's last render pass, or -1 */
  producerAliveMs() {
    return this.ring ? this.ring.producerAliveMs() : -1;
  }

  /** Stops following and unmaps the ring. */
  close() {
    this.client.off('shm', this._onShm);
    if (this.ring) this.ring.close();
    this.ring = null;
  }
}

module.exports = { FrameFollower };
