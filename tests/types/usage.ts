// Compiled with tsc --noEmit against the package's declarations, so that they
// cannot drift from what the JavaScript exports (the runtime half of the check
// is in tests/js/types.test.js).
import {
  HelperClient, FrameFollower, Frame, SnapshotEvent, ShmEvent, frameReader, hostedMpv, runtimeProbe,
  ProbeVerdict, encodeBgraPng, buildPreamble, commandLine, TrackSnapshot, PlaybackStatus, FrameRing,
} from '../../lib';
import type { SessionSnapshot, Track } from '../../lib/hosted_mpv';
import { exposeVideo } from '../../lib/electron_preload';

async function offscreen(): Promise<void> {
  const helper: HelperClient = HelperClient.spawn({ width: 640, height: 360, mpvOptions: { ao: 'null' } });
  helper.on('shm', (e: ShmEvent) => console.log(e.name, e.width, e.height, e.generation));
  const frames = new FrameFollower(helper);
  helper.load('av://lavfi:testsrc2', { 'user-agent': 'x', start: 1 });
  const playing: SnapshotEvent = await helper.waitForSnapshot((s) => s.status === 'playing');
  const duration: number | null = playing.durationSeconds;
  const fps: number | undefined = playing.stats.fps;
  const waiting: boolean = playing.buffering;
  const fill: number | undefined = playing.bufferingPercent;
  const frame: Frame | null = frames.poll({ includeTorn: false });
  if (frame) {
    const png: Buffer = encodeBgraPng(frame.pixels, frame.width, frame.height, { bottomUp: true });
    console.log(png.length, frame.seq, frame.ageMs, duration, fps, waiting, fill);
  }
  helper.seek(10);
  helper.pause(true);
  helper.size(1280, 720);
  helper.record('/tmp/x.ts');
  frames.close();
  const status = await helper.close();
  console.log(status.code, buildPreamble([['1', 'cache=yes']]), commandLine('seek', { seconds: 2 }));

  const ring = frameReader.open('/ompv-g1');
  const copy = frameReader.copyLatest(new ArrayBuffer(ring.frameBytes));
  if (copy !== null) console.log(copy.seq, copy.torn, frameReader.latestSeq(), frameReader.producerAliveMs());
  frameReader.close();
  // Rings of their own, any number at once.
  const rings: FrameRing[] = ['/ompv-a-g1', '/ompv-b-g1'].map((name) => frameReader.openRing(name));
  for (const r of rings) {
    const got = r.copyLatest(new ArrayBuffer(r.frameBytes));
    console.log(r.width, r.height, r.stride, r.generation, r.latestSeq(), r.producerAliveMs(), got?.seq);
    r.close();
  }
  const guarded = HelperClient.spawn({ allowedSchemes: ['http', 'https'], pixelLayout: 'rgba-top-down' });
  console.log(guarded.allowedSchemes?.has('https'), guarded.lastShm?.layout, ring.layout);
  const into = new ArrayBuffer(ring.frameBytes);
  const moved: Frame | null = new FrameFollower(guarded).poll({ into });
  if (moved) console.log(moved.layout === 'rgba-top-down', moved.pixels === into);

  const exposed = exposeVideo({
    contextBridge: { exposeInMainWorld: (key: string, api: unknown) => console.log(key, api) },
    ipcRenderer: { invoke: async () => [], send: () => undefined, on: () => undefined },
  }, { allowedSchemes: ['https'], key: 'video', channel: 'video' });
  exposed.close();

  const verdict: ProbeVerdict = await runtimeProbe();
  if (!verdict.usable) console.log(verdict.reason, verdict.detail);
}

function hosted(handle: Buffer): void {
  const supported: true = hostedMpv.isSupported();
  const id: string = hostedMpv.createSession(handle, { x: 0, y: 0, width: 640, height: 360 }, undefined, 0.5,
    ['ao=null']);
  hostedMpv.loadPlayback(id, { streamUrl: 'https://example.invalid/a.m3u8', headers: { Cookie: 'a=1' },
    startTime: 5, title: 't', userAgent: 'u', referer: 'r' });
  hostedMpv.loadPlayback(id, { streamUrl: 'https://example.invalid/b.m3u8' }, { allowedSchemes: ['https'] });
  const guarded: string = hostedMpv.createSession(handle, { width: 640, height: 360 }, undefined, undefined,
    undefined, { allowedSchemes: ['https'] });
  hostedMpv.disposeSession(guarded);
  hostedMpv.setBounds(id, { x: 1, y: 2, width: 3, height: 4 });
  hostedMpv.setPaused(id, true);
  hostedMpv.seek(id, 1);
  hostedMpv.seekBy(id, -1);
  hostedMpv.setVolume(id, 0.5);
  hostedMpv.setAudioTrack(id, 1);
  hostedMpv.setSubtitleTrack(id, -1);
  hostedMpv.setSpeed(id, 1.5);
  hostedMpv.setAspect(id, '16:9');
  hostedMpv.startRecording(id, '/tmp/r.ts');
  hostedMpv.stopRecording(id);
  const snapshot: SessionSnapshot | null = hostedMpv.getSessionSnapshot(id);
  if (snapshot) {
    const tracks: Track[] = snapshot.audioTracks;
    // Both players' snapshots share their track and status records.
    const sameTracks: TrackSnapshot[] = tracks;
    const status: PlaybackStatus = snapshot.status;
    console.log(sameTracks.length, status);
    console.log(supported, snapshot.status, tracks.length, snapshot.rejectedOptionKeys?.length);
    console.log(snapshot.buffering === true, snapshot.bufferingPercent ?? 0);
  }
  hostedMpv.disposeSession(id);
}

void offscreen;
void hosted;
