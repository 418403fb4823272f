import { HelperClient } from './helper_client';
import { FrameRing } from './frame_reader';

/** One frame handed out by FrameFollower.poll. */
export interface Frame {
  /** Sequence number; grows across the rings of one helper. */
  seq: number;
  /** Milliseconds since the helper published the frame. */
  ageMs: number;
  /** The frame was overwritten while it was copied (only with includeTorn). */
  torn: boolean;
  width: number;
  height: number;
  generation: number;
  /** BGRA, width × 4 bytes per row, bottom row first; reused by the next poll. */
  pixels: ArrayBuffer;
}

/**
 * Opens every ring a helper announces, in ring objects of its own, and hands
 * out its newest frames: one process follows any number of helpers, one
 * FrameFollower each.
 */
export class FrameFollower {
  constructor(client: HelperClient);
  readonly client: HelperClient;
  /** Geometry of the ring being followed, null before the first "shm" event. */
  readonly ring: FrameRing | null;
  /** The last failure to open an announced ring. */
  readonly openError: Error | null;
  /** The newest frame when it is newer than the last one handed out, else null. */
  poll(options?: { includeTorn?: boolean }): Frame | null;
  /** Milliseconds since the helper's last render pass, -1 when unknown. */
  producerAliveMs(): number;
  /** Stops following and unmaps its ring; other followers are untouched. */
  close(): void;
}
