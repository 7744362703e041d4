// The animpack command line as an author runs it, as a child process on
// small files written here: refusals that leave every file as it was,
// usage errors, round trips through make/list/extract, the icon and the
// description, an interrupt, and the installable package.

import { after, test } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync, type SpawnSyncOptions } from "node:child_process";
import { createHash } from "node:crypto";
import * as fs from "node:fs";
import * as os from "node:os";
import * as path from "node:path";
import { fileURLToPath } from "node:url";
import { encodeImageData } from "../../tools/authoring/core/lzw.ts";
import { parseGif } from "../../tools/authoring/core/gif_read.ts";
import { parseColour } from "../../tools/authoring/cli/colour.ts";
import { ProgressBar } from "../../tools/authoring/cli/progress.ts";
import { MIDI, riff, wave } from "./sound_builder.ts";

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..", "..");
const MAIN = path.join(ROOT, "tools", "authoring", "cli", "main.ts");
const TSX = path.join(ROOT, "node_modules", "tsx", "dist", "loader.mjs");
const PLAYER = path.join(ROOT, "build", "win", "src", "player.exe");
const havePlayer = fs.existsSync(PLAYER);

// ------------------------------------------------------------ test inputs

const PALETTE = [
  [0, 0, 0], [255, 255, 255], [255, 0, 0], [0, 255, 0], [0, 0, 255], [255, 255, 0], [0, 255, 255], [255, 0, 255],
];

interface FramePlan {
  pixels: number[]; // width * height indices of the screen
  delay?: number;
  disposal?: number;
  transparent?: number;
}

function word(value: number): number[] {
  return [value & 255, value >> 8];
}

// A GIF89a with the 8-colour table, a loop extension and full-screen frames.
function gif(width: number, height: number, frames: FramePlan[]): Uint8Array {
  const bytes = [...Buffer.from("GIF89a"), ...word(width), ...word(height), 0xf2, 0, 0, ...PALETTE.flat()];
  bytes.push(0x21, 0xff, 11, ...Buffer.from("NETSCAPE2.0"), 3, 1, 0, 0, 0);
  for (const frame of frames) {
    const flags = ((frame.disposal ?? 0) << 2) | (frame.transparent === undefined ? 0 : 1);
    bytes.push(0x21, 0xf9, 4, flags, ...word(frame.delay ?? 10), frame.transparent ?? 0, 0);
    bytes.push(0x2c, 0, 0, 0, 0, ...word(width), ...word(height), 0);
    bytes.push(...encodeImageData(Uint8Array.from(frame.pixels), width, [0, 0, width, height], 3));
  }
  bytes.push(0x3b);
  return Uint8Array.from(bytes);
}

const fill = (count: number, index: number) => new Array<number>(count).fill(index);

// Two plain frames: the player shows them as a browser does.
const PLAIN = gif(4, 3, [{ pixels: fill(12, 2) }, { pixels: fill(12, 3), delay: 20 }]);
// The second frame is transparent but for one pixel: make flattens it.
const OPTIMISED = gif(4, 3, [{ pixels: fill(12, 2) }, { pixels: [4, ...fill(11, 0)], transparent: 0, disposal: 1 }]);
// Three plain frames, cut inside the third one's image data.
const CUT = gif(4, 3, [{ pixels: fill(12, 1) }, { pixels: fill(12, 2) }, { pixels: [1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4] }]).slice(0, -3);

// A 16x16 icon of one 32-bit bitmap, every pixel `bgra`.
function icon(bgra: number[]): Uint8Array {
  const header = Buffer.alloc(40);
  header.writeUInt32LE(40, 0);
  header.writeInt32LE(16, 4);
  header.writeInt32LE(32, 8); // XOR and AND bitmaps
  header.writeUInt16LE(1, 12);
  header.writeUInt16LE(32, 14);
  const pixels = Buffer.from(new Array(256).fill(bgra).flat());
  const image = Buffer.concat([header, pixels, Buffer.alloc(16 * 4)]);
  const directory = Buffer.alloc(22);
  directory.writeUInt16LE(1, 2);
  directory.writeUInt16LE(1, 4);
  directory.writeUInt8(16, 6);
  directory.writeUInt8(16, 7);
  directory.writeUInt16LE(1, 10);
  directory.writeUInt16LE(32, 12);
  directory.writeUInt32LE(image.length, 14);
  directory.writeUInt32LE(22, 18);
  return Buffer.concat([directory, image]);
}

// ------------------------------------------------------------ running it

interface Run {
  status: number | null;
  stdout: string;
  stderr: string;
}

function animpack(cwd: string, args: string[], extra: SpawnSyncOptions = {}): Run {
  const env = { ...process.env, ANIMPACK_PLAYER: PLAYER, ANIMPACK_DEBUG: "" };
  const run = spawnSync(process.execPath, ["--import", TSX, MAIN, ...args], { cwd, env, encoding: "utf8", ...extra });
  return { status: run.status, stdout: String(run.stdout), stderr: String(run.stderr) };
}

const SCRATCH = fs.mkdtempSync(path.join(os.tmpdir(), "animpack-cli-"));
fs.chmodSync(SCRATCH, 0o755);
after(() => fs.rmSync(SCRATCH, { recursive: true, force: true }));

function folder(files: Record<string, Uint8Array> = {}): string {
  const dir = fs.mkdtempSync(path.join(SCRATCH, "case-"));
  for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
  return dir;
}

// Every entry of a folder tree with its kind and contents, to compare before and after.
function snapshot(dir: string): Map<string, string> {
  const entries = new Map<string, string>();
  for (const name of fs.readdirSync(dir, { recursive: true }) as string[]) {
    const file = path.join(dir, name);
    const stat = fs.lstatSync(file);
    const what = stat.isSymbolicLink() ? `link ${fs.readlinkSync(file)}` : stat.isDirectory() ? "folder" : createHash("sha256").update(fs.readFileSync(file)).digest("hex");
    entries.set(name, what);
  }
  return entries;
}

function assertOneError(run: Run, message: string | RegExp): void {
  const lines = run.stderr.trimEnd().split("\n");
  assert.equal(run.status, 1, run.stderr);
  assert.equal(lines.length, 1, `one line expected, got:\n${run.stderr}`);
  assert.match(lines[0], /^animpack: error: /);
  if (typeof message === "string") assert.ok(lines[0].includes(message), `"${message}" not in: ${lines[0]}`);
  else assert.match(lines[0], message);
}

// ------------------------------------------------------------ refusals

interface Refused {
  what: string;
  files: Record<string, Uint8Array>;
  // Done in the folder before the run (links).
  prepare?: (dir: string) => void;
  args: string[];
  message: string | RegExp;
}

const A = { "a.gif": PLAIN };

const REFUSALS: Refused[] = [
  { what: "output is the GIF", files: { "same.gif": PLAIN }, args: ["make", "same.gif", "--gif", "same.gif"], message: "destroy an input" },
  { what: "output is the WAVE", files: { ...A, "w.wav": wave(1) }, args: ["make", "w.wav", "--gif", "a.gif", "--wave", "w.wav"], message: "is the WAVE file w.wav" },
  { what: "output is the MIDI", files: { ...A, "m.mid": MIDI }, args: ["make", "m.mid", "--gif", "a.gif", "--midi", "m.mid"], message: "is the MIDI file m.mid" },
  { what: "output is the icon", files: { ...A, "i.ico": icon([0, 0, 255, 255]) }, args: ["make", "i.ico", "--gif", "a.gif", "--icon", "i.ico"], message: "is the icon i.ico" },
  { what: "output is the player", files: { ...A }, prepare: (d) => fs.copyFileSync(PLAYER, path.join(d, "p.exe")), args: ["make", "p.exe", "--gif", "a.gif", "--player", "p.exe"], message: "is the player p.exe" },
  { what: "flatten onto its input", files: A, args: ["flatten", "a.gif", "a.gif"], message: "destroy an input" },
  { what: "flatten onto another spelling", files: A, prepare: (d) => fs.mkdirSync(path.join(d, "sub")), args: ["flatten", "a.gif", "sub/../a.gif"], message: "destroy an input" },
  { what: "output is a symbolic link to the GIF", files: A, prepare: (d) => fs.symlinkSync("a.gif", path.join(d, "out.exe")), args: ["make", "out.exe", "--gif", "a.gif"], message: "is the GIF a.gif" },
  { what: "output is a hard link to the GIF", files: A, prepare: (d) => fs.linkSync(path.join(d, "a.gif"), path.join(d, "out.exe")), args: ["make", "out.exe", "--gif", "a.gif"], message: "is the GIF a.gif" },
  { what: "output folder missing", files: A, args: ["make", "nowhere/out.exe", "--gif", "a.gif"], message: /folder .*nowhere does not exist/ },
  { what: "output is a folder", files: A, prepare: (d) => fs.mkdirSync(path.join(d, "sub")), args: ["make", "sub", "--gif", "a.gif"], message: "it is a folder" },
  { what: "GIF missing", files: {}, args: ["make", "out.exe", "--gif", "missing.gif"], message: "cannot read the GIF missing.gif: no such file" },
  { what: "not a GIF", files: { "a.gif": Buffer.from("\x89PNG\r\n\x1a\n" + "\0".repeat(20), "latin1") }, args: ["make", "out.exe", "--gif", "a.gif"], message: "a.gif: not a GIF" },
  { what: "GIF cut inside its header", files: { "a.gif": PLAIN.slice(0, 9) }, args: ["make", "out.exe", "--gif", "a.gif"], message: "a.gif: the GIF is cut short inside its header" },
  { what: "GIF cut inside a frame", files: { "a.gif": CUT }, args: ["make", "out.exe", "--gif", "a.gif"], message: /a\.gif: the GIF is cut short .*frame 3.*2 frames are complete; --keep-truncated packs those/ },
  { what: "check refuses a cut GIF alike", files: { "a.gif": CUT }, args: ["check", "a.gif"], message: /2 frames are complete; --keep-truncated packs those/ },
  { what: "cut GIF flattened", files: { "a.gif": CUT }, args: ["flatten", "a.gif", "out.gif"], message: /2 frames are complete/ },
  { what: "WAVE without format chunk", files: { ...A, "w.wav": riff("WAVE", [["data", Buffer.alloc(100)]]) }, args: ["make", "out.exe", "--gif", "a.gif", "--wave", "w.wav"], message: /w\.wav: .*format/ },
  { what: "WAVE cut in its data", files: { ...A, "w.wav": wave(1).slice(0, 500) }, args: ["make", "out.exe", "--gif", "a.gif", "--wave", "w.wav"], message: /w\.wav: .*cut short/ },
  { what: "MIDI without a track", files: { ...A, "m.mid": MIDI.subarray(0, 14) }, args: ["make", "out.exe", "--gif", "a.gif", "--midi", "m.mid"], message: /m\.mid: .*track/ },
  { what: "icon that is no icon", files: { ...A, "i.ico": Buffer.from("GIF89a not an icon") }, args: ["make", "out.exe", "--gif", "a.gif", "--icon", "i.ico"], message: /i\.ico: not an icon/ },
  { what: "player that is no executable", files: { ...A, "p.exe": Buffer.from("#!/bin/sh\n".repeat(10)) }, args: ["make", "out.exe", "--gif", "a.gif", "--player", "p.exe"], message: /p\.exe: .*MZ/ },
  { what: "animation without sections", files: { "x.exe": Buffer.from("MZ nothing here") }, args: ["list", "x.exe"], message: "x.exe: no payload section" },
];

for (const row of REFUSALS) {
  test(`refused, files unchanged: ${row.what}`, { skip: !havePlayer && "no player built" }, () => {
    const dir = folder(row.files);
    row.prepare?.(dir);
    const before = snapshot(dir);
    const run = animpack(dir, row.args);
    assertOneError(run, row.message);
    assert.deepEqual(snapshot(dir), before);
  });
}

test("extract refuses to write a payload over the animation it reads", { skip: !havePlayer && "no player built" }, () => {
  const dir = folder(A);
  assert.equal(animpack(dir, ["make", "animation.gif", "--gif", "a.gif"]).status, 0);
  const before = snapshot(dir);
  assertOneError(animpack(dir, ["extract", "animation.gif", "."]), "destroy an input");
  assert.deepEqual(snapshot(dir), before);
});

test("a read-only output folder is refused before any work", { skip: !havePlayer && "no player built" }, () => {
  const dir = folder(A);
  const locked = path.join(dir, "locked");
  fs.mkdirSync(locked);
  fs.chmodSync(dir, 0o755);
  fs.chmodSync(path.join(dir, "a.gif"), 0o644);
  fs.chmodSync(locked, 0o555);
  // root writes into any folder: run as nobody there.
  const asUser = process.getuid?.() === 0 ? { uid: 65534, gid: 65534 } : {};
  const run = animpack(dir, ["make", "locked/out.exe", "--gif", "a.gif"], asUser);
  assertOneError(run, /cannot write into the folder .*locked: permission denied/);
  assert.deepEqual(fs.readdirSync(locked), []);
});

// ------------------------------------------------------------ usage errors

const USAGE_ERRORS: [string, string[], RegExp][] = [
  ["no command", [], /no command given/],
  ["unknown command", ["bake"], /unknown command "bake"/],
  ["missing --gif", ["make", "out.exe"], /--gif A\.gif is required/],
  ["missing output", ["make", "--gif", "a.gif"], /OUT\.exe is missing/],
  ["unknown option", ["make", "out.exe", "--gif", "a.gif", "--fast"], /unknown option --fast/],
  ["option twice", ["make", "out.exe", "--gif", "a.gif", "--gif", "b.gif"], /--gif given twice/],
  ["value missing", ["check", "a.gif", "--background"], /--background needs a value/],
  ["bad colour", ["check", "a.gif", "--background", "reddish"], /not a colour: "reddish"/],
  ["extra argument", ["list", "a.exe", "b.exe"], /unexpected argument "b\.exe"/],
];

for (const [what, args, message] of USAGE_ERRORS) {
  test(`usage error: ${what}`, () => {
    const run = animpack(folder(), args);
    const lines = run.stderr.trimEnd().split("\n");
    assert.equal(run.status, 2, run.stderr);
    assert.equal(lines.length, 2, run.stderr);
    assert.match(lines[0], /^usage: animpack /);
    assert.match(lines[1], message);
  });
}

test("every command has help, and the version is the package's", () => {
  const dir = folder();
  for (const command of ["make", "list", "extract", "check", "flatten"]) {
    const run = animpack(dir, [command, "--help"]);
    assert.equal(run.status, 0);
    assert.match(run.stdout, new RegExp(`^usage: animpack ${command}`));
  }
  const manifest = JSON.parse(fs.readFileSync(path.join(ROOT, "package.json"), "utf8"));
  assert.equal(animpack(dir, ["--version"]).stdout.trim(), `animpack ${manifest.version}`);
  const help = animpack(dir, ["make", "--help"]).stdout.replace(/\s+/g, " ");
  assert.match(help, /\$ANIMPACK_PLAYER, else the player\.exe installed beside animpack, else the build.s build\/win\/src\/player\.exe/);
});

test("a fault in animpack is one line, with the stack only when ANIMPACK_DEBUG is set", () => {
  // Reading files fails in a way no input can cause.
  const dir = folder(A);
  fs.writeFileSync(path.join(dir, "fault.mjs"), [
    'import fs from "node:fs";',
    'import { syncBuiltinESMExports } from "node:module";',
    'fs.readFileSync = () => { throw new TypeError("made to fail"); };',
    "syncBuiltinESMExports();",
  ].join("\n"));
  for (const debug of ["", "1"]) {
    const run = spawnSync(process.execPath, ["--import", TSX, "--import", "./fault.mjs", MAIN, "check", "a.gif"], {
      cwd: dir, env: { ...process.env, ANIMPACK_DEBUG: debug }, encoding: "utf8",
    });
    const lines = run.stderr.trimEnd().split("\n");
    assert.equal(run.status, 3, run.stderr);
    assert.match(lines[0], /^animpack: fault: .*inside animpack.*made to fail/);
    assert.equal(lines.length > 1, debug === "1", run.stderr);
    assert.equal(/\bat .*files\.ts/.test(run.stderr), debug === "1", run.stderr);
  }
});

// ------------------------------------------------------------ making animations

function extracted(dir: string, exe: string): Record<string, Buffer> {
  const out = path.join(dir, `${exe}.x`);
  const run = animpack(dir, ["extract", exe, out]);
  assert.equal(run.status, 0, run.stderr);
  return Object.fromEntries(fs.readdirSync(out).map((name) => [name, fs.readFileSync(path.join(out, name))]));
}

test("make, list and extract round trip a plain GIF and both sounds", { skip: !havePlayer && "no player built" }, () => {
  const dir = folder({ ...A, "s.wav": wave(0.25), "m.mid": MIDI });
  const made = animpack(dir, ["make", "out.exe", "--gif", "a.gif", "--wave", "s.wav", "--midi", "m.mid"]);
  assert.equal(made.status, 0, made.stderr);
  assert.match(made.stdout, /passed through unchanged/);
  assert.match(made.stdout, /packed GIF: [\d,]+ bytes, 1\.00× the input's/);
  assert.match(made.stdout, /^wrote out\.exe: [\d,]+ bytes$/m);
  assert.equal(made.stderr, "");
  const listed = animpack(dir, ["list", "out.exe"]).stdout;
  assert.match(listed, /^GIF .*\n^WAVE .*\n^MIDI .*\n^GIF 2 frame\(s\), 4x3/m);
  const files = extracted(dir, "out.exe");
  assert.deepEqual(Object.keys(files).sort(), ["animation.gif", "song.mid", "sound.wav"]);
  assert.deepEqual(files["animation.gif"], Buffer.from(PLAIN));
  assert.deepEqual(files["sound.wav"], Buffer.from(wave(0.25)));
  assert.deepEqual(files["song.mid"], MIDI);
  assert.deepEqual(fs.readdirSync(dir).filter((name) => name.startsWith(".")), []);
});

test("make flattens what the player would show differently, and flatten writes the same GIF", { skip: !havePlayer && "no player built" }, () => {
  const dir = folder({ "a.gif": OPTIMISED });
  const made = animpack(dir, ["make", "out.exe", "--gif", "a.gif"]);
  assert.equal(made.status, 0, made.stderr);
  assert.match(made.stdout, /GIF flattened: .*transparent/);
  assert.equal(animpack(dir, ["flatten", "a.gif", "flat.gif"]).status, 0);
  assert.deepEqual(extracted(dir, "out.exe")["animation.gif"], fs.readFileSync(path.join(dir, "flat.gif")));
  const asIs = animpack(dir, ["make", "as-is.exe", "--gif", "a.gif", "--as-is"]);
  assert.match(asIs.stderr, /^animpack: warning: as is: .*transparent/m);
  assert.deepEqual(extracted(dir, "as-is.exe")["animation.gif"], Buffer.from(OPTIMISED));
});

test("--keep-truncated packs the complete frames of a cut GIF", { skip: !havePlayer && "no player built" }, () => {
  const dir = folder({ "a.gif": CUT });
  const made = animpack(dir, ["make", "out.exe", "--gif", "a.gif", "--keep-truncated"]);
  assert.equal(made.status, 0, made.stderr);
  assert.match(made.stderr, /cut short: only its 2 complete frames are used/);
  const packed = parseGif(extracted(dir, "out.exe")["animation.gif"]);
  assert.equal(packed.frames.length, 2);
  assert.equal(packed.truncated, false);
  assert.equal(packed.endedEarly, "");
});

const SOUND_NOTES: [string, Record<string, Uint8Array>, string[], RegExp, "stdout" | "stderr"][] = [
  ["a WAVE longer than one loop is warned about", { "s.wav": wave(2) }, ["--wave", "s.wav"],
    /warning: s\.wav lasts 2\.00 s, longer than one loop of the animation \(0\.30 s\)/, "stderr"],
  ["an RMID file is unwrapped, and make says so", { "m.rmi": riff("RMID", [["data", MIDI]]) }, ["--midi", "m.rmi"],
    /m\.rmi: .*RMID/, "stdout"],
];

for (const [what, files, args, message, stream] of SOUND_NOTES) {
  test(what, { skip: !havePlayer && "no player built" }, () => {
    const dir = folder({ ...A, ...files });
    const made = animpack(dir, ["make", "out.exe", "--gif", "a.gif", ...args]);
    assert.equal(made.status, 0, made.stderr);
    assert.match(made[stream], message);
  });
}

test("the RMID's song is what gets packed", { skip: !havePlayer && "no player built" }, () => {
  const dir = folder({ ...A, "m.rmi": riff("RMID", [["data", MIDI]]) });
  assert.equal(animpack(dir, ["make", "out.exe", "--gif", "a.gif", "--midi", "m.rmi"]).status, 0);
  assert.deepEqual(extracted(dir, "out.exe")["song.mid"], MIDI);
});

test("the icon and the description are written into the copy of the player", { skip: !havePlayer && "no player built" }, () => {
  const colour = [0x12, 0x34, 0x56, 0xff];
  const dir = folder({ ...A, "i.ico": icon(colour) });
  const description = "Dancing teapot, 2nd take";
  const made = animpack(dir, ["make", "out.exe", "--gif", "a.gif", "--icon", "i.ico", "--description", description]);
  assert.equal(made.status, 0, made.stderr);
  const exe = fs.readFileSync(path.join(dir, "out.exe"));
  const pixels = Buffer.from(new Array(256).fill(colour).flat());
  assert.ok(exe.includes(pixels), "the icon's pixels are not in the executable");
  assert.ok(exe.includes(Buffer.from(description, "utf16le")), "the description is not in the executable");
  assert.ok(!fs.readFileSync(PLAYER).includes(Buffer.from(description, "utf16le")));
  assert.deepEqual(extracted(dir, "out.exe")["animation.gif"], Buffer.from(PLAIN));
});

test("a packed GIF much larger than its input is explained", { skip: !havePlayer && "no player built" }, () => {
  // A noisy picture, then frames that change two far corners and leave the
  // rest transparent: each becomes a screen-sized opaque rectangle.
  const size = 64;
  let seed = 7;
  const noise = Array.from({ length: size * size }, () => ((seed = (seed * 1103515245 + 12345) & 0x7fffffff) >> 16) % 7 + 1);
  const sparse = (i: number) => {
    const pixels = fill(size * size, 0);
    pixels[0] = pixels[size * size - 1] = 1 + (i % 7);
    return { pixels, transparent: 0, delay: 0 };
  };
  const dir = folder({ "a.gif": gif(size, size, [{ pixels: noise }, ...Array.from({ length: 12 }, (_, i) => sparse(i))]) });
  const made = animpack(dir, ["make", "out.exe", "--gif", "a.gif"]);
  assert.equal(made.status, 0, made.stderr);
  const ratio = Number(/packed GIF: [\d,]+ bytes, ([\d.]+)×/.exec(made.stdout)?.[1]);
  assert.ok(ratio > 2, made.stdout);
  assert.match(made.stderr, /warning: the packed GIF is [\d.]+× the input: .*opaque rectangle.*would make it smaller/);
});

// Seconds of processor time the process has used so far (Linux).
function cpuSeconds(pid: number): number {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return (Number(fields[11]) + Number(fields[12])) / 100;
}

test("an interrupt during the work exits 130 and leaves no file behind", { skip: !(havePlayer && fs.existsSync("/proc/self/stat")) && "needs the player and /proc" }, async () => {
  // Two noisy, partly transparent pictures in turn, 500 times: seconds of
  // work, though only two frames need encoding here.
  const size = 500;
  let seed = 1;
  const noise = () => Uint8Array.from({ length: size * size }, () => ((seed = (seed * 1103515245 + 12345) & 0x7fffffff) >> 16) % 8);
  const pictures = [noise(), noise()].map((pixels) => Buffer.from(encodeImageData(pixels, size, [0, 0, size, size], 3)));
  const head = Buffer.from(gif(size, size, []).subarray(0, -1));
  const frame = (data: Buffer) => Buffer.concat([
    Buffer.from([0x21, 0xf9, 4, 1, 10, 0, 0, 0, 0x2c, 0, 0, 0, 0, ...word(size), ...word(size), 0]), data]);
  const frames = Array.from({ length: 500 }, (_, i) => frame(pictures[i % 2]));
  const dir = folder({ "a.gif": Buffer.concat([head, ...frames, Buffer.from([0x3b])]) });
  const before = snapshot(dir);
  const child = spawn(process.execPath, ["--import", TSX, MAIN, "make", "out.exe", "--gif", "a.gif"], {
    cwd: dir,
    env: { ...process.env, ANIMPACK_PLAYER: PLAYER },
  });
  let stderr = "";
  child.stderr.on("data", (chunk) => (stderr += chunk));
  const exited = new Promise<number | null>((resolve) => child.on("exit", (code) => resolve(code)));
  // Start-up takes about a second of processor time; interrupt well into the work.
  const poll = setInterval(() => {
    if (child.exitCode === null && cpuSeconds(child.pid!) >= 2) {
      child.kill("SIGINT");
      clearInterval(poll);
    }
  }, 20);
  const status = await exited;
  clearInterval(poll);
  assert.equal(status, 130, stderr);
  assert.equal(stderr, "animpack: interrupted\n");
  assert.deepEqual(snapshot(dir), before);
});

// ------------------------------------------------------------ pieces

test("colours are read as CSS names, hex with or without '#', or rgb()", () => {
  const cases: [string, [number, number, number] | null][] = [
    ["white", [255, 255, 255]],
    ["SteelBlue", [70, 130, 180]],
    ["#f80", [255, 136, 0]],
    ["#ff8000", [255, 128, 0]],
    ["ff8000", [255, 128, 0]],
    ["ABC", [170, 187, 204]],
    ["rgb(1, 2, 3)", [1, 2, 3]],
    ["#ff80", null],
    ["whit", null],
    ["rgb(256, 0, 0)", null],
    ["", null],
  ];
  for (const [text, expected] of cases) assert.deepEqual(parseColour(text), expected, text);
});

test("the progress bar waits half a second, draws only on a terminal, and clears itself", () => {
  const cases: [boolean, number, boolean][] = [
    [true, 100, false],
    [true, 600, true],
    [false, 600, false],
  ];
  for (const [isTTY, elapsed, drawn] of cases) {
    let clock = 0;
    let written = "";
    const bar = new ProgressBar({ isTTY, columns: 60, write: (text: string) => (written += text) }, () => clock);
    clock = elapsed;
    bar.update("flattening", 3, 10);
    assert.equal(written.includes("3/10"), drawn, `tty ${isTTY}, ${elapsed} ms`);
    bar.clear();
    const visible = written.split("\r").at(-2) ?? "";
    if (drawn) assert.equal(visible.trim(), "", "the last thing drawn is blank");
    assert.ok(written.split("\r").every((line) => line.length < 60));
  }
});

// ------------------------------------------------------------ the package

test("npm pack gives a package whose animpack makes animations with no checkout", { skip: !havePlayer && "no player built", timeout: 300_000 }, () => {
  const quiet: SpawnSyncOptions = { cwd: ROOT, encoding: "utf8" };
  const built = spawnSync(process.execPath, [path.join(ROOT, "tools", "authoring", "build.mjs")], quiet);
  assert.equal(built.status, 0, String(built.stderr));
  const work = folder();
  const packed = spawnSync("npm", ["pack", "--ignore-scripts", "--pack-destination", work], quiet);
  assert.equal(packed.status, 0, String(packed.stderr));
  const tarball = fs.readdirSync(work).find((name) => name.endsWith(".tgz"));
  assert.ok(tarball, String(packed.stdout));
  const prefix = path.join(work, "prefix");
  const installed = spawnSync("npm", ["install", "-g", "--prefix", prefix, "--offline", "--no-audit", "--no-fund", path.join(work, tarball)], { cwd: work, encoding: "utf8" });
  assert.equal(installed.status, 0, String(installed.stderr));
  const elsewhere = folder(A);
  const env = { ...process.env };
  delete env.ANIMPACK_PLAYER;
  const bin = path.join(prefix, "bin", "animpack");
  const made = spawnSync(bin, ["make", "out.exe", "--gif", "a.gif"], { cwd: elsewhere, env, encoding: "utf8" });
  assert.equal(made.status, 0, String(made.stderr));
  const exe = fs.readFileSync(path.join(elsewhere, "out.exe"));
  assert.ok(exe.subarray(0, 2).equals(Buffer.from("MZ")) && exe.includes(Buffer.from(PLAIN)));
});
