'use strict';
// Shared by the soak and fault tests: how long to soak, a seeded random
// source, and the resource counts of a running process that a leak would
// make grow (threads, file descriptors, resident memory, /dev/shm objects),
// with the checks on them.
const assert = require('node:assert/strict');
const fs = require('node:fs');

/**
 * Seconds a soak runs: ORVANEL_SOAK_SECONDS when set (the long form, e.g.
 * 600), else the short form's `shortSeconds`.
 */
function soakSeconds(shortSeconds) {
  const value = Number(process.env.ORVANEL_SOAK_SECONDS);
  return Number.isFinite(value) && value > 0 ? value : shortSeconds;
}

/** True in the sanitizer builds, whose runtimes keep freed memory quarantined. */
function underSanitizer() {
  return Boolean(process.env.ORVANEL_SANITIZER);
}

/**
 * A small seeded generator (mulberry32), so a failing soak can be replayed
 * with the seed it prints.
 * @returns {{seed: number, next: () => number, int: (lo: number, hi: number) => number,
 *   pick: (items: any[]) => any}}
 */
function randomSource(seed = Number(process.env.ORVANEL_SOAK_SEED) || Date.now() % 0x7fffffff) {
  let state = seed >>> 0;
  const next = () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const int = (lo, hi) => lo + Math.floor(next() * (hi - lo + 1));
  return { seed, next, int, pick: (items) => items[int(0, items.length - 1)] };
}

/**
 * Threads, open descriptors (with what they point at) and resident memory of
 * a running process, from /proc.
 * @returns {{threads: number, fds: number, fdTargets: string[], rssKiB: number}}
 */
function processResources(pid) {
  const fdDir = `/proc/${pid}/fd`;
  const fdTargets = [];
  for (const fd of fs.readdirSync(fdDir)) {
    try {
      fdTargets.push(fs.readlinkSync(`${fdDir}/${fd}`));
    } catch {
      // closed between the listing and the look-up
    }
  }
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return {
    threads: fs.readdirSync(`/proc/${pid}/task`).length,
    fds: fdTargets.length,
    fdTargets: fdTargets.sort(),
    rssKiB: Number(/VmRSS:\s+(\d+) kB/.exec(status)[1]),
  };
}

/** A one-line account of the growth from `before` to `after`, for messages. */
function describeGrowth(before, after) {
  return `threads ${before.threads} -> ${after.threads}, fds ${before.fds} -> ${after.fds}, ` +
    `RSS ${before.rssKiB} -> ${after.rssKiB} KiB; fds now: ${after.fdTargets.join(' ')}`;
}

/**
 * Asserts that threads, descriptors and resident memory grew from `before` to
 * `after` by no more than `limits` ({threads, fds, rssKiB}).
 */
function assertGrowthWithin(before, after, limits) {
  assert.ok(after.threads <= before.threads + limits.threads, describeGrowth(before, after));
  assert.ok(after.fds <= before.fds + limits.fds, describeGrowth(before, after));
  assert.ok(after.rssKiB <= before.rssKiB + limits.rssKiB, describeGrowth(before, after));
}

/** Names in /dev/shm that start with `prefix` (a leading slash is ignored). */
function shmObjects(prefix) {
  const bare = prefix.replace(/^\//, '');
  return fs.readdirSync('/dev/shm').filter((name) => name.startsWith(bare)).sort();
}

/**
 * System V shared-memory segments that process `pid` created and that still
 * exist (MIT-SHM images of the software render path are such segments).
 */
function sysvShmSegments(pid) {
  const lines = fs.readFileSync('/proc/sysvipc/shm', 'utf8').trim().split('\n').slice(1);
  return lines.map((line) => line.trim().split(/\s+/)).filter((fields) => Number(fields[4]) === pid)
    .length;
}

/**
 * Quits the helper and asserts a clean end: exit status 0, "bye" as the last
 * event, and no ring of `shmBase` left in /dev/shm.
 */
async function quitCleanly(helper, shmBase) {
  helper.quit();
  assert.deepEqual(await helper.waitForExit(), { code: 0, signal: null });
  assert.equal(helper.events.at(-1).event, 'bye');
  assert.deepEqual(shmObjects(shmBase), []);
}

module.exports = {
  soakSeconds, underSanitizer, randomSource, processResources, describeGrowth, assertGrowthWithin,
  shmObjects, sysvShmSegments, quitCleanly,
};
