// The five commands: what each takes, its help, and how it runs. Refusals
// come before any work wherever they can be known then.

import * as path from "node:path";
import type { MakeOptions } from "../core/make.ts";
import { UsageError, type CommandDefinition, type OptionDefinition, type ParsedCommand } from "./args.ts";
import { parseColour } from "./colour.ts";
import { checkWritable, makeFolder, readInput, refuseOverwritingInputs, writeAtomically, type InputFile } from "./files.ts";
import { DEFAULT_PLAYER_HELP, defaultPlayer } from "./player.ts";
import { type Outcome, type Task } from "./work.ts";
import { grouped } from "../core/wording.ts";

// What a command needs from its surroundings.
export interface Context {
  programFile: string;
  environment: NodeJS.ProcessEnv;
  print(line: string): void;
  warn(line: string): void;
  run(task: Task): Promise<Outcome>;
}

export interface Command {
  definition: CommandDefinition;
  run(parsed: ParsedCommand, context: Context): Promise<number>;
}

const BACKGROUND: OptionDefinition = {
  name: "background",
  value: "COLOUR",
  help: "colour where a browser shows the page through: a CSS name such as white, #rgb, #rrggbb or bare hex (default: the GIF's background entry, or white)",
};
const BROWSER_TIMING: OptionDefinition = {
  name: "browser-timing",
  help: "write delays of 0 and 1 as 10, the 0.1 s that browsers show them for",
};
const DITHER: OptionDefinition = { name: "dither", help: "dither when more than 256 colours must share one palette" };
const KEEP_TRUNCATED: OptionDefinition = {
  name: "keep-truncated",
  help: "use the complete frames of a GIF that is cut short (refused without this)",
};
const AS_IS: OptionDefinition = {
  name: "as-is",
  help: "pack the GIF's bytes unchanged and say what the player shows differently",
};

function options(parsed: ParsedCommand): MakeOptions {
  const colour = parsed.values.get("background");
  let background: MakeOptions["background"] = null;
  if (colour !== undefined) {
    background = parseColour(colour);
    if (background === null) {
      throw new UsageError(`not a colour: ${JSON.stringify(colour)} (give e.g. white, #ff8000 or ff8000)`, null);
    }
  }
  return {
    asIs: parsed.flags.has("as-is"),
    browserTiming: parsed.flags.has("browser-timing"),
    background,
    dither: parsed.flags.has("dither"),
    keepTruncated: parsed.flags.has("keep-truncated"),
  };
}

function report(outcome: Outcome, context: Context): void {
  for (const line of outcome.warnings) context.warn(line);
  for (const line of outcome.lines) context.print(line);
}

// Checked before anything is read: the output is none of the inputs and its
// folder takes a new file.
function guardOutput(output: string, inputs: readonly InputFile[]): void {
  refuseOverwritingInputs(output, inputs);
  checkWritable(output);
}

function named(input: InputFile): { name: string; bytes: Uint8Array } {
  return { name: input.path, bytes: readInput(input) };
}

const make: Command = {
  definition: {
    name: "make",
    summary: "pack a GIF and sounds behind the player",
    description:
      "Packs a GIF, and optionally a WAVE and a MIDI file, behind a copy of the player. The GIF is " +
      "flattened when the player would show it differently from a browser.",
    positionals: ["OUT.exe"],
    options: [
      { name: "gif", value: "A.gif", required: true, help: "the animation" },
      { name: "wave", value: "S.wav", help: "played each time the animation starts over" },
      { name: "midi", value: "M.mid", help: "played over and over (a Standard MIDI File, or RMID)" },
      { name: "icon", value: "FILE.ico|FILE.png", help: "the icon the copy shows in the window, taskbar and file manager" },
      { name: "description", value: "TEXT", help: "what the copy's file properties and Task Manager call it" },
      { name: "player", value: "PLAYER.exe", help: DEFAULT_PLAYER_HELP },
      AS_IS,
      BROWSER_TIMING,
      BACKGROUND,
      DITHER,
      KEEP_TRUNCATED,
    ],
  },
  async run(parsed, context) {
    const [output] = parsed.positionals;
    const chosen = options(parsed);
    const v = parsed.values;
    const player: InputFile = { path: v.get("player") ?? defaultPlayer(context.programFile, context.environment), what: "player" };
    const gif: InputFile = { path: v.get("gif")!, what: "GIF" };
    const optional = (name: string, what: string): InputFile | null => (v.has(name) ? { path: v.get(name)!, what } : null);
    const wave = optional("wave", "WAVE file");
    const midi = optional("midi", "MIDI file");
    const icon = optional("icon", "icon");
    const inputs = [gif, wave, midi, icon, player].filter((input): input is InputFile => input !== null);
    guardOutput(output, inputs);
    const outcome = await context.run({
      kind: "make",
      inputs: {
        player: named(player),
        gif: named(gif),
        ...(wave && { wave: named(wave) }),
        ...(midi && { midi: named(midi) }),
        ...(icon && { icon: named(icon) }),
        ...(v.has("description") && { description: v.get("description") }),
      },
      options: chosen,
    });
    report(outcome, context);
    writeAtomically(output, outcome.data!, true);
    context.print(`wrote ${output}: ${grouped(outcome.data!.length)} bytes`);
    return 0;
  },
};

const list: Command = {
  definition: {
    name: "list",
    summary: "the sections the player finds in an animation",
    description: "Lists the payload sections the player finds, by its own search rule, and summarises the GIF.",
    positionals: ["FILE.exe"],
    options: [],
  },
  async run(parsed, context) {
    const { listSections } = await import("../core/make.ts");
    const listed = listSections(named({ path: parsed.positionals[0], what: "file" }));
    report({ ...listed, data: null }, context);
    return 0;
  },
};

const extract: Command = {
  definition: {
    name: "extract",
    summary: "write an animation's payloads to a folder",
    description: "Writes the payloads as animation.gif, sound.wav and song.mid in DIR, creating it when needed.",
    positionals: ["FILE.exe", "DIR"],
    options: [],
  },
  async run(parsed, context) {
    const [file, folder] = parsed.positionals;
    const input: InputFile = { path: file, what: "file" };
    const { extractSections } = await import("../core/make.ts");
    const found = extractSections(named(input));
    for (const line of found.warnings) context.warn(line);
    const targets = found.files.map((payload) => ({ ...payload, path: path.join(folder, payload.name) }));
    for (const target of targets) refuseOverwritingInputs(target.path, [input]);
    makeFolder(folder);
    checkWritable(targets[0].path);
    for (const target of targets) {
      writeAtomically(target.path, target.bytes);
      context.print(`${target.path}: ${grouped(target.bytes.length)} bytes`);
    }
    return 0;
  },
};

const check: Command = {
  definition: {
    name: "check",
    summary: "what the player would show differently from a browser",
    description:
      "Says what the player would show differently from a browser, and what make would do about it " +
      "with the same options; refuses what make would refuse.",
    positionals: ["A.gif"],
    options: [BACKGROUND, BROWSER_TIMING, AS_IS, KEEP_TRUNCATED],
  },
  async run(parsed, context) {
    const chosen = options(parsed);
    const gif = named({ path: parsed.positionals[0], what: "GIF" });
    report(await context.run({ kind: "check", gif, options: chosen }), context);
    return 0;
  },
};

const flatten: Command = {
  definition: {
    name: "flatten",
    summary: "make a GIF that the player shows as a browser does",
    description:
      "Composites the GIF as a browser does and writes it with one colour table, a full first frame " +
      "and opaque changed rectangles, delays kept.",
    positionals: ["IN.gif", "OUT.gif"],
    options: [BROWSER_TIMING, BACKGROUND, DITHER, KEEP_TRUNCATED],
  },
  async run(parsed, context) {
    const [input, output] = parsed.positionals;
    const chosen = options(parsed);
    const source: InputFile = { path: input, what: "GIF" };
    guardOutput(output, [source]);
    const outcome = await context.run({ kind: "flatten", gif: named(source), options: chosen });
    report(outcome, context);
    writeAtomically(output, outcome.data!);
    context.print(`wrote ${output}: ${grouped(outcome.data!.length)} bytes`);
    return 0;
  },
};

export const COMMANDS: readonly Command[] = [make, list, extract, check, flatten];

export function findCommand(name: string): Command {
  const command = COMMANDS.find((c) => c.definition.name === name);
  if (!command) {
    const names = COMMANDS.map((c) => c.definition.name).join(", ");
    throw new UsageError(`unknown command ${JSON.stringify(name)} (choose from ${names})`, null);
  }
  return command;
}
