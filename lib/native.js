'use strict';
/**
 * Locates the native artifacts of this package: the two Node-API modules and
 * the helper program, all built into one directory by CMake.
 *
 * The directory is `$ORVANEL_OUT_DIR` when set (the tests point it at the
 * build under test, such as the sanitizer build), else `build/out` in the
 * package root: scripts/build in a checkout, the install step
 * (scripts/install.js) in an application's node_modules.
 * @module native
 */
const fs = require('node:fs');
const path = require('node:path');

const packageRoot = path.resolve(__dirname, '..');

/** @returns {string} the directory that holds the built artifacts */
function outDir() {
  if (process.env.ORVANEL_OUT_DIR) return process.env.ORVANEL_OUT_DIR;
  // Inside an Electron app's asar archive no program can run and no module
  // load: packagers put them beside it, in app.asar.unpacked.
  return path.join(packageRoot, 'build', 'out')
    .replace(/([\\/])app\.asar([\\/])/, '$1app.asar.unpacked$2');
}

/**
 * Full path of a built artifact.
 * @param {string} file file name inside the output directory
 * @returns {string}
 * @throws {Error} when the file has not been built
 */
function artifactPath(file) {
  const full = path.join(outDir(), file);
  if (!fs.existsSync(full)) {
    throw new Error(`${file} is not built (looked in ${outDir()}); run scripts/build in a checkout, `
      + '`npm rebuild orvanel-video-backend --foreground-scripts` where it is a dependency');
  }
  return full;
}

/**
 * Loads a Node-API module by name (without the .node suffix).
 * @param {string} name
 * @returns {object} the module's exports
 */
function loadNative(name) {
  return require(artifactPath(`${name}.node`));
}

/**
 * Loads a Node-API module and returns the named functions of it, in the given
 * order: the wrapper modules export exactly the functions they document.
 * @param {string} name module name without the .node suffix
 * @param {string[]} functionNames
 * @returns {Object<string, Function>}
 */
function loadNativeFunctions(name, functionNames) {
  const native = loadNative(name);
  return Object.fromEntries(functionNames.map((key) => [key, native[key]]));
}

/** @returns {string} path of the orvanel_mpv_helper program */
function helperPath() {
  return artifactPath('orvanel_mpv_helper');
}

module.exports = { outDir, artifactPath, loadNative, loadNativeFunctions, helperPath };
