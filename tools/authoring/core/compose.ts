// The pictures of an animation, shown two ways: as a web browser composites
// a GIF (transparency, disposal, local colour tables) and as the player
// shows it (every frame copied opaquely, colours from the global table only,
// the canvas undefined until painted).
//
// Colours are 24-bit keys red | green << 8 | blue << 16, the layout the
// player uses. The browser's canvas holds small ids into a ColourRegistry,
// so that any later mapping of colours is one table lookup per pixel.
//
// Frames are decoded one at a time into reused buffers: nothing here grows
// with the number of frames.

import { decodeFrame, interlacedRows, STRING_SLACK } from "./lzw.ts";
import type { ColourTable, DecodedFrame, GifFile, GifFrame, Progress, Rect } from "./gif_types.ts";

// A key no colour has: a pixel of the player's screen that nothing defined.
export const UNDEFINED = 0xff000000;
export const WHITE = 0xffffff;

export function rgbKey(r: number, g: number, b: number): number {
  return r | (g << 8) | (b << 16);
}

export function tableKey(table: ColourTable, index: number): number {
  return rgbKey(table[3 * index]!, table[3 * index + 1]!, table[3 * index + 2]!);
}

export function union(a: Rect | null, b: Rect | null): Rect | null {
  if (!a) return b;
  if (!b) return a;
  return [Math.min(a[0], b[0]), Math.min(a[1], b[1]), Math.max(a[2], b[2]), Math.max(a[3], b[3])];
}

export function area(rect: Rect): number {
  return (rect[2] - rect[0]) * (rect[3] - rect[1]);
}

// The part of the frame on the logical screen, or null.
export function clipFrame(frame: GifFrame, width: number, height: number): Rect | null {
  const right = Math.min(frame.left + frame.width, width);
  const bottom = Math.min(frame.top + frame.height, height);
  if (right <= frame.left || bottom <= frame.top) return null;
  return [frame.left, frame.top, right, bottom];
}

// Every colour the animation can show, each with a small id.
export class ColourRegistry {
  private readonly ids = new Map<number, number>();
  keys = new Uint32Array(1024);
  size = 0;

  idOf(key: number): number {
    let id = this.ids.get(key);
    if (id === undefined) {
      id = this.size++;
      this.ids.set(key, id);
      if (id === this.keys.length) {
        const grown = new Uint32Array(this.keys.length * 2);
        grown.set(this.keys);
        this.keys = grown;
      }
      this.keys[id] = key;
    }
    return id;
  }

  // Id of each of the 256 indices: the table's colours, then black, which
  // browsers show for an index the table does not hold.
  tableIds(table: ColourTable | null, out: Uint32Array): Uint32Array {
    const entries = table ? Math.min(table.length / 3, 256) : 0;
    for (let i = 0; i < entries; i++) out[i] = this.idOf(tableKey(table!, i));
    out.fill(this.idOf(0), entries, 256);
    return out;
  }
}

// What the page shows where nothing is painted: the given colour, the
// global table's background entry, or white.
export function backgroundKey(gif: GifFile, override: readonly [number, number, number] | null): number {
  if (override) return rgbKey(override[0], override[1], override[2]);
  const table = gif.globalTable;
  if (table && gif.backgroundIndex < table.length / 3) return tableKey(table, gif.backgroundIndex);
  return WHITE;
}

// Decodes frames on demand into reused buffers, as large as the largest
// frame asked for so far: one, and a second while a caller holds on to the
// pixels of the frame before.
//
// Only the lines that can reach the screen are decoded, and no more than
// the data can hold: a frame may declare 65535x65535 pixels with a few
// bytes of data. Pixels of rows past those are never read (their count
// says the data did not reach them).
export class FrameDecoder {
  private buffers = [new Uint8Array(0), new Uint8Array(0)];
  private lines = new Uint8Array(0);
  constructor(readonly gif: GifFile) {}

  decode(frame: GifFrame, keep: Uint8Array | null = null): DecodedFrame {
    // A frame the data ends before holds no pixel.
    if (frame.minCodeSize < 0) return { frame, pixels: new Uint8Array(0), count: 0 };
    const rows = Math.max(0, Math.min(frame.height, this.gif.height - frame.top));
    const lines = linesNeeded(frame, rows);
    const slot = keep && keep.buffer === this.buffers[0]!.buffer ? 1 : 0;
    const buffer = this.buffer(slot, (frame.interlaced && lines < frame.height ? rows : lines) * frame.width);
    if (lines === frame.height) return decodeFrame(this.gif, frame, buffer);
    // The stream's first lines, as if the frame ended there.
    const view = { ...frame, height: lines, interlaced: false };
    if (!frame.interlaced) return { ...decodeFrame(this.gif, view, buffer), frame };
    if (this.lines.length < lines * frame.width + STRING_SLACK) this.lines = new Uint8Array(lines * frame.width + STRING_SLACK);
    const decoded = decodeFrame(this.gif, view, this.lines);
    const order = interlacedRows(frame.height);
    for (let line = 0; line < lines; line++) {
      const row = order[line]!;
      if (row < rows) buffer.set(this.lines.subarray(line * frame.width, (line + 1) * frame.width), row * frame.width);
    }
    return { ...decoded, frame, pixels: buffer };
  }

  private buffer(slot: number, size: number): Uint8Array {
    if (this.buffers[slot]!.length < size + STRING_SLACK) this.buffers[slot] = new Uint8Array(size + STRING_SLACK);
    return this.buffers[slot]!;
  }
}

// Stream lines to decode for the first `rows` image rows: no more than the
// data can fill, each of its codes (3 bits at least) giving at most 4096
// pixels.
function linesNeeded(frame: GifFrame, rows: number): number {
  if (frame.width === 0 || rows === 0) return 0;
  const most = Math.ceil(((frame.dataEnd - frame.dataOffset) * 8) / 3) * 4096;
  let lines = rows;
  if (frame.interlaced) {
    const order = interlacedRows(frame.height);
    lines = 0;
    for (let line = 0; line < order.length; line++) if (order[line]! < rows) lines = line + 1;
  }
  return Math.min(frame.height, lines, Math.ceil(most / frame.width));
}

// How many pixels of each of the first `rows` image rows the data supplied,
// given that `placed` pixels arrived in stream order.
function rowLengths(frame: GifFrame, rows: number, columns: number, placed: number): Int32Array {
  const lengths = new Int32Array(rows);
  const width = frame.width;
  let lineOf: Int32Array | null = null;
  if (frame.interlaced) {
    lineOf = new Int32Array(frame.height);
    const order = interlacedRows(frame.height);
    for (let line = 0; line < order.length; line++) lineOf[order[line]!] = line;
  }
  for (let y = 0; y < rows; y++) {
    const line = lineOf ? lineOf[y]! : y;
    lengths[y] = Math.max(0, Math.min(columns, placed - line * width));
  }
  return lengths;
}

// The pixels the player's bitmap holds: whole lines, and a partial last line
// only when the data ended with the end code (cut data drops it).
export function playerPlaced(decoded: DecodedFrame): number {
  const { frame, count } = decoded;
  if (count >= frame.width * frame.height || decoded.endCode) return count;
  return frame.width ? Math.floor(count / frame.width) * frame.width : 0;
}

// The browser's screen: colour ids with the GIF89a drawing and disposal
// rules. `ids` is reused from picture to picture.
//
// A frame that fills the screen by itself (see `covers`) is only held, not
// drawn, until something needs the canvas: a consumer that counts its
// pixels from the frame's indices then never pays for the screen of ids.
export class BrowserCanvas {
  private readonly canvas: Uint32Array;
  private pending: { rect: Rect; saved: Uint32Array | null } | null = null;
  private savedBuffer = new Uint32Array(0);
  private held: DecodedFrame | null = null;
  private readonly heldValues = new Uint32Array(256);

  constructor(
    readonly width: number,
    readonly height: number,
    readonly backgroundId: number,
  ) {
    this.canvas = new Uint32Array(width * height).fill(backgroundId);
  }

  get ids(): Uint32Array {
    this.settle();
    return this.canvas;
  }

  // The pixels of the frame held undrawn, which must stay as they are.
  get heldPixels(): Uint8Array | null {
    return this.held?.pixels ?? null;
  }

  // Takes a frame that covers the screen; the whole screen may change.
  cover(decoded: DecodedFrame, values: Uint32Array): Rect {
    // Restoring what was there before this frame needs the frame before it
    // drawn; for any other disposal the frame before is hidden for good.
    if (decoded.frame.disposal === 3) this.settle();
    this.held = decoded;
    this.heldValues.set(values);
    return [0, 0, this.width, this.height];
  }

  private settle(): void {
    if (!this.held) return;
    const held = this.held;
    this.held = null;
    this.paint(held, this.heldValues);
  }

  // Draws the frame with `values` (an id per colour index) and returns the
  // rectangle that may have changed since the previous picture.
  draw(decoded: DecodedFrame, values: Uint32Array): Rect | null {
    this.settle();
    return this.paint(decoded, values);
  }

  private paint(decoded: DecodedFrame, values: Uint32Array): Rect | null {
    const dirty = this.dispose();
    const frame = decoded.frame;
    const rect = clipFrame(frame, this.width, this.height);
    if (!rect) return dirty;
    const saved = frame.disposal === 3 ? this.save(rect) : null;
    const rows = rect[3] - rect[1];
    const columns = rect[2] - rect[0];
    const complete = decoded.count >= frame.width * frame.height;
    const lengths = complete ? null : rowLengths(frame, rows, columns, decoded.count);
    const transparent = frame.transparent ?? -1;
    const pixels = decoded.pixels;
    const ids = this.canvas;
    for (let y = 0; y < rows; y++) {
      const from = y * frame.width;
      const to = (rect[1] + y) * this.width + rect[0];
      const length = lengths ? lengths[y]! : columns;
      if (transparent < 0) {
        for (let x = 0; x < length; x++) ids[to + x] = values[pixels[from + x]!]!;
      } else {
        for (let x = 0; x < length; x++) {
          const index = pixels[from + x]!;
          if (index !== transparent) ids[to + x] = values[index]!;
        }
      }
    }
    if (frame.disposal === 2 || frame.disposal === 3) this.pending = { rect, saved };
    return union(dirty, rect);
  }

  private save(rect: Rect): Uint32Array {
    const columns = rect[2] - rect[0];
    const size = columns * (rect[3] - rect[1]);
    if (this.savedBuffer.length < size) this.savedBuffer = new Uint32Array(size);
    for (let y = rect[1]; y < rect[3]; y++) {
      const start = y * this.width + rect[0];
      this.savedBuffer.set(this.canvas.subarray(start, start + columns), (y - rect[1]) * columns);
    }
    return this.savedBuffer;
  }

  private dispose(): Rect | null {
    if (!this.pending) return null;
    const { rect, saved } = this.pending;
    this.pending = null;
    const columns = rect[2] - rect[0];
    for (let y = rect[1]; y < rect[3]; y++) {
      const start = y * this.width + rect[0];
      if (saved) this.canvas.set(saved.subarray((y - rect[1]) * columns, (y - rect[1] + 1) * columns), start);
      else this.canvas.fill(this.backgroundId, start, start + columns);
    }
    return rect;
  }
}

export interface BrowserPicture {
  index: number;
  // The canvas, reused: copy what you keep. Reading it draws a frame that
  // was only held.
  readonly ids: Uint32Array;
  // Where this picture may differ from the one before; the whole screen for
  // the first.
  dirty: Rect | null;
  // The frame drawn, its pixels in the reused decoding buffer, and the
  // colour id of each of its indices.
  decoded: DecodedFrame;
  values: Uint32Array;
  // True when the frame alone makes the picture: it fills the screen
  // exactly, completely and opaquely.
  covering: boolean;
}

function covers(gif: GifFile, decoded: DecodedFrame): boolean {
  const frame = decoded.frame;
  return (
    frame.left === 0 &&
    frame.top === 0 &&
    frame.width === gif.width &&
    frame.height === gif.height &&
    frame.transparent === null &&
    decoded.count >= frame.width * frame.height
  );
}

export function frameTable(gif: GifFile, frame: GifFrame): ColourTable | null {
  return frame.localTable ?? gif.globalTable;
}

// Each picture a browser shows, in order. Colours are registered in
// `registry` as they appear, the background first.
export function* browserPictures(
  gif: GifFile,
  registry: ColourRegistry,
  background: number,
  progress?: Progress,
  stage = "compositing",
): Generator<BrowserPicture> {
  const canvas = new BrowserCanvas(gif.width, gif.height, registry.idOf(background));
  const decoder = new FrameDecoder(gif);
  const values = new Uint32Array(256);
  const total = gif.frames.length;
  for (let index = 0; index < total; index++) {
    const frame = gif.frames[index]!;
    registry.tableIds(frameTable(gif, frame), values);
    const decoded = decoder.decode(frame, canvas.heldPixels);
    const covering = covers(gif, decoded);
    let dirty = covering ? canvas.cover(decoded, values) : canvas.draw(decoded, values);
    if (index === 0) dirty = [0, 0, gif.width, gif.height];
    yield {
      index,
      get ids() {
        return canvas.ids;
      },
      dirty,
      decoded,
      values,
      covering,
    };
    progress?.(stage, index + 1, total);
  }
}

// The entry of `table` nearest to the colour; the lowest index on a tie,
// as the player chooses.
export function nearestTableEntry(table: ColourTable, key: number): number {
  const r = key & 0xff;
  const g = (key >> 8) & 0xff;
  const b = (key >> 16) & 0xff;
  let best = 0;
  let bestDistance = Infinity;
  for (let i = 0; i < table.length / 3; i++) {
    const dr = table[3 * i]! - r;
    const dg = table[3 * i + 1]! - g;
    const db = table[3 * i + 2]! - b;
    const distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

// The key the player shows for each of a frame's 256 indices: a local
// table's colours become the nearest global ones; an index past the global
// table shows nothing defined.
export function playerValues(gif: GifFile, frame: GifFrame, out = new Uint32Array(256)): Uint32Array {
  const global = gif.globalTable;
  const globalCount = global ? global.length / 3 : 0;
  const local = frame.localTable;
  const localCount = local ? Math.min(local.length / 3, 256) : 0;
  for (let i = 0; i < 256; i++) {
    const entry = i < localCount && globalCount ? nearestTableEntry(global!, tableKey(local!, i)) : i;
    out[i] = entry < globalCount ? tableKey(global!, entry) : UNDEFINED;
  }
  return out;
}

// The player's canvas of colour keys. It stops drawing for good at a frame
// for which it holds no bitmap.
export class PlayerScreen {
  readonly keys: Uint32Array;
  halted = false;
  private readonly values = new Uint32Array(256);

  constructor(readonly gif: GifFile) {
    this.keys = new Uint32Array(gif.width * gif.height).fill(UNDEFINED);
  }

  // Copies the frame opaquely; returns the rectangle drawn, or null.
  draw(decoded: DecodedFrame): Rect | null {
    const frame = decoded.frame;
    if (this.halted || !frame.playerHasPixels) {
      this.halted = true;
      return null;
    }
    const width = this.gif.width;
    const rect = clipFrame(frame, width, this.gif.height);
    if (!rect) return null;
    const values = playerValues(this.gif, frame, this.values);
    const rows = rect[3] - rect[1];
    const columns = rect[2] - rect[0];
    const placed = playerPlaced(decoded);
    const complete = placed >= frame.width * frame.height;
    const lengths = complete ? null : rowLengths(frame, rows, columns, placed);
    const pixels = decoded.pixels;
    for (let y = 0; y < rows; y++) {
      const from = y * frame.width;
      const to = (rect[1] + y) * width + rect[0];
      const length = lengths ? lengths[y]! : columns;
      for (let x = 0; x < length; x++) this.keys[to + x] = values[pixels[from + x]!]!;
      if (length < columns) this.keys.fill(UNDEFINED, to + length, to + columns);
    }
    return rect;
  }
}

export interface PlayerPicture {
  index: number;
  // The screen, reused: copy what you keep.
  keys: Uint32Array;
  dirty: Rect | null;
}

// Each picture the player shows of the GIF as it is, up to where it halts.
export function* playerPictures(gif: GifFile, progress?: Progress): Generator<PlayerPicture> {
  const screen = new PlayerScreen(gif);
  const decoder = new FrameDecoder(gif);
  const total = gif.frames.length;
  for (let index = 0; index < total; index++) {
    const frame = gif.frames[index]!;
    const dirty = screen.draw(frame.playerHasPixels ? decoder.decode(frame) : empty(frame));
    if (screen.halted) return;
    yield { index, keys: screen.keys, dirty: index === 0 ? [0, 0, gif.width, gif.height] : dirty };
    progress?.("player", index + 1, total);
  }
}

function empty(frame: GifFrame): DecodedFrame {
  return { frame, pixels: new Uint8Array(0), count: 0 };
}

// Where the player's pictures first differ from a browser's.
export interface Comparison {
  same: boolean;
  firstFrame: number;
  differingPixels: number;
  undefinedPixels: number;
  playerHaltsAt: number;
}

// Runs both views side by side and stops at the first picture that differs.
export function compareViews(gif: GifFile, background: number, progress?: Progress): Comparison {
  const result: Comparison = { same: true, firstFrame: -1, differingPixels: 0, undefinedPixels: 0, playerHaltsAt: -1 };
  if (!gif.globalTable || gif.globalTable.length === 0) return { ...result, same: false };
  const registry = new ColourRegistry();
  const player = new PlayerScreen(gif);
  for (const { index, ids, dirty, decoded } of browserPictures(gif, registry, background, progress, "checking")) {
    player.draw(decoded);
    if (player.halted) return { ...result, same: false, firstFrame: index, playerHaltsAt: index };
    if (!dirty) continue;
    const differing = countDifferences(ids, registry.keys, player.keys, gif.width, dirty);
    if (differing.pixels) {
      return { ...result, same: false, firstFrame: index, differingPixels: differing.pixels, undefinedPixels: differing.undefined };
    }
  }
  return result;
}

function countDifferences(ids: Uint32Array, keys: Uint32Array, shown: Uint32Array, width: number, rect: Rect) {
  let pixels = 0;
  let undefinedPixels = 0;
  for (let y = rect[1]; y < rect[3]; y++) {
    for (let i = y * width + rect[0], end = y * width + rect[2]; i < end; i++) {
      const key = shown[i]!;
      if (keys[ids[i]!] !== key) {
        pixels++;
        if (key === UNDEFINED) undefinedPixels++;
      }
    }
  }
  return { pixels, undefined: undefinedPixels };
}
