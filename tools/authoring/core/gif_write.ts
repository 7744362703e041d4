// Writes the GIFs the tool packs: GIF89a with one global colour table, and
// per frame a graphic control extension with disposal 1 (leave in place) and
// no transparent index, so that a browser shows exactly what the player's
// opaque copies show.

import type { ColourTable, Rect } from "./gif_types.ts";

export interface OutputFrame {
  rect: Rect;
  // Image data as encodeImageData gives it: minimum code size, sub-blocks,
  // zero terminator.
  data: Uint8Array;
  delay: number; // hundredths of a second
}

const TRAILER = 0x3b;

// Bits of a colour table index for `count` colours: at least 1.
export function tableBits(count: number): number {
  let bits = 1;
  while (1 << bits < count) bits++;
  return bits;
}

// Collects the GIF a frame at a time; the frames' data is held until
// finish() joins everything into the file.
export class GifWriter {
  private readonly parts: Uint8Array[] = [];
  private size = 0;
  private finished = false;

  constructor(width: number, height: number, palette: ColourTable, backgroundIndex: number, loopCount: number | null) {
    this.push(header(width, height, palette, backgroundIndex));
    if (loopCount !== null) this.push(loopExtension(loopCount));
  }

  addFrame(frame: OutputFrame): void {
    if (this.finished) throw new Error("GifWriter: frame added after finish");
    this.push(frameHead(frame));
    this.push(frame.data);
  }

  finish(): Uint8Array {
    if (!this.finished) this.push(Uint8Array.of(TRAILER));
    this.finished = true;
    const out = new Uint8Array(this.size);
    let at = 0;
    for (const part of this.parts) {
      out.set(part, at);
      at += part.length;
    }
    this.parts.length = 0;
    this.parts.push(out);
    return out;
  }

  private push(part: Uint8Array): void {
    this.parts.push(part);
    this.size += part.length;
  }
}

export function assembleGif(
  width: number,
  height: number,
  palette: ColourTable,
  backgroundIndex: number,
  loopCount: number | null,
  frames: Iterable<OutputFrame>,
): Uint8Array {
  const writer = new GifWriter(width, height, palette, backgroundIndex, loopCount);
  for (const frame of frames) writer.addFrame(frame);
  return writer.finish();
}

function word(value: number, what: string): [number, number] {
  if (!Number.isInteger(value) || value < 0 || value > 0xffff) {
    throw new RangeError(`GIF ${what} ${value} does not fit 16 bits`);
  }
  return [value & 0xff, value >> 8];
}

function byte(value: number, what: string): number {
  if (!Number.isInteger(value) || value < 0 || value > 0xff) throw new RangeError(`GIF ${what} ${value} does not fit a byte`);
  return value;
}

// Header, logical screen descriptor (colour resolution 8 bits) and the
// global table, padded with black to a power of two of at least 2 entries.
function header(width: number, height: number, palette: ColourTable, backgroundIndex: number): Uint8Array {
  const colours = palette.length / 3;
  if (!Number.isInteger(colours) || colours > 256) {
    throw new RangeError(`GIF palette of ${palette.length} bytes is not 1 to 256 colours`);
  }
  const bits = tableBits(colours);
  const out = new Uint8Array(13 + (3 << bits));
  out.set([0x47, 0x49, 0x46, 0x38, 0x39, 0x61]); // GIF89a
  out.set([...word(width, "width"), ...word(height, "height"), 0xf0 | (bits - 1), byte(backgroundIndex, "background index"), 0], 6);
  out.set(palette, 13);
  return out;
}

function loopExtension(loopCount: number): Uint8Array {
  const name = [..."NETSCAPE2.0"].map((c) => c.charCodeAt(0));
  return Uint8Array.of(0x21, 0xff, 11, ...name, 3, 1, ...word(loopCount, "loop count"), 0);
}

// Graphic control extension (disposal 1, no transparency) and the image
// descriptor (no local table, not interlaced).
function frameHead(frame: OutputFrame): Uint8Array {
  const [left, top, right, bottom] = frame.rect;
  return Uint8Array.of(
    0x21, 0xf9, 4, 1 << 2, ...word(frame.delay, "delay"), 0, 0,
    0x2c, ...word(left, "left"), ...word(top, "top"),
    ...word(right - left, "frame width"), ...word(bottom - top, "frame height"), 0,
  );
}
