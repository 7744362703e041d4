// The player's executable as a stub: checking that it is a 32-bit Windows
// executable, where its image ends, and the image without anything behind it.

import { Refusal } from "./errors.ts";
import { SECTION_KINDS, TAGS, findMarker } from "./container.ts";
import { viewOf } from "./bytes.ts";

const MACHINE_I386 = 0x14c;
const SECTION_HEADER_SIZE = 40;
const CERTIFICATE_DIRECTORY = 4;

interface Headers {
  view: DataView;
  peOffset: number;
  sectionCount: number;
  optionalOffset: number;
  optionalSize: number;
  sectionTable: number;
}

function readHeaders(stub: Uint8Array): Headers {
  if (stub.length < 64 || stub[0] !== 0x4d || stub[1] !== 0x5a) {
    throw new Refusal("not a Windows executable (no MZ header)");
  }
  const view = viewOf(stub);
  const peOffset = view.getUint32(0x3c, true);
  if (peOffset + 24 > stub.length || view.getUint32(peOffset, true) !== 0x00004550) {
    throw new Refusal("not a Windows executable (no PE signature)");
  }
  const machine = view.getUint16(peOffset + 4, true);
  if (machine !== MACHINE_I386) {
    const hex = machine.toString(16).toUpperCase().padStart(4, "0");
    throw new Refusal(`not a 32-bit x86 Windows executable (machine 0x${hex})`);
  }
  const sectionCount = view.getUint16(peOffset + 6, true);
  const optionalSize = view.getUint16(peOffset + 20, true);
  const optionalOffset = peOffset + 24;
  return { view, peOffset, sectionCount, optionalOffset, optionalSize, sectionTable: optionalOffset + optionalSize };
}

function imageEnd(stub: Uint8Array, headers: Headers): number {
  const { view, sectionTable, sectionCount } = headers;
  let end = sectionTable + SECTION_HEADER_SIZE * sectionCount;
  if (end > stub.length) throw new Refusal("the executable's section table is cut short");
  for (let i = 0; i < sectionCount; i++) {
    const entry = sectionTable + SECTION_HEADER_SIZE * i;
    const rawSize = view.getUint32(entry + 16, true);
    const rawPointer = view.getUint32(entry + 20, true);
    if (rawSize) end = Math.max(end, rawPointer + rawSize);
  }
  if (end > stub.length) {
    throw new Refusal("the executable is cut short (its sections run past the end of the file)");
  }
  return end;
}

// Checks that `stub` is a 32-bit Windows executable and returns the end of its
// image in the file: the end of the furthest section's raw data, where an
// appended payload begins.
export function executableEnd(stub: Uint8Array): number {
  return imageEnd(stub, readHeaders(stub));
}

// Offset of the certificate (security) data directory entry, or -1 when the
// optional header has none.
function certificateEntry(headers: Headers): number {
  const { view, optionalOffset, optionalSize } = headers;
  if (optionalSize < 2) return -1;
  const magic = view.getUint16(optionalOffset, true);
  const countAt = magic === 0x20b ? 108 : magic === 0x10b ? 92 : -1;
  if (countAt < 0 || optionalSize < countAt + 4) return -1;
  if (view.getUint32(optionalOffset + countAt, true) <= CERTIFICATE_DIRECTORY) return -1;
  const entry = optionalOffset + countAt + 4 + 8 * CERTIFICATE_DIRECTORY;
  return entry + 8 <= optionalOffset + optionalSize ? entry : -1;
}

// Clears header fields that point at bytes behind the image, which the cut
// has dropped: the signature's certificate table and a COFF symbol table.
// Returns true when a field was changed.
function forgetDroppedTables(headers: Headers, end: number): boolean {
  const { view, peOffset } = headers;
  let changed = false;
  const certificate = certificateEntry(headers);
  if (certificate >= 0 && view.getUint32(certificate + 4, true) !== 0) {
    view.setUint32(certificate, 0, true);
    view.setUint32(certificate + 4, 0, true);
    changed = true;
  }
  const symbols = view.getUint32(peOffset + 12, true);
  if (symbols !== 0 && symbols >= end) {
    view.setUint32(peOffset + 12, 0, true);
    view.setUint32(peOffset + 16, 0, true);
    changed = true;
  }
  return changed;
}

// The executable image without anything appended behind it: payload sections
// of an animation made earlier, a signature, or any other overlay, which could
// hold sections the player would find before the new ones. A signature's
// directory entry is cleared, so the result is a well-formed unsigned
// executable, with its checksum computed again over what is left.
export function bareStub(stub: Uint8Array): Uint8Array {
  const end = executableEnd(stub);
  const image = stub.slice(0, end);
  for (const kind of SECTION_KINDS) {
    if (findMarker(image, TAGS[kind]) >= 0) {
      throw new Refusal(`the executable itself holds a ${kind.toUpperCase()} section marker`);
    }
  }
  const headers = readHeaders(image);
  if (forgetDroppedTables(headers, end) && headers.optionalSize >= 68) {
    const checksumAt = headers.optionalOffset + 64;
    headers.view.setUint32(checksumAt, imageChecksum(image, checksumAt), true);
  }
  return image;
}

// The optional header's checksum: the file's 16-bit little-endian words
// (the checksum field itself left out) summed with end-around carry, plus
// the file's length.
function imageChecksum(image: Uint8Array, checksumAt: number): number {
  let sum = 0;
  for (let i = 0; i < image.length; i += 2) {
    if (i === checksumAt || i === checksumAt + 2) continue;
    sum += image[i]! | ((image[i + 1] ?? 0) << 8);
    sum = (sum & 0xffff) + (sum >>> 16);
  }
  return (sum + image.length) >>> 0;
}
