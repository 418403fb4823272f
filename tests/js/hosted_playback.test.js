'use strict';
// Real playback through the hosted module: a clip made with ffmpeg, played
// from a file and from a local HTTP server, driven by every command.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { startXvfb, openHostWindow, sleep, waitFor } = require('./support/x11');
const { makeClip, makeRotatedClips } = require('./support/media');

let hosted;
let xvfb;
let host;
let media;
let server;
let baseUrl;
let playlist = '';    // what /list.m3u serves
const requests = [];  // [url, headers] of every request the server saw
const stalled = [];   // responses the server holds back
const sessions = [];

function create() {
  const id = hosted.createSession(host.handle(), { x: 0, y: 0, width: 320, height: 240 }, null, 1,
    ['ao=null']);
  sessions.push(id);
  return id;
}

// A new session, playing the clip once it reports so; `playback` adds to the request.
async function createPlaying(playback = {}) {
  const id = create();
  hosted.loadPlayback(id, { streamUrl: media.clip, ...playback });
  await waitFor(statusIs(id, 'playing'), 'playback');
  return id;
}

// A playing session that has recorded into `file` in the media folder for
// 300 ms: [its id, the file's path].
async function playingAndRecording(file) {
  const id = await createPlaying();
  const target = path.join(media.dir, file);
  hosted.startRecording(id, target);
  await sleep(300);
  return [id, target];
}

const snap = (id) => hosted.getSessionSnapshot(id);
const statusIs = (id, status) => () => snap(id).status === status && snap(id);

before(async () => {
  xvfb = await startXvfb();
  host = await openHostWindow(640, 480, '20c040');
  media = await makeClip();
  server = http.createServer((request, response) => {
    requests.push([request.url, request.headers]);
    if (request.url === '/stall') {
      stalled.push(response);
      return;
    }
    if (request.url === '/list.m3u') {
      response.writeHead(200, { 'Content-Type': 'audio/x-mpegurl' }).end(playlist);
      return;
    }
    if (request.url === '/missing.mkv') {
      response.writeHead(404).end('not here');
      return;
    }
    const data = fs.readFileSync(media.clip);
    response.writeHead(200, { 'Content-Type': 'video/x-matroska', 'Content-Length': data.length });
    response.end(data);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  baseUrl = `http://127.0.0.1:${server.address().port}`;
  hosted = require('../../lib/hosted_mpv');
});

after(async () => {
  for (const id of sessions) hosted.disposeSession(id);
  for (const response of stalled) response.destroy();
  server.closeAllConnections();
  await new Promise((resolve) => server.close(resolve));
  media.remove();
  await host.close();
  await xvfb.stop();
});

describe('hosted playback', () => {
  let id;

  it('loads a clip and reports its tracks, chapters and statistics', async () => {
    id = create();
    hosted.loadPlayback(id, { streamUrl: media.clip, title: 'A clip' });
    const loading = snap(id);
    assert.equal(loading.status, 'loading');
    assert.equal(loading.streamUrl, media.clip);
    const playing = await waitFor(() => {
      const s = snap(id);
      return s.status === 'playing' && s.audioTracks.length === 2 && s.chapters.length === 2
        && s.stats?.audioSampleRateHz && s;
    }, 'playback with tracks');
    assert.deepEqual(playing.audioTracks, [
      { id: 1, title: 'English', language: 'eng', selected: true, defaultTrack: true, forced: false },
      { id: 2, title: 'Deutsch', language: 'deu', selected: false, defaultTrack: false, forced: false },
    ]);
    assert.equal(playing.selectedAudioTrackId, 1);
    assert.deepEqual(playing.subtitleTracks, [
      { id: 1, title: 'Francais', language: 'fra', selected: false, defaultTrack: false, forced: false },
    ]);
    assert.deepEqual(playing.chapters, [
      { timeSeconds: 0, title: 'Opening' }, { timeSeconds: 3, title: 'Ending' },
    ]);
    assert.ok(Math.abs(playing.durationSeconds - 8) < 0.2, `duration ${playing.durationSeconds}`);
    const { stats } = playing;
    assert.equal(stats.videoCodec, 'mpeg4');
    assert.equal(stats.audioCodec, 'aac');
    assert.equal(stats.audioChannels, 'mono');
    assert.equal(stats.audioSampleRateHz, 48000);
    assert.equal(stats.container, 'mkv');
    assert.equal('error' in playing, false);
    await waitFor(() => snap(id).stats.fps > 0 && snap(id).stats.droppedFrames !== undefined,
      'frame rate and drops');
    assert.ok(Math.abs(snap(id).stats.fps - 25) < 1);
  });

  it('pauses and resumes', async () => {
    hosted.setPaused(id, true);
    assert.equal(snap(id).status, 'paused');
    await sleep(300);
    const held = snap(id).positionSeconds;
    await sleep(300);
    assert.equal(snap(id).positionSeconds, held);
    assert.equal(snap(id).status, 'paused');
    hosted.setPaused(id, false);
    assert.equal(snap(id).status, 'playing');
    await waitFor(() => snap(id).positionSeconds > held + 0.1, 'the position to move on');
  });

  it('seeks absolutely and relatively', async () => {
    hosted.seek(id, 5);
    assert.equal(snap(id).positionSeconds, 5);
    await waitFor(() => snap(id).positionSeconds >= 5 - 0.05 && snap(id).positionSeconds < 6.5,
      'the player at the new position');
    hosted.seekBy(id, -3);
    await waitFor(() => snap(id).positionSeconds < 4, 'the relative seek');
  });

  it('changes volume, speed, tracks and aspect through the player', async () => {
    hosted.setVolume(id, 0.3);
    hosted.setSpeed(id, 2);
    hosted.setAudioTrack(id, 2);
    hosted.setSubtitleTrack(id, 1);
    hosted.setAspect(id, '4:3');
    let s = snap(id);
    assert.equal(s.volume, 0.3);
    assert.equal(s.playbackSpeed, 2);
    assert.equal(s.selectedAudioTrackId, 2);
    assert.deepEqual(s.audioTracks.map((t) => t.selected), [false, true]);
    assert.equal(s.selectedSubtitleTrackId, 1);
    assert.equal(s.aspectOverride, '4:3');
    // The player confirms in its own words.
    s = await waitFor(() => snap(id).aspectOverride === '1.333333' && snap(id), 'the aspect report');
    await sleep(200);
    s = snap(id);
    assert.equal(s.volume, 0.3);
    assert.equal(s.playbackSpeed, 2);
    assert.equal(s.selectedAudioTrackId, 2);
    assert.equal(s.selectedSubtitleTrackId, 1);
    assert.equal(s.subtitleTracks[0].selected, true);

    hosted.setSubtitleTrack(id, -1);
    hosted.setAspect(id, '');
    hosted.setSpeed(id, 1);
    await sleep(300);
    s = snap(id);
    assert.equal(s.selectedSubtitleTrackId, null);
    assert.equal(s.subtitleTracks[0].selected, false);
    assert.equal(s.aspectOverride, 'no');  // also once the player reported "none"
  });

  it('ends at the end of the stream', async () => {
    hosted.seek(id, 7.5);
    await waitFor(statusIs(id, 'ended'), 'the end');
    hosted.setPaused(id, true);  // ended stays ended
    await sleep(100);
    assert.equal(snap(id).status, 'ended');
    hosted.setPaused(id, false);
  });

  it('plays the next load after an end, and honours a pause the caller asked for', async () => {
    await sleep(300);  // the engine holds the last frame at the end, and does not pause
    assert.equal(snap(id).status, 'ended');
    hosted.loadPlayback(id, { streamUrl: media.clip, startTime: 6 });
    // A new file keeps the last position until the engine reports its own,
    // which may come after "playing" on a slow (sanitized) build.
    await waitFor(() => statusIs(id, 'playing')() && snap(id).positionSeconds < 7.5,
      'playback after the end');
    const from = snap(id).positionSeconds;
    await waitFor(() => snap(id).positionSeconds > from + 0.3, 'the position to move on');
    await waitFor(statusIs(id, 'ended'), 'the end again');

    hosted.setPaused(id, true);  // asked for while ended: carries over to the next load
    hosted.loadPlayback(id, { streamUrl: media.clip });
    await waitFor(statusIs(id, 'paused'), 'a paused load');
    await sleep(300);
    assert.equal(snap(id).status, 'paused');
    hosted.setPaused(id, false);
    await waitFor(statusIs(id, 'playing'), 'playback once resumed');
  });

  it('starts at the given start time', async () => {
    const other = await createPlaying({ startTime: 4 });
    // The first reported position is already past the start time.
    const position = await waitFor(() => snap(other).positionSeconds, 'a position');
    assert.ok(position >= 3.9, `position ${position}`);
    hosted.disposeSession(other);
  });

  it('sends the user agent, referrer and headers to the server', async () => {
    const other = create();
    requests.length = 0;
    hosted.loadPlayback(other, {
      streamUrl: `${baseUrl}/clip.mkv`,
      userAgent: 'OrvanelTest/1.0',
      referer: 'http://referer.test/page',
      headers: {
        Cookie: 'a=1,b=2', 'X-N': 5, Empty: '', Flag: true, 'X-Slash': 'a\\b', 'X-Both': 'p\\,q',
      },
    });
    await waitFor(statusIs(other, 'playing'), 'playback over HTTP');
    const [url, headers] = requests[0];
    assert.equal(url, '/clip.mkv');
    assert.equal(headers['user-agent'], 'OrvanelTest/1.0');
    assert.equal(headers.referer, 'http://referer.test/page');
    assert.equal(headers.cookie, 'a=1,b=2');
    assert.equal(headers['x-n'], '5');
    assert.equal(headers['x-slash'], 'a\\b');
    assert.equal(headers['x-both'], 'p\\,q');
    assert.equal('empty' in headers, false);
    assert.equal('flag' in headers, false);
    hosted.disposeSession(other);
  });

  describe('recording', () => {
    it('records the stream into a file and keeps the path after stopping', async () => {
      const other = await createPlaying();
      const target = path.join(media.dir, 'recording.mkv');
      hosted.startRecording(other, target);
      assert.equal(snap(other).recording.active, true);
      await sleep(800);
      assert.equal(snap(other).recording.active, true);
      assert.equal('error' in snap(other).recording, false);
      hosted.stopRecording(other);
      assert.deepEqual(snap(other).recording, { active: false, targetPath: target });
      await sleep(200);
      assert.ok(fs.statSync(target).size > 0, 'the recording file has data');
      assert.deepEqual(snap(other).recording, { active: false, targetPath: target });
      hosted.disposeSession(other);
    });

    it('ends a recording the player cannot write, and never records the next load into it', async () => {
      const other = await createPlaying();
      const dir = path.join(media.dir, 'not-yet');
      const target = path.join(dir, 'recording.mkv');
      hosted.startRecording(other, target);
      // The player takes the request, then cannot open the file and says so.
      const s = await waitFor(() => snap(other).recording?.error && snap(other), 'the player\'s complaint');
      assert.deepEqual(s.recording, { active: false, targetPath: target, error: 'Failed opening output file.' });
      assert.equal(s.status, 'playing');
      assert.equal('error' in s, false);
      // The folder appears; the next file must still not be recorded.
      fs.mkdirSync(dir);
      hosted.loadPlayback(other, { streamUrl: media.clip });
      await waitFor(statusIs(other, 'playing'), 'the next playback');
      await sleep(1000);
      assert.equal(fs.existsSync(target), false, 'the next file was recorded');
      assert.equal('recording' in snap(other), false);
      hosted.disposeSession(other);
    });

    it('is stopped by a new load before it loads', async () => {
      const [other, target] = await playingAndRecording('before-load.mkv');
      hosted.loadPlayback(other, { streamUrl: media.clip });
      assert.equal('recording' in snap(other), false);
      await waitFor(statusIs(other, 'playing'), 'the second playback');
      assert.equal('recording' in snap(other), false);
      assert.ok(fs.statSync(target).size > 0);
      hosted.disposeSession(other);
    });

    it('is ended by disposal', async () => {
      const [other, target] = await playingAndRecording('disposed.mkv');
      hosted.disposeSession(other);
      assert.ok(fs.statSync(target).size > 0);
    });
  });

  // No ao=null and the default hwdec, on a machine without a sound device or
  // hardware decoders: the engine logs its probing as errors (and the JACK
  // output as fatal) and plays on.
  describe('with the options users get', () => {
    let other;
    let second;
    const settle = async (status, what) => {
      const s = await waitFor(statusIs(other, status), what, 15000);
      await sleep(500);  // lines of the engine arrive after its events
      const later = snap(other);
      assert.equal(later.status, status, what);
      return [s, later];
    };

    before(async () => {
      second = await makeRotatedClips();
      other = hosted.createSession(host.handle(), { x: 0, y: 0, width: 320, height: 240 }, null, 1, []);
      sessions.push(other);
    });
    after(() => second.remove());

    it('surfs five loads in a row, each settling, nothing stale in the error', async () => {
      hosted.loadPlayback(other, { streamUrl: media.clip, startTime: 5 });
      for (const s of await settle('playing', 'the first file')) assert.equal('error' in s, false, s.error);
      await waitFor(statusIs(other, 'ended'), 'the end of the first file', 15000);

      hosted.loadPlayback(other, { streamUrl: second.quarter[0] });
      for (const s of await settle('playing', 'another file after the end')) {
        assert.equal('error' in s, false, s.error);
      }

      hosted.loadPlayback(other, { streamUrl: path.join(media.dir, 'missing.mkv') });
      for (const s of await settle('error', 'a missing file')) assert.ok(s.error, 'an error text');

      hosted.loadPlayback(other, { streamUrl: `${baseUrl}/clip.mkv` });
      for (const s of await settle('playing', 'an HTTP stream')) assert.equal('error' in s, false, s.error);

      hosted.loadPlayback(other, { streamUrl: media.clip });
      for (const s of await settle('playing', 'the file again')) assert.equal('error' in s, false, s.error);
      assert.ok(snap(other).audioTracks.length > 0);
    });

    it('starts sessions side by side, each probing for a sound device at the same moment', async () => {
      // Several rounds: the crash this guards against hit one start in four.
      for (let round = 0; round < 4; round += 1) {
        const pair = [0, 1].map((i) => hosted.createSession(host.handle(),
          { x: 320 * i, y: 240, width: 320, height: 240 }, null, 1, []));
        for (const id of pair) hosted.loadPlayback(id, { streamUrl: media.clip });
        for (const id of pair) {
          await waitFor(() => snap(id).status === 'playing' && snap(id).positionSeconds > 0.3,
            `session ${id} of round ${round} playing`, 15000);
        }
        for (const id of pair) hosted.disposeSession(id);
      }
    });

    it('keeps real failures as errors with text, and none after them once a file plays', async () => {
      const junk = path.join(media.dir, 'junk.mkv');
      // Fixed bytes: fresh random ones now and then look like some format to the player.
      const bytes = Buffer.alloc(64 * 1024);
      let x = 12345;
      for (let i = 0; i < bytes.length; i += 1) {
        x = (Math.imul(x, 1103515245) + 12345) >>> 0;
        bytes[i] = x >>> 24;
      }
      fs.writeFileSync(junk, bytes);
      const failures = [`${baseUrl}/missing.mkv`, junk, path.join(media.dir, 'missing.mkv')];
      for (const url of failures) {
        hosted.loadPlayback(other, { streamUrl: url });
        for (const s of await settle('error', url)) assert.ok(s.error, `an error text for ${url}`);
      }
      // Refused loads right before a good one: their late lines must not land in it.
      for (const url of failures) hosted.loadPlayback(other, { streamUrl: url });
      hosted.loadPlayback(other, { streamUrl: media.clip });
      for (const s of await settle('playing', 'a file after refused loads')) {
        assert.equal('error' in s, false, s.error);
      }
    });
  });

  describe('disposal', () => {
    it('does not wait for a stream that never arrives', async () => {
      const other = create();
      hosted.loadPlayback(other, { streamUrl: `${baseUrl}/stall` });
      await waitFor(() => stalled.length > 0, 'the request');
      assert.equal(snap(other).status, 'loading');
      const started = Date.now();
      hosted.disposeSession(other);
      assert.ok(Date.now() - started < 5000);
      assert.equal(snap(other), null);
      assert.throws(() => hosted.seek(other, 1), { message: 'Hosted MPV session not found.' });
    });

    it('leaves only the second of two loads in a row pending', async () => {
      const other = create();
      hosted.loadPlayback(other, { streamUrl: '/nonexistent/first.mkv' });
      hosted.loadPlayback(other, { streamUrl: media.clip });
      await waitFor(statusIs(other, 'playing'), 'the second load');
      assert.equal(snap(other).streamUrl, media.clip);
      hosted.disposeSession(other);
    });
  });

  describe('only the URLs the application allows', () => {
    it('refuses, with allowedSchemes, a URL of another scheme before the player sees it', async () => {
      const id = create();
      const allowed = { allowedSchemes: ['http', 'https'] };
      for (const [url, scheme] of [[media.clip, 'file'], [`file://${media.clip}`, 'file'], ['av://lavfi:testsrc2', 'av']]) {
        assert.throws(() => hosted.loadPlayback(id, { streamUrl: url }, allowed),
          { message: `URL refused: scheme "${scheme}" is not in allowedSchemes (http, https)` });
      }
      assert.deepEqual([snap(id).status, snap(id).streamUrl], ['idle', '']);
      // An allowed URL plays with the rest of its request.
      hosted.loadPlayback(id, { streamUrl: `${baseUrl}/clip.mkv?policy`, headers: { 'X-Policy': 'kept' } }, allowed);
      await waitFor(statusIs(id, 'playing'), 'the allowed stream');
      const request = requests.find(([url]) => url === '/clip.mkv?policy');
      assert.equal(request?.[1]['x-policy'], 'kept');
      hosted.disposeSession(id);
    });

    it('shows neither entry of a remote playlist naming a local picture and a lavfi graph, by default', async () => {
      const picture = path.join(media.dir, 'picture.png');
      execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'color=c=0xff00ff:size=64x64',
        '-frames:v', '1', picture]);
      const graph = 'av://lavfi:color=c=0xffff00:size=64x64:rate=25';
      playlist = `#EXTM3U\n${picture}\n${graph}\n`;
      const id = hosted.createSession(host.handle(), { x: 320, y: 240, width: 320, height: 240 }, null, 1,
        ['ao=null']);
      sessions.push(id);
      const seen = new Set();
      hosted.loadPlayback(id, { streamUrl: `${baseUrl}/list.m3u` });
      // The engine may refuse both entries before it publishes either path,
      // so the snapshot need not name one: the first refusal, then time for
      // the rest of the list.
      const watch = () => {
        const s = snap(id);
        seen.add(s.status);
        return s.status === 'error';
      };
      await waitFor(watch, 'the refusal of the entries');
      const until = Date.now() + 1500;
      while (Date.now() < until) {
        watch();
        await sleep(20);
      }
      assert.ok(!seen.has('playing'), `statuses ${[...seen]}`);
      const image = await host.capture();
      const shown = [];
      for (let y = 250; y < 470; y += 20) {
        for (let x = 330; x < 630; x += 20) {
          const [r, g, b] = image.at(x, y);
          if (r > 160 && (b > 160 || g > 160)) shown.push([x, y, r, g, b]);
        }
      }
      assert.deepEqual(shown, [], 'magenta or yellow in the view');
    });
  });
});
