// Payload sections, stubs and the player's resources: the search rule checked
// against a byte-by-byte model of the player's scanner, pack order, bare stubs
// (old sections, signatures), and icons and descriptions read back with
// resedit from the real player when the build has made it.

import { test } from "node:test";
import assert from "node:assert/strict";
import { existsSync, readFileSync } from "node:fs";
import { crc32, deflateSync } from "node:zlib";
import { NtExecutable, NtExecutableResource, Resource } from "resedit";
import {
  TAGS, findMarker, findSection, findSections, overlaySections, packSections, sectionPayload,
  type SectionKind, type SectionState,
} from "../../tools/authoring/core/container.ts";
import { bareStub, executableEnd } from "../../tools/authoring/core/pe.ts";
import { setDescription, setIcon } from "../../tools/authoring/core/resources.ts";
import { Refusal } from "../../tools/authoring/core/errors.ts";

const text = (s: string) => Uint8Array.from(s, (c) => c.charCodeAt(0));
const join = (...parts: Uint8Array[]) => Uint8Array.from(parts.flatMap((p) => [...p]));

function section(kind: SectionKind, body: Uint8Array | string, length?: number): Uint8Array {
  const bytes = typeof body === "string" ? text(body) : body;
  const field = new Uint8Array(4);
  new DataView(field.buffer).setUint32(0, length ?? bytes.length, true);
  return join(text(`*${TAGS[kind]}:`), field, bytes);
}

// The player's scanner taken literally: one byte at a time, never looking back.
function playerScan(data: Uint8Array, tag: string): number {
  let position = 0;
  const next = () => (position < data.length ? data[position++] : -1);
  for (;;) {
    let byte;
    do {
      byte = next();
      if (byte < 0) return -1;
    } while (byte !== 0x2a);
    const star = position - 1;
    if ([...`${tag}:`].every((c) => next() === c.charCodeAt(0))) return star;
  }
}

const GIF = "GIF89a-payload;";

const SEARCH_CASES: [string, Uint8Array, [number, number, SectionState] | null][] = [
  ["a section behind other bytes", join(text("xx"), section("gif", GIF)), [2, GIF.length, "ok"]],
  ["'**TAG:' is not found", join(text("*"), section("gif", GIF)), null],
  ["a broken marker before it", join(text("*GIF_BEGINS_HERE;"), section("gif", GIF)), [17, GIF.length, "ok"]],
  ["a '*' breaking a marker is consumed", join(text("*GIF_BEGINS*"), section("gif", GIF)), [12, GIF.length, "ok"]],
  ["the breaking '*' hides the section", join(text("*GIF_BEGINS"), section("gif", GIF)), null],
  ["the first section wins", join(section("gif", GIF), section("gif", "second")), [0, GIF.length, "ok"]],
  ["length 0 is absent", join(section("gif", "", 0), section("gif", GIF)), [0, 0, "absent"]],
  ["length 2^31 is absent", section("gif", "", 2 ** 31), [0, 2 ** 31, "absent"]],
  ["length 2^32 - 1 is absent", section("gif", "", 2 ** 32 - 1), [0, 2 ** 32 - 1, "absent"]],
  ["a length past the end", section("gif", GIF, GIF.length + 1), [0, GIF.length + 1, "truncated"]],
  ["a cut length field", text("*GIF_BEGINS_HERE:\x05\x00"), [0, 0, "cut length"]],
  ["the end inside the tag", text("*GIF_BEGINS_HE"), null],
  ["no sections at all", text("no sections at all"), null],
  ["a section across the player's 4096-byte reads", join(new Uint8Array(4090), section("gif", GIF)), [4090, GIF.length, "ok"]],
];

for (const [name, data, expected] of SEARCH_CASES) {
  test(`search rule: ${name}`, () => {
    const found = findSection(data, "gif");
    assert.deepEqual(found && [found.markerOffset, found.length, found.state], expected);
    assert.equal(findMarker(data, TAGS.gif), playerScan(data, TAGS.gif));
  });
}

// Small deterministic generator, so a failure can be replayed.
function random(seed: number): () => number {
  let state = seed >>> 0;
  return () => {
    state = (state * 1664525 + 1013904223) >>> 0;
    return state / 2 ** 32;
  };
}

test("search rule: the fast search agrees with the player's scanner on mixed fragments", () => {
  const fragments = ["*", "**", ":", "x", "*GIF_", "*GIF_BEGINS_HERE", "*GIF_BEGINS_HERE:", "*WAVE_BEGINS_HERE:",
    "GIF_BEGINS_HERE:", "*MIDI_BEGINS_HERE*MIDI_BEGINS_HERE:"].map(text);
  const next = random(17);
  for (let round = 0; round < 2000; round++) {
    const data = join(...Array.from({ length: 1 + Math.floor(next() * 8) }, () => fragments[Math.floor(next() * fragments.length)]));
    for (const kind of ["gif", "wave", "midi"] as const) {
      assert.equal(findMarker(data, TAGS[kind]), playerScan(data, TAGS[kind]), `${kind} in ${JSON.stringify(String.fromCharCode(...data))}`);
    }
  }
});

test("search rule: a 30 MB payload full of '*' is searched quickly", () => {
  const payload = new Uint8Array(30 * 2 ** 20);
  for (let i = 0; i < payload.length; i += 5) payload[i] = 0x2a;
  const data = join(section("gif", "GIF89a"), section("wave", "RIFF"));
  const big = new Uint8Array(payload.length + data.length);
  big.set(payload);
  big.set(data, payload.length);
  const started = performance.now();
  const found = findSections(big);
  const seconds = (performance.now() - started) / 1000;
  assert.deepEqual([...found.values()].map((s) => [s.kind, s.markerOffset]), [["gif", payload.length], ["wave", payload.length + 27]]);
  assert.ok(seconds < 5, `took ${seconds.toFixed(2)} s`);
});

// ---- Stubs ------------------------------------------------------------------

interface StubPlan {
  machine?: number;
  checksum?: number;
  certificate?: Uint8Array; // appended behind the image and named in the directory
  symbols?: Uint8Array; // a COFF symbol table behind the image
  imageBytes?: Uint8Array; // written at the start of the section's data
}

const IMAGE_END = 0x400;

// A small but well-formed 32-bit program image: headers, one code section of
// 512 bytes holding the player's marker strings.
function fakePlayer(plan: StubPlan = {}): Uint8Array {
  const out = new Uint8Array(IMAGE_END);
  const view = new DataView(out.buffer);
  out.set(text("MZ"));
  view.setUint32(0x3c, 64, true);
  out.set(text("PE\0\0"), 64);
  const coff = 68;
  view.setUint16(coff, plan.machine ?? 0x14c, true);
  view.setUint16(coff + 2, 1, true);
  view.setUint16(coff + 16, 0xe0, true);
  view.setUint16(coff + 18, 0x0102, true);
  const optional = coff + 20;
  const fields: [number, number, 2 | 4][] = [[0, 0x10b, 2], [16, 0x1000, 4], [20, 0x1000, 4], [28, 0x400000, 4],
    [32, 0x1000, 4], [36, 0x200, 4], [48, 4, 2], [56, 0x2000, 4], [60, 0x200, 4], [64, plan.checksum ?? 0, 4],
    [68, 2, 2], [92, 16, 4]];
  for (const [at, value, size] of fields) {
    if (size === 2) view.setUint16(optional + at, value, true);
    else view.setUint32(optional + at, value, true);
  }
  const header = optional + 0xe0;
  out.set(text(".text"), header);
  for (const [at, value] of [[8, 512], [12, 0x1000], [16, 512], [20, 0x200], [36, 0x60000020]]) {
    view.setUint32(header + at, value, true);
  }
  out.set(plan.imageBytes ?? text("---GIF_BEGINS_HERE\0---WAVE_BEGINS_HERE\0---MIDI_BEGINS_HERE\0"), 0x200);
  let tail = new Uint8Array(0);
  if (plan.symbols) {
    view.setUint32(coff + 8, IMAGE_END, true);
    view.setUint32(coff + 12, 2, true);
    tail = join(tail, plan.symbols);
  }
  if (plan.certificate) {
    view.setUint32(optional + 96 + 32, IMAGE_END + tail.length, true);
    view.setUint32(optional + 96 + 36, plan.certificate.length, true);
    tail = join(tail, plan.certificate);
  }
  return join(out, tail);
}

const u32 = (data: Uint8Array, at: number) => new DataView(data.buffer, data.byteOffset).getUint32(at, true);
const CERTIFICATE_ENTRY = 68 + 20 + 96 + 32;
const CHECKSUM = 68 + 20 + 64;

test("pe: the image ends behind its furthest section", () => {
  assert.equal(executableEnd(join(fakePlayer(), section("gif", GIF))), IMAGE_END);
});

test("pe: a stub made into an animation before gives back the bare image", () => {
  const stub = fakePlayer();
  const madeEarlier = join(stub, section("gif", GIF), section("wave", "RIFF"));
  assert.deepEqual(bareStub(madeEarlier), stub);
  assert.deepEqual(overlaySections(madeEarlier).map((s) => s.kind), ["gif", "wave"]);
  assert.deepEqual(overlaySections(stub), []);
});

const SIGNATURE = text("\x18\0\0\0\0\x02\x02\0signature-bytes!");

const SIGNED_CASES: [string, Uint8Array][] = [
  ["a signed player", fakePlayer({ certificate: SIGNATURE, checksum: 0x1234 })],
  ["a signed player made into an animation", join(fakePlayer({ certificate: SIGNATURE, checksum: 0x1234 }), section("gif", GIF))],
  ["a player with a symbol table", fakePlayer({ symbols: text("symbols and strings"), checksum: 0x1234 })],
];

for (const [name, stub] of SIGNED_CASES) {
  test(`pe: ${name} becomes a well-formed unsigned image`, () => {
    const bare = bareStub(stub);
    assert.equal(bare.length, IMAGE_END);
    assert.deepEqual([u32(bare, CERTIFICATE_ENTRY), u32(bare, CERTIFICATE_ENTRY + 4)], [0, 0]);
    assert.deepEqual([u32(bare, 68 + 8), u32(bare, 68 + 12)], [0, 0]); // symbol pointer and count
    // The value itself is checked against the linker's in signing.test.ts.
    assert.notEqual(u32(bare, CHECKSUM), 0x1234, "the stale checksum is not kept");
    assert.equal(u32(stub, CHECKSUM), 0x1234, "the input is left as it was");
    // resedit refuses signed images unless told to ignore the signature.
    assert.doesNotThrow(() => NtExecutable.from(bare));
  });
}

test("pe: an unsigned stub keeps its checksum", () => {
  assert.equal(u32(bareStub(fakePlayer({ checksum: 0x1234 })), CHECKSUM), 0x1234);
});

const BAD_STUBS: [string, Uint8Array, string][] = [
  ["not an executable", text("not an executable".repeat(8)), "not a Windows executable (no MZ header)"],
  ["no PE header", join(text("MZ"), new Uint8Array(200)), "not a Windows executable (no PE signature)"],
  ["a 64-bit program", fakePlayer({ machine: 0x8664 }), "not a 32-bit x86 Windows executable (machine 0x8664)"],
  ["cut in its section table", fakePlayer().subarray(0, 0x150), "the executable's section table is cut short"],
  ["cut in its code", fakePlayer().subarray(0, 700), "the executable is cut short (its sections run past the end of the file)"],
  ["a marker in its image", fakePlayer({ imageBytes: text("--*WAVE_BEGINS_HERE:") }), "the executable itself holds a WAVE section marker"],
];

for (const [name, stub, message] of BAD_STUBS) {
  test(`pe: refuses ${name}`, () => {
    assert.throws(() => bareStub(stub), (error: Error) => error instanceof Refusal && error.message === message);
  });
}

// ---- Packing ----------------------------------------------------------------

const PACK_CASES: [string, Partial<Record<SectionKind, string>>, SectionKind[]][] = [
  ["a GIF alone", { gif: GIF }, ["gif"]],
  ["all three", { gif: GIF, wave: "RIFF....WAVE", midi: "MThd" }, ["gif", "wave", "midi"]],
  ["a WAVE ending in '*' goes last", { gif: GIF, wave: "RIFF....WAVE*", midi: "MThd" }, ["gif", "midi", "wave"]],
  ["a GIF holding a MIDI marker goes behind the MIDI", { gif: `GIF*MIDI_BEGINS_HERE:xxxx`, midi: "MThd" }, ["midi", "gif"]],
];

for (const [name, bodies, order] of PACK_CASES) {
  test(`pack: ${name}`, () => {
    const stub = fakePlayer();
    const payloads = Object.fromEntries(Object.entries(bodies).map(([k, v]) => [k, text(v)]));
    const data = packSections(stub, payloads as { gif: Uint8Array });
    assert.deepEqual(data.subarray(0, stub.length), stub);
    const found = [...findSections(data).values()].sort((a, b) => a.markerOffset - b.markerOffset);
    assert.deepEqual(found.map((s) => s.kind), order);
    for (const s of found) assert.deepEqual(sectionPayload(data, s), payloads[s.kind]);
    assert.equal(found[0].markerOffset, stub.length);
  });
}

const UNPACKABLE: [string, { gif: Uint8Array; wave?: Uint8Array }, RegExp][] = [
  ["payloads shadowing each other", { gif: section("wave", "x"), wave: section("gif", "y") }, /one holds another section's marker/],
  ["an empty payload", { gif: text(GIF), wave: new Uint8Array(0) }, /WAVE payload of 0 bytes/],
];

for (const [name, payloads, message] of UNPACKABLE) {
  test(`pack: refuses ${name}`, () => {
    assert.throws(() => packSections(fakePlayer(), payloads), (e: Error) => e instanceof Refusal && message.test(e.message));
  });
}

// ---- Resources ----------------------------------------------------------------

const PLAYER_PATH = new URL("../../build/win/src/player.exe", import.meta.url);
const realPlayer = existsSync(PLAYER_PATH) ? bareStub(new Uint8Array(readFileSync(PLAYER_PATH))) : null;
const needsPlayer = { skip: realPlayer ? false : "the build has not made build/win/src/player.exe" };

function pngChunk(type: string, data: Uint8Array): Uint8Array {
  const head = new Uint8Array(8);
  const view = new DataView(head.buffer);
  view.setUint32(0, data.length);
  head.set(text(type), 4);
  const crc = new Uint8Array(4);
  new DataView(crc.buffer).setUint32(0, crc32(join(text(type), data)));
  return join(head, data, crc);
}

// An RGBA PNG of noise (which does not compress), encoded here with zlib.
function png(width: number, height: number, seed = 1): Uint8Array {
  const header = new Uint8Array(13);
  new DataView(header.buffer).setUint32(0, width);
  new DataView(header.buffer).setUint32(4, height);
  header.set([8, 6, 0, 0, 0], 8);
  const next = random(seed);
  const rows = new Uint8Array((width * 4 + 1) * height).map((_, i) => (i % (width * 4 + 1) ? next() * 256 : 0));
  return join(Uint8Array.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), pngChunk("IHDR", header),
    pngChunk("IDAT", deflateSync(rows)), pngChunk("IEND", new Uint8Array(0)));
}

// A 32-bit bitmap icon image: header, colour rows, mask rows.
function bitmapImage(size: number): Uint8Array {
  const image = new Uint8Array(40 + size * size * 4 + Math.ceil(size / 32) * 4 * size);
  const view = new DataView(image.buffer);
  [[0, 40], [4, size], [8, size * 2]].forEach(([at, v]) => view.setInt32(at, v, true));
  view.setUint16(12, 1, true);
  view.setUint16(14, 32, true);
  image.fill(0x7f, 40, 40 + size * size * 4);
  return image;
}

function ico(images: Uint8Array[], sizes: number[]): Uint8Array {
  const directory = new Uint8Array(6 + 16 * images.length);
  const view = new DataView(directory.buffer);
  view.setUint16(2, 1, true);
  view.setUint16(4, images.length, true);
  let offset = directory.length;
  images.forEach((image, i) => {
    directory[6 + 16 * i] = sizes[i] & 0xff;
    directory[7 + 16 * i] = sizes[i] & 0xff;
    view.setUint16(10 + 16 * i, 32, true);
    view.setUint32(14 + 16 * i, image.length, true);
    view.setUint32(18 + 16 * i, offset, true);
    offset += image.length;
  });
  return join(directory, ...images);
}

function readResources(exe: Uint8Array) {
  return NtExecutableResource.from(NtExecutable.from(exe)).entries;
}

function iconGroup(exe: Uint8Array) {
  const entries = readResources(exe);
  const groups = Resource.IconGroupEntry.fromEntries(entries).filter((g) => g.id === 101);
  assert.equal(groups.length, 1);
  const pictures = entries.filter((e) => e.type === 3 && groups[0].icons.some((i) => i.iconID === e.id));
  assert.equal(entries.filter((e) => e.type === 3).length, pictures.length, "no picture of the old icon is left");
  return { icons: groups[0].icons, pictures: pictures.map((e) => new Uint8Array(e.bin)) };
}

function description(exe: Uint8Array): string | undefined {
  const [version] = Resource.VersionInfo.fromEntries(readResources(exe));
  return version?.getStringValues({ lang: 0x409, codepage: 1200 }).FileDescription;
}

// Each result must stay a program whose image ends where the file ends and
// behind which the player finds a packed GIF.
function assertPackable(exe: Uint8Array): void {
  assert.equal(executableEnd(exe), exe.length);
  const packed = packSections(bareStub(exe), { gif: text(GIF) });
  assert.deepEqual(sectionPayload(packed, findSection(packed, "gif")!), text(GIF));
}

const BIG_PNG = png(256, 256, 3);
const ICON_CASES: [string, Uint8Array, number[]][] = [
  ["an .ico of two bitmaps", ico([bitmapImage(16), bitmapImage(32)], [16, 32]), [16, 32]],
  ["an .ico holding a 256-pixel PNG", ico([png(256, 256)], [0]), [0]],
  ["a PNG", png(48, 48), [48]],
  ["a PNG too large to stay in the resource section's place", BIG_PNG, [0]],
];

for (const [name, icon, widths] of ICON_CASES) {
  test(`icon: the real player takes ${name}`, needsPlayer, () => {
    const exe = setIcon(realPlayer!, icon, "x.ico");
    const group = iconGroup(exe);
    assert.deepEqual(group.icons.map((i) => i.width), widths);
    if (icon[0] === 0x89) assert.deepEqual(group.pictures, [icon]);
    assertPackable(exe);
    assert.ok(exe.length <= realPlayer!.length + icon.length + 1024, `${exe.length} bytes`);
  });
}

test("icon: a grown resource section moves the relocations, with their size", needsPlayer, () => {
  const exe = setIcon(realPlayer!, BIG_PNG, "big.png");
  const before = NtExecutable.from(realPlayer!);
  const after = NtExecutable.from(exe);
  const relocations = (e: NtExecutable) => e.newHeader.optionalHeaderDataDirectory.get(5);
  const relocSection = after.getAllSections().find((s) => s.info.name === ".reloc")!;
  assert.ok(relocations(after).virtualAddress > relocations(before).virtualAddress, "the relocations moved");
  assert.equal(relocations(after).virtualAddress, relocSection.info.virtualAddress);
  assert.equal(relocations(after).size, relocations(before).size);
  assert.deepEqual(new Uint8Array(relocSection.data!), new Uint8Array(before.getAllSections().at(-1)!.data!));
  const code = (e: NtExecutable) => e.getAllSections().filter((s) => s.info.name !== ".rsrc" && s.info.name !== ".reloc");
  assert.deepEqual(code(after).map((s) => s.info.virtualAddress), code(before).map((s) => s.info.virtualAddress));
});

test("description: the real player gets a version resource and keeps its other resources", needsPlayer, () => {
  const exe = setDescription(realPlayer!, "  Dancing cat — ünïcødé  ");
  assert.equal(description(exe), "Dancing cat — ünïcødé");
  const others = (e: Uint8Array) => readResources(e).filter((r) => r.type !== 16).map((r) => [r.type, r.id, r.lang, [...new Uint8Array(r.bin)]]);
  assert.deepEqual(others(exe), others(realPlayer!));
  assertPackable(exe);
  assert.equal(description(setDescription(exe, "Second")), "Second");
});

test("description: existing version fields are kept", () => {
  const exe = NtExecutable.from(fakePlayer());
  const resources = NtExecutableResource.from(exe);
  const version = Resource.VersionInfo.create({ lang: 0x409, fixedInfo: { fileVersionMS: 0x10002 },
    strings: [{ lang: 0x409, codepage: 1200, values: { ProductName: "Player", FileDescription: "old" } }] });
  version.outputToResourceEntries(resources.entries);
  resources.outputResource(exe);
  const out = setDescription(new Uint8Array(exe.generate()), "new");
  const [read] = Resource.VersionInfo.fromEntries(readResources(out));
  assert.deepEqual(read.getStringValues({ lang: 0x409, codepage: 1200 }), { ProductName: "Player", FileDescription: "new" });
  assert.equal(read.fixedInfo.fileVersionMS, 0x10002);
});

test("icon and description: a signed player without resources gets a resource section", () => {
  const signedAndUsed = join(fakePlayer({ certificate: SIGNATURE }), section("gif", GIF));
  const exe = setDescription(setIcon(signedAndUsed, png(32, 32), "x.png"), "Fake");
  assert.deepEqual(iconGroup(exe).icons.map((i) => i.width), [32]);
  assert.equal(description(exe), "Fake");
  assertPackable(exe);
});

function damaged(bytes: Uint8Array, at: number): Uint8Array {
  const copy = bytes.slice();
  copy[at] ^= 0xff;
  return copy;
}

const BAD_ICONS: [string, Uint8Array, RegExp][] = [
  ["neither icon nor PNG", text("GIF89a......"), /x\.ico: not an icon \(\.ico\) or a PNG picture/],
  ["a PNG too large", png(257, 16), /x\.ico: the picture is 257 × 16 pixels; an icon can be at most 256 × 256/],
  ["a cut PNG", png(16, 16).subarray(0, 60), /x\.ico: the PNG picture is cut short/],
  ["a PNG with a changed byte", damaged(png(16, 16), 50), /x\.ico: the PNG picture is damaged \(its IDAT chunk fails its checksum\)/],
  ["an .ico with no picture", ico([], []), /x\.ico: the icon file holds no picture/],
  ["an .ico cut in its directory", ico([bitmapImage(16)], [16]).subarray(0, 12), /x\.ico: the icon file is cut short/],
  ["an .ico cut in its picture", ico([bitmapImage(16)], [16]).subarray(0, 300), /x\.ico: the icon file is cut short/],
  ["an .ico holding a large PNG", ico([png(300, 20)], [0]), /x\.ico: the picture is 300 × 20 pixels/],
];

for (const [name, icon, message] of BAD_ICONS) {
  test(`icon: refuses ${name}`, () => {
    assert.throws(() => setIcon(fakePlayer(), icon, "x.ico"), (e: Error) => e instanceof Refusal && message.test(e.message));
  });
}

const BAD_DESCRIPTIONS: [string, string, RegExp][] = [
  ["empty", "", /the description is empty/],
  ["only spaces", "   ", /the description is empty/],
  ["two lines", "one\ntwo", /one line of text/],
  ["too long", "x".repeat(257), /257 characters long; at most 256 fit/],
  ["a broken character", "cat \ud800", /broken character/],
];

for (const [name, description, message] of BAD_DESCRIPTIONS) {
  test(`description: refuses ${name}`, () => {
    assert.throws(() => setDescription(fakePlayer(), description), (e: Error) => e instanceof Refusal && message.test(e.message));
  });
}

test("icon and description: changed bytes in a player's headers or resources give a result or a refusal", () => {
  const player = setDescription(setIcon(fakePlayer(), ico([bitmapImage(16)], [16]), "x.ico"), "Fake");
  const resources = NtExecutable.from(player).getSectionByEntry(2)!.info;
  const next = random(5);
  for (let round = 0; round < 300; round++) {
    const changed = player.slice();
    const [from, size] = round % 2 ? [0, 0x200] : [resources.pointerToRawData, resources.virtualSize];
    for (let i = 0; i < 4; i++) changed[from + Math.floor(next() * size)] = next() * 256;
    for (const rewrite of [() => setIcon(changed, png(16, 16), "x.png"), () => setDescription(changed, "Changed")]) {
      try {
        assertPackable(rewrite());
      } catch (error) {
        assert.ok(error instanceof Refusal, `round ${round}: ${error}`);
      }
    }
  }
});
