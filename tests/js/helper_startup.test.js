'use strict';
// The helper's start-up and shutdown as the application sees them: the order
// of the first lines, the preamble's rejections and fatal texts, and the two
// orderly ways out.
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const { helperPath } = require('../../lib/native');
const { startHelper, uniqueShmBase, shmLeftovers } = require('./helper_fixtures');

const IDLE_SNAPSHOT = {
  event: 'snapshot', status: 'idle', positionSeconds: 0, videoWidth: 0, videoHeight: 0,
  durationSeconds: null, volume: 1, streamUrl: '', audioTracks: [], selectedAudioTrackId: null,
  subtitleTracks: [], selectedSubtitleTrackId: null, chapters: [], playbackSpeed: 1,
  aspectOverride: 'no', stats: {}, recording: { active: false }, buffering: false,
};

describe('helper start-up', () => {
  it('writes shm, hello and an idle snapshot in that order, then ends on quit', async () => {
    const base = uniqueShmBase('order');
    const helper = startHelper({ shmBase: base });
    try {
      await helper.waitForSnapshot((s) => s.status === 'idle');
      const [shm, hello, snapshot] = helper.events;
      assert.deepEqual(shm, { event: 'shm', name: `${base}-g1`, width: 320, height: 240, generation: 1 });
      assert.deepEqual(hello, { event: 'hello', pid: helper.pid, protocolVersion: 1 });
      assert.ok(Number.isInteger(hello.pid));
      assert.deepEqual(snapshot, IDLE_SNAPSHOT);
      assert.deepEqual(shmLeftovers(base), [`${base.slice(1)}-g1`]);

      helper.quit();
      assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
      const tail = helper.events.slice(-2);
      assert.equal(tail[0].event, 'snapshot');
      assert.deepEqual(tail[1], { event: 'bye' });
      assert.deepEqual(helper.badLines, []);
      assert.deepEqual(shmLeftovers(base), []);
    } finally {
      await helper.close();
    }
  });

  it('ends like quit when its standard input closes', async () => {
    const base = uniqueShmBase('eof');
    const helper = startHelper({ shmBase: base });
    try {
      await helper.waitFor((e) => e.event === 'hello');
      helper.closeStdin();
      assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
      assert.deepEqual(helper.events.slice(-2).map((e) => e.event), ['snapshot', 'bye']);
      assert.deepEqual(shmLeftovers(base), []);
    } finally {
      await helper.close();
    }
  });

  it('reports a rejected preamble option in one log line before hello and goes on', async () => {
    const base = uniqueShmBase('reject');
    const helper = startHelper({
      shmBase: base,
      mpvOptions: [['no-such-option', 'yes'], ['ao', 'null'], ['cache', '']],
    });
    try {
      await helper.waitForSnapshot((s) => s.status === 'idle');
      const before = helper.events.slice(0, helper.events.findIndex((e) => e.event === 'hello'));
      assert.deepEqual(before.filter((e) => e.event === 'log'), [{
        event: 'log', level: 'warn', prefix: 'orvanel',
        text: 'rejected session option no-such-option: option not found',
      }]);
      assert.equal(helper.events.filter((e) => e.event === 'log' && e.prefix === 'orvanel').length, 1);
    } finally {
      assert.equal((await helper.close()).code, 0);
    }
    assert.deepEqual(shmLeftovers(base), []);
  });

  describe('preamble failures', () => {
    const cases = [
      ['standard input ends first', '', 'mpv-options preamble missing on stdin'],
      ['the first line is empty', '\nmpv-options\n', 'expected the mpv-options preamble on stdin'],
      ['the first line is a command', 'quit\n', 'expected the mpv-options preamble on stdin'],
    ];
    for (const [title, input, error] of cases) {
      it(`is fatal with exit status 1 when ${title}`, () => {
        const base = uniqueShmBase('fatal');
        const run = spawnSync(helperPath(), ['--mpv-options-stdin', '--shm-base', base],
          { input, encoding: 'utf8', timeout: 10000 });
        assert.equal(run.status, 1);
        assert.equal(run.stdout, `${JSON.stringify({ event: 'fatal', error })}\n`);
        assert.deepEqual(shmLeftovers(base), []);
      });
    }
  });
});
