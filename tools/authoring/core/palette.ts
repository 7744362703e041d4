// One palette of at most 256 colours for an animation that shows more:
// a Wu quantiser (image-q) on the weighted colours, refined by weighted
// k-means, and an exact nearest-entry search to map colours onto it.

import { distance, palette as quantisers, utils } from "image-q";

export const TARGET_PSNR = 27; // dB, each picture against the browser's
// The quantiser's histogram has 2^4 levels a channel: 2^5 gives the same
// palettes after refinement at many times the cost (its tables grow with
// the fourth power, alpha included).
const QUANTISER_BITS = 4;
// Colours reach the quantiser as the weighted means of cells of 2^5 levels
// a channel, repeated in proportion to their weight in a sample of about
// this many points (each point costs a comparison with every cube).
const CELL_BITS = 5;
const SAMPLE_SIZE = 1 << 14;

// RGB triplets, 3 bytes an entry.
export type Palette = Uint8Array;

// Exact nearest entry by squared RGB distance, the lowest index on a tie.
// Entries are kept sorted by green; a search walks outward from the
// query's green and stops once the green gap alone exceeds the best match.
export class NearestEntry {
  private readonly red: Int32Array;
  private readonly green: Int32Array;
  private readonly blue: Int32Array;
  private readonly index: Int32Array;
  // First sorted position with green >= g, for each g.
  private readonly startAt = new Int32Array(257);

  constructor(palette: Palette) {
    const count = palette.length / 3;
    const order = Array.from({ length: count }, (_, i) => i).sort(
      (a, b) => palette[3 * a + 1]! - palette[3 * b + 1]! || a - b,
    );
    this.red = Int32Array.from(order, (i) => palette[3 * i]!);
    this.green = Int32Array.from(order, (i) => palette[3 * i + 1]!);
    this.blue = Int32Array.from(order, (i) => palette[3 * i + 2]!);
    this.index = Int32Array.from(order);
    let position = 0;
    for (let g = 0; g <= 256; g++) {
      while (position < count && this.green[position]! < g) position++;
      this.startAt[g] = position;
    }
  }

  find(r: number, g: number, b: number): number {
    const { red, green, blue, index } = this;
    const count = index.length;
    let up = this.startAt[Math.max(0, Math.min(255, Math.round(g)))]!;
    let down = up - 1;
    let best = Infinity;
    let bestIndex = 0;
    for (;;) {
      const gapUp = up < count ? green[up]! - g : Infinity;
      const gapDown = down >= 0 ? g - green[down]! : Infinity;
      const useUp = gapUp <= gapDown;
      const gap = useUp ? gapUp : gapDown;
      if (gap * gap > best) return bestIndex;
      const at = useUp ? up++ : down--;
      const dr = red[at]! - r;
      const dg = green[at]! - g;
      const db = blue[at]! - b;
      const d = dr * dr + dg * dg + db * db;
      if (d < best || (d === best && index[at]! < bestIndex)) {
        best = d;
        bestIndex = index[at]!;
      }
    }
  }

  findKey(key: number): number {
    return this.find(key & 0xff, (key >> 8) & 0xff, (key >> 16) & 0xff);
  }
}

// The nearest palette entry of each of the first `count` colour keys.
export function mapColours(palette: Palette, keys: Uint32Array, count = keys.length): Uint8Array {
  const search = new NearestEntry(palette);
  const out = new Uint8Array(count);
  for (let i = 0; i < count; i++) out[i] = search.findKey(keys[i]!);
  return out;
}

// Squared RGB error of each colour against the entry it is mapped to.
export function mappingErrors(palette: Palette, keys: Uint32Array, mapping: Uint8Array): Float64Array {
  const errors = new Float64Array(mapping.length);
  for (let i = 0; i < mapping.length; i++) {
    const key = keys[i]!;
    const entry = 3 * mapping[i]!;
    const dr = (key & 0xff) - palette[entry]!;
    const dg = ((key >> 8) & 0xff) - palette[entry + 1]!;
    const db = ((key >> 16) & 0xff) - palette[entry + 2]!;
    errors[i] = dr * dr + dg * dg + db * db;
  }
  return errors;
}

export function psnr(squaredError: number, samples: number): number {
  return squaredError === 0 ? Infinity : 10 * Math.log10((255 * 255 * samples) / squaredError);
}

// A palette of at most `size` colours for the colours `keys[i]` weighing
// `weights[i]` (colours of weight 0 are ignored).
export function quantise(keys: Uint32Array, weights: Float64Array, size = 256): Palette {
  const sample = weightedSample(keys, weights);
  const quantiser = new quantisers.WuQuant(new distance.Euclidean(), size, QUANTISER_BITS);
  quantiser.sample(utils.PointContainer.fromUint32Array(sample, sample.length, 1));
  const points = quantiser.quantizeSync().getPointContainer().getPointArray();
  const palette = new Uint8Array(3 * points.length);
  points.forEach((point, i) => palette.set([point.r, point.g, point.b], 3 * i));
  return refine(filled(palette, keys, weights, size), keys, weights);
}

// The quantiser makes no more entries than its histogram has cells in use;
// entries to spare go to the colours that lose most, weight times error.
function filled(palette: Palette, keys: Uint32Array, weights: Float64Array, size: number): Palette {
  const spare = size - palette.length / 3;
  if (spare <= 0) return palette;
  const errors = mappingErrors(palette, keys, mapColours(palette, keys, weights.length));
  const losses = Array.from(weights, (w, i) => ({ i, loss: w * errors[i]! })).filter((colour) => colour.loss > 0);
  losses.sort((a, b) => b.loss - a.loss);
  const added = losses.slice(0, spare).map(({ i }) => keys[i]!);
  const out = new Uint8Array(palette.length + 3 * added.length);
  out.set(palette);
  added.forEach((key, n) => out.set([key & 0xff, (key >> 8) & 0xff, (key >> 16) & 0xff], palette.length + 3 * n));
  return out;
}

// The quantiser counts every sample point once, so it is given one point
// per cell (the cell's weighted mean colour), repeated in proportion to the
// cell's weight.
function weightedSample(keys: Uint32Array, weights: Float64Array): Uint32Array {
  const cells = 1 << (3 * CELL_BITS);
  const sums = new Float64Array(4 * cells);
  const shift = 8 - CELL_BITS;
  let total = 0;
  for (let i = 0; i < weights.length; i++) {
    const w = weights[i]!;
    if (!(w > 0)) continue;
    const key = keys[i]!;
    const r = key & 0xff;
    const g = (key >> 8) & 0xff;
    const b = (key >> 16) & 0xff;
    const cell = 4 * ((r >> shift) | ((g >> shift) << CELL_BITS) | ((b >> shift) << (2 * CELL_BITS)));
    sums[cell] += w;
    sums[cell + 1] += w * r;
    sums[cell + 2] += w * g;
    sums[cell + 3] += w * b;
    total += w;
  }
  const points: number[] = [];
  for (let cell = 0; cell < 4 * cells; cell += 4) {
    const w = sums[cell]!;
    if (w === 0) continue;
    const key =
      Math.round(sums[cell + 1]! / w) | (Math.round(sums[cell + 2]! / w) << 8) | (Math.round(sums[cell + 3]! / w) << 16);
    const repeats = Math.max(1, Math.round((w * SAMPLE_SIZE) / total));
    for (let k = 0; k < repeats; k++) points.push((key | 0xff000000) >>> 0);
  }
  return Uint32Array.from(points);
}

// A few rounds of weighted k-means from a starting palette.
export function refine(palette: Palette, keys: Uint32Array, weights: Float64Array, rounds = 3): Palette {
  let current = palette;
  const count = palette.length / 3;
  for (let round = 0; round < rounds; round++) {
    const mapping = mapColours(current, keys, weights.length);
    const sums = new Float64Array(4 * count);
    for (let i = 0; i < weights.length; i++) {
      const w = weights[i]!;
      if (!(w > 0)) continue;
      const key = keys[i]!;
      const at = 4 * mapping[i]!;
      sums[at] += w;
      sums[at + 1] += w * (key & 0xff);
      sums[at + 2] += w * ((key >> 8) & 0xff);
      sums[at + 3] += w * ((key >> 16) & 0xff);
    }
    const next = current.slice();
    for (let entry = 0; entry < count; entry++) {
      const mass = sums[4 * entry]!;
      if (mass === 0) continue;
      for (let channel = 0; channel < 3; channel++) {
        next[3 * entry + channel] = Math.round(sums[4 * entry + 1 + channel]! / mass);
      }
    }
    current = next;
  }
  return current;
}

// Floyd-Steinberg error diffusion of whole pictures onto a palette.
export class Ditherer {
  private readonly search: NearestEntry;
  // Nearest entry of each 24-bit colour met so far, -1 when not looked up.
  private readonly cache = new Int16Array(1 << 24).fill(-1);
  private errorRow: Float32Array;
  private nextRow: Float32Array;

  constructor(
    private readonly palette: Palette,
    private readonly width: number,
  ) {
    this.search = new NearestEntry(palette);
    this.errorRow = new Float32Array(3 * (width + 2));
    this.nextRow = new Float32Array(3 * (width + 2));
  }

  // Writes into `out` the palette index of each pixel of a picture of
  // colour ids whose keys are `keys`.
  picture(ids: Uint32Array, keys: Uint32Array, height: number, out: Uint8Array): void {
    this.errorRow.fill(0);
    for (let y = 0; y < height; y++) {
      this.nextRow.fill(0);
      this.row(ids, keys, y * this.width, out);
      [this.errorRow, this.nextRow] = [this.nextRow, this.errorRow];
    }
  }

  private row(ids: Uint32Array, keys: Uint32Array, start: number, out: Uint8Array): void {
    const { palette, errorRow: here, nextRow: below } = this;
    for (let x = 0; x < this.width; x++) {
      const key = keys[ids[start + x]!]!;
      const e = 3 * (x + 1);
      const r = clampByte((key & 0xff) + here[e]!);
      const g = clampByte(((key >> 8) & 0xff) + here[e + 1]!);
      const b = clampByte(((key >> 16) & 0xff) + here[e + 2]!);
      const entry = this.nearest(r, g, b);
      out[start + x] = entry;
      spread(here, below, e, r - palette[3 * entry]!);
      spread(here, below, e + 1, g - palette[3 * entry + 1]!);
      spread(here, below, e + 2, b - palette[3 * entry + 2]!);
    }
  }

  private nearest(r: number, g: number, b: number): number {
    const key = r | (g << 8) | (b << 16);
    let entry = this.cache[key]!;
    if (entry < 0) entry = this.cache[key] = this.search.find(r, g, b);
    return entry;
  }
}

// One channel's error to the pixel on the right and the three below.
function spread(here: Float32Array, below: Float32Array, at: number, error: number): void {
  here[at + 3] += (error * 7) / 16;
  below[at - 3] += (error * 3) / 16;
  below[at] += (error * 5) / 16;
  below[at + 3] += error / 16;
}

function clampByte(value: number): number {
  return value <= 0 ? 0 : value >= 255 ? 255 : Math.round(value);
}
