import { EventEmitter } from 'node:events';
import { ChildProcessWithoutNullStreams } from 'node:child_process';
import type {
  TrackSnapshot, ChapterSnapshot, StatsSnapshot, RecordingSnapshot, PlaybackStatus,
} from './snapshot';

/** The snapshot parts the hosted module shares. */
export type {
  TrackSnapshot, ChapterSnapshot, StatsSnapshot, RecordingSnapshot, PlaybackStatus,
} from './snapshot';

export type FieldValue = string | number | boolean;
export type EngineOptions = Record<string, FieldValue> | Array<[string, FieldValue]>;

export interface HelperOptions {
  /** Base name of the frame ring objects (helper default "/ompv"); different for helpers running at once. */
  shmBase?: string;
  /** Output box width (helper default 1280; below 16 becomes 16). */
  width?: number;
  /** Output box height (helper default 720; below 16 becomes 16). */
  height?: number;
  /** Initial volume, 0 to 1. */
  volume?: number;
  /** Engine "hwdec" value (helper default "auto"). */
  hwdec?: string;
  /** Engine "audio-delay" value; not set when absent. */
  audioDelay?: string;
  /**
   * Session options: the helper is started with --mpv-options-stdin and this preamble.
   * "stall-timeout" (seconds, "no" for none; default 10) is the helper's own: a wait for
   * data without progress that long ends the load in error. A "deinterlace" or "vf"
   * option replaces the default deinterlacing of interlaced frames.
   */
  mpvOptions?: EngineOptions;
  /** Start in runtime probe mode. */
  runtimeProbe?: boolean;
  /**
   * How the frame rings hold pixels (default 'bgra-bottom-up'); 'rgba-top-down' is what a
   * page's ImageData holds. Any other value throws a TypeError.
   */
  pixelLayout?: PixelLayout;
  /** The program to run (default: the built helper). */
  helperPath?: string;
  env?: NodeJS.ProcessEnv;
  /** Keep every event in `events` (default true); long-running programs pass false. */
  keepEvents?: boolean;
  /**
   * The URL schemes load and subAdd accept, e.g. ['http', 'https']; a local path
   * counts as "file". Absent: everything. Set it when URLs come from a page. The
   * helper holds every file its engine opens to it too, and per-load options to
   * an allow-list (docs/security.md).
   */
  allowedSchemes?: string[];
}

export interface HelloEvent { event: 'hello'; pid: number; protocolVersion: number; }
/** How a frame ring holds pixels: B, G, R, A with the bottom row first, or R, G, B, A with the top row first. */
export type PixelLayout = 'bgra-bottom-up' | 'rgba-top-down';
export interface ShmEvent {
  event: 'shm'; name: string; width: number; height: number; generation: number;
  /** Only on rings of the 'rgba-top-down' layout; absent means 'bgra-bottom-up'. */
  layout?: 'rgba-top-down';
}
export interface LogEvent { event: 'log'; level: string; prefix: string; text: string; }
export interface FatalEvent { event: 'fatal'; error: string; }
export interface ByeEvent { event: 'bye'; }

export interface SnapshotEvent {
  event: 'snapshot';
  status: PlaybackStatus;
  positionSeconds: number;
  videoWidth: number;
  videoHeight: number;
  durationSeconds: number | null;
  volume: number;
  streamUrl: string;
  audioTracks: TrackSnapshot[];
  selectedAudioTrackId: number | null;
  subtitleTracks: TrackSnapshot[];
  selectedSubtitleTrackId: number | null;
  chapters: ChapterSnapshot[];
  playbackSpeed: number;
  aspectOverride: string;
  stats: StatsSnapshot;
  recording: RecordingSnapshot;
  /** Playback waits for data (the status stays what it was); a change is sent at once. */
  buffering: boolean;
  /** While buffering: how far the cache has refilled toward resuming, 0 to 99. */
  bufferingPercent?: number;
  /** Why the load failed ("error"), or why the stream was cut short ("ended"). */
  error?: string;
  errorOrigin?: 'engine';
}

export type HelperEvent = HelloEvent | ShmEvent | SnapshotEvent | LogEvent | FatalEvent | ByeEvent;

export interface ExitStatus { code: number | null; signal: string | null; }

/** Percent-encodes `%`, tab, line feed, carriage return and other control bytes. */
export function encodeField(value: FieldValue): string;
/** One command line without its line feed. */
export function commandLine(name: string, fields?: Record<string, FieldValue | undefined>): string;
/** The "mpv-options" preamble line, entries applied in the given order. */
export function buildPreamble(options?: EngineOptions): string;

export class HelperClient extends EventEmitter {
  static spawn(options?: HelperOptions): HelperClient;
  constructor(options?: HelperOptions);

  readonly child: ChildProcessWithoutNullStreams;
  readonly pid: number | undefined;
  /** Every event received, in order. */
  readonly events: HelperEvent[];
  readonly lastSnapshot: SnapshotEvent | null;
  readonly lastShm: ShmEvent | null;
  /** Lines that were not JSON objects. */
  readonly badLines: string[];
  /** The start of the helper's standard error. */
  readonly stderrText: string;
  /** Set once the process has ended. */
  readonly exitStatus: ExitStatus | null;
  /** Resolves once the process has ended. */
  readonly exited: Promise<ExitStatus>;

  on(event: 'event', listener: (event: HelperEvent) => void): this;
  on(event: 'hello', listener: (event: HelloEvent) => void): this;
  on(event: 'shm', listener: (event: ShmEvent) => void): this;
  on(event: 'snapshot', listener: (event: SnapshotEvent) => void): this;
  on(event: 'log', listener: (event: LogEvent) => void): this;
  on(event: 'fatal', listener: (event: FatalEvent) => void): this;
  on(event: 'bye', listener: (event: ByeEvent) => void): this;
  on(event: 'exit', listener: (status: ExitStatus) => void): this;
  on(event: string | symbol, listener: (...args: any[]) => void): this;

  writeLine(line: string): void;
  send(name: string, fields?: Record<string, FieldValue | undefined>): void;
  waitFor(predicate: (event: HelperEvent) => boolean, timeoutMs?: number): Promise<HelperEvent>;
  waitForSnapshot(predicate: (snapshot: SnapshotEvent) => boolean, timeoutMs?: number): Promise<SnapshotEvent>;
  waitForExit(timeoutMs?: number): Promise<ExitStatus>;

  /** The schemes load and subAdd accept; null when all are. */
  readonly allowedSchemes: ReadonlySet<string> | null;
  /** Throws "URL refused: …", sending nothing, when the scheme is not allowed. */
  load(url: string, options?: Record<string, FieldValue>): void;
  seek(seconds: number): void;
  seekBy(seconds: number): void;
  pause(paused: boolean): void;
  volume(value: number): void;
  aid(id: number | string): void;
  sid(id: number | string): void;
  speed(value: number): void;
  aspect(value: string): void;
  subAdd(path: string): void;
  subDelay(seconds: number): void;
  subScale(value: number): void;
  subColor(value: string): void;
  record(path?: string): void;
  size(width: number, height: number): void;
  quit(): void;
  closeStdin(): void;
  close(timeoutMs?: number): Promise<ExitStatus>;
}
