/** One frame as the frame reader copies it: BGRA rows, bottom row first. */
export interface BgraFrame {
  width: number;
  height: number;
  pixels: ArrayBuffer | ArrayBufferView;
}

export type FrameRendererPath = 'webgl' | 'videoframe' | '2d';

export interface FrameRenderer {
  /** Draws the frame, sizing the canvas to it; false while a lost WebGL context draws nothing. */
  draw(frame: BgraFrame): boolean;
  /** The path in use. */
  readonly path: FrameRendererPath;
  /** Frees what the path holds; draw throws afterwards. */
  dispose(): void;
}

/** A renderer on the fastest path the browser offers, or on `prefer`. */
export function createFrameRenderer(
  canvas: HTMLCanvasElement | OffscreenCanvas,
  options?: { prefer?: FrameRendererPath },
): FrameRenderer;
