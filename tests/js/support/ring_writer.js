'use strict';
// The ring_writer tool (tests/tools/ring_writer.cpp) as the Node tests drive
// it, and the pattern of the frames it publishes.
const readline = require('node:readline');
const { spawn } = require('node:child_process');
const { artifactPath } = require('../../../lib/native');

// Word i of frame `seq` from ring_writer is (uint32(seq) * 0x9E3779B1 + i) mod 2^32.
// Returns the index of the first wrong word, or -1.
function patternMismatch(buffer, seq, frameBytes) {
  const words = new Uint32Array(buffer, 0, frameBytes / 4);
  const base = Math.imul(seq % 2 ** 32, 0x9e3779b1) >>> 0;
  for (let i = 0; i < words.length; i++) {
    if (words[i] !== ((base + i) >>> 0)) return i;
  }
  return -1;
}

// A ring_writer child: send() writes a command line and resolves with its answer.
class RingWriter {
  constructor() {
    this.child = spawn(artifactPath('ring_writer'), [], { stdio: ['pipe', 'pipe', 'inherit'] });
    this.pending = [];
    this.exited = new Promise((resolve) => this.child.on('exit', resolve));
    this.child.on('exit', () => this.pending.splice(0).forEach((resolve) => resolve('exited')));
    readline.createInterface({ input: this.child.stdout }).on('line', (line) => {
      const resolve = this.pending.shift();
      if (resolve) resolve(line);
    });
  }

  send(command) {
    return new Promise((resolve) => {
      this.pending.push(resolve);
      this.child.stdin.write(`${command}\n`);
    });
  }

  async end() {
    this.child.stdin.end();
    return this.exited;
  }
}

module.exports = { RingWriter, patternMismatch };
