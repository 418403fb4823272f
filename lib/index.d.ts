import * as frameReaderModule from './frame_reader';
import * as hostedMpvModule from './hosted_mpv';

export { HelperClient, buildPreamble, commandLine, encodeField } from './helper_client';
export type {
  HelperOptions, HelperEvent, HelloEvent, ShmEvent, SnapshotEvent, LogEvent, FatalEvent, ByeEvent,
  ExitStatus, TrackSnapshot, ChapterSnapshot, StatsSnapshot, RecordingSnapshot, PlaybackStatus,
  EngineOptions, FieldValue,
} from './helper_client';
export { FrameFollower, Frame } from './frame_follower';
export type { FrameRing, FrameRingInfo, FrameCopy } from './frame_reader';
export { encodeBgraPng } from './png';

/** The hosted_mpv_frame_reader module. */
export const frameReader: typeof frameReaderModule;
/** The hosted_mpv module (loaded on first use). */
export const hostedMpv: typeof hostedMpvModule;

/** The runtime probe's verdict line. */
export interface ProbeVerdict {
  protocol: 1;
  usable: boolean;
  libmpv?: string;
  renderApi?: 'egl' | 'cgl';
  reason?:
    | 'mpv-create-failed'
    | 'mpv-initialize-failed'
    | 'gl-context-create-failed'
    | 'gl-context-bind-failed'
    | 'mpv-render-context-failed'
    | 'shared-memory-create-failed'
    | 'shared-memory-initialize-failed';
  detail?: string;
}

/** Runs `orvanel_mpv_helper --runtime-probe` and resolves with its verdict. */
export function runtimeProbe(options?: {
  helperPath?: string;
  env?: NodeJS.ProcessEnv;
  timeoutMs?: number;
}): Promise<ProbeVerdict>;

/** Path of the built helper program. */
export function helperPath(): string;
/** Directory of the built artifacts. */
export function outDir(): string;
