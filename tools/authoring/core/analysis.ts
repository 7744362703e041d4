// What the player would show differently from a browser, what it needs in
// memory, and whether a GIF can be made into an animation at all.

import { backgroundKey, clipFrame, compareViews, type Comparison } from "./compose.ts";
import { GifError, type GifFile, type Progress } from "./gif_types.ts";

// The player may use the whole 4 GiB that 64-bit Windows gives a 32-bit
// program marked large-address-aware; half a GiB of it stays for the
// program itself, the system's libraries, stacks and what allocation leaves
// between blocks.
export const MEMORY_LIMIT = 3.5 * 2 ** 30;
// What a program can count on under 32-bit Windows, which gives it 2 GiB.
export const WINDOWS_32_MEMORY = 1.5 * 2 ** 30;
export const LARGE_MEMORY = 512 * 2 ** 20;
// The player allocates each frame's bitmap, the canvas and the GIF as one
// block of at most 2^31 - 1 bytes.
export const BLOCK_LIMIT = 2 ** 31 - 1;
// Compositing here holds about ten bytes per screen pixel (colour ids of the
// picture and the one before, palette indices, a change mask).
const LARGEST_SCREEN = Math.floor(WINDOWS_32_MEMORY / 10);
// A frame record with its bitmap header.
const FRAME_RECORD_BYTES = 600;

// Bitmap rows are padded to 4 bytes.
function stride(width: number): number {
  return (width + 3) & ~3;
}

export function mib(bytes: number): string {
  return `${(bytes / 2 ** 20).toFixed(1)} MiB`;
}

// Bytes the player holds at once while loading: the GIF, every frame's
// bitmap and the screen-sized canvas.
export function playerMemory(
  gifSize: number,
  width: number,
  height: number,
  frameSizes: Iterable<readonly [number, number]>,
): number {
  let total = gifSize + stride(width) * height;
  for (const [frameWidth, frameHeight] of frameSizes) {
    total += stride(frameWidth) * frameHeight + FRAME_RECORD_BYTES;
  }
  return total;
}

function* bitmapSizes(gif: GifFile): Generator<[number, number]> {
  for (const frame of gif.frames) if (frame.playerHasPixels) yield [frame.width, frame.height];
}

export function inputMemory(gif: GifFile): number {
  return playerMemory(gif.bytes.length, gif.width, gif.height, bitmapSizes(gif));
}

// What an author should know of an animation's memory, beyond the limit.
export function memoryNotes(memory: number): string[] {
  if (memory > WINDOWS_32_MEMORY) {
    return [
      `the player needs ${mib(memory)} of memory for this animation: it plays on 64-bit Windows, ` +
        `but not on 32-bit Windows, which gives a program 2 GiB`,
    ];
  }
  if (memory > LARGE_MEMORY) return [`a large animation: the player needs ${mib(memory)} of memory to play it`];
  return [];
}

export function memoryRefusal(memory: number): string {
  return (
    `the player would need ${mib(memory)} for this animation, more than ${mib(MEMORY_LIMIT)} ` +
    `(fewer or smaller frames would fit)`
  );
}

// Refuses what cannot be made into an animation, from the header and the
// frame sizes alone, before anything is decoded. A GIF the player cannot
// hold as it is gets no further either: its frames are decoded at the same
// sizes to be flattened.
export function checkDecodable(gif: GifFile): void {
  if (gif.frames.length === 0) throw new GifError("the GIF holds no frame");
  if (gif.width === 0 || gif.height === 0) {
    throw new GifError(`the GIF's screen is ${gif.width}x${gif.height}: nothing can be shown`);
  }
  const canvas = stride(gif.width) * gif.height;
  if (canvas > BLOCK_LIMIT) {
    throw new GifError(
      `the GIF's screen of ${gif.width}x${gif.height} needs ${mib(canvas)} in one block, ` +
        `more than the player can allocate at once (2 GiB)`,
    );
  }
  if (gif.width * gif.height > LARGEST_SCREEN) {
    throw new GifError(
      `the GIF's screen of ${gif.width}x${gif.height} is too large to composite ` +
        `(more than ${Math.floor(LARGEST_SCREEN / 1e6)} million pixels)`,
    );
  }
  gif.frames.forEach((frame, index) => {
    if (stride(frame.width) * frame.height > BLOCK_LIMIT) {
      throw new GifError(
        `frame ${index + 1} is ${frame.width}x${frame.height}: more than the player can allocate at once (2 GiB)`,
      );
    }
  });
  const memory = inputMemory(gif);
  if (memory > MEMORY_LIMIT) throw new GifError(memoryRefusal(memory));
}

export class Findings {
  transparentFrames = 0;
  disposalBackground = 0;
  disposalPrevious = 0;
  localTables = 0;
  shortDelays = 0;
  firstUncovered = false;
  framesWithoutPixels = 0;
  memory = 0;

  constructor(
    readonly gif: GifFile,
    readonly comparison: Comparison,
  ) {}

  // What the player would show differently, one line each.
  differences(): string[] {
    const gif = this.gif;
    const lines: string[] = [];
    if (!gif.globalTable) lines.push("no global colour table: the player does not play it at all");
    if (this.firstUncovered) {
      lines.push("the first frame does not cover the screen: the player shows undefined pixels around it");
    }
    if (this.transparentFrames) {
      lines.push(`${this.transparentFrames} frame(s) with a transparent colour: the player paints it opaquely`);
    }
    if (this.disposalBackground || this.disposalPrevious) {
      lines.push(
        `disposal to background on ${this.disposalBackground} frame(s), to previous on ` +
          `${this.disposalPrevious}: the player never disposes`,
      );
    }
    if (this.localTables) {
      lines.push(
        `${this.localTables} frame(s) with a local colour table: the player maps them to the nearest global colours`,
      );
    }
    if (this.framesWithoutPixels) {
      lines.push(`${this.framesWithoutPixels} frame(s) without pixel data: the player stops there`);
    }
    if (gif.endedEarly) lines.push(`the stream ends early (${gif.endedEarly})`);
    const c = this.comparison;
    if (c.same) {
      if (lines.length) lines.push("yet every picture the player shows equals the browser's");
    } else if (c.firstFrame >= 0) {
      let what = `${c.differingPixels} pixel(s) differ`;
      if (c.playerHaltsAt >= 0) what = "the player stops";
      else if (c.undefinedPixels) what += `, ${c.undefinedPixels} of them undefined in the player`;
      lines.push(`first different picture: frame ${c.firstFrame + 1} (${what})`);
    }
    return lines;
  }

  timingNotes(): string[] {
    const gif = this.gif;
    const lines: string[] = [];
    if (this.shortDelays) {
      lines.push(
        `${this.shortDelays} frame(s) with a delay of 0 or 1: browsers show them for 0.1 s, ` +
          `the player for 10 ms (--browser-timing makes them 10)`,
      );
    }
    if (gif.loopCount === null && gif.frames.length > 1) {
      lines.push("no loop extension: browsers play it once, the player loops for ever");
    } else if (gif.loopCount) {
      lines.push(`loop count ${gif.loopCount}: browsers stop after it, the player loops for ever`);
    }
    return lines;
  }

  get playsAsBrowser(): boolean {
    return this.comparison.same && this.gif.globalTable !== null && this.gif.globalTable.length > 0;
  }
}

export function analyse(
  gif: GifFile,
  background: readonly [number, number, number] | null,
  progress?: Progress,
): Findings {
  checkDecodable(gif);
  const findings = new Findings(gif, compareViews(gif, backgroundKey(gif, background), progress));
  const animated = gif.frames.length > 1;
  for (const frame of gif.frames) {
    if (frame.transparent !== null) findings.transparentFrames++;
    if (frame.disposal === 2) findings.disposalBackground++;
    if (frame.disposal === 3) findings.disposalPrevious++;
    if (frame.localTable) findings.localTables++;
    if (frame.delay < 2 && animated) findings.shortDelays++;
    if (!frame.playerHasPixels) findings.framesWithoutPixels++;
  }
  const first = clipFrame(gif.frames[0]!, gif.width, gif.height);
  findings.firstUncovered = !first || first[0] !== 0 || first[1] !== 0 || first[2] !== gif.width || first[3] !== gif.height;
  findings.memory = inputMemory(gif);
  return findings;
}

// Seconds of one loop as the player times it: hundredths as 10 ms, and at
// least the timer's 10 ms for a delay of 0.
export function playTime(delays: Iterable<number>): number {
  let total = 0;
  for (const delay of delays) total += Math.max(delay, 1);
  return total / 100;
}
