/** One frame as it arrives in the page: its pixels were moved there, not copied. */
export interface StreamFrame {
  seq: number;
  ageMs: number;
  torn: boolean;
  width: number;
  height: number;
  generation: number;
  layout: 'bgra-bottom-up' | 'rgba-top-down';
  /** Handed back to the preload (and empty here) once a newer frame has arrived. */
  pixels: ArrayBuffer;
}

export interface StreamFollower {
  /** The newest frame when its number is not `lastSeq`, else null. */
  latestFrame(lastSeq?: number): StreamFrame | null;
  /** Stops the follower. */
  close(): void;
}

/** Follows stream `index` through the preload's API (window.video by default). */
export function followStream(
  api: { follow(index: number): void },
  index: number,
  options?: { key?: string; window?: EventTarget },
): Promise<StreamFollower>;
