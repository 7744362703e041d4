// Turns any GIF into one that the player shows as a browser does: one
// global colour table, a first frame covering the screen, then per picture
// the rectangles that changed, all opaque, with the loop's timing kept.
//
// Frames are streamed: each pass over the animation decodes and composites
// them again into reused buffers, so memory is the screen's buffers plus
// the output. Two passes when the colours fit 256 (count, write) and
// usually two otherwise (count, write while measuring each picture); a
// palette that leaves some picture below the target costs one measuring
// pass for a second palette and, if that one is better, a second write.

import { checkDecodable } from "./analysis.ts";
import { area, backgroundKey, browserPictures, ColourRegistry, type BrowserPicture } from "./compose.ts";
import type { GifFile, Progress, Rect } from "./gif_types.ts";
import { GifWriter, tableBits, type OutputFrame } from "./gif_write.ts";
import { encodeImageData } from "./lzw.ts";
import { Ditherer, mapColours, mappingErrors, psnr, quantise, TARGET_PSNR, type Palette } from "./palette.ts";

export interface FlattenOptions {
  browserTiming: boolean;
  background: readonly [number, number, number] | null;
  dither: boolean;
  // Write a sparse change as several smaller frames where the picture's
  // delay leaves room for them (on unless false).
  splitChanges?: boolean;
}

export interface FlattenResult {
  data: Uint8Array;
  frames: { rect: Rect; delay: number }[];
  colours: number; // distinct colours over all pictures
  exact: boolean; // every picture kept exactly
  paletteSize: number;
  minPsnr: number; // over all pictures, against the browser's; Infinity when exact
  psnrs: number[]; // each picture's, when a shared palette was measured
  splitPictures: number; // pictures written as several frames
  splitFrames: number; // frames those added
  splitSavedBytes: number; // against one rectangle for each of them
  passes: number; // passes over the frames
}

const MAX_DELAY = 0xffff;
// Graphic control extension and image descriptor: what a frame costs
// beside its image data.
const FRAME_COST = 18;
// At most this many frames for one picture's change.
const MAX_PIECES = 32;
// Pieces smaller than this are not cut further.
const SMALLEST_CUT = 64;
// A change is drawn in steps (each shown for 10 ms) only when that saves
// at least this share of its bytes.
const WORTHWHILE_SAVING = 0.1;

// Browsers show delays of 0 and 1 for a tenth of a second.
function shownDelay(delay: number, options: FlattenOptions): number {
  return options.browserTiming && delay < 2 ? 10 : delay;
}

// The current picture as colour ids, updated from the rectangles that
// change. It may keep counts of the ids (the ids with a non-zero count are
// listed, so that summing over them costs what the picture shows, not what
// the animation has shown), the picture's squared error against a palette,
// and the screen of palette indices with a mark on each pixel that changes.
class PictureState {
  readonly previous: Uint32Array;
  counts = new Int32Array(256);
  private listed = new Uint8Array(256);
  private readonly active: number[] = [0];
  private readonly frameHistogram = new Int32Array(4 * 256);
  private readonly frameEntries = new Uint8Array(256);
  private coverPixels: Uint8Array | null = null;
  private readonly coverValues = new Uint32Array(256);
  squaredError = 0;

  constructor(
    readonly width: number,
    height: number,
    private readonly counting: boolean,
    private readonly errors: Float64Array | null = null,
    private readonly screen: Screen | null = null,
  ) {
    // Starts as a picture of id 0 everywhere, which the first picture
    // replaces: the palette screen shows id 0's entry.
    this.previous = new Uint32Array(width * height);
    this.counts[0] = width * height;
    this.listed[0] = 1;
    if (errors) this.squaredError = width * height * errors[0]!;
    if (screen?.mapping) screen.shown.fill(screen.mapping[0]!);
  }

  // Takes in the next picture; returns the rectangle and number of the
  // screen's pixels that changed.
  take(picture: BrowserPicture, idCount: number): Change | null {
    this.reserve(idCount);
    if (picture.covering) return this.replace(picture);
    this.settle();
    return picture.dirty ? this.update(picture.ids, picture.dirty) : null;
  }

  // The ids of a picture taken from its frame alone, filled in once a
  // picture is compared with it pixel by pixel.
  private settle(): void {
    const pixels = this.coverPixels;
    if (!pixels) return;
    this.coverPixels = null;
    const { previous, coverValues } = this;
    for (let i = 0; i < pixels.length; i++) previous[i] = coverValues[pixels[i]!]!;
  }

  // A picture that one frame makes alone: its counts come from the frame's
  // indices, and its palette indices from theirs, without looking at the
  // picture before.
  private replace({ decoded, values }: BrowserPicture): Change | null {
    const pixels = decoded.pixels;
    if (this.counting) {
      const histogram = indexHistogram(pixels, this.frameHistogram);
      const { counts, listed, active, errors } = this;
      for (const id of active) {
        counts[id] = 0;
        listed[id] = 0;
      }
      active.length = 0;
      let squaredError = 0;
      for (let index = 0; index < 256; index++) {
        const count = histogram[index]!;
        if (!count) continue;
        const id = values[index]!;
        if (!listed[id]) {
          listed[id] = 1;
          active.push(id);
        }
        counts[id] += count;
        if (errors) squaredError += count * errors[id]!;
      }
      this.squaredError = squaredError;
    }
    // The pixels stay as they are until the next picture is taken.
    this.coverPixels = pixels;
    this.coverValues.set(values);
    const mapping = this.screen?.mapping;
    if (!mapping) return null;
    const { shown, changed } = this.screen!;
    const entryOf = this.frameEntries;
    for (let index = 0; index < 256; index++) entryOf[index] = mapping[values[index]!]!;
    // Without branches on whether a pixel changes, which photographic
    // pictures make impossible to predict.
    const width = this.width;
    const bounds = new Bounds(width);
    for (let y = 0; y < decoded.frame.height; y++) {
      const start = y * width;
      let count = 0;
      for (let i = start, end = start + width; i < end; i++) {
        const entry = entryOf[pixels[i]!]!;
        const differs = ((entry ^ shown[i]!) + 255) >> 8;
        shown[i] = entry;
        changed[i] = differs;
        count += differs;
      }
      if (count) bounds.row(y, ...rowExtent(changed, start, width), count);
    }
    return bounds.change();
  }

  private update(ids: Uint32Array, dirty: Rect): Change | null {
    const { previous, counts, listed, active, width, counting } = this;
    const errors = this.errors;
    const mapping = this.screen?.mapping ?? null;
    const shown = this.screen?.shown;
    const changed = this.screen?.changed;
    const bounds = new Bounds(width);
    let errorChange = 0;
    for (let y = dirty[1]; y < dirty[3]; y++) {
      const row = y * width;
      let first = -1;
      let last = -1;
      let count = 0;
      for (let x = dirty[0]; x < dirty[2]; x++) {
        const i = row + x;
        const id = ids[i]!;
        const old = previous[i]!;
        if (id === old) continue;
        previous[i] = id;
        if (counting) {
          counts[old]--;
          if (counts[id]++ === 0 && !listed[id]) {
            listed[id] = 1;
            active.push(id);
          }
          if (errors) errorChange += errors[id]! - errors[old]!;
        }
        if (mapping) {
          const index = mapping[id]!;
          if (index === shown![i]) continue;
          shown![i] = index;
          changed![i] = 1;
          if (first < 0) first = x;
          last = x;
          count++;
        }
      }
      bounds.row(y, first, last, count);
    }
    this.squaredError += errorChange;
    return bounds.change();
  }

  // Adds the current counts to `totals`.
  addTo(totals: Float64Array): void {
    const { counts, listed, active } = this;
    let kept = 0;
    for (const id of active) {
      const count = counts[id]!;
      if (count === 0) {
        listed[id] = 0;
        continue;
      }
      totals[id] += count;
      active[kept++] = id;
    }
    active.length = kept;
  }

  private reserve(idCount: number): void {
    if (this.counts.length >= idCount) return;
    const size = Math.max(idCount, 2 * this.counts.length);
    const counts = new Int32Array(size);
    counts.set(this.counts);
    this.counts = counts;
    const listed = new Uint8Array(size);
    listed.set(this.listed);
    this.listed = listed;
  }
}

// How often each index occurs. Four tables, summed at the end, let
// consecutive pixels of one index be counted without waiting on each other.
function indexHistogram(pixels: Uint8Array, tables: Int32Array): Int32Array {
  tables.fill(0);
  const end = pixels.length & ~3;
  let i = 0;
  for (; i < end; i += 4) {
    tables[pixels[i]!]++;
    tables[256 + pixels[i + 1]!]++;
    tables[512 + pixels[i + 2]!]++;
    tables[768 + pixels[i + 3]!]++;
  }
  for (; i < pixels.length; i++) tables[pixels[i]!]++;
  for (let index = 0; index < 256; index++) {
    tables[index] += tables[256 + index]! + tables[512 + index]! + tables[768 + index]!;
  }
  return tables;
}

interface Change {
  rect: Rect;
  count: number;
}

// The first and last marked column of a row that has a mark.
function rowExtent(changed: Uint8Array, start: number, width: number): [number, number] {
  let first = 0;
  while (!changed[start + first]) first++;
  let last = width - 1;
  while (!changed[start + last]) last--;
  return [first, last];
}

// The bounding rectangle of changed pixels, given row by row as the first
// and last changed column (last -1: none) and the number changed.
class Bounds {
  private left: number;
  private right = -1;
  private top = -1;
  private bottom = -1;
  private count = 0;

  constructor(width: number) {
    this.left = width;
  }

  row(y: number, first: number, last: number, count: number): void {
    if (last < 0) return;
    if (this.top < 0) this.top = y;
    this.bottom = y + 1;
    if (first < this.left) this.left = first;
    if (last + 1 > this.right) this.right = last + 1;
    this.count += count;
  }

  change(): Change | null {
    return this.count ? { rect: [this.left, this.top, this.right, this.bottom], count: this.count } : null;
  }
}

// The screen of palette indices the player will show, and a mark on each
// pixel the current picture changes.
interface Screen {
  shown: Uint8Array;
  changed: Uint8Array;
  mapping: Uint8Array | null; // palette index of each colour id; null when dithering
}

// How many picture-pixels show each colour id, over all pictures.
export function countColours(gif: GifFile, registry: ColourRegistry, background: number, progress?: Progress): Float64Array {
  const state = new PictureState(gif.width, gif.height, true);
  let totals: Float64Array = new Float64Array(256);
  for (const picture of browserPictures(gif, registry, background, progress, "reading")) {
    state.take(picture, registry.size);
    if (totals.length < registry.size) totals = grown(totals, registry.size);
    state.addTo(totals);
  }
  return totals.subarray(0, registry.size);
}

function grown(array: Float64Array, size: number): Float64Array {
  const out = new Float64Array(Math.max(size, 2 * array.length));
  out.set(array);
  return out;
}

interface Choice {
  palette: Palette;
  mapping: Uint8Array; // palette index of each colour id
}

// What a pass over the pictures gives.
interface Pass {
  frames: OutputFrame[];
  psnrs: number[];
  weakCounts: Float64Array; // colour ids over the pictures below the target
  splitPictures: number;
  splitFrames: number;
  splitSavedBytes: number;
}

function minimum(values: number[]): number {
  let least = Infinity;
  for (const value of values) if (value < least) least = value;
  return least;
}

interface PassSettings {
  encode: boolean;
  measure: boolean;
  dither: boolean;
  split: boolean;
  stage: string;
}

// One pass over the pictures: writes the frames, measures each picture's
// PSNR against the chosen palette, or both.
function runPass(
  gif: GifFile,
  registry: ColourRegistry,
  background: number,
  choice: Choice,
  options: FlattenOptions,
  settings: PassSettings,
  progress?: Progress,
): Pass {
  const { width, height } = gif;
  const pass: Pass = { frames: [], psnrs: [], weakCounts: new Float64Array(registry.size), splitPictures: 0, splitFrames: 0, splitSavedBytes: 0 };
  const errors = settings.measure ? mappingErrors(choice.palette, registry.keys, choice.mapping) : null;
  const writer = settings.encode ? new FrameWriter(gif, choice, settings, pass) : null;
  const state = new PictureState(width, height, settings.measure, errors, writer && !settings.dither ? writer.screen : null);
  const ditherer = writer && settings.dither ? new Ditherer(choice.palette, width) : null;
  const dithered = ditherer ? new Uint8Array(width * height) : null;
  for (const picture of browserPictures(gif, registry, background, progress, settings.stage)) {
    const index = picture.index;
    let change = state.take(picture, registry.size);
    if (settings.measure) {
      const value = psnr(Math.max(state.squaredError, 0), 3 * width * height);
      pass.psnrs.push(value);
      if (value < TARGET_PSNR) state.addTo(pass.weakCounts);
    }
    if (!writer) continue;
    if (ditherer) {
      ditherer.picture(picture.ids, registry.keys, height, dithered!);
      change = writer.paintIndices(dithered!);
    }
    writer.picture(index, change, shownDelay(gif.frames[index]!.delay, options));
  }
  return pass;
}

// The output frames: per picture the frames that bring the screen the
// player shows to the picture.
class FrameWriter {
  readonly screen: Screen;
  private readonly bits: number;
  private readonly width: number;
  private readonly height: number;
  private readonly split: boolean;
  // Encoded bytes per pixel of recent frames, for judging splits; the first
  // frame sets it.
  private bytesPerPixel = -1;

  constructor(
    gif: GifFile,
    choice: Choice,
    settings: PassSettings,
    private readonly pass: Pass,
  ) {
    this.width = gif.width;
    this.height = gif.height;
    const size = this.width * this.height;
    this.screen = { shown: new Uint8Array(size), changed: new Uint8Array(size), mapping: settings.dither ? null : choice.mapping };
    this.bits = tableBits(choice.palette.length / 3);
    this.split = settings.split;
  }

  // Writes the frames for a picture whose changes are marked on the screen.
  picture(index: number, change: Change | null, delay: number): void {
    if (index === 0) {
      this.clear(change);
      this.add([0, 0, this.width, this.height], delay);
    } else if (!change) {
      this.extend(delay);
    } else {
      this.addChange(change.rect, change.count, delay);
      this.clear(change);
    }
  }

  // Takes in a whole picture of palette indices.
  paintIndices(indices: Uint8Array): Change | null {
    const { shown, changed } = this.screen;
    const width = this.width;
    const bounds = new Bounds(width);
    for (let y = 0; y < this.height; y++) {
      const start = y * width;
      let count = 0;
      for (let i = start, end = start + width; i < end; i++) {
        const index = indices[i]!;
        const differs = ((index ^ shown[i]!) + 255) >> 8;
        shown[i] = index;
        changed[i] = differs;
        count += differs;
      }
      if (count) bounds.row(y, ...rowExtent(changed, start, width), count);
    }
    return bounds.change();
  }

  private clear(change: Change | null): void {
    if (!change) return;
    const [left, top, right, bottom] = change.rect;
    for (let y = top; y < bottom; y++) this.screen.changed.fill(0, y * this.width + left, y * this.width + right);
  }

  private encode(rect: Rect, delay: number): OutputFrame {
    const data = encodeImageData(this.screen.shown, this.width, rect, this.bits);
    const pixels = (rect[2] - rect[0]) * (rect[3] - rect[1]);
    const observed = data.length / pixels;
    if (this.bytesPerPixel < 0) this.bytesPerPixel = observed;
    else if (pixels >= 64) this.bytesPerPixel = 0.75 * this.bytesPerPixel + 0.25 * observed;
    return { rect, data, delay };
  }

  private add(rect: Rect, delay: number): void {
    this.pass.frames.push(this.encode(rect, delay));
  }

  // An unchanged picture lengthens the frame before it. Not where either
  // delay is 0, which the player shows for 10 ms (adding it would shorten
  // the loop, adding 1 would change the delays the file states), nor past
  // what the delay field holds: then a frame that changes nothing.
  private extend(delay: number): void {
    const last = this.pass.frames[this.pass.frames.length - 1]!;
    if (last.delay > 0 && delay > 0 && last.delay + delay <= MAX_DELAY) last.delay += delay;
    else this.add([0, 0, 1, 1], delay);
  }

  // A change with a picture delay of d may go out as k + 1 frames: k of
  // delay 0, which the player shows for 10 ms each, then the last with
  // d - k, so that the loop's time stays the same.
  private addChange(rect: Rect, count: number, delay: number): void {
    const pieces = this.split ? planPieces(this.screen.changed, this.width, rect, count, Math.max(delay, 1), this.bytesPerPixel) : [rect];
    if (pieces.length === 1) {
      this.add(rect, delay);
      return;
    }
    const parts = pieces.map((piece, i) => this.encode(piece, i === pieces.length - 1 ? delay - (pieces.length - 1) : 0));
    const whole = this.encode(rect, delay);
    const partsSize = parts.reduce((sum, part) => sum + part.data.length + FRAME_COST, 0);
    const wholeSize = whole.data.length + FRAME_COST;
    if (partsSize > (1 - WORTHWHILE_SAVING) * wholeSize) {
      this.pass.frames.push(whole);
      return;
    }
    this.pass.frames.push(...parts);
    this.pass.splitPictures++;
    this.pass.splitFrames += parts.length - 1;
    this.pass.splitSavedBytes += wholeSize - partsSize;
  }
}

function exactChoice(registry: ColourRegistry, totals: Float64Array): Choice {
  const mapping = new Uint8Array(registry.size);
  const used: number[] = [];
  for (let id = 0; id < totals.length; id++) {
    if (totals[id]! > 0) {
      mapping[id] = used.length;
      used.push(registry.keys[id]!);
    }
  }
  const palette = new Uint8Array(3 * Math.max(used.length, 1));
  used.forEach((key, i) => palette.set([key & 0xff, (key >> 8) & 0xff, (key >> 16) & 0xff], 3 * i));
  return { palette, mapping };
}

function quantisedChoice(registry: ColourRegistry, weights: Float64Array, progress?: Progress): Choice {
  progress?.("palette", 0, 1);
  const keys = registry.keys.subarray(0, registry.size);
  const palette = quantise(keys, weights);
  const mapping = mapColours(palette, keys, registry.size);
  progress?.("palette", 1, 1);
  return { palette, mapping };
}

// Weights that make the pictures below the target weigh as much as all
// the others.
function boosted(totals: Float64Array, weak: Float64Array): Float64Array {
  let all = 0;
  let weakAll = 0;
  for (let i = 0; i < totals.length; i++) {
    all += totals[i]!;
    weakAll += weak[i]!;
  }
  const boost = all / Math.max(weakAll, 1);
  return totals.map((total, i) => total + boost * weak[i]!);
}

export function flatten(gif: GifFile, options: FlattenOptions, progress?: Progress): FlattenResult {
  checkDecodable(gif);
  const background = backgroundKey(gif, options.background);
  const registry = new ColourRegistry();
  const totals = countColours(gif, registry, background, progress);
  const colours = totals.reduce((sum, total) => sum + (total > 0 ? 1 : 0), 0);
  const exact = colours <= 256;
  const dither = options.dither && !exact;
  const settings = (stage: string, encode: boolean): PassSettings => ({
    encode,
    measure: !exact,
    dither: dither && encode,
    split: options.splitChanges !== false && !dither,
    stage,
  });
  let passes = 1;
  const run = (choice: Choice, stage: string, encode: boolean) => {
    passes++;
    return runPass(gif, registry, background, choice, options, settings(stage, encode), progress);
  };

  let choice = exact ? exactChoice(registry, totals) : quantisedChoice(registry, totals, progress);
  let written = run(choice, "writing", true);
  if (!exact && minimum(written.psnrs) < TARGET_PSNR) {
    const retry = quantisedChoice(registry, boosted(totals, written.weakCounts), progress);
    const measured = run(retry, "palette", false);
    if (minimum(measured.psnrs) > minimum(written.psnrs)) {
      choice = retry;
      written.frames.length = 0;
      written = run(choice, "writing", true);
    }
  }

  const backgroundIndex = choice.mapping[registry.idOf(background)] ?? 0;
  const writer = new GifWriter(gif.width, gif.height, choice.palette, backgroundIndex, gif.loopCount);
  const frames = written.frames.map((frame) => {
    writer.addFrame(frame);
    return { rect: frame.rect, delay: frame.delay };
  });
  written.frames.length = 0;
  const psnrs = exact || dither ? [] : written.psnrs;
  return {
    data: writer.finish(),
    frames,
    colours,
    exact,
    paletteSize: choice.palette.length / 3,
    minPsnr: minimum(psnrs),
    psnrs,
    splitPictures: written.splitPictures,
    splitFrames: written.splitFrames,
    splitSavedBytes: written.splitSavedBytes,
    passes,
  };
}

// ------------------------------------------------------------ splitting

interface Cut {
  saving: number; // pixels no longer written
  a: Rect;
  b: Rect;
}

interface Piece {
  rect: Rect;
  cut: Cut | null;
}

// The rectangles to write a change as: greedy guillotine cuts of its
// bounding rectangle, each part shrunk to the changed pixels it holds,
// while a cut is estimated to save more than the frame it adds. At most
// `delay` pieces (k extra frames of delay 0 leave d - k >= 1 for the last).
export function planPieces(
  changed: Uint8Array,
  width: number,
  rect: Rect,
  count: number,
  delay: number,
  bytesPerPixel: number,
): Rect[] {
  const limit = Math.min(delay, MAX_PIECES);
  const whole = area(rect);
  if (limit < 2 || 4 * count > whole) return [rect];
  // A cut must leave out a few percent of the rectangle and more than the
  // frame it adds; the pieces together must promise a worthwhile saving
  // before anything is encoded to compare.
  const smallestSaving = Math.max(whole / 50, (2 * FRAME_COST) / bytesPerPixel);
  const pieces: Piece[] = [{ rect, cut: bestCut(changed, width, rect) }];
  let covered = whole;
  while (pieces.length < limit) {
    let best = -1;
    for (let i = 0; i < pieces.length; i++) {
      const saving = pieces[i]!.cut?.saving ?? 0;
      if (saving > 0 && (best < 0 || saving > pieces[best]!.cut!.saving)) best = i;
    }
    if (best < 0 || pieces[best]!.cut!.saving < smallestSaving) break;
    const { a, b, saving } = pieces[best]!.cut!;
    covered -= saving;
    pieces.splice(best, 1, { rect: a, cut: bestCut(changed, width, a) }, { rect: b, cut: bestCut(changed, width, b) });
  }
  if (covered > (1 - 2 * WORTHWHILE_SAVING) * whole) return [rect];
  return pieces.map((piece) => piece.rect);
}

// The best single cut of a rectangle whose edges all hold changed pixels,
// across its rows or across its columns.
function bestCut(changed: Uint8Array, width: number, rect: Rect): Cut | null {
  const [left, top, right, bottom] = rect;
  const rows = bottom - top;
  const columns = right - left;
  if (rows * columns < SMALLEST_CUT) return null;
  const rowFirst = new Int32Array(rows).fill(columns);
  const rowLast = new Int32Array(rows).fill(-1);
  const columnFirst = new Int32Array(columns).fill(rows);
  const columnLast = new Int32Array(columns).fill(-1);
  for (let y = 0; y < rows; y++) {
    const start = (top + y) * width + left;
    for (let x = 0; x < columns; x++) {
      if (!changed[start + x]) continue;
      if (rowLast[y] < 0) rowFirst[y] = x;
      rowLast[y] = x;
      if (columnLast[x]! < 0) columnFirst[x] = y;
      columnLast[x] = y;
    }
  }
  const across = cutAlong(rowFirst, rowLast);
  const down = cutAlong(columnFirst, columnLast);
  const whole = rows * columns;
  if (!across && !down) return null;
  if (across && (!down || across.covered <= down.covered)) {
    const [a, b] = across.parts;
    return { saving: whole - across.covered, a: [left + a[0], top + a[1], left + a[2], top + a[3]], b: [left + b[0], top + b[1], left + b[2], top + b[3]] };
  }
  const [a, b] = down!.parts;
  return { saving: whole - down!.covered, a: [left + a[1], top + a[0], left + a[3], top + a[2]], b: [left + b[1], top + b[0], left + b[3], top + b[2]] };
}

// Along lines (rows or columns) with the first and last changed position
// in each (last -1: none), the split into lines [0, i] and [i + 1, n) whose
// two shrunk rectangles cover the fewest pixels. Parts are given as
// [cross start, line start, cross end, line end].
function cutAlong(first: Int32Array, last: Int32Array): { covered: number; parts: [Rect, Rect] } | null {
  const lines = first.length;
  const suffixFirst = new Int32Array(lines + 1).fill(2 ** 30);
  const suffixLast = new Int32Array(lines + 1).fill(-1);
  const suffixStart = new Int32Array(lines + 1).fill(lines);
  for (let i = lines - 1; i >= 0; i--) {
    const has = last[i]! >= 0;
    suffixFirst[i] = has ? Math.min(first[i]!, suffixFirst[i + 1]!) : suffixFirst[i + 1]!;
    suffixLast[i] = Math.max(last[i]!, suffixLast[i + 1]!);
    suffixStart[i] = has ? i : suffixStart[i + 1]!;
  }
  let best: { covered: number; parts: [Rect, Rect] } | null = null;
  let prefixFirst = 2 ** 30;
  let prefixLast = -1;
  let prefixEnd = -1;
  for (let i = 0; i < lines - 1; i++) {
    if (last[i]! < 0) continue;
    prefixFirst = Math.min(prefixFirst, first[i]!);
    prefixLast = Math.max(prefixLast, last[i]!);
    prefixEnd = i + 1;
    const start = suffixStart[i + 1]!;
    if (start >= lines) break;
    const a: Rect = [prefixFirst, 0, prefixLast + 1, prefixEnd];
    const b: Rect = [suffixFirst[i + 1]!, start, suffixLast[i + 1]! + 1, lines];
    const covered = area(a) + area(b);
    if (!best || covered < best.covered) best = { covered, parts: [a, b] };
  }
  return best;
}
