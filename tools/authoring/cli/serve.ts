// The worker thread's side of work.ts: one task, its progress, then its
// outcome or the refusal. Only this side loads the core's pipeline.

import { parentPort } from "node:worker_threads";
import { Refusal } from "../core/errors.ts";
import type { Progress } from "../core/gif_types.ts";
import { checkGif, flattenGif, makeAnimation } from "../core/make.ts";
import { throttled } from "../core/progress.ts";
import type { Message, Outcome, Task } from "./work.ts";

function perform(task: Task, progress: Progress): Outcome {
  switch (task.kind) {
    case "make": {
      const made = makeAnimation(task.inputs, task.options, progress);
      return { lines: made.lines, warnings: made.warnings, data: made.exe };
    }
    case "check": {
      const checked = checkGif(task.gif, task.options, progress);
      return { lines: checked.lines, warnings: checked.warnings, data: null };
    }
    case "flatten":
      return flattenGif(task.gif, task.options, progress);
  }
}

function outcomeOf(task: Task, progress: Progress): Message {
  try {
    return { type: "done", outcome: perform(task, progress) };
  } catch (error) {
    if (error instanceof Refusal) return { type: "refusal", message: error.message };
    return { type: "fault", message: String(error), stack: (error as Error)?.stack ?? String(error) };
  }
}

export function serveTask(): void {
  const port = parentPort!;
  port.once("message", (task: Task) => {
    const progress = throttled((stage, done, total) => port.postMessage({ type: "progress", stage, done, total } satisfies Message));
    const reply = outcomeOf(task, progress);
    const transfer = reply.type === "done" && reply.outcome.data ? [reply.outcome.data.buffer as ArrayBuffer] : [];
    port.postMessage(reply, transfer);
  });
}
