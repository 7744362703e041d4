// The action card (what is going on, the progress bar, Cancel, Try again,
// the download button) and the refusal banner.

import { byId } from "./dom.ts";

const STAGE_WORDS: Record<string, string> = {
  checking: "Checking",
  decoding: "Decoding",
  composing: "Compositing",
  compositing: "Compositing",
  flattening: "Flattening",
  palette: "Building the palette",
  quantising: "Reducing colours",
  writing: "Writing",
  encoding: "Encoding",
};

export function stageWords(stage: string): string {
  return STAGE_WORDS[stage] ?? stage.charAt(0).toUpperCase() + stage.slice(1);
}

export type StatusKind = "idle" | "working" | "done" | "refused";

export class StatusCard {
  private box = byId("status");
  private text = byId("status-text");
  private progress = byId("progress");
  private fill = byId("progress-fill");
  private label = byId("progress-label");
  private bar = this.progress.querySelector(".bar") as HTMLElement;
  readonly cancel = byId<HTMLButtonElement>("cancel");
  readonly retry = byId<HTMLButtonElement>("retry");
  readonly download = byId<HTMLButtonElement>("download");
  private refusal = byId("refusal");
  private refusalText = byId("refusal-text");

  set(kind: StatusKind, message: string): void {
    this.box.className = `status ${kind}`;
    this.text.textContent = message;
    const working = kind === "working";
    this.progress.hidden = !working;
    this.cancel.hidden = !working;
    if (working) this.showProgress("", 0, 0);
  }

  showProgress(stage: string, done: number, total: number): void {
    const share = total > 0 ? Math.min(1, done / total) : 0;
    this.fill.style.width = `${(share * 100).toFixed(1)}%`;
    this.bar.setAttribute("aria-valuenow", String(Math.round(share * 100)));
    this.label.textContent = stage ? `${stageWords(stage)} ${done}/${total}` : "Starting…";
  }

  // The download button, or none when `label` is null.
  offer(label: string | null): void {
    this.download.disabled = label === null;
    this.download.textContent = label ?? "Download animation";
    this.download.title = label ?? "";
  }

  refuse(message: string | null, heading = "Not made."): void {
    this.refusal.hidden = message === null;
    (this.refusal.firstElementChild as HTMLElement).textContent = heading;
    this.refusalText.textContent = message ?? "";
  }
}
