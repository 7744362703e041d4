// The worker thread's side of work.ts: one task, its progress, then its
// outcome or the refusal. Only this side loads the core's pipeline.

import { parentPort } from "node:worker_threads";
import { Refusal } from "../core/errors.ts";
import { checkGif, flattenGif, makeAnimation } from "../core/make.ts";
import type { Message, Outcome, Task } from "./work.ts";

const PROGRESS_EVERY_MS = 50;

type Progress = (stage: string, done: number, total: number) => void;

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

// Progress posted at most every PROGRESS_EVERY_MS, and at each new stage
// and each stage's end.
function throttled(post: (message: Message) => void): Progress {
  let last = -Infinity;
  let lastStage = "";
  return (stage, done, total) => {
    const now = performance.now();
    if (stage === lastStage && done < total && now - last < PROGRESS_EVERY_MS) return;
    last = now;
    lastStage = stage;
    post({ type: "progress", stage, done, total });
  };
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
    const reply = outcomeOf(task, throttled((message) => port.postMessage(message)));
    const transfer = reply.type === "done" && reply.outcome.data ? [reply.outcome.data.buffer as ArrayBuffer] : [];
    port.postMessage(reply, transfer);
  });
}
