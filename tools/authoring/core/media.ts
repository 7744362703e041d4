// Sound files as the player hands them to Windows: a RIFF WAVE for waveform
// playback and a Standard MIDI File for the sequencer. Each is checked for
// what those need, so that a broken file is refused here rather than left
// silent in the animation.

import { Refusal } from "./errors.ts";
import { viewOf } from "./bytes.ts";

export interface CheckedWave {
  data: Uint8Array;
  seconds: number;
}

export interface CheckedMidi {
  data: Uint8Array;
  note: string | null;
}

interface Chunk {
  id: string;
  offset: number; // of the chunk's data
  size: number; // as declared
  cut: boolean; // the declared size runs past the end of the file
}

function fourCC(bytes: Uint8Array, at: number): string {
  return String.fromCharCode(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
}


// The chunks of a RIFF form from `start` to the end of the file, data padded
// to an even length. A last chunk whose header is cut is reported with
// size -1. The RIFF size field is not trusted: writers often leave it wrong.
function riffChunks(bytes: Uint8Array, start: number): Chunk[] {
  const view = viewOf(bytes);
  const chunks: Chunk[] = [];
  let at = start;
  while (at < bytes.length) {
    if (at + 8 > bytes.length) {
      chunks.push({ id: "", offset: at, size: -1, cut: true });
      break;
    }
    const size = view.getUint32(at + 4, true);
    const offset = at + 8;
    chunks.push({ id: fourCC(bytes, at), offset, size, cut: offset + size > bytes.length });
    at = offset + size + (size & 1);
  }
  return chunks;
}

function riffForm(bytes: Uint8Array): string | null {
  if (bytes.length < 12 || fourCC(bytes, 0) !== "RIFF") return null;
  return fourCC(bytes, 8);
}

// True when the file's first bytes are `text`, or all of it is a beginning
// of `text` (a file cut inside its signature).
function beginsWith(bytes: Uint8Array, text: string): boolean {
  const count = Math.min(bytes.length, text.length);
  for (let i = 0; i < count; i++) if (bytes[i] !== text.charCodeAt(i)) return false;
  return true;
}

function refuseEmpty(bytes: Uint8Array, name: string): void {
  if (bytes.length === 0) throw new Refusal(`${name}: the file is empty`);
}

// A RIFF WAVE file, returned unchanged with how long its sound lasts.
export function checkWave(bytes: Uint8Array, name: string): CheckedWave {
  refuseEmpty(bytes, name);
  const form = riffForm(bytes);
  if (form === null) {
    if (beginsWith(bytes, "RIFF")) throw new Refusal(`${name}: the WAVE file is cut short inside its header`);
    const what = bytes.length >= 4 && beginsWith(bytes, "MThd") ? "it is a MIDI song" : "it does not begin with a RIFF header";
    throw new Refusal(`${name}: not a WAVE sound file (${what})`);
  }
  if (form !== "WAVE") {
    const what = form === "RMID" ? "a MIDI song in a RIFF wrapper" : `a RIFF file of type "${form}"`;
    throw new Refusal(`${name}: not a WAVE sound file (it is ${what})`);
  }
  const chunks = riffChunks(bytes, 12);
  const fmt = chunks.find((chunk) => chunk.id === "fmt ");
  const data = chunks.find((chunk) => chunk.id === "data");
  const last = chunks.at(-1);
  // A cut chunk is always the last one; behind both needed chunks it does no harm.
  if (last?.cut && (!fmt || !data || last === fmt || last === data)) {
    throw new Refusal(`${name}: the WAVE file is cut short ${cutPlace(bytes, last, data)}`);
  }
  if (!fmt) throw new Refusal(`${name}: the WAVE file has no format ("fmt ") chunk, so it cannot be played`);
  if (!data) throw new Refusal(`${name}: the WAVE file has no sound ("data") chunk`);
  if (fmt.size < 16) {
    throw new Refusal(`${name}: the WAVE file's format chunk is too short (${fmt.size} bytes, at least 16 needed)`);
  }
  if (data.offset < fmt.offset) {
    throw new Refusal(`${name}: the WAVE file's sound data comes before its format chunk, which Windows cannot play`);
  }
  const byteRate = viewOf(bytes).getUint32(fmt.offset + 8, true);
  if (byteRate === 0) throw new Refusal(`${name}: the WAVE file's format chunk gives a byte rate of 0`);
  if (data.size === 0) throw new Refusal(`${name}: the WAVE file holds no sound (its data chunk is empty)`);
  return { data: bytes, seconds: data.size / byteRate };
}

function cutPlace(bytes: Uint8Array, chunk: Chunk, data: Chunk | undefined): string {
  if (chunk.size < 0) return "inside a chunk header";
  if (chunk === data) {
    const present = bytes.length - chunk.offset;
    return `inside its sound data (${present.toLocaleString("en")} of ${chunk.size.toLocaleString("en")} bytes are there)`;
  }
  return `inside its "${chunk.id.trim()}" chunk`;
}

const RMID_NOTE = "the file is an RMID: the Standard MIDI File inside its RIFF wrapper was taken out";

// A Standard MIDI File for the sequencer. An RMID file (a RIFF wrapper around
// one) has its Standard MIDI File taken out, and the note says so.
export function checkMidi(bytes: Uint8Array, name: string): CheckedMidi {
  refuseEmpty(bytes, name);
  const form = riffForm(bytes);
  if (form === null && beginsWith(bytes, "RIFF")) {
    throw new Refusal(`${name}: the file is cut short inside its RIFF header`);
  }
  if (form === "RMID") {
    const song = rmidSong(bytes, name);
    checkSmf(song, name, "the MIDI song inside the RMID file");
    return { data: song, note: `${name}: ${RMID_NOTE}` };
  }
  if (form !== null) {
    const what = form === "WAVE" ? "a WAVE sound" : `a RIFF file of type "${form}"`;
    throw new Refusal(`${name}: not a MIDI file (it is ${what})`);
  }
  checkSmf(bytes, name, "the MIDI file");
  return { data: bytes, note: null };
}

function rmidSong(bytes: Uint8Array, name: string): Uint8Array {
  const chunks = riffChunks(bytes, 12);
  const data = chunks.find((chunk) => chunk.id === "data");
  const last = chunks.at(-1);
  if (last?.cut && (!data || last === data)) {
    throw new Refusal(`${name}: the RMID file is cut short ${cutPlace(bytes, last, undefined)}`);
  }
  if (!data) throw new Refusal(`${name}: the RMID file has no "data" chunk holding a MIDI song`);
  return bytes.slice(data.offset, data.offset + data.size);
}

interface SmfChunk {
  id: string;
  size: number; // -1: header cut
  cut: boolean;
}

// The chunks behind the header, sizes big-endian and unpadded. Up to seven
// stray bytes at the end that cannot begin a track are left alone.
function smfChunks(bytes: Uint8Array, start: number): SmfChunk[] {
  const view = viewOf(bytes);
  const chunks: SmfChunk[] = [];
  let at = start;
  while (at < bytes.length) {
    if (at + 8 > bytes.length) {
      if (beginsWith(bytes.subarray(at), "MTrk")) chunks.push({ id: "MTrk", size: -1, cut: true });
      break;
    }
    const size = view.getUint32(at + 4, false);
    chunks.push({ id: fourCC(bytes, at), size, cut: at + 8 + size > bytes.length });
    at += 8 + size;
  }
  return chunks;
}

function checkSmf(bytes: Uint8Array, name: string, what: string): void {
  const refuse = (problem: string) => new Refusal(`${name}: ${what} ${problem}`);
  if (!beginsWith(bytes, "MThd")) throw refuse("is not a Standard MIDI File (it does not begin with MThd)");
  if (bytes.length < 8) throw refuse("is cut short inside its header");
  const view = viewOf(bytes);
  const headerSize = view.getUint32(4, false);
  if (headerSize < 6) throw refuse(`has a header of ${headerSize} bytes; a MIDI header needs 6`);
  if (8 + headerSize > bytes.length) throw refuse("is cut short inside its header");
  const declared = view.getUint16(10, false);
  if (declared === 0) throw refuse("declares no track");
  const chunks = smfChunks(bytes, 8 + headerSize);
  const complete = chunks.filter((chunk) => chunk.id === "MTrk" && !chunk.cut).length;
  const cut = chunks.find((chunk) => chunk.cut);
  if (cut) {
    const place = cut.id === "MTrk" ? `track ${complete + 1}` : `a "${cut.id}" chunk`;
    throw refuse(`is cut short inside ${place}`);
  }
  if (complete === 0) throw refuse("has no track (no complete MTrk chunk)");
  if (complete < declared) throw refuse(`declares ${declared} tracks but holds only ${complete}`);
}
