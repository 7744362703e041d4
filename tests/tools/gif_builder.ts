// Small GIFs written byte by byte for tests, from rows of indices, with
// whatever each frame should carry: disposal, transparency, a local table,
// interlacing, or image data given as it stands. The LZW coder is the
// plainest valid one (literal codes only, a clear code before the width
// would grow), so it shares nothing with the tool's encoder.

// Colours by letter, so that tables and expected pictures read as text.
export const COLOURS: Record<string, readonly [number, number, number]> = {
  K: [0, 0, 0], W: [255, 255, 255], R: [255, 0, 0], G: [0, 255, 0], B: [0, 0, 255],
  Y: [255, 255, 0], C: [0, 255, 255], M: [255, 0, 255], O: [255, 128, 0], P: [128, 0, 128],
};

export type Table = string | Uint8Array; // letters, or RGB triplets

export interface FramePlan {
  rows: string[] | { width: number; height: number; pixels: Uint8Array }; // digit rows, or indices
  left?: number;
  top?: number;
  delay?: number | null; // null: no graphic control extension
  disposal?: number;
  transparent?: number | null;
  local?: Table;
  interlaced?: boolean;
  codes?: Uint8Array; // LZW code bytes in place of the encoded rows
  codeSize?: number; // LZW minimum code size; default from the table size
}

export interface GifPlan {
  width: number;
  height: number;
  palette: Table | null;
  frames: FramePlan[];
  background?: number;
  loop?: number | null; // null: no loop extension
}

export function tableBytes(table: Table): Uint8Array {
  if (typeof table !== "string") return table;
  return Uint8Array.from([...table].flatMap((letter) => [...COLOURS[letter]!]));
}

function sizeBits(bytes: number): number {
  let bits = 0;
  while (3 << (bits + 1) < bytes) bits++;
  return bits;
}

// A table padded with black to 2^(bits+1) entries.
function paddedTable(table: Uint8Array): Uint8Array {
  const out = new Uint8Array(3 << (sizeBits(table.length) + 1));
  out.set(table);
  return out;
}

export function rowsOf(plan: FramePlan): { width: number; height: number; pixels: Uint8Array } {
  if (!Array.isArray(plan.rows)) return plan.rows;
  const rows = plan.rows as string[];
  const pixels = Uint8Array.from(rows.join(""), (c) => Number.parseInt(c, 36));
  return { width: rows[0]?.length ?? 0, height: rows.length, pixels };
}

// LZW codes for `indices`: a clear code, literals, a clear code whenever
// the dictionary would make codes wider, and the end code if asked.
export function lzwCodes(indices: ArrayLike<number>, minCodeSize: number, endCode = true): Uint8Array {
  const clear = 1 << minCodeSize;
  const width = minCodeSize + 1;
  const out: number[] = [];
  let bits = 0;
  let count = 0;
  const emit = (code: number) => {
    bits |= code << count;
    count += width;
    while (count >= 8) {
      out.push(bits & 0xff);
      bits >>>= 8;
      count -= 8;
    }
  };
  for (let i = 0; i < indices.length; i++) {
    if (i % (clear - 2) === 0) emit(clear);
    emit(indices[i]!);
  }
  if (endCode) emit(clear + 1);
  if (count > 0) out.push(bits & 0xff);
  return Uint8Array.from(out);
}

export function subBlocks(data: Uint8Array): number[] {
  const out: number[] = [];
  for (let i = 0; i < data.length; i += 255) {
    const chunk = data.subarray(i, i + 255);
    out.push(chunk.length, ...chunk);
  }
  out.push(0);
  return out;
}

function word(value: number): number[] {
  return [value & 0xff, value >> 8];
}

function frameBytes(plan: FramePlan, colours: number): number[] {
  const { width, height, pixels } = rowsOf(plan);
  const out: number[] = [];
  if (plan.delay !== null) {
    const transparent = plan.transparent ?? null;
    const packed = ((plan.disposal ?? 0) << 2) | (transparent === null ? 0 : 1);
    out.push(0x21, 0xf9, 4, packed, ...word(plan.delay ?? 10), transparent ?? 0, 0);
  }
  const local = plan.local === undefined ? null : paddedTable(tableBytes(plan.local));
  const packed = (local ? 0x80 | sizeBits(local.length) : 0) | (plan.interlaced ? 0x40 : 0);
  out.push(0x2c, ...word(plan.left ?? 0), ...word(plan.top ?? 0), ...word(width), ...word(height), packed);
  if (local) out.push(...local);
  const tableColours = local ? local.length / 3 : colours;
  const minCodeSize = plan.codeSize ?? Math.max(2, sizeBits(3 * tableColours) + 1);
  out.push(minCodeSize);
  let stored = pixels;
  if (plan.interlaced && !plan.codes) {
    stored = new Uint8Array(pixels.length);
    let line = 0;
    for (const [start, step] of [[0, 8], [4, 8], [2, 4], [1, 2]] as const) {
      for (let row = start; row < height; row += step) stored.set(pixels.subarray(row * width, (row + 1) * width), width * line++);
    }
  }
  out.push(...subBlocks(plan.codes ?? lzwCodes(stored, minCodeSize)));
  return out;
}

export function buildGif(plan: GifPlan): Uint8Array {
  const global = plan.palette === null ? null : paddedTable(tableBytes(plan.palette));
  const packed = global ? 0xf0 | sizeBits(global.length) : 0x70;
  const out: number[] = [..."GIF89a"].map((c) => c.charCodeAt(0));
  out.push(...word(plan.width), ...word(plan.height), packed, plan.background ?? 0, 0);
  if (global) out.push(...global);
  const loop = plan.loop === undefined ? 0 : plan.loop;
  if (loop !== null) out.push(0x21, 0xff, 11, ..."NETSCAPE2.0".split("").map((c) => c.charCodeAt(0)), 3, 1, ...word(loop), 0);
  const bytes = [Uint8Array.from(out)];
  for (const frame of plan.frames) bytes.push(Uint8Array.from(frameBytes(frame, global ? global.length / 3 : 2)));
  bytes.push(Uint8Array.of(0x3b));
  const joined = new Uint8Array(bytes.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of bytes) {
    joined.set(part, at);
    at += part.length;
  }
  return joined;
}
