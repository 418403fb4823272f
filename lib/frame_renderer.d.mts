/** How a frame's rows hold the picture: BGRA with the bottom row first, or RGBA with the top row first. */
export type PixelLayout = 'bgra-bottom-up' | 'rgba-top-down';

/** One frame as the frame reader copies it. */
export interface BgraFrame {
  width: number;
  height: number;
  pixels: ArrayBuffer | ArrayBufferView;
  /** The renderer's `options.layout` when absent. */
  layout?: PixelLayout;
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

/** A renderer on the fastest path the browser offers for `layout` (default 'bgra-bottom-up'), or on `prefer`. */
export function createFrameRenderer(
  canvas: HTMLCanvasElement | OffscreenCanvas,
  options?: { prefer?: FrameRendererPath; layout?: PixelLayout },
): FrameRenderer;
