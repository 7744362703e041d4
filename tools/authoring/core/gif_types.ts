// The records every part of the authoring core shares: a GIF's block
// structure as the player's parser reads it, with the pixels left
// LZW-compressed in the input bytes until a frame is decoded.

import { Refusal } from "./errors.ts";

// Colour tables are RGB triplets, 3 bytes an entry.
export type ColourTable = Uint8Array;

// left, top, right, bottom; right and bottom exclusive.
export type Rect = readonly [number, number, number, number];

export interface GifFrame {
  left: number;
  top: number;
  width: number;
  height: number;
  interlaced: boolean;
  localTable: ColourTable | null;
  // The LZW minimum code size byte, or -1 when the data ends before it.
  minCodeSize: number;
  // Offset in GifFile.bytes of the first data sub-block's count byte.
  dataOffset: number;
  // Offset just past the image data (its zero terminator, or the end of the
  // bytes when the data is cut short).
  dataEnd: number;
  delay: number; // hundredths of a second
  disposal: number;
  transparent: number | null;
  hasControl: boolean;
  // False where the player may hold no bitmap for the frame (no data at
  // all, or an empty image): it stops showing frames there.
  playerHasPixels: boolean;
}

export interface GifFile {
  bytes: Uint8Array;
  width: number;
  height: number;
  globalTable: ColourTable | null;
  backgroundIndex: number;
  // null: no loop extension; 0: for ever.
  loopCount: number | null;
  frames: GifFrame[];
  // Why the stream stopped before its trailer, in words; "" when it did not.
  endedEarly: string;
  // True when the bytes end inside a frame's image data or inside a block
  // before the trailer (a cut file rather than a stream that stops on
  // purpose at an unknown block).
  truncated: boolean;
}

// A decoded frame: width * height indices in image row order (interlaced
// frames already in place), and how many pixels the data really held in
// stream order (width * height when complete). Pixels past `count` are 0.
export interface DecodedFrame {
  frame: GifFrame;
  pixels: Uint8Array;
  count: number;
  // True when the data ended with the end code: the player then places a
  // partial last line too, where cut data makes it drop that line.
  endCode?: boolean;
}

// The input is not a GIF that can be made into an animation.
export class GifError extends Refusal {
  override name = "GifError";
}

// Stage name, units done, units in all: reported as work goes on.
export type Progress = (stage: string, done: number, total: number) => void;
