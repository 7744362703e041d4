// Authors sign the animations they hand out, after making them. A signed
// animation must still show its sections, and one used as the player for a
// new animation must leave a well-formed unsigned executable that can be
// signed again. Signs with osslsigncode and a throw-away certificate.

import { after, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { findSections } from "../../tools/authoring/core/container.ts";
import { bareStub } from "../../tools/authoring/core/pe.ts";
import { makeAnimation, DEFAULT_OPTIONS } from "../../tools/authoring/core/make.ts";

const root = join(import.meta.dirname, "..", "..");
const player = readFileSync(process.env.ANIMPACK_PLAYER ?? join(root, "build", "win", "src", "player.exe"));
const gif = { name: "muybridge.gif", bytes: readFileSync(join(root, "tests", "data", "gif", "wuffs", "muybridge.gif")) };
const scratch = mkdtempSync(join(tmpdir(), "animpack-signing-"));
after(() => rmSync(scratch, { recursive: true, force: true }));

function run(command: string, ...args: string[]): string {
  return execFileSync(command, args, { cwd: scratch, encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] });
}

function sign(input: string, output: string): void {
  run("osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-n", "An animation", "-in", input, "-out", output);
}

// The security (certificate) entry of the optional header's data directory.
function certificateEntry(exe: Uint8Array): [number, number] {
  const view = new DataView(exe.buffer, exe.byteOffset, exe.byteLength);
  const header = view.getUint32(0x3c, true);
  const entry = header + 24 + 96 + 4 * 8;
  return [view.getUint32(entry, true), view.getUint32(entry + 4, true)];
}

test("a signed animation keeps its sections, and as a player it gives an unsigned executable that signs again", () => {
  run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
    "-days", "2", "-subj", "/CN=Throw-away test author");
  const made = makeAnimation({ player: { name: "player.exe", bytes: player }, gif }, DEFAULT_OPTIONS);
  const madePath = join(scratch, "made.exe");
  writeFileSync(madePath, made.exe);
  sign(madePath, join(scratch, "signed.exe"));
  const signed = readFileSync(join(scratch, "signed.exe"));
  assert.notDeepEqual(certificateEntry(signed), [0, 0]);
  const section = findSections(signed).get("gif");
  assert.equal(section?.state, "ok");
  assert.deepEqual(signed.subarray(section!.payloadOffset, section!.payloadOffset + section!.length), gif.bytes);

  const remade = makeAnimation({ player: { name: "signed.exe", bytes: signed }, gif }, DEFAULT_OPTIONS);
  assert.deepEqual(certificateEntry(remade.exe), [0, 0]);
  assert.deepEqual(bareStub(remade.exe), bareStub(made.exe));
  writeFileSync(join(scratch, "remade.exe"), remade.exe);
  assert.throws(() => run("osslsigncode", "verify", "-in", "remade.exe"), "the new animation carries no signature");
  sign(join(scratch, "remade.exe"), join(scratch, "resigned.exe"));
  assert.match(run("osslsigncode", "verify", "-CAfile", "cert.pem", "-in", "resigned.exe"), /Number of verified signatures: 1/);
});
