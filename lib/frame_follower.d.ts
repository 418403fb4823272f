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
  /** How `pixels` holds the picture. */
  layout: 'bgra-bottom-up' | 'rgba-top-down';
  /**
   * Width × 4 bytes per row: BGRA with the bottom row first, or RGBA with the top row first,
   * as `layout` says; the follower's own buffer is reused by the next poll.
   */
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
  /** With `into` (at least a frame's bytes), the frame is copied there instead of the follower's buffer. */
  poll(options?: { includeTorn?: boolean; into?: ArrayBuffer }): Frame | null;
  /** Milliseconds since the helper's last render pass, -1 when unknown. */
  producerAliveMs(): number;
  /** Stops following and unmaps its ring; other followers are untouched. */
  close(): void;
}
