// Compiled with tsc --noEmit (tsconfig.renderer.json) against the frame
// renderer's declarations, imported by the name a page uses.
import { createFrameRenderer, FrameRenderer, FrameRendererPath, PixelLayout } from 'orvanel-video-backend/frame-renderer';
import { followStream, StreamFollower, StreamFrame } from 'orvanel-video-backend/page-follower';

const renderer: FrameRenderer = createFrameRenderer(new OffscreenCanvas(1, 1), { prefer: 'webgl' });
const drawn: boolean = renderer.draw({ width: 2, height: 1, pixels: new Uint8Array(8) });
renderer.draw({ width: 2, height: 1, pixels: new ArrayBuffer(8) });
const path: FrameRendererPath = renderer.path;
renderer.dispose();
console.log(drawn, path, createFrameRenderer(document.createElement('canvas')).path);

const layout: PixelLayout = 'rgba-top-down';
const topDown = createFrameRenderer(new OffscreenCanvas(1, 1), { layout });
topDown.draw({ width: 1, height: 1, pixels: new ArrayBuffer(4), layout: 'bgra-bottom-up' });
const video = { follow: (index: number): void => console.log(index) };
followStream(video, 0, { key: 'video', window }).then((stream: StreamFollower) => {
  const frame: StreamFrame | null = stream.latestFrame(0);
  if (frame) topDown.draw(frame);
  stream.close();
});
