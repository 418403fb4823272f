'use strict';
// Only the URLs the application allows reach the helper's engine: what
// HelperClient refuses under allowedSchemes never leaves the process, and
// what the engine opens on its own (a remote playlist's entries) stays within
// the engine's own rule. The in-window player's cases are in
// hosted_playback.test.js.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { HelperClient } = require('../../lib/helper_client');
const { FrameFollower } = require('../../lib/frame_follower');
const { startHelper, uniqueShmBase, shmLeftovers } = require('./helper_fixtures');

// A magenta picture in a temporary directory and a server on 127.0.0.1 whose
// /list.m3u names it and an av://lavfi: graph.
async function unsafePlaylist() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-playlist-'));
  const picture = path.join(dir, 'picture.png');
  execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'color=c=0xff00ff:size=64x64',
    '-frames:v', '1', picture]);
  const graph = 'av://lavfi:color=c=0xffff00:size=64x64:rate=25';
  const list = `#EXTM3U\n${picture}\n${graph}\n`;
  const server = http.createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'audio/x-mpegurl' }).end(list);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/list.m3u`,
    picture,
    graph,
    close: () => {
      server.closeAllConnections();
      server.close();
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

describe('URL policy of the helper', () => {
  let playlist;
  before(async () => { playlist = await unsafePlaylist(); });
  after(() => playlist.close());

  it('refuses, with allowedSchemes, every URL of another scheme and sends nothing', async () => {
    assert.throws(() => new HelperClient({ allowedSchemes: 'https' }), TypeError);
    assert.throws(() => new HelperClient({ allowedSchemes: ['https://'] }), TypeError);
    const base = uniqueShmBase('policy');
    const helper = startHelper({ shmBase: base, allowedSchemes: ['http', 'HTTPS:'] });
    const sent = [];
    const write = helper.child.stdin.write.bind(helper.child.stdin);
    helper.child.stdin.write = (line, ...rest) => { sent.push(line); return write(line, ...rest); };
    try {
      await helper.waitFor((e) => e.event === 'hello');
      const refused = {
        [playlist.picture]: 'file',
        [`file://${playlist.picture}`]: 'file',
        [playlist.graph]: 'av',
        'edl://%3%abc': 'edl',
        'Ytdl://x': 'ytdl',
        // Without "://" the engine reads a path, whatever comes before a colon.
        'http:relative/file.mkv': 'file',
        '-': 'file',
      };
      for (const [url, scheme] of Object.entries(refused)) {
        assert.throws(() => helper.load(url), {
          message: `URL refused: scheme "${scheme}" is not in allowedSchemes (http, https)`,
          code: 'ERR_URL_SCHEME_NOT_ALLOWED',
        });
      }
      assert.throws(() => helper.subAdd(playlist.picture), { code: 'ERR_URL_SCHEME_NOT_ALLOWED' });
      assert.deepEqual(sent, []);
      helper.load(playlist.url.replace('http://', 'HTTP://'));
      assert.equal(sent.length, 1);
      assert.match(sent[0], /^load\turl=HTTP:\/\//);
    } finally {
      await helper.close();
    }
    assert.deepEqual(shmLeftovers(base), []);
  });

  it('shows neither entry of a remote playlist naming a local picture and a lavfi graph, by default', async () => {
    const base = uniqueShmBase('playlist');
    const helper = startHelper({ shmBase: base });
    const frames = new FrameFollower(helper);
    try {
      let refusals = 0;
      const refused = helper.waitFor((e) => e.event === 'log' &&
        /Refusing to load potentially unsafe URL/.test(e.text) && ++refusals === 2);
      helper.load(playlist.url);
      // The engine moves to each entry and refuses it. Which entry the error
      // snapshot names depends on which "path" changes the engine merges, so
      // the two refusals mark the end of the list.
      await refused;
      const last = await helper.waitForSnapshot((s) => s.status === 'error');
      assert.ok(helper.events.every((e) => e.event !== 'snapshot' || (e.status !== 'playing' && !(e.videoWidth > 0))),
        'something played');
      assert.equal(frames.ring.latestSeq(), 0, 'a frame was published');
      assert.ok([playlist.picture, playlist.graph].includes(last.streamUrl), last.streamUrl);
    } finally {
      frames.close();
      await helper.close();
    }
  });
});
