'use strict';
// The helper's own overhead outside rendering, in instructions (callgrind),
// which stay put on a machine whose wall times do not.
//
//   node bench/helper_overhead.js [--quick]
//
// Runs build/out/helper_overhead under valgrind's callgrind and divides each
// phase's instruction count by its repetitions (see helper_overhead.cpp):
// snapshot building and writing, an event-loop turn with nothing to write,
// engine events folded into the state, command parsing and handling (the
// engine's own part of a command measured separately and taken out). Only
// the calling thread is counted: what a command sets off in the engine's
// threads is the engine's work, not the helper's.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const common = require('./common');
const { artifactPath } = require('../lib/native');

const count = common.quick ? 50 : 200;
const commandsPerRound = 6;  // the lines in helper_overhead.cpp

function readDumps(dir) {
  const phases = {};
  // Thread 01, the one that runs the phases: the engine's own threads (its
  // core, its scripts) are counted by their own dumps and left out.
  for (const file of fs.readdirSync(dir).filter((name) => /\.\d+-01$/.test(name))) {
    const text = fs.readFileSync(path.join(dir, file), 'utf8');
    const name = /^desc: Trigger: Client Request: (.+)$/m.exec(text);
    const total = /^(?:summary|totals): (\d+)/m.exec(text);
    if (name && total) phases[name[1]] = Number(total[1]) / count;
  }
  return phases;
}

function main() {
  if (spawnSync('valgrind', ['--version']).status !== 0) {
    console.log('helper_overhead: valgrind is not installed (apt-get install valgrind); skipped');
    return;
  }
  let program;
  try {
    program = artifactPath('helper_overhead');
  } catch {
    console.log('helper_overhead: not built (no valgrind headers when the build was configured); skipped');
    return;
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-callgrind-'));
  try {
    const run = spawnSync('valgrind', ['--tool=callgrind', '--separate-threads=yes', `--callgrind-out-file=${path.join(dir, 'cg.out')}`,
      program, String(count)], { env: common.toolEnv(), stdio: ['ignore', 'ignore', 'pipe'], encoding: 'utf8' });
    const log = run.stderr;
    if (run.status !== 0) throw new Error(`helper_overhead failed under callgrind:\n${log}`);
    const lineBytes = Number(/snapshot line: (\d+) bytes/.exec(log)?.[1]);
    const p = readDumps(dir);
    const perCommand = (key) => p[key] / commandsPerRound;
    const result = {
      count,
      snapshotLineBytes: lineBytes,
      instructions: {
        snapshotBody: p['snapshot-body'],
        snapshotWrite: p['snapshot-write'],
        snapshotEmit: p['snapshot-emit'],
        loopTurnClean: p['loop-turn-clean'],
        loopTurnNotDue: p['loop-turn-not-due'],
        eventTimePos: p['event-time-pos'],
        eventTrackList: p['event-track-list'],
        commandParse: perCommand('command-parse'),
        commandHandle: perCommand('command-handle'),
        commandEngine: perCommand('command-engine'),
        commandOwn: perCommand('command-handle') - perCommand('command-engine'),
      },
    };
    const i = result.instructions;
    const f = (v) => Math.round(v).toLocaleString('en-US');
    console.log(`helper_overhead: instructions per operation (callgrind, ${count} repetitions)`);
    console.log(`  snapshot body, ${lineBytes} bytes (8 audio, 16 subtitle tracks, 64 chapters)  ${f(i.snapshotBody)}`);
    console.log(`  snapshot write (one line to stdout)                            ${f(i.snapshotWrite)}`);
    console.log(`  forced snapshot, built and written (maybeEmitSnapshot)         ${f(i.snapshotEmit)}`);
    console.log(`  event-loop turn, state clean                                   ${f(i.loopTurnClean)}`);
    console.log(`  event-loop turn, state dirty but the snapshot not due          ${f(i.loopTurnNotDue)}`);
    console.log(`  engine event: time-pos change                                  ${f(i.eventTimePos)}`);
    console.log(`  engine event: track-list of 25 tracks                          ${f(i.eventTrackList)}`);
    console.log(`  command line parsed                                            ${f(i.commandParse)}`);
    console.log(`  command handled, engine call included                          ${f(i.commandHandle)}`);
    console.log(`  the engine call alone                                          ${f(i.commandEngine)}`);
    console.log(`  command handling, the helper's own part                        ${f(i.commandOwn)}`);
    const file = common.writeResult('helper_overhead', result);
    console.log(`results: ${path.relative(common.root, file)}`);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main();
