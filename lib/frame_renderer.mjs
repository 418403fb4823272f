/**
 * Draws the helper's frames into a canvas, for a page or a worker: no Node
 * APIs, nothing but the web platform.
 *
 * A frame is `{ width, height, pixels, layout? }` as the frame reader copies
 * it: width × 4 bytes per row in an ArrayBuffer or a typed array, laid out as
 * its ring holds them: 'bgra-bottom-up' (the helper's default: BGRA, bottom
 * row first) or 'rgba-top-down' (RGBA, top row first, the helper's
 * `pixelLayout` option). A frame without `layout` has the renderer's
 * (`options.layout`, default 'bgra-bottom-up'). No path walks the pixels in
 * JavaScript except the last resort:
 *
 * - `'webgl'` (WebGL2, else WebGL): the rows are uploaded as they are into an
 *   RGBA texture (`texSubImage2D` while the size holds); for BGRA the shader
 *   swaps blue and red, and the texture coordinates put row 0 where the
 *   frame has it (at the bottom, or at the top).
 * - `'videoframe'`: a `VideoFrame` of format "BGRA" (or "RGBX") over the
 *   rows, drawn into a 2D context, through a transform that turns it upside
 *   down for bottom-up rows.
 * - `'2d'`: top-down RGBA rows go to `putImageData` as they are; BGRA rows
 *   are swapped and turned in a loop first (the last resort).
 *
 * Without `options.prefer`, WebGL is taken when the browser runs it on a GPU,
 * else the 2D path when it has only a software WebGL (no GPU: there WebGL
 * and VideoFrame draw in software too and cost several times the 2D path,
 * bench/frame_renderer.js); with no WebGL at all, 2D for 'rgba-top-down'
 * frames (one copy, nothing else), else VideoFrame, else 2D.
 * `options.prefer` forces a path, software WebGL included. A lost WebGL
 * context draws nothing until the browser restores it; the next frame after
 * that is drawn again.
 * @module frame_renderer
 * @example
 * import { createFrameRenderer } from 'orvanel-video-backend/frame-renderer';
 * const renderer = createFrameRenderer(document.querySelector('canvas'));
 * renderer.draw({ width, height, pixels });
 */

const kBytesPerPixel = 4;
const kLayouts = ['bgra-bottom-up', 'rgba-top-down'];

const kVertexShader = `
attribute vec2 position;
uniform float topDown;
varying vec2 texCoord;
void main() {
  // Row 0 of the texture is the frame's first row: its bottom, kept at the
  // bottom of the canvas (y = -1), or its top, put at the top (y = 1).
  texCoord = position * 0.5 + 0.5;
  texCoord.y = mix(texCoord.y, 1.0 - texCoord.y, topDown);
  gl_Position = vec4(position, 0.0, 1.0);
}`;

const kFragmentShader = `
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D frame;
uniform float topDown;
varying vec2 texCoord;
void main() {
  // Uploaded as RGBA, a BGRA frame's texture holds B, G, R, A: swap on the
  // way out. Top-down frames are RGBA already.
  vec3 texel = texture2D(frame, texCoord).rgb;
  gl_FragColor = vec4(mix(texel.bgr, texel, topDown), 1.0);
}`;

// Sizes the canvas's drawing buffer to the frame; resetting it clears the
// canvas, so only on a change.
function fitCanvas(canvas, width, height) {
  if (canvas.width !== width) canvas.width = width;
  if (canvas.height !== height) canvas.height = height;
}

function compileProgram(gl) {
  const program = gl.createProgram();
  for (const [type, source] of [[gl.VERTEX_SHADER, kVertexShader], [gl.FRAGMENT_SHADER, kFragmentShader]]) {
    const shader = gl.createShader(type);
    gl.shaderSource(shader, source);
    gl.compileShader(shader);
    gl.attachShader(program, shader);
    gl.deleteShader(shader);
  }
  gl.bindAttribLocation(program, 0, 'position');
  gl.linkProgram(program);
  if (!gl.getProgramParameter(program, gl.LINK_STATUS) && !gl.isContextLost()) {
    const log = gl.getProgramInfoLog(program);
    gl.deleteProgram(program);
    throw new Error(`frame renderer: the WebGL program did not link: ${log}`);
  }
  return program;
}

// Program, quad and texture of one context; made again after a lost context.
function createGlResources(gl) {
  const program = compileProgram(gl);
  const quad = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, quad);
  gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([-1, -1, 1, -1, -1, 1, 1, 1]), gl.STATIC_DRAW);
  const texture = gl.createTexture();
  gl.bindTexture(gl.TEXTURE_2D, texture);
  // Frames of any size (WebGL 1 allows no repeat or mipmaps on those); the
  // canvas is the frame's size, so NEAREST samples each texel as it is.
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
  gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
  gl.pixelStorei(gl.UNPACK_FLIP_Y_WEBGL, false);
  gl.pixelStorei(gl.UNPACK_PREMULTIPLY_ALPHA_WEBGL, false);
  gl.pixelStorei(gl.UNPACK_ALIGNMENT, kBytesPerPixel);
  gl.useProgram(program);
  gl.uniform1i(gl.getUniformLocation(program, 'frame'), 0);
  gl.enableVertexAttribArray(0);
  gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
  const topDown = gl.getUniformLocation(program, 'topDown');
  gl.uniform1f(topDown, 0);
  return { program, quad, texture, width: 0, height: 0, topDown, isTopDown: false };
}

function createWebglDrawer(canvas) {
  const attributes = {
    alpha: false, antialias: false, depth: false, stencil: false, premultipliedAlpha: false,
  };
  const gl = canvas.getContext('webgl2', attributes) || canvas.getContext('webgl', attributes);
  if (!gl) return null;
  let resources = null;
  // preventDefault asks the browser to restore the context; until it does,
  // nothing is drawn, and the objects of the lost context are dead.
  const onLost = (event) => {
    event.preventDefault();
    resources = null;
  };
  canvas.addEventListener('webglcontextlost', onLost);
  return {
    path: 'webgl',
    draw(pixels, width, height, topDown) {
      if (gl.isContextLost()) return false;
      if (!resources) resources = createGlResources(gl);
      if (resources.isTopDown !== topDown) {
        gl.uniform1f(resources.topDown, topDown ? 1 : 0);
        resources.isTopDown = topDown;
      }
      fitCanvas(canvas, width, height);
      gl.viewport(0, 0, width, height);
      if (resources.width !== width || resources.height !== height) {
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA, width, height, 0, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
        resources.width = width;
        resources.height = height;
      } else {
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
      }
      gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
      return true;
    },
    dispose() {
      canvas.removeEventListener('webglcontextlost', onLost);
      if (resources && !gl.isContextLost()) {
        gl.deleteTexture(resources.texture);
        gl.deleteBuffer(resources.quad);
        gl.deleteProgram(resources.program);
      }
      resources = null;
    },
  };
}

// RGBX: the frame's alpha is 255 anyway, and a format without alpha is what
// the canvas (alpha: false) holds.
function videoFrameOf(pixels, width, height, topDown) {
  return new VideoFrame(pixels, { format: topDown ? 'RGBX' : 'BGRA', codedWidth: width, codedHeight: height, timestamp: 0 });
}

function createVideoFrameDrawer(canvas) {
  if (typeof VideoFrame !== 'function') return null;
  try {
    videoFrameOf(new Uint8Array(kBytesPerPixel), 1, 1, false).close();
    videoFrameOf(new Uint8Array(kBytesPerPixel), 1, 1, true).close();
  } catch {
    return null;  // no BGRA or RGBX frames from memory in this browser
  }
  const ctx = canvas.getContext('2d', { alpha: false });
  if (!ctx) return null;
  return {
    path: 'videoframe',
    draw(pixels, width, height, topDown) {
      fitCanvas(canvas, width, height);
      const frame = videoFrameOf(pixels, width, height, topDown);
      try {
        // Bottom-up rows upside down: the frame's first row, its bottom,
        // lands at the bottom.
        if (!topDown) ctx.setTransform(1, 0, 0, -1, 0, height);
        ctx.drawImage(frame, 0, 0, width, height);
      } finally {
        ctx.setTransform(1, 0, 0, 1, 0, 0);
        frame.close();
      }
      return true;
    },
    dispose() {},
  };
}

function create2dDrawer(canvas) {
  const ctx = canvas.getContext('2d', { alpha: false });
  if (!ctx) return null;
  let image = null;
  return {
    path: '2d',
    draw(pixels, width, height, topDown) {
      fitCanvas(canvas, width, height);
      if (topDown) {
        // The rows are what ImageData holds: wrapped, not copied; the
        // browser's own copy is the only one.
        const rows = new Uint8ClampedArray(pixels.buffer, pixels.byteOffset, width * height * kBytesPerPixel);
        ctx.putImageData(new ImageData(rows, width, height), 0, 0);
        return true;
      }
      if (!image || image.width !== width || image.height !== height) {
        image = ctx.createImageData(width, height);
      }
      // One 32-bit word per pixel, read little-endian (every machine the
      // helper runs on): 0xAARRGGBB in, 0xAABBGGRR out, rows turned over.
      const aligned = pixels.byteOffset % kBytesPerPixel === 0 ? pixels : pixels.slice();
      const src = new Uint32Array(aligned.buffer, aligned.byteOffset, width * height);
      const dst = new Uint32Array(image.data.buffer);
      for (let y = 0; y < height; y++) {
        let s = (height - 1 - y) * width;
        const end = (y + 1) * width;
        for (let d = y * width; d < end; d++, s++) {
          const v = src[s];
          dst[d] = 0xff000000 | (v & 0xff00) | ((v >>> 16) & 0xff) | ((v & 0xff) << 16);
        }
      }
      ctx.putImageData(image, 0, 0);
      return true;
    },
    dispose() {
      image = null;
    },
  };
}

const kDrawers = { webgl: createWebglDrawer, videoframe: createVideoFrameDrawer, '2d': create2dDrawer };

// Renderers that draw WebGL on the CPU (Chromium's fallback without a GPU,
// Mesa's, Windows'); failIfMajorPerformanceCaveat does not refuse them all.
const kSoftwareRenderer = /SwiftShader|llvmpipe|softpipe|Software|Basic Render/i;

// 'hardware', 'software' or 'none': how this browser runs WebGL, asked once,
// on a canvas of its own (a canvas keeps the first context it gives out).
let webglKind = null;
function probeWebgl() {
  if (webglKind) return webglKind;
  const probe = typeof OffscreenCanvas === 'function' ? new OffscreenCanvas(1, 1)
    : globalThis.document?.createElement('canvas');
  if (!probe) return 'hardware';  // cannot tell: try WebGL on the canvas itself
  const gl = probe.getContext('webgl', { failIfMajorPerformanceCaveat: true });
  if (!gl) {
    webglKind = probe.getContext('webgl') ? 'software' : 'none';
  } else {
    const info = gl.getExtension('WEBGL_debug_renderer_info');
    const renderer = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
    webglKind = kSoftwareRenderer.test(renderer) ? 'software' : 'hardware';
  }
  probe.getContext('webgl')?.getExtension('WEBGL_lose_context')?.loseContext();
  return webglKind;
}

function fastestDrawer(canvas, layout) {
  const kind = probeWebgl();
  if (kind === 'hardware') return createWebglDrawer(canvas) || createVideoFrameDrawer(canvas) || create2dDrawer(canvas);
  if (kind === 'software' || layout === 'rgba-top-down') return create2dDrawer(canvas);
  return createVideoFrameDrawer(canvas) || create2dDrawer(canvas);
}

function checkLayout(layout, what) {
  if (!kLayouts.includes(layout)) {
    throw new TypeError(`${what} must be 'bgra-bottom-up' or 'rgba-top-down', not ${String(layout)}`);
  }
  return layout;
}

// The frame's rows as a Uint8Array of exactly width × height × 4 bytes.
function pixelsOf(frame) {
  const { width, height, pixels } = frame ?? {};
  if (!Number.isInteger(width) || !Number.isInteger(height) || width <= 0 || height <= 0) {
    throw new TypeError('frame.width and frame.height must be positive integers');
  }
  const bytes = width * height * kBytesPerPixel;
  let view = null;
  if (pixels instanceof ArrayBuffer) view = new Uint8Array(pixels, 0, Math.min(bytes, pixels.byteLength));
  else if (ArrayBuffer.isView(pixels)) view = new Uint8Array(pixels.buffer, pixels.byteOffset, Math.min(bytes, pixels.byteLength));
  if (!view) throw new TypeError('frame.pixels must be an ArrayBuffer or a typed array');
  if (view.byteLength < bytes) {
    throw new TypeError(`frame.pixels holds ${view.byteLength} bytes, a ${width}x${height} frame needs ${bytes}`);
  }
  return view;
}

/**
 * @typedef {object} FrameRenderer
 * @property {(frame: {width: number, height: number, pixels: ArrayBuffer | ArrayBufferView,
 *   layout?: 'bgra-bottom-up' | 'rgba-top-down'}) => boolean} draw
 *   draws the frame, sizing the canvas to it; false when nothing could be
 *   drawn (a lost WebGL context, until the browser restores it)
 * @property {'webgl' | 'videoframe' | '2d'} path the path in use
 * @property {() => void} dispose frees what the path holds; draw throws afterwards
 */

/**
 * Makes a renderer for `canvas` on the fastest path the browser offers for
 * the frames' layout (see the module's notes).
 * @param {HTMLCanvasElement | OffscreenCanvas} canvas without a context yet
 *   (a canvas keeps the first kind of context it gives out)
 * @param {{prefer?: 'webgl' | 'videoframe' | '2d', layout?: 'bgra-bottom-up' | 'rgba-top-down'}} [options]
 *   force one path; the layout of the frames to come (default 'bgra-bottom-up'),
 *   which chooses the path and is taken for frames that do not say theirs
 * @returns {FrameRenderer}
 * @throws {TypeError} for a canvas without getContext, an unknown `prefer` or
 *   `layout`, and from draw for a frame of an unknown `layout`
 * @throws {Error} when the preferred path, or every path, is not available
 */
export function createFrameRenderer(canvas, options = {}) {
  if (!canvas || typeof canvas.getContext !== 'function') {
    throw new TypeError('createFrameRenderer needs a canvas or an OffscreenCanvas');
  }
  const { prefer } = options;
  const layout = checkLayout(options.layout ?? 'bgra-bottom-up', 'options.layout');
  let drawer = null;
  if (prefer !== undefined) {
    if (!Object.hasOwn(kDrawers, prefer)) {
      throw new TypeError(`options.prefer must be 'webgl', 'videoframe' or '2d', not ${String(prefer)}`);
    }
    drawer = kDrawers[prefer](canvas);
    if (!drawer) throw new Error(`frame renderer: the ${prefer} path is not available for this canvas`);
  } else {
    drawer = fastestDrawer(canvas, layout);
    if (!drawer) throw new Error('frame renderer: this canvas gives no context to draw with');
  }
  let disposed = false;
  return {
    get path() {
      return drawer.path;
    },
    draw(frame) {
      if (disposed) throw new Error('frame renderer: draw after dispose');
      const pixels = pixelsOf(frame);
      const topDown = (frame.layout === undefined ? layout : checkLayout(frame.layout, 'frame.layout')) === 'rgba-top-down';
      return drawer.draw(pixels, frame.width, frame.height, topDown);
    },
    dispose() {
      if (disposed) return;
      disposed = true;
      drawer.dispose();
    },
  };
}
