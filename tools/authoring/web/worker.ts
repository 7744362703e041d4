// The page's worker: makes animations and opens them (the work worker), and
// renders the player's pictures on demand (the preview worker). The core is
// synchronous; Cancel terminates the worker.

import { Refusal } from "../core/errors.ts";
import type { Progress } from "../core/gif_types.ts";
import { throttled } from "../core/progress.ts";
import { listSections, makeAnimation, type MakeInputs, type NamedBytes } from "../core/make.ts";
import type { PreviewRequest, WorkInputs, WorkReply, WorkRequest } from "./protocol.ts";
import { PreviewRenderer } from "./render.ts";

const scope = self as unknown as DedicatedWorkerGlobalScope;

function post(reply: WorkReply, transfer: Transferable[] = []): void {
  scope.postMessage(reply, transfer);
}

function progressFor(job: number): Progress {
  return throttled((stage, done, total) => post({ type: "progress", job, stage, done, total }));
}

async function named(file: Blob & { name: string }): Promise<NamedBytes> {
  return { name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) };
}

async function readInputs(inputs: WorkInputs, player: Uint8Array): Promise<MakeInputs> {
  const read: MakeInputs = { player: { name: "player.exe", bytes: player }, gif: await named(inputs.gif) };
  for (const kind of ["wave", "midi", "icon"] as const) {
    const file = inputs[kind];
    if (file) read[kind] = await named(file);
  }
  if (inputs.description !== undefined) read.description = inputs.description;
  return read;
}

async function make(request: Extract<WorkRequest, { type: "make" }>): Promise<void> {
  const { job, options } = request;
  const inputs = await readInputs(request.inputs, request.player);
  const progress = progressFor(job);
  const started = performance.now();
  // One reading of the GIF gives both check's findings and the animation.
  const made = makeAnimation(inputs, options, progress);
  const seconds = (performance.now() - started) / 1000;
  post({ type: "checked", job, lines: made.check.lines, warnings: made.check.warnings });
  const { exe, packedGif } = made;
  post({ type: "made", job, lines: made.lines, warnings: made.warnings, exe, packedGif, seconds },
    exe.buffer === packedGif.buffer ? [exe.buffer] : [exe.buffer, packedGif.buffer]);
}

async function open(request: Extract<WorkRequest, { type: "open" }>): Promise<void> {
  const listing = listSections(await named(request.file));
  post({ type: "opened", job: request.job, lines: listing.lines, warnings: listing.warnings, sections: listing.sections });
}

async function work(request: WorkRequest): Promise<void> {
  try {
    if (request.type === "make") await make(request);
    else await open(request);
  } catch (error) {
    const message = error instanceof Error ? error.message : String(error);
    post({ type: error instanceof Refusal ? "refused" : "failed", job: request.job, message });
    if (!(error instanceof Refusal)) console.error(error);
  }
}

const renderer = new PreviewRenderer((reply, transfer) => scope.postMessage(reply, transfer));

scope.onmessage = (event: MessageEvent<WorkRequest | PreviewRequest>) => {
  const request = event.data;
  if (request.type === "make" || request.type === "open") void work(request);
  else void renderer.handle(request);
};
