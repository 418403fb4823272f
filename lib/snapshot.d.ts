// The parts of a player snapshot that the helper's "snapshot" event and the
// hosted module's getSessionSnapshot() have in common: both players fill them
// from the same engine properties, so they are declared once.

export type PlaybackStatus = 'idle' | 'loading' | 'playing' | 'paused' | 'ended' | 'error' | 'closed';

/** An audio or subtitle track. */
export interface TrackSnapshot {
  id: number;
  title?: string;
  language?: string;
  selected: boolean;
  defaultTrack: boolean;
  forced: boolean;
}

export interface ChapterSnapshot {
  timeSeconds: number;
  title?: string;
}

/** Each key is present only when its value is known. */
export interface StatsSnapshot {
  fps?: number;
  videoBitrateBps?: number;
  audioBitrateBps?: number;
  videoCodec?: string;
  audioCodec?: string;
  /** Channel layout text, such as "stereo". */
  audioChannels?: string;
  audioSampleRateHz?: number;
  container?: string;
  bufferedAheadSeconds?: number;
  droppedFrames?: number;
}

export interface RecordingSnapshot {
  active: boolean;
  targetPath?: string;
  /** UTC, "YYYY-MM-DDTHH:MM:SSZ". */
  startedAt?: string;
  error?: string;
}
