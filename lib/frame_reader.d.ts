/** Geometry of an opened frame ring. */
export interface FrameRingInfo {
  width: number;
  height: number;
  /** Bytes per pixel row: width × 4. */
  stride: number;
  /** Bytes per frame: width × height × 4. */
  frameBytes: number;
  generation: number;
  /** How the slots hold pixels: BGRA bottom row first (the default), or RGBA top row first. */
  layout: 'bgra-bottom-up' | 'rgba-top-down';
}

/** One frame copied out of the ring. */
export interface FrameCopy {
  seq: number;
  /** Milliseconds since the frame was published. */
  ageMs: number;
  /** The frame was overwritten while it was copied. */
  torn: boolean;
}

/** Maps the named ring read-only; a failed open keeps the previous ring. */
export function open(name: string): FrameRingInfo;
/** Newest complete frame's sequence number; 0 when none or nothing is open. */
export function latestSeq(): number;
/** Copies the newest frame into `buffer`; null when there is none to take. */
export function copyLatest(buffer: ArrayBuffer): FrameCopy | null;
/** Milliseconds since the helper's last render pass; -1 when unknown. */
export function producerAliveMs(): number;
/** Unmaps the open ring; never throws. */
export function close(): void;

/** A ring of its own, from openRing; any number may be open at once. */
export interface FrameRing extends FrameRingInfo {
  /** Newest complete frame's sequence number; 0 when none or closed. */
  latestSeq(): number;
  /** Copies the newest frame into `buffer`; null when there is none to take. Throws once closed. */
  copyLatest(buffer: ArrayBuffer): FrameCopy | null;
  /** Milliseconds since the helper's last render pass; -1 when unknown or closed. */
  producerAliveMs(): number;
  /** Unmaps now (collection or the environment's end would later); never throws. */
  close(): void;
}

/** Maps the named ring into an object of its own, beside every other open ring. */
export function openRing(name: string): FrameRing;
