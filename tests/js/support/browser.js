'use strict';
// Chromium from Debian, driven through puppeteer-core, for the tests of what
// runs in a page; and a server on 127.0.0.1 for the pages' files.
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');

const chromiumPath = '/usr/bin/chromium';

/**
 * Starts headless Chromium with a fresh profile. The flags keep it off the
 * network (the machine has none, and Chromium waits on its connections) and
 * without a GPU, as on a build machine; WebGL then runs on SwiftShader, which
 * newer Chromium offers only when asked.
 * @returns {Promise<{browser: import('puppeteer-core').Browser, close: () => Promise<void>}>}
 */
async function launchChromium() {
  const puppeteer = require('puppeteer-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-chromium-'));
  // The sanitizer builds preload their runtime into Node; not into Chromium.
  const env = Object.fromEntries(Object.entries(process.env)
    .filter(([key]) => key !== 'LD_PRELOAD' && !/SAN_OPTIONS$/.test(key)));
  const browser = await puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    userDataDir: profile,
    env,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--enable-unsafe-swiftshader'],
  });
  return {
    browser,
    close: async () => {
      await browser.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

const kTypes = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript' };

/**
 * Serves `routes` (URL path → file path or text) on 127.0.0.1.
 * @param {Record<string, {file?: string, text?: string}>} routes
 * @returns {Promise<{origin: string, close: () => Promise<void>}>}
 */
async function serveRoutes(routes) {
  const server = http.createServer((req, res) => {
    const route = routes[req.url.split('?')[0]];
    if (!route) {
      res.writeHead(404).end();
      return;
    }
    const body = route.text ?? fs.readFileSync(route.file);
    const type = kTypes[path.extname(route.file ?? req.url)] ?? 'application/octet-stream';
    res.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-store' }).end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    origin: `http://127.0.0.1:${server.address().port}`,
    close: () => new Promise((resolve) => {
      server.closeAllConnections();
      server.close(() => resolve());
    }),
  };
}

module.exports = { chromiumPath, launchChromium, serveRoutes };
