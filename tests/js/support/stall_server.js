'use strict';
// An HTTP server on 127.0.0.1 that holds every request without an answer: a
// load from it stays "loading" until the test lets the response go.
const http = require('node:http');

/**
 * @returns {Promise<{url: string, stalled: http.ServerResponse[], close: () => Promise<void>}>}
 *   `stalled`: the responses held so far, oldest first (destroy one to let
 *   its load fail); `close` destroys them all and stops the server
 */
async function startStallServer() {
  const stalled = [];
  const server = http.createServer((request, response) => stalled.push(response));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/stall.mkv`,
    stalled,
    async close() {
      for (const response of stalled) response.destroy();
      server.closeAllConnections();
      await new Promise((resolve) => server.close(resolve));
    },
  };
}

module.exports = { startStallServer };
