/// <reference types="node" />
import type {
  TrackSnapshot, ChapterSnapshot, StatsSnapshot, RecordingSnapshot, PlaybackStatus,
} from './snapshot';

/** A rectangle in window coordinates, origin at the top left; missing values count as 0. */
export interface Bounds {
  x?: number;
  y?: number;
  width?: number;
  height?: number;
}

export interface Playback {
  /** Required, not empty. */
  streamUrl: string;
  title?: string;
  userAgent?: string;
  /** Sent as the HTTP Referer. */
  referer?: string;
  /** Start position in seconds; ignored when negative or not finite. */
  startTime?: number;
  /** HTTP request headers; values that are not strings or numbers are skipped. */
  headers?: Record<string, string | number>;
}

// The same records as the helper's snapshot event, under this module's names.
export type SessionStatus = PlaybackStatus;
/** An audio or subtitle track. */
export type Track = TrackSnapshot;
export type Chapter = ChapterSnapshot;
/** Each key is present only when its value is known. */
export type PlaybackStats = StatsSnapshot;
export type RecordingState = RecordingSnapshot;

/** Keys appear in this order; optional keys are left out when they do not apply. */
export interface SessionSnapshot {
  status: SessionStatus;
  positionSeconds: number;
  durationSeconds: number | null;
  /** 0 to 1. */
  volume: number;
  streamUrl: string;
  selectedAudioTrackId: number | null;
  audioTracks: Track[];
  selectedSubtitleTrackId: number | null;
  subtitleTracks: Track[];
  chapters: Chapter[];
  playbackSpeed: number;
  /** "no" when there is no override. */
  aspectOverride: string;
  stats?: PlaybackStats;
  recording?: RecordingState;
  /** Playback waits for data; the status stays what it was. */
  buffering: boolean;
  /** While buffering: how far the cache has refilled toward resuming, 0 to 99. */
  bufferingPercent?: number;
  /** Why the load failed ("error"), or why the stream was cut short ("ended"). */
  error?: string;
  /** "engine" when the error came from the player itself. */
  errorOrigin?: 'engine';
  rejectedOptionKeys?: string[];
}

export function isSupported(): true;
export function createSession(
  windowHandle: Buffer,
  bounds: Bounds,
  unused?: unknown,
  initialVolume?: number | null,
  /**
   * Engine options "key=value". "stall-timeout=<seconds>" ("no" for none; default 10) is
   * the module's own: a wait for data without progress that long ends the load in error.
   * A "deinterlace" or "vf" option replaces the default deinterlacing.
   */
  extraOptions?: string[],
  /**
   * The URL schemes the session's engine may open, e.g. ['http', 'https']: every file it is
   * about to open and what its demuxer opens on its own. Absent: all.
   */
  options?: SessionOptions,
): string;
/** Options of createSession. */
export interface SessionOptions {
  allowedSchemes?: string[];
}
/** Options of the package's loadPlayback wrapper. */
export interface LoadOptions {
  /** The URL schemes accepted, e.g. ['http', 'https']; a local path counts as "file". Absent: all. */
  allowedSchemes?: string[];
}
/**
 * Throws "URL refused: …", with nothing sent to the player, when the scheme is not allowed
 * (by `options` or the session's own policy); "Header refused: …" for a header that could
 * become two; a TypeError when `streamUrl` is not a non-empty string.
 */
export function loadPlayback(sessionId: string, playback: Playback, options?: LoadOptions): void;
export function setBounds(sessionId: string, bounds: Bounds): void;
export function setPaused(sessionId: string, paused: boolean): void;
export function seek(sessionId: string, seconds: number): void;
export function seekBy(sessionId: string, deltaSeconds: number): void;
export function setVolume(sessionId: string, volume: number): void;
export function setAudioTrack(sessionId: string, trackId: number): void;
export function setSubtitleTrack(sessionId: string, trackId: number): void;
export function setSpeed(sessionId: string, speed: number): void;
export function setAspect(sessionId: string, aspect: string): void;
export function startRecording(sessionId: string, targetPath: string): void;
export function stopRecording(sessionId: string): void;
export function getSessionSnapshot(sessionId: string): SessionSnapshot | null;
export function disposeSession(sessionId: string): void;
