// What the browser composites, what the player shows, and what flattening
// writes: small GIFs from gif_builder with the pictures expected written out
// as letters, the test corpus flattened and replayed as the player draws,
// the shared palette's quality, the splitting of sparse changes, and the
// memory rule.

import assert from "node:assert/strict";
import { readdirSync, readFileSync } from "node:fs";
import { test } from "node:test";

import { analyse, checkDecodable, MEMORY_LIMIT, memoryNotes, playTime } from "../../tools/authoring/core/analysis.ts";
import {
  backgroundKey,
  browserPictures,
  ColourRegistry,
  playerPlaced,
  PlayerScreen,
  UNDEFINED,
} from "../../tools/authoring/core/compose.ts";
import { flatten, type FlattenOptions, type FlattenResult } from "../../tools/authoring/core/flatten.ts";
import { parseGif } from "../../tools/authoring/core/gif_read.ts";
import { GifError, type DecodedFrame, type GifFile } from "../../tools/authoring/core/gif_types.ts";
import { decodeFrame } from "../../tools/authoring/core/lzw.ts";
import { NearestEntry } from "../../tools/authoring/core/palette.ts";
import { buildGif, COLOURS, lzwCodes, type FramePlan, type GifPlan } from "./gif_builder.ts";

const OPTIONS: FlattenOptions = { browserTiming: false, background: null, dither: false };
const key = ([r, g, b]: ArrayLike<number> & Iterable<number>) => r! | (g! << 8) | (b! << 16);
const LETTER_OF = new Map(Object.entries(COLOURS).map(([letter, rgb]) => [key(rgb), letter]));

function letters(keys: Uint32Array, width: number): string[] {
  const rows: string[] = [];
  for (let at = 0; at < keys.length; at += width) {
    rows.push([...keys.subarray(at, at + width)].map((k) => (k === UNDEFINED ? "?" : LETTER_OF.get(k) ?? "#")).join(""));
  }
  return rows;
}

// The player's view of a flattened GIF, drawn here independently: opaque
// copies in global colours. Checks the rules the output must keep.
function* playerFrames(bytes: Uint8Array): Generator<{ keys: Uint32Array; delay: number }> {
  const gif = parseGif(bytes);
  assert.ok(gif.globalTable && !gif.endedEarly, "one global table, read to the trailer");
  const first = gif.frames[0]!;
  assert.deepEqual([first.left, first.top, first.width, first.height], [0, 0, gif.width, gif.height]);
  const keys = new Uint32Array(gif.width * gif.height).fill(UNDEFINED);
  for (const frame of gif.frames) {
    assert.ok(!frame.localTable && frame.transparent === null && frame.disposal === 1 && !frame.interlaced);
    const { pixels, count } = decodeFrame(gif, frame);
    assert.equal(count, frame.width * frame.height);
    for (let y = 0; y < frame.height; y++) {
      for (let x = 0; x < frame.width; x++) {
        const index = pixels[y * frame.width + x]!;
        const rgb = gif.globalTable.subarray(3 * index, 3 * index + 3);
        keys[(frame.top + y) * gif.width + frame.left + x] = key(rgb);
      }
    }
    yield { keys, delay: frame.delay };
  }
}

function flattened(plan: GifPlan, options: Partial<FlattenOptions> = {}) {
  const result = flatten(parseGif(buildGif(plan)), { ...OPTIONS, ...options });
  const pictures: [string[], number][] = [];
  for (const { keys, delay } of playerFrames(result.data)) pictures.push([letters(keys, plan.width), delay]);
  return { result, pictures };
}

const RED = ["222", "222"];
// A frame's size with no pixels behind it: its image data is given as codes.
const HUGE = { width: 30000, height: 30000, pixels: new Uint8Array(0) };
const gif = (frames: FramePlan[], more: Partial<GifPlan> = {}): GifPlan => ({
  width: 3, height: 2, palette: "KWRGBYCM", background: 1, frames, ...more,
});

// name: GIF, options, [picture, delay] as the player will show them.
const COMPOSITING: [string, GifPlan, Partial<FlattenOptions>, [string[], number][]][] = [
  ["disposal 0 leaves the frame", gif([{ rows: RED }, { rows: ["3"], left: 1 }, { rows: ["4"], top: 1, delay: 20 }]), {},
    [[["RRR", "RRR"], 10], [["RGR", "RRR"], 10], [["RGR", "BRR"], 20]]],
  ["disposal 2 restores the background", gif([{ rows: RED }, { rows: ["3"], left: 1, disposal: 2 }, { rows: ["4"], top: 1 }]), {},
    [[["RRR", "RRR"], 10], [["RGR", "RRR"], 10], [["RWR", "BRR"], 10]]],
  ["disposal 3 restores the previous picture", gif([{ rows: RED }, { rows: ["3"], left: 1, disposal: 3 }, { rows: ["4"], top: 1 }]), {},
    [[["RRR", "RRR"], 10], [["RGR", "RRR"], 10], [["RRR", "BRR"], 10]]],
  ["disposal 3 on the first frame restores the page", gif([{ rows: ["2"], disposal: 3 }, { rows: ["3"], left: 2, top: 1 }]), {},
    [[["RWW", "WWW"], 10], [["WWW", "WWG"], 10]]],
  ["disposal 4 to 7 leave the frame", gif([{ rows: RED }, { rows: ["3"], disposal: 4 }, { rows: ["4"], left: 1, disposal: 7 }, { rows: ["5"], left: 2 }]), {},
    [[["RRR", "RRR"], 10], [["GRR", "RRR"], 10], [["GBR", "RRR"], 10], [["GBY", "RRR"], 10]]],
  ["full frames: disposal 2, a full frame, then a small one", gif([{ rows: RED, disposal: 2 }, { rows: ["333", "333"] }, { rows: ["4"] }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "GGG"], 10], [["BGG", "GGG"], 10]]],
  ["full frames: disposal 3 after a full frame restores it", gif([{ rows: RED }, { rows: ["333", "333"], disposal: 3 }, { rows: ["4"] }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "GGG"], 10], [["BRR", "RRR"], 10]]],
  ["full frames: disposal 2 then 3 restores the background", gif([{ rows: RED, disposal: 2 }, { rows: ["333", "333"], disposal: 3 }, { rows: ["4"] }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "GGG"], 10], [["BWW", "WWW"], 10]]],
  ["full frames: disposal 3 twice goes back two pictures", gif([{ rows: RED }, { rows: ["333", "333"], disposal: 3 }, { rows: ["444", "444"], disposal: 3 }, { rows: ["5"], left: 2 }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "GGG"], 10], [["BBB", "BBB"], 10], [["RRY", "RRR"], 10]]],
  ["transparency on the first frame shows the background", gif([{ rows: ["120", "012"], transparent: 0 }], { background: 4 }), {},
    [[["WRB", "BWR"], 10]]],
  ["transparency on a later frame shows the picture below", gif([{ rows: RED }, { rows: ["030", "303"], transparent: 0 }]), {},
    [[["RRR", "RRR"], 10], [["RGR", "GRG"], 10]]],
  ["transparent pixels under disposal 2 are cleared too", gif([{ rows: RED }, { rows: ["30"], transparent: 0, disposal: 2 }, { rows: ["5"], left: 2, top: 1 }]), {},
    [[["RRR", "RRR"], 10], [["GRR", "RRR"], 10], [["WWR", "RRY"], 10]]],
  ["a local table gives the frame its own colours", gif([{ rows: RED }, { rows: ["012"], local: "YCMO" }]), {},
    [[["RRR", "RRR"], 10], [["YCM", "RRR"], 10]]],
  ["a frame partly off the screen is clipped", gif([{ rows: RED }, { rows: ["33", "33", "33"], left: 2, top: 1 }]), {},
    [[["RRR", "RRR"], 10], [["RRR", "RRG"], 10]]],
  ["a frame wholly off the screen changes nothing: delays add up", gif([{ rows: RED }, { rows: ["3"], left: 7, delay: 25 }, { rows: ["4"], delay: 5 }]), {},
    [[["RRR", "RRR"], 35], [["BRR", "RRR"], 5]]],
  ["an unchanged picture too long for one delay field gets a frame of its own", gif([{ rows: RED, delay: 40000 }, { rows: ["2"], delay: 30000 }]), {},
    [[["RRR", "RRR"], 40000], [["RRR", "RRR"], 30000]]],
  ["a frame that does not cover the screen leaves the page visible", gif([{ rows: ["22"], left: 1, top: 1 }]), {},
    [[["WWW", "WRR"], 10]]],
  ["no global table: local colours on white", gif([{ rows: ["1"], local: "GB" }, { rows: ["0"], left: 1, local: "YK" }], { palette: null }), {},
    [[["BWW", "WWW"], 10], [["BYW", "WWW"], 10]]],
  ["a background index outside the table means white", gif([{ rows: ["2"] }], { background: 200 }), {},
    [[["RWW", "WWW"], 10]]],
  ["the background option overrides the table's entry", gif([{ rows: ["2"], disposal: 2 }, { rows: ["3"], left: 2 }]), { background: [255, 0, 255] },
    [[["RMM", "MMM"], 10], [["MMG", "MMM"], 10]]],
  ["an index outside the frame's table shows black", gif([{ rows: ["7"], local: "RG", codeSize: 3 }, { rows: ["000", "000"] }], { palette: "RGBW" }), {},
    [[["KGG", "GGG"], 10], [["RRR", "RRR"], 10]]],
  ["interlaced frames are placed row by row", gif([{ rows: ["2", "3", "4", "5", "6"], interlaced: true }], { width: 1, height: 5 }), {},
    [[["R", "G", "B", "Y", "C"], 10]]],
  ["browser timing turns delays of 0 and 1 into 10", gif([{ rows: RED, delay: 0 }, { rows: ["3"], delay: 1 }, { rows: ["4"], delay: 2 }]), { browserTiming: true },
    [[["RRR", "RRR"], 10], [["GRR", "RRR"], 10], [["BRR", "RRR"], 2]]],
  ["delays of 0 and 1 are kept without browser timing", gif([{ rows: RED, delay: 0 }, { rows: ["3"], delay: 1 }]), {},
    [[["RRR", "RRR"], 0], [["GRR", "RRR"], 1]]],
  ["an unchanged picture next to a delay of 0 keeps a frame of its own", gif([{ rows: RED, delay: 0 }, { rows: ["2"], delay: 5 }, { rows: ["3"] }, { rows: ["3"], delay: 0 }]), {},
    [[["RRR", "RRR"], 0], [["RRR", "RRR"], 5], [["GRR", "RRR"], 10], [["GRR", "RRR"], 0]]],
  ["a frame whose data stops early leaves the picture below", gif([{ rows: RED }, { rows: RED, codes: lzwCodes([3, 3, 3], 3) }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "RRR"], 10]]],
  ["a frame cut inside its last row shows the pixels it has", gif([{ rows: RED }, { rows: RED, codes: lzwCodes([3, 3, 3, 3, 3], 3, false) }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "GGR"], 10]]],
  ["an interlaced frame taller than the screen", gif([{ rows: ["333", "444", ...Array<string>(38).fill("555")], interlaced: true }]), {},
    [[["GGG", "BBB"], 10]]],
  ["a frame declared 30000x30000 with six pixels of data", gif([{ rows: RED }, { rows: HUGE, codes: lzwCodes([3, 3, 3, 3, 3, 3], 3) }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "RRR"], 10]]],
  ["the same frame interlaced", gif([{ rows: RED }, { rows: HUGE, interlaced: true, codes: lzwCodes([3, 3, 3, 3, 3, 3], 3) }]), {},
    [[["RRR", "RRR"], 10], [["GGG", "RRR"], 10]]],
];

for (const [name, plan, options, expected] of COMPOSITING) {
  test(`compositing: ${name}`, () => {
    const { pictures } = flattened(plan, options);
    assert.deepEqual(pictures, expected);
  });
}

test("later frames are the changed rectangle and nothing more", () => {
  const plan = gif([{ rows: RED }, { rows: ["030", "303"], transparent: 0 }, { rows: ["4"], left: 2, top: 1, delay: 4 }]);
  const { result } = flattened(plan);
  assert.deepEqual(result.frames, [
    { rect: [0, 0, 3, 2], delay: 10 },
    { rect: [0, 0, 3, 2], delay: 10 },
    { rect: [2, 1, 3, 2], delay: 4 },
  ]);
  assert.equal(parseGif(result.data).loopCount, 0);
});

// Frames for the player's view, decoded by hand: (count, end code).
function decodedRows(width: number, height: number, count: number, endCode: boolean, interlaced = false): DecodedFrame {
  const frame = { left: 0, top: 0, width, height, interlaced, localTable: null, minCodeSize: 2, dataOffset: 0, dataEnd: 0,
    delay: 0, disposal: 0, transparent: null, hasControl: false, playerHasPixels: true };
  const pixels = new Uint8Array(width * height);
  return { frame, pixels: pixels.fill(2), count, endCode };
}

test("the player places whole lines, and a part line only at the end code", () => {
  const gifFile = parseGif(buildGif(gif([{ rows: RED }], { width: 4, height: 5 })));
  const cases: [string, DecodedFrame, string[]][] = [
    ["complete", decodedRows(4, 5, 20, true), ["RRRR", "RRRR", "RRRR", "RRRR", "RRRR"]],
    ["cut after 6 pixels", decodedRows(4, 5, 6, false), ["RRRR", "????", "????", "????", "????"]],
    ["end code after 6 pixels", decodedRows(4, 5, 6, true), ["RRRR", "RR??", "????", "????", "????"]],
    ["interlaced, cut after 10 pixels", decodedRows(4, 5, 10, false, true), ["RRRR", "????", "????", "????", "RRRR"]],
    ["interlaced, end code after 10 pixels", decodedRows(4, 5, 10, true, true), ["RRRR", "????", "RR??", "????", "RRRR"]],
  ];
  for (const [name, decoded, expected] of cases) {
    const screen = new PlayerScreen(gifFile);
    screen.draw(decoded);
    assert.deepEqual(letters(screen.keys, 4), expected, name);
    assert.equal(playerPlaced(decoded), expected.join("").replaceAll("?", "").length, name);
  }
});

test("the player's view against the browser's", () => {
  const cut = buildGif(gif([{ rows: RED }, { rows: ["3"] }]));
  const cases: [string, Uint8Array, Partial<{ same: boolean; firstFrame: number; playerHaltsAt: number; differingPixels: number; undefinedPixels: number }>][] = [
    ["opaque frames", buildGif(gif([{ rows: RED }, { rows: ["3"], left: 1 }])), { same: true }],
    ["transparency", buildGif(gif([{ rows: RED }, { rows: ["03"], transparent: 0 }])), { same: false, firstFrame: 1, differingPixels: 1 }],
    ["disposal to background", buildGif(gif([{ rows: RED }, { rows: ["3"], disposal: 2 }, { rows: ["4"], left: 2 }])), { same: false, firstFrame: 2, differingPixels: 1 }],
    ["a local colour the global table lacks", buildGif(gif([{ rows: RED }, { rows: ["0"], local: "OK" }])), { same: false, firstFrame: 1, differingPixels: 1 }],
    ["a local table of global colours", buildGif(gif([{ rows: RED }, { rows: ["0"], local: "GK" }])), { same: true }],
    ["a first frame leaving the screen undefined", buildGif(gif([{ rows: ["2"] }])), { same: false, firstFrame: 0, differingPixels: 5, undefinedPixels: 5 }],
    ["a frame cut inside its last row: the player drops that row", buildGif(gif([{ rows: RED }, { rows: RED, codes: lzwCodes([3, 3, 3, 3, 3], 3, false) }])),
      { same: false, firstFrame: 1, differingPixels: 3, undefinedPixels: 3 }],
    ["a frame ended inside its last row: the player keeps its part", buildGif(gif([{ rows: RED }, { rows: RED, codes: lzwCodes([3, 3, 3, 3, 3], 3) }])),
      { same: false, firstFrame: 1, differingPixels: 1, undefinedPixels: 1 }],
    ["a frame cut after its descriptor halts the player", cut.subarray(0, cut.length - 8), { same: false, firstFrame: 1, playerHaltsAt: 1 }],
    ["an index past the global table", buildGif(gif([{ rows: ["000", "000"] }, { rows: ["7"], codeSize: 3 }], { palette: "RG" })), { same: false, firstFrame: 1, undefinedPixels: 1 }],
    ["no global table", buildGif(gif([{ rows: RED, local: "KWR" }], { palette: null })), { same: false, firstFrame: -1 }],
  ];
  for (const [name, bytes, expected] of cases) {
    const findings = analyse(parseGif(bytes), null);
    for (const [field, value] of Object.entries(expected)) {
      assert.equal(findings.comparison[field as keyof typeof findings.comparison], value, `${name}: ${field}`);
    }
    assert.equal(findings.playsAsBrowser, expected.same, name);
  }
});

test("findings in words", () => {
  const findings = analyse(parseGif(buildGif(gif([{ rows: RED, delay: 0 }, { rows: ["01"], transparent: 0, disposal: 3, local: "KG" }], { loop: null }))), null);
  assert.deepEqual(findings.differences(), [
    "1 frame(s) with a transparent colour: the player paints it opaquely",
    "disposal to background on 0 frame(s), to previous on 1: the player never disposes",
    "1 frame(s) with a local colour table: the player maps them to the nearest global colours",
    "first different picture: frame 2 (1 pixel(s) differ)",
  ]);
  assert.deepEqual(findings.timingNotes(), [
    "1 frame(s) with a delay of 0 or 1: browsers show them for 0.1 s, the player for 10 ms (--browser-timing makes them 10)",
    "no loop extension: browsers play it once, the player loops for ever",
  ]);
});

test("play time counts a delay of 0 as the timer's 10 ms", () => {
  const cases: [number[], number][] = [[[], 0], [[0], 0.01], [[0, 1, 2], 0.04], [[100, 250], 3.5]];
  for (const [delays, seconds] of cases) assert.equal(playTime(delays), seconds, `${delays}`);
});

// Replays the flattened GIF as the player times it and compares the picture
// on screen during the last 10 ms of each of the browser's pictures; returns
// each picture's PSNR (Infinity when equal).
function replayAgainstBrowser(input: GifFile, result: FlattenResult, options: FlattenOptions): number[] {
  const registry = new ColourRegistry();
  const output = playerFrames(result.data);
  let shown = output.next();
  let shownEnd = Math.max(shown.value!.delay, 1);
  let now = 0;
  const psnrs: number[] = [];
  for (const { index, ids } of browserPictures(input, registry, backgroundKey(input, options.background))) {
    const delay = input.frames[index]!.delay;
    now += Math.max(options.browserTiming && delay < 2 ? 10 : delay, 1);
    while (shownEnd < now) {
      shown = output.next();
      shownEnd += Math.max(shown.value!.delay, 1);
    }
    psnrs.push(psnrOf(shown.value!.keys, ids, registry.keys));
  }
  while (!(shown = output.next()).done) shownEnd += Math.max(shown.value.delay, 1);
  assert.equal(shownEnd, now, "one loop takes as long as before");
  return psnrs;
}

function psnrOf(keys: Uint32Array, ids: Uint32Array, registryKeys: Uint32Array): number {
  let error = 0;
  for (let i = 0; i < keys.length; i++) {
    const a = keys[i]!;
    const b = registryKeys[ids[i]!]!;
    for (let shift = 0; shift < 24; shift += 8) error += (((a >> shift) & 0xff) - ((b >> shift) & 0xff)) ** 2;
  }
  return error === 0 ? Infinity : 10 * Math.log10((255 * 255 * 3 * keys.length) / error);
}

test("the corpus flattens to what a browser shows", () => {
  const root = new URL("../data/gif/", import.meta.url);
  for (const folder of readdirSync(root).filter((name) => !name.includes("."))) {
    for (const name of readdirSync(new URL(`${folder}/`, root)).filter((file) => file.endsWith(".gif"))) {
      const input = parseGif(new Uint8Array(readFileSync(new URL(`${folder}/${name}`, root))));
      if (input.frames.length === 0) continue;
      const result = flatten(input, OPTIONS);
      const psnrs = replayAgainstBrowser(input, result, OPTIONS);
      if (result.exact) assert.ok(psnrs.every((value) => value === Infinity), `${name}: every picture exact`);
      else assert.ok(Math.min(...psnrs) >= 27, `${name}: ${Math.min(...psnrs).toFixed(1)} dB`);
    }
  }
});

// Frames of smooth colour, each with its own table: far more than 256
// colours in all; one frame may instead hold a grid of colours that no
// other frame comes near.
function colourful(frames: number, width = 48, height = 32, odd = -1): GifPlan {
  return {
    width, height, palette: "KW",
    frames: Array.from({ length: frames }, (_, f) => {
      const table = new Uint8Array(768);
      for (let i = 0; i < 256; i++) {
        const rgb = f === odd
          ? [(i & 15) * 17, 0, (i >> 4) * 17]
          : [i, Math.round(128 + 100 * Math.sin(i / 40 + f)), Math.max(0, Math.min(255, 255 - i + 25 * f))];
        table.set(rgb, 3 * i);
      }
      const pixels = Uint8Array.from({ length: width * height }, (_, p) => ((p % width) * 5 + Math.floor(p / width) * 3 + f) & 255);
      return { rows: { width, height, pixels }, local: table, delay: 5 };
    }),
  };
}

test("more than 256 colours: one palette, every picture at least 27 dB, as reported", () => {
  // The odd frame weighs little and falls short with the first palette:
  // a second one, with its colours weighted up, is measured and written.
  const cases: [GifPlan, number][] = [[colourful(6), 2], [colourful(40, 40, 24, 39), 4]];
  for (const [plan, passes] of cases) {
    const input = parseGif(buildGif(plan));
    const result = flatten(input, OPTIONS);
    assert.ok(!result.exact && result.colours > 256 && result.paletteSize <= 256);
    assert.equal(result.passes, passes);
    const psnrs = replayAgainstBrowser(input, result, OPTIONS);
    assert.ok(Math.min(...psnrs) >= 27, `lowest ${Math.min(...psnrs).toFixed(1)} dB`);
    psnrs.forEach((value, i) => assert.ok(Math.abs(value - result.psnrs[i]!) < 1e-6, `picture ${i}: reported ${result.psnrs[i]}`));
  }
});

test("dithering is done only when asked, and changes the pictures", () => {
  const input = parseGif(buildGif(colourful(4)));
  const plain = flatten(input, OPTIONS);
  const dithered = flatten(input, { ...OPTIONS, dither: true });
  assert.ok(dithered.paletteSize <= 256 && dithered.psnrs.length === 0);
  assert.notDeepEqual(dithered.data, plain.data);
  assert.ok(Math.min(...replayAgainstBrowser(input, dithered, OPTIONS)) > 20);
  const exact = parseGif(buildGif(gif([{ rows: RED }, { rows: ["3"] }])));
  assert.deepEqual(flatten(exact, { ...OPTIONS, dither: true }).data, flatten(exact, OPTIONS).data);
});

test("nearest palette entry: exact, lowest index on a tie", () => {
  // Equally near, the lower index met last in the search.
  assert.equal(new NearestEntry(Uint8Array.of(10, 10, 0, 10, 20, 0)).find(10, 15, 0), 0);
  let seed = 7;
  const random = () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) >>> 24;
  for (const size of [1, 2, 17, 256]) {
    const palette = Uint8Array.from({ length: 3 * size }, random);
    if (size > 2) palette.copyWithin(3 * (size - 1), 3, 6); // a duplicate entry
    const search = new NearestEntry(palette);
    for (let n = 0; n < 2000; n++) {
      const [r, g, b] = [random(), random(), random()];
      let best = 0;
      let bestDistance = Infinity;
      for (let i = 0; i < size; i++) {
        const d = (palette[3 * i]! - r) ** 2 + (palette[3 * i + 1]! - g) ** 2 + (palette[3 * i + 2]! - b) ** 2;
        if (d < bestDistance) [best, bestDistance] = [i, d];
      }
      assert.equal(search.find(r, g, b), best, `size ${size}: ${r},${g},${b}`);
    }
  }
});

// A photographic first picture, then small spots changing far apart.
function sparse(delays: number[], width = 160, height = 60): GifPlan {
  let seed = 3;
  const random = () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) / 2 ** 32;
  const background = Uint8Array.from({ length: width * height }, () => 16 + Math.floor(random() * 200));
  const palette = Uint8Array.from({ length: 768 }, (_, i) => (i * 89) & 255);
  const frames: FramePlan[] = [{ rows: { width, height, pixels: background }, delay: delays[0] }];
  for (const delay of delays.slice(1)) {
    const pixels = new Uint8Array(width * height).fill(255);
    for (const [x0, y0] of [[2, 3], [width - 9, 5], [width / 2, height - 8], [10, height - 7]]) {
      for (let y = y0!; y < y0! + 5; y++) for (let x = x0!; x < x0! + 6; x++) pixels[y * width + x] = Math.floor(random() * 16);
    }
    frames.push({ rows: { width, height, pixels }, transparent: 255, delay });
  }
  return { width, height, palette, frames };
}

test("a sparse change goes out as several frames where the delay allows", () => {
  const delays = [10, 8, 0, 1, 2, 8, 30];
  const input = parseGif(buildGif(sparse(delays)));
  const split = flatten(input, OPTIONS);
  const whole = flatten(input, { ...OPTIONS, splitChanges: false });
  assert.ok(split.exact && whole.exact);
  assert.ok(split.splitPictures >= 3 && split.splitFrames >= split.splitPictures, `${split.splitPictures} split`);
  assert.equal(whole.data.length - split.data.length, split.splitSavedBytes, "the saving reported is the saving made");
  assert.equal(whole.frames.length, delays.length);
  assert.equal(split.frames.length, delays.length + split.splitFrames);
  assert.ok(split.frames.every((frame) => frame.delay >= 0));
  assert.equal(playTime(split.frames.map((frame) => frame.delay)), playTime(delays));
  for (const result of [split, whole]) {
    assert.ok(replayAgainstBrowser(input, result, OPTIONS).every((value) => value === Infinity));
  }
  // Pictures of delay 0, 1 and 2 may take at most 1, 1 and 2 frames.
  let frame = 1;
  for (const delay of delays.slice(1)) {
    let pieces = 1;
    while (split.frames[frame]!.delay === 0 && delay > 0) [frame, pieces] = [frame + 1, pieces + 1];
    assert.ok(pieces <= Math.max(delay, 1), `delay ${delay}: ${pieces} frames`);
    assert.equal(split.frames[frame++]!.delay, delay - (pieces - 1));
  }
});

test("the memory rule: one check, from the sizes alone, for analysing and flattening", () => {
  // Frames that declare 1920x1080 but hold one pixel each: cheap to build,
  // costly for the player, which allocates every frame's bitmap.
  const hd = (frames: number, extra: FramePlan[] = []): GifFile => {
    const gifFile = parseGif(buildGif({ width: 1920, height: 1080, palette: "KW", frames: [{ rows: ["1"] }, ...extra] }));
    const frame = gifFile.frames[0]!;
    const big = { ...frame, width: 1920, height: 1080 };
    return { ...gifFile, frames: Array.from({ length: frames }, () => big) };
  };
  const cases: [string, GifFile, RegExp | null][] = [
    ["1700 HD frames fit", hd(1700), null],
    ["1900 HD frames do not", hd(1900), /the player would need 3\d{3}\.\d MiB for this animation, more than 3584\.0 MiB/],
    ["a frame larger than one block", { ...hd(1), frames: [{ ...hd(1).frames[0]!, width: 65535, height: 32768 }] },
      /frame 1 is 65535x32768: more than the player can allocate at once/],
    ["no frame", { ...hd(1), frames: [] }, /the GIF holds no frame/],
    ["an empty screen", { ...hd(1), width: 0 }, /screen is 0x1080: nothing can be shown/],
    ["a screen too large to composite", { ...hd(1), width: 65535, height: 65535 }, /65535x65535/],
    ["frames the player holds no bitmap for do not count", { ...hd(1), frames: Array.from({ length: 900 }, () => ({ ...hd(1).frames[0]!, playerHasPixels: false })) }, null],
  ];
  for (const [name, gifFile, refusal] of cases) {
    if (!refusal) {
      assert.doesNotThrow(() => checkDecodable(gifFile), name);
      continue;
    }
    for (const work of [() => checkDecodable(gifFile), () => analyse(gifFile, null), () => flatten(gifFile, OPTIONS)]) {
      assert.throws(work, (error: Error) => error instanceof GifError && refusal.test(error.message), name);
    }
  }
  assert.equal(MEMORY_LIMIT, 3.5 * 2 ** 30);
});

test("memory notes: 64-bit Windows only above what 32-bit Windows gives a program", () => {
  const cases: [number, RegExp | null][] = [
    [100 * 2 ** 20, null],
    [600 * 2 ** 20, /^a large animation: the player needs 600\.0 MiB/],
    [1.6 * 2 ** 30, /1638\.4 MiB .* plays on 64-bit Windows, but not on 32-bit Windows/],
  ];
  for (const [memory, note] of cases) {
    const notes = memoryNotes(memory);
    if (note) assert.match(notes.join("\n"), note);
    else assert.deepEqual(notes, []);
  }
});
