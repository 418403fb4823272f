'use strict';
// Subtitles on rotated video, on both render paths of both players: a
// bottom-centre subtitle (a filled white box drawn by an ASS script) must
// land at the bottom centre of the upright picture for every quarter turn,
// in the helper's ring and on the hosted view's screen.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { HelperClient } = require('../../lib/helper_client');
const { FrameFollower } = require('../../lib/frame_follower');
const { uniqueShmBase, sleep } = require('./helper_fixtures');
const { hostWindowForSuite, waitFor } = require('./support/x11');
const { withRenderer } = require('./support/renderer_choice');

const TURNS = [0, 90, 180, 270];
const BOX_SCRIPT = `[Script Info]
ScriptType: v4.00+
[V4+ Styles]
Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding
Style: Box,Sans,20,&H00FFFFFF,&H00FFFFFF,&H00FFFFFF,&H00FFFFFF,0,0,0,0,100,100,0,0,1,0,0,2,0,0,16,1
[Events]
Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
Dialogue: 0,0:00:00.00,0:01:00.00,Box,,0,0,0,,{\\p1}m 0 0 l 60 0 60 30 0 30{\\p0}
`;

let dir;
let script;
const clips = {};  // turn (clockwise, as the engine applies it) => file

before(() => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-subs-'));
  script = path.join(dir, 'box.ass');
  fs.writeFileSync(script, BOX_SCRIPT);
  const upright = path.join(dir, 'upright.mp4');
  execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'color=c=0x203060:size=640x360:rate=25',
    '-t', '30', '-c:v', 'mpeg4', '-q:v', '5', upright]);
  // ffmpeg's rotate tag is counter-clockwise; the engine turns clockwise.
  for (const turn of TURNS) {
    clips[turn] = path.join(dir, `turn-${turn}.mp4`);
    execFileSync('ffmpeg', ['-v', 'error', '-y', '-i', upright, '-c', 'copy',
      '-metadata:s:v:0', `rotate=${(360 - turn) % 360}`, clips[turn]]);
  }
});

after(() => fs.rmSync(dir, { recursive: true, force: true }));

// Where the white box is, as fractions of the picture: its centre, or null
// when nothing white shows. `at(x, y)` gives [r, g, b] with y from the top.
function boxCentre(at, picture) {
  let sumX = 0;
  let sumY = 0;
  let count = 0;
  for (let y = picture.y; y < picture.y + picture.height; y += 2) {
    for (let x = picture.x; x < picture.x + picture.width; x += 2) {
      const [r, g, b] = at(x, y);
      if (r > 200 && g > 200 && b > 200) {
        sumX += x - picture.x;
        sumY += y - picture.y;
        count += 1;
      }
    }
  }
  if (count < 20) return null;
  return { x: sumX / count / picture.width, y: sumY / count / picture.height };
}

// Bottom centre: across the middle, in the lowest fifth.
function assertBottomCentre(centre, what) {
  assert.ok(centre, `${what}: no subtitle`);
  assert.ok(Math.abs(centre.x - 0.5) < 0.08 && centre.y > 0.8,
    `${what}: subtitle at ${(centre.x * 100).toFixed(0)} % across, ${(centre.y * 100).toFixed(0)} % down`);
}

describe('subtitles on rotated video', () => {
  for (const renderer of ['sw', 'gl']) {
    it(`helper, ${renderer} path: at the bottom centre of the upright ring for every turn`, async () => {
      const helper = HelperClient.spawn({ shmBase: uniqueShmBase(`subs-${renderer}`), width: 640, height: 640,
        mpvOptions: { 'sub-files': script }, env: { ...process.env, ORVANEL_HELPER_RENDERER: renderer } });
      const frames = new FrameFollower(helper);
      try {
        for (const turn of TURNS) {
          helper.load(clips[turn]);
          const [w, h] = turn % 180 ? [360, 640] : [640, 360];
          await helper.waitForSnapshot((s) => s.streamUrl === clips[turn] && s.status === 'playing' &&
            s.videoWidth === w && s.videoHeight === h, 20000);
          const centre = await waitFor(async () => {
            const frame = frames.poll();
            if (!frame || frame.width !== w || frame.height !== h) return null;
            const bytes = new Uint8Array(frame.pixels);
            const at = (x, y) => {
              const i = ((h - 1 - y) * w + x) * 4;  // bottom row first
              return [bytes[i + 2], bytes[i + 1], bytes[i]];
            };
            return boxCentre(at, { x: 0, y: 0, width: w, height: h });
          }, `a subtitle in a ${w}x${h} frame of turn ${turn}`, 15000);
          assertBottomCentre(centre, `turn ${turn}`);
        }
      } finally {
        frames.close();
        await helper.close();
      }
    });
  }

  describe('hosted_mpv', () => {
    const RECT = { x: 40, y: 40, width: 400, height: 400 };
    const hostWindow = hostWindowForSuite(480, 480, '20c040');
    let hosted;
    before(() => {
      hosted = require('../../lib/hosted_mpv');
    });

    for (const renderer of ['sw', 'gl']) {
      it(`${renderer} path: at the bottom centre of the upright picture on screen for every turn`, async () => {
        const id = withRenderer(renderer, () => hosted.createSession(hostWindow.host.handle(), RECT,
          null, 1, [`sub-files=${script}`]));
        try {
          for (const turn of TURNS) {
            hosted.loadPlayback(id, { streamUrl: clips[turn] });
            await waitFor(() => {
              const s = hosted.getSessionSnapshot(id);
              return s.status === 'playing' && s.streamUrl === clips[turn];
            }, `playback of turn ${turn}`, 15000);
            // The picture fitted into the view, pillarboxed or letterboxed.
            const [w, h] = turn % 180 ? [360, 640] : [640, 360];
            const scale = Math.min(RECT.width / w, RECT.height / h);
            const picture = { width: Math.round(w * scale), height: Math.round(h * scale) };
            picture.x = RECT.x + Math.round((RECT.width - picture.width) / 2);
            picture.y = RECT.y + Math.round((RECT.height - picture.height) / 2);
            let last = null;
            const centre = await waitFor(async () => {
              const screen = await hostWindow.host.capture();
              last = boxCentre((x, y) => screen.at(x, y), picture);
              // A frame of the previous file may still show for a moment.
              return last && Math.abs(last.x - 0.5) < 0.08 && last.y > 0.8 ? last : null;
            }, () => `turn ${turn}: subtitle at ${JSON.stringify(last)}`, 15000).catch(() => last);
            assertBottomCentre(centre, `turn ${turn}`);
            await sleep(0);
          }
        } finally {
          hosted.disposeSession(id);
        }
      });
    }
  });
});
