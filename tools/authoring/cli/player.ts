// Which player `make` copies when none is named.

import * as fs from "node:fs";
import * as path from "node:path";
import { fileURLToPath } from "node:url";
import { Refusal } from "../core/errors.ts";

export const PLAYER_VARIABLE = "ANIMPACK_PLAYER";

export const DEFAULT_PLAYER_HELP =
  `the player to copy (default: $${PLAYER_VARIABLE}, else the player.exe installed beside ` +
  `animpack, else the build's build/win/src/player.exe when animpack runs from a checkout)`;

// `programFile` is this program's own file: the bundle in an installed
// package (tools/authoring/dist/animpack.mjs) or the entry module in a
// checkout (tools/authoring/cli/main.ts). Both sit three folders below the
// package's root.
export function defaultPlayer(programFile: string, environment: NodeJS.ProcessEnv): string {
  const configured = environment[PLAYER_VARIABLE];
  if (configured) return configured;
  const here = path.dirname(programFile);
  const beside = path.join(here, "player.exe");
  if (fs.existsSync(beside)) return beside;
  const root = path.resolve(here, "..", "..", "..");
  if (fs.existsSync(path.join(root, "src", "CMakeLists.txt"))) {
    const built = path.join(root, "build", "win", "src", "player.exe");
    if (fs.existsSync(built)) return built;
    throw new Refusal(`no player at ${built}: build it, or give --player or set ${PLAYER_VARIABLE}`);
  }
  throw new Refusal(`no player given: name one with --player PLAYER.exe or set ${PLAYER_VARIABLE}`);
}

export function programFile(entry: URL): string {
  return fileURLToPath(entry);
}
