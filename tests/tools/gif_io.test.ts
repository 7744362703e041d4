import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";

import { completeFrames, parseGif } from "../../tools/authoring/core/gif_read.ts";
import { assembleGif } from "../../tools/authoring/core/gif_write.ts";
import { GifError, type Rect } from "../../tools/authoring/core/gif_types.ts";
import { decodeFrame, encodeImageData, interlacedRows } from "../../tools/authoring/core/lzw.ts";

type Part = number | number[] | Uint8Array;
const bytes = (...parts: Part[]) => Uint8Array.from(parts.flatMap((p) => (typeof p === "number" ? [p] : [...p])));
const le = (v: number) => [v & 0xff, v >> 8];
const ascii = (text: string) => [...text].map((c) => c.charCodeAt(0));
const header = (w = 4, h = 2, sizeBits = 0) =>
  bytes(ascii("GIF89a"), le(w), le(h), 0x80 | sizeBits, 3, 0, new Uint8Array(3 << (sizeBits + 1)));
const gce = (delay: number, packed = 0, size = 4, terminator = 0) => bytes(0x21, 0xf9, size, packed, le(delay), 7, terminator);
const app = (name: string, ...payload: number[]) => bytes(0x21, 0xff, 11, ascii(name), payload.length, payload, 0);
const picture = (w: number, h: number, seed = 1) =>
  Uint8Array.from({ length: w * h }, (_, i) => (Math.imul(i + seed, 0x9e3779b1) >>> 20) & 3);
const image = (w = 4, h = 2, data = encodeImageData(picture(w, h), w, [0, 0, w, h], 2), packed = 0) =>
  bytes(0x2c, le(0), le(0), le(w), le(h), packed, data);

// Bytes of LZW codes of the given widths, low bits first, as one sub-block.
function codeStream(minCodeSize: number, codes: [number, number][]): Uint8Array {
  let acc = 0, count = 0;
  const out: number[] = [];
  for (const [code, width] of codes) {
    acc |= code << count;
    for (count += width; count >= 8; count -= 8, acc >>>= 8) out.push(acc & 0xff);
  }
  if (count > 0) out.push(acc & 0xff);
  return out.length ? bytes(minCodeSize, out.length, out, 0) : bytes(minCodeSize, 0);
}

test("block rules: where the stream stops and what the frames carry", () => {
  const cases: [string, Uint8Array, number, RegExp | "", boolean][] = [
    ["two frames and trailer", bytes(header(), image(), image(), 0x3b), 2, "", false],
    ["graphic control of size 5 stops", bytes(header(), image(), gce(5, 0, 5), image(), 0x3b), 1, /size 5/, false],
    ["graphic control without terminator stops", bytes(header(), image(), gce(5, 0, 4, 9), image()), 1, /terminator/, false],
    ["unknown block stops", bytes(header(), image(), 0x00, image(), 0x3b), 1, /unknown block 0x00 at byte/, false],
    ["no trailer", bytes(header(), image()), 1, /no trailer/, false],
    ["code size 10 is kept, parsing goes on", bytes(header(), image(4, 2, codeStream(10, [])), image(), 0x3b), 2, "", false],
    ["cut in a graphic control", bytes(header(), image(), gce(5)).subarray(0, -2), 1, /inside a graphic control/, true],
    ["cut in an extension", bytes(header(), app("NETSCAPE2.0", 1, 0, 0)).subarray(0, -1), 0, /inside an extension/, true],
    ["cut in the image data", bytes(header(), image(), image()).subarray(0, -3), 2, /image data of frame 2/, true],
    ["cut in a descriptor: frame kept without pixels", bytes(header(), gce(9), image()).subarray(0, 30), 1, /before its image data/, true],
    ["cut after a descriptor", bytes(header(), gce(9), image()).subarray(0, 37), 1, /before its image data/, true],
  ];
  for (const [name, data, frames, ended, truncated] of cases) {
    const gif = parseGif(data);
    assert.equal(gif.frames.length, frames, name);
    if (ended === "") assert.equal(gif.endedEarly, "", name);
    else assert.match(gif.endedEarly, ended, name);
    assert.equal(gif.truncated, truncated, name);
  }
  for (const cut of [30, 37]) {
    const frame = parseGif(bytes(header(), gce(9), image()).subarray(0, cut)).frames[0]!;
    assert.deepEqual([frame.delay, frame.playerHasPixels, frame.minCodeSize, frame.width], [9, false, -1, cut > 32 ? 4 : 0]);
  }
});

test("graphic control fields, local tables and the first loop extension", () => {
  const local = bytes(0x2c, le(1), le(2), le(4), le(2), 0x80 | 0x40 | 1, [1, 2, 3], new Uint8Array(9), encodeImageData(picture(4, 2), 4, [0, 0, 4, 2], 2));
  const gif = parseGif(bytes(header(), app("ANIMEXTS1.0", 1, 5, 0), app("NETSCAPE2.0", 1, 0, 0),
    gce(7, (2 << 2) | 1), 0x21, 0xfe, 1, 0x41, 0, local, image(), 0x3b));
  assert.equal(gif.loopCount, 5);
  assert.equal(gif.backgroundIndex, 3);
  const [first, second] = gif.frames;
  assert.deepEqual([first!.delay, first!.disposal, first!.transparent, first!.hasControl, first!.interlaced], [7, 2, 7, true, true]);
  assert.deepEqual([...first!.localTable!.subarray(0, 3)], [1, 2, 3]);
  assert.deepEqual([second!.delay, second!.transparent, second!.hasControl, second!.localTable], [0, null, false, null]);
  assert.equal(parseGif(bytes(header(), app("OTHERAPP1.0", 1, 5, 0), 0x3b)).loopCount, null);
});

test("a header that is cut short or not a GIF is refused in words", () => {
  const whole = header(4, 2, 1);
  const cases: [Uint8Array, RegExp][] = [
    [new Uint8Array(0), /empty/],
    [whole.subarray(0, 5), /cut short inside its header: it has 5 of the header's 13 bytes/],
    [whole.subarray(0, 12), /cut short inside its header/],
    [whole.subarray(0, 20), /global colour table has 7 of its 12 bytes/],
    [bytes(ascii("PNG"), whole.subarray(3)), /not a GIF file \(no GIF signature\)/],
    [bytes(ascii("GIX")), /not a GIF file/],
  ];
  for (const [data, message] of cases) {
    assert.throws(() => parseGif(data), (e: unknown) => e instanceof GifError && message.test(e.message));
  }
  assert.equal(parseGif(whole).frames.length, 0);
});

test("a cut at every byte counts the whole frames and keeps what the data held", () => {
  const data = bytes(header(64, 64, 1), gce(3), image(64, 64, encodeImageData(picture(64, 64), 64, [0, 0, 64, 64], 2)), image(), 0x3b);
  const full = parseGif(data);
  let partial = 0;
  for (let cut = 25; cut < data.length; cut++) {
    const gif = parseGif(data.subarray(0, cut));
    const expected = full.frames.filter((f) => f.dataEnd < cut).length;
    assert.equal(completeFrames(gif), expected, `cut at ${cut}`);
    assert.ok(gif.truncated || /no trailer/.test(gif.endedEarly), `cut at ${cut}`);
    for (const frame of gif.frames) {
      const { pixels, count } = decodeFrame(gif, frame);
      if (count > 0 && count < frame.width * frame.height) partial++;
      const reference = decodeFrame(full, full.frames[gif.frames.indexOf(frame)]!).pixels;
      assert.deepEqual(pixels.subarray(0, count), reference.subarray(0, count), `cut at ${cut}`);
      assert.ok(pixels.subarray(count).every((p) => p === 0));
    }
  }
  assert.ok(partial > 100);
});

test("minimum code sizes: the player's 2..9, literals above 255 as their low byte", () => {
  const cases: [string, Uint8Array, number[], boolean][] = [
    ["size 1 decodes nothing", codeStream(1, [[2, 2], [1, 2], [3, 2]]), [], false],
    ["size 2", codeStream(2, [[4, 3], [1, 3], [3, 3], [6, 3], [5, 4]]), [1, 3, 1, 3], true],
    ["size 8", codeStream(8, [[256, 9], [200, 9], [258, 9], [257, 9]]), [200, 200, 200], true],
    ["size 9", codeStream(9, [[512, 10], [300, 10], [7, 10], [514, 10], [513, 10]]), [44, 7, 44, 7], true],
    ["size 10 decodes nothing", codeStream(10, [[1024, 11], [5, 11]]), [], false],
    ["a code past the next slot stops", codeStream(2, [[4, 3], [1, 3], [7, 3], [1, 3]]), [1], false],
    ["a string code right after a clear stops", codeStream(2, [[4, 3], [6, 3], [1, 3]]), [], false],
    ["data ends: one 4-bit code of five pixels", codeStream(3, [[8, 4], [5, 4]]), [5], false],
  ];
  for (const [name, data, expected, endCode] of cases) {
    const gif = parseGif(bytes(header(), image(5, 1, data), 0x3b));
    const decoded = decodeFrame(gif, gif.frames[0]!);
    assert.deepEqual([...decoded.pixels.subarray(0, decoded.count)], expected, name);
    assert.equal(decoded.endCode, endCode, name);
  }
});

test("interlaced lines land on their rows", () => {
  assert.deepEqual([...interlacedRows(10)], [0, 8, 4, 2, 6, 1, 3, 5, 7, 9]);
  for (const height of [1, 2, 3, 5, 8, 9, 17, 33]) {
    const rows = interlacedRows(height);
    assert.deepEqual([...rows].sort((a, b) => a - b), [...Array(height).keys()], `height ${height}`);
    const stream = Uint8Array.from({ length: 3 * height }, (_, i) => rows[Math.floor(i / 3)]!);
    const data = encodeImageData(stream, 3, [0, 0, 3, height], 6);
    const gif = parseGif(bytes(header(), image(3, height, data, 0x40), 0x3b));
    const into = new Uint8Array(3 * height + 5).fill(99);
    const { pixels, count } = decodeFrame(gif, gif.frames[0]!, into);
    assert.equal(count, 3 * height);
    assert.deepEqual([...pixels], Array.from({ length: 3 * height }, (_, i) => Math.floor(i / 3)));
  }
});

test("encoded rectangles of random pictures come back through the writer and the parser", () => {
  let seed = 17;
  const random = (n: number) => ((seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) >>> 8) % n;
  for (const [bits, width, height, runs] of [[1, 40, 30, 0.2], [2, 33, 7, 0], [3, 64, 64, 0.9], [4, 5, 300, 0.5],
    [5, 1, 1, 0], [6, 90, 40, 0.7], [7, 200, 150, 0.3], [8, 320, 300, 0], [8, 400, 300, 0.95]] as const) {
    const stride = width + 3;
    const source = new Uint8Array(stride * (height + 2));
    for (let i = 0; i < source.length; i++) source[i] = i && random(100) < runs * 100 ? source[i - 1]! : random(1 << bits);
    const rect: Rect = [2, 1, 2 + width, 1 + height];
    const palette = new Uint8Array(3 << bits);
    const out = assembleGif(width + 4, height + 3, palette, 0, bits === 8 ? 0 : null,
      [{ rect, data: encodeImageData(source, stride, rect, bits), delay: bits }]);
    const gif = parseGif(out);
    const frame = gif.frames[0]!;
    assert.deepEqual([gif.endedEarly, gif.loopCount, gif.globalTable!.length], ["", bits === 8 ? 0 : null, 3 << bits]);
    assert.deepEqual([frame.left, frame.top, frame.width, frame.height, frame.delay, frame.disposal, frame.transparent],
      [2, 1, width, height, bits, 1, null]);
    const { pixels, count } = decodeFrame(gif, frame);
    assert.equal(count, width * height, `bits ${bits}`);
    for (let y = 0; y < height; y++) {
      assert.deepEqual(pixels.subarray(y * width, (y + 1) * width), source.subarray((y + 1) * stride + 2, (y + 1) * stride + 2 + width));
    }
  }
  for (const [rect, stride] of [[[0, 0, 2, 1], 2], [[0, 0, 3, 1], 2], [[0, 1, 2, 2], 2], [[1, 0, 0, 1], 2]] as const) {
    assert.throws(() => encodeImageData(Uint8Array.of(0, 4), stride, rect, 2), RangeError);
  }
});

test("colour tables are padded to a power of two of at least 2 entries", () => {
  for (const [colours, entries] of [[1, 2], [2, 2], [3, 4], [17, 32], [129, 256]] as const) {
    const gif = parseGif(assembleGif(1, 1, new Uint8Array(3 * colours).fill(9), 0, null, []));
    assert.equal(gif.globalTable!.length, 3 * entries);
    assert.equal(gif.globalTable![3 * colours], colours === entries ? undefined : 0);
  }
});

// Frame count and an FNV-1a hash of every frame's indices in row order, as
// giflib (an independent decoder) gives them.
const REAL_FILES: [string, number, number][] = [
  ["peterdn-gif-test-suite/animated_loop.gif", 4, 0x3adf45b8],
  ["peterdn-gif-test-suite/animated_loop_interlaced.gif", 4, 0x3adf45b8],
  ["peterdn-gif-test-suite/animated_transparent_frame_restoreprev_loop.gif", 4, 0x4ad743c5],
  ["peterdn-gif-test-suite/animated_transparent_loop_frames_out_of_bounds.gif", 4, 0xf33607b0],
  ["peterdn-gif-test-suite/static_transparent.gif", 1, 0x5f68e1b0],
  ["wuffs/animated-red-blue.gif", 4, 0xb04bc9d7],
  ["wuffs/artificial-background-color.gif", 2, 0x22ae7a28],
  ["wuffs/artificial-empty-palette.gif", 2, 0x117697cd],
  ["wuffs/artificial-frame-out-of-bounds.gif", 4, 0xbf7a825f],
  ["wuffs/artificial-metadata-full.gif", 1, 0x040c5b8c],
  ["wuffs/artificial-multiple-loop-counts.gif", 4, 0x4b95f515],
  ["wuffs/artificial-pixel-data-too-much-bad-lzw.gif", 1, 0x4b95f515],
  ["wuffs/artificial-small-frame-interlaced.gif", 1, 0x050c5d1f],
  ["wuffs/artificial-transparent-index.gif", 2, 0xc8feaed3],
  ["wuffs/bricks-dither.gif", 1, 0x7c1c0312],
  ["wuffs/bricks-gray.gif", 1, 0x2c4cdb93],
  ["wuffs/gifplayer-muybridge.gif", 380, 0x4fe5d91f],
  ["wuffs/harvesters.gif", 1, 0x3453dd66],
  ["wuffs/hat.gif", 1, 0xd5960791],
  ["wuffs/hibiscus.primitive.gif", 1, 0x3837dd4f],
  ["wuffs/hibiscus.regular.gif", 1, 0xfd958458],
  ["wuffs/hippopotamus.interlaced.gif", 1, 0x4dac9a8d],
  ["wuffs/hippopotamus.masked-with-muybridge.gif", 1, 0x3ef1e6be],
  ["wuffs/muybridge.gif", 15, 0xa9b89a92],
  ["wuffs/pjw-thumbnail.gif", 1, 0x1c7ff808],
];

test("real GIFs decode whole, to the pixels of an independent decoder", () => {
  for (const [name, frames, hash] of REAL_FILES) {
    const gif = parseGif(new Uint8Array(readFileSync(new URL(`../data/gif/${name}`, import.meta.url))));
    assert.deepEqual([gif.frames.length, completeFrames(gif), gif.truncated], [frames, frames, false], name);
    let h = 0x811c9dc5;
    const into = new Uint8Array(gif.width * gif.height * 2);
    for (const frame of gif.frames) {
      const { pixels, count } = decodeFrame(gif, frame, into.length >= frame.width * frame.height ? into : undefined);
      assert.equal(count, frame.width * frame.height, name);
      for (const p of pixels) h = Math.imul(h ^ p, 0x01000193) >>> 0;
    }
    assert.equal(h, hash, name);
  }
});

test("short and cut real GIFs hold fewer pixels than they declare", () => {
  const cases: [string, number, boolean][] = [
    ["wuffs/artificial-zero-width-frame.gif", 0, false],
    ["wuffs/artificial-pixel-data-none.gif", 0, false],
    ["wuffs/artificial-pixel-data-not-enough.gif", 1, false],
    // The cut sub-block is not used, as the player does not use it.
    ["wuffs/hippopotamus.interlaced.truncated.gif", 0, true],
  ];
  for (const [name, count, truncated] of cases) {
    const gif = parseGif(new Uint8Array(readFileSync(new URL(`../data/gif/${name}`, import.meta.url))));
    const frame = gif.frames[0]!;
    assert.equal(gif.truncated, truncated, name);
    assert.equal(decodeFrame(gif, frame).count, count, name);
    assert.equal(frame.playerHasPixels, frame.width * frame.height > 0, name);
  }
});
