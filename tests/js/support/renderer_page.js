'use strict';
// The page and the worker the frame renderer's browser tests drive. Frames
// cross as base64 bytes in their layout (field bgra: BGRA bottom-up unless
// the frame says otherwise); what a canvas shows comes back as base64 RGBA,
// read through a 2D canvas in the same task as the draw.

const PAGE_HTML = `<!doctype html><meta charset="utf-8"><title>frame renderer</title>
<body><script type="module" src="/harness.mjs"></script></body>`;

const SHARED = `
const decode = (b64) => Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
const encode = (bytes) => {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text);
};
// Typed arrays with an offset and plain ArrayBuffers, as a page may hold them.
const pixelsOf = (frame, i) => {
  const bytes = decode(frame.bgra);
  if (i % 2) return bytes.slice().buffer;
  const padded = new Uint8Array(bytes.length + 8);
  padded.set(bytes, 8);
  return padded.subarray(8);
};
const readBack = (canvas) => {
  const copy = new OffscreenCanvas(canvas.width, canvas.height).getContext('2d');
  copy.drawImage(canvas, 0, 0);
  return { width: canvas.width, height: canvas.height,
    rgba: encode(copy.getImageData(0, 0, canvas.width, canvas.height).data) };
};
// With a layout, the renderer is made for it; odd frames also say it
// themselves, even ones take the renderer's.
const drawAll = (canvas, prefer, frames, layout) => {
  const renderer = createFrameRenderer(canvas, { ...(prefer ? { prefer } : {}), ...(layout ? { layout } : {}) });
  const shown = frames.map((frame, i) => {
    const own = i % 2 && frame.layout ? { layout: frame.layout } : {};
    const drew = renderer.draw({ width: frame.width, height: frame.height, pixels: pixelsOf(frame, i), ...own });
    return { drew, path: renderer.path, ...readBack(canvas) };
  });
  renderer.dispose();
  return shown;
};
`;

const HARNESS = `import { createFrameRenderer } from '/lib/frame_renderer.mjs';
${SHARED}
window.drawFrames = (prefer, frames, layout) => {
  const canvas = document.createElement('canvas');
  document.body.append(canvas);
  try {
    return drawAll(canvas, prefer, frames, layout);
  } finally {
    canvas.remove();
  }
};

window.drawInWorker = (prefer, frames, layout) => new Promise((resolve, reject) => {
  const worker = new Worker('/worker.mjs', { type: 'module' });
  worker.onmessage = ({ data }) => { worker.terminate(); resolve(data); };
  worker.onerror = (event) => { worker.terminate(); reject(new Error(event.message)); };
  worker.postMessage({ prefer, frames, layout });
});

// Draws, loses the context, draws, restores it, draws the second frame.
window.loseAndRestore = async (first, second) => {
  const canvas = document.createElement('canvas');
  const renderer = createFrameRenderer(canvas, { prefer: 'webgl' });
  renderer.draw({ width: first.width, height: first.height, pixels: pixelsOf(first, 1) });
  const gl = canvas.getContext('webgl2') || canvas.getContext('webgl');
  const control = gl.getExtension('WEBGL_lose_context');
  const event = (name) => new Promise((resolve) => {
    canvas.addEventListener(name, () => resolve(name), { once: true });
    setTimeout(() => resolve('no ' + name), 15000);
  });
  const lost = event('webglcontextlost');
  control.loseContext();
  const events = [await lost];
  // The browser allows a restore only once the lost event's dispatch is over
  // (it reads preventDefault then); this continuation runs inside it.
  await new Promise((resolve) => setTimeout(resolve, 0));
  const drewWhileLost = renderer.draw({ width: first.width, height: first.height, pixels: pixelsOf(first, 1) });
  const restored = event('webglcontextrestored');
  control.restoreContext();
  events.push(await restored);
  const drew = renderer.draw({ width: second.width, height: second.height, pixels: pixelsOf(second, 1) });
  return { events, drewWhileLost, drew, path: renderer.path, ...readBack(canvas) };
};

// What the renderer refuses, as messages.
window.refusals = () => {
  const messages = [];
  const attempt = (fn) => { try { fn(); messages.push('no error'); } catch (err) { messages.push(err.constructor.name + ': ' + err.message); } };
  attempt(() => createFrameRenderer({}));
  attempt(() => createFrameRenderer(document.createElement('canvas'), { prefer: 'gpu' }));
  const used = document.createElement('canvas');
  used.getContext('2d');
  attempt(() => createFrameRenderer(used, { prefer: 'webgl' }));
  attempt(() => createFrameRenderer(document.createElement('canvas'), { layout: 'rgba' }));
  const renderer = createFrameRenderer(document.createElement('canvas'), { prefer: '2d' });
  attempt(() => renderer.draw({ width: 2, height: 2, pixels: new Uint8Array(16), layout: 'bgra-top-down' }));
  attempt(() => renderer.draw({ width: 2, height: 2, pixels: new Uint8Array(15) }));
  attempt(() => renderer.draw({ width: 0, height: 2, pixels: new Uint8Array(16) }));
  attempt(() => renderer.draw({ width: 2, height: 2, pixels: [0, 0, 0, 0] }));
  renderer.dispose();
  attempt(() => renderer.draw({ width: 2, height: 2, pixels: new Uint8Array(16) }));
  return messages;
};
window.ready = true;
`;

const WORKER = `import { createFrameRenderer } from '/lib/frame_renderer.mjs';
${SHARED}
onmessage = ({ data: { prefer, frames, layout } }) => {
  postMessage(drawAll(new OffscreenCanvas(1, 1), prefer, frames, layout));
};
`;

// Stands in for the Electron example's preload (docs/electron.md, the
// package's electron-preload) in that example's own page: loads and statuses
// recorded, a MessageChannel per followed stream with its port posted to the
// window as the preload posts it, frames pushed from the test over it.
// WebGL canvases keep their drawing buffer, so that a tile can be read back
// after it was shown.
const README_PAGE_SHIM = `
const getContext = HTMLCanvasElement.prototype.getContext;
HTMLCanvasElement.prototype.getContext = function (type, attributes) {
  const keep = type.startsWith('webgl') ? { ...attributes, preserveDrawingBuffer: true } : attributes;
  return getContext.call(this, type, keep);
};
window.video = {
  loads: [], ports: [], returned: [], statusCallback: null,
  load(index, url) { this.loads.push([index, url]); },
  onStatus(callback) { this.statusCallback = callback; },
  follow(index) {
    const { port1, port2 } = new MessageChannel();
    port1.onmessage = ({ data }) => { (this.returned[index] ??= []).push(data.byteLength); };
    this.ports[index] = port1;
    window.postMessage({ type: 'orvanel-video-follower', key: 'video', index }, '*', [port2]);
  },
};
window.pushFrame = (index, { seq, width, height, layout, bgra }) => {
  const pixels = Uint8Array.from(atob(bgra), (c) => c.charCodeAt(0)).buffer;
  window.video.ports[index].postMessage({ seq, width, height, layout, pixels }, [pixels]);
  return pixels.byteLength;  // 0 once moved
};
${SHARED.slice(SHARED.indexOf('const encode'), SHARED.indexOf('// Typed arrays'))}
window.readBack = (canvas) => {
  const copy = new OffscreenCanvas(canvas.width, canvas.height).getContext('2d');
  copy.drawImage(canvas, 0, 0);
  return { width: canvas.width, height: canvas.height,
    rgba: encode(copy.getImageData(0, 0, canvas.width, canvas.height).data) };
};
`;

module.exports = { PAGE_HTML, HARNESS, WORKER, README_PAGE_SHIM };
