// Compiled with tsc --noEmit (tsconfig.renderer.json) against the frame
// renderer's declarations, imported by the name a page uses.
import { createFrameRenderer, FrameRenderer, FrameRendererPath } from 'orvanel-video-backend/frame-renderer';

const renderer: FrameRenderer = createFrameRenderer(new OffscreenCanvas(1, 1), { prefer: 'webgl' });
const drawn: boolean = renderer.draw({ width: 2, height: 1, pixels: new Uint8Array(8) });
renderer.draw({ width: 2, height: 1, pixels: new ArrayBuffer(8) });
const path: FrameRendererPath = renderer.path;
renderer.dispose();
console.log(drawn, path, createFrameRenderer(document.createElement('canvas')).path);
