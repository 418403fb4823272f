'use strict';
// The hosted module reads ORVANEL_HOSTED_MPV_RENDERER at each creation. The
// tests never add or delete that variable while sessions run: glibc moves the
// environment's array when a variable is added, under the getenv calls of
// the engines' threads (a session's font set-up crashed the process reading
// it). The variable is made here, when a test file loads this one and before
// it has sessions, and afterwards only overwritten; empty is the default.
const initial = process.env.ORVANEL_HOSTED_MPV_RENDERER ?? '';
process.env.ORVANEL_HOSTED_MPV_RENDERER = initial;

/**
 * Returns what `create` (a session's creation) returns, with the renderer
 * variable set to `renderer` ("sw", "gl"; undefined for the default) while
 * it runs.
 */
function withRenderer(renderer, create) {
  process.env.ORVANEL_HOSTED_MPV_RENDERER = renderer ?? initial;
  try {
    return create();
  } finally {
    process.env.ORVANEL_HOSTED_MPV_RENDERER = initial;
  }
}

module.exports = { withRenderer };
