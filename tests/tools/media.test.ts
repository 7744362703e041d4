// Sound files: WAVE read as RIFF chunks, Standard MIDI Files and RMID
// wrappers, written here chunk by chunk, well-formed and broken.

import { test } from "node:test";
import assert from "node:assert/strict";
import { checkMidi, checkWave } from "../../tools/authoring/core/media.ts";
import { Refusal } from "../../tools/authoring/core/errors.ts";

const text = (s: string) => Uint8Array.from(s, (c) => c.charCodeAt(0));
const join = (...parts: Uint8Array[]) => Uint8Array.from(parts.flatMap((p) => [...p]));

function u32(value: number, littleEndian: boolean): Uint8Array {
  const out = new Uint8Array(4);
  new DataView(out.buffer).setUint32(0, value, littleEndian);
  return out;
}

// A RIFF chunk padded to even length; `declared` overrides the size field.
function chunk(id: string, body: Uint8Array, declared?: number): Uint8Array {
  return join(text(id), u32(declared ?? body.length, true), body, new Uint8Array(body.length & 1));
}

function riff(form: string, ...chunks: Uint8Array[]): Uint8Array {
  const body = join(text(form), ...chunks);
  return join(text("RIFF"), u32(body.length, true), body);
}

function fmt(byteRate = 8000, size = 16): Uint8Array {
  const body = new Uint8Array(size);
  const view = new DataView(body.buffer);
  view.setUint16(0, 1, true); // PCM
  view.setUint16(2, 1, true);
  view.setUint32(4, 8000, true);
  if (size >= 12) view.setUint32(8, byteRate, true);
  return chunk("fmt ", body);
}

const sound = (bytes: number) => chunk("data", new Uint8Array(bytes).fill(0x80));
const cut = (bytes: Uint8Array, drop: number) => bytes.subarray(0, bytes.length - drop);

const GOOD_WAVES: [string, Uint8Array, number][] = [
  ["one second of 8 kHz", riff("WAVE", fmt(), sound(8000)), 1],
  ["a list chunk of odd size between", riff("WAVE", fmt(), chunk("LIST", text("abc")), sound(4000)), 0.5],
  ["a cut chunk behind the sound", cut(riff("WAVE", fmt(), sound(2000), chunk("LIST", text("info"))), 2), 0.25],
  ["odd sound data without its pad byte", cut(riff("WAVE", fmt(), sound(801)), 1), 801 / 8000],
  ["a RIFF size of 0", join(text("RIFF"), u32(0, true), text("WAVE"), fmt(16000), sound(8000)), 0.5],
];

for (const [name, bytes, seconds] of GOOD_WAVES) {
  test(`wave: takes ${name}`, () => {
    const checked = checkWave(bytes, "s.wav");
    assert.equal(checked.data, bytes);
    assert.equal(checked.seconds, seconds);
  });
}

const BAD_WAVES: [string, Uint8Array, string][] = [
  ["an empty file", new Uint8Array(0), "s.wav: the file is empty"],
  ["a file cut in its signature", text("RIF"), "s.wav: the WAVE file is cut short inside its header"],
  ["a file cut in its header", cut(riff("WAVE", fmt(), sound(8)), 46), "s.wav: the WAVE file is cut short inside its header"],
  ["a GIF", text("GIF89a and more bytes"), "s.wav: not a WAVE sound file (it does not begin with a RIFF header)"],
  ["a MIDI file", text("MThd\0\0\0\x06\0\0\0\x01\0\x60"), "s.wav: not a WAVE sound file (it is a MIDI song)"],
  ["an RMID file", riff("RMID", chunk("data", text("MThd"))), "s.wav: not a WAVE sound file (it is a MIDI song in a RIFF wrapper)"],
  ["another RIFF form", riff("AVI ", sound(4)), 's.wav: not a WAVE sound file (it is a RIFF file of type "AVI ")'],
  ["no format chunk", riff("WAVE", sound(8)), 's.wav: the WAVE file has no format ("fmt ") chunk, so it cannot be played'],
  ["no sound chunk", riff("WAVE", fmt()), 's.wav: the WAVE file has no sound ("data") chunk'],
  ["cut sound data", cut(riff("WAVE", fmt(), sound(8000)), 7996),
    "s.wav: the WAVE file is cut short inside its sound data (4 of 8,000 bytes are there)"],
  ["a cut format chunk", cut(riff("WAVE", fmt()), 4), 's.wav: the WAVE file is cut short inside its "fmt" chunk'],
  ["a cut chunk header", cut(riff("WAVE", fmt(), sound(4)), 8), "s.wav: the WAVE file is cut short inside a chunk header"],
  ["a short format chunk", riff("WAVE", fmt(8000, 14), sound(4)),
    "s.wav: the WAVE file's format chunk is too short (14 bytes, at least 16 needed)"],
  ["sound before format", riff("WAVE", sound(4), fmt()),
    "s.wav: the WAVE file's sound data comes before its format chunk, which Windows cannot play"],
  ["a byte rate of 0", riff("WAVE", fmt(0), sound(4)), "s.wav: the WAVE file's format chunk gives a byte rate of 0"],
  ["no sound in the data", riff("WAVE", fmt(), sound(0)), "s.wav: the WAVE file holds no sound (its data chunk is empty)"],
];

for (const [name, bytes, message] of BAD_WAVES) {
  test(`wave: refuses ${name}`, () => {
    assert.throws(() => checkWave(bytes, "s.wav"), (e: Error) => e instanceof Refusal && e.message === message);
  });
}

// ---- MIDI --------------------------------------------------------------------

function smfChunk(id: string, body: Uint8Array, declared?: number): Uint8Array {
  return join(text(id), u32(declared ?? body.length, false), body);
}

function header(tracks: number, format = 1, size = 6): Uint8Array {
  const body = new Uint8Array(Math.max(size, 6));
  const view = new DataView(body.buffer);
  view.setUint16(0, format);
  view.setUint16(2, tracks);
  view.setUint16(4, 96);
  return smfChunk("MThd", body.subarray(0, size));
}

const EVENTS = Uint8Array.from([0x00, 0x90, 0x3c, 0x40, 0x60, 0x80, 0x3c, 0x40, 0x00, 0xff, 0x2f, 0x00]);
const track = () => smfChunk("MTrk", EVENTS);
const SONG = join(header(2), track(), track());

const GOOD_MIDI: [string, Uint8Array][] = [
  ["a single-track song", join(header(1, 0), track())],
  ["a two-track song", SONG],
  ["a longer header", join(header(1, 0, 8), track())],
  ["an unknown chunk between tracks", join(header(2), track(), smfChunk("XFIH", text("abc")), track())],
  ["a few stray bytes at the end", join(header(1, 0), track(), text("\0\0\0"))],
];

for (const [name, bytes] of GOOD_MIDI) {
  test(`midi: takes ${name}`, () => {
    assert.deepEqual(checkMidi(bytes, "m.mid"), { data: bytes, note: null });
  });
}

const RMID = riff("RMID", chunk("LIST", text("info")), chunk("data", SONG));

test("midi: an RMID file gives the song inside, and says so", () => {
  const checked = checkMidi(RMID, "m.rmi");
  assert.deepEqual(checked.data, SONG);
  assert.match(checked.note ?? "", /^m\.rmi: .*RMID.*Standard MIDI File inside its RIFF wrapper was taken out/);
});

const BAD_MIDI: [string, Uint8Array, string][] = [
  ["an empty file", new Uint8Array(0), "m.mid: the file is empty"],
  ["a text file", text("hello, world"), "m.mid: the MIDI file is not a Standard MIDI File (it does not begin with MThd)"],
  ["a WAVE", riff("WAVE", fmt(), sound(4)), "m.mid: not a MIDI file (it is a WAVE sound)"],
  ["a file cut in its signature", text("MTh"), "m.mid: the MIDI file is cut short inside its header"],
  ["a file cut in its header", cut(header(1), 3), "m.mid: the MIDI file is cut short inside its header"],
  ["a short header", join(header(1, 0, 4), track()), "m.mid: the MIDI file has a header of 4 bytes; a MIDI header needs 6"],
  ["no track", header(1, 0), "m.mid: the MIDI file has no track (no complete MTrk chunk)"],
  ["a header declaring no track", join(header(0, 0), track()), "m.mid: the MIDI file declares no track"],
  ["a cut track", cut(join(header(1, 0), track()), 1), "m.mid: the MIDI file is cut short inside track 1"],
  ["a cut second track", cut(SONG, 5), "m.mid: the MIDI file is cut short inside track 2"],
  ["a cut track header", join(header(2), track(), text("MTr")), "m.mid: the MIDI file is cut short inside track 2"],
  ["a missing track", join(header(2), track()), "m.mid: the MIDI file declares 2 tracks but holds only 1"],
  ["a cut RIFF header", text("RIFF\x04\0\0"), "m.mid: the file is cut short inside its RIFF header"],
  ["an RMID without data", riff("RMID", chunk("LIST", text("info"))), 'm.mid: the RMID file has no "data" chunk holding a MIDI song'],
  ["an RMID cut in its data", cut(riff("RMID", chunk("data", SONG)), 3), 'm.mid: the RMID file is cut short inside its "data" chunk'],
  ["an RMID holding no song", riff("RMID", chunk("data", text("nothing here"))),
    "m.mid: the MIDI song inside the RMID file is not a Standard MIDI File (it does not begin with MThd)"],
  ["an RMID holding a cut song", riff("RMID", chunk("data", cut(SONG, 2))),
    "m.mid: the MIDI song inside the RMID file is cut short inside track 2"],
];

for (const [name, bytes, message] of BAD_MIDI) {
  test(`midi: refuses ${name}`, () => {
    assert.throws(() => checkMidi(bytes, "m.mid"), (e: Error) => e instanceof Refusal && e.message === message);
  });
}

test("every cut of a good file gives a result or a refusal, never another error", () => {
  const files: [(bytes: Uint8Array, name: string) => unknown, Uint8Array][] = [
    [checkWave, GOOD_WAVES[1][1]], [checkMidi, SONG], [checkMidi, RMID]];
  for (const [check, bytes] of files) {
    for (let length = 0; length < bytes.length; length++) {
      try {
        check(bytes.subarray(0, length), "x");
      } catch (error) {
        assert.ok(error instanceof Refusal, `cut at ${length}: ${error}`);
      }
    }
  }
});
