'use strict';
/**
 * Minimal PNG writer for frames from the frame ring, with Node's own zlib.
 * @module png
 */
const zlib = require('node:zlib');

const crcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(buffers) {
  let crc = 0xffffffff;
  for (const buf of buffers) {
    for (let i = 0; i < buf.length; i++) crc = crcTable[(crc ^ buf[i]) & 0xff] ^ (crc >>> 8);
  }
  return (crc ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32([head.subarray(4), data]), 0);
  return Buffer.concat([head, data, crc]);
}

/**
 * Encodes a BGRA frame as an opaque RGB PNG.
 * @param {ArrayBuffer|Uint8Array} pixels width × height × 4 bytes, blue, green, red, alpha
 * @param {number} width
 * @param {number} height
 * @param {{bottomUp?: boolean}} [options] bottomUp: the first row in memory is the
 *   picture's bottom row (the frame ring's order); it is written as the top row.
 * @returns {Buffer} the PNG file
 */
function encodeBgraPng(pixels, width, height, options = {}) {
  const src = pixels instanceof Uint8Array ? pixels : new Uint8Array(pixels);
  if (!Number.isInteger(width) || !Number.isInteger(height) || width < 1 || height < 1) {
    throw new RangeError('width and height must be positive integers');
  }
  if (src.length < width * height * 4) throw new RangeError('pixel buffer smaller than width × height × 4');
  const stride = width * 3 + 1;
  const raw = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const srcRow = options.bottomUp ? height - 1 - y : y;
    let s = srcRow * width * 4;
    let d = y * stride + 1;  // filter byte 0 (none)
    for (let x = 0; x < width; x++, s += 4, d += 3) {
      raw[d] = src[s + 2];
      raw[d + 1] = src[s + 1];
      raw[d + 2] = src[s];
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;  // bit depth
  ihdr[9] = 2;  // colour type: RGB
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

/**
 * Decodes a PNG written by encodeBgraPng (8-bit RGB, filter 0) back to RGB
 * rows; used by tests to check pixels.
 * @param {Buffer} png
 * @returns {{width: number, height: number, rgb: Buffer}}
 */
function decodeRgbPng(png) {
  if (png.readUInt32BE(0) !== 0x89504e47) throw new Error('not a PNG');
  let offset = 8;
  let width = 0;
  let height = 0;
  const idat = [];
  while (offset < png.length) {
    const length = png.readUInt32BE(offset);
    const type = png.toString('latin1', offset + 4, offset + 8);
    const data = png.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      if (data[8] !== 8 || data[9] !== 2) throw new Error('only 8-bit RGB is supported');
    } else if (type === 'IDAT') {
      idat.push(data);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const rgb = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; y++) {
    if (raw[y * (width * 3 + 1)] !== 0) throw new Error('only filter 0 is supported');
    raw.copy(rgb, y * width * 3, y * (width * 3 + 1) + 1, (y + 1) * (width * 3 + 1));
  }
  return { width, height, rgb };
}

module.exports = { encodeBgraPng, decodeRgbPng, crc32 };
