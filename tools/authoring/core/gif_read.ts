// Reads a GIF's block structure exactly as far as the player's parser reads
// it, so that every view of a stream holds the frames the player holds. The
// parser stops where the player stops: at the trailer, at an unknown block,
// at a graphic control extension whose size is not 4 or whose terminator is
// not 0, and at the end of the bytes. Pixels stay compressed in the input;
// a frame records where its image data lies.

import { GifError, type ColourTable, type GifFile, type GifFrame } from "./gif_types.ts";

const HEADER_SIZE = 13;
const EXTENSION = 0x21;
const IMAGE = 0x2c;
const TRAILER = 0x3b;
const GRAPHIC_CONTROL = 0xf9;
const APPLICATION = 0xff;
const LOOP_APPLICATIONS = ["NETSCAPE2.0", "ANIMEXTS1.0"];

// The graphic control fields waiting for the next image.
interface Control {
  delay: number;
  disposal: number;
  transparent: number | null;
}

// Why the block loop stopped: a deliberate stop, or bytes that ran out.
interface Stop {
  reason: string;
  cut: boolean;
}

class Cursor {
  pos = 0;
  constructor(readonly bytes: Uint8Array) {}

  get left(): number {
    return this.bytes.length - this.pos;
  }

  // The next byte, or -1 at the end.
  byte(): number {
    return this.pos < this.bytes.length ? this.bytes[this.pos++]! : -1;
  }

  // A 16-bit little-endian number; bytes past the end count as 0, as the
  // player reads them.
  word(): number {
    const low = this.byte();
    const high = this.byte();
    return Math.max(low, 0) | (Math.max(high, 0) << 8);
  }

  skip(count: number): void {
    this.pos = Math.min(this.pos + count, this.bytes.length);
  }
}

export function parseGif(bytes: Uint8Array): GifFile {
  checkHeader(bytes);
  const packed = bytes[10]!;
  const cursor = new Cursor(bytes);
  cursor.pos = HEADER_SIZE;
  const gif: GifFile = {
    bytes,
    width: bytes[6]! | (bytes[7]! << 8),
    height: bytes[8]! | (bytes[9]! << 8),
    globalTable: null,
    backgroundIndex: bytes[11]!,
    loopCount: null,
    frames: [],
    endedEarly: "",
    truncated: false,
  };
  if (packed & 0x80) gif.globalTable = readGlobalTable(cursor, packed & 7);
  const stop = readBlocks(cursor, gif);
  if (stop) {
    gif.endedEarly = stop.reason;
    gif.truncated = stop.cut;
  }
  return gif;
}

// How many frames are whole: their image data runs to its zero terminator.
export function completeFrames(gif: GifFile): number {
  let whole = 0;
  for (const frame of gif.frames) if (frameIsWhole(gif, frame)) whole++;
  return whole;
}

export function frameIsWhole(gif: GifFile, frame: GifFrame): boolean {
  return frame.minCodeSize >= 0 && frame.dataEnd < gif.bytes.length && gif.bytes[frame.dataEnd] === 0;
}

function checkHeader(bytes: Uint8Array): void {
  const signature = [0x47, 0x49, 0x46]; // "GIF"
  for (let i = 0; i < Math.min(3, bytes.length); i++) {
    if (bytes[i] !== signature[i]) throw new GifError("not a GIF file (no GIF signature)");
  }
  if (bytes.length === 0) throw new GifError("not a GIF file (the file is empty)");
  if (bytes.length < HEADER_SIZE) {
    throw new GifError(
      `the GIF is cut short inside its header: it has ${bytes.length} of the header's ${HEADER_SIZE} bytes`,
    );
  }
  const packed = bytes[10]!;
  if (!(packed & 0x80)) return;
  const tableSize = tableBytes(packed & 7);
  if (bytes.length < HEADER_SIZE + tableSize) {
    throw new GifError(
      `the GIF is cut short inside its header: its global colour table has ` +
        `${bytes.length - HEADER_SIZE} of its ${tableSize} bytes`,
    );
  }
}

function tableBytes(sizeBits: number): number {
  return 3 << (sizeBits + 1);
}

function readGlobalTable(cursor: Cursor, sizeBits: number): ColourTable {
  const size = tableBytes(sizeBits);
  const table = cursor.bytes.subarray(cursor.pos, cursor.pos + size);
  cursor.skip(size);
  return table;
}

// A local table; entries the bytes do not hold read as black.
function readLocalTable(cursor: Cursor, sizeBits: number): ColourTable {
  const size = tableBytes(sizeBits);
  if (cursor.left >= size) return readGlobalTable(cursor, sizeBits);
  const table = new Uint8Array(size);
  table.set(cursor.bytes.subarray(cursor.pos));
  cursor.skip(size);
  return table;
}

function readBlocks(cursor: Cursor, gif: GifFile): Stop | null {
  let pending: Control | null = null;
  for (;;) {
    const at = cursor.pos;
    const introducer = cursor.byte();
    if (introducer === TRAILER) return null;
    if (introducer < 0) {
      return { reason: `the file has no trailer: it ends after ${framesWord(gif.frames.length)}`, cut: false };
    }
    if (introducer === EXTENSION) {
      const label = cursor.byte();
      if (label === GRAPHIC_CONTROL) {
        const control = readGraphicControl(cursor, at);
        if ("reason" in control) return control;
        pending = control;
        continue;
      }
      const stop = readExtension(cursor, gif, label, at);
      if (stop) return stop;
    } else if (introducer === IMAGE) {
      const frame = readImage(cursor, pending);
      pending = null;
      gif.frames.push(frame);
      const stop = imageStop(gif, frame);
      if (stop) return stop;
    } else {
      const hex = introducer.toString(16).toUpperCase().padStart(2, "0");
      return { reason: `unknown block 0x${hex} at byte ${at}`, cut: false };
    }
  }
}

function framesWord(count: number): string {
  return count === 1 ? "1 frame" : `${count} frames`;
}

function readGraphicControl(cursor: Cursor, at: number): Control | Stop {
  const size = cursor.byte();
  if (size < 0) return cutInside("a graphic control extension", at);
  if (size !== 4) return { reason: `graphic control extension of size ${size} at byte ${at}`, cut: false };
  if (cursor.left < 5) {
    cursor.skip(cursor.left);
    return cutInside("a graphic control extension", at);
  }
  const packed = cursor.byte();
  const delay = cursor.word();
  const transparent = cursor.byte();
  if (cursor.byte() !== 0) {
    return { reason: `graphic control extension without its terminator at byte ${at}`, cut: false };
  }
  return { delay, disposal: (packed >> 2) & 7, transparent: packed & 1 ? transparent : null };
}

function cutInside(what: string, at: number): Stop {
  return { reason: `the file ends inside ${what} that starts at byte ${at}`, cut: true };
}

// Any extension but a graphic control one: data sub-blocks up to a zero
// count. An application extension may carry the loop count; the first one
// that does wins.
function readExtension(cursor: Cursor, gif: GifFile, label: number, at: number): Stop | null {
  const head = new Uint8Array(14);
  let headLength = 0;
  if (cursor.left === 0) return cutInside("an extension", at);
  for (;;) {
    const count = cursor.byte();
    if (count === 0) break;
    if (count < 0) return cutInside("an extension", at);
    const take = Math.min(count, head.length - headLength, cursor.left);
    head.set(cursor.bytes.subarray(cursor.pos, cursor.pos + take), headLength);
    headLength += take;
    cursor.skip(count);
    if (cursor.left === 0) return cutInside("an extension", at);
  }
  if (label === APPLICATION && gif.loopCount === null && headLength === head.length) {
    gif.loopCount = loopCount(head);
  }
  return null;
}

function loopCount(head: Uint8Array): number | null {
  const name = String.fromCharCode(...head.subarray(0, 11));
  if (!LOOP_APPLICATIONS.includes(name) || head[11] !== 1) return null;
  return head[12]! | (head[13]! << 8);
}

// An image, behind its separator: descriptor, local table, then the image
// data walked sub-block by sub-block. Descriptor fields the bytes do not hold
// read as 0; such a frame is kept, without pixels, as the player keeps it.
function readImage(cursor: Cursor, control: Control | null): GifFrame {
  const left = cursor.word();
  const top = cursor.word();
  const width = cursor.word();
  const height = cursor.word();
  const packed = Math.max(cursor.byte(), 0);
  const frame: GifFrame = {
    left,
    top,
    width,
    height,
    interlaced: (packed & 0x40) !== 0,
    localTable: null,
    minCodeSize: -1,
    dataOffset: cursor.pos,
    dataEnd: cursor.pos,
    delay: control?.delay ?? 0,
    disposal: control?.disposal ?? 0,
    transparent: control?.transparent ?? null,
    hasControl: control !== null,
    playerHasPixels: false,
  };
  if (packed & 0x80) frame.localTable = readLocalTable(cursor, packed & 7);
  if (cursor.left === 0) {
    frame.dataOffset = frame.dataEnd = cursor.pos;
    return frame;
  }
  frame.minCodeSize = cursor.byte();
  frame.dataOffset = cursor.pos;
  frame.dataEnd = skipSubBlocks(cursor);
  frame.playerHasPixels = width > 0 && height > 0;
  return frame;
}

// Walks data sub-blocks; returns the offset of the zero count (left read
// past), or the end of the bytes when they run out first.
function skipSubBlocks(cursor: Cursor): number {
  for (;;) {
    const at = cursor.pos;
    const count = cursor.byte();
    if (count <= 0) return count === 0 ? at : cursor.pos;
    cursor.skip(count);
  }
}

function imageStop(gif: GifFile, frame: GifFrame): Stop | null {
  const number = gif.frames.length;
  if (frame.minCodeSize < 0) {
    return { reason: `the file ends inside frame ${number}, before its image data`, cut: true };
  }
  if (!frameIsWhole(gif, frame)) {
    return { reason: `the file ends inside the image data of frame ${number}`, cut: true };
  }
  return null;
}
