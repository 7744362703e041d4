// The animpack command line. The same module is the worker thread's entry:
// there it serves one task and nothing else.

import * as fs from "node:fs";
import * as path from "node:path";
import { Refusal } from "../core/errors.ts";
import { helpText, parseCommand, usageLine, UsageError } from "./args.ts";
import { COMMANDS, findCommand, type Context } from "./commands.ts";
import { removePendingFiles } from "./files.ts";
import { programFile } from "./player.ts";
import { ProgressBar } from "./progress.ts";
import { Fault, isWorker, runTask } from "./work.ts";

// Set by the bundler from package.json; read from it when running from source.
declare const ANIMPACK_VERSION: string | undefined;

const EXIT = { done: 0, refused: 1, usage: 2, fault: 3, interrupted: 130, terminated: 143 } as const;

const OVERALL_USAGE = "usage: animpack COMMAND [options]   (animpack COMMAND --help for each)";

function version(file: string): string {
  if (typeof ANIMPACK_VERSION === "string") return ANIMPACK_VERSION;
  const manifest = path.resolve(path.dirname(file), "..", "..", "..", "package.json");
  return (JSON.parse(fs.readFileSync(manifest, "utf8")) as { version: string }).version;
}

function overallHelp(): string {
  const commands = COMMANDS.map((c) => `  ${c.definition.name.padEnd(9)} ${c.definition.summary}`);
  return [
    OVERALL_USAGE,
    "",
    "Makes distributable animations: the player executable with a GIF and optional sounds",
    "appended, the GIF first made to show as a browser shows it.",
    "",
    "commands:",
    ...commands,
    "",
    "options:",
    "  --version  show the version and exit",
    "  --help     show this help and exit",
    "",
    'exit status: 0 done, 1 refused (one "animpack: error:" line says why), 2 usage error,',
    "3 a fault in animpack, 130 interrupted",
    "",
  ].join("\n");
}

// A refusal is one line whatever its message holds.
function oneLine(text: string): string {
  return text.replace(/\s*\n\s*/g, " ");
}

function write(stream: NodeJS.WriteStream, text: string): void {
  stream.write(text.endsWith("\n") ? text : `${text}\n`);
}

function faultLine(error: unknown, debug: boolean): string {
  const detail = error instanceof Fault ? error.detail : error instanceof Error ? (error.stack ?? "") : "";
  const summary = oneLine(error instanceof Error ? error.message : String(error));
  const line = `animpack: fault: an unexpected error inside animpack, not a problem with the input (${summary})`;
  return debug ? `${line}\n${detail}` : `${line}; set ANIMPACK_DEBUG=1 to see where`;
}

// Cleans up and leaves at once on an interrupt: the work runs in a worker,
// so the main thread is always free to get here.
function onSignals(bar: ProgressBar): void {
  const leave = (code: number) => () => {
    bar.clear();
    removePendingFiles();
    process.stderr.write("animpack: interrupted\n");
    process.exit(code);
  };
  process.once("SIGINT", leave(EXIT.interrupted));
  process.once("SIGTERM", leave(EXIT.terminated));
}

function context(entry: URL, bar: ProgressBar): Context {
  return {
    programFile: programFile(entry),
    environment: process.env,
    print: (line) => write(process.stdout, line),
    warn: (line) => write(process.stderr, `animpack: warning: ${line}`),
    run: async (task) => {
      try {
        return await runTask(entry, task, (stage, done, total) => bar.update(stage, done, total));
      } finally {
        bar.clear();
      }
    },
  };
}

async function dispatch(args: string[], entry: URL, bar: ProgressBar): Promise<number> {
  if (args.length === 0) throw new UsageError("no command given", null);
  const [first, ...rest] = args;
  if (first === "--help" || first === "-h") return (write(process.stdout, overallHelp()), EXIT.done);
  if (first === "--version") return (write(process.stdout, `animpack ${version(programFile(entry))}`), EXIT.done);
  const command = findCommand(first);
  try {
    const parsed = parseCommand(command.definition, rest);
    if (parsed.help) return (write(process.stdout, helpText(command.definition)), EXIT.done);
    return await command.run(parsed, context(entry, bar));
  } catch (error) {
    if (error instanceof UsageError && error.command === null) throw new UsageError(error.message, command.definition);
    throw error;
  }
}

async function runCli(args: string[], entry: URL): Promise<number> {
  const bar = new ProgressBar(process.stderr);
  onSignals(bar);
  // A reader that stops early (animpack list X | head -1) is no failure.
  process.stdout.on("error", (error: NodeJS.ErrnoException) => {
    if (error.code !== "EPIPE") process.stderr.write(`animpack: error: cannot write the output: ${error.code}\n`);
    process.exit(error.code === "EPIPE" ? EXIT.done : EXIT.refused);
  });
  try {
    return await dispatch(args, entry, bar);
  } catch (error) {
    bar.clear();
    removePendingFiles();
    if (error instanceof UsageError) {
      write(process.stderr, error.command ? usageLine(error.command) : OVERALL_USAGE);
      write(process.stderr, `animpack: error: ${error.message}`);
      return EXIT.usage;
    }
    if (error instanceof Refusal) {
      write(process.stderr, `animpack: error: ${oneLine(error.message)}`);
      return EXIT.refused;
    }
    write(process.stderr, faultLine(error, Boolean(process.env.ANIMPACK_DEBUG)));
    return EXIT.fault;
  }
}

if (isWorker()) (await import("./serve.ts")).serveTask();
else process.exitCode = await runCli(process.argv.slice(2), new URL(import.meta.url));
