// Making an animation: the inputs and options, the work in the worker, the
// findings, the previews and the download.

import type { MakeOptions } from "../core/make.ts";
import { baseName, byId, formatBytes, saveBytes } from "./dom.ts";
import type { Findings, ReportText } from "./findings.ts";
import type { BrowserView, PlayerView } from "./previews.ts";
import type { WorkInputs, WorkReply } from "./protocol.ts";
import type { StatusCard } from "./status.ts";
import type { WorkRunner } from "./workers.ts";

export type ExtraKind = "wave" | "midi" | "icon";
const EXTRA_EMPTY: Record<ExtraKind, string> = { wave: "none", midi: "none", icon: "the player's" };

export interface MakeViews {
  browser: BrowserView;
  asIs: PlayerView;
  packed: PlayerView;
}

// "#rrggbb" as [r, g, b].
export function parseHexColour(text: string): [number, number, number] {
  const value = Number.parseInt(text.slice(1), 16);
  return [value >> 16 & 255, value >> 8 & 255, value & 255];
}

// The colour a GIF's background entry names, from its first bytes, or
// white when it names none: what flattening puts where the page shows
// through, unless the author picks a colour.
export function gifBackdrop(head: Uint8Array): string {
  const flags = head[10] ?? 0;
  const index = head[11] ?? 0;
  const entries = flags & 0x80 ? 2 << (flags & 7) : 0;
  const at = 13 + 3 * index;
  if (index >= entries || head.length < at + 3) return "rgb(255, 255, 255)";
  return `rgb(${head[at]}, ${head[at + 1]}, ${head[at + 2]})`;
}

export class MakeMode {
  private gif: File | null = null;
  private extras: Partial<Record<ExtraKind, File>> = {};
  // The last finished run for the inputs as they are, to show again when
  // the author comes back from opening an animation.
  private result: { exe: Uint8Array; name: string; check: ReportText; make: ReportText; status: string } | null = null;
  private check: ReportText | null = null;
  private pending: ReturnType<typeof setTimeout> | undefined;
  private busyTimer: ReturnType<typeof setTimeout> | undefined;
  private active = true;

  constructor(private player: Uint8Array, private runner: WorkRunner, private status: StatusCard,
              private findings: Findings, private views: MakeViews) {
    for (const id of ["opt-as-is", "opt-browser-timing", "opt-dither", "opt-keep-truncated"]) {
      byId(id).addEventListener("change", () => this.schedule(0));
    }
    byId("background-colour").addEventListener("change", () => this.backgroundChanged());
    byId("opt-background").addEventListener("change", () => {
      byId<HTMLInputElement>("background-colour").disabled = !this.checked("opt-background");
      this.backgroundChanged();
    });
    byId("description").addEventListener("input", () => this.schedule(600));
    byId<HTMLInputElement>("gif-input").addEventListener("change", (event) => this.chooseGif(event));
    for (const kind of ["wave", "midi", "icon"] as ExtraKind[]) {
      const input = byId<HTMLInputElement>(`${kind}-input`);
      input.addEventListener("change", () => {
        if (input.files?.[0]) this.setExtra(kind, input.files[0]);
        input.value = "";
      });
      byId(`${kind}-clear`).addEventListener("click", () => this.clearExtra(kind));
    }
  }

  options(): MakeOptions {
    return {
      asIs: this.checked("opt-as-is"),
      browserTiming: this.checked("opt-browser-timing"),
      background: this.checked("opt-background") ? parseHexColour(byId<HTMLInputElement>("background-colour").value) : null,
      dither: this.checked("opt-dither"),
      keepTruncated: this.checked("opt-keep-truncated"),
    };
  }

  setGif(file: File): void {
    this.gif = file;
    byId("gif-name").textContent = file.name;
    byId("gif-meta").textContent = `${formatBytes(file.size)} · choose or drop another to replace`;
    byId("gif-drop").classList.add("loaded");
    this.showInputs();
    this.schedule(0);
  }

  setExtra(kind: ExtraKind, file: File): void {
    this.extras[kind] = file;
    const name = byId(`${kind}-name`);
    name.textContent = `${file.name} · ${formatBytes(file.size)}`;
    name.classList.add("set");
    byId(`${kind}-clear`).hidden = false;
    this.schedule(0);
  }

  clearExtra(kind: ExtraKind): void {
    delete this.extras[kind];
    const name = byId(`${kind}-name`);
    name.textContent = EXTRA_EMPTY[kind];
    name.classList.remove("set");
    byId(`${kind}-clear`).hidden = true;
    byId<HTMLInputElement>(`${kind}-input`).focus();
    this.schedule(0);
  }

  // Back to the front: the previews, and the last result when it is still
  // that of the inputs, else the work again.
  enter(): void {
    this.active = true;
    this.views.packed.hold(false);
    this.showInputs();
    const result = this.result;
    if (!result) {
      this.schedule(0);
      return;
    }
    this.findings.showCheck(result.check);
    this.findings.addMake(result.make);
    this.status.set("done", result.status);
    this.status.offer(`Download ${result.name}`);
  }

  // To the back: work that runs is cancelled, and done again on return.
  leave(): void {
    this.active = false;
    clearTimeout(this.pending);
    if (this.runner.busy) this.runner.cancel();
    this.setBusy(false);
    this.views.packed.hold(true);
  }

  private showInputs(): void {
    if (!this.gif) {
      for (const view of Object.values(this.views)) view.empty("No GIF yet");
      this.findings.quiet("What the player would show differently from a browser, and what will be packed, appear here.");
      this.status.set("idle", "Choose a GIF to begin.");
      this.status.offer(null);
      return;
    }
    this.views.browser.show(this.gif, `${this.gif.name} as this browser shows it`);
    this.views.asIs.load(this.gif);
    void this.showBackdrop();
  }

  private async showBackdrop(): Promise<void> {
    const gif = this.gif;
    if (!gif) return;
    const chosen = this.checked("opt-background") ? byId<HTMLInputElement>("background-colour").value : null;
    const colour = chosen ?? gifBackdrop(new Uint8Array(await gif.slice(0, 13 + 768).arrayBuffer()));
    if (gif === this.gif) this.views.browser.setBackdrop(colour);
  }

  private backgroundChanged(): void {
    void this.showBackdrop();
    this.schedule(0);
  }

  // Runs make again, after `delay` ms without further changes.
  schedule(delay: number): void {
    clearTimeout(this.pending);
    this.result = null;
    if (!this.gif || !this.active) return;
    this.pending = setTimeout(() => this.run(), delay);
  }

  cancel(): void {
    if (!this.runner.busy) return;
    this.runner.cancel();
    this.setBusy(false);
    this.status.set("idle", "Cancelled. Nothing was made.");
    this.status.retry.hidden = false;
    this.views.packed.empty("Cancelled");
  }

  download(): void {
    if (this.result) saveBytes(this.result.exe, this.result.name);
  }

  run(): void {
    if (!this.gif || !this.active) return;
    const gif = this.gif;
    this.result = null;
    this.check = null;
    this.status.offer(null);
    this.status.refuse(null);
    this.status.retry.hidden = true;
    this.status.set("working", `Working on ${gif.name}…`);
    this.views.packed.empty("Waiting for the work to finish…");
    this.findings.quiet(`Checking ${gif.name}…`);
    this.setBusy(true);
    const inputs: WorkInputs = { gif, ...this.extras };
    // As typed, as the command line takes it; only blank means none.
    const description = byId<HTMLInputElement>("description").value;
    if (description.trim()) inputs.description = description;
    this.runner.run({ type: "make", player: this.player.slice(), inputs, options: this.options() },
      (reply) => this.receive(reply, gif.name));
  }

  // The previews hold still while work of more than a moment runs: on a
  // machine with few cores their animation would slow the work down.
  private setBusy(busy: boolean): void {
    clearTimeout(this.busyTimer);
    const apply = (on: boolean) => {
      byId("views").classList.toggle("busy", on);
      this.views.asIs.hold(on);
      this.views.packed.hold(on);
    };
    if (busy) this.busyTimer = setTimeout(() => apply(true), 300);
    else apply(false);
  }

  private receive(reply: WorkReply, gifName: string): void {
    if (reply.type !== "progress" && reply.type !== "checked") this.setBusy(false);
    switch (reply.type) {
      case "progress":
        this.status.showProgress(reply.stage, reply.done, reply.total);
        break;
      case "checked":
        this.check = reply;
        this.findings.showCheck(reply);
        break;
      case "made": {
        this.findings.addMake(reply);
        const name = `${baseName(gifName)}.exe`;
        const shared = reply.packedGif.buffer === reply.exe.buffer;
        this.views.packed.load(shared ? reply.packedGif.slice() : reply.packedGif, true);
        const seconds = reply.seconds.toFixed(reply.seconds < 1 ? 2 : 1);
        const status = `Ready: ${formatBytes(reply.exe.length)}, made in ${seconds} s.`;
        this.result = { exe: reply.exe, name, check: this.check!, make: reply, status };
        this.status.set("done", status);
        this.status.offer(`Download ${name}`);
        break;
      }
      case "refused":
      case "failed":
        this.refused(reply.message, reply.type === "failed");
        break;
      default:
        break;
    }
  }

  private refused(message: string, fault: boolean): void {
    if (this.findings.waiting) this.findings.quiet("Nothing to report: the work stopped (see the message above).");
    this.status.set("refused", fault ? "Stopped by a fault." : "Not made: see the message.");
    this.status.refuse(fault ? `animpack failed unexpectedly: ${message}` : message,
      fault ? "Fault." : "Not made.");
    this.views.packed.empty("Nothing will be packed.");
  }

  private checked(id: string): boolean {
    return byId<HTMLInputElement>(id).checked;
  }

  private chooseGif(event: Event): void {
    const input = event.target as HTMLInputElement;
    if (input.files?.[0]) this.setGif(input.files[0]);
    input.value = "";
  }
}
