// Starts the page's workers from the inlined worker source: a Blob URL works
// from file://, where a worker script file would be refused.

import type { PreviewReply, PreviewRequest, WorkReply, WorkRequest } from "./protocol.ts";

declare const __WORKER_SOURCE__: string;

let workerUrl: string | null = null;

function startWorker(): Worker {
  workerUrl ??= URL.createObjectURL(new Blob([__WORKER_SOURCE__], { type: "text/javascript" }));
  return new Worker(workerUrl);
}

type Listener = (reply: WorkReply) => void;

// The work worker: one job at a time. Cancel terminates it, since the core
// works synchronously, and starts a fresh one, ready for the next job.
export class WorkRunner {
  private worker = this.start();
  private job = 0;
  private listener: Listener | null = null;

  run(request: WorkRequestBody, listener: Listener, transfer: Transferable[] = []): void {
    this.cancel();
    this.job += 1;
    this.listener = listener;
    this.worker.postMessage({ ...request, job: this.job } as WorkRequest, transfer);
  }

  get busy(): boolean {
    return this.listener !== null;
  }

  // Stops whatever runs; the next job gets a new worker.
  cancel(): void {
    if (this.listener === null) return;
    this.listener = null;
    this.worker.terminate();
    this.worker = this.start();
  }

  private start(): Worker {
    const worker = startWorker();
    worker.onmessage = (event: MessageEvent<WorkReply>) => this.receive(event.data);
    worker.onerror = (event) => {
      event.preventDefault();
      this.receive({ type: "failed", job: this.job, message: event.message || "the worker stopped" });
    };
    return worker;
  }

  private receive(reply: WorkReply): void {
    if (reply.job !== this.job || this.listener === null) return;
    const listener = this.listener;
    if (reply.type !== "progress" && reply.type !== "checked") this.listener = null;
    listener(reply);
  }
}

// Each kind of request without the job number, which the runner assigns.
type WithoutJob<T> = T extends unknown ? Omit<T, "job"> : never;
export type WorkRequestBody = WithoutJob<WorkRequest>;

export class PreviewWorker {
  private worker = startWorker();
  private handlers = new Set<(reply: PreviewReply) => void>();

  constructor() {
    this.worker.onmessage = (event: MessageEvent<PreviewReply>) => {
      for (const handler of this.handlers) handler(event.data);
    };
  }

  listen(handler: (reply: PreviewReply) => void): void {
    this.handlers.add(handler);
  }

  send(request: PreviewRequest, transfer: Transferable[] = []): void {
    this.worker.postMessage(request, transfer);
  }
}
