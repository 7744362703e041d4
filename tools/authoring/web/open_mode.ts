// Opening an animation: the sections the player finds, a preview of its GIF
// and its payloads to save.

import { baseName, byId, element, formatBytes, saveBytes } from "./dom.ts";
import type { Findings } from "./findings.ts";
import type { BrowserView, PlayerView } from "./previews.ts";
import type { SectionRow, WorkReply } from "./protocol.ts";
import type { StatusCard } from "./status.ts";
import type { WorkRunner } from "./workers.ts";

// The names `animpack extract` writes.
export const SAVE_NAMES: Record<string, { name: string; type: string }> = {
  gif: { name: "animation.gif", type: "image/gif" },
  wave: { name: "sound.wav", type: "audio/wav" },
  midi: { name: "song.mid", type: "audio/midi" },
};

export class OpenMode {
  private file: File | null = null;
  private result: { sections: SectionRow[]; lines: string[]; warnings: string[] } | null = null;
  private active = false;

  constructor(private runner: WorkRunner, private status: StatusCard, private findings: Findings,
              private views: { browser: BrowserView; asIs: PlayerView }) {
    byId<HTMLInputElement>("exe-input").addEventListener("change", (event) => {
      const input = event.target as HTMLInputElement;
      if (input.files?.[0]) this.setFile(input.files[0]);
      input.value = "";
    });
  }

  setFile(file: File): void {
    this.file = file;
    this.result = null;
    byId("exe-name").textContent = file.name;
    byId("exe-meta").textContent = formatBytes(file.size);
    byId("exe-drop").classList.add("loaded");
    this.run();
  }

  cancel(): void {
    if (!this.runner.busy) return;
    this.runner.cancel();
    this.status.set("idle", "Cancelled.");
  }

  leave(): void {
    this.active = false;
    if (this.runner.busy) this.runner.cancel();
  }

  // Puts this mode's state back on the page.
  enter(): void {
    this.active = true;
    this.status.offer(null);
    this.status.retry.hidden = true;
    this.status.refuse(null);
    if (!this.file) {
      this.views.browser.empty("No animation yet");
      this.views.asIs.empty("No animation yet");
      this.findings.quiet("The sections of an animation and a summary of its GIF appear here.");
      this.status.set("idle", "Choose an animation .exe to look inside.");
      byId("sections").hidden = true;
      return;
    }
    if (this.result) this.present(this.result);
    else this.run();
  }

  private run(): void {
    if (!this.file || !this.active) return;
    const file = this.file;
    this.status.refuse(null);
    this.status.set("working", `Reading ${file.name}…`);
    this.runner.run({ type: "open", file }, (reply) => this.receive(reply));
  }

  private receive(reply: WorkReply): void {
    if (reply.type === "progress") this.status.showProgress(reply.stage, reply.done, reply.total);
    else if (reply.type === "opened") {
      this.result = reply;
      this.present(reply);
    } else if (reply.type === "refused" || reply.type === "failed") {
      byId("sections").hidden = true;
      this.views.browser.empty("Nothing to show");
      this.views.asIs.empty("Nothing to show");
      this.findings.quiet("Nothing to report: see the message above.");
      this.status.set("refused", "Cannot open it: see the message.");
      this.status.refuse(reply.message, reply.type === "failed" ? "Fault." : "Cannot open.");
    }
  }

  private present(result: { sections: SectionRow[]; lines: string[]; warnings: string[] }): void {
    const count = result.sections.length;
    this.status.set("done", `${this.file!.name}: ${count === 1 ? "1 section" : `${count} sections`} the player finds.`);
    this.findings.showSections(result);
    const rows = result.sections.map((section) => this.row(section));
    byId("section-rows").replaceChildren(...rows);
    byId("sections").hidden = false;
    const gif = result.sections.find((section) => section.kind === "gif" && section.payload);
    if (gif?.payload) {
      this.views.browser.show(gif.payload, "The animation's GIF as this browser shows it");
      this.views.asIs.load(gif.payload.slice(), true);
    } else {
      this.views.browser.empty("The animation holds no GIF the player can use.");
      this.views.asIs.empty("The player shows nothing.");
    }
  }

  private row(section: SectionRow): HTMLTableRowElement {
    const label = element("td", {}, section.kind.toUpperCase());
    if (section.note) label.append(element("span", { class: "note" }, section.note));
    const save = element("td");
    if (section.payload) {
      const target = SAVE_NAMES[section.kind];
      const payload = section.payload;
      const stem = baseName(this.file?.name ?? "animation");
      const button = element("button", { class: "button small", "data-save": section.kind,
        "aria-label": `Save the ${section.kind.toUpperCase()} as ${target.name}` }, "Save");
      button.addEventListener("click", () => saveBytes(payload, `${stem}-${target.name}`, target.type));
      save.append(button);
    }
    return element("tr", {}, label,
      element("td", { class: "number" }, section.offset.toLocaleString("en")),
      element("td", { class: "number" }, section.length.toLocaleString("en")), save);
  }
}
