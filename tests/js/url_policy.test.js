'use strict';
// Only the URLs the application allows reach the engine. What HelperClient
// refuses under allowedSchemes never leaves the process; below that, both
// players hold every file their engine opens (the load's URL, playlist
// entries, segments, keys, redirects) to the policy they were started with,
// whoever calls them, and check per-load options and headers. Without a
// policy, a remote playlist's entries stay within the engine's own rule.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { HelperClient } = require('../../lib/helper_client');
const { FrameFollower } = require('../../lib/frame_follower');
const { startHelper, uniqueShmBase, shmLeftovers, sleep } = require('./helper_fixtures');
const { hostWindowForSuite, waitFor, waitForColours } = require('./support/x11');

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

// The hostile side of the policy, served on 127.0.0.1 with the pictures it
// names made in a temporary directory: every picture is solid magenta, which
// nothing the allowed stream shows (solid green) comes near.
async function hostileWorld() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'orvanel-hostile-'));
  const file = (name) => path.join(dir, name);
  const ffmpeg = (...args) => execFileSync('ffmpeg', ['-v', 'error', '-y', ...args]);
  const magenta = 'color=c=0xff00ff:size=160x120:rate=25:duration=2';
  ffmpeg('-f', 'lavfi', '-i', 'color=c=0xff00ff:size=64x64', '-frames:v', '1', file('picture.png'));
  fs.copyFileSync(file('picture.png'), file('entry.png'));
  ffmpeg('-f', 'lavfi', '-i', magenta, '-c:v', 'mpeg2video', '-f', 'mpegts', file('segment.ts'));
  ffmpeg('-f', 'lavfi', '-i', 'color=c=0x00ff00:size=160x120:rate=25:duration=4', '-c:v', 'mpeg4',
    file('green.mkv'));
  // An HLS stream whose key is a local file: its segments come over HTTP.
  fs.writeFileSync(file('key.bin'), Buffer.alloc(16, 7));
  fs.writeFileSync(file('key.info'), `file://${file('key.bin')}\n${file('key.bin')}\n`);
  ffmpeg('-f', 'lavfi', '-i', magenta, '-c:v', 'mpeg2video', '-f', 'hls', '-hls_time', '2',
    '-hls_key_info_file', file('key.info'), '-hls_segment_filename', file('keyed%d.ts'),
    '-hls_playlist_type', 'vod', file('keyed.m3u8'));
  const graph = 'av://lavfi:color=c=0xff00ff:size=96x96:rate=25';
  const hls = (segment) => '#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n' +
    `#EXTINF:2.0,\n${segment}\n#EXT-X-ENDLIST\n`;
  const routes = {
    '/list.m3u': ['audio/x-mpegurl', `#EXTM3U\n${file('entry.png')}\n${graph}\n`],
    '/segments.m3u8': ['application/vnd.apple.mpegurl', hls(`file://${file('segment.ts')}`)],
    '/edl.txt': ['text/plain', `# mpv EDL v0\n${file('picture.png')}\n`],
  };
  const requests = [];
  const server = http.createServer((req, res) => {
    requests.push({ url: req.url, headers: req.headers });
    const route = routes[req.url];
    if (route) return res.writeHead(200, { 'Content-Type': route[0] }).end(route[1]);
    if (req.url === '/redirect') {
      return res.writeHead(302, { Location: `file://${file('picture.png')}` }).end();
    }
    const name = path.basename(req.url.split('?')[0]);
    if (!/^(green\.mkv|keyed\d*\.(m3u8|ts))$/.test(name)) return res.writeHead(404).end();
    const data = fs.readFileSync(file(name));
    return res.writeHead(200, { 'Content-Length': data.length }).end(data);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const base = `http://127.0.0.1:${server.address().port}`;
  const picture = file('picture.png');
  const refused = (scheme) => `URL refused: scheme "${scheme}" is not in allowedSchemes (http)`;
  // [url, what the player says]: a text is the refusal of the URL itself,
  // before anything opens; a pattern the error of a load whose nested open
  // was refused (then the snapshot may name the entry the engine moved to).
  const cases = [
    [picture, refused('file')],
    [`file:${picture}`, refused('file')],
    [path.relative(process.cwd(), picture), refused('file')],
    [`FiLe://${picture}`, refused('file')],
    [` file://${picture}`, refused('file')],
    [`%66ile://${picture}`, refused('file')],
    ['av://lavfi:color=c=0xff00ff', refused('av')],
    ['AV://lavfi:color=c=0xff00ff:size=32x32', refused('av')],
    ['lavfi://color=c=0xff00ff', refused('lavfi')],
    [`edl://${picture}`, refused('edl')],
    ['memory://#EXTM3U', refused('memory')],
    [`data:image/png;base64,${fs.readFileSync(picture).toString('base64')}`, refused('file')],
    [`${base}/list.m3u`, /^URL refused: scheme "(file|av)" is not in allowedSchemes \(http\)$/,
      [file('entry.png'), graph]],
    // libavformat refuses the local segment; the engine then reads the list
    // as a playlist and its hook refuses the entry.
    [`${base}/segments.m3u8`, /^URL refused: scheme "file" is not in allowedSchemes \(http\)$/,
      [file('segment.ts'), `file://${file('segment.ts')}`]],
    // These fail in the engine with its own words: the key is refused, the
    // HTTP client follows no redirect to a file, the EDL's source is unsafe.
    [`${base}/keyed.m3u8`, /./, [`${base}/keyed0.ts`]],
    [`${base}/redirect`, /./],
    [`${base}/edl.txt`, /./, [picture]],
  ];
  return {
    dir, base, cases, requests,
    allowed: `${base}/green.mkv`,
    close: () => {
      server.closeAllConnections();
      server.close();
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

// Whether a snapshot is the end of the case's load: the error of the URL or
// of an entry the engine moved to.
function endsCase(snapshot, [url, said, entries = []]) {
  if (snapshot.status !== 'error') return false;
  if (snapshot.streamUrl !== url && !entries.includes(snapshot.streamUrl)) return false;
  return typeof said === 'string' ? snapshot.error === said : said.test(snapshot.error);
}

// A BGRA frame's pixel at the middle (rows bottom first, so the middle either way).
function middlePixel(frame) {
  const bytes = new Uint8Array(frame.pixels);
  const i = (Math.floor(frame.height / 2) * frame.width + Math.floor(frame.width / 2)) * 4;
  return [bytes[i + 2], bytes[i + 1], bytes[i]];
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
      // ToString would make these relative paths: only strings are URLs.
      for (const url of [5, ['av://lavfi:testsrc2'], new String('http://a/'), '']) {
        assert.throws(() => helper.load(url), { name: 'TypeError', message: 'load takes a URL string' });
        assert.throws(() => helper.subAdd(url), { name: 'TypeError' });
      }
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

  it('holds every file its engine opens to --allowed-schemes, whoever writes its stdin', async () => {
    const world = await hostileWorld();
    const refused = (scheme) => `URL refused: scheme "${scheme}" is not in allowedSchemes (http)`;
    const record = path.join(world.dir, 'record.ts');
    const notAllowed = (name) => `Load option refused: "${name}" is not allowed with allowedSchemes`;
    // [per-load option fields, the refusal]: nothing of these loads is sent.
    const optionCases = [
      [{ 'opt.sub-files': path.join(world.dir, 'picture.png') }, notAllowed('sub-files')],
      [{ 'opt.external-files': path.join(world.dir, 'picture.png') }, notAllowed('external-files')],
      [{ 'opt.audio-files': path.join(world.dir, 'segment.ts') }, notAllowed('audio-files')],
      [{ 'opt.lavfi-complex': 'color=c=0xff00ff[vo]' }, notAllowed('lavfi-complex')],
      [{ 'opt.load-unsafe-playlists': 'yes' }, notAllowed('load-unsafe-playlists')],
      [{ 'opt.stream-record': record }, notAllowed('stream-record')],
      [{ 'opt.start,sub-files': '1' }, 'Load option refused: "start,sub-files" is not an option name'],
      [{ 'opt.user-agent': 'a\r\nX-Injected: 1' }, 'Header refused: "user-agent" holds a line break or NUL'],
      [{ 'opt.referrer': 'a\nX-Injected: 1' }, 'Header refused: "referrer" holds a line break or NUL'],
      [{ 'opt.http-header-fields': 'X-A: 1\r\nX-Injected: 1' },
        'Header refused: "http-header-fields" holds a line break or NUL'],
      [{ 'opt.http-header-fields': 'X-A,X-Injected: 1' },
        'Header refused: "X-A" is not a header with an HTTP token name'],
    ];
    const base = uniqueShmBase('guard');
    const helper = startHelper({ shmBase: base, allowedSchemes: ['http'] });
    const frames = new FrameFollower(helper);
    try {
      await helper.waitFor((e) => e.event === 'hello');
      for (const c of world.cases) {
        // The client refuses first; the helper itself refuses what an
        // application writing its stdin directly sends.
        if (typeof c[1] === 'string') assert.throws(() => helper.load(c[0]), { message: c[1] });
        const ended = helper.waitFor((e) => e.event === 'snapshot' && endsCase(e, c), 15000);
        helper.send('load', { url: c[0] });
        await ended;
      }
      for (const [index, [fields, said]] of optionCases.entries()) {
        const url = `${world.allowed}?option=${index}`;
        const ended = helper.waitFor((e) => e.event === 'snapshot' && endsCase(e, [url, said]));
        helper.send('load', { url, ...fields });
        await ended;
      }
      const logged = helper.waitFor((e) => e.event === 'log' && e.text === refused('file'));
      helper.send('sub-add', { path: path.join(world.dir, 'picture.png') });
      await logged;
      await sleep(500);  // late frames of anything that slipped through
      assert.ok(helper.events.every((e) => e.event !== 'snapshot' || (e.status !== 'playing' && !(e.videoWidth > 0))),
        'something played');
      assert.equal(frames.ring.latestSeq(), 0, 'a frame was published');
      assert.ok(!fs.existsSync(record), 'the recording file was written');
      assert.deepEqual(world.requests.filter((r) => r.url.includes('?option=') || r.headers['x-injected']), []);

      // The allowed stream still plays, with its options.
      helper.send('load', { url: world.allowed, 'opt.user-agent': 'Player/1, policy', 'opt.start': '0' });
      await helper.waitForSnapshot((s) => s.status === 'playing' && s.streamUrl === world.allowed);
      const frame = await waitFor(() => frames.poll(), 'a frame of the allowed stream');
      const [r, g, b] = middlePixel(frame);
      assert.ok(r < 60 && g > 190 && b < 60, `middle pixel ${[r, g, b]}`);
      assert.equal(world.requests.find((q) => q.url === '/green.mkv')?.headers['user-agent'], 'Player/1, policy');
    } finally {
      frames.close();
      await helper.close();
      world.close();
    }
    assert.deepEqual(shmLeftovers(base), []);
  });
});

describe('URL policy of the in-window player', () => {
  const display = hostWindowForSuite(640, 480, '203040');
  let hosted;
  let native;
  let world;
  const sessions = [];
  before(async () => {
    hosted = require('../../lib/hosted_mpv');
    native = require('../../lib/native').loadNative('hosted_mpv');
    world = await hostileWorld();
  });
  after(() => {
    for (const id of sessions) hosted.disposeSession(id);
    world?.close();
  });
  const create = (options) => {
    const id = hosted.createSession(display.host.handle(), { x: 0, y: 0, width: 320, height: 240 }, null, 1,
      ['ao=null'], options);
    sessions.push(id);
    return id;
  };
  // The view's pixels near magenta, on a grid over the video rectangle.
  const magentaShown = async () => {
    const image = await display.host.capture();
    const shown = [];
    for (let y = 10; y < 240; y += 20) {
      for (let x = 10; x < 320; x += 20) {
        const [r, g, b] = image.at(x, y);
        if (r > 160 && b > 160 && g < 100) shown.push([x, y]);
      }
    }
    return shown;
  };

  it('holds every file its engine opens to the session\'s allowedSchemes, whoever calls it', async () => {
    assert.throws(() => create({ allowedSchemes: 'http' }), TypeError);
    assert.throws(() => native.createSession(display.host.handle(), { width: 320, height: 240 }, null, 1, [],
      { allowedSchemes: ['http,file'] }), { name: 'TypeError' });
    const id = create({ allowedSchemes: ['http'] });
    const statuses = new Set();
    const shown = [];
    for (const c of world.cases) {
      const [url, said] = c;
      if (typeof said === 'string') {
        // The wrapper refuses first, and the module itself holds the
        // session's policy for a caller that goes around the wrapper.
        assert.throws(() => hosted.loadPlayback(id, { streamUrl: url }), { message: said });
        assert.throws(() => native.loadPlayback(id, { streamUrl: url }),
          { message: said, code: 'ERR_URL_SCHEME_NOT_ALLOWED' });
        continue;
      }
      native.loadPlayback(id, { streamUrl: url });
      await waitFor(() => {
        const s = hosted.getSessionSnapshot(id);
        statuses.add(s.status);
        return endsCase(s, c);
      }, () => `the end of ${url}: ${JSON.stringify(hosted.getSessionSnapshot(id))}`, 15000);
      shown.push(...await magentaShown());
    }
    await sleep(500);  // late frames of anything that slipped through
    shown.push(...await magentaShown());
    assert.ok(!statuses.has('playing'), `statuses ${[...statuses]}`);
    assert.deepEqual(shown, [], 'magenta in the view');
    assert.equal(hosted.getSessionSnapshot(id).videoWidth ?? 0, 0);

    // Headers that could become two are refused whether or not a policy is set.
    const open = create();
    const headerCases = [
      [{ headers: { 'X-A': 'v\r\nX-Injected: 1' } }, 'Header refused: "X-A" holds a line break or NUL'],
      [{ headers: { 'X-A': 'v\u0000X-Injected: 1' } }, 'Header refused: "X-A" holds a line break or NUL'],
      [{ headers: { 'X-A,X-Injected': '1' } }, 'Header refused: name "X-A,X-Injected" is not an HTTP token'],
      [{ headers: { 'X-A': 'v\\', 'X-Injected': '1' } }, 'Header refused: the value of "X-A" ends in a backslash'],
      [{ userAgent: 'Player\r\nX-Injected: 1' }, 'Header refused: "userAgent" holds a line break or NUL'],
      [{ referer: 'https://a.invalid/\nX-Injected: 1' }, 'Header refused: "referer" holds a line break or NUL'],
    ];
    for (const session of [id, open]) {
      for (const [playback, said] of headerCases) {
        assert.throws(() => native.loadPlayback(session, { streamUrl: `${world.allowed}?headers`, ...playback }),
          { message: said, code: 'ERR_INVALID_HEADER' });
      }
    }
    assert.deepEqual(world.requests.filter((r) => r.url.endsWith('?headers') || r.headers['x-injected']), []);
    hosted.disposeSession(open);  // its view lies over the other's

    // The allowed stream still plays, with its headers.
    native.loadPlayback(id, { streamUrl: world.allowed, headers: { Cookie: 'a=1,b=2', 'X-Path': 'C:\\d' },
      userAgent: 'Player/1' });
    await waitFor(() => hosted.getSessionSnapshot(id).status === 'playing', 'the allowed stream');
    await waitForColours(display.host, [[[[160, 120], [40, 40], [280, 200]], [0, 255, 0]]], 'green in the view');
    const request = world.requests.find((q) => q.url === '/green.mkv');
    assert.deepEqual([request?.headers.cookie, request?.headers['x-path'], request?.headers['user-agent']],
      ['a=1,b=2', 'C:\\d', 'Player/1']);
  });
});
