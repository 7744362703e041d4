// Builds the installable command line: tools/authoring/dist/animpack.mjs, one
// file holding the CLI and the core with its packages, and beside it a copy
// of the player that `make` uses when none is named.
//
// usage: node tools/authoring/build.mjs [--player PLAYER.exe]
// The player defaults to $ANIMPACK_PLAYER, else build/win/src/player.exe.

import { build } from "esbuild";
import { chmodSync, copyFileSync, mkdirSync, readFileSync, renameSync, rmSync, statSync, writeFileSync } from "node:fs";
import { dirname, join, relative } from "node:path";
import { fileURLToPath } from "node:url";
import { bundledPackages, licenceComment } from "./licences.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const root = join(here, "..", "..");
const dist = join(here, "dist");

function playerPath(argv) {
  if (argv[0] === "--player" && argv[1]) return argv[1];
  if (argv.length > 0) throw new Error(`unknown arguments: ${argv.join(" ")} (usage: build.mjs [--player PLAYER.exe])`);
  return process.env.ANIMPACK_PLAYER || join(root, "build", "win", "src", "player.exe");
}

function checkPlayer(path) {
  try {
    if (statSync(path).isFile()) return;
  } catch {
    // reported below
  }
  throw new Error(`no player at ${path}: build the player first (cmake), or give --player PLAYER.exe`);
}

async function bundle(version) {
  const out = join(dist, "animpack.mjs");
  const result = await build({
    entryPoints: [join(here, "cli", "main.ts")],
    outfile: out,
    write: false,
    metafile: true,
    bundle: true,
    format: "esm",
    platform: "node",
    target: "node20",
    minify: true,
    keepNames: true,
    legalComments: "none",
    define: { ANIMPACK_VERSION: JSON.stringify(version) },
    // Packages written as CommonJS may call require() for Node's modules.
    banner: {
      js: '#!/usr/bin/env node\nimport { createRequire as animpackRequire } from "node:module";\nconst require = animpackRequire(import.meta.url);',
    },
    logLevel: "warning",
  });
  const code = result.outputFiles[0].text + licenceComment(bundledPackages(result.metafile));
  writeFileSync(out, code, { mode: 0o755 });
  chmodSync(out, 0o755);
  return out;
}

// Copied beside the bundle through a temporary name, so a half-copied player
// is never taken for a whole one.
function copyPlayer(path) {
  const target = join(dist, "player.exe");
  const temporary = `${target}.tmp`;
  copyFileSync(path, temporary);
  renameSync(temporary, target);
  return target;
}

async function main() {
  const player = playerPath(process.argv.slice(2));
  checkPlayer(player);
  const { version } = JSON.parse(readFileSync(join(root, "package.json"), "utf8"));
  rmSync(dist, { recursive: true, force: true });
  mkdirSync(dist, { recursive: true });
  const outputs = [await bundle(version), copyPlayer(player)];
  for (const file of outputs) console.log(`${relative(root, file)}: ${statSync(file).size.toLocaleString("en")} bytes`);
}

main().catch((error) => {
  console.error(`build: error: ${error.message}`);
  process.exit(1);
});
