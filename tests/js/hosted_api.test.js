'use strict';
// The hosted module's calling conventions against the real module: argument
// shapes and messages (and the order of their checks), the snapshot's shape,
// creation options and ids, and what disposal leaves. Sessions draw into a
// window on an Xvfb server of this test's own.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startXvfb, openHostWindow, waitFor } = require('./support/x11');

let hosted;
let xvfb;
let host;
const sessions = [];

const notFound = { name: 'Error', message: 'Hosted MPV session not found.' };
const typeError = (message) => ({ name: 'TypeError', message });

function create(options = {}) {
  const id = hosted.createSession(options.handle ?? host.handle(),
    options.bounds ?? { x: 0, y: 0, width: 64, height: 48 }, null,
    'volume' in options ? options.volume : undefined, options.extra ?? ['ao=null']);
  sessions.push(id);
  return id;
}
const numberOf = (id) => Number(id.slice('hosted-mpv-'.length));

before(async () => {
  xvfb = await startXvfb();
  host = await openHostWindow(320, 240, '20c040');
  hosted = require('../../lib/hosted_mpv');
});

after(async () => {
  for (const id of sessions) hosted.disposeSession(id);
  await host.close();
  await xvfb.stop();
});

describe('hosted_mpv', () => {
  it('exports its sixteen functions in order', () => {
    const native = require('../../lib/native').loadNative('hosted_mpv');
    assert.deepEqual(Object.keys(native), [
      'isSupported', 'createSession', 'loadPlayback', 'setBounds', 'setPaused', 'seek', 'seekBy',
      'setVolume', 'setAudioTrack', 'setSubtitleTrack', 'setSpeed', 'setAspect', 'startRecording',
      'stopRecording', 'getSessionSnapshot', 'disposeSession',
    ]);
    assert.deepEqual(Object.keys(hosted), Object.keys(native));
  });

  it('isSupported is true whatever it is given', () => {
    assert.equal(hosted.isSupported(), true);
    assert.equal(hosted.isSupported(1, 2), true);
  });

  describe('createSession', () => {
    it('refuses anything but a buffer and an object', () => {
      const bad = typeError('Expected window handle buffer and bounds object.');
      assert.throws(() => hosted.createSession(), bad);
      assert.throws(() => hosted.createSession(host.handle()), bad);
      assert.throws(() => hosted.createSession('0x1', {}), bad);
      assert.throws(() => hosted.createSession(host.handle(), 5), bad);
      assert.throws(() => hosted.createSession(Buffer.alloc(1), null), bad);  // before the size check
    });

    it('checks the handle before anything else', () => {
      assert.throws(() => hosted.createSession(Buffer.alloc(3), {}),
        { name: 'Error', message: 'Native window handle buffer is too small.' });
      for (const size of [4, 8]) {
        assert.throws(() => hosted.createSession(Buffer.alloc(size), {}),
          { name: 'Error', message: 'Unable to resolve Electron native window handle.' });
      }
      const noWindow = Buffer.alloc(4);
      noWindow.writeUInt32LE(0x3ffffff0);
      assert.throws(() => hosted.createSession(noWindow, {}),
        { name: 'Error', message: 'Unable to resolve the Electron content view.' });
    });

    it('takes 4-byte, 8-byte and longer handles and a function as bounds', () => {
      const eight = Buffer.alloc(16, 0xff);
      eight.writeBigUInt64LE(BigInt(host.id));  // only the first 8 bytes count
      const bounds = () => {};
      bounds.width = 10;
      const id = create({ handle: eight, bounds });
      assert.equal(hosted.getSessionSnapshot(id).status, 'idle');
      assert.match(create({ handle: host.handle() }), /^hosted-mpv-\d+$/);
    });

    it('gives a fresh session exactly the documented keys', () => {
      const id = create({ extra: [] });
      const snapshot = hosted.getSessionSnapshot(id);
      assert.deepEqual(Object.keys(snapshot), [
        'status', 'positionSeconds', 'durationSeconds', 'volume', 'streamUrl',
        'selectedAudioTrackId', 'audioTracks', 'selectedSubtitleTrackId', 'subtitleTracks',
        'chapters', 'playbackSpeed', 'aspectOverride', 'buffering',
      ]);
      assert.deepEqual(snapshot, {
        status: 'idle', positionSeconds: 0, durationSeconds: null, volume: 1, streamUrl: '',
        selectedAudioTrackId: null, audioTracks: [], selectedSubtitleTrackId: null,
        subtitleTracks: [], chapters: [], playbackSpeed: 1, aspectOverride: 'no', buffering: false,
      });
    });

    it('clamps the initial volume and ignores what is not a number', () => {
      const cases = [[1.5, 1], [-0.2, 0], [0.25, 0.25], ['0.5', 1], [null, 1], [undefined, 1],
        [NaN, 1]];
      for (const [given, expected] of cases) {
        const id = create({ volume: given });
        assert.equal(hosted.getSessionSnapshot(id).volume, expected, `initial volume ${given}`);
      }
    });

    it('applies only well-formed extra options and lists the refused keys', () => {
      const id = create({
        extra: ['ao=null', 'cache=yes', '=x', 'demuxer-max-bytes=', 'noequals', 7, 'a=b=c',
          'no-such-option=1', 'stall-timeout=soon', 'stall-timeout=2.5'],
      });
      // Malformed entries are never handed to the player (it would refuse
      // an empty key or value); "a" was handed over with the value "b=c". The
      // stall bound is read by the module, which refuses a value that is no
      // number of seconds.
      assert.deepEqual(hosted.getSessionSnapshot(id).rejectedOptionKeys,
        ['a', 'no-such-option', 'stall-timeout']);
      const plain = create({ extra: 'cache=yes' });  // not an array: no extra options
      assert.equal('rejectedOptionKeys' in hosted.getSessionSnapshot(plain), false);
    });

    it('never gives a number twice, also after failures and disposal', () => {
      const first = create();
      const noWindow = Buffer.alloc(4);
      noWindow.writeUInt32LE(0x3ffffff0);
      assert.throws(() => hosted.createSession(noWindow, {}), /content view/);
      const second = create();
      assert.equal(numberOf(second), numberOf(first) + 2);
      hosted.disposeSession(second);
      assert.equal(numberOf(create()), numberOf(second) + 1);
    });
  });

  describe('call conventions', () => {
    const commands = [
      ['loadPlayback', {}, 'Expected session id and playback object.'],
      ['setBounds', {}, 'Expected session id and bounds object.'],
      ['setPaused', true, 'Expected session id and paused flag.'],
      ['seek', 1, 'Expected session id and seek target.'],
      ['seekBy', 1, 'Expected session id and seek delta.'],
      ['setVolume', 1, 'Expected session id and volume.'],
      ['setAudioTrack', 1, 'Expected session id and audio track id.'],
      ['setSubtitleTrack', 1, 'Expected session id and subtitle track id.'],
      ['setSpeed', 1, 'Expected session id and speed.'],
      ['setAspect', '16:9', 'Expected session id and aspect override.'],
      ['startRecording', '/tmp/x.ts', 'Expected session id and recording target path.'],
    ];

    it('throws each command\'s TypeError for missing or mistyped arguments', () => {
      const id = create();
      for (const [name, good, message] of commands) {
        assert.throws(() => hosted[name](id), typeError(message), name);
        assert.throws(() => hosted[name](), typeError(message), name);
        assert.throws(() => hosted[name](5, good), typeError(message), `${name} numeric id`);
        const wrong = typeof good === 'object' ? 'x' : typeof good === 'number' ? '1' : 1;
        assert.throws(() => hosted[name](id, wrong), typeError(message), `${name} ${wrong}`);
      }
      for (const name of ['stopRecording', 'getSessionSnapshot', 'disposeSession']) {
        assert.throws(() => hosted[name](), typeError('Expected session id.'), name);
        assert.throws(() => hosted[name](5), typeError('Expected session id.'), name);
      }
      assert.throws(() => hosted.setPaused(id, 1), typeError('Expected session id and paused flag.'));
    });

    it('looks the session up after the shape check', () => {
      for (const [name, good] of commands) {
        if (name === 'startRecording') continue;
        assert.throws(() => hosted[name]('hosted-mpv-0', good), notFound, name);
      }
      assert.throws(() => hosted.stopRecording('hosted-mpv-0'), notFound);
      assert.throws(() => hosted.startRecording('hosted-mpv-0', '/tmp/x.ts'), notFound);
      // The lookup comes before the stream URL is read...
      assert.throws(() => hosted.loadPlayback('hosted-mpv-0', {}), notFound);
      // ...but the empty recording path is refused before it.
      assert.throws(() => hosted.startRecording('hosted-mpv-0', ''),
        { name: 'Error', message: 'Recording target path is required.' });
      assert.equal(hosted.getSessionSnapshot('hosted-mpv-0'), null);
      assert.equal(hosted.disposeSession('hosted-mpv-0'), undefined);
    });

    it('refuses a load whose stream URL is not a non-empty string and changes nothing', () => {
      const id = create();
      const before = hosted.getSessionSnapshot(id);
      const native = require('../../lib/native').loadNative('hosted_mpv');
      // ToString would make each of these a relative path the engine opens.
      const playbacks = [{}, { streamUrl: '' }, { streamUrl: null }, { streamUrl: 5 },
        { streamUrl: ['av://lavfi:testsrc2'] }, { streamUrl: new String('picture.png') },
        { streamUrl: { toString: () => 'picture.png' } }];
      for (const load of [hosted.loadPlayback, native.loadPlayback]) {
        for (const playback of playbacks) {
          assert.throws(() => load(id, playback),
            { name: 'TypeError', message: 'Hosted MPV playback requires a stream URL.' },
            JSON.stringify(playback));
        }
      }
      assert.deepEqual(hosted.getSessionSnapshot(id), before);
    });
  });

  describe('commands on an idle session', () => {
    let id;
    before(async () => {
      id = create();
      // Once the player has reported this aspect, its first reports (sent in
      // order, before it) can no longer overwrite the values set below.
      hosted.setAspect(id, '16:9');
      await waitFor(() => hosted.getSessionSnapshot(id).aspectOverride === '1.777778',
        'the player\'s report');
    });

    it('store the value they send at once', () => {
      const snap = () => hosted.getSessionSnapshot(id);
      hosted.setVolume(id, 1.5);
      assert.equal(snap().volume, 1);
      hosted.setVolume(id, -0.2);
      assert.equal(snap().volume, 0);
      hosted.setSpeed(id, 10);
      assert.equal(snap().playbackSpeed, 4);
      hosted.setSpeed(id, 0);
      assert.equal(snap().playbackSpeed, 0.25);
      hosted.setAspect(id, '16:9');
      assert.equal(snap().aspectOverride, '16:9');
      hosted.setAspect(id, '');
      assert.equal(snap().aspectOverride, 'no');
      hosted.seek(id, -5);
      assert.equal(snap().positionSeconds, 0);
      hosted.seek(id, 2);
      assert.equal(snap().positionSeconds, 2);
      // "nan" is no time: the player refuses to queue the command at all.
      assert.throws(() => hosted.seek(id, NaN),
        { name: 'Error', message: 'Failed to seek playback: invalid parameter' });
      assert.equal(snap().positionSeconds, 2);
      hosted.setSubtitleTrack(id, -1);
      assert.equal(snap().selectedSubtitleTrackId, null);
      hosted.setAudioTrack(id, -1);
      assert.equal(snap().selectedAudioTrackId, null);
      hosted.setPaused(id, true);  // nothing loaded: the status stays
      assert.equal(snap().status, 'idle');
      hosted.setPaused(id, false);
      hosted.seekBy(id, 3);
      assert.equal(snap().positionSeconds, 2);  // seekBy waits for the player's report
    });

    it('leave volume and speed alone for NaN, which the player refuses', async () => {
      hosted.setVolume(id, 0.5);
      hosted.setSpeed(id, 1.5);
      hosted.setVolume(id, NaN);
      hosted.setSpeed(id, NaN);
      const snapshot = hosted.getSessionSnapshot(id);
      assert.equal(snapshot.volume, 0.5);
      assert.equal(snapshot.playbackSpeed, 1.5);
      await waitFor(() => hosted.getSessionSnapshot(id).error, 'the refusal');
      // The player's reports of the earlier values may still be on their way;
      // they end with the last value it took.
      await waitFor(() => hosted.getSessionSnapshot(id).volume === 0.5
        && hosted.getSessionSnapshot(id).playbackSpeed === 1.5, 'volume 0.5 and speed 1.5 kept');
    });

    it('show a recording until it is cleared by a load', async () => {
      const other = create();
      hosted.startRecording(other, '/tmp/never-written.ts');
      let recording = hosted.getSessionSnapshot(other).recording;
      assert.deepEqual(Object.keys(recording), ['active', 'targetPath', 'startedAt']);
      assert.equal(recording.active, true);
      assert.match(recording.startedAt, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
      hosted.stopRecording(other);
      recording = hosted.getSessionSnapshot(other).recording;
      assert.deepEqual(recording, { active: false, targetPath: '/tmp/never-written.ts' });
      hosted.loadPlayback(other, { streamUrl: 'av://lavfi:color=c=black:size=16x16' });
      assert.equal('recording' in hosted.getSessionSnapshot(other), false);
    });
  });

  describe('errors', () => {
    it('report a stream that cannot be opened, not as an engine error', async () => {
      const id = create();
      hosted.loadPlayback(id, { streamUrl: '/nonexistent/clip.mkv' });
      const snapshot = await waitFor(() => {
        const s = hosted.getSessionSnapshot(id);
        return s.status === 'error' && s;
      }, 'the error status');
      assert.equal(typeof snapshot.error, 'string');
      assert.notEqual(snapshot.error, '');
      assert.equal('errorOrigin' in snapshot, false);
      assert.equal(snapshot.streamUrl, '/nonexistent/clip.mkv');
    });
  });

  describe('disposeSession', () => {
    it('closes the session once and for all', () => {
      const id = create();
      assert.equal(hosted.disposeSession(id), undefined);
      assert.equal(hosted.disposeSession(id), undefined);
      assert.equal(hosted.getSessionSnapshot(id), null);
      assert.throws(() => hosted.setPaused(id, true), notFound);
      assert.throws(() => hosted.loadPlayback(id, { streamUrl: 'x' }), notFound);
    });

    it('removes the session\'s window', async () => {
      const before = await host.children();
      const id = create();
      assert.equal((await host.children()).length, before.length + 1);
      hosted.disposeSession(id);
      assert.deepEqual(await host.children(), before);
    });
  });
});
