'use strict';
/**
 * Which URLs an application lets reach the engine. The engine opens far more
 * than network streams: local files (a picture from the user's home decodes
 * and its pixels come back), `av://lavfi:` graphs, `edl://` lists and other
 * protocols. An application that plays what a page or a remote source names
 * passes `allowedSchemes` (e.g. `['http', 'https']`) to refuse the rest before
 * anything is sent.
 *
 * The scheme is read as the engine reads it: the characters before the first
 * "://" when all are letters, digits, "+", "-" or ".", in any case. Anything
 * else is a local path to the engine and counts as the scheme "file". The
 * players apply the same rule natively (src/engine/url_policy.h).
 * @module url_policy
 */

const kScheme = /^[A-Za-z0-9+.-]+/;

/**
 * @param {string} url
 * @returns {string} the URL's scheme in lower case, "file" for a local path
 * @example
 * schemeOf('HTTPS://example.invalid/a.m3u8'); // 'https'
 * schemeOf('av://lavfi:testsrc2');             // 'av'
 * schemeOf('/home/me/picture.jpg');            // 'file'
 */
function schemeOf(url) {
  const scheme = kScheme.exec(url);
  if (scheme && url.startsWith('://', scheme[0].length)) return scheme[0].toLowerCase();
  return 'file';
}

/**
 * Reads an `allowedSchemes` option.
 * @param {string[]|undefined} schemes e.g. ['http', 'https']; "https:" is read as "https"
 * @returns {Set<string>|null} null when every URL is allowed (the option is absent)
 * @throws {TypeError} when it is not an array of schemes
 */
function allowedSchemeSet(schemes) {
  if (schemes === undefined) return null;
  if (!Array.isArray(schemes) || !schemes.every((s) => typeof s === 'string' && /^[A-Za-z][A-Za-z0-9+.-]*:?$/.test(s))) {
    throw new TypeError(`allowedSchemes must be an array of URL schemes such as "https", not ${JSON.stringify(schemes)}`);
  }
  return new Set(schemes.map((s) => s.replace(/:$/, '').toLowerCase()));
}

/**
 * Throws when `url` may not be played.
 * @param {string} url
 * @param {Set<string>|null} allowed from allowedSchemeSet; null allows all
 * @throws {Error} 'URL refused: scheme "file" is not in allowedSchemes (http, https)'
 */
function checkUrlAllowed(url, allowed) {
  if (!allowed) return;
  const scheme = schemeOf(String(url));
  if (!allowed.has(scheme)) {
    const error = new Error(`URL refused: scheme "${scheme}" is not in allowedSchemes (${[...allowed].join(', ')})`);
    error.code = 'ERR_URL_SCHEME_NOT_ALLOWED';
    throw error;
  }
}

module.exports = { schemeOf, allowedSchemeSet, checkUrlAllowed };
