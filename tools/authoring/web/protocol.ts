// Messages between the page and its workers. One worker bundle serves two
// roles: the work worker (check, make, open) that Cancel may terminate, and
// the preview worker that renders the player's pictures on demand.

import type { MakeOptions } from "../core/make.ts";

// Files go to the workers as Blobs, which are passed without copying their
// bytes; the worker reads them.
export interface WorkInputs {
  gif: File;
  wave?: File;
  midi?: File;
  icon?: File;
  description?: string;
}

export type WorkRequest =
  | { type: "make"; job: number; player: Uint8Array; inputs: WorkInputs; options: MakeOptions }
  | { type: "open"; job: number; file: File };

export interface SectionRow {
  kind: string; // "gif", "wave", "midi"
  tag: string;
  offset: number;
  length: number;
  note: string; // "" when the player can use it
  payload: Uint8Array | null;
}

export type WorkReply =
  | { type: "progress"; job: number; stage: string; done: number; total: number }
  | { type: "checked"; job: number; lines: string[]; warnings: string[] }
  | { type: "made"; job: number; lines: string[]; warnings: string[]; exe: Uint8Array; packedGif: Uint8Array; seconds: number }
  | { type: "opened"; job: number; lines: string[]; warnings: string[]; sections: SectionRow[] }
  | { type: "refused"; job: number; message: string }
  | { type: "failed"; job: number; message: string };

export type Slot = "asIs" | "packed";

export type PreviewRequest =
  | { type: "load"; slot: Slot; serial: number; gif: Blob | Uint8Array }
  // `fresh`: on a screen as the player starts with, not the one carried over.
  | { type: "frame"; slot: Slot; serial: number; index: number; ticket: number; fresh: boolean; reuse?: ArrayBuffer }
  | { type: "drop"; slot: Slot };

export interface PreviewInfo {
  width: number;
  height: number;
  delays: number[]; // hundredths, as stored; the page shows 0 for 10 ms
}

export type PreviewReply =
  | ({ type: "loaded"; slot: Slot; serial: number } & PreviewInfo)
  | { type: "frame"; slot: Slot; serial: number; index: number; ticket: number; rgba: ArrayBuffer; undefinedPixels: number; halted: boolean }
  | { type: "error"; slot: Slot; serial: number; message: string };
