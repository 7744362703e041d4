// The player's executable as Windows reads it before running any of its
// code: the manifest (execution level and supported versions), the version
// strings that the file's properties and Task Manager show, and the flag that
// lets it address 4 GiB.
//
// usage: node --import tsx --test player_pe.test.ts   (ANIMPACK_PLAYER names the player)

import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import * as resedit from "resedit";

const root = join(import.meta.dirname, "..", "..");
const player = readFileSync(process.env.ANIMPACK_PLAYER ?? join(root, "build", "win", "src", "player.exe"));
const resources = resedit.NtExecutableResource.from(resedit.NtExecutable.from(player)).entries;
const aboutTexts = readFileSync(join(root, "src", "resources", "about_texts.h"), "latin1");

function aboutText(name: string): string {
  const found = new RegExp(`#define ${name} "([^"]*)"`).exec(aboutTexts);
  assert.ok(found, `${name} in about_texts.h`);
  return found[1]!;
}

test("the manifest asks for the invoker's rights and names Vista to Windows 11", () => {
  const manifests = resources.filter((entry) => entry.type === 24);
  assert.deepEqual(manifests.map((entry) => entry.id), [1]);
  const text = Buffer.from(manifests[0]!.bin).toString("utf8");
  assert.match(text, /^<\?xml version="1\.0" encoding="UTF-8" standalone="yes"\?>/);
  assert.match(text, /<requestedExecutionLevel level="asInvoker" uiAccess="false"\/>/);
  const systems = [...text.matchAll(/<supportedOS Id="\{([0-9a-f-]+)\}"\/>/g)].map((m) => m[1]);
  assert.deepEqual(systems, [
    "e2011457-1546-43c5-a5fe-008deee3d3f0", // Vista
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a", // 7
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", // 8
    "1f676c76-80e1-4239-95bb-83d0f6d0da78", // 8.1
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a", // 10 and 11
  ]);
  // Every element closed: a manifest Windows cannot parse stops the program
  // from starting at all.
  const opened = [...text.matchAll(/<([a-zA-Z]+)[\s>]/g)].map((m) => m[1]);
  const closed = [...text.matchAll(/<\/([a-zA-Z]+)>|<([a-zA-Z]+)[^<>]*\/>/g)].map((m) => m[1] ?? m[2]);
  assert.deepEqual([...opened].sort(), [...closed].sort());
});

test("the version strings come from the build's version and the About texts", () => {
  const [version] = resedit.Resource.VersionInfo.fromEntries(resources);
  assert.ok(version, "a version resource");
  const fixed = version.fixedInfo;
  const numbers = [fixed.fileVersionMS >>> 16, fixed.fileVersionMS & 0xffff, fixed.fileVersionLS >>> 16, fixed.fileVersionLS & 0xffff];
  const strings = version.getStringValues({ lang: 0x409, codepage: 1200 });
  assert.deepEqual(strings, {
    FileDescription: "Vantrel Animation Player",
    FileVersion: numbers.join("."),
    LegalCopyright: aboutText("ABOUT_RIGHTS_TEXT"),
    OriginalFilename: "player.exe",
    ProductName: aboutText("ABOUT_PRODUCT_TEXT"),
    ProductVersion: numbers.join("."),
  });
  assert.deepEqual([fixed.productVersionMS, fixed.productVersionLS], [fixed.fileVersionMS, fixed.fileVersionLS]);
});

test("the player is large-address-aware: 64-bit Windows gives it 4 GiB", () => {
  const characteristics = player.readUInt16LE(player.readUInt32LE(0x3c) + 22);
  const largeAddressAware = 0x20;
  assert.equal(characteristics & largeAddressAware, largeAddressAware);
});
