// Builds the offline page: one HTML file with the styles, the page script,
// the worker (started from a Blob URL, so it runs from file://) and the
// player inlined.
//
// usage: node tools/authoring/web/build_page.mjs [--player PLAYER.exe] [--out PAGE.html] [--no-minify]

import { build } from "esbuild";
import { mkdirSync, readFileSync, writeFileSync, statSync } from "node:fs";
import { dirname, join, relative } from "node:path";
import { fileURLToPath } from "node:url";
import { bundledPackages, licenceComment } from "../licences.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const root = join(here, "..", "..", "..");

function parseArguments(argv) {
  const options = {
    player: process.env.ANIMPACK_PLAYER || join(root, "build", "win", "src", "player.exe"),
    out: join(root, "build", "web", "animpack.html"),
    minify: true,
  };
  for (let i = 0; i < argv.length; i++) {
    const name = argv[i];
    if (name === "--player") options.player = argv[++i];
    else if (name === "--out") options.out = argv[++i];
    else if (name === "--no-minify") options.minify = false;
    else throw new Error(`unknown argument ${name}`);
  }
  return options;
}

async function bundle(entry, minify, define = {}, inject = []) {
  const result = await build({
    entryPoints: [join(here, entry)],
    bundle: true,
    write: false,
    metafile: true,
    format: "iife",
    platform: "browser",
    target: ["chrome100", "firefox100", "safari15"],
    minify,
    legalComments: "none",
    define,
    inject,
    logLevel: "warning",
  });
  return { code: result.outputFiles[0].text, metafile: result.metafile };
}

// Text placed inside a <script> element must not close it early.
function scriptSafe(code, what) {
  if (/<\/script/i.test(code)) throw new Error(`${what} contains "</script"`);
  return code;
}

function readPlayer(path) {
  try {
    return readFileSync(path);
  } catch (error) {
    throw new Error(`no player at ${path} (${error.code}): build it first, or give --player`);
  }
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const player = readPlayer(options.player);
  const worker = await bundle("worker.ts", options.minify, {}, [join(here, "node_buffer.ts")]);
  // "<" escaped so that the worker's text cannot end the page's script.
  const workerLiteral = JSON.stringify(worker.code).replace(/</g, "\\u003c");
  const main = await bundle("main.ts", options.minify, { __WORKER_SOURCE__: workerLiteral });
  const page = main.code + licenceComment(bundledPackages(worker.metafile, main.metafile));
  const html = readFileSync(join(here, "page.html"), "utf8")
    .replace("/*STYLE*/", () => readFileSync(join(here, "page.css"), "utf8"))
    .replace("PLAYER_BASE64", () => player.toString("base64"))
    .replace("/*SCRIPT*/", () => scriptSafe(page, "the page script"));
  mkdirSync(dirname(options.out), { recursive: true });
  writeFileSync(options.out, html);
  const size = statSync(options.out).size;
  console.log(`wrote ${relative(process.cwd(), options.out)}: ${size.toLocaleString("en")} bytes ` +
    `(worker ${worker.code.length.toLocaleString("en")}, page script ${page.length.toLocaleString("en")}, ` +
    `player ${player.length.toLocaleString("en")})`);
}

main().catch((error) => {
  console.error(`build-web: error: ${error.message}`);
  process.exit(1);
});
