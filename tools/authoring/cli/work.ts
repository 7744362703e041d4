// The long work (check, flatten, make) runs in a worker thread, so that the
// main thread stays free to draw progress and to answer an interrupt at once
// by removing what it was writing. The worker runs the same entry module,
// which then serves the task (serve.ts) and nothing else.

import { isMainThread, Worker, workerData } from "node:worker_threads";
import { Refusal } from "../core/errors.ts";
import type { MakeInputs, MakeOptions, NamedBytes, Report } from "../core/make.ts";

export type Task =
  | { kind: "make"; inputs: MakeInputs; options: MakeOptions }
  | { kind: "check"; gif: NamedBytes; options: MakeOptions }
  | { kind: "flatten"; gif: NamedBytes; options: MakeOptions };

// What comes back: the report, and the bytes to write when there are any.
export interface Outcome extends Report {
  data: Uint8Array | null;
}

export type Message =
  | { type: "progress"; stage: string; done: number; total: number }
  | { type: "done"; outcome: Outcome }
  | { type: "refusal"; message: string }
  | { type: "fault"; message: string; stack: string };

// An exception nobody meant: a fault in animpack, not in the input.
export class Fault extends Error {
  override name = "Fault";
  constructor(
    message: string,
    readonly detail: string,
  ) {
    super(message);
  }
}

const WORKER_MARK = "animpack-worker";

export function isWorker(): boolean {
  return !isMainThread && workerData === WORKER_MARK;
}

// The bundle is plain JavaScript and starts itself. From the sources, the
// worker first loads the TypeScript loader the main thread runs under: Node
// does not pass that loader on to workers.
function startWorker(entry: URL): Worker {
  if (!entry.pathname.endsWith(".ts")) return new Worker(entry, { workerData: WORKER_MARK });
  const loader = import.meta.resolve("tsx/esm/api");
  const start = `import(${JSON.stringify(loader)}).then((tsx) => tsx.tsImport(${JSON.stringify(entry.href)}, ${JSON.stringify(entry.href)}))`;
  return new Worker(start, { eval: true, workerData: WORKER_MARK });
}

// The input buffers that can move to the worker rather than be copied: those
// the views cover whole (the main thread has no further use for them).
function transferable(task: Task): ArrayBuffer[] {
  const named = task.kind === "make" ? Object.values(task.inputs) : [task.gif];
  const buffers = new Set<ArrayBuffer>();
  for (const item of named) {
    const bytes = (item as Partial<NamedBytes> | undefined)?.bytes;
    if (bytes instanceof Uint8Array && bytes.byteOffset === 0 && bytes.byteLength === bytes.buffer.byteLength) {
      buffers.add(bytes.buffer as ArrayBuffer);
    }
  }
  return [...buffers];
}

function workerError(error: Error): Error {
  if ((error as { code?: string }).code === "ERR_WORKER_OUT_OF_MEMORY") {
    return new Refusal("out of memory: this machine cannot hold the work for this GIF");
  }
  return new Fault(String(error), error.stack ?? String(error));
}

// The main thread's side: runs `task` in a worker started from `entry`.
export function runTask(
  entry: URL,
  task: Task,
  onProgress: (stage: string, done: number, total: number) => void,
): Promise<Outcome> {
  const worker = startWorker(entry);
  return new Promise<Outcome>((resolve, reject) => {
    worker.on("message", (message: Message) => {
      if (message.type === "progress") return onProgress(message.stage, message.done, message.total);
      if (message.type === "done") resolve(message.outcome);
      else if (message.type === "refusal") reject(new Refusal(message.message));
      else reject(new Fault(message.message, message.stack));
      void worker.terminate();
    });
    worker.on("error", (error) => reject(workerError(error)));
    worker.on("exit", (code) => reject(new Fault(`the worker thread stopped (exit code ${code})`, "")));
    worker.postMessage(task, transferable(task));
  });
}
