// The icon and the version description of a copy of the player, rewritten in
// its resources. Done on the bare image, before any payload is appended.

import { Data, NtExecutable, NtExecutableResource, Resource } from "resedit";
import { Refusal } from "./errors.ts";
import { bareStub, executableEnd } from "./pe.ts";
import { viewOf } from "./bytes.ts";

// The player's icon group: IDI_APP_ICON in its resource script.
export const ICON_GROUP_ID = 101;
export const DESCRIPTION_LIMIT = 256;
const ICON_SIZE_LIMIT = 256;
const ENGLISH_US = 0x409;
const UNICODE_CODEPAGE = 1200;
const RT_GROUP_ICON = 14;
const BASE_RELOCATION_DIRECTORY = 5;
const RESOURCE_DIRECTORY = 2;
const CERTIFICATE_DIRECTORY = 4;
const DIRECTORY_COUNT = 16;

type IconImage = Data.IconItem | Data.RawIconItem;
type Entries = Resource.ResourceEntry[];

// ---- Icon files -------------------------------------------------------------

const PNG_SIGNATURE = [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a];

function hasPrefix(bytes: Uint8Array, prefix: readonly number[]): boolean {
  return bytes.length >= prefix.length && prefix.every((value, i) => bytes[i] === value);
}

let crcTable: Uint32Array | null = null;

function crc32(bytes: Uint8Array): number {
  if (!crcTable) {
    crcTable = new Uint32Array(256);
    for (let n = 0; n < 256; n++) {
      let c = n;
      for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      crcTable[n] = c >>> 0;
    }
  }
  let crc = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) crc = crcTable[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
  return (crc ^ 0xffffffff) >>> 0;
}

interface PngFacts {
  width: number;
  height: number;
  bits: number;
}

const PNG_CHANNELS: Record<number, number> = { 0: 1, 2: 3, 3: 1, 4: 2, 6: 4 };


// Walks the PNG's chunks to IEND, checking each one's length and CRC, so that
// a damaged picture is refused rather than shown as a blank icon.
function checkPng(png: Uint8Array, name: string): PngFacts {
  const damaged = (why: string) => new Refusal(`${name}: the PNG picture ${why}`);
  const view = viewOf(png);
  let at = PNG_SIGNATURE.length;
  let facts: PngFacts | null = null;
  for (;;) {
    if (at + 12 > png.length) throw damaged("is cut short");
    const length = view.getUint32(at, false);
    const type = String.fromCharCode(...png.subarray(at + 4, at + 8));
    if (at + 12 + length > png.length) throw damaged("is cut short");
    if (crc32(png.subarray(at + 4, at + 8 + length)) !== view.getUint32(at + 8 + length, false)) {
      throw damaged(`is damaged (its ${type} chunk fails its checksum)`);
    }
    if (!facts) {
      if (type !== "IHDR" || length !== 13) throw damaged("is damaged (it does not start with its header)");
      const channels = PNG_CHANNELS[png[at + 17]];
      if (!channels) throw damaged("is damaged (unknown colour type)");
      facts = {
        width: view.getUint32(at + 8, false),
        height: view.getUint32(at + 12, false),
        bits: Math.min(32, channels * png[at + 16]),
      };
    }
    if (type === "IEND") return facts;
    at += 12 + length;
  }
}

function checkIconSize(width: number, height: number, name: string): void {
  if (width < 1 || height < 1 || width > ICON_SIZE_LIMIT || height > ICON_SIZE_LIMIT) {
    throw new Refusal(
      `${name}: the picture is ${width} × ${height} pixels; an icon can be at most ${ICON_SIZE_LIMIT} × ${ICON_SIZE_LIMIT}`,
    );
  }
}

function checkBitmapImage(image: Uint8Array, name: string): void {
  const view = viewOf(image);
  const width = view.getInt32(4, true);
  const height = view.getInt32(8, true) / 2; // colour and mask rows
  checkIconSize(width, Math.abs(height), name);
  const bits = view.getUint16(14, true);
  const compression = view.getUint32(16, true);
  if (![1, 4, 8, 16, 24, 32].includes(bits) || compression !== 0) {
    throw new Refusal(`${name}: a picture in the icon file has a bitmap format icons cannot use`);
  }
  const colours = bits <= 8 ? view.getUint32(32, true) || 1 << bits : 0;
  const colourRows = (((width * bits + 31) >>> 5) << 2) * Math.abs(height);
  // A missing mask is tolerated (resedit writes an empty one); missing colours are not.
  if (40 + 4 * colours + colourRows > image.length) {
    throw new Refusal(`${name}: the icon file is cut short inside a picture`);
  }
}

// The images of a .ico file, each checked before resedit reads it.
function icoImages(ico: Uint8Array, name: string): IconImage[] {
  const view = viewOf(ico);
  const count = ico.length >= 6 ? view.getUint16(4, true) : 0;
  if (ico.length < 6 || 6 + 16 * count > ico.length) throw new Refusal(`${name}: the icon file is cut short`);
  if (count === 0) throw new Refusal(`${name}: the icon file holds no picture`);
  for (let i = 0; i < count; i++) {
    const size = view.getUint32(6 + 16 * i + 8, true);
    const offset = view.getUint32(6 + 16 * i + 12, true);
    if (offset + size > ico.length) throw new Refusal(`${name}: the icon file is cut short`);
    const image = ico.subarray(offset, offset + size);
    if (hasPrefix(image, PNG_SIGNATURE)) {
      const png = checkPng(image, name);
      checkIconSize(png.width, png.height, name);
    } else if (image.length >= 40 && view.getUint32(offset, true) === 40) {
      checkBitmapImage(image, name);
    } else {
      throw new Refusal(`${name}: a picture in the icon file is neither a bitmap nor a PNG`);
    }
  }
  return Data.IconFile.from(ico).icons.map((icon) => icon.data);
}

function iconImages(icon: Uint8Array, name: string): IconImage[] {
  if (hasPrefix(icon, PNG_SIGNATURE)) {
    const png = checkPng(icon, name);
    checkIconSize(png.width, png.height, name);
    return [Data.RawIconItem.from(icon, png.width, png.height, png.bits)];
  }
  if (hasPrefix(icon, [0, 0, 1, 0])) return icoImages(icon, name);
  throw new Refusal(`${name}: not an icon (.ico) or a PNG picture`);
}

// ---- Rewriting the resources ------------------------------------------------

interface Place {
  virtualAddress: number;
  virtualSize: number;
}

function directories(exe: NtExecutable): Place[] {
  const table = exe.newHeader.optionalHeaderDataDirectory;
  return Array.from({ length: DIRECTORY_COUNT }, (_, i) => {
    const entry = table.get(i);
    return { virtualAddress: entry.virtualAddress, virtualSize: entry.size };
  });
}

function within(address: number, place: Place): boolean {
  return address >= place.virtualAddress && address < place.virtualAddress + Math.max(place.virtualSize, 1);
}

// A new resource section goes behind the last section header; the headers
// must have room for its entry before the first section's data.
function checkHeaderRoom(exe: NtExecutable): void {
  if (exe.newHeader.optionalHeaderDataDirectory.get(RESOURCE_DIRECTORY).size > 0) return;
  const sections = exe.getAllSections();
  const tableEnd = exe.getTotalHeaderSize() + 40 * (sections.length + 1);
  const firstData = Math.min(
    exe.newHeader.optionalHeader.sizeOfHeaders,
    ...sections.filter((s) => s.info.pointerToRawData > 0).map((s) => s.info.pointerToRawData),
  );
  if (tableEnd > firstData) {
    throw new Refusal("the player has no resources and no room in its headers to add them");
  }
}

// resedit moves the sections behind a grown resource section. Only the base
// relocation table may move: nothing in the code points at it, and its
// directory entry is set to the new place with its own size kept.
function settleMovedSections(exe: NtExecutable, before: Place[], oldDirectories: Place[]): void {
  const resource = oldDirectories[RESOURCE_DIRECTORY];
  const table = exe.newHeader.optionalHeaderDataDirectory;
  exe.getAllSections().forEach((section, i) => {
    const old = before[i];
    if (!old || old.virtualAddress === section.info.virtualAddress) return;
    if (resource.virtualSize > 0 && within(resource.virtualAddress, old)) return;
    const held = oldDirectories
      .map((entry, index) => ({ entry, index }))
      .filter(({ entry, index }) => index !== CERTIFICATE_DIRECTORY && entry.virtualSize > 0 && within(entry.virtualAddress, old));
    if (held.length !== 1 || held[0].index !== BASE_RELOCATION_DIRECTORY) {
      throw new Refusal("the player's resources are not behind its code and data, so they cannot be rewritten");
    }
    const { entry } = held[0];
    const moved = entry.virtualAddress - old.virtualAddress + section.info.virtualAddress;
    table.set(BASE_RELOCATION_DIRECTORY, { virtualAddress: moved, size: entry.virtualSize });
  });
}

// resedit throws plain errors at headers or resources it cannot follow; for a
// player given by the author those are a damaged input, told as a refusal.
function withinResedit<T>(work: () => T): T {
  try {
    return work();
  } catch (error) {
    if (error instanceof Refusal) throw error;
    throw new Refusal(`the player's resources cannot be rewritten (${(error as Error).message})`);
  }
}

// Works on the bare image: whatever stood behind it is not carried over.
function rewriteResources(stub: Uint8Array, change: (entries: Entries) => void): Uint8Array {
  const image = bareStub(stub);
  const out = withinResedit(() => {
    const exe = NtExecutable.from(image);
    checkHeaderRoom(exe);
    const before: Place[] = exe.getAllSections().map((s) => ({ ...s.info }));
    const oldDirectories = directories(exe);
    const resources = NtExecutableResource.from(exe);
    change(resources.entries);
    resources.outputResource(exe);
    settleMovedSections(exe, before, oldDirectories);
    return new Uint8Array(exe.generate());
  });
  if (executableEnd(out) !== out.length) {
    throw new Refusal("the player's headers do not describe its file exactly, so its resources cannot be rewritten");
  }
  return out;
}

// A copy of the player showing `icon` (.ico or .png bytes) in place of its
// own icon, for the window, the taskbar and the file manager.
export function setIcon(stub: Uint8Array, icon: Uint8Array, name = "the icon"): Uint8Array {
  let images: IconImage[];
  try {
    images = iconImages(icon, name);
  } catch (error) {
    if (error instanceof Refusal) throw error;
    throw new Refusal(`${name}: the icon file is damaged`);
  }
  return rewriteResources(stub, (entries) => {
    const groups = entries.filter((e) => e.type === RT_GROUP_ICON && e.id === ICON_GROUP_ID);
    const languages = groups.length ? [...new Set(groups.map((e) => e.lang))] : [ENGLISH_US];
    for (const lang of languages) Resource.IconGroupEntry.replaceIconsForResource(entries, ICON_GROUP_ID, lang, images);
  });
}

function checkDescription(text: string): string {
  const description = text.trim();
  if (!description) throw new Refusal("the description is empty");
  if (/[\u0000-\u001f\u007f]/.test(description)) {
    throw new Refusal("the description must be one line of text (it holds a line break or control character)");
  }
  if (/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/.test(description)) {
    throw new Refusal("the description holds a broken character");
  }
  if (description.length > DESCRIPTION_LIMIT) {
    throw new Refusal(`the description is ${description.length} characters long; at most ${DESCRIPTION_LIMIT} fit`);
  }
  return description;
}

function newVersionInfo(): Resource.VersionInfo {
  return Resource.VersionInfo.create({
    lang: ENGLISH_US,
    fixedInfo: { fileOS: Resource.VersionFileOS.NT_Windows32, fileType: Resource.VersionFileType.App },
    strings: [{ lang: ENGLISH_US, codepage: UNICODE_CODEPAGE, values: {} }],
  });
}

// A copy of the player whose version resource describes the animation: its
// FileDescription, which Task Manager and the file's properties show. The
// other version fields are kept; a player without a version resource gets one.
export function setDescription(stub: Uint8Array, text: string): Uint8Array {
  const description = checkDescription(text);
  return rewriteResources(stub, (entries) => {
    let versions: Resource.VersionInfo[];
    try {
      versions = Resource.VersionInfo.fromEntries(entries);
    } catch {
      throw new Refusal("the player's version resource cannot be read");
    }
    if (versions.length === 0) versions = [newVersionInfo()];
    for (const version of versions) {
      const tables = version.getAllLanguagesForStringValues();
      const languages = tables.length ? tables : [{ lang: ENGLISH_US, codepage: UNICODE_CODEPAGE }];
      for (const language of languages) version.setStringValue(language, "FileDescription", description);
      version.outputToResourceEntries(entries);
    }
  });
}
