// The offline page in a real browser (Debian's chromium through
// playwright-core), opened from disk: it makes the same bytes as the core in
// Node, shows refusals without a download, opens animations, and can be
// driven from the keyboard.
//
// ANIMPACK_WEB_PICTURES=DIR writes a screenshot of the page to
// DIR/animpack-page.png; ANIMPACK_WEB_CLIP=A.gif measures the page's speed
// on that GIF.

import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { pathToFileURL } from "node:url";
import { chromium, type Browser, type Page } from "playwright-core";
import { Refusal } from "../../tools/authoring/core/errors.ts";
import { parseGif } from "../../tools/authoring/core/gif_read.ts";
import { checkGif, listSections, makeAnimation, type MakeOptions } from "../../tools/authoring/core/make.ts";
import { assembleGif } from "../../tools/authoring/core/gif_write.ts";
import { encodeImageData } from "../../tools/authoring/core/lzw.ts";
import type { Rect } from "../../tools/authoring/core/gif_types.ts";
import { backgroundKey, FrameDecoder, playerPictures, PlayerScreen, UNDEFINED } from "../../tools/authoring/core/compose.ts";
import { PlayerClip } from "../../tools/authoring/web/render.ts";
import { gifBackdrop } from "../../tools/authoring/web/make_mode.ts";
import { MIDI, riff, wave } from "./sound_builder.ts";

const root = join(import.meta.dirname, "..", "..");
const pagePath = join(root, "build", "web", "animpack.html");
const playerPath = process.env.ANIMPACK_PLAYER || join(root, "build", "win", "src", "player.exe");
const gifDir = join(root, "tests", "data", "gif");
const scratch = mkdtempSync(join(tmpdir(), "animpack-web-"));
// A GIF cut in the middle of a frame, its earlier frames whole.
const muybridge = readFileSync(join(gifDir, "wuffs/muybridge.gif"));
writeFileSync(join(scratch, "cut-muybridge.gif"), muybridge.subarray(0, muybridge.length >> 1));

const PLAIN: MakeOptions = { asIs: false, browserTiming: false, background: null, dither: false, keepTruncated: false };
const OPTION_BOXES: Record<string, string> = {
  asIs: "#opt-as-is", browserTiming: "#opt-browser-timing", dither: "#opt-dither", keepTruncated: "#opt-keep-truncated",
};

function file(name: string, bytes: Uint8Array): string {
  const path = join(scratch, name);
  writeFileSync(path, bytes);
  return path;
}

// A GIF that keeps the page at work for a few seconds: large frames, the
// first not covering the screen, so it is flattened.
function slowGif(): Uint8Array {
  const [width, height] = [1280, 720];
  const palette = Uint8Array.from({ length: 768 }, (_, i) => (i * 37) & 255);
  const frames = Array.from({ length: 40 }, (_, f) => {
    const pixels = Uint8Array.from({ length: width * height }, (_, i) => ((i % width) * 3 + ((i / width) | 0) * 5 + f * 11) & 255);
    const rect: Rect = [0, 0, f === 0 ? width - 1 : width, height];
    return { rect, data: encodeImageData(pixels, width, rect, 8), delay: 4 };
  });
  return assembleGif(width, height, palette, 0, 0, frames);
}

let browser: Browser;

before(async () => {
  execFileSync("node", [join(root, "tools", "authoring", "web", "build_page.mjs")], { cwd: root, stdio: "pipe" });
  browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update",
      "--disable-sync", "--no-first-run"],
  });
});

after(async () => {
  await browser?.close();
  rmSync(scratch, { recursive: true, force: true });
});

async function openPage(): Promise<Page> {
  const page = await browser.newPage({ viewport: { width: 1400, height: 1000 } });
  const problems: string[] = [];
  page.on("pageerror", (error) => problems.push(error.message));
  page.on("requestfailed", (request) => problems.push(`request ${request.url()}`));
  await page.goto(pathToFileURL(pagePath).href);
  (page as Page & { problems: string[] }).problems = problems;
  return page;
}

function problemsOf(page: Page): string[] {
  return (page as Page & { problems: string[] }).problems;
}

// Sets the options, then the files, the GIF last (it starts the work), and
// waits for the work to end.
async function makeOnPage(page: Page, inputs: Record<string, string>, options: Partial<MakeOptions>, description = "") {
  for (const [name, selector] of Object.entries(OPTION_BOXES)) {
    await page.setChecked(selector, Boolean(options[name as keyof MakeOptions]));
  }
  if (description) await page.fill("#description", description);
  const { gif: gifPath, ...extras } = inputs;
  for (const [kind, path] of Object.entries(extras)) await page.setInputFiles(`#${kind}-input`, path);
  await page.setInputFiles("#gif-input", gifPath!);
  await page.waitForSelector("#status.done, #status.refused", { timeout: 60_000 });
}

async function download(page: Page, selector: string): Promise<Buffer> {
  const [saved] = await Promise.all([page.waitForEvent("download"), page.click(selector)]);
  const stream = await saved.createReadStream();
  const chunks: Buffer[] = [];
  for await (const chunk of stream) chunks.push(chunk as Buffer);
  return Buffer.concat(chunks);
}

function assertSameBytes(actual: Uint8Array, expected: Uint8Array, what: string): void {
  const length = Math.min(actual.length, expected.length);
  let at = 0;
  while (at < length && actual[at] === expected[at]) at++;
  if (at < length || actual.length !== expected.length) {
    assert.fail(`${what}: ${actual.length} bytes against ${expected.length}, first difference at byte ${at}`);
  }
}

function nodeMake(inputs: Record<string, string>, options: MakeOptions, description?: string) {
  const named = (path?: string) => (path ? { name: path.split("/").pop()!, bytes: readFileSync(path) } : undefined);
  return makeAnimation({
    player: { name: "player.exe", bytes: readFileSync(playerPath) },
    gif: named(inputs.gif)!, wave: named(inputs.wave), midi: named(inputs.midi), icon: named(inputs.icon),
    description,
  }, options);
}

// Every animated GIF of the test data that the player plays.
const playable = ["peterdn-gif-test-suite", "wuffs"].flatMap((folder) =>
  readdirSync(join(gifDir, folder)).filter((name) => name.endsWith(".gif")).map((name) => `${folder}/${name}`))
  .flatMap((name) => {
    try {
      const parsed = parseGif(readFileSync(join(gifDir, name)));
      return parsed.globalTable && parsed.frames.length > 1 ? [{ name, gif: parsed }] : [];
    } catch {
      return [];
    }
  });

// The RGBA words the previews show for the player's screen of colour keys.
function expectedRgba(keys: Uint32Array, width: number): Uint32Array {
  return keys.map((key, i) => key !== UNDEFINED ? 0xff000000 | key
    : ((((i % width) + Math.floor(i / width)) >> 2) & 1 ? 0xff30103b : 0xffa34fff) >>> 0);
}

describe("the previews' player view", () => {
  for (const { name, gif } of playable) {
    test(`${name}: every picture, the next loop and a fresh start`, () => {
      const clip = new PlayerClip(gif);
      const shown = new Uint32Array(gif.width * gif.height);
      const last = new Uint32Array(gif.width * gif.height);
      let pictures = 0;
      for (const picture of playerPictures(gif)) {
        clip.advanceTo(picture.index);
        const undefinedPixels = clip.paint(shown);
        assert.deepEqual(shown, expectedRgba(picture.keys, gif.width), `picture ${picture.index + 1}`);
        assert.equal(undefinedPixels, picture.keys.filter((key) => key === UNDEFINED).length);
        last.set(picture.keys);
        pictures++;
      }
      if (pictures < gif.frames.length) return assert.equal(clip.halted, true);
      // The player's screen carries over into the next loop.
      const screen = new PlayerScreen(gif);
      screen.keys.set(last);
      screen.draw(new FrameDecoder(gif).decode(gif.frames[0]!));
      clip.advanceTo(0);
      clip.paint(shown);
      assert.deepEqual(shown, expectedRgba(screen.keys, gif.width));
      clip.advanceTo(0, true);
      clip.paint(shown);
      assert.deepEqual(shown, expectedRgba(playerPictures(gif).next().value!.keys, gif.width));
    });
  }

  test("the browser view's backdrop is the colour flattening puts where the page shows through", () => {
    for (const { name, gif } of playable) {
      const key = backgroundKey(gif, null);
      assert.equal(gifBackdrop(gif.bytes.subarray(0, 13 + 768)), `rgb(${key & 255}, ${(key >> 8) & 255}, ${key >> 16})`, name);
    }
  });
});

describe("making an animation", () => {
  const made = [
    { gif: "peterdn-gif-test-suite/animated_transparent_frame_restorebackground_loop.gif", options: {}, extras: true },
    { gif: "wuffs/muybridge.gif", options: { browserTiming: true }, extras: false },
    { gif: "cut-muybridge.gif", options: { keepTruncated: true }, extras: false },
    { gif: "wuffs/animated-red-blue.gif", options: { asIs: true }, extras: false },
  ];
  for (const { gif: name, options, extras } of made) {
    test(`${name} ${JSON.stringify(options)}: the download equals the core's exe`, async () => {
      const page = await openPage();
      const inputs: Record<string, string> = { gif: join(name.startsWith("cut-") ? scratch : gifDir, name) };
      if (extras) {
        inputs.wave = file("beep.wav", wave(0.2));
        inputs.midi = file("tune.mid", MIDI);
        inputs.icon = join(root, "src", "resources", "player.ico");
      }
      const description = extras ? "A ball that bounces" : "";
      await makeOnPage(page, inputs, options, description);
      const expected = nodeMake(inputs, { ...PLAIN, ...options }, description || undefined);
      assert.equal(await page.isEnabled("#download"), true, await page.textContent("#refusal-text") ?? "");
      assertSameBytes(await download(page, "#download"), expected.exe, "the page's .exe");
      const findings = (await page.textContent("#findings"))!;
      const check = checkGif({ name: name.split("/").pop()!, bytes: readFileSync(inputs.gif!) }, { ...PLAIN, ...options });
      for (const line of [...check.lines, ...expected.lines]) assert.ok(findings.includes(line.trim()), line);
      await page.waitForSelector("#view-packed canvas");
      assert.deepEqual(problemsOf(page), []);
      await page.close();
    });
  }
});

describe("refusals", () => {
  const refused: { inputs: Record<string, string> }[] = [
    { inputs: { gif: join(scratch, "cut-muybridge.gif") } },
    { inputs: { gif: join(gifDir, "wuffs/hat.gif"), wave: file("no-format.wav", riff("WAVE", [["data", Buffer.alloc(800, 128)]])) } },
    { inputs: { gif: file("not-a.gif", Buffer.from("GIF89a\x10\x00")) } },
  ];
  for (const { inputs } of refused) {
    test(`${Object.values(inputs).map((p) => p.split("/").pop()).join(" + ")}: the message, no download`, async () => {
      const page = await openPage();
      await makeOnPage(page, inputs, {});
      let refusal: unknown = null;
      try {
        nodeMake(inputs, PLAIN);
      } catch (error) {
        refusal = error;
      }
      assert.ok(refusal instanceof Refusal, "the core refuses it in Node too");
      assert.equal(await page.isVisible("#refusal"), true);
      assert.equal(await page.textContent("#refusal-text"), refusal.message);
      assert.equal(await page.isEnabled("#download"), false);
      await page.close();
    });
  }
});

test("opening an animation lists its sections and saves its payloads", async () => {
  const inputs = { gif: join(gifDir, "wuffs/hat.gif"), wave: file("beep.wav", wave(0.3)), midi: file("tune.mid", MIDI) };
  const exe = nodeMake(inputs, PLAIN).exe;
  const listing = listSections({ name: "hat.exe", bytes: exe });
  const page = await openPage();
  await page.click("#mode-open");
  await page.setInputFiles("#exe-input", file("hat.exe", exe));
  await page.waitForSelector("#status.done");
  const rows = await page.$$eval("#section-rows tr", (trs) =>
    trs.map((tr) => Array.from(tr.querySelectorAll("td"), (td) => td.textContent!.trim()).slice(0, 3)));
  assert.deepEqual(rows, listing.sections.map((s) =>
    [s.kind.toUpperCase(), s.offset.toLocaleString("en"), s.length.toLocaleString("en")]));
  for (const section of listing.sections) {
    const saved = await download(page, `[data-save="${section.kind}"]`);
    assertSameBytes(saved, section.payload!, section.kind);
  }
  await page.waitForSelector("#view-asIs canvas");
  await page.close();
});

test("dropped files are taken by what they hold, not by their names", async () => {
  const page = await openPage();
  const drop = async (files: { name: string; bytes: Uint8Array }[]) => {
    const dataTransfer = await page.evaluateHandle((list) => {
      const transfer = new DataTransfer();
      for (const { name, base64 } of list) {
        transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
      }
      return transfer;
    }, files.map(({ name, bytes }) => ({ name, base64: Buffer.from(bytes).toString("base64") })));
    await page.dispatchEvent("main", "drop", { dataTransfer });
  };
  const hat = readFileSync(join(gifDir, "wuffs/hat.gif"));
  await drop([{ name: "sound.bin", bytes: wave(0.1) }, { name: "picture", bytes: hat }]);
  await page.waitForSelector("#status.done");
  assert.match((await page.textContent("#wave-name"))!, /^sound\.bin/);
  assert.equal(await page.textContent("#gif-name"), "picture");
  await drop([{ name: "animation", bytes: nodeMake({ gif: join(gifDir, "wuffs/hat.gif") }, PLAIN).exe }]);
  await page.waitForSelector("#open-panel:not([hidden]) #section-rows tr");
  // Back to making: the result is still there, not made again.
  await page.click("#mode-make");
  assert.equal(await page.getAttribute("#status", "class"), "status done");
  assert.equal(await page.isEnabled("#download"), true);
  assert.match((await page.textContent("#findings"))!, /^What the player would show/);
  await page.close();
});

test("a file that is no animation is refused when opened", async () => {
  const page = await openPage();
  await page.click("#mode-open");
  await page.setInputFiles("#exe-input", join(gifDir, "wuffs/hat.gif"));
  await page.waitForSelector("#status.refused");
  assert.match((await page.textContent("#refusal-text"))!, /no payload section/);
  await page.close();
});

test("the main controls are reachable with Tab, and Enter downloads", async () => {
  const page = await openPage();
  await makeOnPage(page, { gif: join(gifDir, "wuffs/hat.gif") }, {});
  const reached = new Set<string>();
  for (let i = 0; i < 40; i++) {
    await page.keyboard.press("Tab");
    reached.add(await page.evaluate(() => document.activeElement?.id ?? ""));
  }
  for (const id of ["mode-make", "mode-open", "gif-input", "wave-input", "midi-input", "icon-input", "description",
    "opt-as-is", "opt-browser-timing", "opt-dither", "opt-keep-truncated", "opt-background", "download", "play", "zoom"]) {
    assert.ok(reached.has(id), `${id} is not reachable with Tab`);
  }
  await page.focus("#download");
  const [saved] = await Promise.all([page.waitForEvent("download"), page.keyboard.press("Enter")]);
  assert.match(saved.suggestedFilename(), /^hat\.exe$/);
  await page.close();
});

test("Escape and Cancel stop the work, Try again makes it", async () => {
  const page = await openPage();
  await page.setInputFiles("#gif-input", file("slow.gif", slowGif()));
  for (const stop of [() => page.keyboard.press("Escape"), () => page.click("#cancel")]) {
    await page.waitForSelector("#cancel:not([hidden])");
    await stop();
    await page.waitForSelector("#retry:not([hidden])");
    assert.match((await page.textContent("#status-text"))!, /Cancelled/);
    assert.equal(await page.isEnabled("#download"), false);
    await page.click("#retry");
  }
  await page.waitForSelector("#status.done", { timeout: 120_000 });
  assert.equal(await page.isEnabled("#download"), true);
  await page.close();
});

test("screenshot and speed, when asked", async (t) => {
  const pictures = process.env.ANIMPACK_WEB_PICTURES;
  const clip = process.env.ANIMPACK_WEB_CLIP;
  if (!pictures && !clip) return t.skip("set ANIMPACK_WEB_PICTURES or ANIMPACK_WEB_CLIP");
  const page = await openPage();
  if (pictures) {
    await page.setViewportSize({ width: 1360, height: 900 });
    await makeOnPage(page, { gif: join(gifDir, "peterdn-gif-test-suite/animated_transparent_frame_restoreprev_loop.gif") }, {});
    await page.waitForSelector("#view-packed canvas");
    // Every view on its second picture, where the player's view of the GIF
    // as it is shows the transparent pixels painted opaquely.
    await page.click("#restart");
    await page.waitForFunction(() => document.querySelector("#view-packed .view-foot")?.textContent?.startsWith("picture 2"));
    await page.mouse.move(0, 0);
    await page.waitForTimeout(300);
    await page.screenshot({ path: join(pictures, "animpack-page.png") });
  }
  if (clip) {
    const started = Date.now();
    await makeOnPage(page, { gif: clip }, {});
    const made = Number(/made in ([\d.]+) s/.exec((await page.textContent("#status-text"))!)?.[1]);
    const parsed = parseGif(readFileSync(clip));
    const megapixels = parsed.width * parsed.height * parsed.frames.length / 1e6;
    const rate = megapixels / made;
    t.diagnostic(`make ${made} s, ${rate.toFixed(1)} Mpx/s; check and make ${(Date.now() - started) / 1000} s`);
    assert.ok(rate >= 15, `${rate.toFixed(1)} Mpx/s`);
  }
  await page.close();
});

test("the page carries the licences of the packages it bundles, the ones THIRD-PARTY-NOTICES.md reproduces", () => {
  const html = readFileSync(pagePath, "utf8");
  const notice = html.slice(html.indexOf("This file bundles the following packages"));
  const bundled = [...notice.matchAll(/^(\S+) (\d+\.\d+\.\d+)$/gm)].map((m) => `${m[1]} ${m[2]}`);
  const notices = readFileSync(join(root, "THIRD-PARTY-NOTICES.md"), "utf8");
  const listed = [...notices.matchAll(/^## (\S+ \d+\.\d+\.\d+)$/gm)].map((m) => m[1]);
  assert.ok(bundled.length > 0, "a licence comment in the page");
  assert.deepEqual(bundled, listed);
  const current = execFileSync("node", [join(root, "tools", "authoring", "licences.mjs")], { encoding: "utf8" });
  assert.equal(notices, current, "THIRD-PARTY-NOTICES.md as `node tools/authoring/licences.mjs` writes it");
});
