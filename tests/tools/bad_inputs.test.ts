// Bad input at volume: every GIF of the corpus cut short, with bytes
// changed, and with frames declared huge, a few thousand variants from a
// fixed seed, through check, flatten and make. Each must give an output or
// one clear refusal: never another exception, never a hang. The variants run
// in a worker thread so that a case that does not end can be stopped and
// named. A sample then goes through the real command line, which must say
// one "animpack: error:" line and leave every file as it was.

import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import * as fs from "node:fs";
import * as os from "node:os";
import * as path from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";
import { isMainThread, parentPort, Worker, workerData } from "node:worker_threads";
import { findSection, sectionPayload } from "../../tools/authoring/core/container.ts";
import { Refusal } from "../../tools/authoring/core/errors.ts";
import { parseGif } from "../../tools/authoring/core/gif_read.ts";
import {
  checkGif,
  DEFAULT_OPTIONS,
  flattenGif,
  makeAnimation,
  type MakeOptions,
  type NamedBytes,
} from "../../tools/authoring/core/make.ts";

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..", "..");
const CORPUS = path.join(ROOT, "tests", "data", "gif");
const BUILT_PLAYER = path.join(ROOT, "build", "win", "src", "player.exe");
const CLI = path.join(ROOT, "tools", "authoring", "cli", "main.ts");
const SEED = 0x17bad;
const CASE_LIMIT_MS = 20_000;
const CLI_SAMPLE = 20;
const WORKER_MARK = "bad-inputs-worker";

// ---------------------------------------------------------------- variants

// Marsaglia's xorshift: a fixed sequence from a seed on every machine.
function randomSource(seed: number): () => number {
  let state = seed >>> 0 || 1;
  return () => {
    state ^= state << 13;
    state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5;
    state >>>= 0;
    return state / 2 ** 32;
  };
}

function nameSeed(name: string): number {
  let hash = SEED;
  for (const c of name) hash = Math.imul(hash ^ c.charCodeAt(0), 0x01000193) >>> 0;
  return hash;
}

interface Variant {
  file: string; // relative to the corpus
  cut: number | null; // bytes kept
  changes: [number, number][]; // offset, new value
}

function describe(variant: Variant): string {
  const parts = [variant.file];
  if (variant.cut !== null) parts.push(`cut to ${variant.cut} bytes`);
  if (variant.changes.length > 0) {
    parts.push(`bytes ${variant.changes.map(([at, value]) => `${at}=0x${value.toString(16)}`).join(" ")}`);
  }
  return parts.join(", ");
}

function applied(variant: Variant, original: Uint8Array): Uint8Array {
  const bytes = original.slice(0, variant.cut ?? original.length);
  for (const [at, value] of variant.changes) if (at < bytes.length) bytes[at] = value;
  return bytes;
}

function corpusFiles(): string[] {
  const found = fs.readdirSync(CORPUS, { recursive: true, encoding: "utf8" });
  return found.filter((name) => name.endsWith(".gif")).sort();
}

// Fewer variants of the large files: altered, they are flattened in full.
function variantCount(size: number): number {
  return Math.max(8, Math.min(60, Math.floor(2e6 / (size + 20_000))));
}

// Offsets of the width fields of the screen and of each frame (the height
// follows), found in the file as it is, where huge sizes are declared.
function sizeFields(bytes: Uint8Array): number[] {
  const fields = [6];
  try {
    for (const frame of parseGif(bytes).frames) fields.push(frame.dataOffset - 6 - (frame.localTable?.length ?? 0));
  } catch {
    // Not a GIF to begin with: the screen's fields only.
  }
  return fields;
}

// The high byte of one dimension of a frame, or of both dimensions (of a
// frame or the screen): from thousands of pixels up to 65535 x 65535.
function hugeSize(random: () => number, fields: number[]): [number, number][] {
  const field = fields[Math.floor(random() * fields.length)]!;
  const high = random() < 0.5 ? 0xff : 0x7f;
  if (field === 6 || random() < 0.5) return [[field + 1, high], [field + 3, high]];
  return [[field + (random() < 0.5 ? 1 : 3), high]];
}

function changedBytes(random: () => number, length: number, count: number): [number, number][] {
  const head = Math.min(length, 800);
  return Array.from({ length: count }, (): [number, number] => {
    const at = Math.floor(random() * (random() < 0.5 ? head : length));
    const pick = random();
    const value = pick < 0.25 ? 0xff : pick < 0.375 ? 0 : Math.floor(random() * 256);
    return [at, value];
  });
}

function fileVariants(file: string, bytes: Uint8Array): Variant[] {
  const random = randomSource(nameSeed(file));
  const fields = sizeFields(bytes);
  const cutAt = () => 1 + Math.floor(random() * (random() < 0.3 ? Math.min(bytes.length, 800) : bytes.length - 1));
  return Array.from({ length: variantCount(bytes.length) }, (_, k): Variant => {
    switch (k % 4) {
      case 0:
        return { file, cut: cutAt(), changes: [] };
      case 1:
        return { file, cut: null, changes: changedBytes(random, bytes.length, 1 + Math.floor(random() * 4)) };
      case 2: {
        const cut = cutAt();
        return { file, cut, changes: changedBytes(random, cut, 1 + Math.floor(random() * 3)) };
      }
      default:
        return { file, cut: null, changes: hugeSize(random, fields) };
    }
  });
}

function allVariants(): { variants: Variant[]; originals: Map<string, Uint8Array> } {
  const originals = new Map<string, Uint8Array>();
  const variants: Variant[] = [];
  for (const file of corpusFiles()) {
    const bytes = new Uint8Array(fs.readFileSync(path.join(CORPUS, file)));
    originals.set(file, bytes);
    variants.push(...fileVariants(file, bytes));
  }
  return { variants, originals };
}

// Options vary with the variant so that every path is taken somewhere.
function optionsFor(index: number): MakeOptions {
  return {
    ...DEFAULT_OPTIONS,
    keepTruncated: index % 2 === 1,
    browserTiming: index % 3 === 2,
    dither: index % 11 === 5,
    background: index % 13 === 7 ? [12, 34, 56] : null,
  };
}

// A minimal 32-bit PE image (DOS header, PE header, one 512-byte section),
// standing in for the player when the build has not made it.
function fakePlayer(): Uint8Array {
  const optionalSize = 0xe0;
  const headerEnd = 64 + 4 + 20 + optionalSize + 40;
  const rawPointer = Math.ceil(headerEnd / 512) * 512;
  const image = new Uint8Array(rawPointer + 512);
  const view = new DataView(image.buffer);
  image.set([0x4d, 0x5a]);
  view.setUint32(0x3c, 64, true);
  image.set([0x50, 0x45, 0, 0], 64);
  const coff = 68;
  view.setUint16(coff, 0x14c, true);
  view.setUint16(coff + 2, 1, true);
  view.setUint16(coff + 16, optionalSize, true);
  view.setUint16(coff + 18, 0x0102, true);
  view.setUint16(coff + 20, 0x10b, true);
  const section = coff + 20 + optionalSize;
  image.set(new TextEncoder().encode(".text"), section);
  for (const [at, value] of [[8, 512], [12, 0x1000], [16, 512], [20, rawPointer], [36, 0x60000020]]) {
    view.setUint32(section + at, value, true);
  }
  return image;
}

function playerBytes(): Uint8Array {
  return fs.existsSync(BUILT_PLAYER) ? new Uint8Array(fs.readFileSync(BUILT_PLAYER)) : fakePlayer();
}

// ---------------------------------------------------------------- one case

type Operation = "check" | "flatten" | "make";

interface Verdict {
  operation: Operation;
  outcome: "output" | "refused" | "fault";
  text: string; // the refusal, or what went wrong
  data: Uint8Array | null;
}

function sameBytes(a: Uint8Array, b: Uint8Array): boolean {
  return a.length === b.length && a.every((value, i) => value === b[i]);
}

// A refusal is one sentence a front end can show as it is.
function refusalFault(message: string): string {
  if (message.trim() === "" || /\n/.test(message)) return "a refusal that is not one line";
  if (/\bundefined\b|\bNaN\b|\[object /.test(message)) return "a refusal showing a program value";
  return "";
}

// A GIF that was written, not passed through, must read whole.
function writtenGifFault(data: Uint8Array, input: Uint8Array): string {
  if (sameBytes(data, input)) return "";
  const gif = parseGif(data);
  if (gif.truncated || gif.endedEarly !== "") return `the written GIF ends early (${gif.endedEarly})`;
  if (gif.frames.length === 0 || gif.globalTable === null) return "the written GIF has no frame or no colours";
  return gif.frames.every((frame) => frame.playerHasPixels) ? "" : "a written frame holds no pixels";
}

function outputFault(operation: Operation, result: unknown, gif: Uint8Array): string {
  const report = result as { lines: unknown[]; warnings: unknown[] };
  const lines = [...report.lines, ...report.warnings];
  if (!lines.every((line) => typeof line === "string" && !line.includes("\n"))) {
    return "report lines are not one line each";
  }
  if (operation === "flatten") return writtenGifFault((result as { data: Uint8Array }).data, gif);
  if (operation !== "make") return "";
  const made = result as { exe: Uint8Array; packedGif: Uint8Array };
  const section = findSection(made.exe, "gif");
  if (section === null || !section.usable || !sameBytes(sectionPayload(made.exe, section), made.packedGif)) {
    return "the player would not find the packed GIF in the animation";
  }
  return writtenGifFault(made.packedGif, gif);
}

// The GIF an operation wrote or packed.
function gifOf(operation: Operation, result: unknown): Uint8Array | null {
  if (operation === "flatten") return (result as { data: Uint8Array }).data;
  if (operation === "make") return (result as { packedGif: Uint8Array }).packedGif;
  return null;
}

function thrownFault(error: unknown): string {
  if (error instanceof Refusal) return `${refusalFault(error.message)}: ${JSON.stringify(error.message)}`;
  return error instanceof Error ? (error.stack ?? error.message) : String(error);
}

function attempt(operation: Operation, gif: Uint8Array, work: () => unknown): Verdict {
  try {
    const result = work();
    const fault = outputFault(operation, result, gif);
    return { operation, outcome: fault ? "fault" : "output", text: fault, data: gifOf(operation, result) };
  } catch (error) {
    if (error instanceof Refusal && !refusalFault(error.message)) {
      return { operation, outcome: "refused", text: error.message, data: null };
    }
    return { operation, outcome: "fault", text: thrownFault(error), data: null };
  }
}

function work(operation: Operation, gif: NamedBytes, player: NamedBytes, options: MakeOptions): () => unknown {
  if (operation === "check") return () => checkGif(gif, options);
  if (operation === "flatten") return () => flattenGif(gif, options);
  return () => makeAnimation({ player, gif }, options);
}

// The three operations on one variant, and what must hold between them:
// flatten and make refuse what check refuses, and make packs the GIF that
// flatten writes (unless it packs it as is).
function runCase(gif: NamedBytes, player: NamedBytes, options: MakeOptions, asIs: boolean): Verdict[] {
  const checked = attempt("check", gif.bytes, work("check", gif, player, options));
  const flattened = attempt("flatten", gif.bytes, work("flatten", gif, player, options));
  const made = attempt("make", gif.bytes, work("make", gif, player, { ...options, asIs }));
  const verdicts = [checked, flattened, made];
  if (checked.outcome === "refused") {
    for (const other of [flattened, made]) {
      if (other.outcome !== "output") continue;
      const text = `${other.operation} gave an output where check refused: ${checked.text}`;
      verdicts.push({ ...other, outcome: "fault", text });
    }
  }
  if (!asIs && flattened.data && made.data && !sameBytes(flattened.data, made.data)) {
    const text = "make packed another GIF than flatten wrote";
    verdicts.push({ operation: "make", outcome: "fault", text, data: null });
  }
  return verdicts;
}

// ---------------------------------------------------------------- the worker

interface Tally {
  variants: number;
  outputs: number;
  refusals: number;
  messages: string[]; // distinct refusals
  faults: string[];
  slowest: { ms: number; name: string }[]; // the few slowest cases
}

function serveVariants(): void {
  const port = parentPort!;
  const { variants, originals } = allVariants();
  const player = { name: "player.exe", bytes: playerBytes() };
  const messages = new Set<string>();
  const tally: Tally = {
    variants: variants.length,
    outputs: 0,
    refusals: 0,
    messages: [],
    faults: [],
    slowest: [],
  };
  variants.forEach((variant, index) => {
    const name = describe(variant);
    port.postMessage({ type: "start", name });
    const started = performance.now();
    const gif = { name: variant.file, bytes: applied(variant, originals.get(variant.file)!) };
    for (const verdict of runCase(gif, player, optionsFor(index), index % 5 === 4)) {
      if (verdict.outcome === "output") tally.outputs++;
      if (verdict.outcome === "refused") {
        tally.refusals++;
        messages.add(verdict.text.replace(/\d+/g, "N"));
      }
      if (verdict.outcome === "fault") tally.faults.push(`${name}: ${verdict.operation}: ${verdict.text}`);
    }
    tally.slowest.push({ ms: performance.now() - started, name });
    tally.slowest = tally.slowest.sort((a, b) => b.ms - a.ms).slice(0, 3);
  });
  tally.messages = [...messages].sort();
  port.postMessage({ type: "done", tally });
}

// The variants in a worker thread that loads TypeScript as this process does;
// a case running past the limit stops the worker and is named.
function variantsInWorker(): Promise<Tally> {
  const entry = import.meta.url;
  const boot =
    `(async () => { const { register } = await import(${JSON.stringify(import.meta.resolve("tsx/esm/api"))});` +
    ` register(); await import(${JSON.stringify(entry)}); })()`;
  const worker = new Worker(boot, { eval: true, workerData: WORKER_MARK });
  return new Promise((resolve, reject) => {
    let timer: NodeJS.Timeout | undefined;
    const stop = (error: Error) => {
      clearTimeout(timer);
      void worker.terminate();
      reject(error);
    };
    worker.on("message", (message: { type: "start"; name: string } | { type: "done"; tally: Tally }) => {
      clearTimeout(timer);
      if (message.type === "done") {
        void worker.terminate();
        resolve(message.tally);
        return;
      }
      const late = new Error(`${message.name}: no answer within ${CASE_LIMIT_MS / 1000} s`);
      timer = setTimeout(() => stop(late), CASE_LIMIT_MS);
    });
    worker.on("error", stop);
    worker.on("exit", (code) => stop(new Error(`the worker ended with code ${code} before it was done`)));
  });
}

// ---------------------------------------------------------------- the command line

function snapshot(folder: string): Map<string, string> {
  const names = fs.readdirSync(folder).sort();
  return new Map(names.map((name) => [name, fs.readFileSync(path.join(folder, name)).toString("base64")]));
}

// A folder holding the variant, the player and earlier outputs, and the
// command line for `operation` on them.
function commandFolder(operation: Operation, bytes: Uint8Array): { folder: string; args: string[] } {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "animpack-bad-"));
  const [gif, player, gifOut, exeOut] = ["in.gif", "player.exe", "out.gif", "out.exe"].map((name) =>
    path.join(folder, name),
  );
  fs.writeFileSync(gif, bytes);
  fs.writeFileSync(player, playerBytes());
  fs.writeFileSync(gifOut, "an earlier output\n");
  fs.writeFileSync(exeOut, "an earlier animation\n");
  const args = {
    check: ["check", gif],
    flatten: ["flatten", gif, gifOut],
    make: ["make", exeOut, "--gif", gif, "--player", player],
  }[operation];
  return { folder, args };
}

// What the core says about the variant, named as the command line names it.
function inProcess(operation: Operation, folder: string, bytes: Uint8Array): Verdict {
  const gif = { name: path.join(folder, "in.gif"), bytes };
  const playerPath = path.join(folder, "player.exe");
  const player = { name: playerPath, bytes: new Uint8Array(fs.readFileSync(playerPath)) };
  return attempt(operation, bytes, work(operation, gif, player, DEFAULT_OPTIONS));
}

function runCommandLine(args: string[]) {
  const options = { cwd: ROOT, encoding: "utf8" as const, timeout: 60_000 };
  return spawnSync(process.execPath, ["--import", "tsx", CLI, ...args], options);
}

// ---------------------------------------------------------------- tests

if (!isMainThread && workerData === WORKER_MARK) {
  serveVariants();
} else {
  test("every cut or altered corpus GIF gets an output or one clear refusal from check, flatten and make", async (t) => {
    const started = performance.now();
    const tally = await variantsInWorker();
    const seconds = ((performance.now() - started) / 1000).toFixed(1);
    t.diagnostic(
      `${tally.variants} variants in ${seconds} s: ${tally.outputs} outputs, ` +
        `${tally.refusals} refusals (${tally.messages.length} distinct); slowest cases ` +
        tally.slowest.map((c) => `${c.ms.toFixed(0)} ms (${c.name})`).join(", "),
    );
    assert.deepEqual(tally.faults.slice(0, 10), [], `${tally.faults.length} fault(s)`);
    assert.ok(tally.variants >= 2000, `only ${tally.variants} variants`);
    assert.ok(tally.outputs > 0 && tally.refusals > 0, "the variants should both pass and fail");
  });

  // Refused variants of the smaller files, spread over the corpus and the
  // three commands.
  test("the command line answers a sample with one error line and leaves the files as they were", () => {
    const { variants, originals } = allVariants();
    const operations: Operation[] = ["check", "flatten", "make"];
    let sampled = 0;
    for (let i = 0; i < variants.length && sampled < CLI_SAMPLE; i += 7) {
      const variant = variants[i]!;
      if (originals.get(variant.file)!.length > 20_000) continue;
      const operation = operations[sampled % 3]!;
      const bytes = applied(variant, originals.get(variant.file)!);
      const { folder, args } = commandFolder(operation, bytes);
      try {
        const verdict = inProcess(operation, folder, bytes);
        if (verdict.outcome !== "refused") continue;
        sampled++;
        const before = snapshot(folder);
        const run = runCommandLine(args);
        const name = `${operation} on ${describe(variant)}`;
        assert.equal(run.status, 1, `${name}: exit status ${run.status} (${run.signal ?? "no signal"})`);
        assert.equal(run.stderr, `animpack: error: ${verdict.text}\n`, name);
        assert.equal(run.stdout, "", name);
        assert.deepEqual(snapshot(folder), before, `${name}: the folder changed`);
      } finally {
        fs.rmSync(folder, { recursive: true, force: true });
      }
    }
    assert.equal(sampled, CLI_SAMPLE);
  });
}
