'use strict';
// Runs a build command with its whole output in a log file, and tells the
// user what is going on: one line per target that was actually rebuilt (with
// CMake's percentage and the elapsed time), then the total. On failure the
// tail of the log and the command that retries.
//   node scripts/build_progress.js LOG RETRY -- COMMAND ARGS...
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const readline = require('node:readline');

/**
 * @param {string[]} command program and arguments
 * @param {{log: string, retry: string, say: (line: string) => void, env?: object, cwd?: string}} options
 * @returns {Promise<boolean>} whether the command succeeded
 */
function runWithProgress(command, options) {
  const started = Date.now();
  const elapsed = () => `${Math.round((Date.now() - started) / 1000)} s`;
  fs.mkdirSync(path.dirname(options.log), { recursive: true });
  const log = fs.createWriteStream(options.log);
  return new Promise((resolve) => {
    const child = spawn(command[0], command.slice(1), {
      cwd: options.cwd, env: options.env || process.env, stdio: ['ignore', 'pipe', 'pipe'],
    });
    // A target only gets a line when something of it was compiled or linked:
    // an up-to-date build stays quiet. Jobs interleave, so the work is
    // booked by target name (Makefile generator's wording).
    const worked = new Set();
    let anyWork = false;
    const onLine = (line) => {
      log.write(`${line}\n`);
      const compile = /^\[ *\d+%\] Building \S+ object .*CMakeFiles\/([^/]+)\.dir\//.exec(line);
      const link = /^\[ *\d+%\] Linking .* (?:\S*\/)?(?:lib)?([^/.\s]+)(?:\.\w+)?$/.exec(line);
      if (compile || link) {
        worked.add((compile || link)[1]);
        anyWork = true;
      }
      const built = /^\[ *(\d+)%\] Built target (\S+)/.exec(line);
      if (built && worked.delete(built[2])) options.say(`  [${built[1].padStart(3)}%] ${built[2]} (${elapsed()})`);
    };
    readline.createInterface({ input: child.stdout }).on('line', onLine);
    readline.createInterface({ input: child.stderr }).on('line', onLine);
    const finish = (ok, why) => log.end(() => {
      if (ok) {
        options.say(anyWork ? `built in ${elapsed()}` : `up to date (${elapsed()})`);
      } else {
        const lines = fs.readFileSync(options.log, 'utf8').trimEnd().split('\n');
        process.stderr.write(`${lines.slice(-30).join('\n')}\n`);
        options.say(`the build failed (${why}) after ${elapsed()}; the whole log: ${options.log}`);
        options.say(`retry with: ${options.retry}`);
      }
      resolve(ok);
    });
    child.on('error', (err) => finish(false, err.message));
    child.on('close', (code, signal) => finish(code === 0, signal ? `signal ${signal}` : `exit status ${code}`));
  });
}

module.exports = { runWithProgress };

if (require.main === module) {
  const [log, retry, dashes, ...command] = process.argv.slice(2);
  if (!log || !retry || dashes !== '--' || !command.length) {
    process.stderr.write('usage: build_progress.js LOG RETRY -- COMMAND ARGS...\n');
    process.exit(2);
  }
  runWithProgress(command, { log, retry, say: (line) => process.stderr.write(`${line}\n`) })
    .then((ok) => process.exit(ok ? 0 : 1));
}
