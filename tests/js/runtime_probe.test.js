'use strict';
// orvanel_mpv_helper --runtime-probe as the application runs it: one verdict
// line on stdout, exit status 0 or 1, no shared-memory object left behind.
// Needs a working EGL (Mesa's software device will do).
const { describe, it } = require('node:test');
const assert = require('node:assert');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const { helperPath } = require('../../lib/native');

const USABLE = '{"protocol":1,"usable":true,"libmpv":"2.0","renderApi":"egl"}\n';

// The test ring of one probe process, if it is still there. Only the probes
// of this file are looked at: other tests may run probes meanwhile.
function ringLeftBy(pid) {
  return fs.existsSync(`/dev/shm/ompv-fc-runtime-probe-${pid}`);
}

// Runs the helper with the given arguments and extra environment; stdin stays
// open and is never written, so a probe that read it would hang.
function runProbe(args, env = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(helperPath(), args, {
      env: { ...process.env, ...env },
      stdio: ['pipe', 'pipe', 'pipe'],
    });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (chunk) => { stdout += chunk; });
    child.stderr.on('data', (chunk) => { stderr += chunk; });
    const timer = setTimeout(() => child.kill('SIGKILL'), 60000);
    child.on('error', reject);
    child.on('close', (status, signal) => {
      clearTimeout(timer);
      child.stdin.destroy();
      resolve({ pid: child.pid, status, signal, stdout, stderr });
    });
  });
}

describe('orvanel_mpv_helper --runtime-probe', () => {
  it('reports this machine as usable and leaves no ring behind', async () => {
    const result = await runProbe(['--runtime-probe']);
    assert.strictEqual(result.stdout, USABLE, result.stderr);
    assert.strictEqual(result.status, 0);
    assert.strictEqual(ringLeftBy(result.pid), false);
  });

  it('ignores the other options and never reads stdin', async () => {
    const result = await runProbe(['--width', '10', '--mpv-options-stdin', '--runtime-probe',
      '--shm-base', '/ompv-probe-unused']);
    assert.strictEqual(result.stdout, USABLE, result.stderr);
    assert.strictEqual(result.status, 0);
    assert.strictEqual(ringLeftBy(result.pid), false);
  });

  it('runs side by side with another probe', async () => {
    const results = await Promise.all([runProbe(['--runtime-probe']), runProbe(['--runtime-probe'])]);
    assert.notStrictEqual(results[0].pid, results[1].pid);
    for (const result of results) {
      assert.strictEqual(result.stdout, USABLE, result.stderr);
      assert.strictEqual(result.status, 0);
      assert.strictEqual(ringLeftBy(result.pid), false);
    }
  });

  describe('without a usable OpenGL', () => {
    it('reports a context that cannot be created', async () => {
      // Mesa then offers no version as high as the 3.2 core profile asked for.
      const result = await runProbe(['--runtime-probe'], { MESA_GL_VERSION_OVERRIDE: '2.1' });
      assert.strictEqual(result.stdout,
        '{"protocol":1,"usable":false,"reason":"gl-context-create-failed",' +
        '"detail":"failed to create a headless CGL context"}\n');
      assert.strictEqual(result.status, 1);
      assert.strictEqual(ringLeftBy(result.pid), false);
    });

    it('reports a missing display or config', async () => {
      // The EGL dispatcher then finds no vendor library.
      const result = await runProbe(['--runtime-probe'],
        { __EGL_VENDOR_LIBRARY_FILENAMES: '/nonexistent/orvanel-no-vendor.json' });
      assert.strictEqual(result.stdout,
        '{"protocol":1,"usable":false,"reason":"gl-context-create-failed",' +
        '"detail":"no accelerated CGL pixel format"}\n');
      assert.strictEqual(result.status, 1);
      assert.strictEqual(ringLeftBy(result.pid), false);
    });
  });
});
