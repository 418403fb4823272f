/** Encodes a BGRA frame as an RGB PNG; bottomUp flips a frame stored bottom row first. */
export function encodeBgraPng(pixels: ArrayBuffer | Uint8Array, width: number, height: number,
  options?: { bottomUp?: boolean }): Buffer;
/** Decodes an 8-bit RGB PNG written by encodeBgraPng. */
export function decodeRgbPng(png: Buffer): { width: number; height: number; rgb: Buffer };
/** CRC-32 as PNG uses it, over the buffers in order. */
export function crc32(buffers: Uint8Array[]): number;
