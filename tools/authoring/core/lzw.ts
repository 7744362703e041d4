// GIF LZW image data in and out: a decoder that keeps to what the player
// accepts, and an encoder for the frames the tool writes.

import type { DecodedFrame, GifFile, GifFrame, Rect } from "./gif_types.ts";

const DICTIONARY_SIZE = 4096;
const LARGEST_CODE_WIDTH = 12;
// The player's decoder takes these minimum code sizes and decodes nothing
// for any other.
export const SMALLEST_CODE_SIZE = 2;
export const LARGEST_CODE_SIZE = 9;

// The image row of each stored line of an interlaced image: rows 0, 8, 16...,
// then 4, 12, 20..., then 2, 6, 10..., then every odd row.
export function interlacedRows(height: number): Int32Array {
  const rows = new Int32Array(height);
  let line = 0;
  for (const [start, step] of [[0, 8], [4, 8], [2, 4], [1, 2]] as const) {
    for (let row = start; row < height; row += step) rows[line++] = row;
  }
  return rows;
}

// Each string of the dictionary is a run of bytes already written to the
// output (the previous code's string and the first byte after it), so a
// string is copied from there rather than walked through prefixes: a code
// needs its string's start and length only. Shared by every decode; one
// image at a time.
const dictionaryStarts = new Int32Array(DICTIONARY_SIZE);
const dictionaryLengths = new Int32Array(DICTIONARY_SIZE);
let streamScratch = new Uint8Array(0);
// Room behind the pixels for the longest string and a last 4-byte piece.
export const STRING_SLACK = DICTIONARY_SIZE + 8;
// Whether the last decodeCodes stopped at an end code.
let stoppedAtEndCode = false;

// Decodes a frame's image data into `into` (at least width * height bytes,
// reused by the caller; STRING_SLACK bytes more save a copy of the pixels)
// or a new buffer. Decoding stops at the end code, at
// the end of the data, at a code that cannot be valid, or once width * height
// pixels are held; `count` says how many were, and `endCode` whether an end
// code came before width * height pixels.
export function decodeFrame(gif: GifFile, frame: GifFrame, into?: Uint8Array): DecodedFrame {
  const total = frame.width * frame.height;
  if (into && into.length < total) throw new RangeError("decodeFrame: buffer smaller than the frame");
  const pixels = into ? into.subarray(0, total) : new Uint8Array(total);
  const usable = frame.minCodeSize >= SMALLEST_CODE_SIZE && frame.minCodeSize <= LARGEST_CODE_SIZE;
  if (total === 0 || !usable) {
    pixels.fill(0);
    return { frame, pixels, count: 0, endCode: false };
  }
  const inPlace = !frame.interlaced && into !== undefined && into.length >= total + STRING_SLACK;
  const stream = inPlace ? into : scratch(total + STRING_SLACK);
  const count = decodeCodes(gif.bytes, frame.dataOffset, frame.dataEnd, frame.minCodeSize, stream, total);
  if (frame.interlaced) {
    placeInterlaced(stream, pixels, frame.width, frame.height, count);
  } else {
    if (!inPlace) pixels.set(stream.subarray(0, count));
    pixels.fill(0, count);
  }
  return { frame, pixels, count, endCode: stoppedAtEndCode };
}

// One buffer for every frame's stream of pixels, as large as the largest
// frame decoded so far.
function scratch(size: number): Uint8Array {
  if (streamScratch.length < size) streamScratch = new Uint8Array(size);
  return streamScratch;
}

function placeInterlaced(stream: Uint8Array, pixels: Uint8Array, width: number, height: number, count: number) {
  pixels.fill(0);
  const rows = interlacedRows(height);
  for (let line = 0; line * width < count; line++) {
    const from = line * width;
    pixels.set(stream.subarray(from, Math.min(from + width, count)), rows[line]! * width);
  }
}

// The LZW decoding loop over the data sub-blocks in bytes[offset, end), up to
// `limit` pixels into `out`; returns the pixels written. `out` must hold
// STRING_SLACK bytes more than `limit`: strings are written whole, and short
// ones as 4-byte pieces.
//
// Literal codes are the low byte of the code: with minimum code size 9 the
// literals 256..511 give indices 0..255 again, which is what the player's
// dictionary holds for them (it stores each root code's string as the code
// cast to a byte).
//
// A sub-block that the bytes cut short is not used, as the player does not
// use it.
function decodeCodes(
  bytes: Uint8Array,
  offset: number,
  end: number,
  minCodeSize: number,
  out: Uint8Array,
  limit: number,
): number {
  stoppedAtEndCode = false;
  const view = new DataView(out.buffer, out.byteOffset, out.byteLength);
  const starts = dictionaryStarts;
  const lengths = dictionaryLengths;
  const clear = 1 << minCodeSize;
  const endCode = clear + 1;
  let width = minCodeSize + 1;
  let mask = (1 << width) - 1;
  let nextSlot = clear + 2;
  let previous = -1; // code of the previous string; -1 right after a clear
  let previousStart = 0;
  let previousLength = 0;
  let bits = 0;
  let bitCount = 0;
  let pos = offset; // next byte to take
  let blockEnd = offset; // end of the current sub-block
  let written = 0;

  for (;;) {
    if (bitCount < width) {
      // Several bytes at once inside a sub-block, at most 32 bits held (the
      // top one lands in the sign, which the unsigned shift takes back).
      if (bitCount <= 8 && blockEnd - pos >= 3) {
        bits |= (bytes[pos]! | (bytes[pos + 1]! << 8) | (bytes[pos + 2]! << 16)) << bitCount;
        pos += 3;
        bitCount += 24;
      } else if (blockEnd - pos >= 2) {
        bits |= (bytes[pos]! | (bytes[pos + 1]! << 8)) << bitCount;
        pos += 2;
        bitCount += 16;
      } else {
        do {
          if (pos === blockEnd) {
            if (pos >= end) return written;
            const size = bytes[pos]!;
            if (size === 0 || pos + 1 + size > end) return written;
            pos++;
            blockEnd = pos + size;
          }
          bits |= bytes[pos++]! << bitCount;
          bitCount += 8;
        } while (bitCount < width);
      }
    }
    const code = bits & mask;
    bits >>>= width;
    bitCount -= width;

    let length: number;
    if (code > endCode && code < nextSlot) {
      length = lengths[code]!;
      copyString(out, view, starts[code]!, written, length);
    } else if (code < clear) {
      out[written] = code;
      length = 1;
    } else if (code === nextSlot && previous >= 0) {
      // The string the encoder made one step ahead: the previous string
      // followed by its own first byte.
      copyString(out, view, previousStart, written, previousLength);
      out[written + previousLength] = out[previousStart]!;
      length = previousLength + 1;
    } else if (code === clear) {
      width = minCodeSize + 1;
      mask = (1 << width) - 1;
      nextSlot = clear + 2;
      previous = -1;
      continue;
    } else {
      // The end code, or a code past the next free slot (right after a clear,
      // any code that is no literal).
      stoppedAtEndCode = code === endCode;
      return written;
    }

    if (previous >= 0 && nextSlot < DICTIONARY_SIZE) {
      starts[nextSlot] = previousStart;
      lengths[nextSlot] = previousLength + 1;
      if (++nextSlot === 1 << width && width < LARGEST_CODE_WIDTH) {
        width++;
        mask = (1 << width) - 1;
      }
    }
    previous = code;
    previousStart = written;
    previousLength = length;
    written += length;
    if (written >= limit) return limit;
  }
}

// Copies `length` bytes from `from` forward to `to` in `out`, where
// from + length <= to. Short strings, most of them, go as one or two 4-byte
// pieces read before they are written, so bytes past the string's end may
// be overwritten; the next string overwrites them in turn.
function copyString(out: Uint8Array, view: DataView, from: number, to: number, length: number): void {
  if (length <= 4) {
    view.setUint32(to, view.getUint32(from, true), true);
  } else if (length <= 8) {
    view.setUint32(to, view.getUint32(from, true), true);
    view.setUint32(to + 4, view.getUint32(from + 4, true), true);
  } else if (length <= 32) {
    for (let i = 0; i < length; i++) out[to + i] = out[from + i]!;
  } else {
    out.copyWithin(to, from, from + length);
  }
}

// The encoder's dictionary: the code of each string, looked up directly by
// its prefix code and next index (key prefix << bits | index, 0 when the
// string has no code yet; fewer bits keep the entries in use closer together), and the key of each code, so that a clear code empties
// only the entries it filled.
const codeOfKey = new Uint16Array(DICTIONARY_SIZE << 8);
const keyOfCode = new Int32Array(DICTIONARY_SIZE);
let rawScratch = new Uint8Array(0);

// Image data for the rectangle of an index picture (row stride `stride`):
// the minimum code size byte, data sub-blocks of up to 255 bytes and their
// zero terminator. Every index must be below 2 ** bits. A full dictionary is
// followed by a clear code.
export function encodeImageData(pixels: Uint8Array, stride: number, rect: Rect, bits: number): Uint8Array {
  const minCodeSize = Math.max(2, bits);
  if (bits < 1 || bits > 8) throw new RangeError(`encodeImageData: ${bits} bits per index`);
  const [left, top, right, bottom] = rect;
  const inside = 0 <= left && left <= right && right <= stride && 0 <= top && top <= bottom;
  if (!inside || (bottom > top && (bottom - 1) * stride + right > pixels.length)) {
    throw new RangeError(`encodeImageData: rectangle ${rect.join(",")} outside the picture`);
  }
  const area = (right - left) * (bottom - top);
  // At most one 12-bit code per index, plus clear codes and the end.
  const raw = rawBuffer(Math.ceil(area * 1.5) + (area >> 10) + 16);
  const length = encodeCodes(pixels, stride, rect, minCodeSize, bits, raw);
  return packSubBlocks(minCodeSize, raw, length);
}

function rawBuffer(size: number): Uint8Array {
  if (rawScratch.length < size) rawScratch = new Uint8Array(size);
  return rawScratch;
}

// The LZW code stream as bytes, low bits first; returns its length.
function encodeCodes(
  pixels: Uint8Array,
  stride: number,
  rect: Rect,
  minCodeSize: number,
  bits: number,
  raw: Uint8Array,
): number {
  const indexLimit = 1 << bits;
  const table = codeOfKey;
  const keys = keyOfCode;
  const clear = 1 << minCodeSize;
  const firstFree = clear + 2;
  const [left, top, right, bottom] = rect;
  let width = minCodeSize + 1;
  let nextCode = firstFree;
  let acc = clear; // bits not yet written, lowest first
  let accBits = width;
  let length = 0;
  let prefix = -1;

  for (let y = top; y < bottom; y++) {
    const rowEnd = y * stride + right;
    for (let i = y * stride + left; i < rowEnd; i++) {
      const index = pixels[i]!;
      if (index >= indexLimit) throw new RangeError(`encodeImageData: index ${index} needs more bits`);
      if (prefix < 0) {
        prefix = index;
        continue;
      }
      const key = (prefix << bits) | index;
      const code = table[key]!;
      if (code !== 0) {
        prefix = code;
        continue;
      }
      acc |= prefix << accBits;
      accBits += width;
      while (accBits >= 8) {
        raw[length++] = acc;
        acc >>>= 8;
        accBits -= 8;
      }
      if (nextCode < DICTIONARY_SIZE) {
        table[key] = nextCode;
        keys[nextCode] = key;
        if (nextCode++ === 1 << width) width++;
      } else {
        acc |= clear << accBits;
        accBits += width;
        while (accBits >= 8) {
          raw[length++] = acc;
          acc >>>= 8;
          accBits -= 8;
        }
        for (let c = firstFree; c < DICTIONARY_SIZE; c++) table[keys[c]!] = 0;
        nextCode = firstFree;
        width = minCodeSize + 1;
      }
      prefix = index;
    }
  }
  for (let c = firstFree; c < nextCode; c++) table[keys[c]!] = 0;
  if (prefix >= 0) {
    acc |= prefix << accBits;
    accBits += width;
    // The decoder's dictionary takes one more string on this code and may
    // widen before the end code.
    if (nextCode === 1 << width && width < LARGEST_CODE_WIDTH) width++;
  }
  while (accBits >= 8) {
    raw[length++] = acc;
    acc >>>= 8;
    accBits -= 8;
  }
  acc |= (clear + 1) << accBits;
  accBits += width;
  while (accBits > 0) {
    raw[length++] = acc;
    acc >>>= 8;
    accBits -= 8;
  }
  return length;
}

function packSubBlocks(minCodeSize: number, raw: Uint8Array, length: number): Uint8Array {
  const blocks = Math.ceil(length / 255);
  const out = new Uint8Array(1 + length + blocks + 1);
  out[0] = minCodeSize;
  let at = 1;
  for (let from = 0; from < length; from += 255) {
    const size = Math.min(255, length - from);
    out[at++] = size;
    out.set(raw.subarray(from, from + size), at);
    at += size;
  }
  out[at] = 0;
  return out;
}
