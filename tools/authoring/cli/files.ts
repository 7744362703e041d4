// Files as the command line meets them: inputs read whole, outputs that may
// never be one of the inputs, a folder checked for writing before any work,
// and writes that leave either the old file or the whole new one.

import { randomBytes } from "node:crypto";
import * as fs from "node:fs";
import * as path from "node:path";
import { Refusal } from "../core/errors.ts";

const REASONS: Readonly<Record<string, string>> = {
  ENOENT: "no such file or folder",
  EACCES: "permission denied",
  EPERM: "operation not permitted",
  EISDIR: "it is a folder",
  ENOTDIR: "a part of the path is not a folder",
  EROFS: "read-only file system",
  ENOSPC: "no space left on the device",
  EDQUOT: "disk quota exceeded",
  ENAMETOOLONG: "the name is too long",
  ELOOP: "too many symbolic links",
  EMFILE: "too many open files",
  EBUSY: "the file is busy",
  ERR_FS_FILE_TOO_LARGE: "larger than 2 GiB",
};

function systemCode(error: unknown): string | null {
  const code = (error as { code?: unknown } | null)?.code;
  return typeof code === "string" ? code : null;
}

// The reason for a failed file operation in words, or the error itself
// thrown again when it is not one (a fault, not a refusal).
function reason(error: unknown): string {
  const code = systemCode(error);
  if (code === null || !(code.startsWith("E") || code.startsWith("ERR_FS"))) throw error;
  return REASONS[code] ?? code;
}

export interface InputFile {
  path: string;
  what: string; // "GIF", "WAVE file", "player", ...
}

export function readInput(input: InputFile): Uint8Array {
  try {
    return fs.readFileSync(input.path);
  } catch (error) {
    throw new Refusal(`cannot read the ${input.what} ${input.path}: ${reason(error)}`);
  }
}

function identity(file: string): fs.BigIntStats | null {
  try {
    return fs.statSync(file, { bigint: true });
  } catch {
    return null;
  }
}

function realPath(file: string): string {
  try {
    return fs.realpathSync.native(file);
  } catch {
    return path.resolve(file);
  }
}

// True when both names reach the same file: the same device and inode where
// the system gives them, else the same real path.
function sameFile(a: string, b: string): boolean {
  const first = identity(a);
  const second = identity(b);
  if (first === null || second === null) return false;
  if (first.ino !== 0n && second.ino !== 0n) return first.dev === second.dev && first.ino === second.ino;
  return realPath(a) === realPath(b);
}

// Refuses, before any work, an output that is one of the inputs under any
// name: a symbolic or hard link to a source is still the source.
export function refuseOverwritingInputs(output: string, inputs: readonly InputFile[]): void {
  for (const input of inputs) {
    if (sameFile(output, input.path)) {
      throw new Refusal(
        `${output} is the ${input.what} ${input.path}: writing it would destroy an input (give another output name)`,
      );
    }
  }
}

// Checks that `output` can be written, by creating and removing a file
// beside it, so that a missing or read-only folder is found at once.
export function checkWritable(output: string): void {
  const folder = path.dirname(path.resolve(output));
  const target = identity(output);
  if (target?.isDirectory()) throw new Refusal(`cannot write ${output}: it is a folder`);
  const where = identity(folder);
  if (where === null) throw new Refusal(`cannot write ${output}: the folder ${folder} does not exist`);
  if (!where.isDirectory()) throw new Refusal(`cannot write ${output}: ${folder} is not a folder`);
  const probe = temporaryName(output);
  try {
    fs.closeSync(fs.openSync(probe, "wx"));
  } catch (error) {
    throw new Refusal(`cannot write into the folder ${folder}: ${reason(error)}`);
  }
  fs.rmSync(probe, { force: true });
}

// Temporary files written but not yet renamed into place; removed when the
// command is interrupted.
const pending = new Set<string>();

function temporaryName(target: string): string {
  const folder = path.dirname(path.resolve(target));
  return path.join(folder, `.animpack-${process.pid}-${randomBytes(4).toString("hex")}.tmp`);
}

// Writes beside the target and renames, so the path holds either the old
// file or the whole new one.
export function writeAtomically(target: string, data: Uint8Array, executable = false): void {
  const temporary = temporaryName(target);
  pending.add(temporary);
  try {
    fs.writeFileSync(temporary, data, { flag: "wx" });
    fs.chmodSync(temporary, executable ? 0o755 : 0o644);
    fs.renameSync(temporary, target);
  } catch (error) {
    fs.rmSync(temporary, { force: true });
    throw new Refusal(`cannot write ${target}: ${reason(error)}`);
  } finally {
    pending.delete(temporary);
  }
}

export function removePendingFiles(): void {
  for (const file of pending) fs.rmSync(file, { force: true });
  pending.clear();
}

export function makeFolder(folder: string): void {
  try {
    fs.mkdirSync(folder, { recursive: true });
  } catch (error) {
    throw new Refusal(`cannot create the folder ${folder}: ${reason(error)}`);
  }
}
