// Payload sections behind the player's executable image: finding them by the
// player's own search rule, and writing them so that the player finds each.
//
// A section is '*', the tag, ':', the payload length (unsigned 32-bit,
// little-endian) and the payload.

import { Refusal } from "./errors.ts";
import { executableEnd } from "./pe.ts";

export type SectionKind = "gif" | "wave" | "midi";

export const SECTION_KINDS: readonly SectionKind[] = ["gif", "wave", "midi"];

export const TAGS: Readonly<Record<SectionKind, string>> = {
  gif: "GIF_BEGINS_HERE",
  wave: "WAVE_BEGINS_HERE",
  midi: "MIDI_BEGINS_HERE",
};

// The player reads the length as signed 32-bit and takes anything not
// positive as no section.
export const LENGTH_LIMIT = 2 ** 31;

// "absent": length 0 or >= 2^31; "truncated": the payload runs past the end of
// the file; "cut length": the file ends inside the length field.
export type SectionState = "ok" | "absent" | "truncated" | "cut length";

export interface Section {
  kind: SectionKind;
  markerOffset: number; // where the '*' stands
  length: number; // the length field as written
  payloadOffset: number;
  state: SectionState;
  usable: boolean; // state === "ok"
}

const STAR = 0x2a;
const COLON = 0x3a;

function asciiBytes(text: string): Uint8Array {
  return Uint8Array.from(text, (c) => c.charCodeAt(0));
}

const TAG_AND_COLON: Readonly<Record<SectionKind, Uint8Array>> = {
  gif: asciiBytes(TAGS.gif + ":"),
  wave: asciiBytes(TAGS.wave + ":"),
  midi: asciiBytes(TAGS.midi + ":"),
};

// Offset of the '*' of the section the player finds for `tag`, or -1.
// The player reads byte by byte and never looks back: after a '*' it compares
// the tag and ':', and the first byte that differs is consumed unexamined, so
// '**TAG:' is not found.
export function findMarker(data: Uint8Array, tag: string | Uint8Array): number {
  const expected = typeof tag === "string" ? asciiBytes(tag + ":") : tag;
  let position = 0;
  for (;;) {
    const star = data.indexOf(STAR, position);
    if (star < 0) return -1;
    let p = star + 1;
    let matched = 0;
    while (matched < expected.length) {
      if (p >= data.length) return -1;
      if (data[p] !== expected[matched]) break;
      matched++;
      p++;
    }
    if (matched === expected.length) return star;
    position = p + 1;
  }
}

function readLength(data: Uint8Array, at: number): number {
  return (data[at] | (data[at + 1] << 8) | (data[at + 2] << 16)) + data[at + 3] * 0x1000000;
}

function sectionState(length: number, payloadOffset: number, fileLength: number): SectionState {
  if (length === 0 || length >= LENGTH_LIMIT) return "absent";
  return payloadOffset + length > fileLength ? "truncated" : "ok";
}

export function findSection(data: Uint8Array, kind: SectionKind): Section | null {
  const expected = TAG_AND_COLON[kind];
  const star = findMarker(data, expected);
  if (star < 0) return null;
  const fieldAt = star + 1 + expected.length;
  if (fieldAt + 4 > data.length) {
    return { kind, markerOffset: star, length: 0, payloadOffset: fieldAt, state: "cut length", usable: false };
  }
  const length = readLength(data, fieldAt);
  const payloadOffset = fieldAt + 4;
  const state = sectionState(length, payloadOffset, data.length);
  return { kind, markerOffset: star, length, payloadOffset, state, usable: state === "ok" };
}

// Every section the player would find, in the order gif, wave, midi.
export function findSections(data: Uint8Array): Map<SectionKind, Section> {
  const found = new Map<SectionKind, Section>();
  for (const kind of SECTION_KINDS) {
    const section = findSection(data, kind);
    if (section) found.set(kind, section);
  }
  return found;
}

// A view of the payload's bytes inside `data`, not a copy.
export function sectionPayload(data: Uint8Array, section: Section): Uint8Array {
  return data.subarray(section.payloadOffset, section.payloadOffset + section.length);
}

export function encodeSection(kind: SectionKind, body: Uint8Array): Uint8Array {
  if (!(body.length > 0 && body.length < LENGTH_LIMIT)) {
    throw new Refusal(`a ${kind.toUpperCase()} payload of ${body.length} bytes cannot be packed`);
  }
  const head = TAG_AND_COLON[kind];
  const out = new Uint8Array(1 + head.length + 4 + body.length);
  out[0] = STAR;
  out.set(head, 1);
  new DataView(out.buffer).setUint32(1 + head.length, body.length, true);
  out.set(body, 5 + head.length);
  return out;
}

export interface Payloads {
  gif: Uint8Array;
  wave?: Uint8Array;
  midi?: Uint8Array;
}

function permutations<T>(items: readonly T[]): T[][] {
  if (items.length <= 1) return [items.slice()];
  return items.flatMap((first, i) =>
    permutations([...items.slice(0, i), ...items.slice(i + 1)]).map((rest) => [first, ...rest]),
  );
}

function concatenate(parts: readonly Uint8Array[]): Uint8Array {
  const out = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) {
    out.set(part, at);
    at += part.length;
  }
  return out;
}

// True when the player's search for each kind stops at the marker written
// for it: its bytes are then the payload by construction.
function playerFindsEach(data: Uint8Array, written: Map<SectionKind, number>): boolean {
  for (const [kind, markerOffset] of written) {
    const section = findSection(data, kind);
    if (!section || !section.usable || section.markerOffset !== markerOffset) return false;
  }
  return true;
}

// The stub followed by the sections, in an order in which the player finds
// each one at its place: a payload ending in '*' would hide the section behind
// it, and a payload holding a marker would shadow a later section. The order
// gif, wave, midi is tried first.
export function packSections(stub: Uint8Array, payloads: Payloads): Uint8Array {
  const bodies = new Map<SectionKind, Uint8Array>();
  for (const kind of SECTION_KINDS) {
    const body = payloads[kind];
    if (body) bodies.set(kind, body);
  }
  const encoded = new Map([...bodies].map(([kind, body]) => [kind, encodeSection(kind, body)] as const));
  for (const order of permutations([...bodies.keys()])) {
    const sections = order.map((kind) => encoded.get(kind)!);
    const written = new Map<SectionKind, number>();
    let at = stub.length;
    order.forEach((kind, i) => {
      written.set(kind, at);
      at += sections[i].length;
    });
    const data = concatenate([stub, ...sections]);
    if (playerFindsEach(data, written)) return data;
  }
  throw new Refusal(
    "the payloads cannot be packed so that the player finds each of them (one holds another section's marker)",
  );
}

// Sections the player would find behind the stub's image: those of an
// animation made earlier from it.
export function overlaySections(stub: Uint8Array): Section[] {
  const end = executableEnd(stub);
  return [...findSections(stub).values()].filter((section) => section.markerOffset >= end);
}
