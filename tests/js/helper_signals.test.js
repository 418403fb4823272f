'use strict';
// The helper signalled as applications and terminals signal it: SIGTERM (what
// child.kill() sends), SIGINT (Ctrl-C reaches the whole process group) and
// SIGHUP (the terminal goes away). Each ends it like quit, mid-playback, and
// no frame ring stays in /dev/shm.
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const { helperPath } = require('../../lib/native');
const { HelperClient } = require('../../lib/helper_client');
const { uniqueShmBase, shmLeftovers } = require('./helper_fixtures');

const TEST_SOURCE = 'av://lavfi:testsrc2=size=320x240:rate=30';
const SIGNAL_NUMBERS = { SIGHUP: 1, SIGINT: 2, SIGTERM: 15 };

// Whether SIGHUP, SIGINT and SIGTERM are blocked in the main thread of `pid`.
function endSignalsBlocked(pid) {
  let status;
  try {
    status = require('node:fs').readFileSync(`/proc/${pid}/status`, 'utf8');
  } catch {
    return false;
  }
  const mask = BigInt(`0x${/^SigBlk:\s*([0-9a-f]+)$/m.exec(status)[1]}`);
  return Object.values(SIGNAL_NUMBERS).every((n) => (mask >> BigInt(n - 1)) & 1n);
}

function isAlive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

// A helper with the options users get (default audio output and hwdec),
// playing, with a frame published into its ring.
async function playingHelper(tag) {
  const base = uniqueShmBase(tag);
  const helper = HelperClient.spawn({ shmBase: base, width: 320, height: 240 });
  helper.load(TEST_SOURCE);
  await helper.waitForSnapshot((s) => s.status === 'playing' && s.positionSeconds > 0.3, 20000);
  assert.deepEqual(shmLeftovers(base), [`${base.slice(1)}-g1`]);
  return { base, helper };
}

describe('helper signals', () => {
  for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
    it(`ends like quit on ${signal} mid-playback: final snapshot, "bye", status 0, no ring`, async () => {
      const { base, helper } = await playingHelper(signal.toLowerCase());
      try {
        const before = helper.events.length;
        process.kill(helper.pid, signal);
        assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
        const tail = helper.events.slice(before);
        assert.deepEqual(tail.slice(-2).map((e) => e.event), ['snapshot', 'bye']);
        assert.equal(tail.at(-2).status, 'playing', 'the final snapshot carries the current status');
        assert.deepEqual(tail.filter((e) => e.event === 'fatal'), []);
        assert.deepEqual(shmLeftovers(base), []);
        assert.deepEqual(helper.badLines, []);
      } finally {
        await helper.close();
      }
    });
  }

  it('ends at once on a second signal during shutdown, still removing the ring', async () => {
    const { base, helper } = await playingHelper('twice');
    try {
      // Both are pending together or the second comes while the first is
      // handled; either way one of them finds the shutdown under way.
      process.kill(helper.pid, 'SIGTERM');
      process.kill(helper.pid, 'SIGHUP');
      const status = await helper.waitForExit();
      assert.ok(status.code === 128 + SIGNAL_NUMBERS.SIGTERM || status.code === 128 + SIGNAL_NUMBERS.SIGHUP,
        JSON.stringify(status));
      assert.equal(helper.events.some((e) => e.event === 'bye'), false);
      assert.deepEqual(shmLeftovers(base), []);
    } finally {
      await helper.close();
    }
  });

  it('leaves no ring when signals come while the ring changes size again and again', async () => {
    // The second signal ends it at once, unlinking the ring of the moment,
    // while the render thread may be making the next one.
    for (let round = 0; round < 6; round += 1) {
      const { base, helper } = await playingHelper(`resizing-${round}`);
      try {
        let big = false;
        const resize = setInterval(() => {
          big = !big;
          helper.size(big ? 640 : 320, big ? 480 : 240);
        }, 2);
        const rings = () => helper.events.filter((e) => e.event === 'shm').length;
        const first = rings();
        while (rings() < first + 2 + round) await new Promise((resolve) => setTimeout(resolve, 5));
        process.kill(helper.pid, 'SIGTERM');
        process.kill(helper.pid, 'SIGHUP');
        const status = await helper.waitForExit();
        clearInterval(resize);
        assert.ok(status.code === 0 || status.code === 128 + SIGNAL_NUMBERS.SIGTERM ||
          status.code === 128 + SIGNAL_NUMBERS.SIGHUP, JSON.stringify(status));
        assert.deepEqual(shmLeftovers(base), [], `round ${round}`);
      } finally {
        await helper.close();
      }
    }
  });

  it('leaves no ring when the Node process owning it exits or is killed without closing it', async () => {
    const client = require.resolve('../../lib/helper_client');
    for (const ending of ['process.exit(0)', "process.kill(process.pid, 'SIGKILL')"]) {
      const base = uniqueShmBase(`owner-${ending.length}`);
      const script = `
        const { HelperClient } = require(${JSON.stringify(client)});
        const helper = HelperClient.spawn({ shmBase: ${JSON.stringify(base)}, width: 320, height: 240 });
        helper.load(${JSON.stringify(TEST_SOURCE)});
        helper.waitForSnapshot((s) => s.status === 'playing', 20000).then(() => {
          console.log(helper.pid);
          ${ending};
        });`;
      const owner = spawn(process.execPath, ['-e', script], { stdio: ['ignore', 'pipe', 'inherit'] });
      let out = '';
      owner.stdout.on('data', (d) => { out += d; });
      await new Promise((resolve) => owner.on('close', resolve));
      const pid = Number(out.trim());
      assert.ok(pid > 0, `${ending}: ${out}`);
      // Its stdin closed with its owner: it ends like quit.
      const deadline = Date.now() + 10000;
      while (Date.now() < deadline && (shmLeftovers(base).length > 0 || isAlive(pid))) {
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
      assert.equal(isAlive(pid), false, ending);
      assert.deepEqual(shmLeftovers(base), [], ending);
    }
  });

  it('ends at once on a signal while it still waits for its options preamble', async () => {
    const base = uniqueShmBase('preamble');
    const child = spawn(helperPath(), ['--shm-base', base, '--mpv-options-stdin'],
      { stdio: ['pipe', 'pipe', 'inherit'] });
    try {
      let output = '';
      child.stdout.on('data', (d) => { output += d; });
      const exited = new Promise((resolve) => child.on('close', (code, sig) => resolve({ code, sig })));
      // Stuck in its read of the preamble; a quit cannot reach it, a signal
      // must. Sent once the signals are blocked (the watch thread then takes
      // it, even if it is not waiting yet), as the process's mask shows.
      const deadline = Date.now() + 20000;
      while (!endSignalsBlocked(child.pid) && Date.now() < deadline) {
        await new Promise((resolve) => setTimeout(resolve, 20));
      }
      assert.ok(endSignalsBlocked(child.pid), 'the helper never blocked its end signals');
      child.kill('SIGTERM');
      assert.deepEqual(await exited, { code: 128 + SIGNAL_NUMBERS.SIGTERM, sig: null });
      assert.equal(output, '');
      assert.deepEqual(shmLeftovers(base), []);
    } finally {
      child.kill('SIGKILL');
    }
  });
});
