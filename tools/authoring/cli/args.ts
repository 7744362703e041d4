// A small command-line parser: each command declares its positionals and
// options once, and both the parsing and the help text come from that.

export interface OptionDefinition {
  name: string; // without the leading "--"
  value?: string; // the value's placeholder; a flag when absent
  required?: boolean;
  help: string;
}

export interface CommandDefinition {
  name: string;
  summary: string; // one line, for the overall help
  description: string;
  positionals: string[];
  options: OptionDefinition[];
}

export interface ParsedCommand {
  positionals: string[];
  flags: Set<string>;
  values: Map<string, string>;
  help: boolean;
}

// The command line cannot be understood: the front end prints the usage line
// and this message, and exits with 2.
export class UsageError extends Error {
  override name = "UsageError";
  constructor(
    message: string,
    readonly command: CommandDefinition | null,
  ) {
    super(message);
  }
}

function optionUsage(option: OptionDefinition): string {
  const text = option.value ? `--${option.name} ${option.value}` : `--${option.name}`;
  return option.required ? text : `[${text}]`;
}

export function usageLine(definition: CommandDefinition): string {
  const parts = [`usage: animpack ${definition.name}`, ...definition.positionals];
  const required = definition.options.filter((o) => o.required).map(optionUsage);
  return [...parts, ...required, "[options]"].join(" ");
}

// Splits `text` into lines of at most `width` characters (a longer word
// stands alone).
function wrap(text: string, width: number): string[] {
  const lines: string[] = [];
  for (const word of text.split(/\s+/)) {
    const last = lines.length - 1;
    if (last >= 0 && lines[last].length + 1 + word.length <= width) lines[last] += ` ${word}`;
    else lines.push(word);
  }
  return lines;
}

export function helpText(definition: CommandDefinition): string {
  const column = 26;
  const options = [...definition.options, { name: "help", help: "show this help and exit" }].map((option) => {
    const head = `  --${option.name}${option.value ? ` ${option.value}` : ""}`;
    const body = wrap(option.help, 79 - column).join(`\n${" ".repeat(column)}`);
    return head.length < column ? head.padEnd(column) + body : `${head}\n${" ".repeat(column)}${body}`;
  });
  return [usageLine(definition), "", ...wrap(definition.description, 79), "", "options:", ...options, ""].join("\n");
}

function findOption(definition: CommandDefinition, name: string): OptionDefinition {
  const option = definition.options.find((o) => o.name === name);
  if (!option) throw new UsageError(`unknown option --${name}`, definition);
  return option;
}

export function parseCommand(definition: CommandDefinition, args: readonly string[]): ParsedCommand {
  const parsed: ParsedCommand = { positionals: [], flags: new Set(), values: new Map(), help: false };
  let optionsEnded = false;
  for (let i = 0; i < args.length; i++) {
    const arg = args[i];
    if (optionsEnded || !arg.startsWith("-") || arg === "-") {
      parsed.positionals.push(arg);
    } else if (arg === "--") {
      optionsEnded = true;
    } else if (arg === "--help" || arg === "-h") {
      parsed.help = true;
    } else if (!arg.startsWith("--")) {
      throw new UsageError(`unknown option ${arg}`, definition);
    } else {
      const equals = arg.indexOf("=");
      const name = arg.slice(2, equals < 0 ? undefined : equals);
      const option = findOption(definition, name);
      if (parsed.flags.has(name) || parsed.values.has(name)) throw new UsageError(`--${name} given twice`, definition);
      if (!option.value) {
        if (equals >= 0) throw new UsageError(`--${name} takes no value`, definition);
        parsed.flags.add(name);
      } else if (equals >= 0) {
        parsed.values.set(name, arg.slice(equals + 1));
      } else if (i + 1 < args.length) {
        parsed.values.set(name, args[++i]);
      } else {
        throw new UsageError(`--${name} needs a value (${option.value})`, definition);
      }
    }
  }
  if (parsed.help) return parsed;
  checkComplete(definition, parsed);
  return parsed;
}

function checkComplete(definition: CommandDefinition, parsed: ParsedCommand): void {
  const wanted = definition.positionals.length;
  const given = parsed.positionals.length;
  if (given < wanted) throw new UsageError(`${definition.positionals[given]} is missing`, definition);
  if (given > wanted) throw new UsageError(`unexpected argument ${JSON.stringify(parsed.positionals[wanted])}`, definition);
  for (const option of definition.options) {
    if (option.required && !parsed.values.has(option.name)) {
      throw new UsageError(`--${option.name} ${option.value} is required`, definition);
    }
  }
}
