// The one pipeline behind the command line and the page: bytes in, the
// animation's bytes and the lines to show out. Nothing here touches files or
// the screen, so both front ends make byte-identical animations from the
// same inputs and say the same things about them.

import { Refusal } from "./errors.ts";
import type { GifFile, Progress } from "./gif_types.ts";
import { completeFrames, frameIsWhole, parseGif } from "./gif_read.ts";
import {
  analyse,
  checkDecodable,
  inputMemory,
  memoryNotes,
  MEMORY_LIMIT,
  memoryRefusal,
  mib,
  playerMemory,
  playTime,
  type Findings,
} from "./analysis.ts";
import { flatten, type FlattenResult } from "./flatten.ts";
import { findSections, overlaySections, packSections, sectionPayload, SECTION_KINDS, TAGS } from "./container.ts";
import type { Section, SectionKind } from "./container.ts";
import { bareStub } from "./pe.ts";
import { setDescription, setIcon } from "./resources.ts";
import { checkMidi, checkWave } from "./media.ts";
import { grouped } from "./wording.ts";

export interface NamedBytes {
  name: string;
  bytes: Uint8Array;
}

export interface MakeInputs {
  player: NamedBytes;
  gif: NamedBytes;
  wave?: NamedBytes;
  midi?: NamedBytes;
  icon?: NamedBytes;
  description?: string;
}

export interface MakeOptions {
  asIs: boolean;
  browserTiming: boolean;
  background: [number, number, number] | null;
  dither: boolean;
  keepTruncated: boolean;
}

// What a front end shows: `lines` as the outcome, `warnings` apart (the
// command line prints them on stderr after "warning:").
export interface Report {
  lines: string[];
  warnings: string[];
}

export type CheckReport = Report & { flattens: boolean };

export interface MakeResult extends Report {
  // What `check` says of the same GIF with the same options, from the same
  // reading of it.
  check: CheckReport;
  exe: Uint8Array;
  // The GIF inside the animation.
  packedGif: Uint8Array;
  // The GIF as read: the input, or its complete frames when a cut GIF is
  // kept.
  inputGif: Uint8Array;
}

export const DEFAULT_OPTIONS: Readonly<MakeOptions> = {
  asIs: false,
  browserTiming: false,
  background: null,
  dither: false,
  keepTruncated: false,
};

// Above this ratio of packed to input size the author is told why and what
// would help.
const GROWTH_WORTH_EXPLAINING = 2;

export const EXTRACTED_NAMES: Readonly<Record<SectionKind, string>> = {
  gif: "animation.gif",
  wave: "sound.wav",
  midi: "song.mid",
};

// ---------------------------------------------------------------- wording

function plural(count: number, word: string): string {
  return `${count} ${word}${count === 1 ? "" : "s"}`;
}

function seconds(value: number): string {
  return `${value.toFixed(2)} s`;
}

function describeGif(width: number, height: number, delays: number[], memory: number): string {
  const timing = delays.length > 1 ? `one loop ${seconds(playTime(delays))}` : "a still picture";
  return `${delays.length} frame(s), ${width}x${height}, ${timing}, player memory ${mib(memory)}`;
}

function colourNote(result: FlattenResult): string {
  if (result.exact) return `${result.colours} colours, kept exactly`;
  let note = `${result.colours} colours reduced to ${result.paletteSize}`;
  if (Number.isFinite(result.minPsnr) && result.psnrs.length > 0) {
    note += ` (lowest picture PSNR ${result.minPsnr.toFixed(1)} dB)`;
  }
  return note;
}

function splitNote(result: FlattenResult): string[] {
  if (!result.splitPictures) return [];
  return [
    `  ${plural(result.splitPictures, "picture")} written as several smaller rectangles, ` +
      `${grouped(result.splitSavedBytes)} bytes saved`,
  ];
}

// ---------------------------------------------------------------- reading

// Runs `work`, naming `name` in any refusal it makes.
function naming<T>(name: string, work: () => T): T {
  try {
    return work();
  } catch (error) {
    if (error instanceof Refusal && !error.message.startsWith(`${name}: `)) {
      throw new Refusal(`${name}: ${error.message}`);
    }
    throw error;
  }
}

interface ReadGif {
  gif: GifFile;
  // Said about the input before anything else (a cut GIF kept).
  warnings: string[];
}

// The GIF bytes up to the end of its last whole frame, with a trailer.
function wholeFramesOnly(gif: GifFile): Uint8Array {
  const whole = gif.frames.filter((frame) => frameIsWhole(gif, frame));
  const end = whole[whole.length - 1].dataEnd + 1;
  const bytes = new Uint8Array(end + 1);
  bytes.set(gif.bytes.subarray(0, end));
  bytes[end] = 0x3b;
  return bytes;
}

// Parses the GIF and applies the memory rule at once, before any pixel is
// decoded, then decides about a GIF cut short.
function readGif(input: NamedBytes, keepTruncated: boolean): ReadGif {
  return naming(input.name, () => {
    const gif = parseGif(input.bytes);
    checkDecodable(gif);
    if (!gif.truncated) return { gif, warnings: [] };
    const whole = completeFrames(gif);
    const cut = `the GIF is cut short (${gif.endedEarly})`;
    if (whole === 0) throw new Refusal(`${cut}: no frame is complete, so there is nothing to pack`);
    const complete = whole === 1 ? "1 frame is complete" : `${whole} frames are complete`;
    if (!keepTruncated) throw new Refusal(`${cut}: ${complete}; --keep-truncated packs those`);
    const kept = parseGif(wholeFramesOnly(gif));
    if (kept.truncated || kept.frames.length !== whole) {
      throw new Error(`cutting the GIF after its ${whole} whole frame(s) gave ${kept.frames.length}`);
    }
    const used = whole === 1 ? "only its one complete frame is used" : `only its ${whole} complete frames are used`;
    return { gif: kept, warnings: [`${input.name} is cut short: ${used}`] };
  });
}

// ---------------------------------------------------------------- the GIF

interface PreparedGif {
  bytes: Uint8Array;
  summary: string[];
  delays: number[];
  memory: number;
  findings: Findings;
}

function retimes(findings: Findings, options: MakeOptions): boolean {
  return options.browserTiming && findings.shortDelays > 0;
}

function outputMemory(gif: GifFile, result: FlattenResult): number {
  const sizes = result.frames.map((frame): [number, number] => [
    frame.rect[2] - frame.rect[0],
    frame.rect[3] - frame.rect[1],
  ]);
  return playerMemory(result.data.length, gif.width, gif.height, sizes);
}

function refuseWithoutGlobalTable(gif: GifFile): void {
  if (gif.globalTable === null) {
    throw new Refusal("no global colour table: the player would not play it");
  }
}

function flattened(gif: GifFile, findings: Findings, options: MakeOptions, progress?: Progress): PreparedGif {
  const reasons = findings.differences();
  if (retimes(findings, options)) reasons.push(`${findings.shortDelays} delay(s) of 0 or 1 rewritten to 10`);
  const result = flatten(gif, options, progress);
  return {
    bytes: result.data,
    summary: [`GIF flattened: ${reasons.slice(0, 2).join("; ")}`, `  ${colourNote(result)}`, ...splitNote(result)],
    delays: result.frames.map((frame) => frame.delay),
    memory: outputMemory(gif, result),
    findings,
  };
}

// The GIF to pack: as it is when asked or when the player already shows it
// as a browser does, else flattened. Timing notes go to `warnings`.
function prepareGif(gif: GifFile, name: string, options: MakeOptions, warnings: string[], progress?: Progress): PreparedGif {
  if (options.asIs) naming(name, () => refuseWithoutGlobalTable(gif));
  const findings = analyse(gif, options.background, progress);
  warnings.push(...findings.timingNotes());
  const asRead = { bytes: gif.bytes, delays: gif.frames.map((frame) => frame.delay), memory: findings.memory, findings };
  if (options.asIs) {
    warnings.push(...findings.differences().map((line) => `as is: ${line}`));
    return { ...asRead, summary: ["GIF packed as is"] };
  }
  if (findings.playsAsBrowser && !retimes(findings, options)) {
    return { ...asRead, summary: ["GIF passed through unchanged: the player shows it as a browser does"] };
  }
  return flattened(gif, findings, options, progress);
}

function checkMemory(memory: number): void {
  if (memory > MEMORY_LIMIT) throw new Refusal(memoryRefusal(memory));
}

// The output's size against the input's, and above twice the input why it
// grew and what would help.
function sizeLines(what: string, size: number, input: number, warnings: string[]): string[] {
  const ratio = size / input;
  if (ratio > GROWTH_WORTH_EXPLAINING) {
    warnings.push(
      `the ${what} is ${ratio.toFixed(1)}× the input: the player paints each frame's changed area as ` +
        `one opaque rectangle, so transparent (unchanged) pixels inside it are stored again. Fewer or ` +
        `smaller changing areas, fewer colours, or packing the GIF as it is (make --as-is) if the ` +
        `differences above are acceptable would make it smaller`,
    );
  }
  return [`${what}: ${grouped(size)} bytes, ${ratio.toFixed(2)}× the input's ${grouped(input)}`];
}

// ---------------------------------------------------------------- the player

interface PreparedPlayer {
  image: Uint8Array;
  lines: string[];
}

function preparePlayer(inputs: MakeInputs): PreparedPlayer {
  const { player, icon, description } = inputs;
  const lines: string[] = [];
  let image = naming(player.name, () => {
    const old = overlaySections(player.bytes);
    if (old.length > 0) {
      lines.push(`dropped the player's earlier sections: ${old.map((s) => s.kind.toUpperCase()).join(", ")}`);
    }
    return bareStub(player.bytes);
  });
  if (icon) {
    image = setIcon(image, icon.bytes, icon.name);
    lines.push(`icon: ${icon.name}`);
  }
  if (description !== undefined) {
    image = setDescription(image, description);
    lines.push(`description: ${description.trim()}`);
  }
  return { image, lines };
}

// ---------------------------------------------------------------- sounds

interface Sounds {
  wave?: Uint8Array;
  midi?: Uint8Array;
  waveSeconds: number;
  lines: string[];
}

function readSounds(inputs: MakeInputs): Sounds {
  const sounds: Sounds = { waveSeconds: 0, lines: [] };
  if (inputs.wave) {
    const wave = checkWave(inputs.wave.bytes, inputs.wave.name);
    sounds.wave = wave.data;
    sounds.waveSeconds = wave.seconds;
  }
  if (inputs.midi) {
    const midi = checkMidi(inputs.midi.bytes, inputs.midi.name);
    sounds.midi = midi.data;
    if (midi.note) sounds.lines.push(midi.note);
  }
  return sounds;
}

function waveWarning(sounds: Sounds, name: string, delays: number[]): string[] {
  if (!sounds.wave || delays.length < 2) return [];
  const loop = playTime(delays);
  if (sounds.waveSeconds <= loop) return [];
  return [
    `${name} lasts ${seconds(sounds.waveSeconds)}, longer than one loop of the animation ` +
      `(${seconds(loop)}): the player starts it again at every loop, so only its first ` +
      `${seconds(loop)} are heard`,
  ];
}

function soundList(sounds: Sounds): string {
  const parts: string[] = [];
  if (sounds.wave) parts.push(`WAVE (${grouped(sounds.wave.length)} bytes)`);
  if (sounds.midi) parts.push(`MIDI (${grouped(sounds.midi.length)} bytes)`);
  return parts.length > 0 ? parts.join(", ") : "none";
}

// ---------------------------------------------------------------- make

// The animation: the player (with its earlier sections dropped, and the
// icon and description set) followed by the GIF and the sounds. Cheap
// checks of every input come before the GIF's pixels are looked at.
export function makeAnimation(inputs: MakeInputs, options: MakeOptions, progress?: Progress): MakeResult {
  const read = readGif(inputs.gif, options.keepTruncated);
  const sounds = readSounds(inputs);
  const player = preparePlayer(inputs);
  const warnings = [...read.warnings];
  const gif = read.gif;
  const prepared = prepareGif(gif, inputs.gif.name, options, warnings, progress);
  checkMemory(prepared.memory);
  warnings.push(...memoryNotes(prepared.memory));
  if (inputs.wave) warnings.push(...waveWarning(sounds, inputs.wave.name, prepared.delays));
  const exe = packSections(player.image, { gif: prepared.bytes, wave: sounds.wave, midi: sounds.midi });
  const lines = [
    ...player.lines,
    ...prepared.summary,
    ...sounds.lines,
    `animation: ${describeGif(gif.width, gif.height, prepared.delays, prepared.memory)}; sounds: ${soundList(sounds)}`,
    ...sizeLines("packed GIF", prepared.bytes.length, inputs.gif.bytes.length, warnings),
  ];
  const check = checkReport(inputs.gif.name, gif, prepared.findings, options, read.warnings);
  return { lines, warnings, check, exe, packedGif: prepared.bytes, inputGif: gif.bytes };
}

// ---------------------------------------------------------------- check

function checkVerdict(gif: GifFile, findings: Findings, options: MakeOptions): { line: string; flattens: boolean } {
  if (options.asIs) {
    refuseWithoutGlobalTable(gif);
    return { line: "make --as-is: packs it unchanged, differences and all", flattens: false };
  }
  if (findings.playsAsBrowser && !retimes(findings, options)) {
    return { line: "make: passes it through unchanged (the player shows it as a browser does)", flattens: false };
  }
  return { line: "make: flattens it (one colour table, opaque changed rectangles, delays kept)", flattens: true };
}

// What the player would show differently from a browser and what make would
// do about it; refuses what make refuses, with the same words.
export function checkGif(input: NamedBytes, options: MakeOptions, progress?: Progress): CheckReport {
  const read = readGif(input, options.keepTruncated);
  const findings = naming(input.name, () => analyse(read.gif, options.background, progress));
  return checkReport(input.name, read.gif, findings, options, read.warnings);
}

function checkReport(name: string, gif: GifFile, findings: Findings, options: MakeOptions, warnings: string[]): CheckReport {
  const delays = gif.frames.map((frame) => frame.delay);
  const verdict = naming(name, () => checkVerdict(gif, findings, options));
  const lines = [
    `${name}: ${describeGif(gif.width, gif.height, delays, findings.memory)}`,
    ...findings.differences().map((line) => `  ${line}`),
    ...findings.timingNotes().map((line) => `  ${line}`),
    ...memoryNotes(findings.memory).map((line) => `  ${line}`),
    verdict.line,
  ];
  return { lines, warnings: [...warnings], flattens: verdict.flattens };
}

// ---------------------------------------------------------------- flatten

// A GIF that the player shows as a browser does: the input's bytes when it
// already is one.
export function flattenGif(input: NamedBytes, options: MakeOptions, progress?: Progress): Report & { data: Uint8Array } {
  const read = readGif(input, options.keepTruncated);
  const gif = read.gif;
  const warnings = [...read.warnings];
  const findings = naming(input.name, () => analyse(gif, options.background, progress));
  if (findings.playsAsBrowser && !retimes(findings, options)) {
    return { lines: ["unchanged: the player shows it as a browser does"], warnings, data: gif.bytes };
  }
  const result = flatten(gif, options, progress);
  const delays = result.frames.map((frame) => frame.delay);
  const lines = [
    `flattened: ${describeGif(gif.width, gif.height, delays, outputMemory(gif, result))}; ${colourNote(result)}`,
    ...splitNote(result),
    ...sizeLines("flattened GIF", result.data.length, input.bytes.length, warnings),
  ];
  return { lines, warnings, data: result.data };
}

// ---------------------------------------------------------------- list, extract

export interface ListedSection {
  kind: SectionKind;
  tag: string;
  offset: number;
  length: number;
  // Why the player cannot use it; "" when it can.
  note: string;
  payload: Uint8Array | null;
}

const STATE_NOTES: Readonly<Record<Section["state"], string>> = {
  ok: "",
  absent: "length counts as absent",
  truncated: "truncated: runs past the end of the file",
  "cut length": "the length field is cut off by the end of the file",
};

function gifSummary(bytes: Uint8Array): string {
  let gif: GifFile;
  try {
    gif = parseGif(bytes);
  } catch (error) {
    if (error instanceof Refusal) return `not a playable GIF: ${error.message}`;
    throw error;
  }
  const delays = gif.frames.map((frame) => frame.delay);
  const table =
    gif.globalTable === null
      ? "no global colour table (the player shows nothing)"
      : `${gif.globalTable.length / 3} global colours`;
  return `GIF ${describeGif(gif.width, gif.height, delays, inputMemory(gif))}, ${table}`;
}

function listed(data: Uint8Array): ListedSection[] {
  const sections = findSections(data);
  return SECTION_KINDS.flatMap((kind) => {
    const section = sections.get(kind);
    if (!section) return [];
    const payload = section.usable ? sectionPayload(data, section) : null;
    const note = STATE_NOTES[section.state];
    return [{ kind, tag: TAGS[kind], offset: section.markerOffset, length: section.length, note, payload }];
  });
}

// The payload sections the player finds in an animation, by its own search
// rule, and a summary of the GIF among them.
export function listSections(file: NamedBytes): Report & { sections: ListedSection[] } {
  const sections = listed(file.bytes);
  if (sections.length === 0) throw new Refusal(`${file.name}: no payload section`);
  const lines = [`${"section".padEnd(8)} ${"offset".padStart(12)} ${"length".padStart(12)}`];
  for (const s of sections) {
    const note = s.note ? `  (${s.note})` : "";
    lines.push(`${s.kind.toUpperCase().padEnd(8)} ${String(s.offset).padStart(12)} ${String(s.length).padStart(12)}${note}`);
  }
  const gif = sections.find((s) => s.kind === "gif");
  if (gif?.payload) lines.push(gifSummary(gif.payload));
  return { lines, warnings: [], sections };
}

// The payloads to write out, named as `extract` names them.
export function extractSections(file: NamedBytes): Report & { files: NamedBytes[] } {
  const sections = listed(file.bytes);
  const warnings = sections
    .filter((s) => s.payload === null)
    .map((s) => `${s.kind.toUpperCase()} section not extracted (${s.note})`);
  const files = sections.flatMap((s) => (s.payload ? [{ name: EXTRACTED_NAMES[s.kind], bytes: s.payload }] : []));
  if (files.length === 0) throw new Refusal(`${file.name}: no payload section to extract`);
  return { lines: [], warnings, files };
}
