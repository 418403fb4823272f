/** What exposeVideo needs of the preload's `require('electron')`. */
export interface PreloadElectron {
  contextBridge: { exposeInMainWorld(apiKey: string, api: any): void };
  ipcRenderer: {
    invoke(channel: string, ...args: any[]): Promise<any>;
    send(channel: string, ...args: any[]): void;
    on(channel: string, listener: (event: any, ...args: any[]) => void): unknown;
  };
}

export interface ExposeVideoOptions {
  /** The page's window[key] (default "video"). */
  key?: string;
  /** The IPC channels' prefix (default "video": video:rings, video:ring, video:status, video:load). */
  channel?: string;
  /** The URL schemes `load` passes on, e.g. ['http', 'https']; absent: every URL. */
  allowedSchemes?: string[];
  /** Where follower ports are posted (default the preload's window). */
  window?: { postMessage(message: any, targetOrigin: string, transfer?: any[]): void };
}

/** What the page finds on window[key]. */
export interface VideoApi {
  /** Throws "URL refused: …" (code ERR_URL_SCHEME_NOT_ALLOWED) for a scheme not allowed; nothing is sent then. */
  load(index: number, url: string): void;
  onStatus(callback: (index: number, status: string) => void): void;
  /** Posts a MessagePort for stream `index` to the page's window (see page-follower's followStream). */
  follow(index: number): void;
}

/** Puts the video API on the page's window[key]; close() stops every follower. */
export function exposeVideo(electron: PreloadElectron, options?: ExposeVideoOptions): { close(): void };

/** The `type` of the message a follower's port arrives in. */
export const kFollowerMessage: 'orvanel-video-follower';
