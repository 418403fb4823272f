'use strict';
// One helper playing real media over HTTP from this test, steered through
// every command, with its frames read through the frame reader module.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const reader = require('../../lib/frame_reader');
const {
  makeMedia, serveDirectory, uniqueShmBase, shmLeftovers, startHelper, sleep,
} = require('./helper_fixtures');

// Polls the reader until a frame newer than `afterSeq` arrives.
async function nextFrame(buffer, afterSeq, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  while (Date.now() < deadline) {
    const frame = reader.copyLatest(buffer);
    if (frame && frame.seq > afterSeq) return frame;
    await sleep(10);
  }
  throw new Error(`no frame after ${afterSeq} within ${timeoutMs} ms`);
}

describe('helper playback', () => {
  const base = uniqueShmBase('play');
  let media;
  let server;
  let helper;

  before(async () => {
    media = makeMedia(20);
    server = await serveDirectory(media.dir);
    // Without the cache the engine reads the file as it plays, as it would a
    // live stream, so a recording receives packets as they come.
    helper = startHelper({ shmBase: base, mpvOptions: { ao: 'null', cache: 'no' } });
    await helper.waitForSnapshot((s) => s.status === 'idle');
  });

  after(async () => {
    reader.close();
    if (helper) await helper.close();
    if (server) await server.close();
    if (media) media.cleanup();
  });

  it('loads with per-file options, then reports duration, tracks, chapters and stats', async () => {
    const url = server.url('clip.mkv');
    const loading = helper.waitForSnapshot((s) => s.status === 'loading');
    helper.load(url, { 'user-agent': 'OrvanelTest/1.0, with comma', 'http-header-fields': 'X-Orvanel-Test: 42' });
    assert.equal((await loading).streamUrl, url);
    const playing = await helper.waitForSnapshot((s) => s.status === 'playing' &&
      s.audioTracks.length === 2 && s.chapters.length === 2 && s.durationSeconds !== null &&
      s.stats.fps > 0 && s.videoWidth > 0);

    const request = server.requests.find((r) => r.url === '/clip.mkv');
    assert.ok(request, 'the server saw the clip requested');
    assert.equal(request.headers['user-agent'], 'OrvanelTest/1.0, with comma');
    assert.equal(request.headers['x-orvanel-test'], '42');

    assert.ok(Math.abs(playing.durationSeconds - 20) < 0.2, `duration ${playing.durationSeconds}`);
    assert.equal(playing.videoWidth, 320);
    assert.equal(playing.videoHeight, 240);
    assert.deepEqual(playing.audioTracks, [
      { id: 1, title: 'English', language: 'eng', selected: true, defaultTrack: true, forced: false },
      { id: 2, title: 'Deutsch', language: 'deu', selected: false, defaultTrack: false, forced: false },
    ]);
    assert.equal(playing.selectedAudioTrackId, 1);
    assert.deepEqual(playing.subtitleTracks.map(({ id, title, language, forced }) =>
      ({ id, title, language, forced })), [
      { id: 1, title: 'Subs', language: 'eng', forced: false },
      { id: 2, title: 'Forced', language: 'fra', forced: true },
    ]);
    assert.deepEqual(playing.chapters, [
      { timeSeconds: 0, title: 'Opening' }, { timeSeconds: 10, title: 'Middle' },
    ]);
    assert.equal(playing.stats.container, 'mkv');
    assert.equal(playing.stats.videoCodec, 'mpeg4');
    assert.ok(Math.abs(playing.stats.fps - 25) < 1, `fps ${playing.stats.fps}`);
    assert.equal(playing.error, undefined);
    // The options text went through in one piece: no engine complaint.
    assert.deepEqual(helper.events.filter((e) => e.event === 'log' && e.level !== 'warn'), []);
  });

  it('publishes frames that the reader receives, with growing sequence numbers', async () => {
    const shm = helper.lastShm;
    assert.equal(shm.name.startsWith(`${base}-g`), true);
    const ring = reader.open(shm.name);
    assert.deepEqual([ring.width, ring.height, ring.generation], [shm.width, shm.height, shm.generation]);
    const buffer = new ArrayBuffer(ring.frameBytes);
    const first = await nextFrame(buffer, 0);
    const second = await nextFrame(buffer, first.seq);
    assert.ok(second.seq > first.seq);
    const pixels = new Uint8Array(buffer);
    assert.ok(pixels.some((b) => b !== 0), 'the frame holds a picture');
    assert.ok(reader.producerAliveMs() >= 0 && reader.producerAliveMs() < 1000);
  });

  it('keeps steady playback at about four snapshots per second', async () => {
    await sleep(300);
    const start = helper.events.length;
    await sleep(2000);
    const snapshots = helper.events.slice(start).filter((e) => e.event === 'snapshot');
    assert.ok(snapshots.length >= 4, `${snapshots.length} snapshots`);
    assert.ok(snapshots.length <= 9, `${snapshots.length} snapshots in 2 s`);
    assert.ok(snapshots.every((s) => s.status === 'playing'));
  });

  it('seeks, pauses, and changes volume and speed', async () => {
    helper.seek(12);
    await helper.waitForSnapshot((s) => s.positionSeconds >= 12 && s.positionSeconds < 14);
    helper.seekBy(-4);
    await helper.waitForSnapshot((s) => s.positionSeconds >= 8 && s.positionSeconds < 10);

    helper.pause(true);
    const paused = await helper.waitForSnapshot((s) => s.status === 'paused');
    await sleep(400);
    assert.ok(Math.abs(helper.lastSnapshot.positionSeconds - paused.positionSeconds) < 0.1);
    helper.pause(false);
    await helper.waitForSnapshot((s) => s.status === 'playing');

    helper.volume(0.5);
    await helper.waitForSnapshot((s) => s.volume === 0.5);
    helper.volume(7);
    await helper.waitForSnapshot((s) => s.volume === 1);
    helper.speed(2);
    await helper.waitForSnapshot((s) => s.playbackSpeed === 2);
    helper.speed(0);
    await helper.waitForSnapshot((s) => s.playbackSpeed === 0.25);
    helper.speed(1);
    await helper.waitForSnapshot((s) => s.playbackSpeed === 1);
  });

  it('switches audio and subtitle tracks and the aspect override', async () => {
    helper.aid(2);
    let s = await helper.waitForSnapshot((x) => x.selectedAudioTrackId === 2);
    assert.deepEqual(s.audioTracks.map((t) => t.selected), [false, true]);
    helper.aid(-1);
    s = await helper.waitForSnapshot((x) => x.selectedAudioTrackId === null);
    assert.deepEqual(s.audioTracks.map((t) => t.selected), [false, false]);
    helper.aid(1);
    await helper.waitForSnapshot((x) => x.selectedAudioTrackId === 1);

    helper.sid(1);
    await helper.waitForSnapshot((x) => x.selectedSubtitleTrackId === 1);
    helper.sid(-1);
    await helper.waitForSnapshot((x) => x.selectedSubtitleTrackId === null);

    helper.aspect('16:9');
    s = await helper.waitForSnapshot((x) => x.aspectOverride !== 'no');
    assert.ok(Math.abs(Number.parseFloat(s.aspectOverride) - 16 / 9) < 0.01 || s.aspectOverride === '16:9',
      s.aspectOverride);
    helper.aspect('no');
    await helper.waitForSnapshot((x) => x.aspectOverride === 'no');
  });

  it('adds an external subtitle file and takes subtitle delay, scale and colour', async () => {
    helper.subAdd(media.srt);
    const s = await helper.waitForSnapshot((x) => x.subtitleTracks.length === 3);
    assert.equal(s.subtitleTracks[2].id, 3);
    await helper.waitForSnapshot((x) => x.selectedSubtitleTrackId === 3);
    const before = helper.events.length;
    helper.subDelay(1.5);
    helper.subScale(2);
    helper.subColor('#FFFF0000');
    helper.subDelay(-100);
    await sleep(500);
    const later = helper.events.slice(before);
    assert.deepEqual(later.filter((e) => e.event === 'log' && e.level !== 'warn'), []);
    assert.equal(helper.lastSnapshot.status, 'playing');
    assert.equal(helper.lastSnapshot.error, undefined);
  });

  it('follows a new output box with a new ring generation that the reader can switch to', async () => {
    const old = helper.lastShm;
    const oldBuffer = new ArrayBuffer(old.width * old.height * 4);
    const lastOld = await nextFrame(oldBuffer, 0);
    const shm = helper.waitFor((e) => e.event === 'shm');
    helper.size(640, 360);
    const next = await shm;
    assert.deepEqual(next, { event: 'shm', name: `${base}-g${old.generation + 1}`, width: 480, height: 360,
      generation: old.generation + 1 });
    assert.equal(fs.existsSync(`/dev/shm/${old.name.slice(1)}`), false, 'the old ring is unlinked');
    const ring = reader.open(next.name);
    assert.equal(ring.frameBytes, 480 * 360 * 4);
    const frame = await nextFrame(new ArrayBuffer(ring.frameBytes), 0);
    assert.ok(frame.seq > lastOld.seq, 'sequence numbers continue across rings');

    // Too small a box is ignored.
    helper.size(15, 360);
    await sleep(300);
    assert.equal(helper.lastShm.generation, next.generation);
  });

  it('records the stream into a growing file and stops again', async () => {
    helper.seek(2);
    await helper.waitForSnapshot((x) => x.status === 'playing' && x.positionSeconds < 4);
    const target = path.join(media.dir, 'recording.mkv');
    helper.record(target);
    const s = await helper.waitForSnapshot((x) => x.recording.active);
    assert.equal(s.recording.targetPath, target);
    assert.match(s.recording.startedAt, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
    assert.ok(Math.abs(Date.parse(s.recording.startedAt) - Date.now()) < 10000);
    // The muxer writes in clusters, and a sanitizer build plays slowly: poll
    // for a first size and then for growth rather than sample at fixed times.
    const sizeAfter = async (floor) => {
      const deadline = Date.now() + 8000;
      let size = fs.existsSync(target) ? fs.statSync(target).size : 0;
      while (size <= floor && Date.now() < deadline) {
        await sleep(100);
        size = fs.existsSync(target) ? fs.statSync(target).size : 0;
      }
      return size;
    };
    const size1 = await sizeAfter(0);
    const size2 = await sizeAfter(size1);
    assert.ok(size2 > size1 && size1 > 0, `${size1} then ${size2} bytes`);

    helper.record();
    const stopped = await helper.waitForSnapshot((x) => !x.recording.active);
    assert.deepEqual(stopped.recording, { active: false, targetPath: target });
  });

  it('reports a recording path that cannot be written', async () => {
    const target = path.join(media.dir, 'no-such-dir', 'recording.mkv');
    helper.record(target);
    const s = await helper.waitForSnapshot((x) => x.recording.error !== undefined);
    assert.equal(s.recording.active, false);
    assert.equal(s.recording.startedAt, undefined);
    assert.equal(fs.existsSync(target), false);
    helper.record();
    await helper.waitForSnapshot((x) => x.recording.error === undefined && !x.recording.active);
  });

  it('gives status "error" for a url the engine cannot open, and recovers on the next load', async () => {
    helper.load(server.url('missing.mkv'));
    const failed = await helper.waitForSnapshot((s) => s.status === 'error');
    assert.equal(typeof failed.error, 'string');
    assert.ok(failed.error.length > 0);
    assert.equal(failed.streamUrl, server.url('missing.mkv'));

    helper.load(server.url('clip.mkv'), { start: 18 });
    helper.pause(false);
    // The position of the previous file stays until the engine reports anew.
    const playing = await helper.waitForSnapshot((s) => s.status === 'playing' && s.positionSeconds >= 17.9);
    assert.equal(playing.error, undefined);
  });

  it('reports "ended" at the end of the file', async () => {
    const ended = await helper.waitForSnapshot((s) => s.status === 'ended', 8000);
    assert.ok(ended.positionSeconds > 19, `position ${ended.positionSeconds}`);
  });

  it('ends with a snapshot and "bye" on quit, leaving no shared memory behind', async () => {
    reader.close();
    helper.quit();
    assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
    assert.deepEqual(helper.events.slice(-2).map((e) => e.event), ['snapshot', 'bye']);
    assert.equal(helper.events.at(-2).status, 'ended');
    assert.deepEqual(shmLeftovers(base), []);
    assert.deepEqual(helper.badLines, []);
    assert.equal(helper.events.filter((e) => e.event === 'fatal').length, 0);
  });
});
