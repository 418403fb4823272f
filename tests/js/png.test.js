'use strict';
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { encodeBgraPng, decodeRgbPng, crc32 } = require('../../lib/png');

describe('png', () => {
  it('computes the standard CRC-32', () => {
    assert.equal(crc32([Buffer.from('123456789')]), 0xcbf43926);
  });

  it('round-trips BGRA pixels as RGB, flipping bottom-up frames', () => {
    // 2 × 2: bottom row blue, white; top row red, green (bottom row first in memory).
    const bgra = new Uint8Array([255, 0, 0, 255, 255, 255, 255, 255, 0, 0, 255, 255, 0, 255, 0, 255]);
    const upright = decodeRgbPng(encodeBgraPng(bgra.buffer, 2, 2, { bottomUp: true }));
    assert.deepEqual([...upright.rgb], [255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255]);
    const asStored = decodeRgbPng(encodeBgraPng(bgra, 2, 2));
    assert.deepEqual([...asStored.rgb], [0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0]);
  });

  it('refuses sizes that do not match the pixels', () => {
    assert.throws(() => encodeBgraPng(new Uint8Array(15), 2, 2), RangeError);
    assert.throws(() => encodeBgraPng(new Uint8Array(16), 0, 2), RangeError);
  });
});
