// Small sound files for the tests, written byte by byte: RIFF forms, a
// silent WAVE and a one-track Standard MIDI File.

// A RIFF form of the given chunks, each padded to an even length.
export function riff(form: string, chunks: [string, Uint8Array][]): Uint8Array {
  const parts = chunks.map(([id, data]) => {
    const head = Buffer.alloc(8);
    head.write(id, 0, "latin1");
    head.writeUInt32LE(data.length, 4);
    return Buffer.concat([head, data, Buffer.alloc(data.length & 1)]);
  });
  const body = Buffer.concat(parts);
  const head = Buffer.alloc(12);
  head.write("RIFF", 0, "latin1");
  head.writeUInt32LE(body.length + 4, 4);
  head.write(form, 8, "latin1");
  return Buffer.concat([head, body]);
}

// 8-bit mono PCM at 8000 Hz: `seconds` of silence.
export function wave(seconds: number): Uint8Array {
  const format = Buffer.alloc(16);
  format.writeUInt16LE(1, 0); // PCM
  format.writeUInt16LE(1, 2);
  format.writeUInt32LE(8000, 4);
  format.writeUInt32LE(8000, 8);
  format.writeUInt16LE(1, 12);
  format.writeUInt16LE(8, 14);
  return riff("WAVE", [["fmt ", format], ["data", Buffer.alloc(Math.round(8000 * seconds), 128)]]);
}

// A type 0 Standard MIDI File of one track: a note on and off, then its end.
export const MIDI = Buffer.from("4d546864000000060000000100604d54726b0000000c00903c4060803c4000ff2f00", "hex");
